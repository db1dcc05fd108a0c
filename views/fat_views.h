// The FAT copy views: one FAT copy as a table of 16 entries a row, in
// hexadecimal, decoded on demand by FormatCell from the copy held in
// pane.sectorBuffer. Nothing is interpreted.
#pragma once
#include "views/view_context.h"

// packet is the FAT node's: startSector is the copy's first sector and
// sectorCount its size in sectors.
void ShowFat12Table(ViewContext& ctx, const DrivePacket& packet);
void ShowFat16Table(ViewContext& ctx, const DrivePacket& packet);
void ShowFat32Table(ViewContext& ctx, const DrivePacket& packet);

// The directory listings: the fixed root directory of a FAT12/16 volume and any
// folder (the FAT32 root included), one row per entry with deleted entries
// marked; and the cell texts of those rows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "disk/dir_entry.h"
#include "disk/directory_extent.h"
#include "views/view_context.h"

// Lists the root directory's sectors (packet.startSector, sectorCount). The
// extent is held to what a root can be (4096 sectors) and to the volume; a
// cut or unreadable extent is reported and what was read is listed.
void ShowRootDirectory(ViewContext& ctx, const DrivePacket& packet);
// Loads the folder's cluster chain through the FAT and lists it. At most
// 65536 entries' worth of clusters are loaded, and the chain is cut at a
// cluster outside the volume; either is reported as a partial load.
void ShowSubDirectory(ViewContext& ctx, const DrivePacket& packet);
// Lists the entries held in page.sectorBuffer (packet.sectorCount sectors, and
// never more than the buffer holds).
void ListDirectoryEntries(ViewContext& ctx, const DrivePacket& packet);
// The text of one cell of a directory row, UTF-8: the short name through code
// page 437, a long name cut to kDisplayTextMax bytes on a character boundary,
// and "??" for a month outside 1-12.
std::string FormatDirectoryCell(const ViewPage& page, const DirectoryRow& row, int column);

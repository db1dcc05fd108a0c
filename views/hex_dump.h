// The three hexadecimal dumps of the page: a sector dump of an extent
// (one sector a page), and the cluster dumps of a file and of a folder (one
// cluster a page, following the item's cluster chain).
#pragma once
#include <cstdint>

#include "views/view_context.h"

// The sector dump of packet's extent, from its first sector.
void ShowSectorDump(ViewContext& ctx, const DrivePacket& packet);
// Reads the sector at page.pageIndex of packet's extent (an item whose
// startSector is 0 is read at its own address) and lists its 32 rows. False,
// with the message shown and no rows, when the sector cannot be read.
[[nodiscard]] bool ReadDumpSector(ViewContext& ctx, const DrivePacket& packet);

// The cluster dumps of a file node and of a folder node, from the first
// cluster of the node's chain.
void ShowFileClusterDump(ViewContext& ctx, const DrivePacket& packet);
void ShowFolderClusterDump(ViewContext& ctx, const DrivePacket& packet);

// Reads cluster into page.sectorBuffer (page.sectorsPerPage sectors) and puts
// "Current Cluster Number: ..., Current Sector Number: ..." in the second
// page. False when the read failed or the cluster lies outside the volume;
// the buffer then holds what could be read.
[[nodiscard]] bool ReadClusterPage(ViewContext& ctx, const DrivePacket& packet, uint32_t cluster);


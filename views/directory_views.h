// The directory listings: the fixed root directory of a FAT12/16 volume and any
// folder (the FAT32 root included), one row per entry with deleted entries
// marked; and the cell texts of those rows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "views/view_context.h"

// Lists the root directory's sectors (packet.startSector, sectorCount). The
// extent is held to what a root can be (4096 sectors) and to the volume; a
// cut or unreadable extent is reported and what was read is listed.
void ShowRootDirectory(ViewContext& ctx, const DrivePacket& packet);
// Loads the folder's cluster chain through the FAT and lists it. At most
// 65536 entries' worth of clusters are loaded, and the chain is cut at a
// cluster outside the volume; either is reported as a partial load.
void ShowSubDirectory(ViewContext& ctx, const DrivePacket& packet);
// Lists the entries held in pane.sectorBuffer (packet.sectorCount sectors, and
// never more than the buffer holds).
void ListDirectoryEntries(ViewContext& ctx, const DrivePacket& packet);
// What the listings make of one 32-byte entry: a row, nothing (a long-name
// piece; in a folder, its "." and ".." entries), or the end of the listing.
// Undelete and rename find a row's entry by the same rule.
enum class ListedEntry { Skip, Row, End };
ListedEntry ClassifyListedEntry(std::span<const uint8_t> entry, bool skipDotEntries);
// The byte offset in dir of the entry the listing made row `row` (counted
// from 0); nullopt when the listing of dir has fewer rows.
std::optional<size_t> ListedEntryOffset(std::span<const uint8_t> dir, size_t row,
                                        bool skipDotEntries);
// The sectors of a root extent that the listing reads: no more than a root
// can hold and the volume has from the extent's start.
uint32_t ListedRootSectors(const DrivePacket& root);
// How many clusters of a folder chain of chainLength the listing loads: no
// more than a folder's 65536 entries fill.
uint32_t FolderClusterLimit(const DrivePacket& folder, uint32_t chainLength);
// How many clusters from the front of a folder's cluster list lie inside the
// volume; the listing cuts the chain at the first that does not.
uint32_t ClustersInsideVolume(const DrivePacket& folder, std::span<const uint32_t> clusters);

// The text of one cell of a directory row, UTF-8: the short name through code
// page 437, a long name cut to kDisplayTextMax bytes on a character boundary,
// and "??" for a month outside 1-12.
std::string FormatDirectoryCell(const ListPaneState& pane, const DirectoryRow& row, int column);

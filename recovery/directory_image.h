// The directory of a root-directory or folder listing, loaded again for a
// change to one of its entries: its bytes into the pane's sectorBuffer and, for
// a folder, its clusters into clusterChain. The extent, the clusters and the
// rule that maps a row to its entry are the listing's own, so a change lands
// on the entry the row shows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "views/view_context.h"

inline constexpr const char* kRootDirNotAccessible = "Root Directory not fully accessible!";
inline constexpr const char* kRootDirNoBuffer =
    "Fatal Error!  Not able to allocate a buffer of memory for root dir!";
inline constexpr const char* kFatEntriesNoBuffer =
    "Fatal Error!  Not able to allocate a buffer for FAT Entries!";
inline constexpr const char* kSubDirNotLoaded = "Not able to fully load the sub-directory";
inline constexpr const char* kSubDirNotWritten = "Not able to fully write the sub-directory";

// The directory a listing shows: the selected node and which kind it is.
struct ListedDirectory {
  DrivePacket node;
  bool root = false;  // the fixed root of a FAT12/16 volume; else a folder's chain
};

// The listing on show: a root-directory view of a root node or a folder view
// of a folder node (the selected packet); nullopt for anything else.
std::optional<ListedDirectory> DirectoryOnShow(const ListPaneState& pane);

// The record list row `row` shows; nullptr when there is none.
const DirectoryRow* RowRecord(const ListPaneState& pane, size_t row);

enum class DirectoryLoad { Loaded, NoChain, NoMemory };

// Releases the pane's sectorBuffer and clusterChain and loads the directory
// into fresh ones; a folder's chain is taken from fat (a FAT image of the
// node's width). A read that fails is reported and what was read stays
// loaded. NoChain: a folder whose first cluster starts no chain (nothing
// said). NoMemory: reported, and both buffers are left empty.
DirectoryLoad LoadDirectoryImage(ViewContext& ctx, const ListedDirectory& dir,
                                 std::span<const uint8_t> fat);

// The byte offset in the loaded directory of the entry that list row `row`
// shows, when that entry still holds the row's attributes, first cluster and
// size; nullopt when the directory has no such row or the entry has changed
// (or was not read) since the listing.
std::optional<size_t> RowEntryOffset(const ListPaneState& pane, const ListedDirectory& dir,
                                     size_t row);

// Writes the one sector of the loaded directory that holds the entry at
// offset back to its place, and no other: a sector that failed to read holds
// filler, not the disk's bytes. A failure is reported ("Root Directory not
// fully accessible!" or "Not able to fully write the sub-directory").
bool WriteEntrySector(ViewContext& ctx, const ListedDirectory& dir, size_t offset);

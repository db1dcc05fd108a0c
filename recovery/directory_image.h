// The directory of a root-directory or folder listing, loaded again for a
// change to one of its entries (undelete, rename). The extent, the clusters
// and the rule that maps a row to its entry are the listing's own (the one
// loader of disk/directory_loader.h), so a change lands on the entry the row
// shows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "disk/directory_loader.h"
#include "disk/prompt_port.h"
#include "views/view_context.h"

inline constexpr const char* kRootDirNotAccessible = "Root Directory not fully accessible!";
inline constexpr const char* kRootDirNoBuffer =
    "Fatal Error!  Not able to allocate a buffer of memory for root dir!";
inline constexpr const char* kFatEntriesNoBuffer =
    "Fatal Error!  Not able to allocate a buffer for FAT Entries!";
inline constexpr const char* kSubDirNotLoaded = "Not able to fully load the sub-directory";
inline constexpr const char* kSubDirNotWritten = "Not able to fully write the sub-directory";

// The directory a listing shows: its node and which kind it is.
struct ListedDirectory {
  DrivePacket node;
  bool root = false;  // the fixed root of a FAT12/16 volume; else a folder's chain
};

// One row of a listing a command acts on: its number (from 0) and the record
// the listing made of its entry.
struct ListedRow {
  size_t row = 0;
  DirectoryRow record;
};

// The listing on show: a root-directory view of a root node or a folder view
// of a folder node (node: the one selected in the tree); nullopt for anything
// else.
std::optional<ListedDirectory> DirectoryOnShow(const ViewPage& pane, const DrivePacket& node);

// The record list row `row` shows; nullptr when there is none.
const DirectoryRow* RowRecord(const ViewPage& pane, size_t row);

// The rows (row numbers, as selected) that have a record, ascending and each
// once.
std::vector<ListedRow> SelectedListedRows(const ViewPage& pane, std::span<const int> selected);

// Loads the directory for a change; a folder's chain is taken from fat (a
// FAT image of the node's width). What fails is reported: a read that fails
// (what was read stays loaded), no memory (nothing loaded). A folder whose
// first cluster starts no chain is NoChain, and nothing is said.
[[nodiscard]] DirectoryImage LoadListedDirectory(DiskAccess& access, MemoryBudget budget,
                                                 PromptPort& prompt, const ListedDirectory& dir,
                                                 std::span<const uint8_t> fat);
// The same with a folder's chain read through the FAT cache (the sectors it
// lies in only); fat.Status() then says whether the chain could be read.
[[nodiscard]] DirectoryImage LoadListedDirectory(DiskAccess& access, MemoryBudget budget,
                                                 PromptPort& prompt, const ListedDirectory& dir,
                                                 FatReader& fat);

// The byte offset in the loaded directory of the entry that row shows, when
// that entry still holds the row's attributes, first cluster and size and its
// sector was read; nullopt when the directory has no such row or the entry
// has changed (or was not read) since the listing.
std::optional<size_t> RowEntryOffset(const DirectoryImage& image, const ListedDirectory& dir,
                                     const ListedRow& row);

// Writes the one sector of the loaded directory that holds the entry at
// offset back to its place, and no other: a sector that failed to read holds
// filler, not the disk's bytes. A failure is reported ("Root Directory not
// fully accessible!" or "Not able to fully write the sub-directory").
[[nodiscard]] bool WriteEntrySector(DiskAccess& access, PromptPort& prompt,
                                    const ListedDirectory& dir, const DirectoryImage& image,
                                    size_t offset);

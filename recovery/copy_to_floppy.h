// Copy File to Floppy: the first selected row of the directory listing on
// show is copied onto the floppy in the first floppy drive, steering around
// the floppy's bad sectors. The floppy's data area is written from its start
// in blocks of 20 sectors, each read, written and read again; a block that
// fails is done sector by sector, and every sector that fails becomes a bad
// cluster. Then a new FAT12 (the file's chain and the bad marks) goes to both
// FAT copies and a root directory holding only the file to every root sector.
// The floppy's earlier contents are given up.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "views/view_context.h"


inline constexpr const char* kCopyFloppyQuestion =
    "The floppy's files will be replaced by this file. Continue?";
inline constexpr const char* kCtfNoFatBuffer = "Fatal Error!  Not able to allocate FAT buffer!";
inline constexpr const char* kCtfFatUnreadable = "FAT not accessible!";
inline constexpr const char* kCtfNoListBuffer =
    "Fatal Error!  Not able to allocate a buffer for FAT Entries!";
inline constexpr const char* kCtfNoFileBuffer = "Fatal Error!  Not able to allocate a file buffer!";
inline constexpr const char* kCtfClusterUnreadable = "Cluster not accessible!";
inline constexpr const char* kCtfNoBootBuffer =
    "Fatal Error!  Not able to allocate a Buffer for boot record!";
inline constexpr const char* kCtfBootUnreadable = "Boot Record not accessible!";
inline constexpr const char* kCtfNoFloppyFat =
    "Fatal Error! Not able to allocate a buffer for floppy FAT!";
inline constexpr const char* kCtfNoBlockBuffer =
    "Fatal Error! Not able to allocate a buffer for temporary buffer!";
inline constexpr const char* kCtfBothFatsBad = "Both FATs on the floppy have bad sectors. Quitting!";
inline constexpr const char* kCtfFloppyFull = "Insufficient disk space.  Too many bad clusters";
inline constexpr const char* kCtfFat1NotWritten = "Error writing FAT 1";
inline constexpr const char* kCtfFat2NotWritten = "Error writing FAT 2";
inline constexpr const char* kCtfRootNotWritten = "Error writing Root directory";
inline constexpr const char* kCtfNotFat12Floppy =
    "The floppy is not a 12-bit FAT disk of one sector per cluster and two FATs: nothing was "
    "copied!";
inline constexpr const char* kCtfFolderRow = "A folder cannot be copied to a floppy!";

// Blocks of the data area written at once.
inline constexpr uint32_t kCopyBlockSectors = 20;

struct CopyToFloppyResult {
  bool floppyWritten = false;   // the data pass ran (the floppy was changed)
  uint32_t firstCluster = 0;    // of the new chain (0: empty)
  uint32_t chainClusters = 0;   // clusters chained for the file
  uint32_t size = 0;            // the size the root entry got
  bool full = false;            // the floppy ran out before the file did
  std::vector<uint32_t> badClusters;  // marked 0xFF7, ascending
  uint32_t failedWrites = 0;    // FAT copies and root directory that failed
  // Clusters of the source file that could not be read: the copy holds
  // zeros there, so it is not the file.
  std::vector<uint32_t> unreadableClusters;
  // The floppy holds the whole file as it was read.
  bool Whole() const {
    return floppyWritten && !full && failedWrites == 0 && unreadableClusters.empty();
  }
};

// Copies the first of rows (row numbers, as selected) of the root-directory
// or folder listing of node on show onto floppy 0. Does nothing without such a
// listing or a selected row, and ends silently for an empty file. A folder
// row is refused; a deleted file is copied as Undelete would chain it
// (consecutive free clusters from its start cluster for its size), without a
// write to its volume. Nothing is written to a floppy that is not a 12-bit
// FAT of one sector per cluster and two FATs.
[[nodiscard]] CopyToFloppyResult CopyToFloppy(ViewContext& ctx, const DrivePacket& node,
                                              std::span<const int> rows);

// One FAT copy held in memory for a recovery command: read from FAT 1, or
// from FAT 2 when FAT 1 fails, changed in memory, and written back to every
// copy the command keeps in step.
#pragma once
#include <cstdint>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/fat_copy.h"
#include "disk/memory_budget.h"

inline constexpr const char* kFatsUnreadable = "FATs cannot be read successfully!";
inline constexpr const char* kFat1NotWritten = "FAT 1 cannot be written successfully!";
inline constexpr const char* kFat2NotWritten = "FAT 2 cannot be written successfully!";
// What a recovery command says when its working memory cannot be had.
inline constexpr const char* kRecoveryNoBuffer = "Fatal Error!  Not able to allocate a buffer!";

struct FatImage {
  std::vector<uint8_t> table;  // one copy, sectorsPerFat sectors, as on disk
  // Whether the volume has a FAT 2 right after FAT 1. Only then are the
  // sectors after FAT 1 read or written as a FAT: on a one-FAT volume they
  // hold the root directory or data.
  bool secondCopy = false;
  // A 32-bit FAT volume's FSInfo sector (0: none), whose free-cluster count
  // is kept true when clusters are taken.
  uint32_t fsInfoSector = 0;
  // Free clusters the command has put into chains.
  uint32_t clustersTaken = 0;
};

using FatImageLoad = FatCopyLoad;  // Loaded, Unreadable, NoMemory

// Reads the image (memory within the budget). Which copies there are
// comes from the volume's boot record, read through node (any node below a
// volume carries the volume's address): a second FAT counts only when the
// record's count and layout agree with the packet's (reserved sectors, the
// FATs and the fixed root end where the data area starts); a record that
// cannot be read or does not agree counts as one FAT. The table is the whole
// copy, checked as LoadFatCopy checks it; Unreadable also without a cluster
// size.
[[nodiscard]] FatImageLoad LoadFatImage(DiskAccess& access, MemoryBudget budget,
                                        const DrivePacket& node, FatImage& image);

// What reached the disk of one WriteFatImage.
struct FatImageWrite {
  bool fat1 = false;   // FAT 1 written
  bool fat2 = true;    // FAT 2 written, or the volume has none
  bool fsInfo = true;  // the FSInfo free count kept, or nothing to keep
  bool AllWritten() const { return fat1 && fat2 && fsInfo; }
};

// Writes the image to FAT 1 and, when there is one, FAT 2; a copy that fails
// is reported and the other is still written. When FAT 1 was written, the
// FSInfo free count (when the volume keeps one) then loses clustersTaken.
[[nodiscard]] FatImageWrite WriteFatImage(DiskAccess& access, PromptPort& prompt,
                                          const DrivePacket& node, const FatImage& image);

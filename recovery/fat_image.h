// One FAT copy held in memory for a recovery command: read from FAT 1, or
// from FAT 2 when FAT 1 fails, changed in memory, and written back to every
// copy the volume has.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/fat_copy.h"
#include "disk/memory_budget.h"

inline constexpr const char* kFatsUnreadable = "FATs cannot be read successfully!";
inline constexpr const char* kFat1NotWritten = "FAT 1 cannot be written successfully!";
inline constexpr const char* kFat2NotWritten = "FAT 2 cannot be written successfully!";
// The same words for any copy: "FAT 3 cannot be written successfully!".
std::string FatNotWrittenText(uint32_t copy);
// What a recovery command says when its working memory cannot be had.
inline constexpr const char* kRecoveryNoBuffer = "Fatal Error!  Not able to allocate a buffer!";

struct FatImage {
  std::vector<uint8_t> table;  // one copy, sectorsPerFat sectors, as on disk
  // The copies the volume has, one after another from FAT 1. Only these
  // are read or written as a FAT: on a one-FAT volume the sectors after FAT 1
  // hold the root directory or data.
  uint32_t copies = 1;
  // A 32-bit FAT volume's FSInfo sector (0: none), whose free-cluster count
  // is kept true when clusters are taken.
  uint32_t fsInfoSector = 0;
  // Free clusters the command has put into chains.
  uint32_t clustersTaken = 0;
  // Per table sector: FAT 1 gave it at the load (else FAT 2 stood in, or
  // neither copy could be read: the write gives FAT 1 such a sector anew).
  std::vector<bool> fromFat1;
  // The sectors the command changed, as they were loaded, kept at their
  // first change: the write compares with them and reads no FAT again.
  std::map<uint32_t, std::array<uint8_t, kSectorSize>> loaded;

  // SetFatEntry on table, the entry's sectors kept in loaded first. A
  // command changes table only through this.
  [[nodiscard]] bool Set(uint32_t cluster, FatWidth width, uint32_t value);
};

using FatImageLoad = FatCopyLoad;  // Loaded, Unreadable, NoMemory

// Reads the image (memory within the budget). Which copies there are
// comes from the volume's boot record, read through node (any node below a
// volume carries the volume's address): its FAT count holds only when the
// record's layout agrees with the packet's (reserved sectors, the FATs and
// the fixed root end where the data area starts) and each copy lies inside
// the volume; a record that cannot be read or does not agree counts as one
// FAT. The table is the whole
// copy, checked as LoadFatCopy checks it; Unreadable also without a cluster
// size.
[[nodiscard]] FatImageLoad LoadFatImage(DiskAccess& access, MemoryBudget budget,
                                        const DrivePacket& node, FatImage& image);

// What reached the disk of one WriteFatImage.
struct FatImageWrite {
  bool fat1 = false;       // FAT 1 written
  uint32_t failed = 0;     // copies not written (FAT 1 among them)
  bool fsInfo = true;      // the FSInfo free count kept, or nothing to keep
  bool AllWritten() const { return fat1 && failed == 0 && fsInfo; }
};

// Writes the image to every copy, only the sectors whose bytes differ from
// FAT 1 as the disk holds it (or that it will not give back); a copy that fails is reported ("FAT 1
// cannot be written successfully!", ...) and the others are still written.
// When FAT 1 was written, the FSInfo free count (when the volume keeps one)
// then loses clustersTaken.
[[nodiscard]] FatImageWrite WriteFatImage(DiskAccess& access, PromptPort& prompt,
                                          const DrivePacket& node, const FatImage& image);

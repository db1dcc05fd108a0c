// One FAT copy of a volume held in memory for a walk over its chains: FAT 1
// at reservedSectors, or FAT 2 right after it when FAT 1 cannot be read. Its
// size comes from the boot record, so it is checked against the volume before
// any memory is taken: a damaged record gives the caller's own message, never
// a huge allocation.
#pragma once
#include <cstdint>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/memory_budget.h"

enum class FatCopyLoad { Loaded, NoMemory, Unreadable };

struct FatCopyRule {
  // Whether FAT 2 may stand in for an unreadable FAT 1. A caller that knows
  // the volume has one FAT says no (a packet whose fatCount is 1 says it
  // too): the sectors after FAT 1 then hold the root directory or data.
  bool secondCopy = true;
  // Only the sectors that can hold entries of the volume (UsableFatSectors)
  // instead of all sectorsPerFat: a link past them leaves the volume, so a
  // walk that must never follow one loads no more.
  bool usableSectorsOnly = false;
};

// The sectors of copy (0: FAT 1, 1: FAT 2) of volume's FAT, all sectorsPerFat
// of them; startSector is not checked (see FatCopyInsideVolume).
DrivePacket FatCopyPacket(const DrivePacket& volume, uint32_t copy);

// Whether copy lies inside the volume: it has sectors, and it ends within
// 32-bit sector numbers and, when the volume's size is known, within
// totalSectors.
bool FatCopyInsideVolume(const DrivePacket& volume, uint32_t copy);

// Whether FAT 2 may stand in for FAT 1 under rule: the rule allows it, the
// boot record does not say the volume has one FAT (on such a volume the
// sectors after FAT 1 hold the root directory or data), and it lies inside
// the volume.
bool SecondCopyServes(const DrivePacket& volume, FatCopyRule rule);

// The sectors of a copy that can hold entries of the volume: no more than its
// clusters (as totalSectors bounds them, when it and the cluster size are
// known) and its width can number, and no more than sectorsPerFat. 0 for an
// unknown width.
uint32_t UsableFatSectors(const DrivePacket& volume);

// Extents of more than this many sectors whose size comes from a boot record
// are tried on their last sector before their memory is taken: a damaged
// record may claim a FAT far larger than the disk.
inline constexpr uint32_t kProbeAboveSectors = 128;
// Whether the last sector of extent (startSector, sectorCount >= 1) reads.
[[nodiscard]] bool LastSectorReads(DiskAccess& access, const DrivePacket& extent);

// Loads node's volume's FAT into table, FAT 1's sectors where they read and
// FAT 2's at the same places where they do not (ReadFatSectors); table.size()
// is then the bytes loaded. Unreadable, with nothing read, when the FAT makes
// no sense: an unknown width, no sectors, or FAT 1 outside the volume;
// Unreadable too when a table of more than 128 sectors has a last sector that
// reads in neither copy (a size larger than the disk, refused before its
// memory is taken), and when any sector reads in neither copy. NoMemory when
// the bytes are over the budget or cannot be had. FAT 2 stands in only when
// the rule allows it and it lies inside the volume.
// A table that already holds at least the bytes (the views size the pane's
// buffer for the FAT) is used in place; any other is released before the
// copy's memory is taken, so a FAT is never held twice. table is empty after
// a failure. fromFat1, when given, gets a flag per sector loaded: true where
// FAT 1's own sector was read.
[[nodiscard]] FatCopyLoad LoadFatCopy(DiskAccess& access, MemoryBudget budget,
                                      const DrivePacket& node, std::vector<uint8_t>& table,
                                      FatCopyRule rule = {}, std::vector<bool>* fromFat1 = nullptr);

// One volume's FAT as the chain walks read it: sector by sector, when first
// needed, through the access's FAT cache, FAT 2's sector standing in where
// FAT 1's cannot be read (when the rule allows and FAT 2 lies inside the
// volume). No table is held: a reader costs one sector. The first sector it
// cannot have is kept in Status(), and every entry of such a sector reads as
// outside the table.
class FatReader {
 public:
  // Unreadable from the start, with nothing read, when the FAT makes no
  // sense: an unknown width, no sectors, or FAT 1 outside the volume.
  // NoMemory from the start when not even one sector fits the budget; the
  // cache keeps no more sectors than the budget holds.
  FatReader(DiskAccess& access, MemoryBudget budget, const DrivePacket& volume,
            FatCopyRule rule = {});

  FatCopyLoad Status() const { return status_; }
  FatWidth Width() const { return volume_.fatType; }
  // Bytes of the copy the reader serves.
  uint64_t Bytes() const { return uint64_t{sectors_} * kSectorSize; }

  // Copies n bytes from byte `at` of the copy; false past its end and when a
  // sector they lie in cannot be had (Status() then says why).
  [[nodiscard]] bool Get(uint64_t at, uint8_t* out, size_t n);

 private:
  bool Hold(uint32_t sector);

  DiskAccess& access_;
  uint64_t memoryLimit_;
  DrivePacket volume_;
  uint32_t sectors_ = 0;
  bool secondCopy_ = false;
  FatCopyLoad status_ = FatCopyLoad::Loaded;
  // The sector last copied out of the cache: a walk reads many entries of one.
  uint8_t held_[kSectorSize] = {};
  int64_t heldIndex_ = -1;
};

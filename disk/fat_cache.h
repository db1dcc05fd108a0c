// FAT sectors read on demand and kept for every later reader. On a real disk
// every read is a seek and a large volume's FAT runs to a gigabyte, while a
// tree or a listing needs the few sectors its chains lie in: those are read
// when first needed, once, and kept (least recently used leave first) within
// the memory a reader may take. Every write that reaches a kept sector drops
// it, so no reader ever sees a sector older than the disk; Refresh empties
// the cache.
#pragma once
#include <array>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "disk/drive_packet.h"

class DiskAccess;

// Copies `count` sectors of `volume`'s FAT 1 from sector `index` into out,
// read in runs and kept nowhere: a reader of the whole table (the scan, a
// FAT image for a write) must not push every other reader's sectors out of
// the cache, and the table it fills is its own. A run that fails is gone over
// one sector at a time, FAT 2's sector at the same index standing in where
// FAT 1's cannot be read and secondCopy allows, as for a cached sector. False
// when a sector reads in neither copy (its bytes are then 0xE5, the rest is
// read). The caller has checked the sectors against the copy's size.
// fromFat1, when given, gets count flags: true where FAT 1's own sector was
// read.
[[nodiscard]] bool ReadFatSectors(DiskAccess& access, const DrivePacket& volume, uint32_t index,
                                  uint32_t count, bool secondCopy, uint8_t* out,
                                  std::vector<bool>* fromFat1 = nullptr);

// The kept FAT sectors of every volume of one DiskAccess (owned by it). Safe
// to use from a worker thread and the window at once.
class FatCache {
 public:
  // Copies sector `index` of `volume`'s FAT 1 into out: the kept bytes, or
  // read now and kept among at most memoryLimit / 512 sectors (at least one).
  // Where FAT 1's sector cannot be read and secondCopy allows, FAT 2's sector
  // at the same index stands in. False when neither reads (nothing kept).
  // The caller has checked index against the copy's size.
  [[nodiscard]] bool Read(DiskAccess& access, const DrivePacket& volume, uint32_t index, bool secondCopy,
            uint64_t memoryLimit, uint8_t* out);

  // Drops every kept sector a transfer of `count` sectors from absolute
  // sector `first` of `drive` reaches (as FAT 1's or as the FAT 2 sector that
  // stood in for it).
  void Forget(uint16_t drive, uint64_t first, uint64_t count);
  // Drops everything (Refresh, a new drive listing).
  void Clear();
  // Sectors kept now.
  size_t Size() const;

 private:
  // (drive, absolute sector of the FAT 1 sector)
  using Key = std::pair<uint16_t, uint64_t>;
  struct Kept {
    std::array<uint8_t, kSectorSize> bytes{};
    uint64_t source = 0;  // absolute sector the bytes came from
    std::list<Key>::iterator use;
  };
  void Drop(std::map<Key, Kept>::iterator at);

  mutable std::mutex mutex_;
  std::map<Key, Kept> kept_;
  std::list<Key> uses_;            // most recently used first
  std::set<Key> fromSecondCopy_;   // keys whose bytes came from FAT 2
  // Counts Forget and Clear: bytes read while it moved may predate a write
  // and are handed out but not kept.
  uint64_t generation_ = 0;
};

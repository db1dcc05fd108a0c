#include "disk/fat_cache.h"

#include <algorithm>
#include <cstring>

#include "disk/disk_access.h"
#include "disk/sector_access.h"

namespace {

// The one sector at absolute place `sector` of the packet's drive.
bool ReadOne(DiskAccess& access, const DrivePacket& volume, uint64_t sector, uint8_t* out) {
  if (sector < volume.partitionStart || sector - volume.partitionStart > UINT32_MAX) return false;
  DrivePacket one = volume;
  one.startSector = static_cast<uint32_t>(sector - volume.partitionStart);
  one.sectorCount = 1;
  return ReadSectors(access, one, out);
}

// FAT 1's sector `first` (absolute), or FAT 2's at the same index where it
// cannot be read and secondCopy allows: the absolute sector the bytes came
// from in source; false when neither reads.
bool ReadWithStandIn(DiskAccess& access, const DrivePacket& volume, uint64_t first,
                     bool secondCopy, uint8_t* out, uint64_t& source) {
  source = first;
  if (ReadOne(access, volume, first, out)) return true;
  source = first + volume.sectorsPerFat;
  return secondCopy && ReadOne(access, volume, source, out);
}

// Sectors a whole-table read moves at once: large enough that the seeks
// between runs cost nothing, small enough that a run with one bad sector in
// it is gone over quickly.
constexpr uint32_t kRunSectors = 2048;

}  // namespace

bool ReadFatSectors(DiskAccess& access, const DrivePacket& volume, uint32_t index, uint32_t count,
                    bool secondCopy, uint8_t* out, std::vector<bool>* fromFat1) {
  bool all = true;
  if (fromFat1 != nullptr) fromFat1->assign(count, true);
  const uint64_t base = uint64_t{volume.partitionStart} + volume.reservedSectors;
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(kRunSectors, count - done);
    uint8_t* place = out + uint64_t{done} * kSectorSize;
    DrivePacket run = volume;
    run.startSector = static_cast<uint32_t>(uint64_t{volume.reservedSectors} + index + done);
    run.sectorCount = n;
    if (!ReadSectors(access, run, place)) {
      // The transfer may have stopped at the failed chunk: every sector again.
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t* one = place + uint64_t{i} * kSectorSize;
        uint64_t source = 0;
        const uint64_t own = base + index + done + i;
        const bool read = ReadWithStandIn(access, volume, own, secondCopy, one, source);
        if (fromFat1 != nullptr) (*fromFat1)[done + i] = read && source == own;
        if (!read) {
          std::memset(one, 0xE5, kSectorSize);
          all = false;
        }
      }
    }
    done += n;
  }
  return all;
}

bool FatCache::Read(DiskAccess& access, const DrivePacket& volume, uint32_t index,
                    bool secondCopy, uint64_t memoryLimit, uint8_t* out) {
  const uint64_t first = uint64_t{volume.partitionStart} + volume.reservedSectors + index;
  const Key key{volume.drive, first};
  uint64_t generation = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto at = kept_.find(key);
    // Bytes that came from FAT 2 serve only a reader that lets FAT 2 stand in.
    if (at != kept_.end() && (secondCopy || at->second.source == first)) {
      uses_.splice(uses_.begin(), uses_, at->second.use);
      std::memcpy(out, at->second.bytes.data(), kSectorSize);
      return true;
    }
    generation = generation_;
  }

  // Read without the lock: a slow disk must not hold up other readers.
  uint64_t source = first;
  if (!ReadWithStandIn(access, volume, first, secondCopy, out, source)) return false;

  const std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return true;  // a write came between: not kept
  const size_t capacity = std::max<uint64_t>(memoryLimit / kSectorSize, 1);
  if (const auto old = kept_.find(key); old != kept_.end()) Drop(old);
  while (!kept_.empty() && kept_.size() >= capacity) Drop(kept_.find(uses_.back()));
  uses_.push_front(key);
  Kept& kept = kept_[key];
  std::memcpy(kept.bytes.data(), out, kSectorSize);
  kept.source = source;
  kept.use = uses_.begin();
  if (source != first) fromSecondCopy_.insert(key);
  return true;
}

void FatCache::Drop(std::map<Key, Kept>::iterator at) {
  uses_.erase(at->second.use);
  fromSecondCopy_.erase(at->first);
  kept_.erase(at);
}

void FatCache::Forget(uint16_t drive, uint64_t first, uint64_t count) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++generation_;
  if (count == 0 || kept_.empty()) return;
  const uint64_t end = first + count < first ? UINT64_MAX : first + count;
  auto at = kept_.lower_bound(Key{drive, first});
  while (at != kept_.end() && at->first.first == drive && at->first.second < end) {
    const auto next = std::next(at);
    Drop(at);
    at = next;
  }
  // FAT 2 sectors standing in for FAT 1's are few: only where FAT 1 failed.
  for (auto k = fromSecondCopy_.begin(); k != fromSecondCopy_.end();) {
    const auto kept = kept_.find(*k);
    ++k;
    if (kept != kept_.end() && kept->first.first == drive && kept->second.source >= first &&
        kept->second.source < end)
      Drop(kept);
  }
}

void FatCache::Clear() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++generation_;
  kept_.clear();
  uses_.clear();
  fromSecondCopy_.clear();
}

size_t FatCache::Size() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return kept_.size();
}

#include "disk/guarded_device.h"

#include <algorithm>
#include <vector>

namespace {
constexpr uint64_t kSector = 512;
}

size_t GuardedDevice::Reach(uint64_t offset, size_t len) const {
  if (map_ == nullptr) return len;
  const uint64_t run = map_->FinishedRun(offset, len);
  if (run == len) return len;
  // The sector the run stops in fails whole: a part of it was not rescued.
  const uint64_t end = (offset + run) / kSector * kSector;
  return end > offset ? static_cast<size_t>(end - offset) : 0;
}

int64_t GuardedDevice::ReadAt(uint64_t offset, uint8_t* buffer, size_t len) {
  const size_t reach = Reach(offset, len);
  if (reach == 0 && len != 0) return -1;
  return inner_->ReadAt(offset, buffer, reach);
}

int64_t GuardedDevice::WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) {
  const size_t reach = Reach(offset, len);
  if (reach == 0 && len != 0) return -1;
  const uint64_t size = inner_->Size();
  if (journal_ != nullptr && inner_->IsOpen() && inner_->Writable() && offset < size && reach != 0) {
    // The whole sectors the write touches, as far as the drive reaches.
    const uint64_t end = offset + std::min<uint64_t>(reach, size - offset);
    const uint64_t first = offset / kSector;
    const uint64_t stop = std::min(size, (end + kSector - 1) / kSector * kSector);
    std::vector<uint8_t> old(static_cast<size_t>(stop - first * kSector));
    // A sector whose bytes cannot be read first could not be put back.
    if (inner_->ReadAt(first * kSector, old.data(), old.size()) != static_cast<int64_t>(old.size()))
      return -1;
    std::vector<uint8_t> fresh = old;
    std::copy(buffer, buffer + (end - offset), fresh.begin() + static_cast<std::ptrdiff_t>(offset - first * kSector));
    if (!journal_->Record(size, first, old, fresh)) return -1;
  }
  return inner_->WriteAt(offset, buffer, reach);
}

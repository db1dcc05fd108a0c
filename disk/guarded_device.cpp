#include "disk/guarded_device.h"

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
  return inner_->WriteAt(offset, buffer, reach);
}

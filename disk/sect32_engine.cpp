#include "disk/sect32_engine.h"

#include <cstdint>

Sect32Engine::Sect32Engine(DeviceMap& map) : map_(map) {
  for (uint32_t d = 0; d < 0x100; ++d) {
    Device* dev = map_.Find(static_cast<uint16_t>(d));
    if (dev != nullptr && !dev->IsOpen() && !dev->Open()) allOpen_ = false;
  }
}

Sect32Engine::~Sect32Engine() { map_.CloseAll(); }

Device* Sect32Engine::Drive(uint32_t drive) const {
  if (drive > 0xFF) return nullptr;
  Device* dev = map_.Find(static_cast<uint16_t>(drive));
  return dev != nullptr && dev->IsOpen() ? dev : nullptr;
}

bool Sect32Engine::Address(const Geometry& g, uint32_t cylinder, uint32_t head, uint32_t sector,
                           uint64_t lba, uint32_t ext, uint64_t& out) {
  if (ext != 0) {
    out = lba;
    return true;
  }
  const uint32_t c = (cylinder & 0xFF) | ((sector & 0xC0) << 2);
  const uint32_t s = sector & 0x3F;
  if (g.heads == 0 || g.sectorsPerTrack == 0) return false;
  if (s == 0 || s > g.sectorsPerTrack || head >= g.heads || cylinder > 0xFF) return false;
  out = (uint64_t{c} * g.heads + head) * g.sectorsPerTrack + (s - 1);
  return true;
}

uint32_t Sect32Engine::ReadSect32(uint32_t drive, uint32_t cylinder, uint32_t head,
                                  uint32_t sector, uint32_t count, void* buffer, uint32_t lba,
                                  uint32_t ext) {
  return ReadSect64(drive, cylinder, head, sector, count, buffer, lba, ext);
}

uint32_t Sect32Engine::WriteSect32(uint32_t drive, uint32_t cylinder, uint32_t head,
                                   uint32_t sector, uint32_t count, const void* buffer,
                                   uint32_t lba, uint32_t ext) {
  return WriteSect64(drive, cylinder, head, sector, count, buffer, lba, ext);
}

uint32_t Sect32Engine::ReadSect64(uint32_t drive, uint32_t cylinder, uint32_t head,
                                  uint32_t sector, uint32_t count, void* buffer, uint64_t lba,
                                  uint32_t ext) {
  Device* dev = Drive(drive);
  uint64_t abs = 0;
  if (dev == nullptr || buffer == nullptr ||
      !Address(dev->geometry, cylinder, head, sector, lba, ext, abs))
    return 0;
  // A byte offset past 64 bits is no place on any disk: refused, not wrapped.
  if (abs > UINT64_MAX / 512 - count) return 0;
  const uint64_t len = uint64_t{count} * 512;
  const int64_t moved = dev->ReadAt(abs * 512, static_cast<uint8_t*>(buffer), len);
  return moved >= 0 && static_cast<uint64_t>(moved) == len ? 1 : 0;
}

uint32_t Sect32Engine::WriteSect64(uint32_t drive, uint32_t cylinder, uint32_t head,
                                   uint32_t sector, uint32_t count, const void* buffer,
                                   uint64_t lba, uint32_t ext) {
  Device* dev = Drive(drive);
  uint64_t abs = 0;
  if (dev == nullptr || buffer == nullptr ||
      !Address(dev->geometry, cylinder, head, sector, lba, ext, abs))
    return 0;
  // A byte offset past 64 bits is no place on any disk: refused, not wrapped.
  if (abs > UINT64_MAX / 512 - count) return 0;
  const uint64_t len = uint64_t{count} * 512;
  const int64_t moved = dev->WriteAt(abs * 512, static_cast<const uint8_t*>(buffer), len);
  return moved >= 0 && static_cast<uint64_t>(moved) == len ? 1 : 0;
}

uint32_t Sect32Engine::CheckInt13Extension32(uint32_t drive) {
  // Hard disks are addressed by LBA; floppies only ever by CHS.
  return drive >= 0x80 && Drive(drive) != nullptr ? 1 : 0;
}

uint32_t Sect32Engine::FloppyCount() { return map_.FloppyCount(); }

bool Sect32Engine::DriveGeometry(uint32_t drive, Geometry& out) {
  Device* dev = drive <= 0xFF ? map_.Find(static_cast<uint16_t>(drive)) : nullptr;
  if (dev == nullptr) return false;
  out = dev->geometry;
  return true;
}

void Sect32Engine::StartUndoFile(uint32_t drive) {
  if (drive <= UINT16_MAX) map_.StartUndoFile(static_cast<uint16_t>(drive));
}

uint64_t Sect32Engine::DriveBytes(uint32_t drive) {
  const Device* dev = Drive(drive);
  return dev != nullptr ? dev->Size() : 0;
}

bool Sect32Engine::ParallelReads(uint32_t drive) {
  const Device* dev = Drive(drive);
  return dev != nullptr && dev->ParallelReads();
}

// libsect32.so: the sector library's C entry points over one Sect32Engine.
// The program hands over its drive map with Sect32OpenDrives before any
// transfer; until then every transfer fails.
#include <memory>
#include <mutex>

#include "disk/drive_map.h"
#include "disk/sect32_engine.h"

namespace {

// The engine and the drive map it works over live together; a transfer holds
// its own reference for the length of the call, so an open that replaces the
// map while a transfer runs frees the old one only when that transfer ends.
struct Drives {
  DeviceMap map;
  std::unique_ptr<Sect32Engine> engine;
};

std::mutex gMutex;  // guards gDrives while the drives are (re)opened
std::shared_ptr<Drives> gDrives;

std::shared_ptr<Drives> Current() {
  std::lock_guard lock(gMutex);
  return gDrives;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) uint32_t Sect32OpenDrives(const char* mapText) {
  DriveMapConfig config;
  if (mapText == nullptr || !DriveMapConfig::Deserialize(mapText, config)) return 0;
  auto drives = std::make_shared<Drives>();
  drives->map = BuildDeviceMap(config);
  drives->engine = std::make_unique<Sect32Engine>(drives->map);
  const bool allOpen = drives->engine->AllOpen();
  std::shared_ptr<Drives> old;
  {
    std::lock_guard lock(gMutex);
    old = std::move(gDrives);
    gDrives = std::move(drives);
  }
  return allOpen ? 1 : 0;
}

__attribute__((visibility("default"))) uint32_t Sect32FloppyCount() {
  const std::shared_ptr<Drives> d = Current();
  return d != nullptr ? d->engine->FloppyCount() : 0;
}

__attribute__((visibility("default"))) uint32_t ReadSect32(uint32_t drive, uint32_t cylinder,
                                                           uint32_t head, uint32_t sector,
                                                           uint32_t count, void* buffer,
                                                           uint32_t lba, uint32_t ext) {
  const std::shared_ptr<Drives> d = Current();
  return d != nullptr
             ? d->engine->ReadSect32(drive, cylinder, head, sector, count, buffer, lba, ext)
             : 0;
}

__attribute__((visibility("default"))) uint32_t WriteSect32(uint32_t drive, uint32_t cylinder,
                                                            uint32_t head, uint32_t sector,
                                                            uint32_t count, const void* buffer,
                                                            uint32_t lba, uint32_t ext) {
  const std::shared_ptr<Drives> d = Current();
  return d != nullptr
             ? d->engine->WriteSect32(drive, cylinder, head, sector, count, buffer, lba, ext)
             : 0;
}

// The same transfers by a 64-bit LBA, for sectors past 2^32.
__attribute__((visibility("default"))) uint32_t ReadSect64(uint32_t drive, uint32_t cylinder,
                                                           uint32_t head, uint32_t sector,
                                                           uint32_t count, void* buffer,
                                                           uint64_t lba, uint32_t ext) {
  const std::shared_ptr<Drives> d = Current();
  return d != nullptr
             ? d->engine->ReadSect64(drive, cylinder, head, sector, count, buffer, lba, ext)
             : 0;
}

__attribute__((visibility("default"))) uint32_t WriteSect64(uint32_t drive, uint32_t cylinder,
                                                            uint32_t head, uint32_t sector,
                                                            uint32_t count, const void* buffer,
                                                            uint64_t lba, uint32_t ext) {
  const std::shared_ptr<Drives> d = Current();
  return d != nullptr
             ? d->engine->WriteSect64(drive, cylinder, head, sector, count, buffer, lba, ext)
             : 0;
}

__attribute__((visibility("default"))) uint32_t CheckInt13Extension32(uint32_t drive) {
  const std::shared_ptr<Drives> d = Current();
  return d != nullptr ? d->engine->CheckInt13Extension32(drive) : 0;
}

__attribute__((visibility("default"))) uint32_t Sect32DriveGeometry(uint32_t drive,
                                                                    uint32_t* cylinders,
                                                                    uint32_t* heads,
                                                                    uint32_t* sectorsPerTrack) {
  const std::shared_ptr<Drives> d = Current();
  Geometry g;
  if (d == nullptr || !d->engine->DriveGeometry(drive, g)) return 0;
  if (cylinders != nullptr) *cylinders = g.cylinders;
  if (heads != nullptr) *heads = g.heads;
  if (sectorsPerTrack != nullptr) *sectorsPerTrack = g.sectorsPerTrack;
  return 1;
}

// The drive's next write starts an undo file of its own.
__attribute__((visibility("default"))) void Sect32StartUndoFile(uint32_t drive) {
  const std::shared_ptr<Drives> d = Current();
  if (d != nullptr) d->engine->StartUndoFile(drive);
}

// Whether the drive's reads may be made from several threads at once.
__attribute__((visibility("default"))) uint32_t Sect32ParallelReads(uint32_t drive) {
  const std::shared_ptr<Drives> d = Current();
  return d != nullptr && d->engine->ParallelReads(drive) ? 1 : 0;
}

}  // extern "C"

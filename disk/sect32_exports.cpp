// libsect32.so: the sector library's C entry points over one Sect32Engine.
// The program hands over its drive map with Sect32OpenDrives before any
// transfer; until then every transfer fails.
#include <memory>
#include <mutex>

#include "disk/drive_map.h"
#include "disk/sect32_engine.h"

namespace {
std::mutex gMutex;  // guards the map and engine while the drives are (re)opened
DeviceMap gMap;
std::unique_ptr<Sect32Engine> gEngine;

Sect32Engine* Engine() {
  std::lock_guard lock(gMutex);
  return gEngine.get();
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) uint32_t Sect32OpenDrives(const char* mapText) {
  DriveMapConfig config;
  if (mapText == nullptr || !DriveMapConfig::Deserialize(mapText, config)) return 0;
  std::lock_guard lock(gMutex);
  gEngine.reset();
  gMap = BuildDeviceMap(config);
  gEngine = std::make_unique<Sect32Engine>(gMap);
  return gEngine->AllOpen() ? 1 : 0;
}

__attribute__((visibility("default"))) uint32_t Sect32FloppyCount() {
  Sect32Engine* e = Engine();
  return e != nullptr ? e->FloppyCount() : 0;
}

__attribute__((visibility("default"))) uint32_t ReadSect32(uint32_t drive, uint32_t cylinder,
                                                           uint32_t head, uint32_t sector,
                                                           uint32_t count, void* buffer,
                                                           uint32_t lba, uint32_t ext) {
  Sect32Engine* e = Engine();
  return e != nullptr ? e->ReadSect32(drive, cylinder, head, sector, count, buffer, lba, ext) : 0;
}

__attribute__((visibility("default"))) uint32_t WriteSect32(uint32_t drive, uint32_t cylinder,
                                                            uint32_t head, uint32_t sector,
                                                            uint32_t count, const void* buffer,
                                                            uint32_t lba, uint32_t ext) {
  Sect32Engine* e = Engine();
  return e != nullptr ? e->WriteSect32(drive, cylinder, head, sector, count, buffer, lba, ext)
                      : 0;
}

__attribute__((visibility("default"))) uint32_t CheckInt13Extension32(uint32_t drive) {
  Sect32Engine* e = Engine();
  return e != nullptr ? e->CheckInt13Extension32(drive) : 0;
}

__attribute__((visibility("default"))) uint32_t Sect32DriveGeometry(uint32_t drive,
                                                                    uint32_t* cylinders,
                                                                    uint32_t* heads,
                                                                    uint32_t* sectorsPerTrack) {
  Sect32Engine* e = Engine();
  Geometry g;
  if (e == nullptr || !e->DriveGeometry(drive, g)) return 0;
  if (cylinders != nullptr) *cylinders = g.cylinders;
  if (heads != nullptr) *heads = g.heads;
  if (sectorsPerTrack != nullptr) *sectorsPerTrack = g.sectorsPerTrack;
  return 1;
}

}  // extern "C"

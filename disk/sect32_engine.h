// The working of the sector library over a DeviceMap: BIOS drive numbers to
// images or block devices, CHS through the drive's geometry when the
// extensions flag is 0, LBA otherwise. libsect32.so wraps one of these; tests
// use it in-process over fault devices.
#pragma once
#include "disk/drive_map.h"
#include "disk/sector_library.h"

class Sect32Engine final : public SectorLibrary {
 public:
  // The map's devices are opened here and stay open for the engine's life.
  explicit Sect32Engine(DeviceMap& map);
  ~Sect32Engine() override;

  uint32_t ReadSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                      uint32_t count, void* buffer, uint32_t lba, uint32_t ext) override;
  uint32_t WriteSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                       uint32_t count, const void* buffer, uint32_t lba, uint32_t ext) override;
  uint32_t ReadSect64(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                      uint32_t count, void* buffer, uint64_t lba, uint32_t ext) override;
  uint32_t WriteSect64(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                       uint32_t count, const void* buffer, uint64_t lba, uint32_t ext) override;
  uint32_t CheckInt13Extension32(uint32_t drive) override;
  uint32_t FloppyCount() override;
  [[nodiscard]] bool DriveGeometry(uint32_t drive, Geometry& out) override;
  uint64_t DriveBytes(uint32_t drive) override;
  void StartUndoFile(uint32_t drive) override;
  bool ParallelReads(uint32_t drive) override;

  bool AllOpen() const { return allOpen_; }

  // The absolute sector a transfer addresses, or false when the CHS triple
  // is outside the drive's geometry.
  static bool Address(const Geometry& g, uint32_t cylinder, uint32_t head, uint32_t sector,
                      uint64_t lba, uint32_t ext, uint64_t& out);

 private:
  Device* Drive(uint32_t drive) const;
  DeviceMap& map_;
  bool allOpen_ = true;
};

// The sector-library path over real image files, for the floppy tools: the
// drives are the files themselves (sparse hard disks of any size), or a
// floppy held in memory with faults placed on it.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"

struct LibraryRig : TestDrives {
  // faultyFloppy: floppy 0 is read into memory as a FaultDevice (fault).
  LibraryRig(std::vector<std::string> floppies, std::vector<std::string> disks,
             bool faultyFloppy = false)
      : TestDrives(Library) {
    DriveMapConfig config;
    config.floppies = std::move(floppies);
    config.disks = std::move(disks);
    AddFiles(config);
    if (faultyFloppy && !config.floppies.empty()) fault = AddFile(0, config.floppies[0]);
    Bind();
  }

  FaultDevice* fault = nullptr;
};

// 512 bytes of a file at a sector.
inline std::vector<uint8_t> SectorOf(const std::string& path, uint64_t sector) {
  std::vector<uint8_t> bytes(512);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(sector * 512));
  in.read(reinterpret_cast<char*>(bytes.data()), 512);
  return bytes;
}

// The six critical sectors of the sample disk, in the order a backup saves
// them: MBR, FAT16 boot, EBR 1, FAT32 boot, EBR 2, FAT12 boot.
inline std::vector<uint64_t> SampleCriticalSectors(const SampleDisk& d) {
  const std::vector<uint8_t> ebr1 = SectorOf(d.image, d.extendedStart);
  const uint64_t ebr2 = d.extendedStart + le32(ebr1, 0x1BE + 16 + 8);
  return {0, d.fat16Start, d.extendedStart, d.fat32Start, ebr2, d.fat12Start};
}

// A new zero-filled (sparse) file of `bytes` bytes.
inline bool MakeBlankFile(const std::string& path, uint64_t bytes) {
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::error_code ec;
  std::filesystem::resize_file(path, bytes, ec);
  return !ec;
}

inline void PutSector(const std::string& path, uint64_t sector, const std::vector<uint8_t>& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(sector * 512));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

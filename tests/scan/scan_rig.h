// One FAT volume made by mkfs.fat and mtools, held on an in-memory test drive
// (as a floppy or as the first partition of a hard disk), with the
// scan's listing, a scripted port and helpers that read and damage the FATs
// and directory entries through the program's own codec.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "disk/fat_codec.h"
#include "disk/guarded_device.h"
#include "disk/undo_journal.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "fixtures/recorded_events.h"
#include "fixtures/test_drives.h"
#include "scan/disk_scan.h"
#include "disk/volume_layout.h"
#include "scan/scan_layout.h"
#include "scan/scan_volumes.h"

// Bytes that differ from sector to sector, for a file's contents.
inline std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 512);
  return v;
}

// fsck.fat -n's complaints, without the lines every run prints and those
// that no file's data depends on: lost clusters, FAT copies that differ, a
// stale free-cluster count.
inline std::vector<std::string> FsckComplaints(const std::string& report) {
  std::vector<std::string> lines;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.starts_with("fsck.fat ") || line.starts_with("Reclaimed ") ||
        line.starts_with("FATs differ") || line == "  Using first FAT." ||
        line.starts_with("Free cluster summary wrong") || line == "  Auto-correcting." ||
        line == "Leaving filesystem unchanged." || line.ends_with(" clusters"))
      continue;
    lines.push_back(line);
  }
  return lines;
}

// The three FAT widths the damage tables run on, each on a small volume.
struct FatSize {
  int bits;
  uint32_t sectors;
};
inline constexpr FatSize kFatSizes[] = {{12, 2880}, {16, 20480}, {32, 70000}};

// Every damage of a table on every width.
template <class Case, class Damage, size_t N>
std::vector<Case> AcrossWidths(const Damage (&damages)[N]) {
  std::vector<Case> cases;
  for (const Damage& d : damages)
    for (const FatSize& size : kFatSizes) cases.push_back({d, size.bits, size.sectors});
  return cases;
}

struct ScanRig : TestDrives {
  // A hard disk whose first partition (from sector 2048) holds the volume,
  // or with floppy set a floppy image that is the volume.
  ScanRig(int fatBits, uint32_t sectors, const std::string& mkfsExtra, bool floppy = false,
          Path path = Library)
      : TestDrives(path) {
    if (floppy) {
      volume = MakeFatImage(dir.File("v.img"), fatBits, sectors, mkfsExtra);
    } else {
      const std::string type = fatBits == 32 ? "c" : fatBits == 16 ? "6" : "1";
      PartitionImage(dir.File("v.img"), 2048 + sectors,
                     "start=2048, size=" + std::to_string(sectors) + ", type=" + type + "\n");
      volume = FormatPartition(dir.File("v.img"), 2048, sectors, fatBits, mkfsExtra);
      start = 2048;
    }
    this->floppy = floppy;
  }

  // Puts the image (as the tools left it) on the fault device and binds it.
  void Bind() {
    dev = AddFile(floppy ? 0 : 0x80, volume.image);
    TestDrives::Bind();
    layout = *DecodeVolume(Boot());
  }

  // The same, with every write kept in an undo journal in undoDir first,
  // as the programs keep it. The journal's file is Journal().
  void BindJournalled(const std::string& undoDir) {
    std::string why;
    EXPECT_TRUE(PrepareUndoDir(undoDir, why)) << why;
    auto fault = std::make_unique<FaultDevice>(std::move(FaultDevice::FromFile(volume.image).Bytes()));
    dev = fault.get();
    guarded = AddDevice(floppy ? 0 : 0x80,
                        std::make_unique<GuardedDevice>(std::move(fault), nullptr,
                                                        std::make_unique<UndoJournal>(undoDir, volume.image)));
    TestDrives::Bind();
    layout = *DecodeVolume(Boot());
  }
  std::string Journal() const { return guarded->Journal()->File(); }

  std::vector<uint8_t>& Bytes() { return dev->Bytes(); }
  std::span<uint8_t> Boot() { return std::span<uint8_t>(Bytes()).subspan(uint64_t{start} * 512, 512); }
  uint64_t VolumeByte(uint64_t sector) const { return (start + sector) * 512; }

  std::span<uint8_t> Fat(uint32_t copy) {
    return std::span<uint8_t>(Bytes()).subspan(
        VolumeByte(layout.reservedSectors + uint64_t{copy} * layout.sectorsPerFat),
        uint64_t{layout.sectorsPerFat} * 512);
  }
  FatEntry Entry(uint32_t cluster, uint32_t copy = 0) {
    return GetFatEntry(cluster, layout.width, Fat(copy));
  }
  // Sets an entry in every FAT copy, as a damaged but consistent volume has it.
  void SetFat(uint32_t cluster, uint32_t value) {
    for (uint32_t k = 0; k < layout.fatCount; ++k) EXPECT_TRUE(SetFatEntry(cluster, layout.width, Fat(k), value));
  }
  std::vector<uint32_t> Chain(uint32_t first) {
    std::vector<uint32_t> list(ChainLength(first, layout.width, Fat(0)));
    ListChain(first, layout.width, list, static_cast<uint32_t>(list.size()), Fat(0));
    return list;
  }
  uint64_t ClusterByte(uint32_t c) {
    return VolumeByte(layout.dataStart + uint64_t{c - 2} * layout.sectorsPerCluster);
  }
  std::vector<uint8_t> ClusterBytes(uint32_t c) {
    const uint64_t at = ClusterByte(c);
    return {Bytes().begin() + static_cast<ptrdiff_t>(at),
            Bytes().begin() + static_cast<ptrdiff_t>(at + layout.sectorsPerCluster * 512u)};
  }
  // The bytes of a file's chain, cluster after cluster.
  std::vector<uint8_t> ChainBytes(uint32_t first) {
    std::vector<uint8_t> all;
    for (const uint32_t c : Chain(first)) {
      const auto bytes = ClusterBytes(c);
      all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
  }
  // Byte offset in the image of the root entry whose 11 name bytes are name11.
  uint64_t RootEntry(const std::string& name11) {
    uint64_t from = VolumeByte(layout.rootStart), length = uint64_t{layout.rootSectors} * 512;
    if (layout.width == FatWidth::Fat32) {
      from = ClusterByte(layout.rootCluster);
      length = layout.sectorsPerCluster * 512u;
    }
    for (uint64_t at = from; at + 32 <= from + length; at += 32)
      if (std::memcmp(Bytes().data() + at, name11.data(), 11) == 0) return at;
    ADD_FAILURE() << "no root entry " << name11;
    return 0;
  }
  // Byte offset in the image of the entry named name11 in the folder cluster.
  uint64_t EntryIn(uint32_t folderCluster, const std::string& name11) {
    const uint64_t from = ClusterByte(folderCluster);
    for (uint64_t at = from; at + 32 <= from + layout.sectorsPerCluster * 512u; at += 32)
      if (std::memcmp(Bytes().data() + at, name11.data(), 11) == 0) return at;
    ADD_FAILURE() << "no entry " << name11;
    return 0;
  }
  uint32_t FirstCluster(uint64_t entryAt) {
    const std::span<const uint8_t> e(Bytes().data() + entryAt, 32);
    const uint32_t high = layout.width == FatWidth::Fat32 ? le16(e, 20) : 0;
    return (high << 16) | le16(e, 26);
  }
  // Absolute sectors of a cluster, for the fault device.
  void BadCluster(uint32_t c) {
    for (uint32_t s = 0; s < layout.sectorsPerCluster; ++s)
      dev->badReadSectors.insert(ClusterByte(c) / 512 + s);
  }

  std::vector<ScanVolumeEntry> Volumes() { return ListScanVolumes(access, prompt); }

  ScanResult Scan(ScanOptions options = {}) {
    const auto volumes = Volumes();
    EXPECT_FALSE(volumes.empty());
    if (volumes.empty()) return {};
    flags.running = true;
    DiskScan scan(access, prompt, flags, events);
    return scan.Run(volumes[0], options);
  }
  // Message and question texts of the last run, and clears them.
  std::vector<std::string> Said() {
    auto said = prompt.Messages();
    prompt.Clear();
    return said;
  }
  std::string FsckReport() {
    WriteFileBytes(volume.image, Bytes());
    std::string report;
    volume.Check(&report);
    return report;
  }

  TempDir dir;
  FatVolume volume;
  uint64_t start = 0;
  bool floppy = false;
  VolumeLayout layout;
  ScanFlags flags;
  RecordedScanEvents events;
  FaultDevice* dev = nullptr;
  GuardedDevice* guarded = nullptr;
};

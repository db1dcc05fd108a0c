// The fuzzers' disk: a sparse in-memory drive described by the input bytes,
// so that a FAT16 or FAT32 volume of megabytes costs only its few non-zero
// sectors. Input layout (all little-endian):
//   u32 total sectors of the drive (capped), u8 flags, then records of
//   u32 sector number + 512 sector bytes; a short last record is zero-padded.
// flags bit 0: the drive is floppy 0 instead of hard disk 0x80;
//       bit 1: reach it through the in-process sector library, not directly;
//       bit 2: every write fails (a read-only drive).
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "disk/device.h"
#include "fixtures/test_drives.h"

class SparseDevice final : public Device {
 public:
  SparseDevice(uint64_t sectors, bool readOnly) : size_(sectors * 512), readOnly_(readOnly) {}
  bool Open() override { return true; }
  void Close() override {}
  bool IsOpen() const override { return true; }
  int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) override;
  int64_t WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) override;
  uint64_t Size() const override { return size_; }

  std::map<uint64_t, std::vector<uint8_t>> sectors;  // non-zero sectors by number
  uint64_t bytesWritten = 0;

 private:
  uint64_t size_;
  bool readOnly_;
};

inline constexpr uint64_t kFuzzMaxSectors = uint64_t{1} << 26;  // a 32 GiB drive at most

// One fuzz input bound as a test drive on the path its flags choose.
struct FuzzDisk {
  bool floppy = false;
  bool library = false;
  bool readOnly = false;
  SparseDevice* device = nullptr;
  std::optional<TestDrives> drives;
  DiskAccess& Access() { return drives->access; }
};

// The header of an input: the drive's sectors (capped) and flags; false when
// the input is too short to describe a drive.
bool ReadSparseHeader(std::span<const uint8_t> input, uint64_t& sectors, uint8_t& flags);
// The input's sector records into device (those past its end are left out).
void FillSparseDevice(std::span<const uint8_t> input, SparseDevice& device);

// false when the input is too short to describe a drive. The drive speaks to
// port.
bool BindFuzzDisk(std::span<const uint8_t> input, PromptPort& port, FuzzDisk& disk);

// The packed form of an image file: its non-zero sectors (seed corpora).
std::vector<uint8_t> PackImage(std::span<const uint8_t> image, uint8_t flags);

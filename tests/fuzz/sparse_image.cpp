#include "sparse_image.h"

#include <algorithm>
#include <cstring>

#include "disk/le.h"

int64_t SparseDevice::ReadAt(uint64_t offset, uint8_t* buffer, size_t len) {
  if (offset >= size_) return -1;
  len = static_cast<size_t>(std::min<uint64_t>(len, size_ - offset));
  std::memset(buffer, 0, len);
  // Only the stored sectors inside the range are copied; the rest is zero.
  const uint64_t first = offset / 512, last = (offset + len + 511) / 512;
  for (auto it = sectors.lower_bound(first); it != sectors.end() && it->first < last; ++it) {
    const uint64_t at = it->first * 512;
    const uint64_t from = std::max(at, offset), to = std::min(at + 512, offset + len);
    std::memcpy(buffer + (from - offset), it->second.data() + (from - at), to - from);
  }
  return static_cast<int64_t>(len);
}

int64_t SparseDevice::WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) {
  if (readOnly_ || offset >= size_) return -1;
  len = static_cast<size_t>(std::min<uint64_t>(len, size_ - offset));
  for (uint64_t pos = offset; pos < offset + len;) {
    const uint64_t sector = pos / 512, at = sector * 512;
    const uint64_t to = std::min(at + 512, offset + len);
    auto& bytes = sectors[sector];
    bytes.resize(512);
    std::memcpy(bytes.data() + (pos - at), buffer + (pos - offset), to - pos);
    pos = to;
  }
  bytesWritten += len;
  return static_cast<int64_t>(len);
}

bool ReadSparseHeader(std::span<const uint8_t> input, uint64_t& sectors, uint8_t& flags) {
  if (input.size() < 5 + 4) return false;
  sectors = std::min<uint64_t>(le32(input, 0), kFuzzMaxSectors);
  flags = input[4];
  return sectors != 0;
}

void FillSparseDevice(std::span<const uint8_t> input, SparseDevice& device) {
  const uint64_t total = device.Size() / 512;
  for (size_t at = 5; at + 4 <= input.size(); at += 4 + 512) {
    const uint64_t sector = le32(input, at);
    if (sector >= total) continue;
    auto& bytes = device.sectors[sector];
    bytes.assign(512, 0);
    const size_t have = std::min<size_t>(512, input.size() - (at + 4));
    std::memcpy(bytes.data(), input.data() + at + 4, have);
  }
}

bool BindFuzzDisk(std::span<const uint8_t> input, PromptPort& port, FuzzDisk& disk) {
  uint64_t total = 0;
  uint8_t flags = 0;
  if (!ReadSparseHeader(input, total, flags)) return false;
  disk.floppy = flags & 1;
  disk.library = flags & 2;
  disk.readOnly = flags & 4;
  if (disk.floppy) total = std::min<uint64_t>(total, 5760);  // 2.88 MB at most
  auto device = std::make_unique<SparseDevice>(total, disk.readOnly);
  FillSparseDevice(input, *device);
  // The geometry is the drive map's, from the first sector.
  disk.drives.emplace(disk.library ? TestDrives::Library : TestDrives::Direct, port);
  disk.device = disk.drives->AddDevice(disk.floppy ? 0 : 0x80, std::move(device));
  disk.drives->Bind();
  return true;
}

std::vector<uint8_t> PackImage(std::span<const uint8_t> image, uint8_t flags) {
  std::vector<uint8_t> out(5);
  const uint64_t sectors = (image.size() + 511) / 512;
  putLe32(out, 0, static_cast<uint32_t>(std::min(sectors, kFuzzMaxSectors)));
  out[4] = flags;
  for (uint64_t s = 0; s < sectors; ++s) {
    const size_t at = static_cast<size_t>(s * 512);
    const size_t have = std::min<size_t>(512, image.size() - at);
    const auto bytes = image.subspan(at, have);
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) continue;
    const size_t rec = out.size();
    out.resize(rec + 4 + 512, 0);
    putLe32(out, rec, static_cast<uint32_t>(s));
    std::memcpy(out.data() + rec + 4, bytes.data(), have);
  }
  return out;
}

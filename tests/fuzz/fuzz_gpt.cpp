// The readers of a disk's first sectors over hostile bytes: the sector-0
// classifier, the GPT reader (both copies, any header and entry values), its
// views, and the boot record finder on sector 0 and on each GPT partition.
// The entry decoder also runs over the raw input, past the CRC that guards
// it on a disk. Nothing may crash, read outside a buffer, loop without end or allocate what
// a header merely claims.
// Input: the fuzzers' sparse form (sparse_image.h): u32 sectors, u8 flags,
// records of u32 sector + 512 bytes. Here flags bit 3 makes the disk 4096
// times larger (past 2^32 sectors), bit 4 gives it 4096-byte sectors, and a
// record numbered 0x80000000 or more counts back from the disk's end
// (0xFFFFFFFF is its last 512 bytes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "disk/backup_boot_record.h"
#include "disk/first_sector.h"
#include "disk/gpt.h"
#include "disk/le.h"
#include "views/gpt_views.h"

namespace {

constexpr size_t kMaxPartitionsProbed = 16;

struct SparseDisk {
  uint64_t bytes = 0;
  std::map<uint64_t, std::vector<uint8_t>> sectors;  // by 512-byte sector

  // size bytes from offset; false past the disk's end.
  bool Read(uint64_t offset, std::span<uint8_t> out) const {
    if (offset > bytes || out.size() > bytes - offset) return false;
    std::fill(out.begin(), out.end(), 0);
    const uint64_t first = offset / 512, end = (offset + out.size() + 511) / 512;
    for (auto it = sectors.lower_bound(first); it != sectors.end() && it->first < end; ++it) {
      const uint64_t at = it->first * 512;
      const uint64_t from = std::max(at, offset), to = std::min(at + 512, offset + out.size());
      std::memcpy(out.data() + (from - offset), it->second.data() + (from - at), to - from);
    }
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  if (size < 5) return 0;
  const uint8_t flags = input[4];
  uint64_t sectors512 = le32(input, 0);
  if ((flags & 8) != 0) sectors512 <<= 12;
  const uint32_t sectorSize = (flags & 16) != 0 ? 4096 : 512;
  SparseDisk disk;
  disk.bytes = sectors512 * 512;
  for (size_t at = 5; at + 4 <= size; at += 4 + 512) {
    const uint32_t n = le32(input, at);
    const uint64_t sector = n >= 0x80000000u ? sectors512 - (0x100000000ull - n) : n;
    if (sector >= sectors512) continue;
    auto& bytes = disk.sectors[sector];
    bytes.assign(512, 0);
    std::memcpy(bytes.data(), data + at + 4, std::min<size_t>(512, size - (at + 4)));
  }

  std::vector<uint8_t> sector0(512);
  if (!disk.Read(0, sector0)) sector0.clear();
  const FirstSectorClass first = ClassifyFirstSector(sector0, sectors512);
  (void)MbrEntriesView(sector0);

  const SectorReader read = [&](uint64_t lba, std::span<uint8_t> out) {
    return lba <= UINT64_MAX / sectorSize && disk.Read(lba * sectorSize, out);
  };
  const GptTable table = ReadGpt(disk.bytes / sectorSize, read, sectorSize);
  // The entry decoder behind the CRC that guards it: the input's bytes taken
  // as an array of entries, whatever their ranges.
  (void)GptEntriesView(GptCopy{{}, {}, {}, DecodeGptEntries(input, UINT32_MAX, 128, le32(input, 0), le32(input, 5))});
  for (const GptCopy* copy : {&table.primary, &table.backup}) {
    (void)GptHeaderView(*copy);
    (void)GptEntriesView(*copy);
  }

  // The boot record of the whole disk and of each partition, in 512-byte sectors.
  auto findAt = [&](uint64_t start) {
    const SectorReader fromStart = [&](uint64_t lba, std::span<uint8_t> out) {
      return start <= UINT64_MAX / 512 && lba <= UINT64_MAX / 512 - start && disk.Read((start + lba) * 512, out);
    };
    std::vector<uint8_t> boot(512);
    if (!fromStart(0, boot)) boot.clear();
    (void)BootRecordNote(FindBootRecord(boot, fromStart));
  };
  if (first.kind == FirstSectorKind::FatBootRecord || first.kind == FirstSectorKind::Unknown) findAt(0);
  if (const GptCopy* used = table.Used()) {
    const size_t probed = std::min(used->entries.size(), kMaxPartitionsProbed);
    for (size_t i = 0; i < probed; ++i) {
      const uint64_t lba = used->entries[i].firstLba;
      if (lba <= UINT64_MAX / (sectorSize / 512)) findAt(lba * (sectorSize / 512));
    }
  }
  return 0;
}

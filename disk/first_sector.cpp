#include "disk/first_sector.h"

#include <algorithm>

#include "disk/boot_sector.h"
#include "disk/exfat_boot.h"
#include "disk/gpt.h"
#include "disk/le.h"
#include "disk/partition_entry.h"
#include "disk/volume_layout.h"

namespace {

constexpr size_t kSignature = 510;

struct Entry {
  unsigned number;
  uint8_t type;
  uint64_t start;
  uint64_t sectors;
};

}  // namespace

bool IsFatBootRecord(std::span<const uint8_t> s, uint8_t partitionType) {
  if (s.size() < 512) return false;
  const bool jump = (s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9;
  const uint8_t media = le8(s, kBootMedia);
  const uint8_t fats = le8(s, kBootFatCount);
  return jump && (media == 0xF0 || media >= 0xF8) && (fats == 1 || fats == 2) &&
         DecodeVolume(s, partitionType).has_value();
}

bool IsExfatBootRecord(std::span<const uint8_t> s) {
  if (s.size() < 512 || !HasExfatName(s)) return false;
  // The boot sector's own fields; its region's checksum is the volume's
  // reader's to check.
  const auto problems = CheckExfatBootSector(DecodeExfatBootSector(s), 0);
  return std::none_of(problems.begin(), problems.end(), [](ExfatBootProblem p) { return IsFatal(p); });
}

FirstSectorClass ClassifyFirstSector(std::span<const uint8_t> s, uint64_t diskSectors) {
  FirstSectorClass c;
  if (s.size() < 512) return c;
  c.signature = s[kSignature] == 0x55 && s[kSignature + 1] == 0xAA;
  c.fatBootRecord = IsFatBootRecord(s);
  c.exfatBootRecord = IsExfatBootRecord(s);

  std::vector<Entry> used;
  bool protective = false, other = false;
  for (unsigned i = 0; i < kPartitionEntries; ++i) {
    const size_t e = PartitionEntryOffset(i);
    const uint8_t flag = le8(s, e + kPartBootFlag);
    if (flag != 0x00 && flag != 0x80) c.tableFaults.push_back({i + 1, MbrFault::BadBootIndicator});
    const uint8_t type = le8(s, e + kPartType);
    if (type == 0) continue;
    const Entry entry{i + 1, type, le32(s, e + kPartStartLba), le32(s, e + kPartSectors)};
    (type == kGptProtectiveType ? protective : other) = true;
    if (entry.start == 0) c.tableFaults.push_back({entry.number, MbrFault::StartsAtZero});
    if (entry.sectors == 0) c.tableFaults.push_back({entry.number, MbrFault::NoSectors});
    // The protective entry may claim the whole 32-bit range of a larger disk
    // (0xFFFFFFFF), or more than an image cut short holds.
    if (type != kGptProtectiveType && diskSectors != 0 && entry.start + entry.sectors > diskSectors)
      c.tableFaults.push_back({entry.number, MbrFault::OutsideDisk});
    if (type != kGptProtectiveType) {
      for (const Entry& before : used) {
        if (before.type == kGptProtectiveType) continue;
        if (entry.start < before.start + before.sectors && before.start < entry.start + entry.sectors) {
          c.tableFaults.push_back({entry.number, MbrFault::Overlaps});
          break;
        }
      }
    }
    used.push_back(entry);
  }
  c.tableSound = !used.empty() && c.tableFaults.empty();
  c.hybrid = protective && other;

  if (c.tableSound)
    c.kind = protective ? FirstSectorKind::ProtectiveMbr : FirstSectorKind::PartitionTable;
  else if (c.fatBootRecord)
    c.kind = FirstSectorKind::FatBootRecord;
  else if (c.exfatBootRecord)
    c.kind = FirstSectorKind::ExfatBootRecord;
  else if (protective)
    c.kind = FirstSectorKind::ProtectiveMbr;
  else if (!used.empty())
    c.kind = FirstSectorKind::PartitionTable;
  return c;
}

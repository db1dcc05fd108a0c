#include "disk/backup_boot_record.h"

#include <algorithm>

#include "disk/boot_sector.h"
#include "disk/first_sector.h"
#include "disk/le.h"

namespace {

constexpr size_t kRecordBytes = 512;

}  // namespace

BootRecordChoice FindBootRecord(std::span<const uint8_t> sector0, const SectorReader& read,
                                uint8_t partitionType) {
  BootRecordChoice choice;
  choice.primaryUnreadable = sector0.size() < kRecordBytes;
  if (!choice.primaryUnreadable && IsFatBootRecord(sector0, partitionType)) {
    choice.source = BootRecordSource::Primary;
    choice.bytes.assign(sector0.begin(), sector0.begin() + kRecordBytes);
    choice.layout = DecodeVolume(choice.bytes, partitionType);
    return choice;
  }

  // A record whose jump or media byte was hit may still hold a parameter
  // block that says where its backup is.
  std::vector<uint64_t> candidates;
  if (!choice.primaryUnreadable) {
    const auto block = DecodeVolume(sector0, partitionType);
    const uint16_t named = le16(sector0, kBootBackupSector);
    if (block && block->width == FatWidth::Fat32 && named != 0 && named < block->reservedSectors)
      candidates.push_back(named);
  }
  if (std::find(candidates.begin(), candidates.end(), kDefaultBackupSector) == candidates.end())
    candidates.push_back(kDefaultBackupSector);

  std::vector<uint8_t> sector(kRecordBytes);
  for (const uint64_t at : candidates) {
    choice.tried.push_back(at);
    if (!read(at, sector) || !IsFatBootRecord(sector, partitionType)) continue;
    auto layout = DecodeVolume(sector, partitionType);
    // Only a 32-bit FAT volume keeps a backup: a 12- or 16-bit volume's
    // sector 6 is FAT or root directory, whatever it looks like.
    if (!layout || layout->width != FatWidth::Fat32) continue;
    choice.source = BootRecordSource::Backup;
    choice.sector = at;
    choice.bytes = sector;
    choice.layout = layout;
    break;
  }
  return choice;
}

std::string BootRecordNote(const BootRecordChoice& choice) {
  if (choice.source != BootRecordSource::Backup) return {};
  return "Boot record read from its backup at sector " + std::to_string(choice.sector);
}

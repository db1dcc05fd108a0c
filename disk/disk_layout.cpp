#include "disk/disk_layout.h"

#include <algorithm>

#include "disk/exfat_node.h"

namespace {

SectorReader DriveReader(DiskAccess& access, uint16_t drive, uint64_t base) {
  return [&access, drive, base](uint64_t first, std::span<uint8_t> out) {
    const uint64_t count = out.size() / kSectorSize;
    if (count == 0 || count > UINT32_MAX || first > UINT64_MAX - base) return false;
    return access.ReadAbsolute(drive, base + first, static_cast<uint32_t>(count), out.data());
  };
}

// What the volume starting at start holds: decided by its boot record (or
// the backup of a 32-bit FAT one), never by a type alone.
void ProbeVolume(DiskAccess& access, uint16_t drive, DiskVolume& volume) {
  std::vector<uint8_t> sector(kSectorSize);
  const SectorReader read = DriveReader(access, drive, volume.start);
  const bool readable = read(0, sector);
  const BootRecordChoice choice =
      FindBootRecord(readable ? std::span<const uint8_t>(sector) : std::span<const uint8_t>(), read);
  if (!choice.layout) return;
  volume.fat = true;
  volume.width = choice.layout->width;
  volume.bootSector = static_cast<uint16_t>(choice.sector);
  volume.note = BootRecordNote(choice);
  volume.label = FatVolumeLabel(volume.width);
}

}  // namespace

bool ProbeExfatVolume(DiskAccess& access, uint16_t drive, DiskVolume& volume) {
  ExfatSectorReader reader(DriveReader(access, drive, volume.start));
  const ExfatBootChoice choice = ChooseExfatBootRegion(reader, volume.sectors);
  if (choice.Boot() == nullptr) return false;
  volume.exfat = true;
  volume.label = kExfatVolumeLabel;
  volume.note = ExfatBootNote(choice);
  return true;
}

const char* FatVolumeLabel(FatWidth width) {
  switch (width) {
    case FatWidth::Fat12: return "12-Bit FAT Disk";
    case FatWidth::Fat16: return "16-Bit FAT Disk";
    default: return "32-Bit FAT Disk";
  }
}

std::string GptSourceNote(const GptTable& gpt) {
  switch (gpt.source) {
    case GptSource::Primary: return {};
    case GptSource::Backup:
      return "GPT read from its backup header at sector " + std::to_string(gpt.backup.header.lba);
    case GptSource::None: break;
  }
  return "Neither GPT header is sound: no partitions listed";
}

std::string GptHeaderLabel(const GptTable& gpt) {
  const std::string note = GptSourceNote(gpt);
  return note.empty() ? "GPT Header" : "GPT Header - " + note;
}

GptTable ReadDriveGpt(DiskAccess& access, uint16_t drive) {
  return ReadGpt(access.DiskSectors(drive), DriveReader(access, drive, 0));
}

DiskLayout ReadDiskLayout(DiskAccess& access, uint16_t drive, std::span<const uint8_t> sector0) {
  DiskLayout layout;
  layout.diskSectors = access.DiskSectors(drive);
  layout.first = ClassifyFirstSector(sector0, layout.diskSectors);
  switch (layout.first.kind) {
    case FirstSectorKind::PartitionTable: return layout;
    case FirstSectorKind::ExfatBootRecord:
      break;
    case FirstSectorKind::ProtectiveMbr: {
      layout.scheme = DiskScheme::Gpt;
      layout.gpt = ReadGpt(layout.diskSectors, DriveReader(access, drive, 0));
      const GptCopy* used = layout.gpt.Used();
      if (used == nullptr) return layout;
      for (const GptEntry& entry : used->entries) {
        DiskVolume volume;
        volume.start = entry.firstLba;
        volume.sectors = entry.Sectors();
        volume.number = entry.number;
        volume.label = GptTypeLabel(entry.type);
        // An entry that lies outside the disk or over another is listed
        // by its type only: reading it would show another's sectors.
        if (entry.Sound()) {
          // Absolute sectors are 64-bit; the volume's own are counted in 32.
          volume.addressable = entry.lastLba - entry.firstLba <= UINT32_MAX;
          if (volume.addressable) {
            ProbeVolume(access, drive, volume);
            if (!volume.fat) ProbeExfatVolume(access, drive, volume);
          }
        }
        layout.volumes.push_back(std::move(volume));
      }
      return layout;
    }
    case FirstSectorKind::FatBootRecord:
    case FirstSectorKind::Unknown: break;
  }
  // A FAT or exFAT boot record at sector 0, or a blank or damaged sector 0
  // whose volume still has its backup (a 32-bit FAT's boot record, exFAT's
  // backup boot region): the volume fills the disk.
  DiskVolume volume;
  volume.sectors = layout.diskSectors;
  if (layout.first.kind != FirstSectorKind::ExfatBootRecord) ProbeVolume(access, drive, volume);
  if (!volume.fat && !ProbeExfatVolume(access, drive, volume)) return layout;
  layout.scheme = volume.exfat ? DiskScheme::WholeExfat : DiskScheme::WholeVolume;
  layout.volumes.push_back(std::move(volume));
  return layout;
}

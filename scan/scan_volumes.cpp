#include "scan/scan_volumes.h"

#include "disk/exfat_node.h"

#include <cstdio>
#include <set>

#include "disk/discovery.h"
#include "disk/disk_layout.h"
#include "disk/exfat_node.h"
#include "disk/le.h"
#include "disk/partition_entry.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"
#include "scan/scan_texts.h"

namespace {

// A chain of extended boot records longer than this is damaged (each holds a
// logical drive, and the list ends at 50 anyway).
constexpr int kMaxLinks = 256;

}  // namespace

std::vector<ScanVolumeEntry> ListScanVolumes(DiskAccess& access, PromptPort& port) {
  std::vector<ScanVolumeEntry> list;
  char text[96];
  for (uint32_t n = 0; n < access.FloppyCount() && n < kFirstHardDisk; ++n) {
    if (list.size() >= kScanVolumesMax) return list;
    ScanVolumeEntry e;
    e.packet.drive = static_cast<uint16_t>(n);
    e.packet.sector = 1;
    e.packet.sectorCount = 1;
    e.packet.kind = NodeKind::Volume;
    std::snprintf(text, sizeof text, kScanFloppyText, static_cast<unsigned>(n + 1));
    e.text = text;
    list.push_back(e);
  }

  for (uint32_t d = kFirstHardDisk; d <= 0xFF && access.HardDiskExists(static_cast<uint16_t>(d));
       ++d) {
    const auto drive = static_cast<uint16_t>(d);
    const uint32_t flag = access.Int13Extensions(drive);
    DrivePacket table;  // the record being walked: MBR, then each EBR
    table.drive = drive;
    table.sector = 1;
    table.sectorCount = 1;
    table.int13Extensions = flag;
    // A GPT disk or a disk that is one volume lists what its layout holds.
    {
      uint8_t sector[kSectorSize] = {};
      if (!ReadNodeSectors(access, table, 0, sector)) {
        port.Message(kScanTableUnreadable);
        continue;
      }
      const DiskLayout layout = ReadDiskLayout(access, drive, sector);
      if (layout.scheme != DiskScheme::Mbr) {
        for (const DiskVolume& v : layout.volumes) {
          if (!(v.fat || v.exfat) || !v.addressable) continue;
          if (list.size() >= kScanVolumesMax) return list;
          ScanVolumeEntry e;
          e.packet.drive = drive;
          e.packet.sector = v.start == 0 ? 1 : 0;
          e.packet.sectorCount = 1;
          e.packet.kind = v.exfat ? NodeKind::ExfatVolume : NodeKind::Volume;
          e.packet.fatType = v.width == FatWidth::Fat32 ? FatWidth::Fat32 : FatWidth::None;
          e.packet.partitionStart = v.start;
          e.packet.bootSector = v.bootSector;
          e.packet.int13Extensions = flag;
          e.partitionType = v.width == FatWidth::Fat32 ? kFat32PartitionType : 0;
          char where[32];
          if (v.number != 0)
            std::snprintf(where, sizeof where, kScanGptPartition, static_cast<unsigned>(v.number));
          else
            std::snprintf(where, sizeof where, "%s", kScanWholeDisk);
          std::snprintf(text, sizeof text, kScanPartitionText, static_cast<unsigned>(d - 0x80 + 1),
                        v.label.c_str(), where);
          e.text = text;
          list.push_back(e);
        }
        continue;
      }
    }
    uint32_t extendedBase = 0;
    bool master = true;
    std::set<uint64_t> walked;
    for (int links = 0; links <= kMaxLinks; ++links) {
      if (!walked.insert(table.partitionStart).second) break;  // a chain that loops
      uint8_t sector[kSectorSize] = {};
      if (!ReadNodeSectors(access, table, 0, sector)) {
        port.Message(kScanTableUnreadable);
        break;
      }
      const std::span<const uint8_t> record(sector);
      bool linked = false;
      DrivePacket next = table;
      for (size_t i = 0; i < kPartitionEntries; ++i) {
        const size_t at = PartitionEntryOffset(i);
        const uint8_t type = le8(record, at + kPartType);
        const uint32_t lba = le32(record, at + kPartStartLba);
        // Links count from the extended partition's start; a logical drive
        // from its own extended boot record.
        const uint64_t start =
            master ? lba : uint64_t{IsExtendedPartitionType(type) ? extendedBase : table.partitionStart} + lba;
        if (IsExtendedPartitionType(type)) {
          if (master) extendedBase = lba;
          linked = true;
          next.cylinder = le8(record, at + kPartStartCylinder);
          next.head = le8(record, at + kPartStartHead);
          next.sector = le8(record, at + kPartStartSector);
          next.partitionStart = start;
          continue;
        }
        const char* typeText = PartitionTypeLabel(type);
        // Listed so that choosing it says the scan does not check exFAT.
        DiskVolume exfat;
        exfat.start = start;
        exfat.sectors = le32(record, at + kPartSectors);
        const bool isExfat = typeText == nullptr && type == 0x07 && ProbeExfatVolume(access, drive, exfat);
        if (isExfat) typeText = kExfatVolumeLabel;
        if (typeText == nullptr) continue;
        if (list.size() >= kScanVolumesMax) return list;
        ScanVolumeEntry e;
        e.packet.drive = drive;
        e.packet.cylinder = le8(record, at + kPartStartCylinder);
        e.packet.head = le8(record, at + kPartStartHead);
        e.packet.sector = le8(record, at + kPartStartSector);
        e.packet.sectorCount = 1;
        e.packet.kind = isExfat ? NodeKind::ExfatVolume : NodeKind::Volume;
        e.packet.fatType = IsFat32PartitionType(type) ? FatWidth::Fat32 : FatWidth::None;
        e.packet.partitionStart = start;
        e.partitionType = type;
        e.packet.int13Extensions = flag;
        std::snprintf(text, sizeof text, kScanPartitionText, static_cast<unsigned>(d - 0x80 + 1),
                      typeText, master ? kScanPrimary : kScanLogical);
        e.text = text;
        list.push_back(e);
      }
      if (!linked) break;
      table = next;
      master = false;
    }
  }
  return list;
}

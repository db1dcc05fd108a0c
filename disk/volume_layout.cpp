#include "disk/volume_layout.h"

#include <algorithm>

#include "disk/boot_sector.h"
#include "disk/dir_entry.h"
#include "disk/fat_codec.h"
#include "disk/le.h"

namespace {

bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

bool IsFat32PartitionType(uint8_t type) { return type == 0x0B || type == 0x0C; }

std::optional<VolumeLayout> DecodeVolume(std::span<const uint8_t> boot, uint8_t partitionType) {
  if (boot.size() < 0x40) return std::nullopt;
  VolumeLayout v;
  v.bytesPerSector = le16(boot, kBootBytesPerSector);
  v.sectorsPerCluster = le8(boot, kBootSectorsPerCluster);
  v.reservedSectors = le16(boot, kBootReservedSectors);
  v.fatCount = le8(boot, kBootFatCount);
  v.rootEntries = le16(boot, kBootRootEntries);
  const uint16_t total16 = le16(boot, kBootTotalSectors16);
  v.totalSectors = total16 != 0 ? total16 : le32(boot, kBootTotalSectors32);
  const uint16_t perFat16 = le16(boot, kBootSectorsPerFat16);
  v.sectorsPerFat = perFat16 != 0 ? perFat16 : le32(boot, kBootSectorsPerFat32);
  v.sectorsPerTrack = le16(boot, kBootSectorsPerTrack);
  v.heads = le16(boot, kBootHeads);

  if (v.bytesPerSector < 512 || v.bytesPerSector > 4096 || !PowerOfTwo(v.bytesPerSector))
    return std::nullopt;
  if (!PowerOfTwo(v.sectorsPerCluster)) return std::nullopt;
  if (v.fatCount < 1 || v.fatCount > 8 || v.reservedSectors < 1 || v.sectorsPerFat == 0)
    return std::nullopt;

  const bool fat32Record = perFat16 == 0 || IsFat32PartitionType(partitionType);
  // The root's entries fill whole sectors; a 32-bit FAT volume keeps its root
  // in the data area, whatever the field says.
  const uint64_t rootSectors =
      fat32Record ? 0 : (uint64_t{v.rootEntries} * 32 + v.bytesPerSector - 1) / v.bytesPerSector;
  const uint64_t rootStart = v.reservedSectors + uint64_t{v.fatCount} * v.sectorsPerFat;
  const uint64_t dataStart = rootStart + rootSectors;
  if (dataStart > v.totalSectors) return std::nullopt;  // also keeps it in 32 bits

  v.fatStart = v.reservedSectors;
  v.rootStart = static_cast<uint32_t>(rootStart);
  v.rootSectors = static_cast<uint32_t>(rootSectors);
  v.dataStart = static_cast<uint32_t>(dataStart);
  v.dataClusters = (v.totalSectors - v.dataStart) / v.sectorsPerCluster;
  if (fat32Record || v.dataClusters >= kFat32MinClusters)
    v.width = FatWidth::Fat32;
  else
    v.width = v.dataClusters < kFat16MinClusters ? FatWidth::Fat12 : FatWidth::Fat16;
  // A damaged boot record may claim more clusters than its FAT can chain:
  // those past the FAT's last entry are in no chain, neither free nor lost.
  // The program reads a FAT as sectorsPerFat sectors of 512 bytes.
  const uint32_t entries =
      FatEntryCapacity(v.width, static_cast<size_t>(uint64_t{v.sectorsPerFat} * kSectorSize));
  v.lastCluster = static_cast<uint32_t>(std::min<uint64_t>(
      {uint64_t{v.dataClusters} + 1, entries - 1, FatHighestCluster(v.width)}));
  if (v.width == FatWidth::Fat32) {
    v.rootCluster = le32(boot, kBootRootCluster);
    v.fsInfoSector = le16(boot, kBootFsInfoSector);
  }
  return v;
}

DrivePacket VolumePacketOf(const DrivePacket& node, const VolumeLayout& layout) {
  DrivePacket volume;
  volume.drive = node.drive;
  volume.cylinder = node.cylinder;
  volume.head = node.head;
  volume.sector = node.sector;
  volume.int13Extensions = node.int13Extensions;
  volume.partitionStart = node.partitionStart;
  volume.fatType = layout.width;
  volume.heads = layout.heads;
  volume.sectorsPerTrack = layout.sectorsPerTrack;
  volume.sectorsPerCluster = layout.sectorsPerCluster;
  volume.totalSectors = layout.totalSectors;
  volume.fatCount = layout.fatCount;
  volume.lastCluster = layout.lastCluster;
  return volume;
}

DrivePacket ClusterFolderNode(const DrivePacket& volume, const VolumeLayout& layout, uint32_t firstCluster) {
  DrivePacket node = volume;
  node.kind = NodeKind::DirEntry;
  node.attributes = kAttrFolder;
  node.fatType = layout.width;
  node.firstCluster = firstCluster;
  node.startSector = layout.dataStart;
  node.sectorCount = 0;
  return node;
}

DrivePacket RootFolderNode(const DrivePacket& volume, const VolumeLayout& layout) {
  DrivePacket root = volume;
  if (layout.width == FatWidth::Fat32) {
    root = ClusterFolderNode(volume, layout, layout.rootCluster);
  } else {
    root.kind = NodeKind::RootDir;
    root.fatType = layout.width;
    root.startSector = layout.rootStart;
    root.sectorCount = layout.rootSectors;
  }
  root.reservedSectors = layout.reservedSectors;
  root.sectorsPerFat = layout.sectorsPerFat;
  root.dataStart = layout.dataStart;
  return root;
}

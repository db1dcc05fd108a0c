#include "recovery/fat_image.h"

#include <cstdint>
#include <span>

#include "disk/boot_sector.h"
#include "disk/le.h"
#include "disk/sector_access.h"
#include "views/list_ops.h"

namespace {

// The FSInfo sector of a 32-bit FAT volume.
constexpr size_t kFsInfoLeadSignature = 0;  // u32 0x41615252
constexpr size_t kFsInfoSignature = 484;    // u32 0x61417272
constexpr size_t kFsInfoFreeCount = 488;    // u32, 0xFFFFFFFF when not known
constexpr size_t kFsInfoTrailSignature = 508;  // u32 0xAA550000
constexpr uint32_t kFreeCountUnknown = 0xFFFFFFFF;

bool KnownWidth(uint16_t fatType) {
  return fatType == KindFat12 || fatType == KindFat16 || fatType == KindFat32;
}

DrivePacket VolumeSectors(const DrivePacket& node, uint64_t start, uint32_t count) {
  DrivePacket p = node;
  p.startSector = static_cast<uint32_t>(start);
  p.sectorCount = count;
  return p;
}

DrivePacket FatCopy(const DrivePacket& node, uint32_t copy) {
  return VolumeSectors(node, node.reservedSectors + uint64_t{copy} * node.sectorsPerFat,
                       node.sectorsPerFat);
}

// The copies and the FSInfo sector, from the boot record.
void ReadVolumeLayout(DiskAccess& access, const DrivePacket& node, FatImage& image) {
  uint8_t sector[kSectorSize] = {};
  if (!ReadSectors(access, VolumeSectors(node, 0, 1), sector)) return;
  const std::span<const uint8_t> boot(sector);
  const uint8_t fatCount = le8(boot, kBootFatCount);
  const uint64_t rootSectors = uint64_t{le16(boot, kBootRootEntries)} * 32 / kSectorSize;
  const bool agrees = le16(boot, kBootReservedSectors) == node.reservedSectors &&
                      node.reservedSectors + uint64_t{fatCount} * node.sectorsPerFat +
                              rootSectors ==
                          node.dataStart;
  if (!agrees) return;
  const uint64_t secondEnd = node.reservedSectors + 2ull * node.sectorsPerFat;
  image.secondCopy = fatCount >= 2 && secondEnd <= UINT32_MAX &&
                     (node.totalSectors == 0 || secondEnd <= node.totalSectors);
  // FSInfo lies among the reserved sectors, after the boot record.
  const uint16_t fsInfo = le16(boot, kBootFsInfoSector);
  if (node.fatType == KindFat32 && fsInfo != 0 && fsInfo < node.reservedSectors)
    image.fsInfoSector = fsInfo;
}

// Takes the clusters from the FSInfo free count; a count that is not known
// or is already too small is left as it is.
void UpdateFreeCount(DiskAccess& access, const DrivePacket& node, const FatImage& image) {
  if (image.fsInfoSector == 0 || image.clustersTaken == 0) return;
  const DrivePacket place = VolumeSectors(node, image.fsInfoSector, 1);
  uint8_t sector[kSectorSize] = {};
  if (!ReadSectors(access, place, sector)) return;
  const std::span<uint8_t> info(sector);
  if (le32(info, kFsInfoLeadSignature) != 0x41615252 ||
      le32(info, kFsInfoSignature) != 0x61417272 ||
      le32(info, kFsInfoTrailSignature) != 0xAA550000)
    return;
  const uint32_t free = le32(info, kFsInfoFreeCount);
  if (free == kFreeCountUnknown || free < image.clustersTaken) return;
  putLe32(info, kFsInfoFreeCount, free - image.clustersTaken);
  WriteSectors(access, place, sector);
}

}  // namespace

FatImageLoad LoadFatImage(DiskAccess& access, const ListPaneState& pane, const DrivePacket& node,
                          FatImage& image) {
  image = FatImage{};
  const uint64_t fatEnd = uint64_t{node.reservedSectors} + node.sectorsPerFat;
  if (!KnownWidth(node.fatType) || node.sectorsPerFat == 0 || node.sectorsPerCluster == 0 ||
      fatEnd > UINT32_MAX || (node.totalSectors != 0 && fatEnd > node.totalSectors))
    return FatImageLoad::Unreadable;
  if (!TakeBuffer(pane, image.table, uint64_t{node.sectorsPerFat} * kSectorSize))
    return FatImageLoad::NoMemory;

  ReadVolumeLayout(access, node, image);
  if (ReadSectors(access, FatCopy(node, 0), image.table.data())) return FatImageLoad::Loaded;
  if (image.secondCopy && ReadSectors(access, FatCopy(node, 1), image.table.data()))
    return FatImageLoad::Loaded;
  std::vector<uint8_t>().swap(image.table);
  return FatImageLoad::Unreadable;
}

void WriteFatImage(DiskAccess& access, const DrivePacket& node, const FatImage& image) {
  if (image.table.size() < uint64_t{node.sectorsPerFat} * kSectorSize) return;
  const bool firstWritten = WriteSectors(access, FatCopy(node, 0), image.table.data());
  if (!firstWritten) access.Prompt().Message(kFat1NotWritten);
  if (image.secondCopy && !WriteSectors(access, FatCopy(node, 1), image.table.data()))
    access.Prompt().Message(kFat2NotWritten);
  if (firstWritten) UpdateFreeCount(access, node, image);
}

#include "disk/fat_copy.h"

#include <algorithm>

#include "disk/fat_cache.h"
#include "disk/sector_access.h"

namespace {

bool KnownWidth(FatWidth fatType) { return fatType != FatWidth::None; }

FatCopyLoad Fail(std::vector<uint8_t>& table, FatCopyLoad why) {
  std::vector<uint8_t>().swap(table);
  return why;
}

}  // namespace

bool LastSectorReads(DiskAccess& access, const DrivePacket& extent) {
  DrivePacket last = extent;
  last.startSector = extent.startSector + extent.sectorCount - 1;
  last.sectorCount = 1;
  uint8_t probe[kSectorSize];
  return ReadSectors(access, last, probe);
}

DrivePacket FatCopyPacket(const DrivePacket& volume, uint32_t copy) {
  DrivePacket p = volume;
  p.startSector =
      static_cast<uint32_t>(volume.reservedSectors + uint64_t{copy} * volume.sectorsPerFat);
  p.sectorCount = volume.sectorsPerFat;
  return p;
}

bool FatCopyInsideVolume(const DrivePacket& volume, uint32_t copy) {
  const uint64_t end = volume.reservedSectors + (uint64_t{copy} + 1) * volume.sectorsPerFat;
  return volume.sectorsPerFat != 0 && end <= UINT32_MAX &&
         (volume.totalSectors == 0 || end <= volume.totalSectors);
}

uint32_t UsableFatSectors(const DrivePacket& volume) {
  // totalSectors counts the reserved and FAT sectors too: an upper bound.
  uint64_t entries = UINT64_MAX;
  if (volume.totalSectors != 0 && volume.sectorsPerCluster != 0)
    entries = uint64_t{volume.totalSectors} / volume.sectorsPerCluster + 2;
  uint64_t bytes = 0;
  switch (volume.fatType) {
    case FatWidth::Fat12: bytes = (std::min<uint64_t>(entries, 0x1000) * 3 + 1) / 2; break;
    case FatWidth::Fat16: bytes = std::min<uint64_t>(entries, 0x10000) * 2; break;
    case FatWidth::Fat32: bytes = std::min<uint64_t>(entries, 0x10000000) * 4; break;
    case FatWidth::None: return 0;
  }
  const uint64_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
  return static_cast<uint32_t>(std::min<uint64_t>(sectors, volume.sectorsPerFat));
}

bool SecondCopyServes(const DrivePacket& volume, FatCopyRule rule) {
  return rule.secondCopy && volume.fatCount != 1 && FatCopyInsideVolume(volume, 1);
}

FatCopyLoad LoadFatCopy(DiskAccess& access, MemoryBudget budget, const DrivePacket& node,
                        std::vector<uint8_t>& table, FatCopyRule rule, std::vector<bool>* fromFat1) {
  if (!KnownWidth(node.fatType) || !FatCopyInsideVolume(node, 0))
    return Fail(table, FatCopyLoad::Unreadable);
  const bool second = SecondCopyServes(node, rule);
  const uint32_t sectors = rule.usableSectorsOnly ? UsableFatSectors(node) : node.sectorsPerFat;
  DrivePacket first = FatCopyPacket(node, 0);
  DrivePacket spare = FatCopyPacket(node, 1);
  first.sectorCount = spare.sectorCount = sectors;  // 1 <= sectors <= sectorsPerFat

  if (sectors > kProbeAboveSectors && !LastSectorReads(access, first) &&
      !(second && LastSectorReads(access, spare)))
    return Fail(table, FatCopyLoad::Unreadable);

  const uint64_t bytes = uint64_t{sectors} * kSectorSize;
  if (table.size() >= bytes && budget.Allows(bytes)) {
    table.resize(bytes);  // never grows: no second block
    std::fill(table.begin(), table.end(), 0);
  } else {
    std::vector<uint8_t>().swap(table);  // the old block goes before the new one is taken
    if (!TakeBuffer(budget, table, bytes)) return Fail(table, FatCopyLoad::NoMemory);
  }
  // Through the cache's own reading code, FAT 2 standing in sector by sector:
  // one bad FAT 1 sector must not cost the rest of FAT 1, which may differ
  // from FAT 2 (the newer copy when a write stopped between the two).
  if (ReadFatSectors(access, node, 0, sectors, second, table.data(), fromFat1)) return FatCopyLoad::Loaded;
  return Fail(table, FatCopyLoad::Unreadable);
}

FatReader::FatReader(DiskAccess& access, MemoryBudget budget, const DrivePacket& volume,
                     FatCopyRule rule)
    : access_(access), memoryLimit_(budget.limit), volume_(volume) {
  if (!KnownWidth(volume.fatType) || !FatCopyInsideVolume(volume, 0)) {
    status_ = FatCopyLoad::Unreadable;
    return;
  }
  if (!budget.Allows(kSectorSize)) {
    status_ = FatCopyLoad::NoMemory;
    return;
  }
  secondCopy_ = SecondCopyServes(volume, rule);
  sectors_ = rule.usableSectorsOnly ? UsableFatSectors(volume) : volume.sectorsPerFat;
}

bool FatReader::Hold(uint32_t sector) {
  if (heldIndex_ == int64_t{sector}) return true;
  if (!access_.Fats().Read(access_, volume_, sector, secondCopy_, memoryLimit_, held_)) {
    heldIndex_ = -1;
    if (status_ == FatCopyLoad::Loaded) status_ = FatCopyLoad::Unreadable;
    return false;
  }
  heldIndex_ = sector;
  return true;
}

bool FatReader::Get(uint64_t at, uint8_t* out, size_t n) {
  if (at > Bytes() || Bytes() - at < n) return false;
  // A 12-bit entry may straddle two sectors: byte by byte across the seam.
  for (size_t i = 0; i < n;) {
    const uint64_t place = at + i;
    if (!Hold(static_cast<uint32_t>(place / kSectorSize))) return false;
    const size_t offset = place % kSectorSize;
    const size_t take = std::min<size_t>(n - i, kSectorSize - offset);
    std::copy_n(held_ + offset, take, out + i);
    i += take;
  }
  return true;
}

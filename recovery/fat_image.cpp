#include "recovery/fat_image.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "disk/boot_sector.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/le.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"

namespace {

// The copies and the FSInfo sector, from the boot record.
void ReadVolumeLayout(DiskAccess& access, const DrivePacket& node, FatImage& image) {
  uint8_t sector[kSectorSize] = {};
  // The record the volume was walked by: sector 0, or its backup.
  if (!ReadNodeSectors(access, VolumeNodeOf(node), node.bootSector, sector)) return;
  const std::optional<VolumeLayout> layout =
      DecodeVolume(sector, node.fatType == FatWidth::Fat32 ? kFat32PartitionType : 0);
  const bool agrees = layout && layout->reservedSectors == node.reservedSectors &&
                      layout->dataStart == node.dataStart;
  if (!agrees) return;
  image.copies = 1;
  while (image.copies < layout->fatCount && FatCopyInsideVolume(node, image.copies)) ++image.copies;
  // FSInfo lies among the reserved sectors, after the boot record.
  if (node.fatType == FatWidth::Fat32 && layout->fsInfoSector != 0 &&
      layout->fsInfoSector < node.reservedSectors)
    image.fsInfoSector = layout->fsInfoSector;
}

// Takes the clusters from the FSInfo free count; a count that is not known
// or is already too small is left as it is. False when the sector was to be
// changed and could not be written back.
bool UpdateFreeCount(DiskAccess& access, const DrivePacket& node, const FatImage& image) {
  if (image.fsInfoSector == 0 || image.clustersTaken == 0) return true;
  const DrivePacket volume = VolumeNodeOf(node);
  uint8_t sector[kSectorSize] = {};
  // An FSInfo sector that cannot be read keeps its old count: a hint only.
  if (!ReadNodeSectors(access, volume, image.fsInfoSector, sector)) return true;
  const std::span<uint8_t> info(sector);
  if (le32(info, kFsInfoLeadSignature) != kFsInfoLeadValue ||
      le32(info, kFsInfoStructSignature) != kFsInfoStructValue ||
      le32(info, kFsInfoTrailSignature) != kFsInfoTrailValue)
    return true;
  const uint32_t free = le32(info, kFsInfoFreeCount);
  if (free == kFsInfoUnknown || free < image.clustersTaken) return true;
  putLe32(info, kFsInfoFreeCount, free - image.clustersTaken);
  return WriteNodeSectors(access, volume, image.fsInfoSector, sector);
}

// The table's sectors that differ from what FAT 1 gave at the load, or that
// FAT 1 did not give: the only ones a write needs to move.
std::vector<bool> ChangedSectors(const FatImage& image, std::span<const uint8_t> table) {
  const size_t sectors = table.size() / kSectorSize;
  std::vector<bool> changed(sectors);
  for (size_t k = 0; k < sectors; ++k) changed[k] = k >= image.fromFat1.size() || !image.fromFat1[k];
  for (const auto& [k, bytes] : image.loaded)
    if (k < sectors)
      changed[k] = changed[k] || !std::equal(bytes.begin(), bytes.end(), table.begin() + uint64_t{k} * kSectorSize);
  return changed;
}

}  // namespace

FatImageLoad LoadFatImage(DiskAccess& access, MemoryBudget budget, const DrivePacket& node,
                          FatImage& image) {
  image = FatImage{};
  // The commands walk clusters: without a cluster size there are none.
  if (node.sectorsPerCluster == 0) return FatImageLoad::Unreadable;
  ReadVolumeLayout(access, node, image);
  // The whole copy, as it is written back to every copy; FAT 2 only where
  // the boot record says there is one.
  return LoadFatCopy(access, budget, node, image.table, {.secondCopy = image.copies >= 2},
                     &image.fromFat1);
}

bool FatImage::Set(uint32_t cluster, FatWidth width, uint32_t value) {
  const FatEntryBytes at = FatEntryPlace(cluster, width);
  if (at.length == 0) return false;
  // A 12-bit entry may straddle two sectors: both are kept.
  const uint64_t from = at.offset / kSectorSize;
  const uint64_t to = (at.offset + at.length - 1) / kSectorSize;
  for (uint64_t k = from; k <= to && (k + 1) * kSectorSize <= table.size(); ++k) {
    const auto [kept, fresh] = loaded.try_emplace(static_cast<uint32_t>(k));
    if (fresh) std::copy_n(table.begin() + static_cast<ptrdiff_t>(k * kSectorSize), kSectorSize, kept->second.begin());
  }
  return SetFatEntry(cluster, width, table, value);
}

std::string FatNotWrittenText(uint32_t copy) {
  return "FAT " + std::to_string(copy) + " cannot be written successfully!";
}

FatImageWrite WriteFatImage(DiskAccess& access, PromptPort& prompt, const DrivePacket& node,
                            const FatImage& image) {
  FatImageWrite result;
  if (image.table.size() < uint64_t{node.sectorsPerFat} * kSectorSize) return result;
  // Only the sectors whose bytes change are written, to every copy: an undo
  // file then keeps what the command changed, not the whole FAT.
  const std::span<const uint8_t> table(image.table.data(), uint64_t{node.sectorsPerFat} * kSectorSize);
  const std::vector<bool> changed = ChangedSectors(image, table);
  for (uint32_t copy = 0; copy < image.copies; ++copy) {
    const uint32_t start = FatCopyPacket(node, copy).startSector;
    bool written = true;
    for (uint32_t at = 0; at < node.sectorsPerFat;) {
      if (!changed[at]) {
        ++at;
        continue;
      }
      uint32_t end = at;
      while (end < node.sectorsPerFat && changed[end]) ++end;
      const auto bytes = table.subspan(size_t{at} * kSectorSize, size_t{end - at} * kSectorSize);
      if (!WriteNodeSectors(access, VolumeNodeOf(node), start + at, bytes)) written = false;
      at = end;
    }
    if (copy == 0) result.fat1 = written;
    if (written) continue;
    ++result.failed;
    prompt.Message(FatNotWrittenText(copy + 1));
  }
  if (result.fat1) result.fsInfo = UpdateFreeCount(access, node, image);
  return result;
}

#include "scan/scan_layout.h"

#include <algorithm>
#include <new>

#include "disk/boot_sector.h"
#include "disk/fat_codec.h"
#include "disk/le.h"
#include "disk/sector_access.h"

namespace {

constexpr uint32_t kFat12MaxClusters = 4085;   // fewer data clusters: 12-bit
constexpr uint32_t kFat16MaxClusters = 65525;  // fewer: 16-bit
constexpr uint32_t kFat32MaxClusters = 0x0FFFFFF5;

bool Take(std::vector<uint8_t>& v, uint64_t bytes, uint64_t limit) {
  if (bytes > limit) return false;
  try {
    v.assign(static_cast<size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Reads sectors [0, count) of a folder into folder.bytes, run sectors at a
// time from the places place(k) gives (the first sector of each run: runs are
// contiguous on disk). A failed run is read again one sector at a time so
// that each sector's own state is known.
template <typename Place>
bool ReadFolderSectors(DiskAccess& access, const DrivePacket& volume, size_t count, size_t run,
                       Place place, ScanFolder& folder) {
  folder.sectorRead.assign(count, true);
  bool clean = true;
  for (size_t k = 0; k < count; k += run) {
    DrivePacket p = volume;
    p.startSector = static_cast<uint32_t>(place(k));
    p.sectorCount = static_cast<uint32_t>(std::min(run, count - k));
    if (ReadSectors(access, p, folder.bytes.data() + k * kSectorSize)) continue;
    clean = false;
    for (size_t i = k; i < k + p.sectorCount; ++i) {
      DrivePacket one = volume;
      one.startSector = static_cast<uint32_t>(place(i));
      one.sectorCount = 1;
      // An unreadable sector reads as deleted entries, never as an end mark.
      std::fill_n(folder.bytes.data() + i * kSectorSize, kSectorSize, uint8_t{0xE5});
      folder.sectorRead[i] = ReadSectors(access, one, folder.bytes.data() + i * kSectorSize);
    }
  }
  return clean;
}

}  // namespace

std::optional<ScanLayout> DecodeScanLayout(std::span<const uint8_t> boot, bool fat32Hint) {
  ScanLayout l;
  const uint16_t bytesPerSector = le16(boot, kBootBytesPerSector);
  l.sectorsPerCluster = le8(boot, kBootSectorsPerCluster);
  l.reservedSectors = le16(boot, kBootReservedSectors);
  l.fatCount = le8(boot, kBootFatCount);
  l.rootEntries = le16(boot, kBootRootEntries);
  const uint16_t total16 = le16(boot, kBootTotalSectors16);
  l.totalSectors = total16 != 0 ? total16 : le32(boot, kBootTotalSectors32);
  const uint16_t fat16Sectors = le16(boot, kBootSectorsPerFat16);
  l.heads = le16(boot, kBootHeads);
  l.sectorsPerTrack = le16(boot, kBootSectorsPerTrack);
  if (bytesPerSector != kSectorSize || l.sectorsPerCluster == 0 || l.fatCount == 0 ||
      l.reservedSectors == 0)
    return std::nullopt;
  const bool fat32 = fat32Hint || fat16Sectors == 0;
  l.sectorsPerFat = fat32 ? le32(boot, kBootSectorsPerFat32) : fat16Sectors;
  if (l.sectorsPerFat == 0) return std::nullopt;
  const uint64_t rootStart = l.reservedSectors + uint64_t{l.fatCount} * l.sectorsPerFat;
  const uint64_t rootSectors = fat32 ? 0 : (uint64_t{l.rootEntries} * 32 + kSectorSize - 1) / kSectorSize;
  const uint64_t dataStart = rootStart + rootSectors;
  if (dataStart >= l.totalSectors) return std::nullopt;
  l.rootStart = static_cast<uint32_t>(rootStart);
  l.rootSectors = static_cast<uint32_t>(rootSectors);
  l.dataStart = static_cast<uint32_t>(dataStart);
  const uint64_t clusters = (l.totalSectors - dataStart) / l.sectorsPerCluster;
  if (clusters == 0) return std::nullopt;
  if (fat32) {
    l.width = KindFat32;
    l.rootCluster = le32(boot, kBootRootCluster) & 0x0FFFFFFF;
  } else {
    l.width = clusters < kFat12MaxClusters ? KindFat12 : KindFat16;
  }
  const uint32_t most = l.width == KindFat12   ? kFat12MaxClusters - 1
                        : l.width == KindFat16 ? kFat16MaxClusters - 1
                                               : kFat32MaxClusters;
  l.clusterCount = static_cast<uint32_t>(std::min<uint64_t>(clusters, most));
  return l;
}

uint64_t ScanFolder::FirstSectorOf(size_t sector, const ScanLayout& layout) const {
  if (fixedRoot) return layout.rootStart + uint64_t{sector};
  const size_t spc = layout.sectorsPerCluster;
  const uint32_t c = clusters[sector / spc];
  return layout.dataStart + uint64_t{c - 2} * spc + sector % spc;
}

FolderLoad LoadFixedRoot(DiskAccess& access, const DrivePacket& volume, const ScanLayout& layout,
                         uint64_t memoryLimit, ScanFolder& folder) {
  folder = ScanFolder{};
  folder.fixedRoot = true;
  if (layout.rootSectors == 0) return FolderLoad::Empty;
  if (!Take(folder.bytes, uint64_t{layout.rootSectors} * kSectorSize, memoryLimit))
    return FolderLoad::NoMemory;
  const bool clean = ReadFolderSectors(
      access, volume, layout.rootSectors, layout.rootSectors, [&](size_t k) { return folder.FirstSectorOf(k, layout); },
      folder);
  // The root holds rootEntries entries; the rest of its last sector is not
  // the root's.
  folder.entryCount = layout.rootEntries;
  folder.loaded = folder.bytes;
  return clean ? FolderLoad::Loaded : FolderLoad::PartlyRead;
}

FolderLoad LoadClusterFolder(DiskAccess& access, const DrivePacket& volume,
                             const ScanLayout& layout, std::span<const uint8_t> fat,
                             uint32_t first, uint64_t memoryLimit, ScanFolder& folder) {
  folder = ScanFolder{};
  if (first < 2 || first > layout.LastCluster()) return FolderLoad::Empty;
  const uint32_t length = ChainLength(first, layout.width, fat);
  if (length == 0) return FolderLoad::Empty;
  const uint64_t clusterBytes = uint64_t{layout.sectorsPerCluster} * kSectorSize;
  if (uint64_t{length} * sizeof(uint32_t) > memoryLimit) return FolderLoad::NoMemory;
  try {
    folder.clusters.assign(length, 0);
  } catch (const std::bad_alloc&) {
    return FolderLoad::NoMemory;
  }
  ListChain(first, layout.width, folder.clusters, length, fat);
  // A chain that leaves the volume ends before the first cluster outside it.
  for (size_t i = 0; i < folder.clusters.size(); ++i)
    if (folder.clusters[i] < 2 || folder.clusters[i] > layout.LastCluster()) {
      folder.clusters.resize(i);
      break;
    }
  if (folder.clusters.empty()) return FolderLoad::Empty;
  if (!Take(folder.bytes, folder.clusters.size() * clusterBytes, memoryLimit))
    return FolderLoad::NoMemory;
  const bool clean = ReadFolderSectors(
      access, volume, folder.clusters.size() * layout.sectorsPerCluster,
      layout.sectorsPerCluster, [&](size_t k) { return folder.FirstSectorOf(k, layout); }, folder);
  folder.entryCount = folder.bytes.size() / 32;
  folder.loaded = folder.bytes;
  return clean ? FolderLoad::Loaded : FolderLoad::PartlyRead;
}

#include "scan/scan_layout.h"

#include <algorithm>

#include "disk/fat_codec.h"
#include "disk/sector_access.h"

namespace {

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

uint64_t ScanFolder::FirstSectorOf(size_t sector, const VolumeLayout& layout) const {
  if (fixedRoot) return layout.rootStart + uint64_t{sector};
  const size_t spc = layout.sectorsPerCluster;
  const uint32_t c = clusters[sector / spc];
  return layout.dataStart + uint64_t{c - 2} * spc + sector % spc;
}

FolderLoad LoadFixedRoot(DiskAccess& access, const DrivePacket& volume, const VolumeLayout& layout,
                         MemoryBudget budget, ScanFolder& folder) {
  folder = ScanFolder{};
  folder.fixedRoot = true;
  if (layout.rootSectors == 0) return FolderLoad::Empty;
  if (!TakeBuffer(budget, folder.bytes, uint64_t{layout.rootSectors} * kSectorSize))
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
                             const VolumeLayout& layout, std::span<const uint8_t> fat,
                             uint32_t first, MemoryBudget budget, ScanFolder& folder) {
  folder = ScanFolder{};
  if (first < 2 || first > layout.lastCluster) return FolderLoad::Empty;
  const uint32_t length = ChainLength(first, layout.width, fat);
  if (length == 0) return FolderLoad::Empty;
  const uint64_t clusterBytes = uint64_t{layout.sectorsPerCluster} * kSectorSize;
  if (!TakeClusterList(budget, folder.clusters, length)) return FolderLoad::NoMemory;
  ListChain(first, layout.width, folder.clusters, length, fat);
  // A chain that leaves the volume ends before the first cluster outside it.
  for (size_t i = 0; i < folder.clusters.size(); ++i)
    if (folder.clusters[i] < 2 || folder.clusters[i] > layout.lastCluster) {
      folder.clusters.resize(i);
      break;
    }
  if (folder.clusters.empty()) return FolderLoad::Empty;
  if (!TakeBuffer(budget, folder.bytes, folder.clusters.size() * clusterBytes))
    return FolderLoad::NoMemory;
  const bool clean = ReadFolderSectors(
      access, volume, folder.clusters.size() * layout.sectorsPerCluster,
      layout.sectorsPerCluster, [&](size_t k) { return folder.FirstSectorOf(k, layout); }, folder);
  folder.entryCount = folder.bytes.size() / 32;
  folder.loaded = folder.bytes;
  return clean ? FolderLoad::Loaded : FolderLoad::PartlyRead;
}

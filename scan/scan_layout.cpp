#include "scan/scan_layout.h"

#include <algorithm>

#include "disk/directory_loader.h"

namespace {

// The scan's folder from the one directory loader's image: an unreadable
// sector keeps the loader's 0xE5 filler (deleted entries, never an end mark)
// and is marked, so that it is never written back.
FolderLoad Take(DirectoryImage image, ScanFolder& folder) {
  switch (image.status) {
    case DirectoryImage::Status::NoChain: return FolderLoad::Empty;
    case DirectoryImage::Status::NoClusterList:
    case DirectoryImage::Status::NoBuffer: return FolderLoad::NoMemory;
    case DirectoryImage::Status::Loaded: break;
  }
  if (image.bytes.empty()) return FolderLoad::Empty;
  const bool clean = image.AllRead();
  folder.clusters = std::move(image.clusters);
  folder.bytes = std::move(image.bytes);
  folder.sectorRead = std::move(image.sectorRead);
  folder.loaded = folder.bytes;
  folder.entryCount = folder.bytes.size() / 32;
  return clean ? FolderLoad::Loaded : FolderLoad::PartlyRead;
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
  const FolderLoad load = Take(LoadDirectory(access, budget, RootFolderNode(volume, layout), {}), folder);
  // The root holds rootEntries entries; the rest of its last sector is not
  // the root's.
  folder.entryCount = std::min<size_t>(folder.entryCount, layout.rootEntries);
  return load;
}

FolderLoad LoadClusterFolder(DiskAccess& access, const DrivePacket& volume,
                             const VolumeLayout& layout, std::span<const uint8_t> fat,
                             uint32_t first, MemoryBudget budget, ScanFolder& folder) {
  folder = ScanFolder{};
  if (first < 2 || first > layout.lastCluster) return FolderLoad::Empty;
  return Take(LoadDirectory(access, budget, ClusterFolderNode(volume, layout, first), fat), folder);
}

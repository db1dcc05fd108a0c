#include "disk/directory_loader.h"

#include <algorithm>

#include "disk/cluster_place.h"
#include "disk/directory_extent.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/sector_access.h"

namespace {

constexpr uint8_t kUnreadableFill = 0xE5;

// Reads `count` sectors from sector `first` of the node's extent into place;
// when that fails, sector by sector, to learn which ones read. Marks them.
void ReadMarked(DiskAccess& access, const DrivePacket& node, uint64_t first, uint32_t count,
                uint8_t* place, std::vector<bool>& marks, size_t firstMark) {
  bool whole = first + count - 1 <= UINT32_MAX &&
               ReadNodeSectors(access, node, static_cast<uint32_t>(first),
                               std::span<uint8_t>(place, uint64_t{count} * kSectorSize));
  if (whole) {
    std::fill_n(marks.begin() + static_cast<ptrdiff_t>(firstMark), count, true);
    return;
  }
  for (uint32_t s = 0; s < count; ++s) {
    const std::span<uint8_t> one(place + uint64_t{s} * kSectorSize, kSectorSize);
    const bool read = first + s <= UINT32_MAX &&
                      ReadNodeSectors(access, node, static_cast<uint32_t>(first + s), one);
    // A one-sector read that fails leaves the buffer as it was; everywhere
    // else an unreadable sector shows as 0xE5 bytes.
    if (!read) std::fill(one.begin(), one.end(), kUnreadableFill);
    marks[firstMark + s] = read;
  }
}

DirectoryImage LoadRoot(DiskAccess& access, MemoryBudget budget, const DrivePacket& node) {
  DirectoryImage image;
  image.root = true;
  const uint32_t sectors = ListedRootSectors(node);
  image.cut = sectors != node.sectorCount;
  if (!TakeBuffer(budget, image.bytes, uint64_t{sectors} * kSectorSize)) {
    image.status = DirectoryImage::Status::NoBuffer;
    return image;
  }
  image.status = DirectoryImage::Status::Loaded;
  image.sectorRead.assign(sectors, false);
  if (sectors != 0) ReadMarked(access, node, 0, sectors, image.bytes.data(), image.sectorRead, 0);
  return image;
}

// A chain walked in a copy held in memory or through a FatReader.
uint32_t Length(const DrivePacket& node, std::span<const uint8_t> fat) {
  return ChainLength(node.firstCluster, node.fatType, fat);
}
uint32_t Length(const DrivePacket& node, FatReader& fat) {
  return ChainLength(node.firstCluster, fat);
}
void List(const DrivePacket& node, std::vector<uint32_t>& list, uint32_t count,
          std::span<const uint8_t> fat) {
  ListChain(node.firstCluster, node.fatType, list, count, fat);
}
void List(const DrivePacket& node, std::vector<uint32_t>& list, uint32_t count, FatReader& fat) {
  ListChain(node.firstCluster, list, count, fat);
}

template <class Fat>
DirectoryImage LoadFolder(DiskAccess& access, MemoryBudget budget, const DrivePacket& node,
                          Fat&& fat) {
  DirectoryImage image;
  const uint32_t length = Length(node, fat);
  if (length == 0 || node.sectorsPerCluster == 0) return image;  // NoChain
  const uint32_t perCluster = node.sectorsPerCluster;
  const uint64_t clusterBytes = uint64_t{perCluster} * kSectorSize;
  uint32_t count = FolderClusterLimit(node, length);
  image.cut = count != length;
  if (!TakeClusterList(budget, image.clusters, count)) {
    image.status = DirectoryImage::Status::NoClusterList;
    return image;
  }
  List(node, image.clusters, count, fat);
  // Clusters past the volume's end belong to whatever follows it on the
  // disk: the folder ends where its chain leaves the volume.
  const uint32_t inside = ClustersInsideVolume(node, image.clusters);
  if (inside != count) {
    count = inside;
    image.cut = true;
    image.clusters.resize(count);
  }
  if (!TakeBuffer(budget, image.bytes, count * clusterBytes)) {
    std::vector<uint32_t>().swap(image.clusters);
    image.status = DirectoryImage::Status::NoBuffer;
    return image;
  }
  image.status = DirectoryImage::Status::Loaded;
  image.sectorRead.assign(uint64_t{count} * perCluster, false);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t first = ClusterFirstSector(node, image.clusters[i], perCluster) -
                           node.startSector;
    ReadMarked(access, node, first, perCluster, image.bytes.data() + i * clusterBytes,
               image.sectorRead, uint64_t{i} * perCluster);
  }
  return image;
}

}  // namespace

bool DirectoryImage::AllRead() const {
  return std::all_of(sectorRead.begin(), sectorRead.end(), [](bool r) { return r; });
}

bool DirectoryImage::SectorRead(size_t offset) const {
  const size_t sector = offset / kSectorSize;
  return sector < sectorRead.size() && sectorRead[sector];
}

DirectoryImage LoadDirectory(DiskAccess& access, MemoryBudget budget,
                             const DrivePacket& directory, std::span<const uint8_t> fat) {
  return directory.kind == NodeKind::RootDir ? LoadRoot(access, budget, directory)
                                       : LoadFolder(access, budget, directory, fat);
}

DirectoryImage LoadDirectory(DiskAccess& access, MemoryBudget budget,
                             const DrivePacket& directory, FatReader& fat) {
  return directory.kind == NodeKind::RootDir ? LoadRoot(access, budget, directory)
                                       : LoadFolder(access, budget, directory, fat);
}

std::optional<uint32_t> DirectorySectorIndex(const DrivePacket& directory,
                                             const DirectoryImage& image, size_t offset) {
  if (offset >= image.bytes.size()) return std::nullopt;
  uint64_t index = offset / kSectorSize;
  if (!image.root) {
    const uint64_t clusterBytes = uint64_t{directory.sectorsPerCluster} * kSectorSize;
    if (clusterBytes == 0 || offset / clusterBytes >= image.clusters.size()) return std::nullopt;
    const uint32_t cluster = image.clusters[offset / clusterBytes];
    if (cluster < 2) return std::nullopt;
    index = uint64_t{cluster - 2} * directory.sectorsPerCluster + (offset % clusterBytes) / kSectorSize;
  }
  if (directory.startSector + index > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(index);
}

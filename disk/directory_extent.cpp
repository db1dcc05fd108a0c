#include "disk/directory_extent.h"

#include <algorithm>

#include "disk/cluster_place.h"
#include "disk/dir_entry.h"

namespace {

// Sectors of the volume from startSector to its end; unlimited when the
// volume's size is not known.
uint64_t SectorsToVolumeEnd(const DrivePacket& packet) {
  if (packet.totalSectors == 0) return UINT64_MAX;
  return packet.totalSectors > packet.startSector ? packet.totalSectors - packet.startSector : 0;
}

}  // namespace

uint32_t ListedRootSectors(const DrivePacket& root) {
  return static_cast<uint32_t>(
      std::min<uint64_t>({root.sectorCount, kMaxRootSectors, SectorsToVolumeEnd(root)}));
}

uint32_t FolderClusterLimit(const DrivePacket& folder, uint32_t chainLength) {
  const uint64_t clusterBytes = uint64_t{folder.sectorsPerCluster} * kSectorSize;
  if (clusterBytes == 0) return chainLength;
  const uint64_t folderBytes = kMaxFolderEntries * kDirEntrySize;
  return static_cast<uint32_t>(
      std::min<uint64_t>(chainLength, (folderBytes + clusterBytes - 1) / clusterBytes));
}

uint32_t ClustersInsideVolume(const DrivePacket& folder, std::span<const uint32_t> clusters) {
  if (folder.sectorsPerCluster == 0) return 0;
  for (size_t i = 0; i < clusters.size(); ++i)
    if (!ClusterInsideVolume(folder, clusters[i], folder.sectorsPerCluster))
      return static_cast<uint32_t>(i);
  return static_cast<uint32_t>(clusters.size());
}

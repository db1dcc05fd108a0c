#include "disk/cluster_place.h"

uint64_t ClusterFirstSector(const DrivePacket& packet, uint32_t cluster,
                            uint32_t sectorsPerCluster) {
  const uint64_t index = cluster >= 2 ? cluster - 2u : 0;
  return packet.startSector + index * sectorsPerCluster;
}

bool ClusterInsideVolume(const DrivePacket& packet, uint32_t cluster, uint32_t sectorsPerCluster) {
  const uint64_t end = ClusterFirstSector(packet, cluster, sectorsPerCluster) + sectorsPerCluster;
  return cluster >= 2 && end <= UINT32_MAX &&
         (packet.totalSectors == 0 || end <= packet.totalSectors);
}

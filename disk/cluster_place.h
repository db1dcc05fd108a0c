// Where a cluster of a file or folder lies: packet.startSector is the volume's
// first data sector (cluster 2), as in every file and folder packet.
#pragma once
#include <cstdint>

#include "disk/drive_packet.h"

// The first sector of cluster, relative to partitionStart. Clusters 0 and 1
// have no place in the data area; they map to its start.
uint64_t ClusterFirstSector(const DrivePacket& packet, uint32_t cluster,
                            uint32_t sectorsPerCluster);

// Whether the sectorsPerCluster sectors of cluster lie in the volume: cluster
// 2 or above, ending within 32-bit sector numbers and, when the volume's size
// is known, within totalSectors. A damaged chain points anywhere; what lies
// past the volume belongs to another one or to nothing.
bool ClusterInsideVolume(const DrivePacket& packet, uint32_t cluster, uint32_t sectorsPerCluster);

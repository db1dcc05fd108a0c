// The rescue readers' fuzz input: a few bytes of volume geometry, then the
// data area from cluster 2 on.
//   byte 0: bits 0-1 cluster size (512 << n), bits 2-3 FAT width (12, 16, 32, 32)
//   bytes 1-2: clusters past the data (they read as unreadable, as past a disk's end)
//   byte 3: when not 0, sector byte3 * 7 of the data reads as unreadable
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "disk/drive_packet.h"
#include "recovery/cluster_source.h"

struct ClusterInput {
  ClusterGeometry geometry;
  std::span<const uint8_t> data;
  std::vector<ByteRange> unreadable;
};

inline bool ReadClusterInput(std::span<const uint8_t> input, ClusterInput& out) {
  if (input.size() < 4) return false;
  out.geometry.clusterBytes = 512u << (input[0] & 3);
  const unsigned width = (input[0] >> 2) & 3;
  out.geometry.fatType = width == 0 ? FatWidth::Fat12 : width == 1 ? FatWidth::Fat16 : FatWidth::Fat32;
  out.data = input.subspan(4);
  const uint64_t clusters = (out.data.size() + out.geometry.clusterBytes - 1) / out.geometry.clusterBytes;
  const uint32_t extra = static_cast<uint32_t>(input[1] | input[2] << 8);
  out.geometry.lastCluster = static_cast<uint32_t>(clusters + 1 + extra);
  out.geometry.rootCluster = out.geometry.fatType == FatWidth::Fat32 ? 2 : 0;
  if (input[3] != 0) out.unreadable.push_back({uint64_t{input[3]} * 7 * 512, 512});
  return out.geometry.Valid();
}

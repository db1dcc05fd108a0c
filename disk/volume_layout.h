// A FAT volume's layout, decoded once from its boot sector: where the FATs,
// the fixed root and the data area lie, how many data clusters there are and
// how wide a FAT entry is. Discovery, the views, undelete, rename and the
// tools all take their layout from here.
#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "disk/drive_packet.h"

// Volumes of fewer data clusters than these have 12-bit / 16-bit FATs.
inline constexpr uint32_t kFat16MinClusters = 4085;
inline constexpr uint32_t kFat32MinClusters = 65525;
// The partition type a caller passes for a 32-bit FAT partition entry.
inline constexpr uint8_t kFat32PartitionType = 0x0C;

struct VolumeLayout {
  // As the boot sector gives them (sectors counted from the volume's start).
  uint16_t bytesPerSector = 0;
  uint16_t sectorsPerCluster = 0;
  uint16_t reservedSectors = 0;
  uint8_t fatCount = 0;
  uint16_t rootEntries = 0;
  uint32_t totalSectors = 0;
  uint32_t sectorsPerFat = 0;
  uint16_t sectorsPerTrack = 0;
  uint16_t heads = 0;
  uint32_t rootCluster = 0;   // 32-bit FAT volumes; 0 otherwise
  uint16_t fsInfoSector = 0;  // 32-bit FAT volumes; 0 otherwise

  // Computed once.
  FatWidth width = FatWidth::None;  // never None in a decoded layout
  uint32_t fatStart = 0;         // FAT 1; FAT n at fatStart + (n - 1) * sectorsPerFat
  uint32_t rootStart = 0;        // the fixed root (12/16-bit); the data area on 32-bit
  uint32_t rootSectors = 0;      // 0 on 32-bit FAT volumes
  uint32_t dataStart = 0;        // cluster 2
  uint32_t dataClusters = 0;     // as the sectors after dataStart give them
  // The highest cluster a chain may use: no further than the data clusters
  // (dataClusters + 1), the entries FAT 1's sectorsPerFat 512-byte sectors
  // hold (less one: entries count from 0) and the numbers below the width's
  // bad mark. Decided here once; every walk over the clusters stops at it.
  uint32_t lastCluster = 0;

  // The first sector of FAT copy `copy` (0 for FAT 1).
  uint32_t FatCopyStart(uint32_t copy) const { return fatStart + copy * sectorsPerFat; }
};

// Whether a partition type byte names a 32-bit FAT partition (0x0B, 0x0C).
bool IsFat32PartitionType(uint8_t type);

// Decodes and checks a boot sector (at least its first 0x40 bytes): bytes per
// sector 512...4096 and a power of two, sectors per cluster a power of two,
// 1...8 FATs, at least one reserved sector, FATs of at least one sector, and
// the FATs and the fixed root inside the volume's total sectors. nullopt when
// any of that fails: the sector describes no FAT volume that can be walked.
// The width follows the count of data clusters (below 4085 12-bit, below
// 65525 16-bit, else 32-bit); a 32-bit FAT partition type or a record whose
// 16-bit sectors-per-FAT field is 0 is 32-bit whatever its count.
[[nodiscard]] std::optional<VolumeLayout> DecodeVolume(std::span<const uint8_t> bootSector,
                                         uint8_t partitionType = 0);

// The FAT volume node addresses, as the nodes below it carry it: node's
// drive, CHS base, INT 13 extensions and partition start, with the boot
// record's width, geometry, total sectors, FAT count and last cluster. Every
// other field keeps its default.
DrivePacket VolumePacketOf(const DrivePacket& node, const VolumeLayout& layout);

// A folder in the data area as a node of the volume `volume` (a packet with
// the volume's drive, geometry and width): its clusters count from dataStart.
DrivePacket ClusterFolderNode(const DrivePacket& volume, const VolumeLayout& layout, uint32_t firstCluster);
// The volume's root as the tree makes it: the fixed root of a 12/16-bit
// volume, the root's cluster chain on a 32-bit one, with the places its walk
// needs (reserved sectors, FAT size, data start).
DrivePacket RootFolderNode(const DrivePacket& volume, const VolumeLayout& layout);

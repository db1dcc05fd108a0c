// Read-only access to one FAT volume for the commands that walk all of it
// (finding deleted files, copying out): its FAT through the FAT cache, its
// clusters and its directories. Nothing here writes. The FAT and directory loading of
// these commands goes through this one place.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/memory_budget.h"

class VolumeReader {
 public:
  // root: the volume's root-directory node as the tree makes it (the fixed
  // root of a FAT12/16 volume, or the root folder of a FAT32 one), or any
  // folder node of the volume when its root is not read; the packet carries
  // the volume's parameters.
  VolumeReader(DiskAccess& access, const DrivePacket& root);

  enum class Open { Ready, NotFat, FatUnreadable, NoMemory };
  // Opens the FAT for reading sector by sector through the FAT cache (FAT 2's
  // sector where FAT 1's cannot be read). FatUnreadable when its first
  // sector, or the last that holds entries of the volume, reads in neither.
  [[nodiscard]] Open Load();

  FatWidth Width() const { return root_.fatType; }
  uint32_t ClusterBytes() const { return uint32_t{root_.sectorsPerCluster} * kSectorSize; }
  // The highest cluster number of the volume, the root packet's lastCluster
  // (0 before Load).
  uint32_t LastCluster() const { return lastCluster_; }
  bool InRange(uint32_t cluster) const { return cluster >= 2 && cluster <= lastCluster_; }
  // The FAT entry of cluster. Once a FAT sector has read in neither copy, an
  // entry that would read as free or cannot be read reads as bad instead.
  [[nodiscard]] FatEntry Entry(uint32_t cluster);
  // The clusters of the chain from first, at most `most` of them, ending where
  // the chain leaves the volume or loops.
  [[nodiscard]] std::vector<uint32_t> Chain(uint32_t first, uint32_t most);
  const DrivePacket& Root() const { return root_; }
  bool FixedRoot() const { return root_.kind == NodeKind::RootDir; }

  // Reads one cluster into out (ClusterBytes() bytes). False when a sector
  // failed; failedSectors (when given) then lists which sectors of the
  // cluster, from 0, read as the fill the sector access gives.
  [[nodiscard]] bool ReadCluster(uint32_t cluster, uint8_t* out,
                                 std::vector<uint32_t>* failedSectors = nullptr);

  // The bytes of a directory: the fixed root's sectors, or the clusters of a
  // live folder's chain from first (at most a folder's 65536 entries). False
  // when some part could not be read (what was read stays in out).
  [[nodiscard]] bool ReadRootDirectory(std::vector<uint8_t>& out);
  [[nodiscard]] bool ReadFolder(uint32_t first, std::vector<uint8_t>& out);
  // At most this many clusters make a folder.
  uint32_t FolderClusterMost() const;

 private:
  // Loads a directory node's bytes through the one directory loader.
  bool LoadDirectoryBytes(const DrivePacket& directory, std::vector<uint8_t>& out);

  DiskAccess& access_;
  DrivePacket root_;
  DrivePacket data_;  // cluster reads: startSector is the first data sector
  MemoryBudget limits_;  // buffers sized from the disk
  std::optional<FatReader> fat_;
  uint32_t lastCluster_ = 0;
};

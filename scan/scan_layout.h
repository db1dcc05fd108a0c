// What the scan needs of a volume's boot record and of its folders, in one
// place: the volume's layout (where the FATs, the fixed root and the data area
// lie, how many clusters there are and the FAT width) and the loading of a
// folder's clusters from the working FAT image.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"

struct ScanLayout {
  uint16_t width = 0;             // KindFat12, KindFat16 or KindFat32
  uint16_t sectorsPerCluster = 0;
  uint16_t reservedSectors = 0;   // FAT 1 starts here
  uint8_t fatCount = 0;
  uint32_t sectorsPerFat = 0;
  uint16_t rootEntries = 0;       // 12/16-bit fixed root
  uint32_t rootStart = 0;         // 12/16-bit fixed root, from the volume's start
  uint32_t rootSectors = 0;
  uint32_t dataStart = 0;         // cluster 2
  uint32_t totalSectors = 0;
  uint32_t clusterCount = 0;      // data clusters: 2 ... clusterCount + 1
  uint32_t rootCluster = 0;       // 32-bit volumes
  uint16_t heads = 0;
  uint16_t sectorsPerTrack = 0;
  uint32_t LastCluster() const { return clusterCount + 1; }
};

// The layout from a boot record; fat32Hint when the partition type says
// 32-bit FAT. The width follows the data-cluster count (below 4085 12-bit,
// below 65525 16-bit), 32-bit when the type or the record says so. Nothing
// for a record that describes no FAT volume (no sector or cluster size, FATs
// or a data area past the volume's end or past 32-bit sector numbers).
std::optional<ScanLayout> DecodeScanLayout(std::span<const uint8_t> boot, bool fat32Hint);

// A folder's bytes as loaded: its clusters in chain order (empty for the
// fixed root) and which sectors read cleanly.
struct ScanFolder {
  bool fixedRoot = false;
  std::vector<uint32_t> clusters;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> loaded;    // bytes as read, to find what the scan changed
  std::vector<bool> sectorRead;   // per sector: read cleanly
  size_t entryCount = 0;          // entries the folder holds (the fixed root: rootEntries)
  uint64_t FirstSectorOf(size_t sector, const ScanLayout& layout) const;
};

enum class FolderLoad { Loaded, PartlyRead, NoMemory, Empty };

// The fixed root of a 12/16-bit volume: rootEntries x 32 bytes from rootStart.
FolderLoad LoadFixedRoot(DiskAccess& access, const DrivePacket& volume, const ScanLayout& layout,
                         uint64_t memoryLimit, ScanFolder& folder);
// A folder's chain from first on the working FAT image, every cluster read
// into its place. Empty when first starts no chain.
FolderLoad LoadClusterFolder(DiskAccess& access, const DrivePacket& volume,
                             const ScanLayout& layout, std::span<const uint8_t> fat,
                             uint32_t first, uint64_t memoryLimit, ScanFolder& folder);

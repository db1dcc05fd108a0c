// The scan's folders as the one directory loader loads them: the fixed root,
// and a folder's clusters from the working FAT image, with each sector's read
// state kept (a folder written back must never get the filler of a sector
// that failed).
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/memory_budget.h"
#include "disk/volume_layout.h"

// A folder's bytes as loaded: its clusters in chain order (empty for the
// fixed root) and which sectors read cleanly.
struct ScanFolder {
  bool fixedRoot = false;
  std::vector<uint32_t> clusters;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> loaded;    // bytes as read, to find what the scan changed
  std::vector<bool> sectorRead;   // per sector: read cleanly
  size_t entryCount = 0;          // entries the folder holds (the fixed root: rootEntries)
  uint64_t FirstSectorOf(size_t sector, const VolumeLayout& layout) const;
};

enum class FolderLoad { Loaded, PartlyRead, NoMemory, Empty };

// The fixed root of a 12/16-bit volume: rootEntries x 32 bytes from rootStart.
[[nodiscard]] FolderLoad LoadFixedRoot(DiskAccess& access, const DrivePacket& volume, const VolumeLayout& layout,
                         MemoryBudget budget, ScanFolder& folder);
// A folder's chain from first on the working FAT image, every cluster read
// into its place. Empty when first starts no chain.
[[nodiscard]] FolderLoad LoadClusterFolder(DiskAccess& access, const DrivePacket& volume,
                             const VolumeLayout& layout, std::span<const uint8_t> fat,
                             uint32_t first, MemoryBudget budget, ScanFolder& folder);

// The one loader of a directory's bytes: the fixed root of a FAT12/16 volume
// (its sectors) or a folder (the clusters of its chain in a FAT copy held in
// memory, the 32-bit FAT root included). The tree, the listings, undelete,
// rename and the walks over a whole volume all load directories here, within
// the bounds of directory_extent.h, so a row maps to the same entry for all.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/memory_budget.h"

class FatReader;

struct DirectoryImage {
  enum class Status {
    Loaded,
    NoChain,        // a folder whose first cluster starts no chain in the FAT
    NoClusterList,  // the chain's cluster list is over the budget
    NoBuffer,       // the directory's bytes are over the budget
  };
  Status status = Status::NoChain;
  bool root = false;                // a fixed root: sectors from the node's startSector
  std::vector<uint8_t> bytes;       // as on disk; an unreadable sector reads as 0xE5 bytes
  std::vector<uint32_t> clusters;   // a folder's clusters, in chain order
  std::vector<bool> sectorRead;     // per 512 bytes of `bytes`: read cleanly
  // The directory was cut: a root extent past what a root holds or the volume
  // has, a chain past a folder's 65536 entries or leaving the volume.
  bool cut = false;

  bool Loaded() const { return status == Status::Loaded; }
  // Every loaded sector read cleanly.
  bool AllRead() const;
  // Loaded whole, and every sector read.
  bool Complete() const { return Loaded() && !cut && AllRead(); }
  // Whether the sector holding byte `offset` read cleanly.
  bool SectorRead(size_t offset) const;
};

// Loads directory: a root-directory node (NodeKind::RootDir) or a folder node whose
// startSector is the volume's first data sector. A folder's chain is walked
// in fat (a FAT copy of the node's width); a root needs none. Clusters are
// read one at a time and a failed one sector by sector, so one bad sector
// hides no entries but its own.
[[nodiscard]] DirectoryImage LoadDirectory(DiskAccess& access, MemoryBudget budget,
                                           const DrivePacket& directory,
                                           std::span<const uint8_t> fat);

// The same with a folder's chain read through the FAT cache: only the FAT
// sectors it lies in, each once. An entry whose sector cannot be read ends the
// chain there, and fat.Status() then says so.
[[nodiscard]] DirectoryImage LoadDirectory(DiskAccess& access, MemoryBudget budget,
                                           const DrivePacket& directory, FatReader& fat);

// The sector holding byte `offset` of a loaded image, counted from the
// directory node's startSector (as ReadNodeSectors and WriteNodeSectors take
// it); nullopt when the image has no such byte or it lies in no cluster.
[[nodiscard]] std::optional<uint32_t> DirectorySectorIndex(const DrivePacket& directory,
                                             const DirectoryImage& image, size_t offset);

// The File Allocation Table codec for the three widths, over one FAT copy held
// whole in memory exactly as on disk or over a FatReader that reads the
// sectors a walk needs through the FAT cache. Every walk is bounded: a link
// outside the table or a chain that loops ends it, and so does an entry whose
// sector cannot be read (the reader's Status() then says so).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"

class FatReader;

// What a FAT entry says of its cluster.
enum class FatEntryKind : uint8_t {
  Free,          // 0
  Next,          // a link: the chain goes on at `value` (2 up to below the bad mark)
  Bad,           // the bad-cluster mark
  End,           // an end-of-chain value (0xFF8 / 0xFFF8 / 0x0FFFFFF8 up)
  Reserved,      // the value 1: leads nowhere, yet is not free
  OutsideTable,  // no entry to read: cluster 0, an end value given as the
                 // cluster, an entry past the table or one whose sector
                 // cannot be read
};

struct FatEntry {
  FatEntryKind kind = FatEntryKind::OutsideTable;
  uint32_t value = 0;  // as stored (32-bit: the low 28 bits); 0 outside the table

  bool IsFree() const { return kind == FatEntryKind::Free; }
  // The next cluster of a chain, or 0 where the entry leads to none.
  uint32_t Next() const { return kind == FatEntryKind::Next ? value : 0; }
  bool operator==(const FatEntry&) const = default;
};

// Values for SetFatEntry: each width stores its own all-ones end value and
// its own bad mark from these.
inline constexpr uint32_t kFatEndMark = 0xFFFFFFFF;
inline constexpr uint32_t kFatBadMark = 0xFFFFFFF7;

// The width's bad mark (0xFF7, 0xFFF7, 0x0FFFFFF7); 0 for None.
inline constexpr uint32_t FatBadValue(FatWidth width) {
  switch (width) {
    case FatWidth::Fat12: return 0xFF7;
    case FatWidth::Fat16: return 0xFFF7;
    case FatWidth::Fat32: return 0x0FFFFFF7;
    case FatWidth::None: break;
  }
  return 0;
}
// Where cluster's entry lies in a table of width: its first byte and the
// bytes that hold it (a 12-bit entry shares them with its neighbour); length
// 0 for None.
struct FatEntryBytes {
  uint64_t offset = 0;
  uint32_t length = 0;
};
inline constexpr FatEntryBytes FatEntryPlace(uint32_t cluster, FatWidth width) {
  switch (width) {
    case FatWidth::Fat12: return {uint64_t{cluster} * 3 / 2, 2};
    case FatWidth::Fat16: return {uint64_t{cluster} * 2, 2};
    case FatWidth::Fat32: return {uint64_t{cluster} * 4, 4};
    case FatWidth::None: break;
  }
  return {};
}

// The highest number the width gives a cluster: the one below its bad mark.
inline constexpr uint32_t FatHighestCluster(FatWidth width) {
  return width == FatWidth::None ? 0 : FatBadValue(width) - 1;
}

// What a stored entry value (32-bit: its low 28 bits) says.
inline constexpr FatEntry ClassifyFatEntry(uint32_t stored, FatWidth width) {
  const uint32_t bad = FatBadValue(width);
  if (stored == 0) return {FatEntryKind::Free, 0};
  if (stored == 1) return {FatEntryKind::Reserved, 1};
  if (stored < bad) return {FatEntryKind::Next, stored};
  if (stored == bad) return {FatEntryKind::Bad, stored};
  return {FatEntryKind::End, stored};
}

// Number of entries the table in memory holds for a width, never more than
// the width can number (4096, 65536, 2^28); 0 for None.
uint32_t FatEntryCapacity(FatWidth width, size_t tableBytes);

// True for every end-of-chain value: from 0xFF8 / 0xFFF8 / 0x0FFFFFF8 up
// (32-bit: the low 28 bits). mkfs.fat ends chains with 0x0FFFFFF8.
bool IsFatChainEnd(uint32_t link, FatWidth width);

// The entry of cluster (32-bit: numbered by its low 28 bits). OutsideTable
// for cluster 0, an end-of-chain value given as the cluster, an entry past
// the table, and (through a FatReader) one whose sector cannot be read.
FatEntry GetFatEntry(uint32_t cluster, FatWidth width, std::span<const uint8_t> table);
FatEntry GetFatEntry(uint32_t cluster, FatReader& fat);

// Writes value into the entry of cluster, the arguments in GetFatEntry's
// order with the value last (12-bit: the neighbour's nibble is kept; 32-bit:
// the reserved top nibble is kept). False, and nothing written, for an entry
// outside the table or the width None. Whoever keeps a table in memory keeps
// its own record of whether it changed.
[[nodiscard]] bool SetFatEntry(uint32_t cluster, FatWidth width, std::span<uint8_t> table, uint32_t value);

// Distinct clusters in the chain from first (0 when first is below 2, an
// end value or outside the table). The walk counts a cluster and then stops
// when its entry is free, end of chain, 1, a link outside the table, or a
// link back to a cluster already counted (a loop).
uint32_t ChainLength(uint32_t first, FatWidth width, std::span<const uint8_t> table);
uint32_t ChainLength(uint32_t first, FatReader& fat);

// Lists up to count clusters (never more than list holds) of the chain from
// first, in chain order, with the same ends as ChainLength; returns the link
// stored after the last listed cluster (normally an end value; 32-bit: low 28
// bits). When the chain holds fewer clusters than asked for, the slots past
// it are set to 0 and the result is kFatEndMark.
uint32_t ListChain(uint32_t first, FatWidth width, std::span<uint32_t> list, uint32_t count,
                   std::span<const uint8_t> table);
uint32_t ListChain(uint32_t first, std::span<uint32_t> list, uint32_t count, FatReader& fat);

// Advances cluster while its entry is the bad value, at most to the first
// entry past the table. A cluster outside the table is left as it is.
void SkipBadEntries(std::span<const uint8_t> table, uint32_t& cluster, FatWidth width);

// The lowest free data cluster: from 2 up to volume.lastCluster, inside the
// table and below the bad mark; 0 when there is none.
uint32_t FindFreeCluster(const DrivePacket& volume, std::span<const uint8_t> table);
// The same, looking from cluster `from` on (clusters below it are known to be
// taken): a caller that takes many free clusters one after another keeps the
// last one found instead of reading the table from the start each time.
uint32_t FindFreeCluster(const DrivePacket& volume, std::span<const uint8_t> table, uint32_t from);
uint32_t FindFreeCluster(const DrivePacket& volume, FatReader& fat);

// Moves the first count clusters of list between the volume and buffer, one
// cluster after another: cluster c at packet.startSector + (c - 2) *
// sectorsPerCluster (packet.startSector is the first data sector). False,
// with nothing moved, when list is shorter than count, sectorsPerCluster is 0
// or a cluster is below 2 or lies past 32-bit sector numbers; else false at
// the first failed transfer, without trying the rest. count 0 moves nothing.
[[nodiscard]] bool ReadClusters(DiskAccess& access, std::span<const uint32_t> list, const DrivePacket& packet,
                  uint32_t count, uint8_t* buffer);
[[nodiscard]] bool WriteClusters(DiskAccess& access, std::span<const uint32_t> list, const DrivePacket& packet,
                   uint32_t count, const uint8_t* buffer);

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

// Width codes are the FAT node kinds: KindFat12 (4), KindFat16 (3), KindFat32
// (9). Any other code reads as 0 / an empty chain and writes nothing.
inline constexpr int32_t FatEntryBad = -9;  // 0xFFFFFFF7
inline constexpr int32_t FatEntryEnd = -1;

// Number of entries the table in memory holds for a width, never more than
// the width can number (4096, 65536, 2^28); 0 for an unknown width.
uint32_t FatEntryCapacity(uint16_t width, size_t tableBytes);

// True for every end-of-chain value: from 0xFF8 / 0xFFF8 / 0x0FFFFFF8 up
// (32-bit: the low 28 bits). mkfs.fat ends chains with 0x0FFFFFF8.
bool IsFatChainEnd(uint32_t link, uint16_t width);

// 0 for a free entry, for cluster 0 (28-bit mask), for an end-of-chain value
// given as the cluster, and for an entry outside the table; FatEntryBad,
// FatEntryEnd, or the entry's value (32-bit: its low 28 bits).
int32_t GetFatEntry(uint32_t cluster, uint16_t width, std::span<const uint8_t> table);
int32_t GetFatEntry(uint32_t cluster, FatReader& fat);

// Writes value into entry cluster (12-bit: the neighbour's nibble is kept;
// 32-bit: the reserved top nibble is kept). False, and nothing written, for
// an entry outside the table or an unknown width. Whoever keeps a table in
// memory keeps its own record of whether it changed.
[[nodiscard]] bool SetFatEntry(uint32_t value, uint32_t cluster, uint16_t width, std::span<uint8_t> table);

// Distinct clusters in the chain from first (0 when first is below 2, an
// end value or outside the table). The walk counts a cluster and then stops
// when its entry is free, end of chain, 1, a link outside the table, or a
// link back to a cluster already counted (a loop).
uint32_t ChainLength(uint32_t first, uint16_t width, std::span<const uint8_t> table);
uint32_t ChainLength(uint32_t first, FatReader& fat);

// Lists up to count clusters (never more than list holds) of the chain from
// first, in chain order, with the same ends as ChainLength; returns the link
// stored after the last listed cluster (normally an end value; 32-bit: low 28
// bits). When the chain holds fewer clusters than asked for, the slots past
// it are set to 0 and the result is 0xFFFFFFFF (FatEntryEnd's unsigned value).
uint32_t ListChain(uint32_t first, uint16_t width, std::span<uint32_t> list, uint32_t count,
                   std::span<const uint8_t> table);
uint32_t ListChain(uint32_t first, std::span<uint32_t> list, uint32_t count, FatReader& fat);

// Advances cluster while its entry is the bad value, at most to the first
// entry past the table. A cluster outside the table is left as it is.
void SkipBadEntries(std::span<const uint8_t> table, uint32_t& cluster, uint16_t width);

// The lowest free data cluster: from 2 up to the last one, (totalSectors -
// startSector) / sectorsPerCluster + 1, inside the table and below the bad
// value; 0 when there is none or the packet's sizes make no sense.
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

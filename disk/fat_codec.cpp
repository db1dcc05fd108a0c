#include "disk/fat_codec.h"
#include "disk/fat_reserved.h"

#include <algorithm>
#include <limits>

#include "disk/fat_copy.h"
#include "disk/le.h"
#include "disk/sector_access.h"

namespace {

constexpr uint32_t kMask28 = 0x0FFFFFFF;

struct Width {
  uint32_t bad = 0;       // the bad-cluster value
  uint32_t firstEnd = 0;  // the lowest end-of-chain value
  uint32_t entries = 0;   // how many entries the width can number
};

bool WidthOf(FatWidth code, Width& w) {
  switch (code) {
    case FatWidth::Fat12: w = {0xFF7, 0xFF8, 0x1000}; return true;
    case FatWidth::Fat16: w = {0xFFF7, 0xFFF8, 0x10000}; return true;
    case FatWidth::Fat32: w = {0x0FFFFFF7, 0x0FFFFFF8, 0x10000000}; return true;
    case FatWidth::None: break;
  }
  return false;
}

// The entry index a cluster argument names: 32-bit entries are numbered by
// their low 28 bits.
uint32_t IndexOf(uint32_t cluster, FatWidth width) {
  return width == FatWidth::Fat32 ? cluster & kMask28 : cluster;
}

// Where a walk takes its bytes: a copy held whole in memory, or a FatReader
// that reads the sectors it needs through the cache.
class HeldTable {
 public:
  explicit HeldTable(std::span<const uint8_t> table) : table_(table) {}
  uint64_t Bytes() const { return table_.size(); }
  bool Get(uint64_t at, uint8_t* out, size_t n) const {
    if (at > table_.size() || table_.size() - at < n) return false;
    std::copy_n(table_.begin() + static_cast<std::ptrdiff_t>(at), n, out);
    return true;
  }

 private:
  std::span<const uint8_t> table_;
};

class ReadTable {
 public:
  explicit ReadTable(FatReader& reader) : reader_(reader) {}
  uint64_t Bytes() const { return reader_.Bytes(); }
  bool Get(uint64_t at, uint8_t* out, size_t n) const { return reader_.Get(at, out, n); }

 private:
  FatReader& reader_;
};

uint32_t Capacity(FatWidth width, uint64_t bytes) {
  return FatEntryCapacity(width, static_cast<size_t>(std::min<uint64_t>(bytes, SIZE_MAX)));
}

// The raw entry (32-bit: low 28 bits); false outside the table and where its
// bytes cannot be had.
template <class Table>
bool ReadRaw(uint32_t index, FatWidth width, const Table& table, uint32_t& out) {
  if (index >= Capacity(width, table.Bytes())) return false;
  uint8_t b[4] = {};
  const std::span<const uint8_t> bytes(b);
  const FatEntryBytes at = FatEntryPlace(index, width);
  if (at.length == 0 || !table.Get(at.offset, b, at.length)) return false;
  switch (width) {
    case FatWidth::Fat12: {
      const uint16_t word = le16(bytes, 0);
      out = (index & 1) ? word >> 4 : word & 0xFFFu;
      return true;
    }
    case FatWidth::Fat16:
      out = le16(bytes, 0);
      return true;
    case FatWidth::Fat32:
      out = le32(bytes, 0) & kMask28;
      return true;
    case FatWidth::None: break;
  }
  return false;
}

// One step of a chain walk over a table: the next cluster after c, or false
// where the chain ends (free, 1, end of chain, a link outside the table).
// Loops are left to the caller.
template <class Table>
class ChainStep {
 public:
  ChainStep(FatWidth width, const Table& table)
      : width_(width), table_(table), capacity_(Capacity(width, table.Bytes())) {}

  // Whether c can start a chain: a data cluster whose entry is in the table.
  bool Starts(uint32_t c) const { return c >= 2 && c < capacity_; }

  // The link stored for c (c must be in the table).
  uint32_t Link(uint32_t c) const {
    uint32_t v = 0;
    ReadRaw(c, width_, table_, v);
    return v;
  }

  bool Next(uint32_t c, uint32_t& next) const {
    const uint32_t v = Link(c);
    if (v < 2 || v >= capacity_ || IsFatChainEnd(v, width_)) return false;
    next = v;
    return true;
  }

 private:
  FatWidth width_;
  const Table& table_;
  uint32_t capacity_;
};

// Distinct clusters from start (which must start a chain). Brent's cycle
// finding keeps this free of allocations: a scan measures every file's chain,
// and a visited bitmap per call would cost a FAT32 table's worth each time.
template <class Step>
uint32_t DistinctClusters(const Step& step, uint32_t start) {
  uint32_t power = 1, lambda = 1;
  uint32_t tortoise = start, hare = 0;
  uint32_t seen = 1;  // clusters up to and including the hare
  if (!step.Next(start, hare)) return 1;
  ++seen;
  while (tortoise != hare) {
    if (power == lambda) {
      tortoise = hare;
      power *= 2;
      lambda = 0;
    }
    uint32_t next = 0;
    if (!step.Next(hare, next)) return seen;  // no loop: every cluster was new
    hare = next;
    ++seen;
    ++lambda;
  }
  // A loop of lambda clusters; mu clusters lead into it.
  uint32_t ahead = start, behind = start, mu = 0;
  for (uint32_t i = 0; i < lambda; ++i) step.Next(ahead, ahead);
  while (ahead != behind) {
    step.Next(ahead, ahead);
    step.Next(behind, behind);
    ++mu;
  }
  return mu + lambda;
}

template <class Table>
FatEntry EntryOf(uint32_t cluster, FatWidth width, const Table& table) {
  if ((cluster & kMask28) == 0 || IsFatChainEnd(cluster, width)) return {};
  uint32_t v = 0;
  if (!ReadRaw(IndexOf(cluster, width), width, table, v)) return {};
  return ClassifyFatEntry(v, width);
}

template <class Table>
uint32_t LengthOf(uint32_t first, FatWidth width, const Table& table) {
  const ChainStep<Table> step(width, table);
  if (IsFatChainEnd(first, width)) return 0;
  const uint32_t start = IndexOf(first, width);
  return step.Starts(start) ? DistinctClusters(step, start) : 0;
}

template <class Table>
uint32_t ListOf(uint32_t first, FatWidth width, std::span<uint32_t> list, uint32_t count,
                const Table& table) {
  const uint32_t asked = static_cast<uint32_t>(std::min<size_t>(count, list.size()));
  if (asked == 0) return IndexOf(first, width);
  // Measuring first keeps a looping chain from being listed twice round.
  const uint32_t length = LengthOf(first, width, table);
  const uint32_t listed = std::min(asked, length);
  const ChainStep<Table> step(width, table);
  uint32_t c = IndexOf(first, width);
  for (uint32_t i = 0; i < listed; ++i) {
    list[i] = c;
    if (i + 1 < listed) step.Next(c, c);
  }
  std::fill(list.begin() + listed, list.begin() + asked, 0u);
  if (listed < asked) return kFatEndMark;
  return step.Link(c);
}

template <class Table>
uint32_t FirstFree(const DrivePacket& volume, const Table& table, uint32_t from = 2) {
  Width w;
  if (!WidthOf(volume.fatType, w)) return 0;
  // The table and the width bound a packet whose lastCluster is not the
  // layout's; for one that is, they never bite.
  const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(
      {uint64_t{volume.lastCluster} + 1, Capacity(volume.fatType, table.Bytes()), w.bad}));
  for (uint32_t c = std::max<uint32_t>(from, 2); c < limit; ++c) {
    uint32_t v = 0;
    if (ReadRaw(c, volume.fatType, table, v) && v == 0) return c;
  }
  return 0;
}

}  // namespace

uint32_t FatEntryCapacity(FatWidth width, size_t tableBytes) {
  Width w;
  if (!WidthOf(width, w)) return 0;
  size_t n = 0;
  switch (width) {
    case FatWidth::Fat12: n = tableBytes / 3 * 2 + (tableBytes % 3 == 2 ? 1 : 0); break;
    case FatWidth::Fat16: n = tableBytes / 2; break;
    default: n = tableBytes / 4; break;
  }
  return static_cast<uint32_t>(std::min<size_t>(n, w.entries));
}

bool IsFatChainEnd(uint32_t link, FatWidth width) {
  Width w;
  if (!WidthOf(width, w)) return false;
  if (width == FatWidth::Fat32) link &= kMask28;
  return link >= w.firstEnd && link < w.entries;
}

FatEntry GetFatEntry(uint32_t cluster, FatWidth width, std::span<const uint8_t> table) {
  return EntryOf(cluster, width, HeldTable(table));
}

FatEntry GetFatEntry(uint32_t cluster, FatReader& fat) {
  return EntryOf(cluster, fat.Width(), ReadTable(fat));
}

bool SetFatEntry(uint32_t cluster, FatWidth width, std::span<uint8_t> table, uint32_t value) {
  // Clusters past the width's numbering are refused rather than wrapped.
  if (cluster >= FatEntryCapacity(width, table.size())) return false;
  const auto off = static_cast<size_t>(FatEntryPlace(cluster, width).offset);
  switch (width) {
    case FatWidth::Fat12: {
      const uint16_t old = le16(table, off);
      const uint16_t word = (cluster & 1)
                                ? static_cast<uint16_t>((old & 0x000F) | (value << 4))
                                : static_cast<uint16_t>((old & 0xF000) | (value & 0x0FFF));
      putLe16(table, off, word);
      break;
    }
    case FatWidth::Fat16: putLe16(table, off, static_cast<uint16_t>(value)); break;
    case FatWidth::Fat32: {
      const uint32_t old = le32(table, off);
      putLe32(table, off, (old & ~kMask28) | (value & kMask28));
      break;
    }
    case FatWidth::None: return false;
  }
  return true;
}

uint32_t ChainLength(uint32_t first, FatWidth width, std::span<const uint8_t> table) {
  return LengthOf(first, width, HeldTable(table));
}

uint32_t ChainLength(uint32_t first, FatReader& fat) {
  return LengthOf(first, fat.Width(), ReadTable(fat));
}

uint32_t ListChain(uint32_t first, FatWidth width, std::span<uint32_t> list, uint32_t count,
                   std::span<const uint8_t> table) {
  return ListOf(first, width, list, count, HeldTable(table));
}

uint32_t ListChain(uint32_t first, std::span<uint32_t> list, uint32_t count, FatReader& fat) {
  return ListOf(first, fat.Width(), list, count, ReadTable(fat));
}

void SkipBadEntries(std::span<const uint8_t> table, uint32_t& cluster, FatWidth width) {
  Width w;
  if (!WidthOf(width, w)) return;
  const HeldTable held(table);
  uint32_t v = 0;
  while (ReadRaw(cluster, width, held, v) && v == w.bad) ++cluster;
}

uint32_t FindFreeCluster(const DrivePacket& volume, std::span<const uint8_t> table) {
  return FirstFree(volume, HeldTable(table));
}

uint32_t FindFreeCluster(const DrivePacket& volume, std::span<const uint8_t> table, uint32_t from) {
  return FirstFree(volume, HeldTable(table), from);
}

uint32_t FindFreeCluster(const DrivePacket& volume, FatReader& fat) {
  return FirstFree(volume, ReadTable(fat));
}

namespace {

// The packet for cluster c of a volume whose data starts at packet.startSector;
// false when c is no data cluster or its sectors pass 32-bit sector numbers.
bool ClusterPacket(const DrivePacket& packet, uint32_t c, DrivePacket& out) {
  if (c < 2) return false;
  const uint64_t start = packet.startSector + uint64_t{c - 2} * packet.sectorsPerCluster;
  if (start + packet.sectorsPerCluster - 1 > std::numeric_limits<uint32_t>::max()) return false;
  out = packet;
  out.sectorCount = packet.sectorsPerCluster;
  out.startSector = static_cast<uint32_t>(start);
  return true;
}

// Checks the whole list before anything moves: a damaged list is refused
// rather than half written.
bool ClustersUsable(std::span<const uint32_t> list, const DrivePacket& packet, uint32_t count) {
  if (list.size() < count || packet.sectorsPerCluster == 0) return false;
  DrivePacket scratch;
  for (uint32_t i = 0; i < count; ++i)
    if (!ClusterPacket(packet, list[i], scratch)) return false;
  return true;
}

template <bool Write, typename Buf>
bool TransferClusters(DiskAccess& access, std::span<const uint32_t> list,
                      const DrivePacket& packet, uint32_t count, Buf buffer) {
  if (count == 0) return true;
  if (buffer == nullptr || !ClustersUsable(list, packet, count)) return false;
  const size_t clusterBytes = size_t{packet.sectorsPerCluster} * kSectorSize;
  for (uint32_t i = 0; i < count; ++i) {
    DrivePacket p;
    ClusterPacket(packet, list[i], p);
    bool ok;
    if constexpr (Write)
      ok = WriteSectors(access, p, buffer + i * clusterBytes);
    else
      ok = ReadSectors(access, p, buffer + i * clusterBytes);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool ReadClusters(DiskAccess& access, std::span<const uint32_t> list, const DrivePacket& packet,
                  uint32_t count, uint8_t* buffer) {
  return TransferClusters<false>(access, list, packet, count, buffer);
}

bool WriteClusters(DiskAccess& access, std::span<const uint32_t> list, const DrivePacket& packet,
                   uint32_t count, const uint8_t* buffer) {
  return TransferClusters<true>(access, list, packet, count, buffer);
}

std::optional<uint32_t> ReservedFatEntry(uint32_t index, FatWidth width, std::span<const uint8_t> table) {
  uint32_t v = 0;
  if (index > 1 || !ReadRaw(index, width, HeldTable(table), v)) return std::nullopt;
  return v;
}

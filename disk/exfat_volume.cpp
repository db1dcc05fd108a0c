#include "disk/exfat_volume.h"

#include <algorithm>
#include <bit>
#include <map>

#include "disk/le.h"

const char* ExfatChainEndText(ExfatChainEnd end) {
  switch (end) {
    case ExfatChainEnd::End: return "End of chain";
    case ExfatChainEnd::Free: return "Chain runs into a free cluster";
    case ExfatChainEnd::Bad: return "Chain runs into a bad cluster";
    case ExfatChainEnd::OutOfRange: return "Chain leaves the cluster heap";
    case ExfatChainEnd::Loop: return "Chain loops";
    case ExfatChainEnd::TooLong: return "Chain longer than its file";
    case ExfatChainEnd::Unreadable: return "FAT not readable";
  }
  return "";
}

void ExfatChain::Append(uint32_t c) {
  if (!runs.empty() && uint64_t{runs.back().first} + runs.back().count == c)
    ++runs.back().count;
  else
    runs.push_back({c, 1});
  ++clusterTotal;
}

std::vector<uint32_t> ExfatChain::Clusters() const {
  std::vector<uint32_t> all;
  all.reserve(static_cast<size_t>(clusterTotal));
  for (const ExfatRun& r : runs)
    for (uint32_t i = 0; i < r.count; ++i) all.push_back(r.first + i);
  return all;
}

ExfatStream ExfatStreamOf(const ExfatEntrySet& set) {
  ExfatStream s;
  s.firstCluster = set.FirstCluster();
  s.dataLength = set.DataLength();
  s.noFatChain = set.NoFatChain();
  return s;
}

ExfatVolume::ExfatVolume(ExfatReader& reader, const ExfatBootSector& boot)
    : reader_(reader), boot_(boot), cache_(kExfatUnit) {
  // Sizes no sound boot sector has would overflow the shifts: such a volume
  // reads nothing.
  const bool sane = boot.bytesPerSectorShift >= kExfatMinSectorShift &&
                    boot.bytesPerSectorShift <= kExfatMaxSectorShift &&
                    boot.sectorsPerClusterShift <= kExfatMaxClusterShift - boot.bytesPerSectorShift &&
                    (boot.numberOfFats == 1 || boot.numberOfFats == 2);
  if (!sane) {
    boot_.bytesPerSectorShift = kExfatMinSectorShift;
    boot_.sectorsPerClusterShift = 0;
    boot_.clusterCount = 0;
    boot_.fatLength = 0;
  }
}

ExfatSetContext ExfatVolume::Context(const ExfatUpcase* upcase) const {
  ExfatSetContext c;
  c.clusterCount = boot_.clusterCount;
  c.bytesPerCluster = boot_.BytesPerCluster();
  c.upcase = upcase;
  return c;
}

std::optional<uint32_t> ExfatVolume::FatEntry(uint32_t c) { return FatEntry(c, boot_.ActiveFat()); }

std::optional<uint32_t> ExfatVolume::FatEntry(uint32_t c, uint32_t fat) {
  if (fat >= boot_.numberOfFats) return std::nullopt;
  const uint64_t offset = uint64_t{c} * 4;
  if (offset + 4 > uint64_t{boot_.fatLength} << boot_.bytesPerSectorShift) return std::nullopt;
  const uint64_t fatStart = boot_.UnitOfSector(uint64_t{boot_.fatOffset} + uint64_t{fat} * boot_.fatLength);
  const uint64_t unit = fatStart + offset / kExfatUnit;
  if (unit != cachedUnit_) {
    cachedUnit_ = UINT64_MAX;
    if (!reader_.Read(unit, cache_)) return std::nullopt;
    cachedUnit_ = unit;
  }
  return le32(cache_, offset % kExfatUnit);
}

namespace {

// The clusters a walk has been through, as runs of consecutive numbers: a
// file of few fragments costs a few nodes however long it is.
class VisitedRuns {
 public:
  bool Contains(uint32_t c) const {
    auto it = runs_.upper_bound(c);
    if (it == runs_.begin()) return false;
    --it;
    return c <= it->second;
  }
  // c is not in it yet.
  void Add(uint32_t c) {
    if (!runs_.empty() && last_->second + 1 == c) {
      last_->second = c;
      return;
    }
    last_ = runs_.emplace(c, c).first;
  }

 private:
  std::map<uint32_t, uint32_t> runs_;  // first -> last
  std::map<uint32_t, uint32_t>::iterator last_;
};

}  // namespace

ExfatChain ExfatVolume::WalkChain(uint32_t first, uint64_t maxClusters) {
  ExfatChain chain;
  maxClusters = std::min<uint64_t>(maxClusters, boot_.clusterCount);
  uint32_t c = first;
  if (!ClusterInHeap(c)) {
    chain.end = ExfatChainEnd::OutOfRange;
    chain.endValue = c;
    return chain;
  }
  VisitedRuns visited;
  for (;;) {
    if (visited.Contains(c)) {
      chain.end = ExfatChainEnd::Loop;
      chain.endValue = c;
      break;
    }
    if (chain.clusterTotal >= maxClusters) {
      chain.end = ExfatChainEnd::TooLong;
      chain.endValue = c;
      break;
    }
    chain.Append(c);
    visited.Add(c);
    const std::optional<uint32_t> next = FatEntry(c);
    if (!next) {
      chain.end = ExfatChainEnd::Unreadable;
      break;
    }
    chain.endValue = *next;
    if (*next == kExfatFatEnd) {
      chain.end = ExfatChainEnd::End;
      break;
    }
    if (*next == kExfatFatFree || *next == kExfatFatBad || !ClusterInHeap(*next)) {
      chain.end = *next == kExfatFatFree  ? ExfatChainEnd::Free
                  : *next == kExfatFatBad ? ExfatChainEnd::Bad
                                          : ExfatChainEnd::OutOfRange;
      break;
    }
    c = *next;
  }
  return chain;
}

ExfatChain ExfatVolume::StreamClusters(const ExfatStream& stream) {
  const uint64_t perCluster = BytesPerCluster();
  uint64_t needed = 0;
  uint64_t limit = 0;
  if (stream.lengthKnown) {
    needed = stream.dataLength / perCluster + (stream.dataLength % perCluster != 0);
    limit = needed;
  } else {
    limit = kExfatMaxDirectoryBytes / perCluster + (kExfatMaxDirectoryBytes % perCluster != 0);
  }
  if (stream.lengthKnown && needed == 0) return ExfatChain{};
  if (!stream.noFatChain) {
    ExfatChain chain = WalkChain(stream.firstCluster, limit);
    chain.clustersNeeded = needed;
    return chain;
  }
  ExfatChain run;
  run.clustersNeeded = needed;
  // A run without a length cannot be told; only the first cluster is sure.
  const uint64_t count = stream.lengthKnown ? needed : 1;
  const uint64_t heapEnd = uint64_t{kExfatFirstCluster} + boot_.clusterCount;
  if (!ClusterInHeap(stream.firstCluster)) {
    run.end = ExfatChainEnd::OutOfRange;
    run.endValue = stream.firstCluster;
    return run;
  }
  const uint64_t inHeap = std::min<uint64_t>(count, heapEnd - stream.firstCluster);
  run.runs.push_back({stream.firstCluster, static_cast<uint32_t>(inHeap)});
  run.clusterTotal = inHeap;
  if (inHeap < count) {
    run.end = ExfatChainEnd::OutOfRange;
    run.endValue = static_cast<uint32_t>(stream.firstCluster + inHeap);
  }
  return run;
}

bool ExfatVolume::ReadCluster(uint32_t c, std::span<uint8_t> out) {
  if (!ClusterInHeap(c) || out.size() != BytesPerCluster()) return false;
  return reader_.Read(boot_.UnitOfCluster(c), out);
}

bool ExfatVolume::ReadClusterStart(uint32_t c, std::span<uint8_t> out) {
  if (!ClusterInHeap(c) || out.empty() || out.size() > BytesPerCluster() || out.size() % kExfatUnit != 0)
    return false;
  return reader_.Read(boot_.UnitOfCluster(c), out);
}

namespace {

// The entries of dir from byte begin to byte end (a readable stretch).
void DecodeStretch(ExfatDirectory& dir, size_t begin, size_t end, const ExfatSetContext& context) {
  const std::span<const uint8_t> bytes(dir.bytes.data() + begin, end - begin);
  ExfatSets found = DecodeExfatEntrySets(bytes, context);
  for (ExfatEntrySet& set : found.sets) {
    set.firstEntry += begin / kExfatEntrySize;
    dir.sets.push_back(std::move(set));
  }
  if (found.endSeen) dir.endSeen = true;
}

bool HasEndMark(std::span<const uint8_t> cluster) {
  for (size_t at = 0; at < cluster.size(); at += kExfatEntrySize)
    if (cluster[at] == kExfatEndOfDirectory) return true;
  return false;
}

}  // namespace

void DecodeExfatDirectory(ExfatDirectory& dir, const ExfatSetContext& context) {
  dir.sets.clear();
  dir.endSeen = false;
  if (dir.clustersRead.empty()) return;
  const size_t perCluster = dir.bytes.size() / dir.clustersRead.size();
  size_t begin = 0;
  for (size_t i = 0; i <= dir.clustersRead.size() && !dir.endSeen; ++i) {
    const bool bad = i < dir.readable.size() && !dir.readable[i];
    if (i == dir.clustersRead.size() || bad) {
      if (i * perCluster > begin) DecodeStretch(dir, begin, i * perCluster, context);
      begin = (i + 1) * perCluster;
    }
  }
}

bool AppendExfatDirectoryCluster(ExfatDirectory& dir, uint32_t c, std::span<const uint8_t> bytes, bool readable) {
  dir.clustersRead.push_back(c);
  dir.readable.push_back(readable);
  if (!readable) {
    dir.unreadable.push_back(c);
    dir.bytes.resize(dir.bytes.size() + bytes.size(), 0);
    return false;
  }
  dir.bytes.insert(dir.bytes.end(), bytes.begin(), bytes.end());
  return HasEndMark(bytes);
}

ExfatDirectory ReadExfatDirectory(ExfatVolume& volume, const ExfatStream& stream,
                                  const ExfatSetContext& context) {
  ExfatDirectory dir;
  ExfatStream s = stream;
  if (s.lengthKnown && s.dataLength > kExfatMaxDirectoryBytes) {
    s.dataLength = kExfatMaxDirectoryBytes;
    dir.tooLarge = true;
  }
  dir.chain = volume.StreamClusters(s);
  const size_t perCluster = static_cast<size_t>(volume.BytesPerCluster());
  if (!s.lengthKnown && dir.chain.end == ExfatChainEnd::TooLong) dir.tooLarge = true;
  std::vector<uint8_t> cluster(perCluster);
  bool ended = false;
  for (const ExfatRun& run : dir.chain.runs) {
    for (uint32_t i = 0; i < run.count && !ended; ++i) {
      const uint32_t c = run.first + i;
      const bool ok = volume.ReadCluster(c, cluster);
      ended = AppendExfatDirectoryCluster(dir, c, cluster, ok);
    }
  }
  DecodeExfatDirectory(dir, context);
  return dir;
}

ExfatBitmap::ExfatBitmap(std::vector<uint8_t> bits, uint32_t clusterCount)
    : bits_(std::move(bits)), clusterCount_(clusterCount) {}

bool ExfatBitmap::InUse(uint32_t c) const {
  if (c < kExfatFirstCluster || c - kExfatFirstCluster >= clusterCount_) return false;
  const uint64_t bit = c - kExfatFirstCluster;
  if (bit / 8 >= bits_.size()) return true;
  return (bits_[bit / 8] >> (bit % 8)) & 1;
}

uint64_t ExfatBitmap::UsedCount() const {
  const uint64_t covered = std::min<uint64_t>(clusterCount_, uint64_t{bits_.size()} * 8);
  uint64_t used = clusterCount_ - covered;
  for (uint64_t byte = 0; byte < covered / 8; ++byte) used += std::popcount(bits_[byte]);
  for (uint64_t bit = covered / 8 * 8; bit < covered; ++bit) used += (bits_[bit / 8] >> (bit % 8)) & 1;
  return used;
}

std::vector<ExfatBitmap::Run> ExfatBitmap::Runs(uint32_t from, size_t maxRuns) const {
  std::vector<Run> runs;
  if (from < kExfatFirstCluster) from = kExfatFirstCluster;
  const uint64_t end = uint64_t{kExfatFirstCluster} + clusterCount_;
  const uint64_t coveredEnd = kExfatFirstCluster + std::min<uint64_t>(clusterCount_, uint64_t{bits_.size()} * 8);
  uint64_t c = from;
  while (c < end && runs.size() < maxRuns) {
    const bool used = InUse(static_cast<uint32_t>(c));
    uint64_t next = c + 1;
    while (next < end) {
      // Past the bitmap's bytes every cluster counts as used: one run.
      if (next >= coveredEnd) {
        if (used) next = end;
        break;
      }
      // Whole bytes of the same state at a time, then bit by bit.
      const uint64_t bit = next - kExfatFirstCluster;
      if (bit % 8 == 0 && coveredEnd - next >= 8 && bits_[bit / 8] == (used ? 0xFF : 0x00)) {
        next += 8;
        continue;
      }
      if (InUse(static_cast<uint32_t>(next)) != used) break;
      ++next;
    }
    runs.push_back({static_cast<uint32_t>(c), static_cast<uint32_t>(next - c), used});
    c = next;
  }
  return runs;
}

const char* ExfatMetaProblemText(ExfatMetaProblem problem) {
  switch (problem) {
    case ExfatMetaProblem::RootIncomplete: return "Root directory damaged";
    case ExfatMetaProblem::BitmapMissing: return "No allocation bitmap entry";
    case ExfatMetaProblem::BitmapTooShort: return "Allocation bitmap too short";
    case ExfatMetaProblem::BitmapUnreadable: return "Allocation bitmap not readable";
    case ExfatMetaProblem::UpcaseMissing: return "No up-case table entry";
    case ExfatMetaProblem::UpcaseTooLarge: return "Up-case table too large";
    case ExfatMetaProblem::UpcaseUnreadable: return "Up-case table not readable";
    case ExfatMetaProblem::UpcaseChecksumMismatch: return "Up-case table checksum wrong";
  }
  return "";
}

std::string ExfatMetadata::Label() const {
  return labelEntry ? ExfatNameToUtf8(labelEntry->primary.units) : std::string();
}

namespace {

// The first bytes of a stream, at most want of them; false when a cluster
// could not be read or the chain gave fewer clusters than want needs.
bool ReadStreamBytes(ExfatVolume& volume, const ExfatStream& stream, uint64_t want,
                     std::vector<uint8_t>& out) {
  ExfatStream s = stream;
  s.dataLength = std::min(s.dataLength, want);
  const ExfatChain chain = volume.StreamClusters(s);
  const size_t perCluster = static_cast<size_t>(volume.BytesPerCluster());
  out.clear();
  std::vector<uint8_t> cluster(perCluster);
  // Grown a cluster at a time as the reads succeed: a length from a damaged
  // entry takes no memory the volume does not back.
  for (const ExfatRun& run : chain.runs) {
    for (uint32_t i = 0; i < run.count && out.size() < s.dataLength; ++i) {
      if (!volume.ReadCluster(run.first + i, cluster)) return false;
      const size_t take = static_cast<size_t>(std::min<uint64_t>(perCluster, s.dataLength - out.size()));
      out.insert(out.end(), cluster.begin(), cluster.begin() + static_cast<std::ptrdiff_t>(take));
    }
  }
  return chain.Complete();
}

}  // namespace

ExfatMetadata LoadExfatMetadata(ExfatVolume& volume) {
  using P = ExfatMetaProblem;
  ExfatMetadata meta;
  const ExfatBootSector& boot = volume.Boot();
  ExfatStream rootStream;
  rootStream.firstCluster = boot.rootCluster;
  rootStream.lengthKnown = false;
  meta.root = ReadExfatDirectory(volume, rootStream, volume.Context());
  if (!meta.root.unreadable.empty() ||
      (meta.root.chain.end != ExfatChainEnd::End && !meta.root.endSeen))
    meta.problems.push_back(P::RootIncomplete);

  for (const ExfatEntrySet& set : meta.root.sets) {
    if (set.deleted) continue;
    switch (set.kind) {
      case ExfatEntryKind::AllocationBitmap:
        if (!meta.bitmapEntry || (set.primary.flags & 1) == boot.ActiveFat()) meta.bitmapEntry = set;
        break;
      case ExfatEntryKind::UpcaseTable:
        if (!meta.upcaseEntry) meta.upcaseEntry = set;
        break;
      case ExfatEntryKind::VolumeLabel:
        if (!meta.labelEntry) meta.labelEntry = set;
        break;
      case ExfatEntryKind::VolumeGuid:
        if (!meta.guidEntry) meta.guidEntry = set;
        break;
      default:
        break;
    }
  }

  if (!meta.bitmapEntry) {
    meta.problems.push_back(P::BitmapMissing);
  } else {
    const uint64_t needed = (uint64_t{boot.clusterCount} + 7) / 8;
    if (meta.bitmapEntry->primary.dataLength < needed) meta.problems.push_back(P::BitmapTooShort);
    std::vector<uint8_t> bits;
    if (!ReadStreamBytes(volume, ExfatStreamOf(*meta.bitmapEntry), needed, bits)) {
      meta.problems.push_back(P::BitmapUnreadable);
    } else {
      meta.bitmap.emplace(std::move(bits), boot.clusterCount);
    }
  }

  if (!meta.upcaseEntry) {
    meta.problems.push_back(P::UpcaseMissing);
  } else if (meta.upcaseEntry->primary.dataLength > kExfatUpcaseMaxBytes) {
    meta.problems.push_back(P::UpcaseTooLarge);
  } else {
    std::vector<uint8_t> table;
    const ExfatStream s = ExfatStreamOf(*meta.upcaseEntry);
    if (!ReadStreamBytes(volume, s, s.dataLength, table)) {
      meta.problems.push_back(P::UpcaseUnreadable);
    } else {
      meta.upcaseComputedChecksum = ExfatUpcaseChecksum(table);
      if (meta.upcaseComputedChecksum != meta.upcaseEntry->primary.tableChecksum)
        meta.problems.push_back(P::UpcaseChecksumMismatch);
      else
        meta.upcase = ExfatUpcase::FromTable(table);
    }
  }
  if (meta.upcase) DecodeExfatDirectory(meta.root, volume.Context(&*meta.upcase));
  return meta;
}

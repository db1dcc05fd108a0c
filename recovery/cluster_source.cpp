#include "recovery/cluster_source.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "disk/raw_road.h"
#include "disk/read_ahead.h"
#include "disk/sector_access.h"

bool ClusterGeometry::Valid() const {
  const bool powerOfTwo = clusterBytes != 0 && (clusterBytes & (clusterBytes - 1)) == 0;
  return powerOfTwo && clusterBytes >= 512 && clusterBytes <= (2u << 20) && lastCluster >= 2 &&
         lastCluster <= 0x0FFFFFF6;
}

MemoryClusterSource::MemoryClusterSource(std::span<const uint8_t> data,
                                         const ClusterGeometry& geometry,
                                         std::vector<ByteRange> unreadable)
    : data_(data), geometry_(geometry), bad_(std::move(unreadable)) {
  std::sort(bad_.begin(), bad_.end(),
            [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
}

bool MemoryClusterSource::Read(uint32_t first, uint32_t count, std::span<uint8_t> out,
                               std::vector<ByteRange>& unreadable) {
  unreadable.clear();
  const uint64_t bytes = uint64_t{count} * geometry_.clusterBytes;
  if (first < 2 || out.size() < bytes) {
    unreadable.push_back({0, out.size()});
    return false;
  }
  const uint64_t from = uint64_t{first - 2} * geometry_.clusterBytes;
  clustersRead += count;
  // What lies past the end of the data reads as unreadable, as past a disk's end.
  const uint64_t have = from < data_.size() ? std::min<uint64_t>(bytes, data_.size() - from) : 0;
  if (have > 0) std::memcpy(out.data(), data_.data() + from, have);
  for (const ByteRange& b : bad_) {
    const uint64_t lo = std::max(b.offset, from);
    const uint64_t hi = std::min(b.offset + b.length, from + have);
    if (lo < hi) unreadable.push_back({lo - from, hi - lo});
  }
  if (have < bytes) unreadable.push_back({have, bytes - have});
  // Adjacent ranges are merged so that readers see each hole once.
  std::vector<ByteRange> merged;
  for (const ByteRange& r : unreadable) {
    if (!merged.empty() && merged.back().offset + merged.back().length >= r.offset)
      merged.back().length = std::max(merged.back().offset + merged.back().length,
                                      r.offset + r.length) - merged.back().offset;
    else
      merged.push_back(r);
  }
  unreadable = std::move(merged);
  return unreadable.empty();
}

DiskClusterSource::DiskClusterSource(DiskAccess& access, const DrivePacket& volume)
    : access_(access), volume_(VolumeNodeOf(volume)) {}

bool DiskClusterSource::Read(uint32_t first, uint32_t count, std::span<uint8_t> out,
                             std::vector<ByteRange>& unreadable) {
  unreadable.clear();
  const uint64_t perCluster = volume_.sectorsPerCluster;
  const uint64_t bytes = uint64_t{count} * perCluster * kSectorSize;
  if (first < 2 || perCluster == 0 || out.size() < bytes) {
    unreadable.push_back({0, out.size()});
    return false;
  }
  const uint64_t sector = uint64_t{volume_.dataStart} + (first - 2) * perCluster;
  std::vector<uint64_t> bad;
  if (ReadRawSectors(access_, volume_, sector, out.first(static_cast<size_t>(bytes)), bad))
    return true;
  // Sector numbers to byte ranges of out, neighbours joined.
  for (const uint64_t s : bad) {
    const uint64_t at = (s - sector) * kSectorSize;
    if (!unreadable.empty() && unreadable.back().offset + unreadable.back().length == at)
      unreadable.back().length += kSectorSize;
    else
      unreadable.push_back({at, kSectorSize});
  }
  return false;
}

size_t DiskClusterSource::Readers() const { return RawReaders(access_, volume_.drive); }

namespace {

// A run as a reader thread leaves it for the readers of its bytes.
struct ClusterSlot {
  uint32_t first = 0;
  uint32_t count = 0;
  std::span<uint8_t> bytes;  // in the pass's RunMemory
  std::vector<ByteRange> unreadable;
  bool whole = true;  // what the read answered
};

}  // namespace

ClusterRunTotals ForEachClusterRun(ClusterSource& source, const ClusterGeometry& geometry,
                                   const ClusterRunOptions& options,
                                   const std::function<void(const ClusterRun&)>& visit) {
  ClusterRunTotals totals;
  if (!geometry.Valid()) return totals;
  const uint64_t perRun = std::clamp<uint64_t>(options.runBytes / geometry.clusterBytes, 1,
                                               geometry.lastCluster - 1);
  // Two runs read ahead of the one worked on, and one more for each further
  // reader, so that each has a read in flight.
  const size_t readers = std::max<size_t>(1, source.Readers());
  const size_t depth = 2 + readers;
  RunMemory memory(depth, static_cast<size_t>(perRun * geometry.clusterBytes));
  // The runs are picked one after another (skip is asked there), under a
  // lock, by whichever reader comes first for the next one; the k-th run is
  // kept until its slot is filled again. The readers' work and the progress
  // stay on this thread.
  struct Picked {
    uint32_t first = 0;
    uint32_t count = 0;
  };
  std::mutex picking;
  std::vector<Picked> picked(depth);
  uint64_t pickedCount = 0;
  uint32_t next = 2;
  std::atomic<bool> atEnd{false};
  auto pick = [&](uint64_t k, Picked& run) {
    std::lock_guard<std::mutex> lock(picking);
    while (pickedCount <= k) {
      uint32_t c = next;
      while (c <= geometry.lastCluster && options.skip && options.skip(c)) ++c;
      if (c > geometry.lastCluster) {
        next = c;
        atEnd = true;
        return false;
      }
      uint32_t count = 1;
      while (count < perRun && uint64_t{c} + count <= geometry.lastCluster &&
             !(options.skip && options.skip(c + count)))
        ++count;
      picked[pickedCount++ % depth] = {c, count};
      next = c + count;
    }
    run = picked[k % depth];
    return true;
  };
  ReadAhead<ClusterSlot> reader(depth, [&](ClusterSlot& slot, uint64_t k) {
    Picked run;
    if (!pick(k, run)) return false;
    if (options.stop && options.stop->load()) return false;
    slot.first = run.first;
    slot.count = run.count;
    slot.bytes = std::span<uint8_t>(memory.Run(k % depth), uint64_t{run.count} * geometry.clusterBytes);
    slot.whole = source.Read(run.first, run.count, slot.bytes, slot.unreadable);
    // A failure that names no range leaves none of the run trusted.
    if (!slot.whole && slot.unreadable.empty()) slot.unreadable.push_back({0, slot.bytes.size()});
    return true;
  }, readers);
  for (;;) {
    ClusterSlot* slot = reader.Next();
    if (slot == nullptr) {
      totals.stopped = !atEnd;
      break;
    }
    if (options.stop && options.stop->load()) {
      totals.stopped = true;
      break;
    }
    const ClusterRun run{slot->first, slot->count, slot->bytes, slot->unreadable, slot->whole};
    for (const ByteRange& r : slot->unreadable) {
      totals.unreadableBytes += r.length;
      totals.unreadableSectors += static_cast<uint32_t>((r.length + 511) / 512);
    }
    totals.clustersRead += slot->count;
    visit(run);
    const uint32_t last = slot->first + slot->count - 1;
    reader.Release();
    if (options.progress) options.progress(last);
  }
  return totals;
}

std::vector<uint32_t> ClustersTouched(const ClusterRun& run, uint32_t clusterBytes) {
  std::vector<uint32_t> touched;
  if (clusterBytes == 0) return touched;
  for (const ByteRange& r : run.unreadable) {
    if (r.length == 0) continue;
    const uint64_t lo = r.offset / clusterBytes;
    const uint64_t hi = std::min<uint64_t>((r.offset + r.length - 1) / clusterBytes, run.count - 1);
    for (uint64_t k = lo; k <= hi; ++k) {
      const uint32_t c = run.first + static_cast<uint32_t>(k);
      if (touched.empty() || touched.back() != c) touched.push_back(c);
    }
  }
  return touched;
}

std::vector<ByteRange> UnreadableIn(std::span<const ByteRange> ranges, uint64_t from,
                                    uint64_t length) {
  std::vector<ByteRange> in;
  for (const ByteRange& r : ranges) {
    const uint64_t lo = std::max(r.offset, from);
    const uint64_t hi = std::min(r.offset + r.length, from + length);
    if (lo < hi) in.push_back({lo - from, hi - lo});
  }
  return in;
}

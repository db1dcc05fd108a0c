#include "disk/raw_road.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>

#include "disk/read_ahead.h"
#include "disk/sector_access.h"

bool ReadRawSectors(DiskAccess& access, const DrivePacket& node, uint64_t first,
                    std::span<uint8_t> buffer, std::vector<uint64_t>& unreadable) {
  const uint64_t count = buffer.size() / kSectorSize;
  if (count == 0) return true;
  const uint64_t last = first + count - 1;
  if (last <= UINT32_MAX &&
      ReadNodeSectors(access, node, static_cast<uint32_t>(first),
                      buffer.first(static_cast<size_t>(count * kSectorSize)), LibraryChunks::Whole))
    return true;
  // A failed run may have stopped at its first bad chunk and left the rest
  // as it was: every sector is read again, so that each one is known.
  bool whole = true;
  for (uint64_t i = 0; i < count; ++i) {
    const std::span<uint8_t> place = buffer.subspan(static_cast<size_t>(i * kSectorSize), kSectorSize);
    const uint64_t s = first + i;
    if (s <= UINT32_MAX && ReadNodeSectors(access, node, static_cast<uint32_t>(s), place)) continue;
    std::fill(place.begin(), place.end(), kRawUnreadableFill);
    unreadable.push_back(s);
    whole = false;
  }
  return whole;
}

bool RawRun::TouchesUnreadable(uint64_t from, uint64_t length) const {
  if (length == 0 || unreadable.empty()) return false;
  const uint64_t lo = first + from / kSectorSize;
  const uint64_t hi = first + (from + length - 1) / kSectorSize;
  const auto it = std::lower_bound(unreadable.begin(), unreadable.end(), lo);
  return it != unreadable.end() && *it <= hi;
}

RunMemory::RunMemory(size_t runs, size_t runBytes) : runBytes_(runBytes) {
  const size_t bytes = std::max<size_t>(1, runs * runBytes);
  if (bytes >= kHugePage) {
    const size_t whole = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    block_ = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, whole));
    // Only advice: without huge pages the block is used as it is.
    if (block_ != nullptr) static_cast<void>(::madvise(block_, whole, MADV_HUGEPAGE));
  } else {
    block_ = static_cast<uint8_t*>(std::malloc(bytes));
  }
  if (block_ == nullptr) throw std::bad_alloc();
}

RunMemory::~RunMemory() { std::free(block_); }

size_t RawReaders(const DiskAccess& access, uint16_t drive) {
  return access.ParallelReads(drive) ? 2 : 1;
}

namespace {

// Eight runs in all: those read ahead, handed over four at a time (see
// ReadAhead), the one worked on, and the one before it that a piece may
// still reach back into.
constexpr size_t kAheadRuns = 8;

struct RawSlot {
  uint64_t first = 0;
  std::span<uint8_t> bytes;  // in the reading's RunMemory
  std::vector<uint64_t> unreadable;
  bool whole = true;  // what the read answered
  uint64_t End() const { return first + bytes.size() / kSectorSize; }
};

// The readers' work: the k-th run of the range, until its end or a stop.
// Called on several threads at once, each time for another run.
std::function<bool(RawSlot&, uint64_t)> FillRuns(DiskAccess& access, const DrivePacket& node,
                                                 uint64_t first, uint64_t count,
                                                 const RawRoadOptions& options) {
  const uint64_t perRun = std::min<uint64_t>(std::max<uint32_t>(1, options.runSectors), count);
  const uint64_t runs = count == 0 ? 0 : (count + perRun - 1) / perRun;
  // ReadAhead fills the k-th run into slot k (modulo the slots).
  auto memory = std::make_shared<RunMemory>(kAheadRuns, static_cast<size_t>(perRun * kSectorSize));
  return [&access, node, first, count, perRun, runs, memory,
          stop = options.stop](RawSlot& run, uint64_t k) {
    if (k >= runs || (stop && stop->load())) return false;
    const uint64_t done = k * perRun;
    const uint64_t n = std::min(perRun, count - done);
    run.first = first + done;
    run.bytes = std::span<uint8_t>(memory->Run(k % kAheadRuns), static_cast<size_t>(n * kSectorSize));
    run.unreadable.clear();
    run.whole = ReadRawSectors(access, node, run.first, run.bytes, run.unreadable);
    if (!run.whole && run.unreadable.empty()) {
      // A failure that names no sector leaves none of them trusted.
      std::fill(run.bytes.begin(), run.bytes.end(), kRawUnreadableFill);
      for (uint64_t s = run.first; s < run.End(); ++s) run.unreadable.push_back(s);
    }
    return true;
  };
}

}  // namespace

struct RawReader::Ahead {
  ReadAhead<RawSlot> reader;
  std::deque<RawSlot*> held;  // taken, oldest first
  Ahead(std::function<bool(RawSlot&, uint64_t)> fill, size_t readers)
      : reader(kAheadRuns, std::move(fill), readers) {}
};

RawReader::RawReader(DiskAccess& access, const DrivePacket& node, uint64_t first, uint64_t count,
                     const RawRoadOptions& options)
    : ahead_(std::make_unique<Ahead>(FillRuns(access, node, first, count, options),
                                     RawReaders(access, node.drive))) {}

RawReader::~RawReader() = default;

void RawReader::Hold(uint64_t from, uint64_t to) {
  std::deque<RawSlot*>& held = ahead_->held;
  // Runs wholly before this piece are done with.
  while (!held.empty() && held.front()->End() <= from) {
    held.pop_front();
    ahead_->reader.Release();
  }
  while (held.empty() || held.back()->End() < to) {
    RawSlot* run = ahead_->reader.Next();
    if (run == nullptr) break;
    sectorsRead_ += run->bytes.size() / kSectorSize;
    if (run->End() <= from) {
      ahead_->reader.Release();
      continue;
    }
    held.push_back(run);
  }
}

std::span<const uint8_t> RawReader::View(uint64_t from, std::span<uint8_t> buffer,
                                         std::vector<uint64_t>& unreadable, bool& whole) {
  const uint64_t to = from + buffer.size() / kSectorSize;
  Hold(from, to);
  for (const RawSlot* run : ahead_->held) {
    if (run->first > from || to > run->End() || to == from) continue;
    whole = true;
    if (!run->whole)
      for (auto b = std::lower_bound(run->unreadable.begin(), run->unreadable.end(), from);
           b != run->unreadable.end() && *b < to; ++b) {
        unreadable.push_back(*b);
        whole = false;
      }
    return std::span<const uint8_t>(run->bytes).subspan((from - run->first) * kSectorSize,
                                                        (to - from) * kSectorSize);
  }
  whole = Read(from, buffer, unreadable);
  return buffer;
}

bool RawReader::Read(uint64_t from, std::span<uint8_t> buffer, std::vector<uint64_t>& unreadable) {
  const uint64_t to = from + buffer.size() / kSectorSize;
  Hold(from, to);
  std::deque<RawSlot*>& held = ahead_->held;
  bool whole = true;
  for (uint64_t s = from; s < to;) {
    const auto it = std::find_if(held.begin(), held.end(),
                                 [s](const RawSlot* r) { return r->first <= s && s < r->End(); });
    uint8_t* place = buffer.data() + (s - from) * kSectorSize;
    if (it == held.end()) {
      std::fill(place, place + kSectorSize, kRawUnreadableFill);
      unreadable.push_back(s);
      whole = false;
      ++s;
      continue;
    }
    const RawSlot& run = **it;
    const uint64_t upto = std::min(to, run.End());
    std::memcpy(place, run.bytes.data() + (s - run.first) * kSectorSize,
                static_cast<size_t>((upto - s) * kSectorSize));
    for (auto b = run.whole ? run.unreadable.end() : std::lower_bound(run.unreadable.begin(), run.unreadable.end(), s);
         b != run.unreadable.end() && *b < upto; ++b) {
      unreadable.push_back(*b);
      whole = false;
    }
    s = upto;
  }
  return whole;
}

RawRoadTotals ForEachRawRun(DiskAccess& access, const DrivePacket& node, uint64_t first,
                            uint64_t count, const RawRoadOptions& options,
                            const std::function<bool(const RawRun&)>& visit) {
  RawRoadTotals totals;
  if (count == 0) return totals;
  ReadAhead<RawSlot> reader(kAheadRuns, FillRuns(access, node, first, count, options),
                            RawReaders(access, node.drive));
  uint64_t done = 0;
  while (done < count) {
    if (options.stop && options.stop->load()) {
      totals.stopped = true;
      break;
    }
    RawSlot* slot = reader.Next();
    if (slot == nullptr) {
      totals.stopped = options.stop && options.stop->load();
      break;
    }
    const RawRun run{slot->first, slot->bytes, slot->unreadable, slot->whole};
    totals.sectorsRead += run.Sectors();
    totals.unreadableSectors += slot->unreadable.size();
    done += run.Sectors();
    const bool more = visit(run);
    reader.Release();
    if (!more) break;
  }
  return totals;
}

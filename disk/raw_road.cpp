#include "disk/raw_road.h"

#include <algorithm>

#include "disk/sector_access.h"

bool ReadRawSectors(DiskAccess& access, const DrivePacket& node, uint64_t first,
                    std::span<uint8_t> buffer, std::vector<uint64_t>& unreadable) {
  const uint64_t count = buffer.size() / kSectorSize;
  if (count == 0) return true;
  const uint64_t last = first + count - 1;
  if (last <= UINT32_MAX &&
      ReadNodeSectors(access, node, static_cast<uint32_t>(first),
                      buffer.first(static_cast<size_t>(count * kSectorSize))))
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

RawRoadTotals ForEachRawRun(DiskAccess& access, const DrivePacket& node, uint64_t first,
                            uint64_t count, const RawRoadOptions& options,
                            const std::function<bool(const RawRun&)>& visit) {
  RawRoadTotals totals;
  const uint64_t perRun = std::max<uint32_t>(1, options.runSectors);
  std::vector<uint8_t> buffer;
  std::vector<uint64_t> unreadable;
  for (uint64_t done = 0; done < count;) {
    if (options.stop && options.stop->load()) {
      totals.stopped = true;
      break;
    }
    const uint64_t n = std::min(perRun, count - done);
    buffer.resize(static_cast<size_t>(n * kSectorSize));
    unreadable.clear();
    (void)ReadRawSectors(access, node, first + done, buffer, unreadable);  // unreadable says what failed
    totals.sectorsRead += n;
    totals.unreadableSectors += unreadable.size();
    const RawRun run{first + done, buffer, unreadable};
    done += n;
    if (!visit(run)) break;
  }
  return totals;
}

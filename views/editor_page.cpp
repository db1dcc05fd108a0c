#include "views/editor_page.h"

#include <algorithm>
#include <limits>

#include "disk/cluster_place.h"
#include "views/list_ops.h"

namespace {
constexpr uint64_t kSectorNumbers = uint64_t{std::numeric_limits<uint32_t>::max()} + 1;
}  // namespace

void EnterRawKind(ViewPage& page, DumpModes modes) {
  if (modes.rawDump && page.viewKind == ViewKind::SectorDump)
    page.viewKind = ViewKind::RawSectorDump;
}

PageKind ShownPageKind(const ViewPage& page) {
  switch (page.viewKind) {
    case ViewKind::ClusterDump:
      return PageKind::Cluster;
    case ViewKind::SectorDump:
    case ViewKind::RawSectorDump:
      return PageKind::Sector;
    default:
      return PageKind::None;
  }
}

uint64_t PageCount(const ViewPage& page, PageKind kind) {
  switch (kind) {
    case PageKind::Cluster:
      return std::min<uint64_t>(page.chainLength, page.clusterChain.size());
    case PageKind::Sector:
      return page.shownPacket.sectorCount;
    default:
      return 0;
  }
}

bool ClusterPageSector(const ViewPage& page, uint32_t index, uint32_t& firstSector) {
  if (index >= PageCount(page, PageKind::Cluster) || page.sectorsPerPage == 0) return false;
  const DrivePacket& packet = page.shownPacket;
  const uint32_t cluster = page.clusterChain[index];
  // The bounds the cluster dump reads within; the disk's own sector number
  // (partitionStart added) is 64-bit and holds any of them.
  if (!ClusterInsideVolume(packet, cluster, page.sectorsPerPage)) return false;
  const uint64_t first = ClusterFirstSector(packet, cluster, page.sectorsPerPage);
  if (first + page.sectorsPerPage > kSectorNumbers) return false;
  firstSector = static_cast<uint32_t>(first);
  return true;
}

bool SectorPageSector(const DrivePacket& packet, uint64_t index, uint32_t& sector) {
  const uint64_t s = packet.startSector + index;
  if (s >= kSectorNumbers) return false;
  sector = static_cast<uint32_t>(s);
  return true;
}

void RepaintPageRows(ViewPage& page, PageKind kind) {
  page.rows.clear();
  ++page.rowsGeneration;
  const uint64_t sectors = kind == PageKind::Sector ? 1 : page.sectorsPerPage;
  AddCallbackRows(page, sectors * kDumpRowsPerSector);
}

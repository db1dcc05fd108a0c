#include "views/editor_page.h"

#include <algorithm>
#include <limits>

#include "disk/cluster_place.h"
#include "views/list_ops.h"

namespace {
constexpr uint64_t kSectorNumbers = uint64_t{std::numeric_limits<uint32_t>::max()} + 1;
}  // namespace

void EnterRawKind(ViewPage& pane, DumpModes modes) {
  if (modes.rawDump && pane.viewKind == ViewKind::SectorDump)
    pane.viewKind = ViewKind::RawSectorDump;
}

PageKind ShownPageKind(const ViewPage& pane) {
  switch (pane.viewKind) {
    case ViewKind::ClusterDump:
      return PageKind::Cluster;
    case ViewKind::SectorDump:
    case ViewKind::RawSectorDump:
      return PageKind::Sector;
    default:
      return PageKind::None;
  }
}

uint64_t PageCount(const ViewPage& pane, PageKind kind) {
  switch (kind) {
    case PageKind::Cluster:
      return std::min<uint64_t>(pane.chainLength, pane.clusterChain.size());
    case PageKind::Sector:
      return pane.shownPacket.sectorCount;
    default:
      return 0;
  }
}

bool ClusterPageSector(const ViewPage& pane, uint32_t index, uint32_t& firstSector) {
  if (index >= PageCount(pane, PageKind::Cluster) || pane.sectorsPerPage == 0) return false;
  const DrivePacket& packet = pane.shownPacket;
  const uint32_t cluster = pane.clusterChain[index];
  // The bounds the cluster dump reads within; the disk's own sector number
  // (partitionStart added) is 64-bit and holds any of them.
  if (!ClusterInsideVolume(packet, cluster, pane.sectorsPerPage)) return false;
  const uint64_t first = ClusterFirstSector(packet, cluster, pane.sectorsPerPage);
  if (first + pane.sectorsPerPage > kSectorNumbers) return false;
  firstSector = static_cast<uint32_t>(first);
  return true;
}

bool SectorPageSector(const DrivePacket& packet, uint64_t index, uint32_t& sector) {
  const uint64_t s = packet.startSector + index;
  if (s >= kSectorNumbers) return false;
  sector = static_cast<uint32_t>(s);
  return true;
}

void RepaintPageRows(ViewPage& pane, PageKind kind) {
  pane.rows.clear();
  ++pane.rowsGeneration;
  const uint64_t sectors = kind == PageKind::Sector ? 1 : pane.sectorsPerPage;
  AddCallbackRows(pane, sectors * kDumpRowsPerSector);
}

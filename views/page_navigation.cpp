#include "views/page_navigation.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "views/editor_page.h"
#include "views/hex_dump.h"
#include "views/list_ops.h"

namespace {

// What a failed read leaves in the page: the fill the sector access uses for
// unreadable sectors, never the bytes of the page shown before.
constexpr uint8_t kUnreadFill = 0xE5;

void ShowClusterPage(ViewContext& ctx) {
  ListPaneState& pane = ctx.pane;
  std::fill(pane.sectorBuffer.begin(), pane.sectorBuffer.end(), kUnreadFill);
  uint32_t first = 0;
  bool read = false;
  if (ClusterPageSector(pane, pane.pageIndex, first)) {
    read = ReadClusterPage(ctx, pane.shownPacket, pane.clusterChain[pane.pageIndex]);
  } else {
    // No sector to name for a cluster that has no place on the volume.
    ctx.Prompt().SetStatus(1, "");
  }
  if (!read) ctx.Prompt().Message(kEditorClusterNotAccessible);
  RepaintPageRows(pane, PageKind::Cluster);
}

void ShowSectorPage(ViewContext& ctx) {
  ListPaneState& pane = ctx.pane;
  if (pane.sectorBuffer.size() < kSectorSize) pane.sectorBuffer.resize(kSectorSize);
  std::fill(pane.sectorBuffer.begin(), pane.sectorBuffer.end(), kUnreadFill);
  uint32_t sector = 0;
  if (SectorPageSector(pane.shownPacket, pane.pageIndex, sector)) {
    if (ReadDumpSector(ctx, pane.shownPacket)) return;  // rows and status are in place
  } else {
    ctx.Prompt().Message(kEditorSectorNotAccessible);
  }
  RepaintPageRows(pane, PageKind::Sector);
  char status[48];
  std::snprintf(status, sizeof status, "Current Sector Number: %" PRIu64,
                uint64_t{pane.shownPacket.startSector} + pane.pageIndex);
  ctx.Prompt().SetStatus(1, status);
}

bool Step(ViewContext& ctx, DumpModes modes, bool forward) {
  ListPaneState& pane = ctx.pane;
  EnterRawKind(pane, modes);
  bool& allowed = forward ? pane.canGoNext : pane.canGoPrevious;
  if (!allowed) return false;
  ctx.Prompt().SetStatus(0, "");
  const PageKind kind = ShownPageKind(pane);
  if (kind == PageKind::None) return false;
  const uint64_t count = PageCount(pane, kind);
  const uint64_t index = pane.pageIndex;
  // A flag out of step with the page (a chain shorter than the page number,
  // the last sector of the extent) moves nothing and is put right.
  bool movable;
  if (forward)
    movable = index + 1 < count;
  else
    // A sector page may lie past the extent after a jump; it steps back freely.
    movable = index > 0 && (kind == PageKind::Sector || index - 1 < count);
  if (!movable) {
    allowed = false;
    return false;
  }
  pane.pageIndex = static_cast<uint32_t>(forward ? index + 1 : index - 1);
  pane.canGoPrevious = pane.pageIndex != 0;
  pane.canGoNext = uint64_t{pane.pageIndex} + 1 < count;
  if (kind == PageKind::Cluster)
    ShowClusterPage(ctx);
  else
    ShowSectorPage(ctx);
  ctx.Prompt().SetStatus(0, "");
  return true;
}

}  // namespace

bool GoPrevious(ViewContext& ctx, DumpModes modes) { return Step(ctx, modes, false); }

bool GoNext(ViewContext& ctx, DumpModes modes) { return Step(ctx, modes, true); }

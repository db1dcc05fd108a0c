#include "views/page_navigation.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "views/editor_page.h"
#include "views/fat_views.h"
#include "views/hex_dump.h"
#include "views/list_ops.h"

#include <cstdint>

namespace {

// A page that does not read is marked unreadable sector by sector; the bytes
// of the page shown before are never left to pass for its own.
void ShowClusterPage(ViewContext& ctx) {
  ViewPage& pane = ctx.page;
  std::fill(pane.sectorBuffer.begin(), pane.sectorBuffer.end(), uint8_t{0});
  uint32_t first = 0;
  bool read = false;
  if (ClusterPageSector(pane, pane.pageIndex, first)) {
    read = ReadClusterPage(ctx, pane.shownPacket, pane.clusterChain[pane.pageIndex]);
  } else {
    // No sector to name for a cluster that has no place on the volume.
    pane.unreadableSectors.assign(pane.sectorsPerPage, 1);
    ctx.Prompt().SetStatus(1, "");
  }
  if (!read) ctx.Prompt().Message(kEditorClusterNotAccessible);
  RepaintPageRows(pane, PageKind::Cluster);
}

void ShowSectorPage(ViewContext& ctx) {
  ViewPage& pane = ctx.page;
  if (pane.sectorBuffer.size() < kSectorSize) pane.sectorBuffer.resize(kSectorSize);
  std::fill(pane.sectorBuffer.begin(), pane.sectorBuffer.end(), uint8_t{0});
  uint32_t sector = 0;
  if (SectorPageSector(pane.shownPacket, pane.pageIndex, sector)) {
    if (ReadDumpSector(ctx, pane.shownPacket)) return;  // rows and status are in place
  } else {
    pane.unreadableSectors.assign(1, 1);
    ctx.Prompt().Message(kEditorSectorNotAccessible);
  }
  RepaintPageRows(pane, PageKind::Sector);
  char status[48];
  std::snprintf(status, sizeof status, "Current Sector Number: %" PRIu64,
                uint64_t{pane.shownPacket.startSector} + pane.pageIndex);
  ctx.Prompt().SetStatus(1, status);
}

// Puts page pane.pageIndex of what is on show into the list (a FAT table's
// page when fat) and empties the first status pane; false when a sector of
// the page did not read.
bool ShowPage(ViewContext& ctx, bool fat, PageKind kind) {
  bool read;
  if (fat) {
    read = ShowFatTablePage(ctx);
  } else {
    if (kind == PageKind::Cluster)
      ShowClusterPage(ctx);
    else
      ShowSectorPage(ctx);
    read = !PageHasUnreadableSector(ctx.page);
  }
  ctx.Prompt().SetStatus(0, "");
  return read;
}

bool Step(ViewContext& ctx, DumpModes modes, bool forward) {
  ViewPage& pane = ctx.page;
  EnterRawKind(pane, modes);
  bool& allowed = forward ? pane.canGoNext : pane.canGoPrevious;
  if (!allowed) return false;
  ctx.Prompt().SetStatus(0, "");
  const PageKind kind = ShownPageKind(pane);
  const bool fat = FatTableShown(pane);
  if (kind == PageKind::None && !fat) return false;
  const uint64_t count = fat ? FatTablePageCount(pane.shownPacket) : PageCount(pane, kind);
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
  // The step was made; a page that did not read says so in its rows.
  static_cast<void>(ShowPage(ctx, fat, kind));
  return true;
}

}  // namespace

bool GoToPage(ViewContext& ctx, DumpModes modes, uint64_t page) {
  ViewPage& pane = ctx.page;
  EnterRawKind(pane, modes);
  const PageKind kind = ShownPageKind(pane);
  const bool fat = FatTableShown(pane);
  if (kind == PageKind::None && !fat) return false;
  const uint64_t count = fat ? FatTablePageCount(pane.shownPacket) : PageCount(pane, kind);
  if (page >= count || page > UINT32_MAX) {
    char text[128];
    std::snprintf(text, sizeof text, kPagePastItem,
                  static_cast<unsigned long>(count == 0 ? 0 : count - 1));
    ctx.Prompt().Message(text);
    return false;
  }
  if (page == pane.pageIndex) return true;
  ctx.Prompt().SetStatus(0, "");
  pane.pageIndex = static_cast<uint32_t>(page);
  pane.canGoPrevious = page != 0;
  pane.canGoNext = page + 1 < count;
  return ShowPage(ctx, fat, kind);
}

bool ReadPageAgain(ViewContext& ctx, DumpModes modes) {
  ViewPage& pane = ctx.page;
  EnterRawKind(pane, modes);
  const PageKind kind = ShownPageKind(pane);
  if (kind == PageKind::None) return false;
  return ShowPage(ctx, false, kind);
}

bool GoPrevious(ViewContext& ctx, DumpModes modes) { return Step(ctx, modes, false); }

bool GoNext(ViewContext& ctx, DumpModes modes) { return Step(ctx, modes, true); }

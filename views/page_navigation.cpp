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
  ViewPage& page = ctx.page;
  std::fill(page.sectorBuffer.begin(), page.sectorBuffer.end(), uint8_t{0});
  uint32_t first = 0;
  bool read = false;
  if (ClusterPageSector(page, page.pageIndex, first)) {
    read = ReadClusterPage(ctx, page.shownPacket, page.clusterChain[page.pageIndex]);
  } else {
    // No sector to name for a cluster that has no place on the volume.
    page.unreadableSectors.assign(page.sectorsPerPage, 1);
    ctx.Prompt().SetStatus(1, "");
  }
  if (!read) ctx.Prompt().Message(kEditorClusterNotAccessible);
  RepaintPageRows(page, PageKind::Cluster);
}

void ShowSectorPage(ViewContext& ctx) {
  ViewPage& page = ctx.page;
  if (page.sectorBuffer.size() < kSectorSize) page.sectorBuffer.resize(kSectorSize);
  std::fill(page.sectorBuffer.begin(), page.sectorBuffer.end(), uint8_t{0});
  uint32_t sector = 0;
  if (SectorPageSector(page.shownPacket, page.pageIndex, sector)) {
    if (ReadDumpSector(ctx, page.shownPacket)) return;  // rows and status are in place
  } else {
    page.unreadableSectors.assign(1, 1);
    ctx.Prompt().Message(kEditorSectorNotAccessible);
  }
  RepaintPageRows(page, PageKind::Sector);
  char status[48];
  std::snprintf(status, sizeof status, "Current Sector Number: %" PRIu64,
                uint64_t{page.shownPacket.startSector} + page.pageIndex);
  ctx.Prompt().SetStatus(1, status);
}

// Puts page page.pageIndex of what is on show into the list (a FAT table's
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
  ViewPage& page = ctx.page;
  EnterRawKind(page, modes);
  bool& allowed = forward ? page.canGoNext : page.canGoPrevious;
  if (!allowed) return false;
  ctx.Prompt().SetStatus(0, "");
  const PageKind kind = ShownPageKind(page);
  const bool fat = FatTableShown(page);
  if (kind == PageKind::None && !fat) return false;
  const uint64_t count = fat ? FatTablePageCount(page.shownPacket) : PageCount(page, kind);
  const uint64_t index = page.pageIndex;
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
  page.pageIndex = static_cast<uint32_t>(forward ? index + 1 : index - 1);
  page.canGoPrevious = page.pageIndex != 0;
  page.canGoNext = uint64_t{page.pageIndex} + 1 < count;
  // The step was made; a page that did not read says so in its rows.
  static_cast<void>(ShowPage(ctx, fat, kind));
  return true;
}

}  // namespace

bool GoToPage(ViewContext& ctx, DumpModes modes, uint64_t target) {
  ViewPage& page = ctx.page;
  EnterRawKind(page, modes);
  const PageKind kind = ShownPageKind(page);
  const bool fat = FatTableShown(page);
  if (kind == PageKind::None && !fat) return false;
  const uint64_t count = fat ? FatTablePageCount(page.shownPacket) : PageCount(page, kind);
  if (target >= count || target > UINT32_MAX) {
    char text[128];
    std::snprintf(text, sizeof text, kPagePastItem,
                  static_cast<unsigned long>(count == 0 ? 0 : count - 1));
    ctx.Prompt().Message(text);
    return false;
  }
  if (target == page.pageIndex) return true;
  ctx.Prompt().SetStatus(0, "");
  page.pageIndex = static_cast<uint32_t>(target);
  page.canGoPrevious = target != 0;
  page.canGoNext = target + 1 < count;
  return ShowPage(ctx, fat, kind);
}

bool ReadPageAgain(ViewContext& ctx, DumpModes modes) {
  ViewPage& page = ctx.page;
  EnterRawKind(page, modes);
  const PageKind kind = ShownPageKind(page);
  if (kind == PageKind::None) return false;
  return ShowPage(ctx, false, kind);
}

bool GoPrevious(ViewContext& ctx, DumpModes modes) { return Step(ctx, modes, false); }

bool GoNext(ViewContext& ctx, DumpModes modes) { return Step(ctx, modes, true); }

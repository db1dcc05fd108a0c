#include "views/fat_views.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "disk/fat_copy.h"
#include "disk/sector_access.h"
#include "views/list_ops.h"

namespace {

constexpr const char* kFatNotAccessible = "FAT not accessible!";

struct FatLayout {
  ViewKind kind;
  const char* titleFormat;
};

void ShowFatTable(ViewContext& ctx, const DrivePacket& packet, const FatLayout& layout) {
  ViewPage& page = ctx.page;
  ResetList(ctx);
  page.viewKind = layout.kind;
  ctx.Prompt().SetStatus(0, kWaitText);
  page.columns.push_back({"FAT Entry"});
  for (unsigned i = 0; i < 16; ++i) {
    char title[12];
    std::snprintf(title, sizeof title, layout.titleFormat, i);
    page.columns.push_back({title});
  }

  // The copy's size comes from the boot record; a damaged one must not make
  // us take more than the volume holds, nor read a page past the disk's end.
  const uint64_t sectors = packet.sectorCount;
  if (sectors == 0 || (packet.totalSectors != 0 && sectors > packet.totalSectors) ||
      (sectors > kProbeAboveSectors && !LastSectorReads(ctx.access, packet))) {
    page.viewKind = ViewKind::None;
    ctx.Prompt().Message(kFatNotAccessible);
    return;
  }
  page.shownPacket = packet;
  page.pageIndex = 0;
  page.canGoPrevious = false;
  page.canGoNext = FatTablePageCount(packet) > 1;
  // An unreadable 12-bit page is not listed, and the first pane keeps its
  // "Wait....".
  if (!ShowFatTablePage(ctx) && layout.kind == ViewKind::Fat12Table) return;
  ctx.Prompt().SetStatus(0, "");
}

}  // namespace

bool FatTableShown(const ViewPage& page) {
  return page.viewKind == ViewKind::Fat12Table || page.viewKind == ViewKind::Fat16Table ||
         page.viewKind == ViewKind::Fat32Table;
}

uint64_t FatTablePageCount(const DrivePacket& copy) {
  return copy.sectorCount == 0 ? 1 : (uint64_t{copy.sectorCount} + kFatPageSectors - 1) / kFatPageSectors;
}

bool ShowFatTablePage(ViewContext& ctx) {
  ViewPage& page = ctx.page;
  const ViewKind kind = page.viewKind;
  page.rows.clear();
  ++page.rowsGeneration;
  const uint64_t first = uint64_t{page.pageIndex} * kFatPageSectors;
  const DrivePacket& copy = page.shownPacket;
  const uint64_t sectors =
      first < copy.sectorCount ? std::min<uint64_t>(kFatPageSectors, copy.sectorCount - first) : 0;
  if (sectors == 0 || !TakeBuffer(page.budget, page.sectorBuffer, sectors * kSectorSize)) {
    std::vector<uint8_t>().swap(page.sectorBuffer);
    ctx.Prompt().Message(kFatNotAccessible);
    return false;
  }
  DrivePacket extent = copy;
  extent.startSector = static_cast<uint32_t>(copy.startSector + first);
  extent.sectorCount = static_cast<uint32_t>(sectors);
  const bool read = ReadSectors(ctx.access, extent, page.sectorBuffer.data());
  char status[48];
  std::snprintf(status, sizeof status, "Current Sector Number: %" PRIu32, extent.startSector);
  ctx.Prompt().SetStatus(1, status);
  if (!read) {
    ctx.Prompt().Message(kFatNotAccessible);
    // Unreadable sectors hold 0xE5 now; the 16- and 32-bit tables show them
    // as such, the 12-bit table is not listed.
    if (kind == ViewKind::Fat12Table) return false;
  }
  switch (kind) {
    case ViewKind::Fat12Table:
      // 16 entries of 12 bits are 24 bytes: a sector is 21 1/3 rows, and the
      // last row of a copy that is not a multiple of 3 sectors runs past its
      // end (FormatCell leaves those cells empty).
      AddCallbackRows(page, (sectors * 64 + 2) / 3, 1);
      break;
    case ViewKind::Fat16Table:
      AddCallbackRows(page, sectors * 16, 32);
      break;
    default:
      AddCallbackRows(page, sectors * 8, 64);
      break;
  }
  return read;
}

void ShowFat12Table(ViewContext& ctx, const DrivePacket& packet) {
  ShowFatTable(ctx, packet, {ViewKind::Fat12Table, "%03X"});
}

void ShowFat16Table(ViewContext& ctx, const DrivePacket& packet) {
  ShowFatTable(ctx, packet, {ViewKind::Fat16Table, "%04X"});
}

void ShowFat32Table(ViewContext& ctx, const DrivePacket& packet) {
  ShowFatTable(ctx, packet, {ViewKind::Fat32Table, "%08X"});
}

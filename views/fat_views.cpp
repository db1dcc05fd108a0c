#include "views/fat_views.h"

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
  int columnWidth;
};

void ShowFatTable(ViewContext& ctx, const DrivePacket& packet, const FatLayout& layout) {
  ListPaneState& pane = ctx.pane;
  ResetList(ctx);
  pane.viewKind = layout.kind;
  ctx.Prompt().SetStatus(0, kWaitText);
  pane.columns.push_back({"FAT Entry", 100});
  for (unsigned i = 0; i < 16; ++i) {
    char title[12];
    std::snprintf(title, sizeof title, layout.titleFormat, i);
    pane.columns.push_back({title, layout.columnWidth});
  }

  // The copy's size comes from the boot record; a damaged one must not make
  // us take more than the volume holds.
  const uint64_t sectors = packet.sectorCount;
  if (!DiskSizeFits(pane, packet, sectors) ||
      (sectors > kProbeAboveSectors && !LastSectorReads(ctx.access, packet)) ||
      !TakeBuffer(pane.budget, pane.sectorBuffer, sectors * kSectorSize)) {
    pane.viewKind = ViewKind::None;
    ctx.Prompt().Message(kFatNotAccessible);
    return;
  }
  if (!ReadSectors(ctx.access, packet, pane.sectorBuffer.data())) {
    ctx.Prompt().Message(kFatNotAccessible);
    // Unreadable sectors hold 0xE5 now; the 16- and 32-bit tables show them
    // as such, the 12-bit table is not listed.
    if (layout.kind == ViewKind::Fat12Table) return;
  }

  switch (layout.kind) {
    case ViewKind::Fat12Table:
      // 16 entries of 12 bits are 24 bytes: a sector is 21 1/3 rows, and the
      // last row of a copy that is not a multiple of 3 sectors runs past its
      // end (FormatCell leaves those cells empty).
      AddCallbackRows(pane, (sectors * 64 + 2) / 3, 1);
      break;
    case ViewKind::Fat16Table:
      AddCallbackRows(pane, sectors * 16, 32);
      break;
    default:
      AddCallbackRows(pane, sectors * 8, 64);
      break;
  }
  char status[48];
  std::snprintf(status, sizeof status, "Current Sector Number: %" PRIu32, packet.startSector);
  ctx.Prompt().SetStatus(1, status);
  ctx.Prompt().SetStatus(0, "");
}

}  // namespace

void ShowFat12Table(ViewContext& ctx, const DrivePacket& packet) {
  ShowFatTable(ctx, packet, {ViewKind::Fat12Table, "%03X", 35});
}

void ShowFat16Table(ViewContext& ctx, const DrivePacket& packet) {
  ShowFatTable(ctx, packet, {ViewKind::Fat16Table, "%04X", 40});
}

void ShowFat32Table(ViewContext& ctx, const DrivePacket& packet) {
  ShowFatTable(ctx, packet, {ViewKind::Fat32Table, "%08X", 75});
}

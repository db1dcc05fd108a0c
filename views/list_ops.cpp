#include "views/list_ops.h"

#include <cstdio>

void ResetList(ViewContext& ctx) {
  ctx.Prompt().SetStatus(0, kWaitText);
  ctx.page.rows.clear();
  ++ctx.page.rowsGeneration;
  ctx.page.columns.clear();
}

void AddHexColumns(ViewPage& pane, int offsetWidth) {
  char title[8];
  pane.columns.push_back({"Offset", offsetWidth});
  for (int i = 0; i < 16; ++i) {
    std::snprintf(title, sizeof title, "%02X", i);
    pane.columns.push_back({title, 30});
  }
  pane.columns.push_back({"", 15});
  for (int i = 0; i < 16; ++i) {
    std::snprintf(title, sizeof title, "%01X", i);
    pane.columns.push_back({title, 20});
  }
}

void AddCallbackRows(ViewPage& pane, uint64_t count, uint64_t step, uint64_t first) {
  pane.rows.reserve(pane.rows.size() + count);
  for (uint64_t i = 0; i < count; ++i) pane.rows.push_back({first + i * step, {}});
}

bool PageHasUnreadableSector(const ViewPage& pane) {
  for (uint8_t u : pane.unreadableSectors)
    if (u != 0) return true;
  return false;
}

bool ByteUnreadable(const ViewPage& pane, uint64_t offset) {
  const uint64_t sector = offset / kSectorSize;
  return sector < pane.unreadableSectors.size() && pane.unreadableSectors[sector] != 0;
}

bool DiskSizeFits(const ViewPage& pane, const DrivePacket& volume, uint64_t sectors) {
  if (sectors == 0) return false;
  if (volume.totalSectors != 0 && sectors > volume.totalSectors) return false;
  return sectors <= pane.budget.limit / kSectorSize;
}

#include "views/list_ops.h"

#include <cstdio>

void ResetList(ViewContext& ctx) {
  ctx.Prompt().SetStatus(0, kWaitText);
  ctx.page.rows.clear();
  ++ctx.page.rowsGeneration;
  ctx.page.columns.clear();
}

void AddHexColumns(ViewPage& page) {
  char title[8];
  page.columns.push_back({"Offset"});
  for (int i = 0; i < 16; ++i) {
    std::snprintf(title, sizeof title, "%02X", i);
    page.columns.push_back({title});
  }
  page.columns.push_back({""});
  for (int i = 0; i < 16; ++i) {
    std::snprintf(title, sizeof title, "%01X", i);
    page.columns.push_back({title});
  }
}

void AddCallbackRows(ViewPage& page, uint64_t count, uint64_t step, uint64_t first) {
  page.rows.reserve(page.rows.size() + count);
  for (uint64_t i = 0; i < count; ++i) page.rows.push_back({first + i * step, {}});
}

bool PageHasUnreadableSector(const ViewPage& page) {
  for (uint8_t u : page.unreadableSectors)
    if (u != 0) return true;
  return false;
}

bool ByteUnreadable(const ViewPage& page, uint64_t offset) {
  const uint64_t sector = offset / kSectorSize;
  return sector < page.unreadableSectors.size() && page.unreadableSectors[sector] != 0;
}

bool DiskSizeFits(const ViewPage& page, const DrivePacket& volume, uint64_t sectors) {
  if (sectors == 0) return false;
  if (volume.totalSectors != 0 && sectors > volume.totalSectors) return false;
  return sectors <= page.budget.limit / kSectorSize;
}

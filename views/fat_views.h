// The FAT copy views: one FAT copy as a table of 16 entries a row, in
// hexadecimal, decoded on demand by FormatCell from the page of the copy held
// in page.sectorBuffer. Nothing is interpreted.
//
// A copy is shown a page at a time, as the dumps are: a terabyte volume's FAT
// is a gigabyte, of which one page is read and held. A page is
// kFatPageSectors sectors, a whole number of 12-bit rows (24 bytes) and more
// than any 12- or 16-bit FAT has, so only a large 32-bit copy has more than
// one. page.pageIndex is the page on show; Previous, Next and GoToPage step
// through them.
#pragma once
#include <cstdint>

#include "views/view_context.h"

inline constexpr uint32_t kFatPageSectors = 384;

// Whether one of the three FAT tables is on show.
bool FatTableShown(const ViewPage& page);
// The pages of the FAT copy node `copy` (at least 1).
uint64_t FatTablePageCount(const DrivePacket& copy);
// Reads page page.pageIndex of the table on show into the page and lists its
// rows; the page's sectors alone are read. False, with "FAT not accessible!",
// when they did not all read.
bool ShowFatTablePage(ViewContext& ctx);

// packet is the FAT node's: startSector is the copy's first sector and
// sectorCount its size in sectors.
void ShowFat12Table(ViewContext& ctx, const DrivePacket& packet);
void ShowFat16Table(ViewContext& ctx, const DrivePacket& packet);
void ShowFat32Table(ViewContext& ctx, const DrivePacket& packet);

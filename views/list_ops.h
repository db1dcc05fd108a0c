// Operations on the list's content that every view shares: emptying it, the
// 34 columns of a hexadecimal dump, call-back rows, and taking a buffer whose
// size comes from disk data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/memory_budget.h"
#include "views/view_context.h"

// A row of a hex dump holds 16 bytes; a sector is 32 rows.
inline constexpr uint32_t kBytesPerDumpRow = 16;
inline constexpr uint32_t kDumpRowsPerSector = kSectorSize / kBytesPerDumpRow;
inline constexpr int kHexColumnCount = 34;

// "Wait...." in the first status pane, then no rows (and so no selection) and
// no columns.
void ResetList(ViewContext& ctx);

// Offset, 16 byte columns 00..0F, a spacer, 16 character columns 0..F.
void AddHexColumns(ViewPage& page);

// Appends count call-back rows whose item data is first, first + step, ...
void AddCallbackRows(ViewPage& page, uint64_t count, uint64_t step = 1,
                     uint64_t first = 0);

// Whether the dump page on show has a sector that could not be read, and
// whether the sector holding byte `offset` of the page is one.
bool PageHasUnreadableSector(const ViewPage& page);
bool ByteUnreadable(const ViewPage& page, uint64_t offset);

// Whether a buffer of `sectors` sectors, a count read from a disk, may be
// taken: not zero, not more than the volume holds (when its size is known)
// and within the page's memory limit.
bool DiskSizeFits(const ViewPage& page, const DrivePacket& volume, uint64_t sectors);


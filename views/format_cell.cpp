#include "views/format_cell.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <span>

#include "disk/le.h"
#include "views/directory_views.h"
#include "views/fat_views.h"
#include "views/list_ops.h"
#include "disk/long_name.h"

namespace {

std::string Printf(const char* format, uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// True when `width` bytes from `offset` lie inside the buffer.
bool Inside(std::span<const uint8_t> buffer, uint64_t offset, uint64_t width) {
  return offset <= buffer.size() && buffer.size() - offset >= width;
}

std::string HexCell(const ViewPage& page, uint64_t r, int column) {
  std::span<const uint8_t> buffer(page.sectorBuffer);
  if (column == 0) {
    // Counted in 64 bits: a sector dump of a large volume passes 4 GiB.
    const uint64_t row = r + uint64_t{kDumpRowsPerSector} * page.sectorsPerPage * page.pageIndex;
    return Printf("%08" PRIX64, row * kBytesPerDumpRow);
  }
  if (column >= 1 && column <= 16) {
    const uint64_t at = r * kBytesPerDumpRow + static_cast<uint64_t>(column - 1);
    if (!Inside(buffer, at, 1)) return {};
    // A sector that did not read has no bytes to show, only its place.
    if (ByteUnreadable(page, at)) return "??";
    return Printf("%02" PRIX64, buffer[at]);
  }
  if (column >= 18 && column < kHexColumnCount) {
    const uint64_t at = r * kBytesPerDumpRow + static_cast<uint64_t>(column - 18);
    if (!Inside(buffer, at, 1) || buffer[at] == 0 || ByteUnreadable(page, at)) return {};
    // UTF-8 like every other cell: a lone byte past 0x7F is no text.
    return AnsiByteToUtf8(buffer[at]);
  }
  return {};  // the spacer and anything past it
}

// Entries the cell rules of the three FAT views decode; a word that would
// reach past the copy in memory gives an empty cell (the last row of a 12-bit
// table runs past the end of a copy whose size is not a multiple of 3 sectors).
std::string FatCell(const ViewPage& page, uint64_t d, int column) {
  std::span<const uint8_t> buffer(page.sectorBuffer);
  if (column < 0 || column > 16) return {};
  const uint64_t n = static_cast<uint64_t>(column);
  // Bytes of the copy before the page on show: the entry column counts from
  // the copy's start.
  const uint64_t base = uint64_t{page.pageIndex} * kFatPageSectors * kSectorSize;
  switch (page.viewKind) {
    case ViewKind::Fat12Table: {
      if (n == 0) return Printf("%08" PRIX64, 16 * d + base * 2 / 3);
      const uint64_t k = 16 * d + n - 1;
      const uint64_t at = 24 * d + 3 * (n - 1) / 2;
      if (!Inside(buffer, at, 2)) return {};
      const uint16_t word = le16(buffer, at);
      return Printf("%03" PRIX64, (k % 2 == 0) ? (word & 0x0FFFu) : (word >> 4));
    }
    case ViewKind::Fat16Table: {
      if (n == 0) return Printf("%08" PRIX64, (base + d) / 2);
      const uint64_t at = d + 2 * (n - 1);
      return Inside(buffer, at, 2) ? Printf("%04" PRIX64, le16(buffer, at)) : std::string();
    }
    case ViewKind::Fat32Table: {
      if (n == 0) return Printf("%08" PRIX64, (base + d) / 4);
      const uint64_t at = d + 4 * (n - 1);
      // A 32-bit FAT's top four bits are reserved; exFAT's entries use all 32.
      const uint32_t mask = page.shownPacket.kind == NodeKind::ExfatFat ? 0xFFFFFFFFu : 0x0FFFFFFFu;
      return Inside(buffer, at, 4) ? Printf("%08" PRIX64, le32(buffer, at) & mask) : std::string();
    }
    default:
      return {};
  }
}

}  // namespace

std::string FormatCell(const ViewPage& page, size_t row, int column) {
  if (row >= page.rows.size() || column < 0) return {};
  const ListRow& r = page.rows[row];
  std::string text;
  if (!r.texts.empty()) {
    if (static_cast<size_t>(column) < r.texts.size()) text = r.texts[static_cast<size_t>(column)];
  } else {
    switch (page.viewKind) {
      case ViewKind::ClusterDump:
      case ViewKind::SectorDump:
      case ViewKind::RawSectorDump:
        text = HexCell(page, r.value, column);
        break;
      case ViewKind::Fat12Table:
      case ViewKind::Fat16Table:
      case ViewKind::Fat32Table:
        text = FatCell(page, r.value, column);
        break;
      case ViewKind::RootDirectory:
      case ViewKind::SubDirectory:
        if (r.value < page.rowStore.size())
          text = FormatDirectoryCell(page, page.rowStore[static_cast<size_t>(r.value)], column);
        break;
      default:
        break;
    }
  }
  // The display buffer's size: a longer text (a long name pieced together from
  // damaged entries) is cut, not overflowed.
  if (text.size() > kDisplayTextMax) text.resize(kDisplayTextMax);
  return text;
}

std::string FormatText(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

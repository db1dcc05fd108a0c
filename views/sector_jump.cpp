#include "views/sector_jump.h"

#include <cstdio>
#include <limits>

#include "views/editor_page.h"
#include "views/page_navigation.h"

bool GoToSectorAllowed(ViewContext& ctx, DumpModes modes) {
  if (!modes.rawDump) {
    ctx.Prompt().Message(kJumpNeedsRawMode);
    return false;
  }
  if (ctx.page.shownPacket.startSector == 0) {
    ctx.Prompt().Message(kJumpFromTopLevel);
    return false;
  }
  return true;
}

std::string GoToSectorInitialText(const ViewPage& page) {
  return std::to_string(page.shownPacket.startSector);
}

namespace {

enum class Entry { NoNumber, TooLarge, Number };

// "%lu" reading: leading blanks, an optional '+', decimal digits up to the
// first other character. A '-' (which "%lu" would wrap into a huge number)
// is no number here.
Entry ReadEntry(std::string_view entry, uint32_t& sector) {
  size_t i = 0;
  auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < entry.size() && blank(entry[i])) ++i;
  if (i < entry.size() && entry[i] == '+') ++i;
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < entry.size() && entry[i] >= '0' && entry[i] <= '9'; ++i, ++digits) {
    value = value * 10 + static_cast<uint64_t>(entry[i] - '0');
    if (value > std::numeric_limits<uint32_t>::max()) return Entry::TooLarge;
  }
  if (digits == 0) return Entry::NoNumber;
  sector = static_cast<uint32_t>(value);
  return Entry::Number;
}

}  // namespace

bool ParseSectorEntry(std::string_view entry, uint32_t& sector) {
  return ReadEntry(entry, sector) == Entry::Number;
}

bool GoToSector(ViewContext& ctx, DumpModes modes, std::string_view entry, uint32_t& jumpTarget) {
  ViewPage& page = ctx.page;
  const DrivePacket& item = page.shownPacket;
  if (!modes.rawDump || item.startSector == 0) return false;
  uint32_t target = 0;
  switch (ReadEntry(entry, target)) {
    case Entry::NoNumber:
      return false;
    case Entry::TooLarge:
      // A sector no 32-bit sector number reaches.
      ctx.Prompt().Message(kEditorSectorNotAccessible);
      return false;
    case Entry::Number:
      break;
  }
  jumpTarget = target;
  if (target < item.startSector) {
    char text[96];
    std::snprintf(text, sizeof text, kJumpBelowItem, static_cast<unsigned long>(item.startSector));
    ctx.Prompt().Message(text);
    return false;
  }
  EnterRawKind(page, modes);
  if (ShownPageKind(page) != PageKind::Sector) return false;
  uint32_t sector = 0;
  const uint32_t index = target - item.startSector;
  // Past the extent lies no sector of this volume: a page read there would
  // be another structure's, or none.
  if (index >= item.sectorCount) {
    char text[96];
    std::snprintf(text, sizeof text, kJumpPastVolume,
                  static_cast<unsigned long>(uint64_t{item.startSector} + item.sectorCount - 1));
    ctx.Prompt().Message(text);
    return false;
  }
  if (!SectorPageSector(item, index, sector)) {
    ctx.Prompt().Message(kEditorSectorNotAccessible);
    return false;
  }
  // Stand one page past the target and step back onto it, so the page is
  // read and listed the way Previous does it.
  page.pageIndex = index + 1;
  page.canGoPrevious = true;
  const bool moved = GoPrevious(ctx, modes);
  if (uint64_t{target} + 1 == item.totalSectors) page.canGoNext = false;
  return moved;
}

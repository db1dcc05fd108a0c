#include "tools/raw_search.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>

#include "disk/raw_road.h"
#include "disk/sector_access.h"
#include "tools/byte_matcher.h"
#include "views/list_ops.h"
#include "views/show_node.h"
#include "views/sector_jump.h"

namespace {

// The block buffer: 100 sectors, and room after them for the longest pattern
// to be compared into the zero fill, also behind a last block of a full 100
// sectors (the comparison of a start in the last byte runs on past it).
constexpr size_t kBlockBytes = size_t{kSearchBlockSectors} * kSectorSize;
constexpr size_t kBlockPad = 128;
static_assert(kBlockPad >= kSearchMaxTextBytes && kBlockPad >= kSearchMaxHexBytes);

// The first start below `starts` of a match that lies wholly in sectors that
// were read: bad holds the block's unreadable sectors, numbered from `first`
// (the block's first sector), in order.
size_t FindReadablePattern(std::span<const uint8_t> block, size_t starts,
                           std::span<const uint8_t> pattern, uint64_t first,
                           std::span<const uint64_t> bad) {
  size_t from = 0;
  while (from < starts) {
    const size_t h = FindPattern(block.subspan(from), starts - from, pattern);
    if (h == kNoMatch) return kNoMatch;
    const size_t at = from + h;
    const uint64_t lo = first + at / kSectorSize;
    const uint64_t hi = first + (at + pattern.size() - 1) / kSectorSize;
    const auto it = std::lower_bound(bad.begin(), bad.end(), lo);
    if (it == bad.end() || *it > hi) return at;
    // No start before the end of that sector can miss it.
    from = static_cast<size_t>((*it - first + 1) * kSectorSize);
  }
  return kNoMatch;
}

// The progress is told when its percentage changes, and at least this often
// while it does not (a search without an upper bound moves 1% in 21 GiB).
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

std::string Format(const char* format, unsigned long value) {
  char text[160];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Trim(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  size_t a = 0, b = s.size();
  while (a < b && blank(s[a])) ++a;
  while (b > a && blank(s[b - 1])) --b;
  return std::string(s.substr(a, b - a));
}

// A byte box as "%X" reads it, but only a box that holds a hexadecimal number
// and nothing else: an optional "0x" and hex digits. The byte is the number's
// low 8 bits (1FF gives FF).
bool ParseHexBox(const std::string& box, uint8_t& byte) {
  std::string_view digits(box);
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.remove_prefix(2);
  if (digits.empty()) return false;
  unsigned value = 0;
  for (char c : digits) {
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    value = ((value << 4) | d) & 0xFFu;
  }
  byte = static_cast<uint8_t>(value);
  return true;
}

// Windows-1252's characters for bytes 0x80-0x9F; 0 where the byte has none
// (those five bytes stand for the C1 controls of the same number, as Windows
// converts them).
constexpr char16_t kAnsiHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool AnsiByte(char32_t c, uint8_t& byte) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    byte = static_cast<uint8_t>(c);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kAnsiHigh[i] == c || (kAnsiHigh[i] == 0 && c == 0x80 + i)) {
      byte = static_cast<uint8_t>(0x80 + i);
      return true;
    }
  }
  return false;
}

// One UTF-8 sequence at s[i]: its code point and length; false when it is
// not well-formed.
bool DecodeUtf8(std::string_view s, size_t i, char32_t& c, size_t& length) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) {
    c = b0;
    length = 1;
    return true;
  }
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) { c = b0 & 0x1Fu; length = 2; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { c = b0 & 0x0Fu; length = 3; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { c = b0 & 0x07u; length = 4; min = 0x10000; }
  else return false;
  if (s.size() - i < length) return false;
  for (size_t k = 1; k < length; ++k) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    c = (c << 6) | (b & 0x3Fu);
  }
  return c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    char32_t c;
    size_t n;
    if (!DecodeUtf8(s, i, c, n)) return false;
    i += n;
  }
  return true;
}

// The effective end of the searched area: the volume's size, or no upper
// bound (2^32 - 1) for a partition of unknown type and a volume of unknown size.
uint64_t SearchEnd(const DrivePacket& node) {
  if (node.kind == NodeKind::Unknown || node.totalSectors == 0) return UINT32_MAX;
  return node.totalSectors;
}

class ProgressTeller {
 public:
  ProgressTeller(SearchEvents& events, const SearchJob& job) : events_(events), last_(job.end - 1) {}

  void Block(uint64_t s, uint32_t steps) {
    // Worked out in 64 bits: s * 100 leaves 32 bits past sector 42,949,672.
    const auto percent = static_cast<unsigned>(s * 100 / last_);
    const auto now = std::chrono::steady_clock::now();
    if (told_ && percent == percent_ && now - when_ < kProgressInterval) return;
    told_ = true;
    percent_ = percent;
    when_ = now;
    char text[96];
    std::snprintf(text, sizeof text, kSearchProgress, static_cast<unsigned long>(s),
                  static_cast<unsigned long>(last_), percent);
    events_.Progress(steps, text);
  }

 private:
  SearchEvents& events_;
  uint64_t last_;
  bool told_ = false;
  unsigned percent_ = 0;
  std::chrono::steady_clock::time_point when_;
};

}  // namespace

bool SearchOpenAllowed(PromptPort& prompt, DumpModes modes, const DrivePacket& node) {
  if (!modes.rawDump) {
    prompt.Message(kSearchNeedsRawMode);
    return false;
  }
  if (node.startSector == 0) {
    prompt.Message(kSearchFromTopLevel);
    return false;
  }
  return true;
}

std::string SearchInitialStart(const ViewPage& pane, const DrivePacket& node) {
  // The sector on show when the dump is this node's, else the node's first.
  const bool shown = (pane.viewKind == ViewKind::SectorDump || pane.viewKind == ViewKind::RawSectorDump) &&
                     pane.shownPacket.drive == node.drive &&
                     pane.shownPacket.partitionStart == node.partitionStart &&
                     pane.shownPacket.startSector == node.startSector;
  const uint64_t sector = uint64_t{node.startSector} + (shown ? pane.pageIndex : 0);
  return std::to_string(std::min<uint64_t>(sector, UINT32_MAX));
}

bool AnsiFromUtf8(std::string_view utf8, std::string& ansi, std::string* missing) {
  ansi.clear();
  if (!IsUtf8(utf8)) {
    ansi.assign(utf8);
    return true;
  }
  for (size_t i = 0; i < utf8.size();) {
    char32_t c;
    size_t n;
    DecodeUtf8(utf8, i, c, n);
    uint8_t byte;
    if (!AnsiByte(c, byte)) {
      if (missing) *missing = std::string(utf8.substr(i, n));
      return false;
    }
    ansi.push_back(static_cast<char>(byte));
    i += n;
  }
  return true;
}

std::optional<std::vector<uint8_t>> BuildSearchPattern(PromptPort& prompt, const RawSearchOptions& options) {
  std::vector<uint8_t> pattern;
  if (options.mode == SearchMode::Hex) {
    if (options.hexBytes.size() > kSearchMaxHexBytes) {
      prompt.Message(kSearchTooManyBytes);
      return std::nullopt;
    }
    for (size_t k = 0; k < options.hexBytes.size(); ++k) {
      const std::string box = Trim(options.hexBytes[k]);
      if (box.empty()) break;  // the boxes after the first empty one are not read
      uint8_t byte = 0;
      if (!ParseHexBox(box, byte)) {
        char text[160];
        std::snprintf(text, sizeof text, kSearchNotHex, static_cast<unsigned>(k + 1), box.c_str());
        prompt.Message(text);
        return std::nullopt;
      }
      pattern.push_back(byte);
    }
    if (pattern.empty()) {
      prompt.Message(kSearchNoHexBytes);
      return std::nullopt;
    }
    return pattern;
  }
  if (options.text.empty()) {
    prompt.Message(kSearchNoString);
    return std::nullopt;
  }
  std::string ansi, missing;
  if (!AnsiFromUtf8(options.text, ansi, &missing)) {
    char text[160];
    std::snprintf(text, sizeof text, kSearchNotAnsi, missing.c_str());
    prompt.Message(text);
    return std::nullopt;
  }
  if (ansi.size() > kSearchMaxTextBytes) {
    prompt.Message(kSearchTextTooLong);
    return std::nullopt;
  }
  pattern.assign(ansi.begin(), ansi.end());
  return pattern;
}

std::optional<SearchJob> PrepareRawSearch(PromptPort& prompt, const DrivePacket& node,
                                          const RawSearchOptions& options, SearchRefusal* refusal) {
  if (refusal) *refusal = SearchRefusal::None;
  // Said first, whatever the input turns out to be.
  prompt.Message(Format(kSearchTotalSectors, node.totalSectors));
  const uint32_t first = node.startSector;
  const uint32_t last = node.totalSectors - 1;  // wraps for a size of 0: no upper bound
  uint32_t start = 0;
  // A start that is no number is out of range like any other.
  const bool number = ParseSectorEntry(options.start, start);
  if (!number || start < first || start > last) {
    char text[160];
    std::snprintf(text, sizeof text, kSearchOutOfRange, static_cast<unsigned long>(last),
                  static_cast<unsigned long>(first));
    prompt.Message(text);
    if (refusal) *refusal = SearchRefusal::Range;
    return std::nullopt;
  }
  std::optional<std::vector<uint8_t>> pattern = BuildSearchPattern(prompt, options);
  if (!pattern) {
    if (refusal) *refusal = SearchRefusal::Pattern;
    return std::nullopt;
  }
  SearchJob job;
  job.node = node;
  job.mode = options.mode;
  job.pattern = std::move(*pattern);
  job.start = start;
  job.end = SearchEnd(node);
  return job;
}

uint32_t SearchProgressSteps(const SearchJob& job) {
  if (job.end <= job.start) return 0;
  return static_cast<uint32_t>((job.end - job.start + kSearchStepSectors - 1) / kSearchStepSectors);
}

void BeginSearch(SearchEvents& events, SearchFlags& flags) {
  events.Started();
  flags.stop = false;
  flags.running = true;
}

SearchResult SearchSectors(DiskAccess& access, const SearchJob& job, const SearchFlags& flags,
                           SearchEvents& events) {
  SearchResult result;
  const std::vector<uint8_t>& pattern = job.pattern;
  if (pattern.empty() || pattern.size() > kBlockPad) return result;
  std::vector<uint8_t> block;
  try {
    block.assign(kBlockBytes + kBlockPad, 0);
  } catch (const std::bad_alloc&) {
    result.status = SearchStatus::NoBuffer;
    return result;
  }
  ProgressTeller progress(events, job);
  uint32_t steps = 0;
  std::vector<uint64_t> bad;
  // The disk is read in runs of a megabyte by a reader thread ahead of the
  // blocks matched here; the blocks, their overlap, progress and counts stay.
  // Stop is polled here, before each block: the reader ends when this does,
  // so no block is ever left unread by it.
  RawReader reader(access, job.node, job.start - job.node.startSector, job.end - job.start);
  // 64-bit sector numbers: the last block of an area without an upper bound
  // ends at 2^32 - 1, where 32 bits would wrap back to the start.
  for (uint64_t s = job.start; s < job.end; s += kSearchStepSectors) {
    if (flags.stop) {
      result.status = SearchStatus::Interrupted;
      return result;
    }
    const uint64_t left = job.end - s;
    const bool full = left > kSearchBlockSectors;
    const auto n = static_cast<uint32_t>(full ? kSearchBlockSectors : left);
    const size_t starts = size_t{full ? kSearchStepSectors : n} * kSectorSize;
    // What a read leaves is searched; what it does not reach stays zero. A
    // read that moved all of its sectors overwrites them, so only the rest
    // needs clearing (a last block's tail, or all of it after a failed read).
    // The search starts at or after the node's first sector, which is not 0.
    const uint64_t first = s - job.node.startSector;
    const std::span<uint8_t> sectors(block.data(), size_t{n} * kSectorSize);
    // The road reads a failed run again sector by sector and names the
    // sectors that stayed unreadable: their filler is searched as bytes that
    // match nothing.
    bad.clear();
    // A full block is matched where the run read ahead holds it (its last
    // sector is room enough for a pattern starting in the ones before); a
    // last block in the zero-padded buffer.
    bool read = true;
    std::span<const uint8_t> bytes = block;
    if (full) {
      bytes = reader.View(first, sectors, bad, read);
    } else {
      read = reader.Read(first, sectors, bad);
      std::fill(block.begin() + static_cast<std::ptrdiff_t>(size_t{n} * kSectorSize), block.end(), 0);
    }
    if (!read) {
      events.Unreadable(s, Format(kSearchSectorNotAccessible, static_cast<unsigned long>(s)));
      // A full block's last sector is read again as the next block's first.
      for (const uint64_t b : bad)
        if (!full || b - first < kSearchStepSectors) ++result.unreadableSectors;
    }
    const size_t h = FindReadablePattern(bytes, starts, pattern, first, bad);
    if (h != kNoMatch) {
      const uint32_t inBlock = static_cast<uint32_t>(h / kSectorSize);
      SearchHit& hit = result.hit;
      hit.sector = static_cast<uint32_t>(s + inBlock);
      hit.index = hit.sector - job.node.startSector;
      hit.offset = static_cast<uint32_t>(h % kSectorSize);
      std::memcpy(hit.bytes.data(), bytes.data() + size_t{inBlock} * kSectorSize, kSectorSize);
      result.status = SearchStatus::Found;
      return result;
    }
    progress.Block(s, ++steps);
  }
  result.status = SearchStatus::NotFound;
  return result;
}

std::string SearchResultMessage(const SearchResult& result) {
  std::string message = kSearchNotFound;
  switch (result.status) {
    case SearchStatus::Found: message = kSearchFound; break;
    case SearchStatus::Interrupted: message = kSearchInterrupted; break;
    case SearchStatus::NoBuffer: message = kSearchNoBuffer; break;
    case SearchStatus::NotFound: break;
  }
  if (result.unreadableSectors == 1)
    message += std::string("  ") + kSearchUnreadableSector;
  else if (result.unreadableSectors > 1)
    message += "  " + Format(kSearchUnreadableSectors, static_cast<unsigned long>(result.unreadableSectors));
  return message;
}

SearchResult RunSearchWorker(DiskAccess& access, const SearchJob& job, SearchFlags& flags, PromptPort& prompt,
                             SearchEvents& events) {
  const SearchResult result = SearchSectors(access, job, flags, events);
  if (result.status == SearchStatus::Found) events.Hit(result.hit);
  const std::string message = SearchResultMessage(result);
  access.Prompt().SetStatus(0, "");
  // A hit is the search's success; anything else is worth the warning.
  prompt.Message(message, {},
                 result.status == SearchStatus::Found ? PromptIcon::Information : PromptIcon::Exclamation);
  events.Ended(job.mode);
  flags.running = false;
  return result;
}

void ShowSearchHit(ViewPage& pane, PromptPort& prompt, const SearchJob& job, const SearchHit& hit) {
  // The pane becomes the node's raw sector dump at the hit's page, whatever
  // it showed before: a page number with another view's buffer or packet
  // would let Write Changes put these bytes elsewhere.
  DrivePacket shown = job.node;
  shown.sectorCount = RawDumpSectorCount(job.node);
  pane.viewKind = ViewKind::None;
  pane.fileDumpShown = false;
  std::vector<uint32_t>().swap(pane.clusterChain);
  pane.chainLength = 0;
  pane.columns.clear();
  AddHexColumns(pane);
  pane.shownPacket = shown;
  pane.sectorsPerPage = 1;
  pane.sectorBuffer.assign(hit.bytes.begin(), hit.bytes.end());
  pane.pageIndex = hit.index;
  pane.rows.clear();
  ++pane.rowsGeneration;
  AddCallbackRows(pane, kDumpRowsPerSector);
  pane.viewKind = ViewKind::RawSectorDump;
  // As Previous and Next would leave them on this page.
  pane.canGoPrevious = hit.index != 0;
  pane.canGoNext = uint64_t{hit.index} + 1 < shown.sectorCount;
  prompt.SetStatus(1, Format("Current Sector Number: %lu", hit.sector));
}

#include "disk/rescue_map.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// No line of a mapfile comes near this; a longer one means the file is not a
// mapfile (an image named by mistake), and reading on would take its size.
constexpr size_t kMaxLine = 1024;
constexpr std::string_view kBlockStatuses = "?*/-+";
constexpr std::string_view kCurrentStatuses = "?*/-FGA+";

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// A non-negative number as scanf's %lli takes it: 0x/0X hex, a leading 0 octal,
// else decimal. False on anything else or on overflow.
bool ParseNumber(std::string_view w, uint64_t& out) {
  unsigned base = 10;
  if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
    base = 16;
    w.remove_prefix(2);
  } else if (w.size() > 1 && w[0] == '0') {
    base = 8;
    w.remove_prefix(1);
  }
  if (w.empty()) return false;
  uint64_t v = 0;
  for (char c : w) {
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    if (d >= base) return false;
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  out = v;
  return true;
}

bool IsStatus(std::string_view w, std::string_view allowed) {
  return w.size() == 1 && allowed.find(w[0]) != std::string_view::npos;
}

}  // namespace

uint64_t RescueMap::FinishedRun(uint64_t offset, uint64_t len) const {
  // The last block starting at or before offset.
  auto it = std::upper_bound(blocks.begin(), blocks.end(), offset,
                             [](uint64_t o, const Block& b) { return o < b.pos; });
  if (it == blocks.begin()) return 0;
  --it;
  uint64_t at = offset;
  const uint64_t want = len;
  for (; it != blocks.end() && at - offset < want; ++it) {
    if (it->status != '+' || it->pos > at || it->pos + it->size <= at) break;
    at = it->pos + it->size;
  }
  return std::min(at - offset, want);
}

RescueMapLoad ParseRescueMap(std::string_view text, const std::string& name) {
  RescueMapLoad r;
  RescueMap map;
  bool haveCurrent = false;
  size_t lineNo = 0;
  auto fail = [&](const std::string& why) {
    r.error = name + ":" + std::to_string(lineNo) + ": " + why;
    return r;
  };
  while (!text.empty()) {
    ++lineNo;
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (line.size() > kMaxLine) return fail("line too long for a ddrescue mapfile");
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    if (!haveCurrent) {
      uint64_t pass = 0;
      if (words.size() < 2 || words.size() > 3 || !ParseNumber(words[0], map.currentPos) ||
          !IsStatus(words[1], kCurrentStatuses) || (words.size() == 3 && !ParseNumber(words[2], pass)))
        return fail("not a ddrescue mapfile: expected the current position line \"POS STATUS [PASS]\"");
      map.currentStatus = words[1][0];
      haveCurrent = true;
      continue;
    }
    RescueMap::Block b;
    if (words.size() != 3 || !ParseNumber(words[0], b.pos) || !ParseNumber(words[1], b.size) ||
        !IsStatus(words[2], kBlockStatuses))
      return fail("expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+");
    if (b.size > UINT64_MAX - b.pos) return fail("block reaches past the largest position");
    if (b.size == 0) continue;  // ddrescue writes "0 0 ?" for an empty domain
    b.status = words[2][0];
    if (!map.blocks.empty()) {
      const auto& last = map.blocks.back();
      if (b.pos < last.pos + last.size) return fail("block overlaps or comes before the block above it");
    }
    map.blocks.push_back(b);
  }
  if (!haveCurrent) {
    r.error = name + ": not a ddrescue mapfile: no current position line";
    return r;
  }
  r.map = std::move(map);
  return r;
}

RescueMapLoad LoadRescueMap(const std::string& path) {
  RescueMapLoad r;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    r.error = "cannot read mapfile " + path + ": " + std::strerror(EISDIR);
    return r;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    r.error = "cannot read mapfile " + path + ": " + std::strerror(errno);
    return r;
  }
  // Read with a bounded line so that a huge file that is not a mapfile (an
  // image named by mistake) is refused at its first overlong line instead of
  // being read whole.
  std::string text;
  std::vector<char> buf(kMaxLine + 2);
  size_t lineNo = 0;
  while (true) {
    in.getline(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0 && in.eof()) break;
    ++lineNo;
    if (in.fail() && !in.eof()) {
      if (in.bad()) break;
      r.error = path + ":" + std::to_string(lineNo) + ": line too long for a ddrescue mapfile";
      return r;
    }
    // gcount counts the newline taken; the bytes stand as read, NULs included.
    text.append(buf.data(), in.eof() ? got : got - 1);
    text += '\n';
    if (in.eof()) break;
  }
  if (in.bad()) {
    r.error = "cannot read mapfile " + path + ": " + std::strerror(errno);
    return r;
  }
  return ParseRescueMap(text, path);
}

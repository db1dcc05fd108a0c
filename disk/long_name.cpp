#include "disk/long_name.h"

#include <cstring>
#include <vector>

#include "disk/le.h"
#include "disk/dir_entry.h"

namespace {

// A deleted long-name piece: its ordinal overwritten by the deletion mark.
constexpr uint8_t kDeletedPiece = 0xE5;

// A byte a short name may begin with: no blank, no control, no lower-case
// letter and none of the characters short names exclude.
bool ShortNameLead(uint8_t b) {
  if (b == ' ' || b == kDirDeletedMark) return false;
  if (b >= 'a' && b <= 'z') return false;
  return ShortNameByte(b);
}


void AppendCodePoint(uint32_t c, std::string& text) {
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (c >> 18));
    text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Windows-1252, bytes 0x80-0x9F (where it differs from Latin-1).
constexpr uint16_t kAnsiHigh[32] = {
    0x20AC, 0x25A1, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x25A1, 0x017D, 0x25A1, 0x25A1, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x25A1, 0x017E, 0x0178};

// Code page 437, bytes 0x80-0xFF.
constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
    0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
    0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

bool IsHighSurrogate(uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void AppendUtf16AsUtf8(std::span<const uint16_t> units, std::string& text) {
  for (size_t i = 0; i < units.size(); ++i) {
    const uint16_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      AppendCodePoint(0x10000 + ((uint32_t{u} - 0xD800) << 10) + (units[i + 1] - 0xDC00u), text);
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendCodePoint(0xFFFD, text);
    } else {
      AppendCodePoint(u, text);
    }
  }
}

size_t AssembleLongName(std::span<const uint8_t> dir, size_t entryIndex, std::string& text) {
  text.clear();
  const size_t entries = dir.size() / kDirEntrySize;
  // The first entry of the buffer has nothing in front of it that was loaded.
  if (entryIndex == 0 || entryIndex >= entries) return 0;

  std::vector<uint16_t> units;
  units.reserve(kLfnMaxPieces * kLfnCharsPerEntry);
  size_t index = entryIndex;
  for (size_t piece = 0; piece < kLfnMaxPieces && index > 0; ++piece) {
    --index;
    const std::span<const uint8_t> entry = dir.subspan(index * kDirEntrySize, kDirEntrySize);
    // A short entry in front is another file's, never part of this name; a
    // deleted piece belongs to no live name.
    if (!IsLiveLongNamePiece(entry)) break;
    bool nameEnded = false;
    for (size_t offset : kLfnCharOffsets) {
      const uint16_t unit = le16(entry, offset);
      // The name ends at its zero; 0xFFFF only pads after it, so a piece that
      // shows it first is damaged and ends the name there as well.
      if (unit == 0x0000 || unit == 0xFFFF) {
        nameEnded = true;
        break;
      }
      units.push_back(unit);
    }
    if (nameEnded || (le8(entry, kLfnOrdinal) & kLfnLastPiece) != 0) break;
  }
  AppendUtf16AsUtf8(units, text);
  return text.size();
}

std::string OemNameToUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    AppendCodePoint(byte < 0x80 ? byte : kCp437High[byte - 0x80], text);
  }
  return text;
}

std::string AnsiByteToUtf8(uint8_t byte) {
  std::string text;
  AppendCodePoint(byte >= 0x80 && byte < 0xA0 ? kAnsiHigh[byte - 0x80] : byte, text);
  return text;
}

bool ShortNameByte(uint8_t b) {
  if (b < 0x20 || b == 0x7F) return false;
  return std::strchr("\"*+,./:;<=>?[\\]|", b) == nullptr;
}

bool IsLiveLongNamePiece(std::span<const uint8_t> entry) {
  return IsLongNameEntry(le8(entry, kDirAttributes)) && le8(entry, kLfnOrdinal) != kDeletedPiece;
}

uint8_t ShortNameChecksum(std::span<const uint8_t> name11) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + le8(name11, i));
  return sum;
}

size_t LongNamePieceRun(std::span<const uint8_t> dir, size_t index, uint8_t checksum) {
  if (index >= dir.size() / kDirEntrySize) return 0;
  size_t n = 0;
  while (n < kLfnMaxPieces && n < index) {
    const auto piece = dir.subspan((index - n - 1) * kDirEntrySize, kDirEntrySize);
    if (!IsLiveLongNamePiece(piece) || le8(piece, kLfnChecksum) != checksum) break;
    ++n;
  }
  return n;
}

std::optional<size_t> OwnLongNamePieces(std::span<const uint8_t> dir, size_t index,
                                        uint8_t checksum) {
  const size_t run = LongNamePieceRun(dir, index, checksum);
  for (size_t n = 1; n <= run; ++n) {
    const uint8_t ordinal = le8(dir, (index - n) * kDirEntrySize + kLfnOrdinal);
    if ((ordinal & ~kLfnLastPiece) != n) return std::nullopt;
    if ((ordinal & kLfnLastPiece) != 0) return index - n;
  }
  return std::nullopt;
}

std::optional<DeletedLongName> FindDeletedLongName(std::span<const uint8_t> dir, size_t index) {
  const size_t entries = dir.size() / kDirEntrySize;
  if (index == 0 || index >= entries) return std::nullopt;
  DeletedLongName found;
  std::vector<uint16_t> units;
  bool ended = false;
  // Pieces stand in front of the short entry in reverse order: the nearest
  // holds characters 1-13. Without their ordinals (the deletion overwrote
  // them) the run ends at the first entry that is no deleted piece of the
  // same checksum, or after the piece whose characters end the name.
  for (size_t at = index; at > 0 && found.count < kLfnMaxPieces && !ended;) {
    --at;
    const auto piece = dir.subspan(at * kDirEntrySize, kDirEntrySize);
    if (!IsLongNameEntry(le8(piece, kDirAttributes)) || le8(piece, kLfnOrdinal) != kDeletedPiece ||
        le8(piece, kLfnType) != 0 || le16(piece, kLfnCluster) != 0)
      break;
    const uint8_t sum = le8(piece, kLfnChecksum);
    if (found.count > 0 && sum != found.checksum) break;
    found.checksum = sum;
    found.first = at;
    ++found.count;
    for (size_t offset : kLfnCharOffsets) {
      const uint16_t unit = le16(piece, offset);
      if (ended) {
        if (unit != 0xFFFF) return std::nullopt;  // padding after the end is 0xFFFF
        continue;
      }
      if (unit == 0x0000) {
        ended = true;
        continue;
      }
      if (unit == 0xFFFF || unit < 0x20 || unit == '/' || unit == '\\') return std::nullopt;
      units.push_back(unit);
    }
  }
  if (found.count == 0 || units.empty()) return std::nullopt;
  AppendUtf16AsUtf8(units, found.text);

  // The checksum fixes the lost first byte: the other ten are known, and
  // each first byte gives another sum.
  const auto entry = dir.subspan(index * kDirEntrySize, kDirEntrySize);
  uint8_t name[11];
  for (size_t i = 0; i < 11; ++i) name[i] = le8(entry, i);
  for (int b = 0; b < 256; ++b) {
    name[0] = static_cast<uint8_t>(b);
    if (ShortNameChecksum(name) != found.checksum) continue;
    if (ShortNameLead(name[0])) found.firstByte = name[0];
    break;
  }
  return found;
}


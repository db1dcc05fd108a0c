#include "recovery/entry_names.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "disk/le.h"
#include "disk/dir_entry.h"
#include "disk/long_name.h"

namespace {

// The case flags of byte 12 (as Windows NT and mtools write them): name and
// extension stored in capitals but shown in lower case.
constexpr uint8_t kLowerCaseName = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;
constexpr uint8_t kDeletedPiece = 0xE5;

// A byte a short name may begin with: no blank, no control, no lower-case
// letter and none of the characters short names exclude.
bool ShortNameLead(uint8_t b) {
  if (b == ' ' || b == kDirDeletedMark) return false;
  if (b >= 'a' && b <= 'z') return false;
  return ShortNameByte(b);
}

std::string Trimmed(std::span<const uint8_t> bytes, bool lower) {
  size_t n = bytes.size();
  while (n > 0 && bytes[n - 1] == ' ') --n;
  std::string raw(reinterpret_cast<const char*>(bytes.data()), n);
  if (lower)
    for (char& c : raw)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return OemNameToUtf8(raw);
}

}  // namespace

bool ShortNameByte(uint8_t b) {
  if (b < 0x20 || b == 0x7F) return false;
  return std::strchr("\"*+,./:;<=>?[\\]|", b) == nullptr;
}

uint8_t ShortNameChecksum(std::span<const uint8_t> name11) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + le8(name11, i));
  return sum;
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

std::optional<size_t> OwnLongNamePieces(std::span<const uint8_t> dir, size_t index,
                                        uint8_t checksum) {
  if (index >= dir.size() / kDirEntrySize) return std::nullopt;
  for (size_t n = 1; n <= kLfnMaxPieces && n <= index; ++n) {
    const auto piece = dir.subspan((index - n) * kDirEntrySize, kDirEntrySize);
    const uint8_t ordinal = le8(piece, kLfnOrdinal);
    if (!IsLongNameEntry(le8(piece, kDirAttributes)) || ordinal == kDeletedPiece ||
        le8(piece, kLfnChecksum) != checksum || (ordinal & ~kLfnLastPiece) != n)
      return std::nullopt;
    if ((ordinal & kLfnLastPiece) != 0) return index - n;
  }
  return std::nullopt;
}

std::optional<size_t> ReviveLongNamePieces(std::span<uint8_t> dir, size_t index) {
  if (index >= dir.size() / kDirEntrySize) return std::nullopt;
  const std::span<uint8_t> entry = dir.subspan(index * kDirEntrySize, kDirEntrySize);
  if (IsDeletedMark(entry[kDirName]) || entry[kDirName] == kDirEndMark ||
      IsLongNameEntry(entry[kDirAttributes]))
    return std::nullopt;
  const std::optional<DeletedLongName> pieces = FindDeletedLongName(dir, index);
  if (!pieces || pieces->checksum != ShortNameChecksum(entry.first(11))) return std::nullopt;
  for (size_t n = 1; n <= pieces->count; ++n) {
    uint8_t ordinal = static_cast<uint8_t>(n);
    if (n == pieces->count) ordinal |= kLfnLastPiece;
    dir[(index - n) * kDirEntrySize + kLfnOrdinal] = ordinal;
  }
  return pieces->first;
}

bool PlausibleDeletedName(std::span<const uint8_t> entry) {
  for (size_t i = 1; i < 11; ++i)
    if (le8(entry, i) < 0x20) return false;
  return true;
}

std::string ShortNameOf(std::span<const uint8_t> entry, bool deleted) {
  const uint8_t flags = le8(entry, kDirReserved);
  std::string text = Trimmed(entry.subspan(kDirName, kDirNameLength), flags & kLowerCaseName);
  if (deleted && !text.empty()) {
    // The first character was one byte of the code page: its UTF-8 form
    // goes, "_" stands in for it.
    size_t lead = 1;
    while (lead < text.size() && (static_cast<uint8_t>(text[lead]) & 0xC0) == 0x80) ++lead;
    text.replace(0, lead, "_");
  }
  const std::string extension =
      Trimmed(entry.subspan(kDirExtension, kDirExtensionLength), flags & kLowerCaseExtension);
  if (!extension.empty()) text += "." + extension;
  return text;
}

EntryName LiveEntryName(std::span<const uint8_t> dir, size_t index) {
  EntryName name;
  if (index >= dir.size() / kDirEntrySize) return name;
  const auto entry = dir.subspan(index * kDirEntrySize, kDirEntrySize);
  // Only pieces that are live and carry this entry's checksum are its own: a
  // short entry written after stale pieces must not take their name.
  bool own = false;
  if (index > 0 && index < dir.size() / kDirEntrySize) {
    const auto piece = dir.subspan((index - 1) * kDirEntrySize, kDirEntrySize);
    own = IsLongNameEntry(le8(piece, kDirAttributes)) &&
          le8(piece, kLfnOrdinal) != kDeletedPiece &&
          le8(piece, kLfnChecksum) == ShortNameChecksum(entry.first(11));
  }
  if (own && AssembleLongName(dir, index, name.text) > 0) {
    name.longName = true;
    return name;
  }
  name.text = ShortNameOf(entry, false);
  return name;
}

EntryName DeletedEntryName(std::span<const uint8_t> dir, size_t index) {
  EntryName name;
  if (index >= dir.size() / kDirEntrySize) return name;
  const std::optional<DeletedLongName> lfn = FindDeletedLongName(dir, index);
  if (lfn && lfn->firstByte) {
    name.text = lfn->text;
    name.longName = true;
    return name;
  }
  name.text = ShortNameOf(dir.subspan(index * kDirEntrySize, kDirEntrySize), true);
  return name;
}

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
    own = IsLiveLongNamePiece(piece) && le8(piece, kLfnChecksum) == ShortNameChecksum(entry.first(11));
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

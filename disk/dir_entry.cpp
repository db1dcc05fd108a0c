#include "disk/dir_entry.h"

ListedEntry ClassifyListedEntry(std::span<const uint8_t> entry, bool skipDotEntries) {
  const uint8_t attributes = le8(entry, kDirAttributes);
  const uint8_t first = le8(entry, kDirName);
  if (IsLongNameEntry(attributes)) return ListedEntry::Skip;
  if (first == kDirEndMark) return ListedEntry::End;
  if (skipDotEntries && (attributes & kAttrFolder) != 0 && first == '.') return ListedEntry::Skip;
  return ListedEntry::Row;
}

std::optional<size_t> ListedEntryOffset(std::span<const uint8_t> dir, size_t row,
                                        bool skipDotEntries) {
  size_t listed = 0;
  for (size_t at = 0; dir.size() - at >= kDirEntrySize; at += kDirEntrySize) {
    const ListedEntry use = ClassifyListedEntry(dir.subspan(at, kDirEntrySize), skipDotEntries);
    if (use == ListedEntry::End) break;
    if (use == ListedEntry::Row && listed++ == row) return at;
  }
  return std::nullopt;
}

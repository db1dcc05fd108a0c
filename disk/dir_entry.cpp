#include "disk/dir_entry.h"

#include <algorithm>
#include <cstdlib>

namespace {

uint16_t FatDate(const std::tm& tm) {
  const int year = std::clamp(tm.tm_year + 1900, 1980, 2107);
  return static_cast<uint16_t>((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
}

uint16_t FatTime(const std::tm& tm) {
  return static_cast<uint16_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
}

}  // namespace

std::time_t FileDateNow() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (end != nullptr && *end == '\0' && seconds >= 0) return static_cast<std::time_t>(seconds);
  }
  return std::time(nullptr);
}

void StampDirEntry(std::span<uint8_t> e, std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  putLe16(e, kDirCreatedTime, FatTime(tm));
  putLe16(e, kDirCreatedDate, FatDate(tm));
  putLe16(e, kDirAccessedDate, FatDate(tm));
  putLe16(e, kDirModifiedTime, FatTime(tm));
  putLe16(e, kDirModifiedDate, FatDate(tm));
}

void SetDirEntryFirstCluster(std::span<uint8_t> entry, uint32_t cluster, FatWidth fatType) {
  putLe16(entry, kDirClusterLow, static_cast<uint16_t>(cluster));
  putLe16(entry, kDirClusterHigh, fatType == FatWidth::Fat32 ? static_cast<uint16_t>(cluster >> 16) : 0);
}

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

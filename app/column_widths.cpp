#include "app/column_widths.h"

#include <array>
#include <string_view>

namespace {

constexpr size_t kHexColumns = 34;
// The offset column of a file's cluster dump is narrower: its offsets count
// from the file's start, not from a disk's.
constexpr int kDumpOffsetWidth = 100;
constexpr int kFileDumpOffsetWidth = 85;
constexpr int kDumpByteWidth = 30;
constexpr int kDumpSpacerWidth = 15;
constexpr int kDumpCharacterWidth = 20;

constexpr std::array<int, 8> kDirectoryWidths = {100, 200, 100, 75, 75, 125, 125, 125};

// The decoded views (partition table, boot record, the GPT structures) by
// their column titles. A cell wider than its column widens it.
struct TitledWidth {
  std::string_view title;
  int width;
};
constexpr std::array<TitledWidth, 13> kDecodedWidths = {{
    {"Partition", 100},
    {"Field", 200},
    {"Value", 200},
    {"Attributes", 300},
    {"Entry", 60},
    {"Type", 200},
    {"Type GUID", 300},
    {"Unique GUID", 300},
    {"First LBA", 120},
    {"Last LBA", 120},
    {"Sectors", 120},
    {"Name", 200},
    {"Problem", 200},
}};
constexpr int kDefaultWidth = 100;

int FatColumnWidth(ViewKind kind) {
  switch (kind) {
    case ViewKind::Fat12Table: return 35;
    case ViewKind::Fat16Table: return 40;
    default: return 75;
  }
}

}  // namespace

bool HexDumpColumns(const ViewPage& page) {
  return page.columns.size() == kHexColumns && page.columns.front().title == "Offset";
}

int ColumnWidth(const ViewPage& page, size_t column) {
  if (column >= page.columns.size()) return kDefaultWidth;
  if (HexDumpColumns(page)) {
    if (column == 0) return page.fileDumpShown ? kFileDumpOffsetWidth : kDumpOffsetWidth;
    if (column <= 16) return kDumpByteWidth;
    if (column == 17) return kDumpSpacerWidth;
    return kDumpCharacterWidth;
  }
  switch (page.viewKind) {
    case ViewKind::Fat12Table:
    case ViewKind::Fat16Table:
    case ViewKind::Fat32Table:
      return column == 0 ? kDefaultWidth : FatColumnWidth(page.viewKind);
    case ViewKind::RootDirectory:
    case ViewKind::SubDirectory:
      return column < kDirectoryWidths.size() ? kDirectoryWidths[column] : kDefaultWidth;
    default:
      break;
  }
  const std::string_view title = page.columns[column].title;
  for (const TitledWidth& t : kDecodedWidths)
    if (t.title == title) return t.width;
  return kDefaultWidth;
}

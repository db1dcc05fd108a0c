#include "views/format_cell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "views/list_ops.h"

namespace {

// A pane showing `bytes` bytes where byte i holds i * 7 + 3.
ViewPage HexPane(ViewKind kind, size_t bytes) {
  ViewPage pane;
  pane.viewKind = kind;
  pane.sectorBuffer.resize(bytes);
  for (size_t i = 0; i < bytes; ++i) pane.sectorBuffer[i] = static_cast<uint8_t>(i * 7 + 3);
  AddHexColumns(pane);
  AddCallbackRows(pane, (bytes + 15) / 16);
  return pane;
}

TEST(FormatCell, HexLayoutGivesOffsetBytesAndCharacters) {
  ViewPage pane = HexPane(ViewKind::SectorDump, 512);
  pane.sectorBuffer[16] = 0x00;
  pane.sectorBuffer[17] = 0x01;
  pane.sectorBuffer[18] = 0x80;
  pane.sectorBuffer[19] = 0xFF;
  pane.sectorBuffer[20] = 'A';
  EXPECT_EQ(FormatCell(pane, 1, 0), "00000010");
  EXPECT_EQ(FormatCell(pane, 31, 0), "000001F0");
  EXPECT_EQ(FormatCell(pane, 1, 1), "00");
  EXPECT_EQ(FormatCell(pane, 1, 4), "FF");
  EXPECT_EQ(FormatCell(pane, 2, 16), "4C");  // byte 47
  EXPECT_EQ(FormatCell(pane, 1, 17), "");
  // The character half: 0x00 gives an empty cell, any other byte its ANSI
  // character in UTF-8.
  EXPECT_EQ(FormatCell(pane, 1, 18), "");
  EXPECT_EQ(FormatCell(pane, 1, 19), std::string(1, '\x01'));
  EXPECT_EQ(FormatCell(pane, 1, 20), "\xE2\x82\xAC");  // the euro sign
  EXPECT_EQ(FormatCell(pane, 1, 21), "\xC3\xBF");      // y with diaeresis
  EXPECT_EQ(FormatCell(pane, 1, 22), "A");
  EXPECT_EQ(FormatCell(pane, 1, 34), "");
  EXPECT_EQ(FormatCell(pane, 1, -1), "");
  EXPECT_EQ(FormatCell(pane, 32, 1), "");  // no such row

  // The same rows while the view kind is None: every call-back cell is empty.
  pane.viewKind = ViewKind::None;
  EXPECT_EQ(FormatCell(pane, 1, 0), "");
  EXPECT_EQ(FormatCell(pane, 1, 22), "");
}

TEST(FormatCell, OffsetCountsFromTheItemStart) {
  // Third cluster of a file with 4 sectors per cluster.
  ViewPage pane = HexPane(ViewKind::ClusterDump, 4 * 512);
  pane.sectorsPerPage = 4;
  pane.pageIndex = 2;
  EXPECT_EQ(FormatCell(pane, 0, 0), "00001000");
  EXPECT_EQ(FormatCell(pane, 127, 0), "000017F0");
  // A raw sector dump far into a large volume counts past 4 GiB instead of
  // wrapping round.
  ViewPage raw = HexPane(ViewKind::RawSectorDump, 512);
  raw.pageIndex = 0x800001;
  EXPECT_EQ(FormatCell(raw, 1, 0), "100000210");
}

TEST(FormatCell, HexCellsNeverReadPastTheBuffer) {
  ViewPage pane = HexPane(ViewKind::ClusterDump, 20);  // two rows, the second partial
  EXPECT_EQ(FormatCell(pane, 1, 4), "88");                  // byte 19
  EXPECT_EQ(FormatCell(pane, 1, 5), "");
  EXPECT_EQ(FormatCell(pane, 1, 21), "\xCB\x86");  // 0x88, the circumflex
  EXPECT_EQ(FormatCell(pane, 1, 22), "");
  pane.sectorBuffer.clear();
  EXPECT_EQ(FormatCell(pane, 0, 1), "");
  EXPECT_EQ(FormatCell(pane, 0, 0), "00000000");
}

TEST(FormatCell, TwelveBitEntriesAlternateNibbles) {
  ViewPage fat12;
  fat12.viewKind = ViewKind::Fat12Table;
  fat12.sectorBuffer = {0xF0, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0x05, 0xF0, 0xFF};
  AddCallbackRows(fat12, 1);
  const char* expected[] = {"00000000", "FF0", "FFF", "003", "004", "005", "FFF"};
  for (int n = 0; n < 7; ++n) EXPECT_EQ(FormatCell(fat12, 0, n), expected[n]) << n;
  EXPECT_EQ(FormatCell(fat12, 0, 7), "");  // would need byte 9
}

TEST(FormatCell, FixedAndDirectoryTextsAreCutToTheDisplayBuffer) {
  ViewPage pane;
  pane.rows.push_back({0, {"Field", std::string(400, 'x')}});
  EXPECT_EQ(FormatCell(pane, 0, 0), "Field");
  EXPECT_EQ(FormatCell(pane, 0, 1), std::string(kDisplayTextMax, 'x'));
  EXPECT_EQ(FormatCell(pane, 0, 2), "");

  pane.viewKind = ViewKind::SubDirectory;
  pane.rows.clear();
  DirectoryRow row;
  std::memcpy(row.dosName, "README  .TXT", 13);
  row.longName = std::string(600, 'n');
  row.firstCluster = 0x1234;
  pane.rowStore.push_back(row);
  pane.rows.push_back({0, {}});
  pane.rows.push_back({7, {}});  // no such record
  EXPECT_EQ(FormatCell(pane, 0, 0), "README  .TXT");
  EXPECT_EQ(FormatCell(pane, 0, 1).size(), kDisplayTextMax);
  EXPECT_EQ(FormatCell(pane, 0, 2), "00001234");
  EXPECT_EQ(FormatCell(pane, 1, 0), "");
}

}  // namespace

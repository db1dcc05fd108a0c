#include "views/fat_views.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/image_builder.h"
#include "views/page_navigation.h"
#include "views/view_rig.h"

namespace {

using Texts = std::vector<std::string>;

// The FAT node of copy 1 of a volume.
DrivePacket FatNode(const DrivePacket& volume, FatWidth width) {
  DrivePacket p = volume;
  p.kind = FatCopyKind(width);
  p.fatType = width;
  p.startSector = volume.reservedSectors;
  p.sectorCount = volume.sectorsPerFat;
  return p;
}

Texts Titles(const char* format) {
  Texts t{"FAT Entry"};
  for (unsigned i = 0; i < 16; ++i) {
    char title[12];
    std::snprintf(title, sizeof title, format, i);
    t.push_back(title);
  }
  return t;
}

TEST(FatView, TwelveBitFloppyTable) {
  TempDir dir;
  MakeFloppy1440(dir.File("a.img"), "");
  std::vector<uint8_t> image = ReadFileBytes(dir.File("a.img"));
  ASSERT_EQ(image.size(), 2880u * 512);
  // The last entry of the 9-sector copy, 3071, is in its last two bytes.
  image[512 + 4606] = 0x12;
  image[512 + 4607] = 0xAB;
  ViewRig rig(image, ViewRig::Direct, 0);
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat12, 0);
  ASSERT_EQ(volume.sectorsPerFat, 9u);
  ShowFat12Table(rig.ctx, FatNode(volume, FatWidth::Fat12));

  EXPECT_EQ(rig.ColumnTitles(), Titles("%03X"));
  EXPECT_EQ(rig.pane.viewKind, ViewKind::Fat12Table);
  ASSERT_EQ(rig.pane.rows.size(), 192u);
  EXPECT_EQ(rig.pane.rows[191].value, 191u);
  EXPECT_EQ(rig.Row(0)[0], "00000000");
  EXPECT_EQ(rig.Row(0)[1], "FF0");
  EXPECT_EQ(rig.Row(0)[2], "FFF");
  EXPECT_EQ(rig.Row(191)[0], "00000BF0");
  EXPECT_EQ(rig.Row(191)[16], "AB1");
  EXPECT_EQ(rig.prompt.Status(1), "Current Sector Number: 1");
  EXPECT_EQ(rig.prompt.Status(0), "");
  EXPECT_TRUE(rig.prompt.Messages().empty());
}

TEST(FatView, TwelveBitLastRowStopsAtTheCopysEnd) {
  std::vector<uint8_t> disk(64 * 512, 0);
  disk[2 * 512 + 510] = 0xBC;
  disk[2 * 512 + 511] = 0x5A;
  ViewRig rig(disk);
  DrivePacket node;
  node.drive = 0x80;
  node.int13Extensions = 1;
  node.kind = NodeKind::Fat12;
  node.fatType = FatWidth::Fat12;
  node.startSector = 2;
  node.sectorCount = 1;
  node.totalSectors = 64;
  ShowFat12Table(rig.ctx, node);
  ASSERT_EQ(rig.pane.rows.size(), 22u);
  EXPECT_EQ(rig.pane.sectorBuffer.size(), 512u);
  const Texts last = rig.Row(21);
  EXPECT_EQ(last[0], "00000150");
  EXPECT_EQ(last[5], "ABC");  // entry 340, bytes 510 and 511
  for (int n = 6; n <= 16; ++n) EXPECT_EQ(last[n], "") << n;
  EXPECT_EQ(rig.prompt.Status(1), "Current Sector Number: 2");

  // An unreadable copy: the message, the columns and no rows; the first
  // pane still says "Wait....".
  ViewRig bad(disk);
  bad.dev->badReadSectors = {2};
  ShowFat12Table(bad.ctx, node);
  EXPECT_EQ(bad.prompt.Messages(), (Texts{"FAT not accessible!"}));
  EXPECT_EQ(bad.pane.columns.size(), 17u);
  EXPECT_TRUE(bad.pane.rows.empty());
  EXPECT_EQ(bad.prompt.Status(0), "Wait....");
}

TEST(FatView, SixteenBitTableListsUnreadableSectorsAsE5) {
  TempDir dir;
  MakeFatImage(dir.File("v.img"), 16, 40960);
  const std::vector<uint8_t> image = ReadFileBytes(dir.File("v.img"));
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat16);
  ASSERT_GE(volume.sectorsPerFat, 2u);
  const DrivePacket node = FatNode(volume, FatWidth::Fat16);
  ViewRig rig(image);
  rig.dev->badReadSectors = {uint64_t{node.startSector} + 1};
  ShowFat16Table(rig.ctx, node);

  EXPECT_EQ(rig.prompt.Messages(), (Texts{"FAT not accessible!"}));
  EXPECT_EQ(rig.ColumnTitles(), Titles("%04X"));
  EXPECT_EQ(rig.pane.viewKind, ViewKind::Fat16Table);
  ASSERT_EQ(rig.pane.rows.size(), uint64_t{node.sectorCount} * 16);
  EXPECT_EQ(rig.pane.rows[3].value, 96u);
  EXPECT_EQ(rig.Row(3)[0], "00000030");
  EXPECT_EQ(rig.Row(0)[1], "FFF8");
  EXPECT_EQ(rig.Row(15)[16], "0000");
  for (size_t r = 16; r < 32; ++r)
    for (size_t n = 1; n <= 16; ++n) EXPECT_EQ(rig.Row(r)[n], "E5E5") << r << " " << n;
  EXPECT_EQ(rig.Row(32)[1], "0000");
  EXPECT_EQ(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(node.startSector));
}

TEST(FatView, ThirtyTwoBitTableMasksTheTopNibble) {
  TempDir dir;
  MakeFatImage(dir.File("v.img"), 32, 70000);
  std::vector<uint8_t> image = ReadFileBytes(dir.File("v.img"));
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat32);
  const DrivePacket node = FatNode(volume, FatWidth::Fat32);
  const size_t fat = size_t{node.startSector} * 512;
  const uint8_t entry[] = {0x05, 0x00, 0x00, 0xF0};
  std::copy(std::begin(entry), std::end(entry), image.begin() + fat + 4 * 53);
  // The last entry of the copy, on its second page.
  const uint8_t tail[] = {0x78, 0x56, 0x34, 0x12};
  std::copy(std::begin(tail), std::end(tail), image.begin() + fat + size_t{node.sectorCount} * 512 - 4);
  ViewRig rig(image);
  rig.dev->readLog.clear();
  ShowFat32Table(rig.ctx, node);

  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_EQ(rig.ColumnTitles(), Titles("%08X"));
  EXPECT_EQ(rig.pane.viewKind, ViewKind::Fat32Table);
  // A copy of more than one page shows its first: its sectors alone are read.
  ASSERT_GT(node.sectorCount, kFatPageSectors);
  ASSERT_LT(node.sectorCount, 2 * kFatPageSectors);
  ASSERT_EQ(rig.pane.rows.size(), uint64_t{kFatPageSectors} * 8);
  EXPECT_EQ(rig.pane.sectorBuffer.size(), kFatPageSectors * 512u);
  EXPECT_EQ(rig.pane.rows[3].value, 192u);
  EXPECT_EQ(rig.Row(0)[3], "0FFFFFF8");  // the root folder's one cluster
  EXPECT_EQ(rig.Row(3)[0], "00000030");
  EXPECT_EQ(rig.Row(3)[6], "00000005");
  EXPECT_TRUE(rig.pane.canGoNext);
  EXPECT_FALSE(rig.pane.canGoPrevious);
  const auto pageReads = [&](uint64_t first, uint64_t sectors) {
    uint64_t read = 0;
    for (const auto& [offset, length] : rig.dev->readLog) {
      // Only the page's sectors (and the copy's last sector, probed once).
      const bool inPage = offset >= first * 512 && offset + length <= (first + sectors) * 512;
      const bool probe = offset == (uint64_t{node.startSector} + node.sectorCount - 1) * 512 && length == 512;
      EXPECT_TRUE(inPage || probe) << offset << " " << length;
      if (inPage) read += length;
    }
    EXPECT_EQ(read, sectors * 512);
    rig.dev->readLog.clear();
  };
  pageReads(node.startSector, kFatPageSectors);

  // Next shows the rest of the copy, its entries numbered from the copy's
  // start; Previous goes back.
  ASSERT_TRUE(GoNext(rig.ctx, {}));
  const uint32_t rest = node.sectorCount - kFatPageSectors;
  pageReads(uint64_t{node.startSector} + kFatPageSectors, rest);
  ASSERT_EQ(rig.pane.rows.size(), uint64_t{rest} * 8);
  EXPECT_EQ(rig.Row(0)[0], "0000C000");  // 384 sectors of 128 entries
  EXPECT_EQ(rig.Row(rest * 8 - 1)[16], "02345678");
  EXPECT_EQ(rig.prompt.Status(1),
            "Current Sector Number: " + std::to_string(node.startSector + kFatPageSectors));
  EXPECT_FALSE(rig.pane.canGoNext);
  EXPECT_FALSE(GoNext(rig.ctx, {}));
  ASSERT_TRUE(GoPrevious(rig.ctx, {}));
  EXPECT_EQ(rig.Row(3)[6], "00000005");
  EXPECT_FALSE(GoToPage(rig.ctx, {}, 2));
  EXPECT_EQ(rig.prompt.Messages(),
            (Texts{"Page number is past the last page of the current selected item, 1"}));
}

TEST(FatView, DamagedSizesAreRefusedBeforeAnythingIsTaken) {
  std::vector<uint8_t> disk(64 * 512, 0);
  DrivePacket node;
  node.drive = 0x80;
  node.int13Extensions = 1;
  node.kind = NodeKind::Fat16;
  node.fatType = FatWidth::Fat16;
  node.startSector = 1;
  node.totalSectors = 64;

  for (uint32_t count : {0u, 65u, 0xFFFFFFFFu}) {
    ViewRig rig(disk);
    node.sectorCount = count;
    ShowFat16Table(rig.ctx, node);
    EXPECT_EQ(rig.prompt.Messages(), (Texts{"FAT not accessible!"})) << count;
    EXPECT_TRUE(rig.pane.rows.empty());
    EXPECT_TRUE(rig.pane.sectorBuffer.empty());
    EXPECT_EQ(rig.pane.viewKind, ViewKind::None);
    EXPECT_EQ(rig.dev->reads, 0);
  }

  // A copy that the boot record claims far past the disk's end: its last
  // sector is tried before its memory is taken.
  {
    ViewRig rig(disk);
    node.totalSectors = 0x00F00000;
    node.sectorCount = 40000;
    ShowFat32Table(rig.ctx, node);
    EXPECT_EQ(rig.prompt.Messages(), (Texts{"FAT not accessible!"}));
    EXPECT_TRUE(rig.pane.rows.empty());
    EXPECT_TRUE(rig.pane.sectorBuffer.empty());
    EXPECT_EQ(rig.pane.viewKind, ViewKind::None);
    EXPECT_EQ(rig.dev->readLog, (std::vector<std::pair<uint64_t, size_t>>{{40000u * 512, 512}}));
    node.totalSectors = 64;
  }

  // Within the volume but over the memory a view may take.
  ViewRig rig(disk);
  rig.pane.budget.limit = 8 * 512;
  node.sectorCount = 9;
  ShowFat32Table(rig.ctx, node);
  EXPECT_EQ(rig.prompt.Messages(), (Texts{"FAT not accessible!"}));
  EXPECT_TRUE(rig.pane.rows.empty());
}

}  // namespace

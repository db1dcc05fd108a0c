#include "views/partition_views.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/image_builder.h"
#include "views/view_rig.h"

namespace {

using Texts = std::vector<std::string>;

DrivePacket DiskNode() {
  DrivePacket p;
  p.drive = 0x80;
  p.kind = NodeKind::HardDisk;
  p.sector = 1;
  p.sectorCount = 1;
  p.int13Extensions = 1;
  return p;
}

void PutEntry(std::vector<uint8_t>& disk, uint64_t sector, int index, const uint8_t (&e)[16]) {
  std::copy(std::begin(e), std::end(e), disk.begin() + sector * 512 + 446 + 16 * index);
}

TEST(PartitionView, ListsTheFourEntriesOfAnSfdiskTable) {
  TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(PartitionImage(image, 65536,
                             "start=2048, size=20480, type=6, bootable\n"
                             "start=22528, size=40960, type=c\n"));
  ViewRig rig(ReadFileBytes(image));
  rig.pane.viewKind = ViewKind::ClusterDump;  // left over from an earlier view
  ShowPartitionTable(rig.ctx, DiskNode());

  EXPECT_EQ(rig.ColumnTitles(), (Texts{"Partition", "Field", "Value"}));
  EXPECT_EQ(rig.pane.viewKind, ViewKind::None);
  ASSERT_EQ(rig.pane.rows.size(), 40u);
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_EQ(rig.Row(0), (Texts{"1", "Boot Indicator", "Bootable"}));
  EXPECT_EQ(rig.Row(4), (Texts{"", "System Indicator", "6"}));
  EXPECT_EQ(rig.Row(8), (Texts{"", "Number of Sectors", "20480"}));
  EXPECT_EQ(rig.Row(9), (Texts{"", "Relative Sectors", "2048"}));
  EXPECT_EQ(rig.Row(10), (Texts{"2", "Boot Indicator", "Non-Bootable"}));
  EXPECT_EQ(rig.Row(14), (Texts{"", "System Indicator", "12"}));
  EXPECT_EQ(rig.Row(18), (Texts{"", "Number of Sectors", "40960"}));
  EXPECT_EQ(rig.Row(19), (Texts{"", "Relative Sectors", "22528"}));
  // Empty entries are listed like the others.
  EXPECT_EQ(rig.Row(20), (Texts{"3", "Boot Indicator", "Non-Bootable"}));
  for (size_t r = 21; r < 30; ++r) EXPECT_EQ(rig.Row(r)[2], "0") << r;
  EXPECT_EQ(rig.Row(29), (Texts{"", "Relative Sectors", "0"}));
  EXPECT_EQ(rig.Row(30)[0], "4");
}

TEST(PartitionView, ShowsCylinderBitsInTheSectorByteAndReadsTheNodesOwnSector) {
  std::vector<uint8_t> disk(8 * 512, 0);
  // At sector 2 (an extended partition's table): boot 0x81, start CHS
  // cylinder 1023 head 254 sector 63, end the same, type 5.
  const uint8_t e[16] = {0x81, 254, 0xFF, 0xFF, 5, 254, 0xFF, 0xFF,
                         0x10, 0x20, 0x30, 0x40, 0x01, 0x02, 0x03, 0x04};
  PutEntry(disk, 2, 0, e);
  ViewRig rig(disk);
  DrivePacket node = DiskNode();
  node.kind = NodeKind::Extended;
  node.partitionStart = 2;
  node.startSector = 5;  // plays no part
  ShowPartitionTable(rig.ctx, node);
  ASSERT_EQ(rig.pane.rows.size(), 40u);
  EXPECT_EQ(rig.Row(0), (Texts{"1", "Boot Indicator", "Non-Bootable"}));
  EXPECT_EQ(rig.Row(1), (Texts{"", "Cylinder", "255"}));
  EXPECT_EQ(rig.Row(2), (Texts{"", "Head", "254"}));
  EXPECT_EQ(rig.Row(3), (Texts{"", "Sector", "255"}));
  EXPECT_EQ(rig.Row(5), (Texts{"", "Ending Cylinder", "255"}));
  EXPECT_EQ(rig.Row(6), (Texts{"", "Ending Head", "254"}));
  EXPECT_EQ(rig.Row(7), (Texts{"", "Ending Sector", "255"}));
  EXPECT_EQ(rig.Row(8), (Texts{"", "Number of Sectors", "67305985"}));
  EXPECT_EQ(rig.Row(9), (Texts{"", "Relative Sectors", "1076895760"}));
  EXPECT_EQ(rig.dev->readLog.back(), (std::pair<uint64_t, size_t>{2 * 512, 512}));
}

TEST(PartitionView, LibraryPathPassesTheChsBase) {
  std::vector<uint8_t> disk(128 * 512, 0);
  const uint8_t e[16] = {0x80, 1, 1, 0, 7, 0, 0, 0, 63, 0, 0, 0, 100, 0, 0, 0};
  PutEntry(disk, 63, 0, e);  // cylinder 0, head 1, sector 1 with 63 sectors a track
  ViewRig rig(disk, ViewRig::Library);
  DrivePacket node = DiskNode();
  node.int13Extensions = 0;
  node.head = 1;
  node.partitionStart = 0;  // the CHS base rules without extensions
  ShowPartitionTable(rig.ctx, node);
  ASSERT_EQ(rig.pane.rows.size(), 40u);
  EXPECT_EQ(rig.Row(0)[2], "Bootable");
  EXPECT_EQ(rig.Row(4)[2], "7");
}

// The message a view gives when the node's first sector cannot be read, and
// what it leaves in the list.
Texts FailureOf(void (*view)(ViewContext&, const DrivePacket&), ViewRig::Path path,
                size_t columns) {
  ViewRig rig(std::vector<uint8_t>(4 * 512, 0), path);
  rig.dev->badReadSectors = {0};
  view(rig.ctx, DiskNode());
  EXPECT_EQ(rig.pane.columns.size(), columns);
  EXPECT_TRUE(rig.pane.rows.empty());
  return rig.prompt.Messages();
}

TEST(PartitionView, UnreadableTableGivesThePathsMessage) {
  EXPECT_EQ(FailureOf(ShowPartitionTable, ViewRig::Library, 3),
            (Texts{"Partition Table inaccessible!"}));
  EXPECT_EQ(FailureOf(ShowPartitionTable, ViewRig::Direct, 3),
            (Texts{"Partition Table not accessible!"}));

  // A hard disk the drive listing has not opened yet is opened for the read.
  ViewRig closed(std::vector<uint8_t>(4 * 512, 0));
  closed.dev->Close();
  ShowPartitionTable(closed.ctx, DiskNode());
  EXPECT_TRUE(closed.prompt.Messages().empty());
  EXPECT_EQ(closed.pane.rows.size(), 40u);
}

TEST(BootRecordView, DecodesAFat32BootSector) {
  TempDir dir;
  const std::string image = dir.File("fat32.img");
  MakeFatImage(image, 32, 70000, "-n VOL32");
  const std::vector<uint8_t> bytes = ReadFileBytes(image);
  ASSERT_EQ(le16(bytes, 22), 0);
  const uint32_t perFat = le32(bytes, 36);
  ASSERT_NE(perFat, 0u);
  ViewRig rig(bytes);
  DrivePacket node = DiskNode();
  node.kind = NodeKind::Volume;
  ShowBootRecord(rig.ctx, node);

  EXPECT_EQ(rig.ColumnTitles(), (Texts{"Field", "Value"}));
  EXPECT_EQ(rig.pane.viewKind, ViewKind::None);
  ASSERT_EQ(rig.pane.rows.size(), 13u);
  const uint32_t heads = le16(bytes, 26), perTrack = le16(bytes, 24);
  ASSERT_EQ(le16(bytes, 19), 0);
  const uint32_t total = le32(bytes, 32);  // mkfs.fat rounds the size down
  const Texts expected[13] = {
      {"OEM Name", "mkfs.fat"},
      {"Bytes Per Sector", "512"},
      {"Sectors Per Cluster", std::to_string(bytes[13])},
      {"Reserved Sectors", std::to_string(le16(bytes, 14))},
      {"Number of FATs", "2"},
      {"Number of Root Directory Entries", "0"},
      {"Media Descriptor Byte", "0xF8"},
      {"Sectors Per FAT", std::to_string(perFat)},
      {"Sectors Per Track", std::to_string(perTrack)},
      {"Number of Heads", std::to_string(heads)},
      {"Number of Hidden Sectors", "0"},
      {"Total Tracks", std::to_string(total / (heads * perTrack))},
      {"Total Sectors", std::to_string(total)}};
  for (size_t i = 0; i < 13; ++i) EXPECT_EQ(rig.Row(i), expected[i]) << i;
}

TEST(BootRecordView, DamagedBootSectorsStillShow) {
  std::vector<uint8_t> disk(4 * 512, 0);
  uint8_t* s = disk.data() + 512;  // an unknown partition at sector 1
  const char oem[] = "ABCDEFGH";  // no zero within the eight bytes, none after
  std::copy(oem, oem + 8, s + 3);
  s[11] = 'A';          // 0x0241 bytes per sector
  s[12] = 2;
  s[21] = 0x0A;
  s[22] = 9;            // u16 sectors per FAT wins over the u32 at 36
  s[36] = 77;
  s[19] = 0x34;         // 16-bit total 0x1234
  s[20] = 0x12;
  s[32] = 0x99;         // ignored while the 16-bit total is set
  s[26] = 2;            // two heads, no sectors per track
  ViewRig rig(disk);
  DrivePacket node = DiskNode();
  node.kind = NodeKind::Unknown;
  node.partitionStart = 1;
  node.startSector = 1;
  ShowBootRecord(rig.ctx, node);
  ASSERT_EQ(rig.pane.rows.size(), 13u);
  EXPECT_EQ(rig.Row(0), (Texts{"OEM Name", "ABCDEFGH"}));
  EXPECT_EQ(rig.Row(1), (Texts{"Bytes Per Sector", "577"}));
  EXPECT_EQ(rig.Row(6), (Texts{"Media Descriptor Byte", "0xA"}));
  EXPECT_EQ(rig.Row(7), (Texts{"Sectors Per FAT", "9"}));
  EXPECT_EQ(rig.Row(11), (Texts{"Total Tracks", "0"}));
  EXPECT_EQ(rig.Row(12), (Texts{"Total Sectors", "4660"}));

  // With 18 sectors a track: 4660 / 36, rounded down.
  rig.dev->Bytes()[512 + 24] = 18;
  ShowBootRecord(rig.ctx, node);
  EXPECT_EQ(rig.Row(11), (Texts{"Total Tracks", "129"}));

  // A blank sector: every value 0, the OEM name empty, no division by zero.
  ViewRig blank(std::vector<uint8_t>(512, 0));
  ShowBootRecord(blank.ctx, DiskNode());
  ASSERT_EQ(blank.pane.rows.size(), 13u);
  EXPECT_EQ(blank.Row(0), (Texts{"OEM Name", ""}));
  EXPECT_EQ(blank.Row(6), (Texts{"Media Descriptor Byte", "0x0"}));
  EXPECT_EQ(blank.Row(11), (Texts{"Total Tracks", "0"}));
  EXPECT_TRUE(blank.prompt.Messages().empty());
}

TEST(BootRecordView, UnreadableBootSectorGivesThePathsMessage) {
  EXPECT_EQ(FailureOf(ShowBootRecord, ViewRig::Library, 2), (Texts{"Boot Record inaccessible!"}));
  EXPECT_EQ(FailureOf(ShowBootRecord, ViewRig::Direct, 2), (Texts{"Boot Record not accessible!"}));
}

TEST(BootRecordView, FloppyIsOpenedAgainBeforeTheRead) {
  std::vector<uint8_t> floppy(2880 * 512, 0);
  floppy[3] = 'X';
  DrivePacket node;
  node.drive = 0;
  node.kind = NodeKind::Volume;
  node.sector = 1;
  node.sectorCount = 1;

  // A changed disk: the first handle sees none, the new one reads.
  ViewRig changed(floppy, ViewRig::Direct, 0);
  changed.dev->noDisk = true;
  changed.dev->insertOnReopen = true;
  ShowBootRecord(changed.ctx, node);
  EXPECT_EQ(changed.dev->opens, 1);
  EXPECT_TRUE(changed.prompt.Messages().empty());
  ASSERT_EQ(changed.pane.rows.size(), 13u);
  EXPECT_EQ(changed.Row(0)[1], "X");

  // A drive that cannot be opened at all says so instead of staying blank.
  ViewRig gone(floppy, ViewRig::Direct, 0);
  gone.dev->openFails = true;
  ShowBootRecord(gone.ctx, node);
  EXPECT_EQ(gone.prompt.Messages(), (Texts{"Boot Record not accessible!"}));
  EXPECT_TRUE(gone.pane.rows.empty());
}

}  // namespace

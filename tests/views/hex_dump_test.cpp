#include "views/hex_dump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "disk/sector_access.h"
#include "fixtures/image_builder.h"
#include "views/view_rig.h"

namespace {

using Texts = std::vector<std::string>;

std::vector<uint8_t> Pattern(size_t bytes, unsigned seed) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>((i / 512) * 31 + i * 7 + seed);
  return v;
}

std::string Hex2(uint8_t b) {
  char t[4];
  std::snprintf(t, sizeof t, "%02X", b);
  return t;
}

void ExpectHexColumns(const ViewRig& rig) {
  Texts titles{"Offset"};
  for (int i = 0; i < 16; ++i) titles.push_back(Hex2(static_cast<uint8_t>(i)));
  titles.push_back("");
  for (const char* c : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D",
                        "E", "F"})
    titles.push_back(c);
  EXPECT_EQ(rig.ColumnTitles(), titles);
}

DrivePacket DiskPacket() {
  DrivePacket p;
  p.drive = 0x80;
  p.sector = 1;
  p.int13Extensions = 1;
  return p;
}

TEST(HexDump, SectorDumpShowsTheExtentsFirstSector) {
  const std::vector<uint8_t> disk = Pattern(16 * 512, 1);
  ViewRig rig(disk);
  DrivePacket p = DiskPacket();
  p.kind = NodeKind::Fat16;
  p.partitionStart = 2;
  p.startSector = 5;
  p.sectorCount = 3;
  rig.pane.pageIndex = 9;  // whatever the pane showed before
  rig.pane.sectorsPerPage = 4;
  ShowSectorDump(rig.ctx, p);

  ExpectHexColumns(rig);
  EXPECT_EQ(rig.pane.viewKind, ViewKind::SectorDump);
  ASSERT_EQ(rig.pane.rows.size(), 32u);
  EXPECT_EQ(rig.pane.rows[31].value, 31u);
  EXPECT_EQ(rig.pane.sectorsPerPage, 1u);
  EXPECT_EQ(rig.pane.pageIndex, 0u);
  EXPECT_FALSE(rig.pane.canGoPrevious);
  EXPECT_TRUE(rig.pane.canGoNext);
  EXPECT_EQ(rig.pane.shownPacket.startSector, 5u);
  EXPECT_EQ(rig.pane.shownPacket.sectorCount, 3u);
  const size_t at = 7 * 512 + 31 * 16;  // absolute sector 7, last row
  EXPECT_EQ(rig.Row(31)[0], "000001F0");
  EXPECT_EQ(rig.Row(31)[1], Hex2(disk[at]));
  EXPECT_EQ(rig.Row(31)[16], Hex2(disk[at + 15]));
  EXPECT_EQ(rig.prompt.Status(1), "Current Sector Number: 5");
  EXPECT_TRUE(rig.prompt.Messages().empty());

  // A one-sector extent cannot go on.
  p.sectorCount = 1;
  ShowSectorDump(rig.ctx, p);
  EXPECT_FALSE(rig.pane.canGoNext);

  // An unreadable sector: the message, the columns, no rows.
  ViewRig bad(disk);
  bad.dev->badReadSectors = {7};
  p.sectorCount = 3;
  ShowSectorDump(bad.ctx, p);
  EXPECT_EQ(bad.prompt.Messages(), (Texts{"Sector not accessible!"}));
  EXPECT_EQ(bad.pane.columns.size(), 34u);
  EXPECT_TRUE(bad.pane.rows.empty());
  EXPECT_EQ(bad.pane.viewKind, ViewKind::SectorDump);
}

TEST(HexDump, MasterBootRecordIsReadAtTheItemsOwnAddress) {
  const std::vector<uint8_t> disk = Pattern(16 * 512, 2);
  // Direct path, the hard disk not yet opened: the item read opens it;
  // ReadSectors would have neither opened it nor kept quiet about "Wait....".
  ViewRig rig(disk);
  rig.dev->Close();
  DrivePacket mbr = DiskPacket();
  mbr.kind = NodeKind::HardDisk;
  mbr.sectorCount = 1;
  ShowSectorDump(rig.ctx, mbr);
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_EQ(rig.prompt.WaitCount(), 1);  // ResetList's only
  EXPECT_EQ(rig.dev->opens, 1);
  ASSERT_EQ(rig.pane.rows.size(), 32u);
  EXPECT_EQ(rig.Row(0)[1], Hex2(disk[0]));
  EXPECT_EQ(rig.prompt.Status(1), "Current Sector Number: 0");
  EXPECT_FALSE(rig.pane.canGoNext);

  // Library path: an extended partition's table sector by its LBA.
  ViewRig lib(disk, ViewRig::Library);
  DrivePacket ext = DiskPacket();
  ext.kind = NodeKind::Extended;
  ext.sectorCount = 1;
  ext.partitionStart = 4;
  ShowSectorDump(lib.ctx, ext);
  EXPECT_EQ(lib.prompt.WaitCount(), 1);
  ASSERT_EQ(lib.pane.rows.size(), 32u);
  EXPECT_EQ(lib.Row(0)[1], Hex2(disk[4 * 512]));

  // Failures: the direct path speaks of the boot record, the library path of
  // the sector.
  ViewRig badDirect(disk);
  badDirect.dev->badReadSectors = {0};
  ShowSectorDump(badDirect.ctx, mbr);
  EXPECT_EQ(badDirect.prompt.Messages(), (Texts{"Boot Record not accessible!"}));
  EXPECT_TRUE(badDirect.pane.rows.empty());
  ViewRig badLib(disk, ViewRig::Library);
  badLib.dev->badReadSectors = {0};
  ShowSectorDump(badLib.ctx, mbr);
  EXPECT_EQ(badLib.prompt.Messages(), (Texts{"Sector not accessible!"}));
  EXPECT_TRUE(badLib.pane.rows.empty());
}

TEST(HexDump, ItemSectorIsWrittenAtTheItemsOwnAddress) {
  std::vector<uint8_t> sector(512, 0xAB);
  DrivePacket volume = DiskPacket();
  volume.partitionStart = 3;
  volume.startSector = 0;  // the node's own sector
  for (auto path : {ViewRig::Direct, ViewRig::Library}) {
    ViewRig rig(std::vector<uint8_t>(8 * 512, 0), path);
    ASSERT_TRUE(WriteNodeSectors(rig.access, volume, 0, sector));
    EXPECT_EQ(rig.dev->writeLog, (std::vector<std::pair<uint64_t, size_t>>{{3 * 512, 512}}));
    EXPECT_EQ(rig.dev->Bytes()[3 * 512 + 511], 0xAB);
    rig.dev->badWriteSectors = {3};
    EXPECT_FALSE(WriteNodeSectors(rig.access, volume, 0, sector));
  }
  // A floppy whose disk was changed: opened again, the same sector retried.
  ViewRig floppy(std::vector<uint8_t>(8 * 512, 0), ViewRig::Direct, 0);
  floppy.dev->noDisk = true;
  floppy.dev->insertOnReopen = true;
  volume.drive = 0;
  ASSERT_TRUE(WriteNodeSectors(floppy.access, volume, 0, sector));
  EXPECT_EQ(floppy.dev->opens, 1);
  EXPECT_EQ(floppy.dev->writeLog.back(), (std::pair<uint64_t, size_t>{3 * 512, 512}));
  floppy.dev->noDisk = true;
  floppy.dev->openFails = true;
  EXPECT_FALSE(WriteNodeSectors(floppy.access, volume, 0, sector));
}

TEST(HexDump, SectorDumpWithoutItsBufferReleasesTheChain) {
  ViewRig rig(Pattern(4 * 512, 3));
  rig.pane.clusterChain = {2, 3, 4};
  rig.pane.chainLength = 3;
  rig.pane.viewKind = ViewKind::ClusterDump;
  rig.pane.budget.limit = 100;
  DrivePacket p = DiskPacket();
  p.startSector = 1;
  p.sectorCount = 2;
  ShowSectorDump(rig.ctx, p);
  EXPECT_EQ(rig.prompt.Messages(), (Texts{"Fatal Error! Not able to allocate a buffer!"}));
  EXPECT_EQ(rig.pane.viewKind, ViewKind::None);
  EXPECT_TRUE(rig.pane.clusterChain.empty());
  EXPECT_EQ(rig.pane.chainLength, 0u);
  EXPECT_TRUE(rig.pane.rows.empty());
  EXPECT_EQ(rig.dev->reads, 0);
}

// Real files on a FAT16 volume of 4 sectors a cluster.
class HexDumpFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    FatVolume v = MakeFatImage(dir.File("v.img"), 16, 40960, "-s 4");
    big = Pattern(3 * 2048, 5);
    ASSERT_TRUE(v.PutFile("::/BIG.BIN", big));
    ASSERT_TRUE(v.PutFile("::/ONE.TXT", std::string(100, 'o')));
    ASSERT_TRUE(v.PutFile("::/EMPTY.TXT", std::string()));
    ASSERT_TRUE(v.MakeDir("::/DOCS"));
    image = ReadFileBytes(v.image);
    volume = VolumeFromImage(image, 0, FatWidth::Fat16);
    ASSERT_EQ(volume.sectorsPerCluster, 4u);
  }
  std::string Status(uint32_t cluster) const {
    char t[96];
    std::snprintf(t, sizeof t, "Current Cluster Number: 0x%08X, Current Sector Number: %u",
                  cluster, volume.dataStart + (cluster - 2) * 4);
    return t;
  }
  TempDir dir;
  std::vector<uint8_t> big;
  std::vector<uint8_t> image;
  DrivePacket volume;
};

TEST_F(HexDumpFiles, FileDumpPagesThroughTheChain) {
  ViewRig rig(image);
  const DrivePacket file = RootEntryNode(image, volume, "BIG     BIN");
  ShowFileClusterDump(rig.ctx, file);
  ExpectHexColumns(rig);
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_EQ(rig.pane.viewKind, ViewKind::ClusterDump);
  EXPECT_TRUE(rig.pane.fileDumpShown);
  EXPECT_EQ(rig.pane.shownPacket.firstCluster, file.firstCluster);
  ASSERT_EQ(rig.pane.chainLength, 3u);
  ASSERT_EQ(rig.pane.clusterChain.size(), 3u);
  EXPECT_EQ(rig.pane.sectorsPerPage, 4u);
  EXPECT_EQ(rig.pane.pageIndex, 0u);
  EXPECT_FALSE(rig.pane.canGoPrevious);
  EXPECT_TRUE(rig.pane.canGoNext);
  ASSERT_EQ(rig.pane.rows.size(), 128u);
  EXPECT_EQ(rig.Row(0)[1], Hex2(big[0]));
  EXPECT_EQ(rig.Row(127)[16], Hex2(big[2047]));
  EXPECT_EQ(rig.prompt.Status(1), Status(rig.pane.clusterChain[0]));
  EXPECT_EQ(rig.prompt.Status(0), "");

  // The third cluster, as the editor pages to it.
  rig.pane.pageIndex = 2;
  ASSERT_TRUE(ReadClusterPage(rig.ctx, rig.pane.shownPacket, rig.pane.clusterChain[2]));
  EXPECT_EQ(rig.Row(0)[0], "00001000");
  EXPECT_EQ(rig.Row(0)[1], Hex2(big[4096]));
  EXPECT_EQ(rig.prompt.Status(1), Status(rig.pane.clusterChain[2]));
}

TEST_F(HexDumpFiles, OneClusterAndEmptyFiles) {
  ViewRig one(image);
  ShowFileClusterDump(one.ctx, RootEntryNode(image, volume, "ONE     TXT"));
  EXPECT_EQ(one.pane.chainLength, 1u);
  EXPECT_EQ(one.pane.rows.size(), 128u);
  EXPECT_FALSE(one.pane.canGoPrevious);
  EXPECT_FALSE(one.pane.canGoNext);
  EXPECT_EQ(one.Row(0)[18], "o");

  ViewRig empty(image);
  const DrivePacket node = RootEntryNode(image, volume, "EMPTY   TXT");
  ASSERT_EQ(node.firstCluster, 0u);
  ShowFileClusterDump(empty.ctx, node);
  EXPECT_EQ(empty.pane.columns.size(), 34u);
  EXPECT_TRUE(empty.pane.rows.empty());
  EXPECT_TRUE(empty.prompt.Messages().empty());
  EXPECT_EQ(empty.pane.viewKind, ViewKind::None);
  EXPECT_FALSE(empty.pane.canGoNext);
}

TEST_F(HexDumpFiles, FatAndClusterFailures) {
  const DrivePacket file = RootEntryNode(image, volume, "BIG     BIN");
  // FAT 1 unreadable: FAT 2 serves.
  ViewRig second(image);
  second.dev->badReadSectors = {volume.reservedSectors};
  ShowFileClusterDump(second.ctx, file);
  EXPECT_TRUE(second.prompt.Messages().empty());
  EXPECT_EQ(second.pane.chainLength, 3u);

  // Both copies unreadable.
  ViewRig none(image);
  none.dev->badReadSectors = {volume.reservedSectors, volume.reservedSectors + volume.sectorsPerFat};
  ShowFileClusterDump(none.ctx, file);
  EXPECT_EQ(none.prompt.Messages(), (Texts{"FAT not accessible!"}));
  EXPECT_EQ(none.pane.viewKind, ViewKind::None);
  EXPECT_EQ(none.pane.columns.size(), 34u);
  EXPECT_TRUE(none.pane.rows.empty());

  // The second sector of the first cluster unreadable: the dump goes on.
  ViewRig cluster(image);
  cluster.dev->badReadSectors = {volume.dataStart + (file.firstCluster - 2) * 4 + 1};
  ShowFileClusterDump(cluster.ctx, file);
  EXPECT_EQ(cluster.prompt.Messages(), (Texts{"Cluster not accessible!"}));
  EXPECT_EQ(cluster.pane.viewKind, ViewKind::ClusterDump);
  ASSERT_EQ(cluster.pane.rows.size(), 128u);
  EXPECT_EQ(cluster.Row(0)[1], Hex2(big[0]));
  // The sector that did not read says so; the ones around it show.
  EXPECT_EQ(cluster.Row(32)[1], "??");
  EXPECT_EQ(cluster.Row(64)[1], Hex2(big[1024]));
}

TEST_F(HexDumpFiles, FolderDumpKeepsTheSelectionsPacket) {
  ViewRig rig(image);
  // What the pane showed before: a partition table's fixed rows.
  rig.pane.columns = {{"Partition"}};
  rig.pane.rows.push_back({0, {"1"}});
  DrivePacket folder = RootEntryNode(image, volume, "DOCS       ");
  ASSERT_NE(folder.attributes & 0x10, 0);
  rig.pane.shownPacket = folder;
  rig.pane.shownPacket.nameText = "DOCS";
  ShowFolderClusterDump(rig.ctx, folder);
  ExpectHexColumns(rig);
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_FALSE(rig.pane.fileDumpShown);
  EXPECT_STREQ(rig.pane.shownPacket.nameText, "DOCS");
  EXPECT_EQ(rig.pane.viewKind, ViewKind::ClusterDump);
  ASSERT_EQ(rig.pane.rows.size(), 128u);
  EXPECT_EQ(rig.Row(0)[18], ".");  // the "." entry
  EXPECT_FALSE(rig.pane.canGoNext);
  EXPECT_EQ(rig.prompt.Status(1), Status(folder.firstCluster));

  // A folder whose FAT cannot be read leaves nothing of the earlier view.
  ViewRig bad(image);
  bad.pane.columns = {{"Partition"}};
  bad.pane.rows.push_back({0, {"1"}});
  bad.dev->badReadSectors = {volume.reservedSectors, volume.reservedSectors + volume.sectorsPerFat};
  ShowFolderClusterDump(bad.ctx, folder);
  EXPECT_EQ(bad.prompt.Messages(), (Texts{"FAT not accessible!"}));
  EXPECT_TRUE(bad.pane.columns.empty());
  EXPECT_TRUE(bad.pane.rows.empty());
  EXPECT_EQ(bad.pane.viewKind, ViewKind::None);
}

// A small FAT16 volume held in memory: FAT 1 at sector 1, FAT 2 at sector 2,
// one sector each; data from sector 3, one sector a cluster; 64 sectors.
struct TinyVolume {
  TinyVolume() : disk(64 * 512, 0) {
    node.drive = 0x80;
    node.int13Extensions = 1;
    node.kind = NodeKind::DirEntry;
    node.fatType = FatWidth::Fat16;
    node.reservedSectors = 1;
    node.sectorsPerFat = 1;
    node.sectorsPerCluster = 1;
    node.startSector = 3;
    node.dataStart = 3;
    node.totalSectors = 64;
    node.firstCluster = 2;
  }
  // Entry c of both FAT copies.
  void Link(uint32_t c, uint16_t next) {
    for (size_t copy = 1; copy <= 2; ++copy) {
      disk[copy * 512 + 2 * c] = static_cast<uint8_t>(next);
      disk[copy * 512 + 2 * c + 1] = static_cast<uint8_t>(next >> 8);
    }
  }
  std::vector<uint8_t> disk;
  DrivePacket node;
};

TEST(HexDump, DamagedVolumesGiveTheDumpsOwnMessages) {
  {  // A chain longer than the memory a view may take.
    TinyVolume v;
    for (uint16_t c = 2; c < 200; ++c) v.Link(c, c + 1);
    v.Link(200, 0xFFFF);
    ViewRig rig(v.disk);
    rig.pane.budget.limit = 512;
    ShowFileClusterDump(rig.ctx, v.node);
    EXPECT_EQ(rig.prompt.Messages(),
              (Texts{"Fatal Error!  Not able to allocate a buffer for FAT Entries!"}));
    EXPECT_EQ(rig.pane.viewKind, ViewKind::None);
    EXPECT_TRUE(rig.pane.rows.empty());
  }
  {  // Clusters larger than that memory, and clusters of no sectors at all.
    TinyVolume v;
    v.Link(2, 0xFFFF);
    for (uint16_t perCluster : {2, 0}) {
      v.node.sectorsPerCluster = perCluster;
      ViewRig file(v.disk);
      file.pane.budget.limit = 512;
      ShowFileClusterDump(file.ctx, v.node);
      EXPECT_EQ(file.prompt.Messages(), (Texts{"Fatal Error!  Not able to allocate a Buffer!"}));
      EXPECT_EQ(file.pane.viewKind, ViewKind::None);
      EXPECT_EQ(file.pane.chainLength, 0u);
      EXPECT_TRUE(file.pane.clusterChain.empty());
      EXPECT_TRUE(file.pane.rows.empty());
      ViewRig folder(v.disk);
      folder.pane.budget.limit = 512;
      ShowFolderClusterDump(folder.ctx, v.node);
      EXPECT_EQ(folder.prompt.Messages(), (Texts{"Fatal Error!  Not able to allocate a buffer!"}));
      EXPECT_EQ(folder.pane.viewKind, ViewKind::None);
      EXPECT_TRUE(folder.pane.clusterChain.empty());
    }
  }
  {  // Sectors per FAT beyond the volume: refused before anything is taken.
    TinyVolume v;
    v.node.sectorsPerFat = 100000;
    ViewRig rig(v.disk);
    ShowFileClusterDump(rig.ctx, v.node);
    EXPECT_EQ(rig.prompt.Messages(), (Texts{"FAT not accessible!"}));
    EXPECT_EQ(rig.dev->reads, 0);
  }
  {  // A chain that loops back is listed once round.
    TinyVolume v;
    v.Link(2, 3);
    v.Link(3, 2);
    ViewRig rig(v.disk);
    ShowFileClusterDump(rig.ctx, v.node);
    EXPECT_TRUE(rig.prompt.Messages().empty());
    EXPECT_EQ(rig.pane.clusterChain, (std::vector<uint32_t>{2, 3}));
    EXPECT_TRUE(rig.pane.canGoNext);
  }
  {  // A chain that leaves the volume: that cluster is not read.
    TinyVolume v;
    v.Link(2, 100);
    v.Link(100, 0xFFFF);
    ViewRig rig(v.disk);
    ShowFileClusterDump(rig.ctx, v.node);
    ASSERT_EQ(rig.pane.clusterChain, (std::vector<uint32_t>{2, 100}));
    const int reads = rig.dev->reads;
    EXPECT_FALSE(ReadClusterPage(rig.ctx, rig.pane.shownPacket, 100));
    EXPECT_EQ(rig.dev->reads, reads);
    EXPECT_EQ(rig.prompt.Status(1),
              "Current Cluster Number: 0x00000064, Current Sector Number: 101");
  }
}

}  // namespace

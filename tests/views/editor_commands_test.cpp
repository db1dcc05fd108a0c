#include "views/editor_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/image_builder.h"
#include "views/directory_views.h"
#include "views/fat_views.h"
#include "views/hex_dump.h"
#include "views/partition_views.h"
#include "views/view_rig.h"

namespace {

constexpr DumpModes kSectorMode{.sectorDump = true, .rawDump = false};
constexpr DumpModes kRawMode{.sectorDump = false, .rawDump = true};
constexpr DumpModes kNoMode{};

const std::string kClusterFailed = "Cluster not accessible!";
const std::string kSectorFailed = "Sector not accessible!";
const std::string kQuestion = "Are you sure to write to disk?";
const std::string kWritten = "Changes written successfully!";

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, uint64_t offset, uint64_t length) {
  return std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(offset),
                              bytes.begin() + static_cast<ptrdiff_t>(offset + length));
}

std::vector<uint8_t> Sector(const std::vector<uint8_t>& image, uint64_t sector) {
  return Slice(image, sector * 512, 512);
}

std::string ClusterStatus(uint32_t cluster, uint32_t sector) {
  char text[96];
  std::snprintf(text, sizeof text, "Current Cluster Number: 0x%08X, Current Sector Number: %u",
                cluster, sector);
  return text;
}

std::string SectorStatus(uint64_t sector) {
  return "Current Sector Number: " + std::to_string(sector);
}

// The cluster chain of a FAT16 volume at sector 0, read straight from the image.
std::vector<uint32_t> Fat16Chain(const std::vector<uint8_t>& image, const DrivePacket& volume,
                                 uint32_t first) {
  std::span<const uint8_t> fat(image.data() + uint64_t{volume.reservedSectors} * 512,
                               uint64_t{volume.sectorsPerFat} * 512);
  std::vector<uint32_t> chain;
  for (uint32_t c = first; c >= 2 && c < 0xFFF8 && chain.size() < 64; c = le16(fat, 2 * c))
    chain.push_back(c);
  return chain;
}

// Every pane row is a call-back row holding its own index, and none is selected.
void ExpectPageRows(ListPaneState& pane, size_t count) {
  ASSERT_EQ(pane.rows.size(), count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(pane.rows[i].value, i);
    EXPECT_TRUE(pane.rows[i].texts.empty());
  }
  EXPECT_TRUE(pane.SelectedRows().empty());
}

// A raw dump of a FAT16 volume's node that starts at `start` and runs to the
// end of the volume, as the tree selection shows it in raw sector mode.
DrivePacket RawNode(const DrivePacket& volume, NodeKind kind, uint32_t start) {
  DrivePacket p = volume;
  p.kind = kind;
  p.startSector = start;
  p.sectorCount = volume.totalSectors - start;
  return p;
}

}  // namespace

TEST(EditorNavigation, StepsThroughAThreeClusterFile) {
  TempDir dir;
  FatVolume vol = MakeFatImage(dir.File("f16.img"), 16, 20480, "-s 4");
  std::vector<uint8_t> content(3 * 2048);
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<uint8_t>((i / 2048) * 0x50 + i % 61);
  ASSERT_TRUE(vol.PutFile("::/THREE.BIN", content));
  const std::vector<uint8_t> image = ReadFileBytes(vol.image);
  ViewRig rig(image);
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat16);
  const DrivePacket file = RootEntryNode(image, volume, "THREE   BIN");
  const std::vector<uint32_t> chain = Fat16Chain(image, volume, file.firstCluster);
  ASSERT_EQ(chain.size(), 3u);
  auto page = [&](size_t k) { return Slice(content, k * 2048, 2048); };
  auto firstSector = [&](size_t k) { return volume.dataStart + (chain[k] - 2) * 4; };

  rig.pane.sectorBuffer.assign(uint64_t{volume.sectorsPerFat} * 512, 0);
  ShowFileClusterDump(rig.ctx, file);
  ASSERT_EQ(rig.pane.viewKind, ViewKind::ClusterDump);
  ASSERT_EQ(rig.pane.sectorBuffer, page(0));
  ASSERT_FALSE(rig.pane.canGoPrevious);
  ASSERT_TRUE(rig.pane.canGoNext);

  // From the first cluster Previous does nothing at all.
  rig.prompt.Clear();
  const int reads = rig.dev->reads;
  EXPECT_FALSE(GoPrevious(rig.ctx, kSectorMode));
  EXPECT_TRUE(rig.prompt.Events().empty());
  EXPECT_EQ(rig.dev->reads, reads);
  EXPECT_EQ(rig.pane.pageIndex, 0u);

  rig.pane.Select({3, 7});
  rig.pane.sectorBuffer[5] ^= 0xFF;  // an unsaved edit goes with the page
  EXPECT_TRUE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.pageIndex, 1u);
  EXPECT_TRUE(rig.pane.canGoPrevious);
  EXPECT_TRUE(rig.pane.canGoNext);
  EXPECT_EQ(rig.pane.sectorBuffer, page(1));
  ExpectPageRows(rig.pane, 4 * 32);
  EXPECT_EQ(rig.prompt.Status(1), ClusterStatus(chain[1], firstSector(1)));
  EXPECT_EQ(rig.prompt.Status(0), "");
  EXPECT_TRUE(rig.prompt.Messages().empty());

  EXPECT_TRUE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.pageIndex, 2u);
  EXPECT_FALSE(rig.pane.canGoNext);
  EXPECT_EQ(rig.pane.sectorBuffer, page(2));
  EXPECT_EQ(rig.prompt.Status(1), ClusterStatus(chain[2], firstSector(2)));
  EXPECT_FALSE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.pageIndex, 2u);

  EXPECT_TRUE(GoPrevious(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.sectorBuffer, page(1));
  EXPECT_TRUE(rig.pane.canGoNext);
  EXPECT_TRUE(rig.pane.canGoPrevious);
  EXPECT_TRUE(GoPrevious(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.sectorBuffer, page(0));
  EXPECT_FALSE(rig.pane.canGoPrevious);
  EXPECT_EQ(rig.prompt.Status(1), ClusterStatus(chain[0], firstSector(0)));
  EXPECT_TRUE(rig.prompt.Messages().empty());
}

TEST(EditorNavigation, ClustersThatCannotBeReadNeverShowTheOldPage) {
  TempDir dir;
  FatVolume vol = MakeFloppy1440(dir.File("fd.img"));  // one sector a cluster
  std::vector<uint8_t> content(3 * 512);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i / 512 + 1);
  ASSERT_TRUE(vol.PutFile("::/ABC.BIN", content));
  const std::vector<uint8_t> image = ReadFileBytes(vol.image);
  ViewRig rig(image, ViewRig::Direct, 0);
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat12, 0);
  const DrivePacket file = RootEntryNode(image, volume, "ABC     BIN");
  rig.pane.sectorBuffer.assign(uint64_t{volume.sectorsPerFat} * 512, 0);
  ShowFileClusterDump(rig.ctx, file);
  ASSERT_EQ(rig.pane.viewKind, ViewKind::ClusterDump);
  ASSERT_EQ(rig.pane.chainLength, 3u);
  const std::vector<uint32_t> chain = rig.pane.clusterChain;

  // A bad sector: the message, the move, and rows that say the bytes could
  // not be read, never the bytes of the cluster shown before nor a filler
  // dressed as data. They cannot be edited, and the page is not written.
  rig.dev->badReadSectors = {volume.dataStart + chain[1] - 2};
  rig.prompt.Clear();
  EXPECT_TRUE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{kClusterFailed});
  EXPECT_EQ(rig.pane.pageIndex, 1u);
  EXPECT_EQ(rig.pane.unreadableSectors, std::vector<uint8_t>{1});
  EXPECT_EQ(rig.Row(0), (std::vector<std::string>{"00000200", "??", "??", "??", "??", "??", "??",
                                                   "??", "??", "??", "??", "??", "??", "??", "??",
                                                   "??", "??", "", "", "", "", "", "", "", "", "",
                                                   "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(rig.prompt.Status(1), ClusterStatus(chain[1], volume.dataStart + chain[1] - 2));
  ExpectPageRows(rig.pane, 32);
  EXPECT_TRUE(rig.pane.canGoNext);
  EXPECT_TRUE(CanEditRows(rig.ctx, kSectorMode));
  EXPECT_FALSE(SetRowBytes(rig.pane, 0, RowBytesArray{}));
  rig.prompt.Clear();
  rig.prompt.AnswerYes();
  EXPECT_FALSE(WriteChanges(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{kQuestion, kClusterFailed}));
  EXPECT_EQ(rig.dev->writes, 0);
  rig.dev->badReadSectors.clear();

  // A damaged chain: cluster 1 has no place, and the chain claims more
  // clusters than were listed. Nothing is read, nothing written.
  rig.pane.clusterChain = {chain[0], 1, chain[2]};
  rig.pane.chainLength = 5;
  rig.pane.pageIndex = 0;
  rig.pane.canGoPrevious = false;
  rig.pane.canGoNext = true;
  rig.prompt.Clear();
  const int reads = rig.dev->reads;
  EXPECT_TRUE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.dev->reads, reads);
  EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{kClusterFailed});
  EXPECT_EQ(rig.prompt.Status(1), "");
  EXPECT_EQ(rig.pane.unreadableSectors, std::vector<uint8_t>{1});
  rig.prompt.Clear();
  rig.prompt.AnswerYes();
  EXPECT_FALSE(WriteChanges(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{kQuestion, kClusterFailed}));
  EXPECT_EQ(rig.dev->writes, 0);

  EXPECT_TRUE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.pageIndex, 2u);
  EXPECT_EQ(rig.pane.sectorBuffer, Slice(content, 1024, 512));
  EXPECT_FALSE(rig.pane.canGoNext);  // the listed chain ends here
  rig.pane.canGoNext = true;         // a flag out of step moves nothing
  EXPECT_FALSE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.pageIndex, 2u);
  EXPECT_FALSE(rig.pane.canGoNext);
  rig.pane.pageIndex = 7;  // past the listed chain: Previous must not index it
  rig.pane.canGoPrevious = true;
  EXPECT_FALSE(GoPrevious(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.pageIndex, 7u);
}

TEST(EditorNavigation, SectorPagesStayInsideTheExtent) {
  std::vector<uint8_t> disk(64 * 512);
  for (size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<uint8_t>(i / 512);
  ViewRig rig(disk);
  DrivePacket extent;
  extent.drive = 0x80;
  extent.int13Extensions = 1;
  extent.partitionStart = 8;
  extent.startSector = 4;
  extent.sectorCount = 3;
  extent.totalSectors = 56;
  ShowSectorDump(rig.ctx, extent);
  ASSERT_EQ(rig.pane.viewKind, ViewKind::SectorDump);

  rig.dev->badReadSectors = {13};
  rig.prompt.Clear();
  EXPECT_TRUE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{kSectorFailed});
  EXPECT_EQ(rig.pane.pageIndex, 1u);
  EXPECT_EQ(rig.pane.unreadableSectors, std::vector<uint8_t>{1});
  EXPECT_EQ(rig.Row(31)[16], "??");
  EXPECT_EQ(rig.prompt.Status(1), SectorStatus(5));
  ExpectPageRows(rig.pane, 32);
  rig.prompt.AnswerYes();
  EXPECT_FALSE(WriteChanges(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.dev->writes, 0);
  EXPECT_EQ(rig.prompt.Status(0), "");

  rig.prompt.Clear();
  EXPECT_TRUE(GoNext(rig.ctx, kSectorMode));
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_EQ(rig.pane.sectorBuffer, Sector(disk, 14));
  EXPECT_EQ(rig.prompt.Status(1), SectorStatus(6));
  EXPECT_FALSE(rig.pane.canGoNext);
  EXPECT_EQ(rig.pane.viewKind, ViewKind::SectorDump);  // raw mode off: kind kept

  // An extent of no sectors: Next never leaves page 0, even with its flag set.
  rig.pane.shownPacket.sectorCount = 0;
  rig.pane.pageIndex = 0;
  rig.pane.canGoNext = true;
  EXPECT_FALSE(GoNext(rig.ctx, kSectorMode));
  EXPECT_EQ(rig.pane.pageIndex, 0u);
  EXPECT_FALSE(rig.pane.canGoNext);
}

TEST(EditorWrite, FatCopyInRawModeWritesOnlyItsSector) {
  TempDir dir;
  FatVolume vol = MakeFatImage(dir.File("f16.img"), 16, 20480, "-s 4");
  const std::vector<uint8_t> image = ReadFileBytes(vol.image);
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat16);
  for (ViewRig::Path path : {ViewRig::Direct, ViewRig::Library}) {
    SCOPED_TRACE(path == ViewRig::Direct ? "direct" : "library");
    ViewRig rig(image, path);
    const DrivePacket fat = RawNode(volume, NodeKind::Fat16, volume.reservedSectors);
    ShowSectorDump(rig.ctx, fat);
    ASSERT_TRUE(GoNext(rig.ctx, kRawMode));
    ASSERT_TRUE(GoNext(rig.ctx, kRawMode));
    const uint32_t sector = volume.reservedSectors + 2;
    EXPECT_EQ(rig.pane.viewKind, ViewKind::RawSectorDump);
    EXPECT_EQ(rig.prompt.Status(1), SectorStatus(sector));
    EXPECT_EQ(rig.pane.sectorBuffer, Sector(image, sector));

    RowBytesArray edit;
    for (size_t k = 0; k < edit.size(); ++k) edit[k] = static_cast<uint8_t>(0xA0 + k);
    ASSERT_TRUE(SetRowBytes(rig.pane, 3, edit));
    std::vector<uint8_t> expected = image;
    std::copy(edit.begin(), edit.end(), expected.begin() + sector * 512 + 48);

    // No: nothing written, nothing said after the question.
    rig.prompt.Clear();
    rig.prompt.AnswerNo();
    EXPECT_FALSE(WriteChanges(rig.ctx, kRawMode));
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{kQuestion});
    EXPECT_EQ(rig.dev->Bytes(), image);

    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    EXPECT_TRUE(WriteChanges(rig.ctx, kRawMode));
    EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{kQuestion, kWritten}));
    EXPECT_EQ(rig.prompt.Status(0), "");
    EXPECT_TRUE(rig.dev->Bytes() == expected) << "only the shown FAT sector may change";

    // A failing write is reported, never taken for success.
    rig.dev->badWriteSectors = {sector};
    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    EXPECT_FALSE(WriteChanges(rig.ctx, kRawMode));
    EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{kQuestion, kSectorFailed}));
  }
}

TEST(EditorWrite, ANodesOwnSectorGoesToItsAddress) {
  std::vector<uint8_t> disk(64 * 512);
  for (size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<uint8_t>(i / 512 + 0x30);
  for (ViewRig::Path path : {ViewRig::Direct, ViewRig::Library}) {
    SCOPED_TRACE(path == ViewRig::Direct ? "direct" : "library");
    ViewRig rig(disk, path);
    // A volume's boot sector: startSector 0, the node at partitionStart 9
    // (CHS 0/0/10 with 63 sectors a track).
    DrivePacket node;
    node.drive = 0x80;
    node.kind = NodeKind::Volume;
    node.sector = 10;
    node.heads = 16;
    node.sectorsPerTrack = 63;
    node.partitionStart = 9;
    node.sectorCount = 1;
    node.int13Extensions = 1;
    ShowSectorDump(rig.ctx, node);
    ASSERT_EQ(rig.pane.sectorBuffer, Sector(disk, 9));
    EXPECT_FALSE(rig.pane.canGoNext);
    RowBytesArray edit{};
    edit.fill(0x5A);
    ASSERT_TRUE(SetRowBytes(rig.pane, 31, edit));
    std::vector<uint8_t> expected = disk;
    std::fill_n(expected.begin() + 9 * 512 + 496, 16, 0x5A);

    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    EXPECT_TRUE(WriteChanges(rig.ctx, kSectorMode));
    EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{kQuestion, kWritten}));
    EXPECT_TRUE(rig.dev->Bytes() == expected);

    rig.dev->badWriteSectors = {9};
    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    EXPECT_FALSE(WriteChanges(rig.ctx, kRawMode));
    EXPECT_EQ(rig.prompt.Messages(),
              (std::vector<std::string>{kQuestion, "Critical Sector not accessible!"}));
  }
}

TEST(EditorWrite, APageThatCouldNotBeReadIsNeverWritten) {
  std::vector<uint8_t> disk(64 * 512);
  for (size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<uint8_t>(i / 512 + 0x30);
  for (ViewRig::Path path : {ViewRig::Direct, ViewRig::Library}) {
    SCOPED_TRACE(path == ViewRig::Direct ? "direct" : "library");
    ViewRig rig(disk, path);
    // A sector dump whose first sector fails: no rows, and the buffer holds
    // no byte of that sector.
    DrivePacket extent;
    extent.drive = 0x80;
    extent.int13Extensions = 1;
    extent.partitionStart = 8;
    extent.startSector = 4;
    extent.sectorCount = 3;
    rig.dev->badReadSectors = {12};
    ShowSectorDump(rig.ctx, extent);
    ASSERT_EQ(rig.pane.viewKind, ViewKind::SectorDump);
    ASSERT_TRUE(rig.pane.rows.empty());
    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    EXPECT_FALSE(WriteChanges(rig.ctx, kSectorMode));
    EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{kQuestion, kSectorFailed}));

    // A boot sector that cannot be read: its place is never overwritten.
    DrivePacket node;
    node.drive = 0x80;
    node.kind = NodeKind::Volume;
    node.sector = 10;
    node.heads = 16;
    node.sectorsPerTrack = 63;
    node.partitionStart = 9;
    node.sectorCount = 1;
    node.int13Extensions = 1;
    rig.dev->badReadSectors = {9};
    ShowSectorDump(rig.ctx, node);
    ASSERT_TRUE(rig.pane.rows.empty());
    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    EXPECT_FALSE(WriteChanges(rig.ctx, kRawMode));
    EXPECT_EQ(rig.prompt.Messages(),
              (std::vector<std::string>{kQuestion, "Critical Sector not accessible!"}));
    EXPECT_EQ(rig.dev->writes, 0);
    EXPECT_TRUE(rig.dev->Bytes() == disk);
  }
}

TEST(EditorWrite, DecodedViewsAreNeverWritten) {
  TempDir dir;
  FatVolume vol = MakeFatImage(dir.File("f16.img"), 16, 20480, "-s 4");
  ASSERT_TRUE(vol.MakeDir("::/SUB"));
  const std::vector<uint8_t> image = ReadFileBytes(vol.image);
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat16);
  ViewRig rig(image);

  auto expectNoWrite = [&](const char* what) {
    SCOPED_TRACE(what);
    for (DumpModes modes : {kNoMode, kRawMode}) {
      rig.prompt.Clear();
      rig.prompt.AnswerYes();
      EXPECT_FALSE(WriteChanges(rig.ctx, modes));
      EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{kQuestion});
      EXPECT_EQ(rig.dev->writes, 0);
    }
  };

  DrivePacket mbr = volume;
  mbr.kind = NodeKind::HardDisk;
  mbr.startSector = 0;
  mbr.sectorCount = 1;
  rig.pane.sectorBuffer.assign(512, 0);
  ShowPartitionTable(rig.ctx, mbr);
  expectNoWrite("partition table");

  DrivePacket boot = mbr;
  boot.kind = NodeKind::Volume;
  ShowBootRecord(rig.ctx, boot);
  expectNoWrite("boot record");

  DrivePacket fat = volume;
  fat.kind = NodeKind::Fat16;
  fat.startSector = volume.reservedSectors;
  fat.sectorCount = volume.sectorsPerFat;
  rig.pane.sectorBuffer.assign(uint64_t{fat.sectorCount} * 512, 0);
  ShowFat16Table(rig.ctx, fat);
  expectNoWrite("FAT table");

  DrivePacket root = volume;
  root.kind = NodeKind::RootDir;
  rig.pane.sectorBuffer.assign(uint64_t{root.sectorCount} * 512, 0);
  ShowRootDirectory(rig.ctx, root);
  expectNoWrite("root directory");

  DrivePacket sub = RootEntryNode(image, volume, "SUB        ");
  rig.pane.sectorBuffer.assign(uint64_t{volume.sectorsPerFat} * 512, 0);
  ShowSubDirectory(rig.ctx, sub);
  expectNoWrite("sub-directory");

  // Whatever the views leave, no decoded kind is ever written.
  rig.pane.shownPacket = fat;
  rig.pane.sectorBuffer.assign(512, 0x11);
  for (ViewKind kind : {ViewKind::None, ViewKind::Fat16Table, ViewKind::Fat12Table,
                        ViewKind::RootDirectory, ViewKind::Fat32Table, ViewKind::SubDirectory}) {
    rig.pane.viewKind = kind;
    expectNoWrite("decoded kind");
  }
}

TEST(EditorRows, EditingNeedsADumpModeAndChangesOneRow) {
  ViewPage pane;
  pane.viewKind = ViewKind::ClusterDump;  // a file's cluster dump is on show
  pane.sectorsPerPage = 1;
  pane.sectorBuffer.resize(512);
  for (size_t i = 0; i < 512; ++i) pane.sectorBuffer[i] = static_cast<uint8_t>(i);
  ScriptedPrompt prompt;
  DiskAccess access(prompt);
  ViewContext ctx{access, pane};

  EXPECT_FALSE(CanEditRows(ctx, kNoMode));
  EXPECT_EQ(prompt.Messages(),
            std::vector<std::string>{
                "Editing is possible only in Sector/Cluster dumping modes\n"
                "Select 'Action->Sector/Cluster Dumping or Raw Sector Dumping' from main menu"});
  prompt.Clear();
  EXPECT_TRUE(CanEditRows(ctx, kSectorMode));
  EXPECT_TRUE(CanEditRows(ctx, kRawMode));
  pane.viewKind = ViewKind::None;  // a view that stopped half-way: nothing to edit
  EXPECT_FALSE(CanEditRows(ctx, kSectorMode));
  EXPECT_TRUE(prompt.Messages().empty());
  pane.viewKind = ViewKind::SectorDump;

  // The dialog round: byte boxes shown as "%02X", read back as "%X".
  RowBytesArray bytes = RowBytes(pane, 2);
  EXPECT_EQ(bytes[0], 32);
  EXPECT_EQ(bytes[15], 47);
  EXPECT_EQ(HexByteBoxText(bytes[10]), "2A");
  EXPECT_EQ(HexByteBoxText(0x0A), "0A");
  EXPECT_TRUE(ParseHexByteBox("7", bytes[0]));
  EXPECT_EQ(bytes[0], 0x07);
  EXPECT_TRUE(ParseHexByteBox("ab", bytes[1]));
  EXPECT_EQ(bytes[1], 0xAB);
  EXPECT_TRUE(ParseHexByteBox(" F", bytes[2]));
  EXPECT_EQ(bytes[2], 0x0F);
  EXPECT_TRUE(ParseHexByteBox("3g", bytes[3]));
  EXPECT_EQ(bytes[3], 0x03);
  EXPECT_TRUE(ParseHexByteBox("0x", bytes[4]));
  EXPECT_EQ(bytes[4], 0x00);
  EXPECT_TRUE(ParseHexByteBox("0x1f", bytes[5]));
  EXPECT_EQ(bytes[5], 0x1F);
  for (const char* noByte : {"", "  ", "g1", "-1", "100", "x"}) {
    uint8_t b = 0x66;
    EXPECT_FALSE(ParseHexByteBox(noByte, b)) << noByte;
    EXPECT_EQ(b, 0x66) << noByte;
  }

  const std::vector<uint8_t> before = pane.sectorBuffer;
  ASSERT_TRUE(SetRowBytes(pane, 2, bytes));
  std::vector<uint8_t> expected = before;
  std::copy(bytes.begin(), bytes.end(), expected.begin() + 32);
  EXPECT_EQ(pane.sectorBuffer, expected);

  // Rows are bounded by the buffer.
  EXPECT_FALSE(SetRowBytes(pane, 32, bytes));
  EXPECT_FALSE(SetRowBytes(pane, SIZE_MAX / 8, bytes));
  EXPECT_EQ(pane.sectorBuffer, expected);
  EXPECT_EQ(RowBytes(pane, 32), RowBytesArray{});
  EXPECT_EQ(RowBytes(pane, SIZE_MAX / 8), RowBytesArray{});
  pane.sectorBuffer.resize(40);
  EXPECT_FALSE(SetRowBytes(pane, 2, bytes));
  const RowBytesArray tail = RowBytes(pane, 2);
  EXPECT_EQ(tail[7], expected[39]);
  EXPECT_EQ(tail[8], 0);
}

TEST(EditorJump, RefusesOutsideRawModeAndAtTheTopLevel) {
  ViewPage pane;
  ScriptedPrompt prompt;
  DiskAccess access(prompt);
  ViewContext ctx{access, pane};
  pane.shownPacket.startSector = 1234;
  uint32_t target = 0;

  EXPECT_FALSE(GoToSectorAllowed(ctx, kSectorMode));
  EXPECT_EQ(prompt.Messages(),
            std::vector<std::string>{"This feature works only in the Raw Sector Dump mode!"});
  EXPECT_FALSE(GoToSector(ctx, kSectorMode, "2000", target));
  prompt.Clear();
  EXPECT_TRUE(GoToSectorAllowed(ctx, kRawMode));
  EXPECT_TRUE(prompt.Messages().empty());
  EXPECT_EQ(GoToSectorInitialText(pane), "1234");

  pane.shownPacket.startSector = 0;
  EXPECT_FALSE(GoToSectorAllowed(ctx, kRawMode));
  EXPECT_EQ(prompt.Messages(),
            std::vector<std::string>{
                "You cannot goto a sector from this level.  Choose a child item and try"});
  EXPECT_FALSE(GoToSector(ctx, kRawMode, "2000", target));
  EXPECT_EQ(target, 0u);
}

TEST(EditorJump, JumpsAnywhereAtOrAfterTheItem) {
  TempDir dir;
  FatVolume vol = MakeFatImage(dir.File("f16.img"), 16, 20480, "-s 4");
  const std::vector<uint8_t> image = ReadFileBytes(vol.image);
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat16);
  ViewRig rig(image);
  const uint32_t root = volume.startSector;
  const uint32_t last = volume.totalSectors - 1;
  ShowSectorDump(rig.ctx, RawNode(volume, NodeKind::RootDir, root));
  uint32_t target = 77;

  // Entries that name no sector change nothing.
  rig.prompt.Clear();
  for (const char* entry : {"", "abc", "-5", " x12"}) {
    EXPECT_FALSE(GoToSector(rig.ctx, kRawMode, entry, target)) << entry;
  }
  EXPECT_TRUE(rig.prompt.Events().empty());
  EXPECT_FALSE(GoToSector(rig.ctx, kRawMode, "4294967296", target));
  EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{kSectorFailed});
  EXPECT_EQ(target, 77u);
  EXPECT_EQ(rig.pane.pageIndex, 0u);

  rig.prompt.Clear();
  EXPECT_FALSE(GoToSector(rig.ctx, kRawMode, "3", target));
  EXPECT_EQ(rig.prompt.Messages(),
            std::vector<std::string>{"Sector number is below the current selected item of " +
                                     std::to_string(root)});
  EXPECT_EQ(rig.pane.pageIndex, 0u);

  rig.prompt.Clear();
  EXPECT_TRUE(GoToSector(rig.ctx, kRawMode, std::to_string(last), target));
  EXPECT_EQ(target, last);
  EXPECT_EQ(rig.pane.pageIndex, last - root);
  EXPECT_FALSE(rig.pane.canGoNext);
  EXPECT_TRUE(rig.pane.canGoPrevious);
  EXPECT_EQ(rig.pane.sectorBuffer, Sector(image, last));
  EXPECT_EQ(rig.prompt.Status(1), SectorStatus(last));
  EXPECT_TRUE(rig.prompt.Messages().empty());
  EXPECT_FALSE(GoNext(rig.ctx, kRawMode));

  EXPECT_TRUE(GoToSector(rig.ctx, kRawMode, std::to_string(root), target));
  EXPECT_EQ(rig.pane.pageIndex, 0u);
  EXPECT_FALSE(rig.pane.canGoPrevious);
  EXPECT_TRUE(rig.pane.canGoNext);
  EXPECT_EQ(rig.pane.sectorBuffer, Sector(image, root));

  // "%lu" reads the leading number.
  EXPECT_TRUE(GoToSector(rig.ctx, kRawMode, " +" + std::to_string(root + 5) + "xyz", target));
  EXPECT_EQ(rig.pane.sectorBuffer, Sector(image, root + 5));
  EXPECT_EQ(rig.prompt.Status(1), SectorStatus(root + 5));

  // Past the end of the volume: refused with the range message; the page on
  // show stays, and with it what Write Changes would write.
  rig.prompt.Clear();
  const uint32_t at = rig.pane.pageIndex;
  EXPECT_FALSE(GoToSector(rig.ctx, kRawMode, std::to_string(last + 1), target));
  EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{
                                       "Sector number is past the end of the volume at " +
                                       std::to_string(last)});
  EXPECT_EQ(rig.pane.pageIndex, at);
  EXPECT_EQ(rig.pane.sectorBuffer, Sector(image, root + 5));
}

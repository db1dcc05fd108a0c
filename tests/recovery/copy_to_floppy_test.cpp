// Copy File to Floppy from the FAT16 partition of a real disk image onto
// 1.44 MB floppies made by mkfs.fat, some with bad sectors; every floppy is
// read back with mtools and checked with fsck.fat -n.
#include "recovery/copy_to_floppy.h"

#include <gtest/gtest.h>

#include <functional>

#include "disk/fat_codec.h"
#include "disk/le.h"
#include "tools/tool_rig.h"
#include "views/show_node.h"
#include "views/view_rig.h"

namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / 512 + seed);
  return bytes;
}

// The sample disk with a few more root files, floppy 0 in memory (with
// faults), and the FAT16 root directory on show.
struct CopyRig {
  explicit CopyRig(const TempDir& dir, const std::string& floppyExtra = "",
                   const std::function<void(FatVolume&)>& prepareFloppy = {})
      : disk(MakeSampleDisk(dir.File("disk.img"))) {
    disk.fat16.PutFile("::/K1000.BIN", Pattern(1000, 1));
    disk.fat16.PutFile("::/S45.BIN", Pattern(45 * 512, 2));
    disk.fat16.PutFile("::/HUGE.BIN", Pattern(1500 * 1024, 3));
    disk.fat16.PutFile("::/GONE.TXT", Pattern(3000, 4));
    disk.fat16.Delete("::/GONE.TXT");
    floppy = MakeFatImage(dir.File("floppy.img"), 12, 2880, floppyExtra);
    if (prepareFloppy) prepareFloppy(floppy);
    rig = std::make_unique<LibraryRig>(std::vector<std::string>{floppy.image},
                                       std::vector<std::string>{disk.image}, true);
    diskBytes = ReadFileBytes(disk.image);
    DrivePacket root = VolumeFromImage(diskBytes, disk.fat16Start, FatWidth::Fat16);
    root.kind = NodeKind::RootDir;
    ctx = std::make_unique<ViewContext>(ViewContext{rig->access, pane});
    pane.selectedPacket = root;
    ShowNode(*ctx, root, {});
    rig->prompt.Clear();
  }
  // Selects the row of a short name ("K1000   .BIN"); false when none.
  bool Select(const std::string& name83) {
    for (size_t r = 0; r < pane.rows.size(); ++r)
      if (std::string(pane.rowStore[pane.rows[r].value].dosName) == name83) {
        pane.Select({static_cast<int>(r)});
        return true;
      }
    return false;
  }
  // The floppy as the copy left it, back in its file for mtools and fsck.
  FatVolume Floppy() {
    WriteFileBytes(floppy.image, rig->fault->Bytes());
    return floppy;
  }
  std::vector<uint8_t>& FloppyBytes() { return rig->fault->Bytes(); }
  std::vector<std::string> Percents() const {
    std::vector<std::string> p;
    for (const auto& e : rig->prompt.Events())
      if (e.kind == ScriptedPrompt::Event::Status && e.id == 1) p.push_back(e.text);
    return p;
  }

  SampleDisk disk;
  FatVolume floppy;
  std::unique_ptr<LibraryRig> rig;
  std::vector<uint8_t> diskBytes;
  ListPaneState pane;  // the page and the window's selection
  std::unique_ptr<ViewContext> ctx;
};

uint32_t Fat12(const std::vector<uint8_t>& floppy, uint32_t cluster) {
  return GetFatEntry(cluster, FatWidth::Fat12, std::span<const uint8_t>(floppy).subspan(512, 9 * 512)).value;
}

}  // namespace

TEST(CopyToFloppy, SmallFilesLandAtTheDataStartWithTheirChainAndEntry) {
  TempDir dir;
  // Old files fill more than one root sector: none may survive the copy.
  CopyRig c(dir, "", [](FatVolume& f) {
    for (int n = 0; n < 20; ++n) f.PutFile("::/OLD" + std::to_string(n) + ".TXT", std::string("old file\r\n"));
  });
  ViewContext& ctx = *c.ctx;
  ASSERT_TRUE(c.Select("K1000   .BIN"));
  CopyToFloppyResult r = CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
  EXPECT_TRUE(c.rig->prompt.Messages().empty());
  EXPECT_EQ(r.firstCluster, 2u);
  EXPECT_EQ(r.chainClusters, 2u);
  const std::vector<uint8_t>& f = c.FloppyBytes();
  EXPECT_EQ(Fat12(f, 2), 3u);
  EXPECT_EQ(Fat12(f, 3), 0xFFFu);
  EXPECT_EQ(Fat12(f, 4), 0u);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 512, f.begin() + 515), (std::vector<uint8_t>{0xF0, 0xFF, 0xFF}));
  const size_t root = 19 * 512;
  EXPECT_EQ(std::string(f.begin() + root, f.begin() + root + 11), "K1000   BIN");
  EXPECT_EQ(le16(f, root + 26), 2u);
  EXPECT_EQ(le32(f, root + 28), 1000u);
  EXPECT_TRUE(std::all_of(f.begin() + root + 32, f.begin() + 33 * 512, [](uint8_t b) { return b == 0; }));
  const std::vector<uint8_t> source = Pattern(1000, 1);
  EXPECT_TRUE(std::equal(source.begin(), source.end(), f.begin() + 33 * 512));
  // The percentage is taken away when the copy ends.
  EXPECT_EQ(c.Percents(), (std::vector<std::string>{"0%", ""}));
  FatVolume floppy = c.Floppy();
  EXPECT_EQ(floppy.ReadFile("::/K1000.BIN"), source);
  EXPECT_EQ(floppy.ListAll(), "::/K1000.BIN\n");
  std::string report;
  EXPECT_TRUE(floppy.Check(&report)) << report;

  // 45 sectors: blocks of 20, 20 and 5.
  c.rig->prompt.Clear();
  ASSERT_TRUE(c.Select("S45     .BIN"));
  r = CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
  EXPECT_EQ(c.Percents(), (std::vector<std::string>{"0%", "44%", "88%", ""}));
  EXPECT_EQ(r.chainClusters, 45u);
  floppy = c.Floppy();
  EXPECT_EQ(floppy.ReadFile("::/S45.BIN"), Pattern(45 * 512, 2));
  EXPECT_TRUE(floppy.Check(&report)) << report;
}

TEST(CopyToFloppy, BadFloppySectorsBecomeBadClustersAndTheFileStillReadsBackWhole) {
  TempDir dir;
  CopyRig c(dir);
  ViewContext& ctx = *c.ctx;
  // Sector 40 (cluster 9) will not be written; sector 70 (cluster 39) will
  // not read back.
  c.rig->fault->badWriteSectors = {40};
  c.rig->fault->badReadSectors = {70};
  ASSERT_TRUE(c.Select("S45     .BIN"));
  const CopyToFloppyResult r = CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
  EXPECT_EQ(r.badClusters, (std::vector<uint32_t>{9, 39}));
  const std::vector<uint8_t>& f = c.FloppyBytes();
  EXPECT_EQ(Fat12(f, 8), 10u);  // the chain steps over cluster 9
  EXPECT_EQ(Fat12(f, 9), 0xFF7u);
  EXPECT_EQ(Fat12(f, 38), 40u);
  EXPECT_EQ(Fat12(f, 39), 0xFF7u);
  EXPECT_EQ(Fat12(f, 48), 0xFFFu);  // 45 clusters from 2, past two bad ones
  // The file's 8th sector (index 7) went to sector 41, after the bad one.
  const std::vector<uint8_t> source = Pattern(45 * 512, 2);
  EXPECT_TRUE(std::equal(source.begin() + 7 * 512, source.begin() + 8 * 512, f.begin() + 41 * 512));
  c.rig->fault->badReadSectors.clear();
  FatVolume floppy = c.Floppy();
  EXPECT_EQ(floppy.ReadFile("::/S45.BIN"), source);
  std::string report;
  EXPECT_TRUE(floppy.Check(&report)) << report;
}

TEST(CopyToFloppy, RefusalsLeaveTheFloppyUntouched) {
  TempDir dir;
  {
    CopyRig c(dir);
    ViewContext& ctx = *c.ctx;
    const std::vector<uint8_t> before = c.FloppyBytes();
    ASSERT_TRUE(c.Select("EMPTY   .TXT"));
    (void)CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
    EXPECT_TRUE(c.rig->prompt.Messages().empty());
    ASSERT_TRUE(c.Select("DOCS    .   "));
    (void)CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
    ASSERT_TRUE(c.Select("K1000   .BIN"));
    c.rig->fault->badReadSectors = {1, 10};
    (void)CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
    EXPECT_EQ(c.rig->prompt.Messages(),
              (std::vector<std::string>{"A folder cannot be copied to a floppy!",
                                        "Both FATs on the floppy have bad sectors. Quitting!"}));
    c.rig->fault->badReadSectors = {0};
    c.rig->prompt.Clear();
    (void)CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
    EXPECT_EQ(c.rig->prompt.Messages(), std::vector<std::string>{"Boot Record not accessible!"});
    EXPECT_TRUE(c.rig->fault->writeLog.empty());
    EXPECT_TRUE(c.FloppyBytes() == before);
  }
  {  // Two sectors a cluster: not the layout the copy writes.
    TempDir other;
    CopyRig c(other, "-s 2");
    ViewContext& ctx = *c.ctx;
    ASSERT_TRUE(c.Select("K1000   .BIN"));
    (void)CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
    EXPECT_EQ(c.rig->prompt.Messages(), std::vector<std::string>{kCtfNotFat12Floppy});
    EXPECT_TRUE(c.rig->fault->writeLog.empty());
  }
}

TEST(CopyToFloppy, ADeletedFileIsCopiedAsUndeleteWouldChainItWithoutWritingItsVolume) {
  TempDir dir;
  CopyRig c(dir);
  ViewContext& ctx = *c.ctx;
  int row = -1;
  for (size_t r = 0; r < c.pane.rows.size(); ++r)
    if (std::string(c.pane.rowStore[c.pane.rows[r].value].dosName).substr(1) == "ONE    .TXT") row = int(r);
  ASSERT_GE(row, 0);
  c.pane.Select({row});
  const CopyToFloppyResult r = CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
  EXPECT_EQ(r.chainClusters, 6u);
  EXPECT_TRUE(ReadFileBytes(c.disk.image) == c.diskBytes);
  FatVolume floppy = c.Floppy();
  EXPECT_EQ(floppy.ReadFile("::/!ONE.TXT"), Pattern(3000, 4));
  EXPECT_TRUE(floppy.Check());
}

TEST(CopyToFloppy, AFileLargerThanTheFloppyIsCutWhereItRunsOut) {
  TempDir dir;
  CopyRig c(dir);
  ViewContext& ctx = *c.ctx;
  c.rig->fault->badWriteSectors = {100};
  ASSERT_TRUE(c.Select("HUGE    .BIN"));
  const CopyToFloppyResult r = CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
  EXPECT_TRUE(r.full);
  EXPECT_EQ(c.rig->prompt.Messages(), std::vector<std::string>{"Insufficient disk space.  Too many bad clusters"});
  EXPECT_EQ(r.chainClusters, 2847u - 1);  // every data cluster but the bad one
  EXPECT_EQ(r.size, r.chainClusters * 512);
  FatVolume floppy = c.Floppy();
  const std::vector<uint8_t> source = Pattern(1500 * 1024, 3);
  EXPECT_EQ(floppy.ReadFile("::/HUGE.BIN"),
            std::vector<uint8_t>(source.begin(), source.begin() + r.size));
  std::string report;
  EXPECT_TRUE(floppy.Check(&report)) << report;
}

// The source file's chain is read through the FAT cache: a source FAT larger
// than the memory allowed (as a terabyte volume's is) is no obstacle; not
// one sector of memory, or a FAT past the volume's end, is.
TEST(CopyToFloppy, TheSourceChainNeedsOnlyItsFatSectors) {
  TempDir dir;
  CopyRig c(dir);
  ViewContext& ctx = *c.ctx;
  const uint64_t fatBytes = uint64_t{c.pane.selectedPacket.sectorsPerFat} * 512;
  c.pane.budget.limit = fatBytes - 512;
  ASSERT_GT(c.pane.budget.limit, 9u * 512);  // the floppy's FAT still fits
  ASSERT_TRUE(c.Select("K1000   .BIN"));
  (void)CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
  EXPECT_TRUE(c.rig->prompt.Messages().empty());
  FatVolume floppy = c.Floppy();
  EXPECT_EQ(floppy.ReadFile("::/K1000.BIN"), Pattern(1000, 1));
  std::string report;
  EXPECT_TRUE(floppy.Check(&report)) << report;

  struct Case {
    uint64_t limit;
    uint32_t sectorsPerFat;
    const char* message;
  };
  const uint32_t spf = c.pane.selectedPacket.sectorsPerFat;
  for (const Case& k : {Case{511, spf, "Fatal Error!  Not able to allocate FAT buffer!"},
                        Case{kViewMemoryLimit, 0x100000, "FAT not accessible!"}}) {
    c.pane.budget.limit = k.limit;
    c.pane.selectedPacket.sectorsPerFat = k.sectorsPerFat;
    c.rig->prompt.Clear();
    c.rig->fault->writeLog.clear();
    (void)CopyToFloppy(ctx, c.pane.selectedPacket, c.pane.SelectedRows());
    EXPECT_EQ(c.rig->prompt.Messages(), std::vector<std::string>{k.message});
    EXPECT_TRUE(c.rig->fault->writeLog.empty());
  }
}

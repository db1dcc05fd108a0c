// Undelete over small volumes made by hand (exact layouts: occupied clusters,
// deleted folders of several clusters, one FAT) and over mkfs.fat images,
// with its failures injected by the fault device.
#include "recovery/undelete.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "recovery_rig.h"
#include "views/write_changes.h"

namespace {

using Texts = std::vector<std::string>;

const char* const kDone = "File(s) undeletion completed!";
const char* const kOccupied =
    "File Cluster already occupied by another file!!  Undelete not possible!";
const char* const kNothing = "No file was undeleted.";

// A folder cluster: "." and "..", then `deleted` deleted entries, the rest
// never used.
std::vector<EntryBytes> FolderHead(uint32_t self, size_t deleted) {
  std::vector<EntryBytes> e = {Dot(".          ", self), Dot("..         ", 0)};
  for (size_t i = 0; i < deleted; ++i) e.push_back(Deleted("FILE   TXT", 0, 0));
  return e;
}

struct TinyRig : RecoveryRig {
  explicit TinyRig(const TinyVolume& v) : RecoveryRig(v.bytes), fats(v.fats) {}
  uint32_t fats;
  DrivePacket Root() { return RootNode(FatWidth::Fat12); }
  uint32_t Fat(uint32_t copy, uint32_t c) {
    return RawFatEntry(Bytes(), (1 + copy) * 512ull, FatWidth::Fat12, c);
  }
  uint8_t RootByte(size_t entry) { return Bytes()[(1 + fats) * 512ull + entry * 32]; }
  void Run(const std::vector<int>& rows) {
    Show(Root());
    pane.Select(rows);
    prompt.Clear();
    dev->writeLog.clear();
    static_cast<void>(Undelete(ctx, pane.selectedPacket, pane.SelectedRows()));
  }
};

TEST(Undelete, ChainsRunOverFreeClustersOnly) {
  TinyVolume v;
  v.PutEntries(
      v.RootOffset(),
      {
          Deleted("LPHA   TXT", 10, 1536),  // three clusters, but 12 is in use
          Deleted("RAVO   TXT", 20, 10),    // its start is in use
          Live("CHARLIE TXT", 30, 10), Deleted("MPTY   TXT", 0, 0),  // an empty file has no cluster
          Deleted("CHO    TXT", 40, 700, kAttrArchive, '\x05'),
          Deleted("OXTROT TXT", 290, 5000),  // runs into the volume's end (cluster 297)
      });
  v.SetFatAll(12, 0xFFF);
  v.SetFatAll(20, 0xFFF);
  v.SetFatAll(30, 0xFFF);
  TinyRig rig(v);
  rig.Run({0, 1, 2, 3, 4, 5});

  EXPECT_EQ(rig.prompt.Messages(),
            Texts({kOccupied, "Not a deleted entry, left as it is: CHARLIE.TXT", kDone}));
  for (uint32_t copy = 0; copy < 2; ++copy) {
    EXPECT_EQ(rig.Fat(copy, 10), 11u);
    EXPECT_EQ(rig.Fat(copy, 11), 0xFFFu);
    EXPECT_EQ(rig.Fat(copy, 12), 0xFFFu);
    EXPECT_EQ(rig.Fat(copy, 13), 0u);
    EXPECT_EQ(rig.Fat(copy, 20), 0xFFFu);
    EXPECT_EQ(rig.Fat(copy, 21), 0u);
    EXPECT_EQ(rig.Fat(copy, 40), 41u);
    EXPECT_EQ(rig.Fat(copy, 41), 0xFFFu);
    EXPECT_EQ(rig.Fat(copy, 42), 0u);
    for (uint32_t c = 290; c < 297; ++c) EXPECT_EQ(rig.Fat(copy, c), c + 1);
    EXPECT_EQ(rig.Fat(copy, 297), 0xFFFu);
    EXPECT_EQ(rig.Fat(copy, 298), 0u);  // the table's entries past the volume
  }
  EXPECT_EQ(rig.RootByte(0), '!');
  EXPECT_EQ(rig.RootByte(1), 0xE5);
  EXPECT_EQ(rig.RootByte(2), 'C');
  EXPECT_EQ(rig.RootByte(3), 0xE5);
  EXPECT_EQ(rig.RootByte(4), '!');
  EXPECT_EQ(rig.RootByte(5), '!');
  // The directory size stays what it was.
  EXPECT_EQ(le32(rig.EntryAt(v.RootOffset()), kDirSize), 1536u);
  // Only the FATs and the revived entries' first bytes changed.
  const uint64_t root = v.RootOffset();
  EXPECT_EQ(
      FirstDifference(
          rig.Bytes(), v.bytes,
          {{512, 3 * 512}, {root, root + 1}, {root + 128, root + 129}, {root + 160, root + 161}}),
      -1);
}

TEST(Undelete, DeletedFolderCountsItsClustersOfDeletedEntries) {
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {
                                   Deleted("IG        ", 50, 0, kAttrFolder),
                                   Deleted("MALL      ", 60, 0, kAttrFolder),
                                   Deleted("AD        ", 70, 0, kAttrFolder),
                                   Deleted("IRST      ", 80, 0, kAttrFolder),
                                   Deleted("ECOND     ", 81, 0, kAttrFolder),
                                   Deleted("HIRD      ", 90, 0, kAttrFolder),
                                   Deleted("TRAY      ", 100, 0, kAttrFolder),
                               });
  // 50 and 51 hold nothing but dot and deleted entries; 52 has deleted
  // entries, then unused ones: the folder's last; 53 looks like more of it.
  v.PutEntries(v.ClusterOffset(50), FolderHead(50, 14));
  v.PutEntries(v.ClusterOffset(51), std::vector<EntryBytes>(16, Deleted("OLD    TXT", 0, 0)));
  v.PutEntries(v.ClusterOffset(52), {Deleted("LAST   TXT", 0, 0)});
  v.PutEntries(v.ClusterOffset(53), std::vector<EntryBytes>(16, Deleted("OLD    TXT", 0, 0)));
  // 60: dots, one deleted entry and unused ones; 61 looks like more of it.
  v.PutEntries(v.ClusterOffset(60), FolderHead(60, 1));
  v.PutEntries(v.ClusterOffset(61), std::vector<EntryBytes>(16, Deleted("OLD    TXT", 0, 0)));
  // 70 full; 71 unreadable: the count ends before it.
  v.PutEntries(v.ClusterOffset(70), FolderHead(70, 14));
  v.PutEntries(v.ClusterOffset(72), {Deleted("LAST   TXT", 0, 0)});
  // Two folders deleted together: 80 full, 81 the other's first cluster.
  v.PutEntries(v.ClusterOffset(80), FolderHead(80, 14));
  v.PutEntries(v.ClusterOffset(81), FolderHead(81, 2));
  // 90 full, 91 starts with a deleted "." of its own: another folder.
  v.PutEntries(v.ClusterOffset(90), FolderHead(90, 14));
  v.PutEntries(v.ClusterOffset(91), {Deleted("          ", 91, 0, kAttrFolder)});
  // 100 full; 101 holds a "." that is no "." of 100's: not its cluster.
  v.PutEntries(v.ClusterOffset(100), FolderHead(100, 14));
  v.PutEntries(v.ClusterOffset(101), {Deleted("OLD    TXT", 0, 0), Dot(".          ", 101)});
  TinyRig rig(v);
  rig.dev->badReadSectors = {v.ClusterOffset(71) / 512};
  rig.Run({0, 1, 2, 3, 4, 5, 6});

  EXPECT_EQ(rig.prompt.Messages(), Texts({"Directory cluster not loadable!", kDone}));
  EXPECT_EQ(rig.Fat(0, 50), 51u);
  EXPECT_EQ(rig.Fat(0, 51), 52u);
  EXPECT_EQ(rig.Fat(0, 52), 0xFFFu);
  EXPECT_EQ(rig.Fat(0, 53), 0u);
  EXPECT_EQ(rig.Fat(0, 60), 0xFFFu);
  EXPECT_EQ(rig.Fat(0, 61), 0u);
  EXPECT_EQ(rig.Fat(0, 70), 0xFFFu);
  EXPECT_EQ(rig.Fat(0, 71), 0u);
  // Both folders deleted together come back, each with its own cluster.
  EXPECT_EQ(rig.Fat(0, 80), 0xFFFu);
  EXPECT_EQ(rig.Fat(0, 81), 0xFFFu);
  EXPECT_EQ(rig.Fat(0, 82), 0u);
  EXPECT_EQ(rig.Fat(0, 90), 0xFFFu);
  EXPECT_EQ(rig.Fat(0, 91), 0u);
  EXPECT_EQ(rig.Fat(0, 100), 0xFFFu);
  EXPECT_EQ(rig.Fat(0, 101), 0u);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(rig.RootByte(i), '!');
  // Counting reads the folders' clusters; nothing of them is written.
  EXPECT_EQ(rig.WritesWithin(v.ClusterOffset(2), v.bytes.size()), 0);
}

TEST(Undelete, TwoFoldersDeletedTogetherComeBackOneAfterTheOther) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), 12, 2880, "-s 1");
  ASSERT_TRUE(v.MakeDir("::/ALPHA"));
  ASSERT_TRUE(v.MakeDir("::/BETA"));
  // Fourteen files fill each folder's one cluster; BETA's follows ALPHA's.
  for (int i = 0; i < 14; ++i) {
    ASSERT_TRUE(v.PutFile("::/ALPHA/A" + std::to_string(i) + ".TXT", "alpha " + std::to_string(i)));
    ASSERT_TRUE(v.PutFile("::/BETA/B" + std::to_string(i) + ".TXT", "beta " + std::to_string(i)));
  }
  ASSERT_TRUE(v.DeleteTree("::/ALPHA"));
  ASSERT_TRUE(v.DeleteTree("::/BETA"));
  RecoveryRig rig(ReadFileBytes(v.image));
  const DrivePacket root = rig.RootNode(FatWidth::Fat12);
  for (const char* row : {"\xE5LPHA   .   ", "\xE5" "ETA    .   "}) {
    rig.Show(root);
    rig.Select({row});
    rig.prompt.Clear();
    EXPECT_TRUE(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()).Succeeded()) << row;
    EXPECT_EQ(rig.prompt.Messages(), Texts({kDone}));
  }
  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  std::string report;
  EXPECT_TRUE(v.Check(&report)) << report;
  // Their files are listed again, as deleted entries of the revived folders.
  const std::string list = v.ListAll();
  EXPECT_NE(list.find("::/!LPHA"), std::string::npos) << list;
  EXPECT_NE(list.find("::/!ETA"), std::string::npos) << list;
  rig.Show(root);
  const uint32_t alpha = rig.pane.rowStore[static_cast<size_t>(rig.RowNamed("!LPHA   .   "))].firstCluster;
  rig.Show(rig.FolderNode(FatWidth::Fat12, alpha));
  EXPECT_EQ(rig.pane.rows.size(), 14u);
  rig.Select({"\xE5" "13     .TXT"});
  rig.prompt.Clear();
  EXPECT_TRUE(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()).Succeeded());
  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  const std::vector<uint8_t> text = v.ReadFile("::/!LPHA/!13.TXT");
  EXPECT_EQ(std::string(text.begin(), text.end()), "alpha 13");
  rig.Show(root);
  const uint32_t beta = rig.pane.rowStore[static_cast<size_t>(rig.RowNamed("!ETA    .   "))].firstCluster;
  EXPECT_EQ(beta, alpha + 1);  // the cluster the old count took for ALPHA
  EXPECT_TRUE(v.Check(&report)) << report;
}

TEST(Undelete, EveryFatCopyOfAThreeFatVolumeGetsTheChain) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), 16, 20480, "-f 3 -s 1");
  ASSERT_TRUE(v.PutFile("::/GONE.BIN", std::string(3000, 'g')));
  ASSERT_TRUE(v.Delete("::/GONE.BIN"));
  RecoveryRig rig(ReadFileBytes(v.image));
  const DrivePacket root = rig.RootNode(FatWidth::Fat16);
  ASSERT_EQ(rig.Boot()[kBootFatCount], 3);
  rig.Show(root);
  rig.Select({"\xE5" "ONE    .BIN"});
  rig.prompt.Clear();
  EXPECT_TRUE(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()).Succeeded());
  EXPECT_EQ(rig.prompt.Messages(), Texts({kDone}));
  const uint64_t copyBytes = root.sectorsPerFat * 512ull;
  const auto fat = [&](uint32_t k) {
    const auto at = rig.Bytes().begin() + static_cast<ptrdiff_t>(root.reservedSectors * 512ull + k * copyBytes);
    return std::vector<uint8_t>(at, at + static_cast<ptrdiff_t>(copyBytes));
  };
  EXPECT_EQ(RawFatEntry(rig.Bytes(), root.reservedSectors * 512ull, FatWidth::Fat16, 2), 3u);
  EXPECT_TRUE(fat(1) == fat(0));
  EXPECT_TRUE(fat(2) == fat(0));
  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  EXPECT_EQ(v.ReadFile("::/!ONE.BIN"), std::vector<uint8_t>(3000, 'g'));
}

TEST(Undelete, RevivesTheSelectedRowsAndWritesTheFatsOnceAfterThem) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), 16, 40960, "-s 4");
  ASSERT_TRUE(v.PutFile("::/LIVE.TXT", "live"));
  ASSERT_TRUE(v.PutFile("::/ONE.TXT", "1"));
  ASSERT_TRUE(v.PutFile("::/TWO.BIN", std::string(4096, 't')));
  ASSERT_TRUE(v.PutFile("::/THREE.BIN", std::string(5000, 'h')));
  for (const char* f : {"::/ONE.TXT", "::/TWO.BIN", "::/THREE.BIN"}) ASSERT_TRUE(v.Delete(f));

  RecoveryRig rig(ReadFileBytes(v.image));
  const DrivePacket root = rig.RootNode(FatWidth::Fat16);
  const uint64_t fat1 = root.reservedSectors * 512ull;
  const uint64_t fat2 = fat1 + root.sectorsPerFat * 512ull;
  const uint64_t rootAt = root.startSector * 512ull;
  ASSERT_EQ(root.sectorsPerCluster, 4);
  rig.Show(root);
  rig.Select({"LIVE    .TXT",
              "\xE5"
              "NE     .TXT",
              "\xE5"
              "WO     .BIN",
              "\xE5"
              "HREE   .BIN"});
  const std::vector<ListRow> rowsBefore = rig.pane.rows;
  rig.prompt.Clear();
  rig.dev->writeLog.clear();
  static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));

  EXPECT_EQ(rig.prompt.Messages(), Texts({"Not a deleted entry, left as it is: LIVE.TXT", kDone}));
  // The command's own status texts, between the transfers' "Wait....".
  std::vector<std::string> status;
  for (const auto& e : rig.prompt.Events())
    if (e.kind == ScriptedPrompt::Event::Status && e.id == 0 && e.text != "Wait....")
      status.push_back(e.text);
  EXPECT_EQ(status, Texts({"Undeleting: Wait....", ""}));
  EXPECT_EQ(rig.prompt.Status(0), "");

  // One sector of the root for each revived row, then of FAT 1 and FAT 2
  // only the sector whose bytes changed (every chain lies in the first).
  ASSERT_EQ(rig.dev->writeLog.size(), 5u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(rig.dev->writeLog[i], std::make_pair(rootAt, size_t{512}));
  EXPECT_EQ(rig.dev->writeLog[3], std::make_pair(fat1, size_t{512}));
  EXPECT_EQ(rig.dev->writeLog[4], std::make_pair(fat2, size_t{512}));

  const std::vector<uint8_t>& image = rig.Bytes();
  const std::string expect[] = {"LIVE    TXT", "!NE     TXT", "!WO     BIN", "!HREE   BIN"};
  uint32_t clusters[4];
  for (int i = 0; i < 4; ++i) {
    const uint64_t at = rig.FindEntry(expect[i], rootAt, root.sectorCount * 512ull);
    clusters[i] = DirEntryFirstCluster(rig.EntryAt(at), FatWidth::Fat16);
  }
  // A one-byte file on 2048-byte clusters gets one cluster.
  EXPECT_EQ(RawFatEntry(image, fat1, FatWidth::Fat16, clusters[1]), 0xFFFFu);
  EXPECT_EQ(RawFatEntry(image, fat1, FatWidth::Fat16, clusters[2]), clusters[2] + 1);
  EXPECT_EQ(RawFatEntry(image, fat1, FatWidth::Fat16, clusters[2] + 1), 0xFFFFu);
  EXPECT_EQ(RawFatEntry(image, fat1, FatWidth::Fat16, clusters[3]), clusters[3] + 1);
  EXPECT_EQ(RawFatEntry(image, fat1, FatWidth::Fat16, clusters[3] + 1), clusters[3] + 2);
  EXPECT_EQ(RawFatEntry(image, fat1, FatWidth::Fat16, clusters[3] + 2), 0xFFFFu);
  EXPECT_EQ(RawFatEntry(image, fat1, FatWidth::Fat16, clusters[3] + 3), 0u);

  // The rows still show what was listed; the pane holds no directory, so
  // Write Changes has nothing to write.
  EXPECT_EQ(rig.pane.viewKind, ViewKind::RootDirectory);
  EXPECT_EQ(rig.pane.rows.size(), rowsBefore.size());
  EXPECT_EQ(rig.Row(static_cast<size_t>(rig.pane.selectedRows[1]))[3], "A-Deleted");
  EXPECT_TRUE(rig.pane.sectorBuffer.empty());
  EXPECT_TRUE(rig.pane.clusterChain.empty());
  rig.dev->writeLog.clear();
  rig.prompt.AnswerYes();
  EXPECT_FALSE(WriteChanges(rig.ctx, {}));
  EXPECT_TRUE(rig.dev->writeLog.empty());

  // A second run finds the clusters taken; with nothing back no FAT is written.
  rig.prompt.Clear();
  rig.dev->writeLog.clear();
  const UndeleteResult again = Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows());
  EXPECT_FALSE(again.Succeeded());
  EXPECT_EQ(rig.prompt.Messages(),
            Texts({kOccupied, kOccupied, kOccupied,
                   "Not a deleted entry, left as it is: LIVE.TXT", kNothing}));
  EXPECT_TRUE(rig.dev->writeLog.empty());
}

// FAT 1 unreadable at one sector while FAT 2 is stale at another: the chain
// is made on FAT 1's entries (FAT 2's sector standing in for the unreadable
// one only), so the copies written back keep every live file's chain.
TEST(Undelete, FatTwoStandsInOnlyForTheSectorFatOneCannotGive) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), 16, 40960, "-s 1");
  ASSERT_TRUE(v.PutFile("::/LIVE.BIN", std::string(3000, 'l')));  // clusters 2-7
  ASSERT_TRUE(v.PutFile("::/GONE.TXT", std::string(1000, 'g')));  // 8-9
  ASSERT_TRUE(v.Delete("::/GONE.TXT"));
  RecoveryRig rig(ReadFileBytes(v.image));
  const DrivePacket root = rig.RootNode(FatWidth::Fat16);
  const uint64_t fat1 = root.reservedSectors * 512ull;
  const uint64_t fat2 = fat1 + root.sectorsPerFat * 512ull;
  ASSERT_EQ(RawFatEntry(rig.Bytes(), fat1, FatWidth::Fat16, 2), 3u);
  // FAT 2 from before LIVE.BIN was written; FAT 1's second sector unreadable.
  std::fill_n(rig.Bytes().begin() + static_cast<ptrdiff_t>(fat2 + 4), 2 * 6, 0);
  rig.dev->badReadSectors = {uint64_t{root.reservedSectors} + 1};
  rig.Show(root);
  rig.Select({"\xE5"
              "ONE    .TXT"});
  rig.prompt.Clear();
  rig.dev->writeLog.clear();
  static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
  EXPECT_EQ(rig.prompt.Messages(), Texts({kDone}));
  // The sector FAT 1 could not give goes to both copies with the changed one.
  for (const uint64_t copy : {fat1, fat2})
    EXPECT_NE(std::find(rig.dev->writeLog.begin(), rig.dev->writeLog.end(), std::make_pair(copy, size_t{1024})),
              rig.dev->writeLog.end());
  for (const uint64_t copy : {fat1, fat2}) {
    for (uint32_t c = 2; c < 7; ++c) EXPECT_EQ(RawFatEntry(rig.Bytes(), copy, FatWidth::Fat16, c), c + 1);
    EXPECT_EQ(RawFatEntry(rig.Bytes(), copy, FatWidth::Fat16, 7), 0xFFFFu);
    EXPECT_EQ(RawFatEntry(rig.Bytes(), copy, FatWidth::Fat16, 8), 9u);
    EXPECT_EQ(RawFatEntry(rig.Bytes(), copy, FatWidth::Fat16, 9), 0xFFFFu);
  }
  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  std::string fsck;
  EXPECT_TRUE(v.Check(&fsck)) << fsck;
}

TEST(Undelete, WritesOnlyTheFatCopiesTheVolumeHas) {
  auto volume = [](uint32_t fats) {
    TinyVolume v(fats);
    v.PutEntries(v.RootOffset(), {Deleted("NE     TXT", 5, 100)});
    return v;
  };
  {  // One FAT: the sector after it is the root, never a FAT copy.
    const TinyVolume v = volume(1);
    TinyRig rig(v);
    rig.Run({0});
    EXPECT_EQ(rig.prompt.Messages(), Texts({kDone}));
    EXPECT_EQ(rig.dev->writeLog,
              (std::vector<std::pair<uint64_t, size_t>>{{1024, 512}, {512, 512}}));
    EXPECT_EQ(rig.Fat(0, 5), 0xFFFu);
    EXPECT_EQ(rig.RootByte(0), '!');
  }
  {  // One FAT that cannot be read: nothing else is taken for it.
    const TinyVolume v = volume(1);
    TinyRig rig(v);
    rig.dev->badReadSectors = {1};
    rig.Run({0});
    EXPECT_EQ(rig.prompt.Messages(), Texts({"FATs cannot be read successfully!"}));
    EXPECT_TRUE(rig.dev->writeLog.empty());
  }
  {  // Two FATs, the first unreadable: the second is read, both are written.
    const TinyVolume v = volume(2);
    TinyRig rig(v);
    rig.dev->badReadSectors = {1};
    rig.Run({0});
    EXPECT_EQ(rig.prompt.Messages(), Texts({kDone}));
    EXPECT_EQ(rig.Fat(0, 5), 0xFFFu);
    EXPECT_EQ(rig.Fat(1, 5), 0xFFFu);
  }
  {  // Both unreadable.
    TinyRig rig(volume(2));
    rig.dev->badReadSectors = {1, 2};
    rig.Run({0});
    EXPECT_EQ(rig.prompt.Messages(), Texts({"FATs cannot be read successfully!"}));
    EXPECT_TRUE(rig.dev->writeLog.empty());
  }
  {  // A boot record that cannot be read tells no second FAT: FAT 1 only.
    const TinyVolume v = volume(2);
    TinyRig rig(v);
    rig.Show(rig.Root());
    rig.dev->badReadSectors = {0};
    rig.pane.Select({0});
    rig.prompt.Clear();
    rig.dev->writeLog.clear();
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(), Texts({kDone}));
    EXPECT_EQ(rig.WritesWithin(1024, 1536), 0);
    EXPECT_EQ(rig.Fat(0, 5), 0xFFFu);
  }
  {  // Failed FAT writes are reported and the command goes on.
    TinyRig rig(volume(2));
    rig.dev->badWriteSectors = {1, 2};
    rig.Run({0});
    // No completion is claimed after a write that failed.
    EXPECT_EQ(rig.prompt.Messages(), Texts({"FAT 1 cannot be written successfully!",
                                            "FAT 2 cannot be written successfully!"}));
  }
  {  // Three FATs: every copy gets the chain, and a copy that fails is named.
    const TinyVolume v = volume(3);
    TinyRig rig(v);
    rig.Run({0});
    EXPECT_EQ(rig.prompt.Messages(), Texts({kDone}));
    for (uint32_t copy = 0; copy < 3; ++copy) EXPECT_EQ(rig.Fat(copy, 5), 0xFFFu) << copy;
    TinyRig failing(v);
    failing.dev->badWriteSectors = {3};
    failing.Run({0});
    EXPECT_EQ(failing.prompt.Messages(), Texts({"FAT 3 cannot be written successfully!"}));
    EXPECT_FALSE(Undelete(failing.ctx, failing.pane.selectedPacket, failing.pane.SelectedRows()).Succeeded());
  }
}

TEST(Undelete, ReportsDirectoryFailuresAndWritesNoFillerBack) {
  TempDir dir;
  FatVolume v = MakeFloppy1440(dir.File("f.img"));
  ASSERT_TRUE(v.PutFile("::/GONE.TXT", "gone"));
  ASSERT_TRUE(v.Delete("::/GONE.TXT"));
  const std::vector<uint8_t> image = ReadFileBytes(v.image);
  const uint64_t rootSector = 19;

  {  // Another root sector unreadable: reported, and only the entry's sector goes back.
    RecoveryRig rig(image);
    rig.Show(rig.RootNode(FatWidth::Fat12));
    rig.Select(
        {"\xE5"
         "ONE    .TXT"});
    rig.dev->badReadSectors = {rootSector + 5};
    rig.prompt.Clear();
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(), Texts({"Root Directory not fully accessible!", kDone}));
    EXPECT_EQ(rig.WritesWithin(rootSector * 512, (rootSector + 14) * 512), 1);
    EXPECT_EQ(rig.Bytes()[rootSector * 512], '!');
  }
  {  // The entry's sector cannot be written.
    RecoveryRig rig(image);
    rig.Show(rig.RootNode(FatWidth::Fat12));
    rig.Select(
        {"\xE5"
         "ONE    .TXT"});
    rig.dev->badWriteSectors = {rootSector};
    rig.prompt.Clear();
    const UndeleteResult result = Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows());
    EXPECT_EQ(rig.prompt.Messages(), Texts({"Root Directory not fully accessible!", kNothing}));
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.revived, 0u);
    EXPECT_TRUE(result.writeFailed);
    EXPECT_FALSE(result.Succeeded());
    // The entry stays deleted, so no chain may be left in the FATs for it.
    EXPECT_EQ(FirstDifference(rig.Bytes(), image, {}), -1);
  }
  {  // The root buffer cannot be had: nothing is written.
    RecoveryRig rig(image);
    rig.Show(rig.RootNode(FatWidth::Fat12));
    rig.Select(
        {"\xE5"
         "ONE    .TXT"});
    rig.pane.budget.limit = 9 * 512;  // the FAT image fits, the root does not
    rig.prompt.Clear();
    rig.dev->writeLog.clear();
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(),
              Texts({"Fatal Error!  Not able to allocate a buffer of memory for root dir!", kNothing}));
    EXPECT_TRUE(rig.dev->writeLog.empty());
    EXPECT_TRUE(rig.pane.sectorBuffer.empty());
  }
  {  // No memory for the FAT image.
    RecoveryRig rig(image);
    rig.Show(rig.RootNode(FatWidth::Fat12));
    rig.Select(
        {"\xE5"
         "ONE    .TXT"});
    rig.pane.budget.limit = 512;
    rig.prompt.Clear();
    rig.dev->writeLog.clear();
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(), Texts({"Fatal Error!  Not able to allocate a buffer!"}));
    EXPECT_TRUE(rig.dev->writeLog.empty());
  }
  {  // The entry changed on disk since it was listed: it is left alone.
    RecoveryRig rig(image);
    rig.Show(rig.RootNode(FatWidth::Fat12));
    rig.Select(
        {"\xE5"
         "ONE    .TXT"});
    rig.Bytes()[rootSector * 512 + kDirClusterLow] = 0x44;
    const std::vector<uint8_t> changed = rig.Bytes();
    rig.prompt.Clear();
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(), Texts({kNothing}));
    EXPECT_EQ(rig.Bytes(), changed);
  }
}

TEST(Undelete, FolderFailures) {
  // A folder of 200 clusters (2-201) holding, in its first, a deleted file at 250.
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {ShortEntry({"BIG        ", kAttrFolder, 2, 0})});
  for (uint32_t c = 2; c < 201; ++c) v.SetFatAll(c, c + 1);
  v.SetFatAll(201, 0xFFF);
  v.PutEntries(v.ClusterOffset(2),
               {Dot(".          ", 2), Dot("..         ", 0), Deleted("OST    TXT", 250, 10)});

  auto run = [&](TinyRig& rig) {
    rig.Show(rig.FolderNode(FatWidth::Fat12, 2));
    rig.pane.Select({0});
    rig.prompt.Clear();
    rig.dev->writeLog.clear();
  };
  {
    TinyRig rig(v);
    run(rig);
    ASSERT_EQ(rig.pane.rows.size(), 1u);
    rig.pane.budget.limit = 600;  // the FAT, not the list of 200 clusters
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(),
              Texts({"Fatal Error!  Not able to allocate a buffer for FAT Entries!", kNothing}));
    EXPECT_TRUE(rig.dev->writeLog.empty());
  }
  {
    TinyRig rig(v);
    run(rig);
    rig.pane.budget.limit = 1000;  // the list, not the folder's bytes
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(), Texts({"Fatal Error!  Not able to allocate a buffer!", kNothing}));
    EXPECT_TRUE(rig.dev->writeLog.empty());
  }
  {  // An unreadable cluster of the folder is reported and not written back.
    TinyRig rig(v);
    run(rig);
    rig.dev->badReadSectors = {v.ClusterOffset(100) / 512};
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(), Texts({"Not able to fully load the sub-directory", kDone}));
    EXPECT_EQ(rig.Bytes()[v.ClusterOffset(2) + 64], '!');
    EXPECT_EQ(rig.Fat(0, 250), 0xFFFu);
    EXPECT_EQ(rig.WritesWithin(v.ClusterOffset(3), v.bytes.size()), 0);
  }
  {
    TinyRig rig(v);
    run(rig);
    rig.dev->badWriteSectors = {v.ClusterOffset(2) / 512};
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_EQ(rig.prompt.Messages(), Texts({"Not able to fully write the sub-directory", kNothing}));
  }
}

TEST(Undelete, DoesNothingOutsideADirectoryListing) {
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {Deleted("NE     TXT", 5, 100)});
  v.PutEntries(v.ClusterOffset(5), {Live("X          ", 0, 0)});
  TinyRig rig(v);
  rig.Show(rig.Root());
  auto quiet = [&] {
    rig.prompt.Clear();
    rig.dev->readLog.clear();
    rig.dev->writeLog.clear();
    static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
    EXPECT_TRUE(rig.prompt.Events().empty());
    EXPECT_TRUE(rig.dev->readLog.empty());
    EXPECT_TRUE(rig.dev->writeLog.empty());
  };
  rig.pane.Select({});  // no selection: said, nothing read
  rig.prompt.Clear();
  rig.dev->readLog.clear();
  EXPECT_FALSE(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()).Succeeded());
  EXPECT_EQ(rig.prompt.Messages(),
            Texts({"No row is selected: select the deleted files to undelete."}));
  EXPECT_TRUE(rig.dev->readLog.empty());
  rig.pane.Select({0});
  rig.pane.fileDumpShown = true;  // a file cluster dump on show
  quiet();
  rig.pane.fileDumpShown = false;
  rig.pane.viewKind = ViewKind::ClusterDump;  // the folder cluster dump
  quiet();
  rig.pane.viewKind = ViewKind::SubDirectory;  // a folder view, but the root selected
  quiet();
}

}  // namespace

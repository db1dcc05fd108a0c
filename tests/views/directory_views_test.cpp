// The root directory and folder listings over real mkfs.fat/mtools images and
// over small volumes made by hand, with their failures.
#include "views/directory_views.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "fixtures/image_builder.h"
#include "views/dir_entry_builder.h"
#include "views/view_rig.h"

namespace {

const char* const kMtools = "env -u MTOOLS_NO_VFAT MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1 ";

using Texts = std::vector<std::string>;

struct Bench : ViewRig {
  explicit Bench(std::vector<uint8_t> bytes, uint16_t drive = kFirstHardDisk)
      : ViewRig(std::move(bytes), Direct, drive) {}
  Texts Column(int c) const {
    Texts texts;
    for (size_t r = 0; r < pane.rows.size(); ++r) texts.push_back(FormatCell(pane, r, c));
    return texts;
  }
  void ExpectDirectoryColumns() const {
    EXPECT_EQ(ColumnTitles(), Texts({"MS-DOS Name", "Long File Name", "Starting Cluster", "Attributes", "Size",
                                     "Modified Date", "Created Date", "Accessed Date"}));
  }
};

DrivePacket FolderPacket(const DrivePacket& volume, uint32_t firstCluster) {
  DrivePacket p = volume;
  p.kind = NodeKind::DirEntry;
  p.attributes = kAttrFolder;
  p.startSector = volume.dataStart;
  p.sectorCount = 0;
  p.firstCluster = firstCluster;
  return p;
}

// Copies a host file with its modification time (26 Sep 2001 11:35:30).
void CopyDated(const FatVolume& v, const TempDir& dir, const std::string& dosPath, const std::string& bytes) {
  const std::string host = dir.File("host");
  ASSERT_TRUE(WriteFileBytes(host, std::vector<uint8_t>(bytes.begin(), bytes.end())));
  ASSERT_TRUE(MustRun("touch -d '2001-09-26 11:35:30' " + ShellQuote(host)));
  ASSERT_TRUE(MustRun(std::string(kMtools) + "mcopy -m -i " + ShellQuote(v.MtoolsImage()) + " " +
                      ShellQuote(host) + " " + ShellQuote(dosPath)));
}

const char* const kDated = "26 Sep 2001 11:35:30";
const char* const kDay = "26 Sep 2001";

TEST(DirectoryView, FloppyRootListsEveryEntry) {
  TempDir dir;
  FatVolume v = MakeFloppy1440(dir.File("floppy.img"), "FLOPPY");
  CopyDated(v, dir, "::/Report.doc", "hello");
  CopyDated(v, dir, "::/README.TXT", std::string(1234, 'r'));
  ASSERT_TRUE(MustRun(std::string(kMtools) + "mattrib -i " + ShellQuote(v.image) + " +r +h ::/README.TXT"));
  CopyDated(v, dir, "::/Caf\xC3\xA9 au lait.txt", "");
  ASSERT_TRUE(v.MakeDir("::/Sub Folder"));
  CopyDated(v, dir, "::/Deleted Long Name File.txt", "gone");
  ASSERT_TRUE(v.Delete("::/Deleted Long Name File.txt"));

  Bench b(ReadFileBytes(v.image), 0);
  DrivePacket root = VolumeFromImage(b.dev->Bytes(), 0, FatWidth::Fat12, 0);
  ASSERT_EQ(root.startSector, 19u);
  ASSERT_EQ(root.sectorCount, 14u);
  ShowRootDirectory(b.ctx, root);

  EXPECT_TRUE(b.prompt.Messages().empty());
  EXPECT_EQ(b.pane.viewKind, ViewKind::RootDirectory);
  b.ExpectDirectoryColumns();
  ASSERT_EQ(b.pane.rows.size(), 6u);
  for (size_t r = 0; r < b.pane.rows.size(); ++r) EXPECT_EQ(b.pane.rows[r].value, r);
  EXPECT_EQ(b.pane.rowStore.size(), 6u);

  EXPECT_EQ(b.Column(0), Texts({"FLOPPY  .   ", "REPORT  .DOC", "README  .TXT", "CAF\xC3\x89" "AU~1.TXT",
                                "SUBFOL~1.   ", "\xCF\x83" "ELETE~1.TXT"}));
  // The deleted file's pieces carry 0xE5 as ordinal; its name is shown whole.
  EXPECT_EQ(b.Column(1), Texts({"", "Report.doc", "", "Caf\xC3\xA9 au lait.txt", "Sub Folder",
                                "Deleted Long Name File.txt"}));
  EXPECT_EQ(b.Column(3), Texts({"V", "A", "RHA", "A", "D", "A-Deleted"}));
  EXPECT_EQ(b.Row(1), Texts({"REPORT  .DOC", "Report.doc", "00000002", "A", "5", kDated, kDay, kDay}));
  EXPECT_EQ(b.Row(2), Texts({"README  .TXT", "", "00000003", "RHA", "1234", kDated, kDay, kDay}));
  EXPECT_EQ(b.Row(3)[2], "00000000");  // an empty file has no cluster
  EXPECT_EQ(b.Row(3)[4], "0");
  EXPECT_EQ(b.Row(5)[4], "4");
  EXPECT_EQ(b.prompt.Status(1), "Current Sector Number: 19");
  EXPECT_EQ(b.prompt.Status(0), "");
}

TEST(DirectoryView, RootThatCannotBeFullyReadIsListedAsFarAsItGoes) {
  TempDir dir;
  FatVolume v = MakeFloppy1440(dir.File("floppy.img"));
  ASSERT_TRUE(v.PutFile("::/ONE.TXT", "1"));
  ASSERT_TRUE(v.PutFile("::/Second file.txt", "2"));
  const std::vector<uint8_t> image = ReadFileBytes(v.image);
  const Texts names = {"ONE     .TXT", "SECOND~1.TXT"};

  {  // An unreadable sector of the extent (its last, past the entries).
    Bench b(image, 0);
    b.dev->badReadSectors = {32};
    ShowRootDirectory(b.ctx, VolumeFromImage(image, 0, FatWidth::Fat12, 0));
    EXPECT_EQ(b.prompt.Messages(), Texts({"Root Directory not fully accessible!"}));
    EXPECT_EQ(b.Column(0), names);
    EXPECT_EQ(b.Column(1), Texts({"", "Second file.txt"}));
    EXPECT_EQ(b.pane.viewKind, ViewKind::RootDirectory);
    EXPECT_EQ(b.prompt.Status(1), "Current Sector Number: 19");
  }
  {  // An extent that runs past the volume's end is cut there.
    Bench b(image, 0);
    DrivePacket root = VolumeFromImage(image, 0, FatWidth::Fat12, 0);
    root.totalSectors = 21;
    ShowRootDirectory(b.ctx, root);
    EXPECT_EQ(b.prompt.Messages(), Texts({"Root Directory not fully accessible!"}));
    EXPECT_EQ(b.pane.sectorBuffer.size(), 2u * 512);
    EXPECT_EQ(b.Column(0), names);
    for (const auto& [offset, length] : b.dev->readLog) EXPECT_LE(offset + length, 21u * 512);
  }
  {  // A root of no sectors: the columns, no rows, no message, no read.
    Bench b(image, 0);
    DrivePacket root = VolumeFromImage(image, 0, FatWidth::Fat12, 0);
    root.sectorCount = 0;
    ShowRootDirectory(b.ctx, root);
    EXPECT_TRUE(b.prompt.Messages().empty());
    EXPECT_EQ(b.dev->reads, 0);
    EXPECT_TRUE(b.pane.rows.empty());
    b.ExpectDirectoryColumns();
    EXPECT_EQ(b.prompt.Status(1), "Current Sector Number: 19");
  }
  {  // No memory for the extent.
    Bench b(image, 0);
    b.pane.budget.limit = 1024;
    ShowRootDirectory(b.ctx, VolumeFromImage(image, 0, FatWidth::Fat12, 0));
    EXPECT_EQ(b.prompt.Messages(), Texts({"Unable to allocate memory"}));
    EXPECT_TRUE(b.pane.rows.empty());
    EXPECT_EQ(b.pane.viewKind, ViewKind::None);
  }
}

// One sector of folder entries that exercises every listing rule.
std::vector<uint8_t> RuleSector() {
  std::vector<EntryBytes> e;
  e.push_back(ShortEntry({".", kAttrFolder, 5}));
  e.push_back(ShortEntry({"..", kAttrFolder, 0}));
  for (const auto& x : NamedEntry(u"Report.doc", ShortEntry({"REPORT  DOC", 0x21, 0x00010002, 1234, 0x5C6F,
                                                               0x2B3A, 0x2B3A, 0})))
    e.push_back(x);
  EntryBytes foo = ShortEntry({"FOO", kAttrReadOnly, 7, 10});
  foo[0] = 0xE5;  // deleted
  e.push_back(foo);
  e.push_back(ShortEntry({"MYLABEL", kAttrVolumeLabel}));
  EntryBytes kanji = ShortEntry({"XBAR    TXT", 0});
  kanji[0] = 0x05;
  e.push_back(kanji);
  e.push_back(ShortEntry({".PROFILE", 0}));  // a file, not a dot entry
  e.push_back(EntryBytes(32, 0));            // the end
  e.push_back(ShortEntry({"\xE5" "FTER   TXT"}));
  return Join(e, 512);
}

// The long name a folder row shows, live or deleted.
struct LongNameCase {
  const char* what;
  bool piecesDeleted;  // the long-name pieces carry the deletion mark
  bool entryDeleted;   // and the short entry
  const char* shown;
  char firstByte = 0;  // put over the short entry's first byte, when not 0
};

class FolderLongName : public ::testing::TestWithParam<LongNameCase> {};

TEST_P(FolderLongName, ShowsTheWholeNameOfItsOwnPieces) {
  const LongNameCase& c = GetParam();
  const EntryBytes owner = ShortEntry({"HOLIDA~1JPG", kAttrArchive, 3, 10});
  std::vector<EntryBytes> e = NamedEntry(u"Holiday pictures 2001.jpg", owner);
  for (size_t i = 0; i < e.size(); ++i)
    if (i + 1 < e.size() ? c.piecesDeleted : c.entryDeleted) e[i][0] = kDirDeletedMark;
  if (c.firstByte != 0) e.back()[0] = static_cast<uint8_t>(c.firstByte);
  Bench b({});
  b.pane.sectorBuffer = Join(e, 512);
  DrivePacket folder;
  folder.fatType = FatWidth::Fat16;
  folder.sectorCount = 1;
  ListDirectoryEntries(b.ctx, folder);
  EXPECT_EQ(b.Column(1), Texts({c.shown})) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FolderLongName,
    ::testing::Values(LongNameCase{"live", false, false, "Holiday pictures 2001.jpg"},
                      LongNameCase{"deleted", true, true, "Holiday pictures 2001.jpg"},
                      // A live file written after deleted pieces: they are not its name.
                      LongNameCase{"live after deleted pieces", true, false, ""},
                      // Revived by Undelete ("!" first): the name to give it back.
                      LongNameCase{"revived", true, false, "Holiday pictures 2001.jpg", '!'}),
    [](const ::testing::TestParamInfo<LongNameCase>& i) {
      std::string name = i.param.what;
      for (char& ch : name)
        if (ch == ' ') ch = '_';
      return name;
    });

TEST(DirectoryView, FolderListingRules) {
  Bench b({});
  b.pane.sectorBuffer = RuleSector();
  b.pane.rowStore.resize(3);  // an earlier listing's records go
  DrivePacket folder;
  folder.fatType = FatWidth::Fat16;
  folder.sectorCount = 1;
  ListDirectoryEntries(b.ctx, folder);

  EXPECT_EQ(b.pane.viewKind, ViewKind::SubDirectory);
  b.ExpectDirectoryColumns();
  EXPECT_TRUE(b.prompt.Messages().empty());
  EXPECT_EQ(b.prompt.Status(0), "");
  EXPECT_GE(b.prompt.WaitCount(), 1);
  // No dot entries, no long-name entries, nothing after the end mark.
  EXPECT_EQ(b.Column(0), Texts({"REPORT  .DOC", "\xCF\x83" "OO     .   ", "MYLABEL .   ", "\x05" "BAR    .TXT",
                                ".PROFILE.   "}));
  EXPECT_EQ(b.pane.rowStore.size(), 5u);
  EXPECT_EQ(b.Row(0), Texts({"REPORT  .DOC", "Report.doc", "00000002", "RA", "1234", kDated, kDay, ""}));
  EXPECT_EQ(b.Column(3), Texts({"RA", "R-Deleted", "V", "-Deleted", ""}));
  EXPECT_EQ(std::string(b.pane.rowStore[1].dosName), "\xE5" "OO     .   ");

  // The high word of the cluster counts on a 32-bit volume only.
  folder.fatType = FatWidth::Fat32;
  ListDirectoryEntries(b.ctx, folder);
  EXPECT_EQ(b.Row(0)[2], "00010002");

  // Only sectorCount sectors are listed, and never more than the buffer holds.
  b.pane.sectorBuffer.assign(2 * 512, 0x41);  // live entries throughout, no end mark
  folder.sectorCount = 1;
  ListDirectoryEntries(b.ctx, folder);
  EXPECT_EQ(b.pane.rows.size(), 16u);
  folder.sectorCount = 100;
  ListDirectoryEntries(b.ctx, folder);
  EXPECT_EQ(b.pane.rows.size(), 32u);

  // No memory for the row records.
  b.pane.sectorBuffer = RuleSector();
  b.pane.budget.limit = 64;
  ListDirectoryEntries(b.ctx, folder);
  EXPECT_EQ(b.prompt.Messages(), Texts({"Unable to allocate memory"}));
  EXPECT_TRUE(b.pane.rows.empty());
  EXPECT_TRUE(b.pane.rowStore.empty());
  EXPECT_EQ(b.pane.viewKind, ViewKind::None);
}

TEST(DirectoryView, CellTexts) {
  ViewPage pane;
  DirectoryRow row;
  std::memcpy(row.dosName, "\x05OO     .   ", 13);
  row.attributes = 0x3F;
  row.firstCluster = 0x0ABCDEF1;
  row.size = 4294967295u;
  row.modifiedDate = (45 << 9) | (12 << 5) | 31;
  row.modifiedTime = (23 << 11) | (59 << 5) | 29;
  row.createdDate = (0 << 9) | (1 << 5) | 1;
  row.accessedDate = (127 << 9) | (15 << 5) | 0;  // month 15
  Texts cells;
  for (int c = -1; c <= 8; ++c) cells.push_back(FormatDirectoryCell(pane, row, c));
  EXPECT_EQ(cells, Texts({"", "\x05OO     .   ", "", "0ABCDEF1", "RHSAVD-Deleted", "4294967295",
                          "31 Dec 2025 23:59:58", "1 Jan 1980", "0 ?? 2107", ""}));
  row.createdDate = (21 << 9) | (0 << 5) | 26;  // month 0
  row.modifiedDate = 0;
  EXPECT_EQ(FormatDirectoryCell(pane, row, 6), "26 ?? 2001");
  EXPECT_EQ(FormatDirectoryCell(pane, row, 5), "");

  // A long name beyond the display buffer is cut on a character boundary.
  row.longName = std::string(kDisplayTextMax + 50, 'a');
  EXPECT_EQ(FormatDirectoryCell(pane, row, 1), std::string(kDisplayTextMax, 'a'));
  row.longName = "a";
  for (int i = 0; i < 100; ++i) row.longName += "\xE2\x82\xAC";  // 301 bytes
  EXPECT_EQ(FormatDirectoryCell(pane, row, 1), row.longName.substr(0, 298));
}

// A FAT16 volume made by hand: one reserved sector, two FAT copies, no root
// region. Folder entries go into clusters.
struct HandVolume {
  std::vector<uint8_t> bytes;
  DrivePacket volume;

  explicit HandVolume(uint32_t clusters, uint16_t sectorsPerCluster = 1) {
    volume.drive = kFirstHardDisk;
    volume.fatType = FatWidth::Fat16;
    volume.reservedSectors = 1;
    volume.sectorsPerFat = ((clusters + 2) * 2 + 511) / 512;
    volume.sectorsPerCluster = sectorsPerCluster;
    volume.dataStart = 1 + 2 * volume.sectorsPerFat;
    volume.totalSectors = volume.dataStart + clusters * sectorsPerCluster;
    bytes.assign(uint64_t{volume.totalSectors} * 512, 0);
    Link(0, 0xFFF8);
    Link(1, 0xFFFF);
  }
  void Link(uint32_t cluster, uint16_t value) {
    for (uint32_t copy = 0; copy < 2; ++copy)
      putLe16(bytes, (1 + copy * volume.sectorsPerFat) * 512 + cluster * 2, value);
  }
  void Chain(const std::vector<uint16_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i)
      Link(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFFF);
  }
  uint64_t ClusterSector(uint32_t cluster) const {
    return volume.dataStart + uint64_t{cluster - 2} * volume.sectorsPerCluster;
  }
  void Put(uint32_t cluster, size_t slot, const EntryBytes& e) {
    std::copy(e.begin(), e.end(), bytes.begin() + ClusterSector(cluster) * 512 + slot * 32);
  }
  // A full cluster: e first, deleted entries after it (a zero entry would end
  // the folder).
  void Fill(uint32_t cluster, const EntryBytes& e) {
    Put(cluster, 0, e);
    for (size_t s = 1; s < 16u * volume.sectorsPerCluster; ++s) Put(cluster, s, ShortEntry({"\xE5" "AP     TXT"}));
  }
  DrivePacket Folder(uint32_t first) const { return FolderPacket(volume, first); }
};

// A folder over clusters 2, 3, 4 with one file per cluster (and its dot
// entries in the first); 32 * sectorsPerCluster - 1 rows.
HandVolume ThreeClusterFolder(uint16_t sectorsPerCluster = 1) {
  HandVolume h(40, sectorsPerCluster);
  h.Chain({2, 3, 4});
  h.Fill(2, ShortEntry({".", kAttrFolder, 2}));
  h.Put(2, 1, ShortEntry({"..", kAttrFolder, 0}));
  h.Put(2, 2, ShortEntry({"FIRST   TXT"}));
  h.Fill(3, ShortEntry({"SECOND  TXT"}));
  h.Put(4, 0, ShortEntry({"THIRD   TXT"}));
  return h;
}

Texts LiveNames(const Bench& b) {
  Texts live;
  for (const std::string& s : b.Column(0))
    if (s.rfind("\xCF\x83", 0) != 0) live.push_back(s);
  return live;
}

TEST(DirectoryView, SubDirectoryLoadsTheChainThroughTheFat) {
  const HandVolume h = ThreeClusterFolder();
  const Texts all = {"FIRST   .TXT", "SECOND  .TXT", "THIRD   .TXT"};
  {
    Bench b(h.bytes);
    b.pane.viewKind = ViewKind::SectorDump;
    b.pane.rows.push_back({0, {"an earlier view's row"}});
    ShowSubDirectory(b.ctx, h.Folder(2));
    EXPECT_TRUE(b.prompt.Messages().empty());
    EXPECT_EQ(b.pane.viewKind, ViewKind::SubDirectory);
    EXPECT_EQ(LiveNames(b), all);
    EXPECT_EQ(b.pane.rows.size(), 31u);  // deleted ones listed too
    EXPECT_EQ(b.pane.sectorBuffer.size(), 3u * 512);
    EXPECT_EQ(b.prompt.Status(1), "Current Cluster Number: 0x00000002, Current Sector Number: 3");
    EXPECT_EQ(b.prompt.Status(0), "");
  }
  {  // The first FAT copy unreadable: the second serves, without a word.
    Bench b(h.bytes);
    b.dev->badReadSectors = {1};
    ShowSubDirectory(b.ctx, h.Folder(2));
    EXPECT_TRUE(b.prompt.Messages().empty());
    EXPECT_EQ(LiveNames(b), all);
  }
  {  // Both copies unreadable.
    Bench b(h.bytes);
    b.dev->badReadSectors = {1, 2};
    b.pane.viewKind = ViewKind::SectorDump;
    b.pane.rows.push_back({0, {"an earlier view's row"}});
    ShowSubDirectory(b.ctx, h.Folder(2));
    EXPECT_EQ(b.prompt.Messages(), Texts({"FAT not accessible!"}));
    EXPECT_EQ(b.pane.viewKind, ViewKind::None);
    EXPECT_TRUE(b.pane.rows.empty());
  }
  {  // A FAT size that runs past the volume is not read at all.
    Bench b(h.bytes);
    DrivePacket folder = h.Folder(2);
    folder.sectorsPerFat = 0x7FFFFFFF;
    ShowSubDirectory(b.ctx, folder);
    EXPECT_EQ(b.prompt.Messages(), Texts({"FAT not accessible!"}));
    EXPECT_EQ(b.dev->reads, 0);
  }
  {  // A folder without clusters: nothing, silently.
    Bench b(h.bytes);
    ShowSubDirectory(b.ctx, h.Folder(0));
    EXPECT_TRUE(b.prompt.Messages().empty());
    EXPECT_TRUE(b.pane.rows.empty());
    EXPECT_EQ(b.pane.viewKind, ViewKind::None);
  }
  {  // An unreadable sector in the middle cluster: the clusters after it are
     // still read and listed.
    const HandVolume h2 = ThreeClusterFolder(2);
    Bench b(h2.bytes);
    b.dev->badReadSectors = {h2.ClusterSector(3)};
    ShowSubDirectory(b.ctx, h2.Folder(2));
    EXPECT_EQ(b.prompt.Messages(), Texts({"Not able to fully load the sub-directory"}));
    Texts live = LiveNames(b);
    ASSERT_FALSE(live.empty());
    EXPECT_EQ(live.front(), "FIRST   .TXT");
    EXPECT_EQ(live.back(), "THIRD   .TXT");
    EXPECT_EQ(b.pane.viewKind, ViewKind::SubDirectory);
  }
  {  // No memory for the cluster list, then none for the folder's clusters.
    Bench b(h.bytes);
    b.pane.budget.limit = 512;  // the FAT copy fits, 3 * 512 bytes of clusters do not
    ShowSubDirectory(b.ctx, h.Folder(2));
    EXPECT_EQ(b.prompt.Messages(), Texts({"Fatal Error!  Not able to allocate a buffer!"}));
    EXPECT_EQ(b.pane.viewKind, ViewKind::None);
    EXPECT_TRUE(b.pane.rows.empty());
  }
}

TEST(DirectoryView, DamagedFolderChainsAreBounded) {
  {  // A chain that loops back lists each cluster once.
    HandVolume h = ThreeClusterFolder();
    h.Link(4, 2);
    Bench b(h.bytes);
    ShowSubDirectory(b.ctx, h.Folder(2));
    EXPECT_TRUE(b.prompt.Messages().empty());
    EXPECT_EQ(LiveNames(b), Texts({"FIRST   .TXT", "SECOND  .TXT", "THIRD   .TXT"}));
  }
  {  // A link to a cluster the volume does not have ends the load there.
    HandVolume big(300);
    big.Chain({2, 3, 200});
    big.Fill(2, ShortEntry({"FIRST   TXT"}));
    big.Fill(3, ShortEntry({"SECOND  TXT"}));
    big.Fill(200, ShortEntry({"LOST    TXT"}));
    DrivePacket cut = big.Folder(2);
    cut.totalSectors = big.volume.dataStart + 100;  // clusters 2 to 101; the FAT numbers more
    Bench b(big.bytes);
    ShowSubDirectory(b.ctx, cut);
    EXPECT_EQ(b.prompt.Messages(), Texts({"Not able to fully load the sub-directory"}));
    EXPECT_EQ(LiveNames(b), Texts({"FIRST   .TXT", "SECOND  .TXT"}));
    EXPECT_EQ(b.pane.sectorBuffer.size(), 2u * 512);
  }
  {  // A chain longer than any folder: 65536 entries' worth is loaded.
    HandVolume h(4200);
    std::vector<uint16_t> chain;
    for (uint16_t c = 2; c < 4202; ++c) chain.push_back(c);
    h.Chain(chain);
    for (uint16_t c = 2; c < 4202; ++c) h.Fill(c, ShortEntry({"\xE5" "ILE    TXT"}));
    Bench b(h.bytes);
    ShowSubDirectory(b.ctx, h.Folder(2));
    EXPECT_EQ(b.prompt.Messages(), Texts({"Not able to fully load the sub-directory"}));
    EXPECT_EQ(b.pane.sectorBuffer.size(), 65536u * 32);
    EXPECT_EQ(b.pane.rows.size(), 65536u);
  }
  {  // No memory for the cluster list.
    HandVolume h(300);
    std::vector<uint16_t> chain;
    for (uint16_t c = 2; c < 202; ++c) chain.push_back(c);
    h.Chain(chain);
    Bench b(h.bytes);
    b.pane.budget.limit = 700;  // the 512-byte FAT copy fits, 200 * 4 bytes do not
    DrivePacket folder = h.Folder(2);
    ASSERT_EQ(folder.sectorsPerFat, 2u);
    folder.sectorsPerFat = 1;
    ShowSubDirectory(b.ctx, folder);
    EXPECT_EQ(b.prompt.Messages(), Texts({"Fatal Error!  Not able to allocate a buffer for FAT Entries!"}));
    EXPECT_TRUE(b.pane.rows.empty());
  }
}

TEST(DirectoryView, Fat16FolderAndFat32RootFromRealImages) {
  TempDir dir;
  {
    FatVolume v = MakeFatImage(dir.File("fat16.img"), 16, 40960, "-s 4");
    ASSERT_TRUE(v.MakeDir("::/Sub Folder"));
    CopyDated(v, dir, "::/Sub Folder/Long File Name Document.txt", "text");
    ASSERT_TRUE(v.MakeDir("::/Sub Folder/NESTED"));
    CopyDated(v, dir, "::/Sub Folder/Was Here.txt", "x");
    ASSERT_TRUE(v.Delete("::/Sub Folder/Was Here.txt"));
    Bench b(ReadFileBytes(v.image));
    const DrivePacket volume = VolumeFromImage(b.dev->Bytes(), 0, FatWidth::Fat16);
    // The folder's entry is the root's second (its long-name piece first).
    const size_t entry = volume.startSector * 512 + 32;
    const uint32_t cluster = le16(b.dev->Bytes(), entry + kDirClusterLow);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(&b.dev->Bytes()[entry]), 8), "SUBFOL~1");
    ShowSubDirectory(b.ctx, FolderPacket(volume, cluster));
    EXPECT_TRUE(b.prompt.Messages().empty());
    EXPECT_EQ(b.Column(1), Texts({"Long File Name Document.txt", "", "Was Here.txt"}));
    EXPECT_EQ(b.Column(3), Texts({"A", "D", "A-Deleted"}));
    EXPECT_EQ(b.Row(0)[5], kDated);
    char status[100];
    std::snprintf(status, sizeof status, "Current Cluster Number: 0x%08X, Current Sector Number: %u", cluster,
                  volume.dataStart + (cluster - 2) * 4);
    EXPECT_EQ(b.prompt.Status(1), status);
  }
  {
    // The 32-bit root is a chain of one-sector clusters; twenty names of
    // three entries each run across four of them.
    FatVolume v = MakeFatImage(dir.File("fat32.img"), 32, 69632, "-s 1 -n VOLUME32");
    Texts expected = {""};
    for (int i = 0; i < 20; ++i) {
      const std::string name = "Quarterly report " + std::to_string(100 + i) + ".txt";
      ASSERT_TRUE(v.PutFile("::/" + name, std::to_string(i)));
      expected.push_back(name);
    }
    Bench b(ReadFileBytes(v.image));
    const DrivePacket volume = VolumeFromImage(b.dev->Bytes(), 0, FatWidth::Fat32);
    ShowSubDirectory(b.ctx, FolderPacket(volume, le32(b.dev->Bytes(), 0x2C)));
    EXPECT_TRUE(b.prompt.Messages().empty());
    EXPECT_EQ(b.pane.sectorBuffer.size(), 4u * 512);
    EXPECT_EQ(b.Column(1), expected);
    EXPECT_EQ(b.Row(0)[0], "VOLUME32.   ");
    EXPECT_EQ(b.Row(0)[3], "V");
  }
}

// 5,000 files in one folder of a 32-bit volume: the folder's chain and
// entries are written by hand (mtools takes minutes to make that many), and
// mtools checks the result.
TEST(DirectoryView, FolderOfFiveThousandFilesOnFat32) {
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("fat32.img"), 32, 69632, "-s 1");
  ASSERT_TRUE(v.MakeDir("::/MANY"));
  std::vector<uint8_t> image = ReadFileBytes(v.image);
  const DrivePacket volume = VolumeFromImage(image, 0, FatWidth::Fat32);
  const uint32_t rootCluster = le32(image, 0x2C);
  const size_t rootAt = (volume.dataStart + rootCluster - 2) * 512;
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(&image[rootAt]), 4), "MANY");
  const uint32_t first = le16(image, rootAt + kDirClusterLow);

  std::vector<EntryBytes> entries = {ShortEntry({".", kAttrFolder, first}), ShortEntry({"..", kAttrFolder, 0})};
  for (int i = 0; i < 5000; ++i) {
    char name[32], shortName[16];
    std::snprintf(name, sizeof name, "File number %04d.txt", i);
    std::snprintf(shortName, sizeof shortName, "F%07dTXT", i);
    for (auto& e : NamedEntry(std::u16string(name, name + std::strlen(name)), ShortEntry({shortName})))
      entries.push_back(e);
  }
  const std::vector<uint8_t> folder = Join(entries);
  const uint32_t clusters = static_cast<uint32_t>((folder.size() + 511) / 512);
  for (uint32_t i = 0; i < clusters; ++i) {
    const uint32_t c = first + i;
    const uint32_t link = i + 1 < clusters ? c + 1 : 0x0FFFFFFF;
    for (uint32_t copy = 0; copy < 2; ++copy)
      putLe32(image, (volume.reservedSectors + copy * volume.sectorsPerFat) * 512 + c * 4, link);
  }
  std::copy(folder.begin(), folder.end(), image.begin() + (volume.dataStart + first - 2) * 512);
  ASSERT_TRUE(WriteFileBytes(v.image, image));
  std::string listing;
  ASSERT_TRUE(MustRun(std::string(kMtools) + "mdir -b -i " + ShellQuote(v.image) + " ::/MANY", &listing));
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 5000);

  Bench b(image);
  const auto start = std::chrono::steady_clock::now();
  ShowSubDirectory(b.ctx, FolderPacket(volume, first));
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("ListingMicroseconds", static_cast<int>(micros));
  EXPECT_TRUE(b.prompt.Messages().empty());
  ASSERT_EQ(b.pane.rows.size(), 5000u);
  EXPECT_EQ(b.Row(0)[1], "File number 0000.txt");
  EXPECT_EQ(b.Row(4999), Texts({"F0004999.TXT", "File number 4999.txt", "00000000", "A", "0", "", "", ""}));
}

}  // namespace

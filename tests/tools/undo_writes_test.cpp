// gleaner-cli undo over real recoveries: undelete, rename and Write Changes
// each journal exactly the sectors they own and are undone byte for byte; a
// run killed between a journal record and its sector write leaves a journal
// whose undo gives back the image as it was.
#include "tools/undo_writes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "fixtures/cli_run.h"
#include "disk/fat_codec.h"
#include "tools/tool_rig.h"
#include "cli/tree_session.h"
#include "disk/le.h"
#include "fixtures/scripted_prompt.h"
#include "disk/undo_journal.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "views/row_edit.h"
#include "views/show_node.h"
#include "views/write_changes.h"

namespace {

namespace fs = std::filesystem;

// The one undo file in dir ("" when there is not exactly one).
std::string OnlyUndoFile(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) files.push_back(e.path().string());
  return files.size() == 1 ? files[0] : "";
}

std::set<uint64_t> JournalSectors(const std::string& file) {
  std::set<uint64_t> s;
  for (const auto& r : ReadUndoJournal(file).records) s.insert(r.sector);
  return s;
}

std::set<uint64_t> ChangedSectors(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::set<uint64_t> s;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i] != b[i]) s.insert(i / 512);
  return s;
}

std::set<uint64_t> Range(uint64_t first, uint64_t count) {
  std::set<uint64_t> s;
  for (uint64_t i = 0; i < count; ++i) s.insert(first + i);
  return s;
}

bool Within(const std::set<uint64_t>& inner, const std::set<uint64_t>& outer) {
  return std::includes(outer.begin(), outer.end(), inner.begin(), inner.end());
}

std::string Show(const std::set<uint64_t>& s) {
  std::string t;
  for (uint64_t x : s) t += std::to_string(x) + " ";
  return t;
}

const char* const kRoot = "Floppy Disk 1/Root Directory";
const std::string kDeletedReadme = "\xCF\x83" "EADME  .TXT";
const std::string kDeletedDocs = "\xCF\x83" "OCS    .   ";

// A 1.44 MB floppy (FATs at sectors 1-18, root 19-32, cluster 2 at 33) with
// a deleted file and a deleted folder.
struct Floppy {
  TempDir dir;
  FatVolume v = MakeFloppy1440(dir.File("floppy.img"));
  Floppy() {
    EXPECT_TRUE(v.PutFile("::/README.TXT", std::string(3000, 'x')));
    EXPECT_TRUE(v.MakeDir("::/DOCS"));
    EXPECT_TRUE(v.PutFile("::/DOCS/NOTE.TXT", "note"));
    EXPECT_TRUE(v.Delete("::/README.TXT"));
    EXPECT_TRUE(v.DeleteTree("::/DOCS"));
  }
};

TEST(UndoWrites, UndeleteRenameAndWriteChangesAreUndoneByteForByte) {
  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    Floppy f;
    const std::vector<uint8_t> original = ReadFileBytes(f.v.image);
    const std::set<uint64_t> fats = Range(1, 18), root = Range(19, 14);
    auto run = [&](const std::string& undoDir, std::vector<std::string> args) {
      std::vector<std::string> all = {f.v.image, "--undo-dir", undoDir};
      if (direct) all.push_back("--direct");
      all.insert(all.end(), args.begin(), args.end());
      return Cli(all);
    };
    const std::string shown = run(f.dir.File("u0"), {"show", kRoot}).out;
    const int readme = RowOf(shown, kDeletedReadme), docs = RowOf(shown, kDeletedDocs);
    ASSERT_NE(readme, 0);
    ASSERT_NE(docs, 0);
    // Looking writes nothing and keeps no undo file.
    EXPECT_FALSE(fs::exists(f.dir.File("u0")));

    // Undelete: the FAT copies and the root directory; the folder brought
    // back owns its cluster too (its entries are marked).
    CliRun r = run(f.dir.File("u1"), {"undelete", kRoot, std::to_string(readme), std::to_string(docs)});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> undeleted = ReadFileBytes(f.v.image);
    const std::string j1 = OnlyUndoFile(f.dir.File("u1"));
    ASSERT_NE(j1, "");
    const std::span<const uint8_t> rootBytes(original.data() + 19 * 512, 14 * 512);
    uint16_t docsCluster = 0;
    for (size_t e = 0; e < 224; ++e)
      if (rootBytes[e * 32] == 0xE5 && std::memcmp(&rootBytes[e * 32 + 1], "OCS    ", 7) == 0)
        docsCluster = le16(rootBytes, e * 32 + 26);
    ASSERT_GE(docsCluster, 2);
    std::set<uint64_t> owned = fats;
    owned.insert(root.begin(), root.end());
    owned.insert(33 + docsCluster - 2);
    EXPECT_TRUE(Within(JournalSectors(j1), owned)) << Show(JournalSectors(j1));
    // Every sector that changed was journalled first.
    EXPECT_TRUE(Within(ChangedSectors(original, undeleted), JournalSectors(j1)))
        << Show(ChangedSectors(original, undeleted));
    std::string fsck;
    EXPECT_TRUE(f.v.Check(&fsck)) << fsck;

    // Rename: the root directory only.
    r = run(f.dir.File("u2"), {"rename", kRoot, std::to_string(readme), "README", "TXT"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> renamed = ReadFileBytes(f.v.image);
    const std::string j2 = OnlyUndoFile(f.dir.File("u2"));
    ASSERT_NE(j2, "");
    EXPECT_TRUE(Within(JournalSectors(j2), root)) << Show(JournalSectors(j2));
    EXPECT_FALSE(JournalSectors(j2).empty());
    EXPECT_TRUE(Within(ChangedSectors(undeleted, renamed), JournalSectors(j2)));

    // Write Changes of the root's second sector page, one byte edited: that
    // sector and no other.
    {
      TestDrives drives(direct ? TestDrives::Direct : TestDrives::Library);
      ASSERT_TRUE(drives.BindAsProgram(ParseDriveArgs({f.v.image, "--undo-dir", f.dir.File("u3")}).config));
      ScriptedPrompt& prompt = drives.prompt;
      DiskAccess& access = drives.access;
      TreeSession tree(access);
      const std::optional<TreeNode> node = tree.Find(kRoot);
      ASSERT_TRUE(node);
      const DumpModes sectorMode{.sectorDump = true, .rawDump = false};
      ShowNode(tree.ctx, *node->packet, sectorMode);
      ASSERT_FALSE(tree.page.rows.empty());
      RowBytesArray bytes = RowBytes(tree.page, 2);
      bytes[5] ^= 0xFF;
      ASSERT_TRUE(SetRowBytes(tree.page, 2, bytes));
      prompt.AnswerYes();
      EXPECT_TRUE(WriteChanges(tree.ctx, sectorMode));
      EXPECT_EQ(prompt.Messages(), (std::vector<std::string>{kWriteQuestion, kWriteDone}));
      access.Release();
    }
    const std::string j3 = OnlyUndoFile(f.dir.File("u3"));
    ASSERT_NE(j3, "");
    EXPECT_EQ(JournalSectors(j3), std::set<uint64_t>{19});
    EXPECT_EQ(ChangedSectors(renamed, ReadFileBytes(f.v.image)), std::set<uint64_t>{19});

    // Undone newest first, each whole.
    r = Cli({"--undo-dir", f.dir.File("u4"), "undo", j3});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "19\trestored\n");
    EXPECT_EQ(r.err, "1 sector restored, 0 already as before, 0 left alone.\n");
    EXPECT_EQ(ReadFileBytes(f.v.image), renamed);
    r = Cli({"--no-undo", "undo", "--dry-run", j2});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(f.v.image), renamed);
    r = Cli({"--no-undo", "undo", j2});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(f.v.image), undeleted);
    r = Cli({"--no-undo", "undo", j1});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(f.v.image), original);
    // The undo's own writes were journalled: undoing the undo of Write
    // Changes puts the edit back.
    const std::string j4 = OnlyUndoFile(f.dir.File("u4"));
    ASSERT_NE(j4, "");
    EXPECT_EQ(JournalSectors(j4), std::set<uint64_t>{19});

    EXPECT_EQ(Cli({"undo"}).err.substr(0, 36), "gleaner-cli: undo needs an undo FILE");
    EXPECT_EQ(Cli({"undo", j1, "--now"}).status, 2);
  }
}

TEST(UndoWrites, AKillBetweenRecordAndWriteLeavesAJournalThatUndoesWhole) {
  const std::string cli = std::string(GLEANER_BIN_DIR) + "/gleaner-cli";
  Floppy f;
  const std::vector<uint8_t> original = ReadFileBytes(f.v.image);
  const std::string shown = Cli({f.v.image, "show", kRoot}).out;
  const std::string rows =
      std::to_string(RowOf(shown, kDeletedReadme)) + " " + std::to_string(RowOf(shown, kDeletedDocs));
  // How many records a whole undelete makes.
  const std::string image = f.dir.File("work.img");
  ASSERT_TRUE(WriteFileBytes(image, original));
  ASSERT_EQ(RunCommand(ShellQuote(cli) + " " + ShellQuote(image) + " --direct --undo-dir " +
                       ShellQuote(f.dir.File("whole")) + " undelete " + ShellQuote(kRoot) + " " + rows),
            0);
  const uint64_t records = ReadUndoJournal(OnlyUndoFile(f.dir.File("whole"))).records.size();
  ASSERT_GE(records, 3u);
  int cutShort = 0;  // runs killed after some sectors had changed
  for (const bool direct : {false, true}) {
    for (uint64_t kill = 1; kill < records; kill += 2) {
      SCOPED_TRACE(std::string(direct ? "direct" : "library") + " killed after record " + std::to_string(kill));
      ASSERT_TRUE(WriteFileBytes(image, original));
      const std::string undo = f.dir.File("k" + std::to_string(direct) + "-" + std::to_string(kill));
      const int status = RunCommand("GLEANER_UNDO_TEST_KILL_AFTER=" + std::to_string(kill) + " " +
                                    ShellQuote(cli) + " " + ShellQuote(image) + (direct ? " --direct" : "") +
                                    " --undo-dir " + ShellQuote(undo) + " undelete " + ShellQuote(kRoot) +
                                    " " + rows);
      EXPECT_EQ(status, 128 + 9);  // SIGKILL
      const std::string journal = OnlyUndoFile(undo);
      ASSERT_NE(journal, "");
      const UndoJournalContents c = ReadUndoJournal(journal);
      EXPECT_EQ(c.tail, UndoJournalContents::Tail::Clean);
      EXPECT_GE(c.records.size(), kill);
      EXPECT_LE(c.records.size(), records);
      // The last batch of records was never written to the image: undo finds
      // those sectors as they were and puts back the ones before.
      if (ReadFileBytes(image) != original) ++cutShort;
      std::string out;
      EXPECT_EQ(RunCommand(ShellQuote(cli) + " --no-undo undo " + ShellQuote(journal), &out), 0) << out;
      EXPECT_EQ(ReadFileBytes(image), original);
    }
  }
  EXPECT_GT(cutShort, 0);
}

}  // namespace

namespace {

// The sectors each drive's undo file of a run holds, by the drive's file.
std::map<std::string, std::set<uint64_t>> JournalledByDrive(const std::string& dir) {
  std::map<std::string, std::set<uint64_t>> by;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    for (const auto& r : ReadUndoJournal(e.path().string()).records)
      by[fs::path(r.drivePath).filename().string()].insert(r.sector);
  return by;
}

// The first cluster of a root entry of a 1.44 MB floppy (root at sector 19).
uint16_t RootEntryCluster(const std::vector<uint8_t>& image, const char (&name)[12]) {
  for (size_t e = 0; e < 224; ++e) {
    const size_t at = 19 * 512 + e * 32;
    if (std::memcmp(&image[at], name, 11) == 0) return le16(image, at + 26);
  }
  return 0;
}

}  // namespace

// A scan repair writes the FAT copies, the root entry it fixes and the free
// clusters the copied tail goes to; backup only the floppy, restore only the
// disk's tables and boot records; copy to floppy only the floppy. Each undo
// gives back the image as it was.
TEST(UndoWrites, ScanBackupRestoreAndCopyToFloppyJournalOnlyWhatTheyOwn) {
  TempDir dir;
  FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  ASSERT_TRUE(floppy.PutFile("::/FIRST.TXT", std::string(3000, 'a')));
  ASSERT_TRUE(floppy.PutFile("::/SECOND.TXT", std::string(3000, 'b')));
  std::vector<uint8_t> bytes = ReadFileBytes(floppy.image);
  const uint16_t first = RootEntryCluster(bytes, "FIRST   TXT");
  const uint16_t second = RootEntryCluster(bytes, "SECOND  TXT");
  ASSERT_GE(first, 2);
  ASSERT_GE(second, 2);
  // SECOND's chain joins FIRST's at its third cluster, in both FATs.
  for (const uint64_t fat : {1u, 10u})
    ASSERT_TRUE(SetFatEntry(second, FatWidth::Fat12, std::span<uint8_t>(bytes).subspan(fat * 512, 9 * 512), first + 2u));
  ASSERT_TRUE(WriteFileBytes(floppy.image, bytes));
  std::set<uint64_t> owned = Range(1, 18);
  const std::set<uint64_t> root = Range(19, 14);
  owned.insert(root.begin(), root.end());
  for (uint32_t c = 2; c < 2849; ++c)
    if (GetFatEntry(c, FatWidth::Fat12, std::span<const uint8_t>(bytes).subspan(512, 9 * 512)).IsFree())
      owned.insert(33 + c - 2);

  CliRun r = Cli({floppy.image, "--undo-dir", dir.File("scan"), "scan", "1", "--yes"});
  EXPECT_NE(r.err.find("Cross Linked file detected.  Fix it? Yes\n"), std::string::npos) << r.err;
  const std::vector<uint8_t> repaired = ReadFileBytes(floppy.image);
  const std::string scanJournal = OnlyUndoFile(dir.File("scan"));
  ASSERT_NE(scanJournal, "");
  EXPECT_TRUE(Within(JournalSectors(scanJournal), owned)) << Show(JournalSectors(scanJournal));
  EXPECT_TRUE(Within(ChangedSectors(bytes, repaired), JournalSectors(scanJournal)));
  EXPECT_FALSE(ChangedSectors(bytes, repaired).empty());
  EXPECT_EQ(Cli({"--no-undo", "undo", scanJournal}).status, 0);
  EXPECT_EQ(ReadFileBytes(floppy.image), bytes);

  // Backup onto a blank floppy, restore onto a disk whose tables and boot
  // records were wiped.
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume blank = MakeFloppy1440(dir.File("blank.img"));
  const std::vector<uint8_t> diskBefore = ReadFileBytes(disk.image);
  r = Cli({"--floppy", blank.image, "--disk", disk.image, "--undo-dir", dir.File("backup"), "backup"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto by = JournalledByDrive(dir.File("backup"));
  EXPECT_EQ(by.count("disk.img"), 0u);
  // The six slots are the floppy's first six data clusters (2-7), owned by
  // CRITICAL.BAK: the first sector of each FAT copy and of the root too.
  std::set<uint64_t> backupOwns = Range(33, 6);
  backupOwns.insert({1, 10, 19});
  EXPECT_EQ(by["blank.img"], backupOwns);
  EXPECT_EQ(ReadFileBytes(disk.image), diskBefore);

  const std::vector<uint64_t> criticalList = SampleCriticalSectors(disk);
  const std::set<uint64_t> critical(criticalList.begin(), criticalList.end());
  for (const uint64_t s : critical) PutSector(disk.image, s, std::vector<uint8_t>(512, 0));
  const std::vector<uint8_t> wiped = ReadFileBytes(disk.image);
  const std::vector<uint8_t> backupFloppy = ReadFileBytes(blank.image);
  r = Cli({"--floppy", blank.image, "--disk", disk.image, "--undo-dir", dir.File("restore"), "restore"});
  ASSERT_EQ(r.status, 0) << r.err;
  by = JournalledByDrive(dir.File("restore"));
  EXPECT_EQ(by.count("blank.img"), 0u);
  EXPECT_EQ(by["disk.img"], critical);
  EXPECT_EQ(ReadFileBytes(disk.image), diskBefore);
  EXPECT_EQ(ReadFileBytes(blank.image), backupFloppy);
  EXPECT_EQ(Cli({"--no-undo", "undo", OnlyUndoFile(dir.File("restore"))}).status, 0);
  EXPECT_EQ(ReadFileBytes(disk.image), wiped);

  // Copy to floppy: a file of the FAT16 partition onto the floppy.
  ASSERT_TRUE(WriteFileBytes(disk.image, diskBefore));
  ASSERT_TRUE(disk.fat16.PutFile("::/COPY.TXT", std::string(5000, 'c')));
  const std::vector<uint8_t> diskWithFile = ReadFileBytes(disk.image);
  const std::string node = "Hard Disk 1/16-Bit FAT Disk/Root Directory";
  const int row = RowOf(Cli({disk.image, "show", node}).out, "COPY    .TXT");
  ASSERT_NE(row, 0);
  r = Cli({"--floppy", blank.image, "--disk", disk.image, "--undo-dir", dir.File("ctf"), "copy-to-floppy",
           node, std::to_string(row)});
  ASSERT_EQ(r.status, 0) << r.err;
  by = JournalledByDrive(dir.File("ctf"));
  EXPECT_EQ(by.count("disk.img"), 0u);
  EXPECT_FALSE(by["blank.img"].empty());
  EXPECT_EQ(ReadFileBytes(disk.image), diskWithFile);
  EXPECT_TRUE(Within(ChangedSectors(backupFloppy, ReadFileBytes(blank.image)), by["blank.img"]));
  std::string fsck;
  EXPECT_TRUE(blank.Check(&fsck)) << fsck;
  EXPECT_EQ(Cli({"--no-undo", "undo", OnlyUndoFile(dir.File("ctf"))}).status, 0);
  EXPECT_EQ(ReadFileBytes(blank.image), backupFloppy);
}

// Undo files are named so that they sort in the order they were written; the
// names written before the sequence came first still order among them.
struct UndoNameCase {
  const char* name;
  bool parsed;
  const char* stamp;
  uint32_t sequence;
  const char* drive;
};

class UndoName : public ::testing::TestWithParam<UndoNameCase> {};

TEST_P(UndoName, ItsPartsOrderIt) {
  const UndoNameCase& c = GetParam();
  const std::optional<UndoNameOrder> order = ParseUndoFileName(c.name);
  ASSERT_EQ(order.has_value(), c.parsed);
  if (!order) return;
  EXPECT_EQ(order->stamp, c.stamp);
  EXPECT_EQ(order->sequence, c.sequence);
  EXPECT_EQ(order->drive, c.drive);
}

INSTANTIATE_TEST_SUITE_P(
    Names, UndoName,
    ::testing::Values(UndoNameCase{"20261209-074429-001-disk.img.undo", true, "20261209-074429", 1, "disk.img"},
                      UndoNameCase{"20261209-074429-012-fd-2.img.undo", true, "20261209-074429", 12, "fd-2.img"},
                      UndoNameCase{"20261209-074429-disk.img.undo", true, "20261209-074429", 1, "disk.img"},
                      UndoNameCase{"20261209-074429-disk.img-10.undo", true, "20261209-074429", 10, "disk.img"},
                      UndoNameCase{"20261209-074429-disk-2.img.undo", true, "20261209-074429", 1, "disk-2.img"},
                      UndoNameCase{"disk.img.undo", false, "", 0, ""},
                      UndoNameCase{"20261209-074429-001-disk.img.txt", false, "", 0, ""}),
    [](const auto& info) { return "row" + std::to_string(info.index); });

TEST(UndoWrites, NamesSortAsWrittenAndAnOlderUndoNamesTheNewerOneFirst) {
  Floppy f;
  const std::vector<uint8_t> original = ReadFileBytes(f.v.image);
  const std::string undo = f.dir.File("undo");
  // Twelve files in one second sort by name in the order they were made.
  std::vector<std::string> made;
  for (uint32_t n = 1; n <= 12; ++n) made.push_back(UndoFileName(1765266269, n, "disk.img"));
  std::vector<std::string> sorted = made;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, made);

  // An undelete and a rename of the same entry, then undone in the wrong
  // order and in the right one.
  const std::string shown = Cli({f.v.image, "--no-undo", "show", kRoot}).out;
  const int readme = RowOf(shown, kDeletedReadme);
  ASSERT_NE(readme, 0);
  ASSERT_EQ(Cli({f.v.image, "--undo-dir", undo, "undelete", kRoot, std::to_string(readme)}).status, 0);
  ASSERT_EQ(Cli({f.v.image, "--undo-dir", undo, "rename", kRoot, std::to_string(readme), "README", "TXT"}).status, 0);
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(undo)) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 2u);
  CliRun r = Cli({"--no-undo", "undo", files[0]});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("by the writes kept in " + fs::path(files[1]).filename().string() +
                       ": undo that file first."),
            std::string::npos)
      << r.err;
  // What was changed since is left alone; the rest is as it was before the undelete.
  r = Cli({"--no-undo", "undo", files[1]});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Cli({"--no-undo", "undo", files[0]});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFileBytes(f.v.image) == original);
}

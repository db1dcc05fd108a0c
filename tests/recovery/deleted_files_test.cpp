// Find Deleted Files and Copy Out over small FAT12 volumes made by hand, for
// what mtools does not make: long-name pieces that no longer fit their short
// entry, start clusters outside the volume, deleted folders that contain
// themselves, and sectors that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

#include "recovery/copy_out.h"
#include "recovery/deleted_files.h"
#include "recovery/entry_names.h"
#include "recovery/rescue.h"
#include "fixtures/deleted_scene.h"
#include "fixtures/rescue_scene.h"
#include "recovery/recovery_rig.h"

namespace {

// Marks long-name pieces and their short entry deleted, as a deletion does.
std::vector<EntryBytes> DeletedNamed(const std::u16string& name, EntryBytes shortEntry) {
  std::vector<EntryBytes> entries = NamedEntry(name, shortEntry);
  for (EntryBytes& e : entries) e[0] = 0xE5;
  return entries;
}

const DeletedFile* Named(const FindDeletedResult& r, const std::string& path) {
  for (const DeletedFile& f : r.files)
    if (f.path == path) return &f;
  ADD_FAILURE() << "no " << path;
  return nullptr;
}

TEST(FindDeleted, NamesAndJudgements) {
  TinyVolume v;
  std::vector<EntryBytes> root;
  // A long name whose pieces carry the short name's checksum.
  for (auto& e : DeletedNamed(u"Quarterly Report.doc", Live("QUARTE~1DOC", 2, 100))) root.push_back(e);
  // Pieces whose checksum asks for a first byte no short name has (0x01):
  // they belonged to another entry; the short name stands.
  EntryBytes other = Live("\x01" "BCDEF~1TXT", 3, 10);
  const uint8_t foreign = ShortNameChecksum(other);
  root.push_back(LongNamePiece(0xE5, u"Stale name.txt", foreign));
  root.push_back(Deleted("BCDEF~1TXT", 3, 10));
  // No pieces; the case flags make the short name lower case.
  EntryBytes lower = Deleted("EADME  TXT", 4, 0);
  lower[kDirReserved] = 0x18;
  root.push_back(lower);
  root.push_back(Deleted("UTSIDE BIN", 5000, 10));    // past the volume
  root.push_back(Deleted("MPTY   TXT", 0, 0));        // neither size nor cluster
  root.push_back(Deleted("WO     BIN", 10, 1024));     // cluster 11 is NEWFILE's now
  root.push_back(Deleted("ALT    BIN", 12, 1, kAttrArchive, '\x05'));
  // Stale deleted pieces in front of a live entry are not its name.
  root.push_back(LongNamePiece(0xE5, u"Old long name", 0x11));
  root.push_back(Live("NEWFILE TXT", 11, 5));
  ASSERT_LE(root.size(), 16u);
  v.PutEntries(v.RootOffset(), root);
  v.SetFatAll(11, 0xFFF);

  RecoveryRig rig(v.bytes);
  const std::vector<uint8_t> dir = Join(root);
  EXPECT_EQ(LiveEntryName(dir, root.size() - 1).text, "NEWFILE.TXT");
  const std::optional<DeletedLongName> lfn = FindDeletedLongName(dir, 2);
  ASSERT_TRUE(lfn);
  EXPECT_EQ(lfn->first, 0u);
  EXPECT_EQ(lfn->count, 2u);
  EXPECT_EQ(lfn->firstByte, std::optional<uint8_t>('Q'));

  const FindDeletedResult r = FindDeletedFiles(rig.access, rig.RootNode(FatWidth::Fat12));
  ASSERT_TRUE(r.opened) << r.error;
  std::vector<std::string> lines;
  for (const DeletedFile& f : r.files)
    lines.push_back(DeletedStateText(f) + "\t" + std::to_string(f.size) + "\t" +
                    std::to_string(f.startCluster) + "\t" + f.path);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "intact\t100\t2\t/Quarterly Report.doc",
                       "intact\t10\t3\t/_BCDEF~1.TXT",
                       "intact\t0\t4\t/_eadme.txt",
                       "lost\t10\t5000\t/_UTSIDE.BIN",
                       "lost\t0\t0\t/_MPTY.TXT",
                       "partly overwritten (1 cluster)\t1024\t10\t/_WO.BIN",
                       "intact\t1\t12\t/_ALT.BIN",
                   }));
  EXPECT_TRUE(Named(r, "/Quarterly Report.doc")->longName);
  EXPECT_TRUE(r.problems.empty());
  EXPECT_TRUE(rig.dev->writeLog.empty());
}

TEST(FindDeleted, DeletedFoldersThatHoldThemselvesEndTheWalk) {
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {Deleted("OOP       ", 40, 0, kAttrFolder)});
  // Cluster 40: ".", "..", a deleted folder that is cluster 40 again and a
  // deleted file; cluster 41 goes on with entries of the same folder.
  v.PutEntries(v.ClusterOffset(40), {Dot(".          ", 40), Dot("..         ", 0),
                                     Deleted("GAIN      ", 40, 0, kAttrFolder),
                                     Deleted("ILE    TXT", 50, 600)});
  for (size_t at = 4 * 32; at < 512; at += 32) v.bytes[v.ClusterOffset(40) + at] = 0xE5;
  v.PutEntries(v.ClusterOffset(41), {Deleted("ECOND  TXT", 60, 10)});
  const std::vector<uint8_t> file = SceneBytes(600, 3);
  std::copy(file.begin(), file.end(), v.bytes.begin() + static_cast<ptrdiff_t>(v.ClusterOffset(50)));

  RecoveryRig rig(v.bytes);
  const FindDeletedResult r = FindDeletedFiles(rig.access, rig.RootNode(FatWidth::Fat12));
  ASSERT_TRUE(r.opened);
  std::vector<std::string> paths;
  for (const DeletedFile& f : r.files) paths.push_back(f.path + (f.folder ? "/" : ""));
  EXPECT_EQ(paths, (std::vector<std::string>{"/_OOP/", "/_OOP/_GAIN/", "/_OOP/_ILE.TXT",
                                             "/_OOP/_ECOND.TXT"}));
  EXPECT_EQ(r.foldersWalked, 3u);  // the root, _OOP, and _GAIN found walked already
  EXPECT_EQ(Named(r, "/_OOP")->clusters, 2u);

  // Copied out, the folder comes once, with its files.
  TempDir out;
  const DeletedFile* loop = Named(r, "/_OOP");
  ASSERT_NE(loop, nullptr);
  const CopyOutItem item = ItemOfDeleted(*loop);
  const CopyOutResult c = CopyOut(rig.access, rig.RootNode(FatWidth::Fat12), {&item, 1}, {out.Path()});
  EXPECT_TRUE(c.Complete()) << c.problems.size();
  EXPECT_EQ(c.written, (std::vector<std::string>{out.File("_OOP"), out.File("_OOP/_ILE.TXT"),
                                                 out.File("_OOP/_ECOND.TXT")}));
  EXPECT_EQ(ReadFileBytes(out.File("_OOP/_ILE.TXT")), file);
}

TEST(CopyOut, UnreadableSectorsAreCopiedAsReadAndReported) {
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {Live("DATA    BIN", 20, 1300), Deleted("ELETED BIN", 30, 700),
                                Live("DATA    BIN", 25, 3)});
  v.SetFatAll(20, 21);
  v.SetFatAll(21, 22);
  v.SetFatAll(22, 0xFFF);
  v.SetFatAll(25, 0xFFF);
  const std::vector<uint8_t> live = SceneBytes(1300, 1), gone = SceneBytes(700, 2);
  std::copy(live.begin(), live.end(), v.bytes.begin() + static_cast<ptrdiff_t>(v.ClusterOffset(20)));
  std::copy(gone.begin(), gone.end(), v.bytes.begin() + static_cast<ptrdiff_t>(v.ClusterOffset(30)));
  RecoveryRig rig(v.bytes);
  rig.dev->badReadSectors = {v.ClusterOffset(21) / 512, v.ClusterOffset(31) / 512};

  const DrivePacket root = rig.RootNode(FatWidth::Fat12);
  const std::vector<int> rows = {0, 1, 2};
  const std::optional<std::vector<CopyOutItem>> items = ItemsOfDirectory(rig.access, root, rows);
  ASSERT_TRUE(items);
  TempDir out;
  const CopyOutResult c = CopyOut(rig.access, root, *items, {out.Path()});
  ASSERT_TRUE(c.opened);
  EXPECT_FALSE(c.Complete());
  // The second DATA.BIN finds its name taken.
  EXPECT_EQ(c.written, (std::vector<std::string>{out.File("DATA.BIN"), out.File("_ELETED.BIN"),
                                                 out.File("DATA (2).BIN")}));
  EXPECT_EQ(CopyOutReport(c), (std::vector<std::string>{
                                  out.File("DATA.BIN") + ": bytes 512-1023 unreadable",
                                  out.File("_ELETED.BIN") + ": bytes 512-699 unreadable",
                              }));
  std::vector<uint8_t> expectLive = live, expectGone = gone;
  std::fill(expectLive.begin() + 512, expectLive.begin() + 1024, 0xE5);
  std::fill(expectGone.begin() + 512, expectGone.end(), 0xE5);
  EXPECT_EQ(ReadFileBytes(out.File("DATA.BIN")), expectLive);
  EXPECT_EQ(ReadFileBytes(out.File("_ELETED.BIN")), expectGone);
  EXPECT_TRUE(rig.dev->writeLog.empty());
}

TEST(FindDeleted, FatIsReadSectorBySectorWithTheSecondCopyStandingIn) {
  TinyVolume v;
  v.PutEntries(v.RootOffset(), {Deleted("ELETED BIN", 30, 700), Live("KEEP    BIN", 31, 10)});
  v.SetFatAll(31, 0xFFF);
  auto listing = [&](const std::set<uint64_t>& bad) {
    RecoveryRig rig(v.bytes);
    rig.dev->badReadSectors = bad;
    const FindDeletedResult r = FindDeletedFiles(rig.access, rig.RootNode(FatWidth::Fat12));
    std::vector<std::string> lines{r.error};
    for (const DeletedFile& f : r.files) lines.push_back(DeletedStateText(f) + " " + f.path);
    return lines;
  };
  const uint64_t fat1 = v.FatOffset(0) / 512, fat2 = v.FatOffset(1) / 512;
  // Cluster 31 is KEEP's: the deleted file's second cluster is taken.
  const std::vector<std::string> whole = listing({});
  EXPECT_EQ(whole.size(), 2u);
  EXPECT_EQ(listing({fat1}), whole);
  EXPECT_EQ(listing({fat2}), whole);
  EXPECT_EQ(listing({fat1, fat2}), (std::vector<std::string>{"FAT not accessible!"}));
}

TEST(CopyOut, HostNamesAreMadeSafe) {
  EXPECT_EQ(SafeHostName(".."), "__");
  EXPECT_EQ(SafeHostName("."), "_");
  EXPECT_EQ(SafeHostName(""), "_");
  EXPECT_EQ(SafeHostName("a/b"), "a_b");
  EXPECT_EQ(SafeHostName(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeHostName("..."), "...");
}

// A deleted file whose run meets a cluster a live file holds: written around
// it (its own clusters go on after it), overwritten at it, or ending before
// it with more bytes claimed by its entry than its structure holds.
enum class Met { WrittenAround, Overwritten, EndsBefore };

struct ReadingRow {
  const char* name;
  const char* sample;  // of CarveSamples()
  const char* ext;     // the entry's extension
  Met layout;
  const char* kept;    // the reading kept; nullptr: both written
};

class DeletedReadings : public testing::TestWithParam<ReadingRow> {};

TEST_P(DeletedReadings, TheReadingThatChecksOutIsKeptElseBoth) {
  const ReadingRow& row = GetParam();
  const std::vector<uint8_t> original = ReadFileBytes(CarveSamples() + "/" + row.sample);
  constexpr uint32_t kStart = 10, kBefore = 3, kLive = kStart + kBefore;
  ASSERT_GT(original.size(), (kBefore + 1) * 512u);
  TinyVolume v;
  const uint32_t size = static_cast<uint32_t>(original.size()) + (row.layout == Met::EndsBefore ? 1024 : 0);
  v.PutEntries(v.RootOffset(), {Deleted(std::string("ILE    ") + row.ext, kStart, size), Live("LIVE    BIN", kLive, 512)});
  v.SetFatAll(kLive, 0xFFF);
  const std::vector<uint8_t> junk = ReadFileBytes(CarveSamples() + "/random.bin");
  auto put = [&](uint32_t cluster, std::span<const uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), v.bytes.begin() + static_cast<ptrdiff_t>(v.ClusterOffset(cluster)));
  };
  const std::span<const uint8_t> all(original);
  const uint32_t clusters = static_cast<uint32_t>((original.size() + 511) / 512);
  if (row.layout == Met::WrittenAround) {
    put(kStart, all.first(kBefore * 512));
    put(kLive + 1, all.subspan(kBefore * 512));
  } else {
    put(kStart, all);
  }
  // The live file's cluster, and junk in the free clusters after an ending file.
  const uint32_t live = row.layout == Met::EndsBefore ? kStart + clusters : kLive;
  if (live != kLive) v.SetFatAll(kLive, 0), v.SetFatAll(live, 0xFFF);
  put(live, std::span<const uint8_t>(junk).first(512));
  if (row.layout == Met::EndsBefore) put(live + 1, std::span<const uint8_t>(junk).subspan(512, 4096));

  RecoveryRig rig(v.bytes);
  const DrivePacket root = rig.RootNode(FatWidth::Fat12);
  const std::vector<int> rows = {0};
  const std::optional<std::vector<CopyOutItem>> items = ItemsOfDirectory(rig.access, root, rows);
  ASSERT_TRUE(items);
  TempDir out;
  const CopyOutResult c = CopyOut(rig.access, root, *items, {out.Path()});
  ASSERT_TRUE(c.opened);
  const std::string file = out.File(std::string("_ILE.") + row.ext);
  const std::string around = out.File(std::string("_ILE (around live clusters).") + row.ext);
  const uint64_t stoppedBytes = uint64_t{live - kStart} * 512;
  if (row.kept == nullptr) {
    EXPECT_EQ(c.written, (std::vector<std::string>{file, around}));
    EXPECT_EQ(ReadingOf(c, around), kReadAroundToo);
    EXPECT_EQ(ReadFileBytes(file), std::vector<uint8_t>(original.begin(), original.begin() + stoppedBytes));
    EXPECT_EQ(ReadFileBytes(around).size(), size);
    EXPECT_EQ(ReadFileBytes(around) == original, row.layout == Met::WrittenAround);
    EXPECT_FALSE(CopiedWhole(c, file));
    EXPECT_TRUE(CopiedWhole(c, around));
  } else {
    EXPECT_EQ(c.written, std::vector<std::string>{file});
    EXPECT_EQ(ReadingOf(c, file), row.kept);
    std::vector<uint8_t> expect = original;
    if (row.kept == std::string(kStoppedChecked)) expect.resize(stoppedBytes, 0);
    EXPECT_EQ(ReadFileBytes(file), expect);
    EXPECT_EQ(CopiedWhole(c, file), row.kept == std::string(kReadAroundChecked));
  }
  // Rescue copies out the same readings: what follows the live cluster is
  // the file's, not a carving of its own.
  const RescueFindings found = FindRescuable(rig.access, root, {});
  ASSERT_TRUE(found.opened);
  for (const CarvedFile& carved : found.carved)
    ADD_FAILURE() << carved.extension << " carved at " << carved.firstCluster;
  EXPECT_TRUE(rig.dev->writeLog.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DeletedReadings,
    testing::Values(ReadingRow{"PngWrittenAround", "picture.png", "PNG", Met::WrittenAround, kReadAroundChecked},
                    ReadingRow{"ZipWrittenAround", "streamed.zip", "ZIP", Met::WrittenAround, kReadAroundChecked},
                    ReadingRow{"TextWrittenAround", "notes.txt", "TXT", Met::WrittenAround, nullptr},
                    ReadingRow{"PngOverwritten", "picture.png", "PNG", Met::Overwritten, nullptr},
                    ReadingRow{"PdfEndsBefore", "updated.pdf", "PDF", Met::EndsBefore, kStoppedChecked}),
    [](const testing::TestParamInfo<ReadingRow>& i) { return std::string(i.param.name); });

}  // namespace

// The dialog runs the finder on a worker while the window may press Stop:
// the flag and the progress cross threads (the ThreadSanitizer leg runs this).
TEST(FindDeleted, WorkerThreadStopsWhenAskedAndOtherwiseFindsAll) {
  TinyVolume v;
  std::vector<EntryBytes> root;
  for (int i = 0; i < 8; ++i) {
    char name[11];
    std::snprintf(name, sizeof name, "LDER%d    ", i);
    root.push_back(Deleted(name, static_cast<uint32_t>(40 + i), 0,
                           kAttrFolder));
    v.PutEntries(v.ClusterOffset(static_cast<uint32_t>(40 + i)),
                 {Dot(".          ", static_cast<uint32_t>(40 + i)), Dot("..         ", 0),
                  Deleted("ILE    TXT", static_cast<uint32_t>(60 + i), 10)});
  }
  v.PutEntries(v.RootOffset(), root);
  RecoveryRig rig(v.bytes);
  const DrivePacket rootNode = rig.RootNode(FatWidth::Fat12);

  std::atomic<bool> stop{false};
  struct Counted final : FindDeletedEvents {
    std::atomic<uint32_t> reports{0}, rows{0};
    void Progress(uint32_t, uint32_t) override { ++reports; }
    void RowFound(const DeletedFile&) override { ++rows; }
  } events;
  FindDeletedResult whole;
  std::thread all([&] { whole = FindDeletedFiles(rig.access, rootNode, &stop, &events); });
  all.join();
  EXPECT_FALSE(whole.stopped);
  EXPECT_EQ(whole.files.size(), 16u);
  EXPECT_GE(events.reports.load(), 9u);
  EXPECT_EQ(events.rows.load(), 16u);

  stop = true;  // pressed before the worker looks at its first folder
  FindDeletedResult stopped;
  std::thread early([&] { stopped = FindDeletedFiles(rig.access, rootNode, &stop); });
  early.join();
  EXPECT_TRUE(stopped.stopped);
  EXPECT_LT(stopped.files.size(), whole.files.size());
}

// The scan over real mkfs.fat/mtools volumes damaged through the codec: FAT
// copies that differ, cross-links, lost clusters, unreadable clusters, and the
// bounds and mended faults of the repair engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "disk/dir_entry.h"
#include "scan/scan_texts.h"
#include "tests/scan/scan_rig.h"
#include "views/format_cell.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kCross = "Cross Linked file detected.  Fix it?";
const std::string kAltered = "FAT had been altered!  Write changes to FATs?";
const std::string kFolder = "This folder contains changes! Write them to disk?";
const std::string kSaveOne = "1 lost chains found.  Save them as files in FOUND.000?";

ScanOptions Options(bool thorough, bool autoFix = false, uint64_t limit = kDefaultMemoryLimit) {
  ScanOptions o;
  o.thorough = thorough;
  o.autoFix = autoFix;
  o.budget.limit = limit;
  return o;
}

struct Width {
  int bits;
  uint32_t sectors;
};

class ScanCrossLinks : public ::testing::TestWithParam<Width> {};

// File B's chain joins file A's at A's second cluster: B met second gets the
// question, its own copy of A's tail, and B's old tail is counted lost.
TEST_P(ScanCrossLinks, FileMetSecondGetsItsOwnCopyOfTheSharedTail) {
  ScanRig rig(GetParam().bits, GetParam().sectors, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(3 * 512, 90)));
  rig.Bind();
  const uint64_t aAt = rig.RootEntry("A       TXT"), bAt = rig.RootEntry("B       TXT");
  const uint32_t a1 = rig.FirstCluster(aAt), b1 = rig.FirstCluster(bAt);
  const std::vector<uint32_t> a = rig.Chain(a1), b = rig.Chain(b1);
  ASSERT_EQ(a.size(), 3u);
  ASSERT_EQ(b.size(), 3u);
  rig.SetFat(b1, a[1]);
  const std::vector<uint8_t> aBytes = rig.ChainBytes(a1);
  const std::vector<uint8_t> bHead = rig.ClusterBytes(b1);

  rig.prompt.AnswerYes();
  rig.prompt.AnswerNo();  // B's old tail is left lost
  rig.prompt.AnswerYes();
  const ScanResult first = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kCross, kSaveOne, "2 Lost Clusters found!!", kAltered}));
  EXPECT_EQ(first.crossLinks, 1u);
  EXPECT_EQ(first.lostClusters, 2u);
  EXPECT_TRUE(first.fatWritten);
  EXPECT_EQ(first.ExitCode(), 4);  // the lost clusters stay

  // A is untouched; B runs b1 -> copies of A's second and third clusters.
  EXPECT_EQ(rig.Chain(a1), a);
  EXPECT_EQ(rig.ChainBytes(a1), aBytes);
  const std::vector<uint32_t> nb = rig.Chain(b1);
  ASSERT_EQ(nb.size(), 3u);
  EXPECT_EQ(nb[0], b1);
  EXPECT_NE(nb[1], a[1]);
  EXPECT_NE(nb[2], a[2]);
  EXPECT_EQ(rig.Entry(nb[2]).kind, FatEntryKind::End);
  std::vector<uint8_t> expected = bHead;
  expected.insert(expected.end(), aBytes.begin() + 512, aBytes.end());
  EXPECT_EQ(rig.ChainBytes(b1), expected);
  // Every copy holds the image.
  EXPECT_TRUE(std::equal(rig.Fat(0).begin(), rig.Fat(0).end(), rig.Fat(1).begin()));
  const std::string report = rig.FsckReport();
  EXPECT_EQ(report.find("share clusters"), std::string::npos) << report;
  EXPECT_EQ(report.find("FATs differ"), std::string::npos) << report;

  // A second scan asks nothing about B and counts the same lost clusters.
  const std::vector<uint8_t> before = rig.Bytes();
  const ScanResult second = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kSaveOne, "2 Lost Clusters found!!"}));
  EXPECT_EQ(second.ExitCode(), 4);
  EXPECT_EQ(rig.Bytes(), before);
}

INSTANTIATE_TEST_SUITE_P(Widths, ScanCrossLinks,
                         ::testing::Values(Width{12, 2880}, Width{16, 20480}, Width{32, 70000}),
                         [](const auto& info) { return "Fat" + std::to_string(info.param.bits); });

// A clean volume: one message, nothing written, exit 0 - on both paths.
TEST(Scan, CleanVolumeWritesNothing) {
  for (const auto path : {ScanRig::Library, ScanRig::Direct}) {
    ScanRig rig(16, 20480, "-s 2", false, path);
    ASSERT_TRUE(rig.volume.MakeDir("::/DOCS"));
    ASSERT_TRUE(rig.volume.PutFile("::/DOCS/NOTE.TXT", Pattern(5000, 3)));
    ASSERT_TRUE(rig.volume.PutFile("::/README.TXT", Pattern(100, 4)));
    rig.Bind();
    const std::vector<uint8_t> before = rig.Bytes();
    const ScanResult r = rig.Scan(Options(true));
    // The phase line ends empty; the end is told once (the dialog goes back
    // to idle) and the running flag is down.
    ASSERT_FALSE(rig.events.Phases().empty());
    EXPECT_EQ(rig.events.Phases().back().kind, ScanPhase::Kind::None);
    EXPECT_EQ(rig.events.LastEntry(), "");
    EXPECT_EQ(rig.events.Ends(), 1);
    EXPECT_FALSE(rig.flags.running);
    EXPECT_EQ(rig.Said(), (Texts{"0 Lost Clusters found!!"}));
    EXPECT_EQ(r.ExitCode(), 0);
    EXPECT_EQ(rig.dev->writes, 0);
    EXPECT_EQ(rig.Bytes(), before);
  }
}

// FAT 2 differing in one sector: one question naming both sectors; FAT 1 is
// the copy used, and a Yes at the end makes every copy equal to it.
TEST(Scan, DifferingFatCopiesAreReconciledFromFat1) {
  ScanRig rig(16, 20480, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(4000, 1)));
  rig.Bind();
  const std::vector<uint8_t> fat1(rig.Fat(0).begin(), rig.Fat(0).end());
  const std::vector<uint8_t> clean = rig.Bytes();
  rig.Fat(1)[2 * 512 + 10] ^= 0x5A;  // the third sector of FAT 2
  const uint32_t s1 = rig.layout.reservedSectors + 2, s2 = s1 + rig.layout.sectorsPerFat;
  const std::string question = "FATs do not compare equal at Sector " + std::to_string(s1) +
                               " and Sector " + std::to_string(s2) + ", continue with FAT?";

  // No: the comparison ends, the walk still runs, nothing is written.
  std::vector<uint8_t> damaged = rig.Bytes();
  ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{question, "0 Lost Clusters found!!"}));
  EXPECT_EQ(r.ExitCode(), 4);
  EXPECT_EQ(rig.Bytes(), damaged);

  // Yes to both: FAT 1 goes to every copy.
  rig.prompt.AnswerYes();
  rig.prompt.AnswerYes();
  r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{question, "0 Lost Clusters found!!", kAltered}));
  EXPECT_EQ(r.ExitCode(), 1);
  EXPECT_TRUE(std::equal(fat1.begin(), fat1.end(), rig.Fat(1).begin()));
  EXPECT_EQ(rig.Bytes(), clean);
  EXPECT_EQ(r.ExitCode(), 1);
  rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{"0 Lost Clusters found!!"}));
}

// Reading trouble in the FAT copies: a question per unreadable sector, FAT 2
// standing in for an unreadable FAT 1, the end when neither reads, and a
// failed write reported per copy.
TEST(Scan, UnreadableFatCopies) {
  ScanRig rig(16, 20480, "-s 1", false, ScanRig::Direct);
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(4000, 1)));
  rig.Bind();
  const uint64_t fat1 = rig.start + rig.layout.reservedSectors;
  const uint64_t fat2 = fat1 + rig.layout.sectorsPerFat;
  rig.dev->badReadSectors = {fat1 + 1};
  rig.prompt.AnswerYes();
  rig.prompt.AnswerNo();
  ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{"Read error accessing FAT 1, Sector " +
                                   std::to_string(rig.layout.reservedSectors + 1) +
                                   ", continue with FAT?",
                               "FATs do not compare equal at Sector " +
                                   std::to_string(rig.layout.reservedSectors + 1) + " and Sector " +
                                   std::to_string(rig.layout.reservedSectors + 1 +
                                                  rig.layout.sectorsPerFat) +
                                   ", continue with FAT?",
                               "0 Lost Clusters found!!", kAltered}));
  EXPECT_TRUE(r.scanned);  // from FAT 2

  rig.dev->badReadSectors = {fat1 + 1, fat2 + 1};
  r = rig.Scan();
  EXPECT_EQ(rig.Said().back(),
            "CRITICAL ERROR WITH FAT COPIES.  ONLY LOW LEVEL FORMAT OR REPARTITIONING CAN FIX "
            "THIS.  QUITTING!!");
  EXPECT_EQ(r.ExitCode(), 8);

  // A difference mended, FAT 2 refusing the write.
  rig.dev->badReadSectors.clear();
  rig.dev->badWriteSectors = {fat2};
  rig.Fat(1)[7] ^= 1;
  rig.prompt.AnswerYes();
  rig.prompt.AnswerYes();
  r = rig.Scan();
  EXPECT_EQ(rig.Said().back(), "Error writing to FAT 2");
  EXPECT_EQ(r.ExitCode(), 4);

  rig.dev->badReadSectors = {rig.start};
  r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{"Boot Record inaccessible!"}));
  EXPECT_EQ(r.ExitCode(), 8);
}

// FAT 1 unreadable at one sector while FAT 2 is stale at another (a write
// that stopped between the copies): the scan works on FAT 1 wherever it
// reads, FAT 2 standing in for the one sector only, and the write-back gives
// every copy FAT 1's entries, never FAT 2's stale ones.
TEST(Scan, FatTwoStandsInOnlyForTheSectorFatOneCannotGive) {
  ScanRig rig(16, 20480, "-s 1", false, ScanRig::Direct);
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(4000, 1)));
  rig.Bind();
  const std::vector<uint8_t> fat1(rig.Fat(0).begin(), rig.Fat(0).end());
  const std::vector<uint8_t> clean = rig.Bytes();
  // In FAT 2, A.TXT's chain of 8 clusters ends after its third cluster.
  const uint32_t third = 2 + 2;
  rig.Fat(1)[third * 2] = 0xFF;
  rig.Fat(1)[third * 2 + 1] = 0xFF;
  const uint64_t fat1At = rig.start + rig.layout.reservedSectors;
  rig.dev->badReadSectors = {fat1At + 1};
  const uint32_t s1 = rig.layout.reservedSectors, s2 = s1 + rig.layout.sectorsPerFat;
  auto differ = [](uint32_t a, uint32_t b) {
    return "FATs do not compare equal at Sector " + std::to_string(a) + " and Sector " +
           std::to_string(b) + ", continue with FAT?";
  };
  for (int i = 0; i < 4; ++i) rig.prompt.AnswerYes();
  const ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{differ(s1, s2),
                               "Read error accessing FAT 1, Sector " + std::to_string(s1 + 1) +
                                   ", continue with FAT?",
                               differ(s1 + 1, s2 + 1), "0 Lost Clusters found!!", kAltered}));
  EXPECT_TRUE(r.scanned);
  EXPECT_TRUE(std::equal(fat1.begin(), fat1.end(), rig.Fat(0).begin()));
  EXPECT_TRUE(std::equal(fat1.begin(), fat1.end(), rig.Fat(1).begin()));
  EXPECT_EQ(rig.Bytes(), clean);
}

// The cross-link at a file's first cluster changes its entry: in a sub-folder
// after a question, in the fixed root without one. A No leaves the entry and
// takes back the FAT changes that would have served it.
TEST(Scan, FirstClusterCrossLinkChangesTheEntry) {
  ScanRig rig(16, 20480, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(1024, 1)));
  ASSERT_TRUE(rig.volume.MakeDir("::/SUB"));
  ASSERT_TRUE(rig.volume.PutFile("::/SUB/C.TXT", Pattern(1024, 5)));
  ASSERT_TRUE(rig.volume.PutFile("::/Z.TXT", Pattern(1024, 9)));
  rig.Bind();
  const uint32_t a1 = rig.FirstCluster(rig.RootEntry("A       TXT"));
  const uint32_t sub = rig.FirstCluster(rig.RootEntry("SUB        "));
  // C's entry in SUB's first cluster points at A's first cluster.
  uint64_t cAt = rig.ClusterByte(sub);
  while (std::memcmp(rig.Bytes().data() + cAt, "C       TXT", 11) != 0) cAt += 32;
  const uint32_t c1 = rig.FirstCluster(cAt);
  putLe16(rig.Bytes(), cAt + 26, static_cast<uint16_t>(a1));
  // The FATs, the root and SUB: what a declined repair must leave as it is.
  auto metadata = [&] {
    std::vector<uint8_t> m(rig.Bytes().begin(), rig.Bytes().begin() + rig.ClusterByte(2));
    const auto folder = rig.ClusterBytes(sub);
    m.insert(m.end(), folder.begin(), folder.end());
    return m;
  };
  const std::vector<uint8_t> damaged = metadata();

  // Yes to the cross-link, No to the folder: nothing of the repair remains,
  // so there is nothing to write at the end.
  rig.prompt.AnswerYes();
  rig.prompt.AnswerNo();
  ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kCross, kFolder, kSaveOne, "2 Lost Clusters found!!"}));
  EXPECT_EQ(metadata(), damaged);
  EXPECT_EQ(r.ExitCode(), 4);

  // Yes all through: C gets a copy of A's chain.
  for (int i = 0; i < 2; ++i) rig.prompt.AnswerYes();
  rig.prompt.AnswerNo();
  rig.prompt.AnswerYes();
  r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kCross, kFolder, kSaveOne, "2 Lost Clusters found!!", kAltered}));
  const uint32_t newC = rig.FirstCluster(cAt);
  EXPECT_NE(newC, a1);
  EXPECT_NE(newC, c1);
  EXPECT_EQ(rig.ChainBytes(newC), rig.ChainBytes(a1));
  EXPECT_EQ(rig.Chain(a1).size(), 2u);

  // In the fixed root the entry is written without a question.
  ScanRig root(16, 20480, "-s 1");
  ASSERT_TRUE(root.volume.PutFile("::/A.TXT", Pattern(1024, 1)));
  ASSERT_TRUE(root.volume.PutFile("::/B.TXT", Pattern(1024, 2)));
  root.Bind();
  const uint64_t bAt = root.RootEntry("B       TXT");
  putLe16(root.Bytes(), bAt + 26,
          static_cast<uint16_t>(root.FirstCluster(root.RootEntry("A       TXT"))));
  // The root sector after B's stays unreadable: the write-back must not
  // write its filler over it.
  const uint64_t unreadable = bAt / 512 + 1;
  root.dev->badReadSectors = {unreadable};
  root.prompt.AnswerYes();
  root.prompt.AnswerNo();
  root.prompt.AnswerYes();
  r = root.Scan();
  EXPECT_EQ(root.Said(), (Texts{"Error encountered while loading Root Directory", kCross, kSaveOne,
                                "2 Lost Clusters found!!", kAltered}));
  EXPECT_NE(root.FirstCluster(bAt), root.FirstCluster(root.RootEntry("A       TXT")));
  for (const auto& [offset, length] : root.dev->writeLog)
    EXPECT_FALSE(offset <= unreadable * 512 && offset + length > unreadable * 512);
}

// A chain that runs back into itself ends where it turned; a folder that
// contains itself is walked once; a chain that leaves the volume ends there.
TEST(Scan, LoopsAndChainsOutsideTheVolumeEnd) {
  ScanRig rig(16, 20480, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(2 * 512, 1)));
  ASSERT_TRUE(rig.volume.MakeDir("::/SUB"));
  rig.Bind();
  const auto a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
  const auto b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
  rig.SetFat(a[2], a[1]);        // A: a0 a1 a2 a1 ...
  rig.SetFat(b[1], 0xFFF0);      // B leaves the volume after b1
  const uint32_t sub = rig.FirstCluster(rig.RootEntry("SUB        "));
  // SUB holds an entry that is SUB itself.
  uint64_t at = rig.ClusterByte(sub) + 64;
  std::memcpy(rig.Bytes().data() + at, "SELF       ", 11);
  rig.Bytes()[at + 11] = 0x10;
  putLe16(rig.Bytes(), at + 26, static_cast<uint16_t>(sub));

  rig.prompt.AnswerYes();  // A
  rig.prompt.AnswerYes();  // B
  rig.prompt.AnswerNo();   // SELF: a folder entry leading back, left
  rig.prompt.AnswerYes();
  const ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kScanCircular, kScanChainOutside, FormatText(kScanFolderLoop, "SELF"),
                               "0 Lost Clusters found!!", kAltered}));
  EXPECT_EQ(rig.Chain(a[0]), a);
  EXPECT_EQ(rig.Entry(a[2]).kind, FatEntryKind::End);
  EXPECT_EQ(rig.Chain(b[0]), b);
  EXPECT_EQ(rig.Entry(b[1]).kind, FatEntryKind::End);
  EXPECT_EQ(r.circularChains, 1u);
  EXPECT_EQ(r.brokenChains, 1u);
  EXPECT_EQ(r.folderLoops, 1u);
  EXPECT_EQ(r.crossLinks, 0u);
  EXPECT_EQ(r.ExitCode(), 4);
}

// The thorough test moves an unreadable cluster's contents to a free cluster
// and marks it bad: in the middle of a file, twice in a row, as a file's
// first cluster, and in the 32-bit root directory's chain.
TEST(Scan, ThoroughTestMovesDataOffBadClusters) {
  ScanRig rig(16, 20480, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(4 * 512, 2)));
  rig.Bind();
  const auto a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
  const auto b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
  const auto aThird = rig.ClusterBytes(a[2]);
  rig.BadCluster(a[1]);
  rig.BadCluster(b[1]);
  rig.BadCluster(b[2]);
  // A free cluster that cannot be read.
  const uint32_t freeBad = b[3] + 10;
  rig.BadCluster(freeBad);

  rig.prompt.AnswerYes();
  ScanResult r = rig.Scan(Options(true));
  // The phases named the clusters as they were read.
  bool named = false, free = false;
  for (const ScanPhase& p : rig.events.Phases()) {
    named = named || p == ScanPhase{ScanPhase::Kind::FileCluster, a[1], 0};
    free = free || p == ScanPhase{ScanPhase::Kind::FreeCluster, freeBad, rig.layout.lastCluster};
  }
  EXPECT_EQ(rig.Said(),
            (Texts{"Bad cluster detected!!", "Bad cluster detected!!", "Bad cluster detected!!",
                   "Bad Cluster " + std::to_string(freeBad) + " Detected!!", "0 Lost Clusters found!!",
                   kAltered}));
  EXPECT_EQ(r.badClusters, 4u);
  EXPECT_EQ(r.ExitCode(), 1);
  const auto na = rig.Chain(a[0]);
  ASSERT_EQ(na.size(), 3u);
  EXPECT_NE(na[1], a[1]);
  EXPECT_EQ(na[2], a[2]);
  EXPECT_EQ(rig.Entry(a[1]).kind, FatEntryKind::Bad);
  EXPECT_EQ(rig.ClusterBytes(na[1]), std::vector<uint8_t>(512, 0xE5));  // what could be read
  EXPECT_EQ(rig.ClusterBytes(na[2]), aThird);
  const auto nb = rig.Chain(b[0]);
  ASSERT_EQ(nb.size(), 4u);
  EXPECT_EQ(nb[0], b[0]);
  EXPECT_EQ(nb[3], b[3]);
  EXPECT_EQ(rig.Entry(b[1]).kind, FatEntryKind::Bad);
  EXPECT_EQ(rig.Entry(b[2]).kind, FatEntryKind::Bad);
  EXPECT_EQ(rig.Entry(freeBad).kind, FatEntryKind::Bad);
  EXPECT_TRUE(named);
  EXPECT_TRUE(free);
  r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{"0 Lost Clusters found!!"}));
  const std::string report = rig.FsckReport();
  EXPECT_EQ(report.find("differ"), std::string::npos) << report;
}

TEST(Scan, ThoroughTestRelocatesThe32BitRootDirectory) {
  ScanRig rig(32, 70000, "-s 1");
  // Enough entries for a root of three clusters; those of the second are
  // deleted ones, so that nothing is lost with its contents.
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(rig.volume.PutFile("::/F" + std::to_string(i) + ".TXT", "x"));
  for (int i = 16; i < 32; ++i) ASSERT_TRUE(rig.volume.Delete("::/F" + std::to_string(i) + ".TXT"));
  rig.Bind();
  const auto root = rig.Chain(rig.layout.rootCluster);
  ASSERT_GE(root.size(), 3u);
  const auto second = rig.ClusterBytes(root[1]);
  rig.BadCluster(root[1]);
  rig.prompt.AnswerYes();
  ScanResult r = rig.Scan(Options(true));
  EXPECT_EQ(rig.Said(), (Texts{"Bad cluster detected!!", "0 Lost Clusters found!!", kAltered}));
  const auto moved = rig.Chain(rig.layout.rootCluster);
  ASSERT_EQ(moved.size(), root.size());
  EXPECT_NE(moved[1], root[1]);
  EXPECT_EQ(moved[2], root[2]);
  EXPECT_EQ(rig.Entry(root[1]).kind, FatEntryKind::Bad);
  EXPECT_EQ(r.ExitCode(), 1);

  // The first cluster: the boot record must change, after a question.
  rig.dev->badReadSectors.clear();
  rig.BadCluster(root[0]);
  const std::vector<uint8_t> bootBefore(rig.Boot().begin(), rig.Boot().end());
  rig.prompt.AnswerNo();
  rig.prompt.AnswerNo();
  r = rig.Scan(Options(true));
  // The files whose entries the unreadable cluster held are lost with it.
  EXPECT_EQ(rig.Said(), (Texts{"16 lost chains found.  Save them as files in FOUND.000?", "Bad cluster detected!!",
                               "Root Directory must be relocated!! Change Boot Record?", "16 Lost Clusters found!!"}));
  EXPECT_TRUE(std::equal(bootBefore.begin(), bootBefore.end(), rig.Boot().begin()));
  EXPECT_EQ(r.ExitCode(), 4);
  rig.prompt.AnswerNo();
  rig.prompt.AnswerYes();
  rig.prompt.AnswerYes();
  r = rig.Scan(Options(true));
  const uint32_t newRoot = le32(rig.Boot(), 0x2C);
  EXPECT_NE(newRoot, root[0]);
  EXPECT_EQ(rig.Entry(root[0]).kind, FatEntryKind::Bad);
  EXPECT_EQ(rig.Entry(newRoot), (FatEntry{FatEntryKind::Next, moved[1]}));
  // The backup boot sector stays the record's copy.
  const uint64_t backup = rig.VolumeByte(le16(rig.Boot(), 0x32));
  EXPECT_TRUE(std::equal(rig.Boot().begin(), rig.Boot().end(), rig.Bytes().begin() + backup));
  EXPECT_EQ(r.ExitCode(), 4);
}

// No free cluster left: the fix and the move say so and change nothing.
TEST(Scan, FullVolume) {
  ScanRig rig(12, 320, "-s 1", true);  // 160 KiB floppy
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(2 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(2 * 512, 2)));
  rig.Bind();
  const auto a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
  const auto b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
  rig.SetFat(b[0], a[0]);  // B runs b0 a0 a1: two clusters to copy
  // Leave one free cluster.
  uint32_t freeLeft = 0;
  for (uint32_t c = 2; c <= rig.layout.lastCluster; ++c)
    if (rig.Entry(c).IsFree()) {
      if (freeLeft == 0) freeLeft = c;
      else rig.SetFat(c, 0xFF7);
    }
  const std::vector<uint8_t> damaged(rig.Bytes().begin(), rig.Bytes().begin() + rig.ClusterByte(2));
  rig.prompt.AnswerYes();
  ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kCross, "Insufficient disk space for fixing cross-link!!",
                               "Error fixing file!!", kScanNoSpaceLost, "1 Lost Clusters found!!"}));
  EXPECT_EQ(r.ExitCode(), 4);
  EXPECT_TRUE(std::equal(damaged.begin(), damaged.end(), rig.Bytes().begin()));

  rig.SetFat(freeLeft, 0xFF7);
  rig.prompt.AnswerYes();
  r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kCross, "Insufficient disk space for fixing cross-link!!",
                               kScanNoSpaceLost, "1 Lost Clusters found!!"}));
  rig.SetFat(b[0], b[1]);
  rig.BadCluster(a[1]);
  r = rig.Scan(Options(true));
  EXPECT_EQ(rig.Said(), (Texts{"Bad cluster detected!!", "Insufficient disk space for transferring!!",
                               "0 Lost Clusters found!!"}));
  EXPECT_EQ(r.ExitCode(), 4);
}

// The last two data clusters are free clusters like any other: a cross-link
// that needs two copies fits into exactly them.
TEST(Scan, TheLastTwoDataClustersTakeACrossLinksCopy) {
  ScanRig rig(12, 320, "-s 1", true);
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(2 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(2 * 512, 2)));
  rig.Bind();
  const auto a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
  const auto b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
  rig.SetFat(b[0], a[0]);  // B runs b0 a0 a1
  const uint32_t last = rig.layout.lastCluster;
  for (uint32_t c = 2; c + 1 < last; ++c)
    if (rig.Entry(c).IsFree()) rig.SetFat(c, 0xFF7);
  ASSERT_TRUE(rig.Entry(last - 1).IsFree());
  ASSERT_TRUE(rig.Entry(last).IsFree());
  const std::vector<uint8_t> aBytes = rig.ChainBytes(a[0]);

  rig.prompt.AnswerYes();  // fix the cross-link
  rig.prompt.AnswerYes();  // write the FATs
  const ScanResult r = rig.Scan();
  // No free cluster is left for FOUND.000.
  EXPECT_EQ(rig.Said(), (Texts{kCross, kScanNoSpaceLost, "1 Lost Clusters found!!", kAltered}));
  EXPECT_EQ(rig.Chain(b[0]), (std::vector<uint32_t>{b[0], last - 1, last}));
  std::vector<uint8_t> expected = rig.ClusterBytes(b[0]);
  expected.insert(expected.end(), aBytes.begin(), aBytes.end());
  EXPECT_EQ(rig.ChainBytes(b[0]), expected);
  EXPECT_EQ(rig.Chain(a[0]), a);
  EXPECT_EQ(r.crossLinks, 1u);
}

// A cluster the walk found in use is not free because a damaged FAT says 0
// for it: here the 32-bit root folder's own cluster, which the copy of a
// cross-linked tail would otherwise overwrite.
TEST(Scan, AClusterInUseIsNeverTakenForACopy) {
  ScanRig rig(32, 70000, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(3 * 512, 90)));
  rig.Bind();
  const uint32_t root = rig.layout.rootCluster;
  const uint32_t a1 = rig.FirstCluster(rig.RootEntry("A       TXT"));
  const uint32_t b1 = rig.FirstCluster(rig.RootEntry("B       TXT"));
  const std::vector<uint32_t> a = rig.Chain(a1);
  rig.SetFat(b1, a[1]);
  rig.SetFat(root, 0);
  const std::vector<uint8_t> rootBytes = rig.ClusterBytes(root);

  // The root's cluster reads free, so FSInfo's count is one short of the FAT's.
  rig.prompt.AnswerYes();
  rig.prompt.AnswerYes();
  rig.prompt.AnswerNo();
  rig.prompt.AnswerYes();
  const ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{"FSInfo free cluster count is 68876, the FAT has 68877 free clusters.  Fix it?",
                               kCross, kSaveOne, "2 Lost Clusters found!!", kAltered}));
  EXPECT_EQ(r.crossLinks, 1u);
  EXPECT_EQ(rig.ClusterBytes(root), rootBytes);
  const std::vector<uint32_t> nb = rig.Chain(b1);
  ASSERT_EQ(nb.size(), 3u);
  EXPECT_EQ(std::count(nb.begin(), nb.end(), root), 0);
  EXPECT_EQ(rig.ChainBytes(a1).size(), 3u * 512);
}

// A folder entry that leads back into its own folder is no cross-link to
// copy (the copy would hold the same entry, without end): the entry is
// removed, and only its first byte changes.
TEST(Scan, AFolderEntryLeadingBackIntoItsFolderIsRemoved) {
  ScanRig rig(16, 20480, "-s 1");
  ASSERT_TRUE(rig.volume.MakeDir("::/DIR"));
  ASSERT_TRUE(rig.volume.PutFile("::/DIR/F.TXT", "f"));
  rig.Bind();
  const uint32_t dir = rig.FirstCluster(rig.RootEntry("DIR        "));
  // After ".", ".." and F.TXT: LOOP, a folder whose first cluster is DIR's.
  uint8_t* loop = rig.Bytes().data() + rig.ClusterByte(dir) + 3 * 32;
  ASSERT_EQ(loop[0], 0);
  std::memcpy(loop, "LOOP       ", 11);
  loop[11] = 0x10;
  loop[26] = static_cast<uint8_t>(dir);
  loop[27] = static_cast<uint8_t>(dir >> 8);
  const std::vector<uint8_t> before = rig.Bytes();

  for (int i = 0; i < 3; ++i) rig.prompt.AnswerYes();
  const ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{FormatText(kScanFolderLoop, "LOOP"), kScanFolderChanged, "0 Lost Clusters found!!"}));
  EXPECT_EQ(r.folderLoops, 1u);
  EXPECT_EQ(r.ExitCode(), 1);
  EXPECT_EQ(ScanSummary(r),
            "Scan complete: 1 problems found, 1 repaired, 0 left.\n"
            "Lost clusters: 0 (left allocated).  Cross-linked files: 0.  Bad clusters: 0.\n"
            "Invalid short names: 0.  Duplicate names: 0.  Dot entries: 0.  Folder loops: 1.  Folder sizes: 0.  "
            "Broken long names: 0.");
  std::vector<uint8_t> removed = before;
  removed[rig.ClusterByte(dir) + 3 * 32] = kDirDeletedMark;
  EXPECT_EQ(rig.Bytes(), removed);
}

// The width follows the data-cluster count: 4071 clusters is a 12-bit FAT,
// read and written as 12-bit entries.
TEST(Scan, Fat12OfFourThousandClusters) {
  ScanRig rig(12, 4140, "-s 1", true);  // 2070 KiB
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(3 * 512, 2)));
  rig.Bind();
  EXPECT_EQ(rig.layout.width, FatWidth::Fat12);
  EXPECT_EQ(rig.layout.dataClusters, 4071u);
  const auto a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
  const auto b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
  rig.SetFat(b[0], a[1]);
  // A lost cluster at the very end of the volume counts too.
  rig.SetFat(rig.layout.lastCluster, 0xFFF);
  rig.prompt.AnswerYes();
  rig.prompt.AnswerNo();
  rig.prompt.AnswerYes();
  const ScanResult r = rig.Scan();
  EXPECT_EQ(rig.Said(), (Texts{kCross, "2 lost chains found.  Save them as files in FOUND.000?",
                               "3 Lost Clusters found!!", kAltered}));
  EXPECT_EQ(r.ExitCode(), 4);
  const auto nb = rig.Chain(b[0]);
  ASSERT_EQ(nb.size(), 3u);
  EXPECT_EQ(rig.ChainBytes(b[0]).size(), 3u * 512);
  EXPECT_EQ(rig.ClusterBytes(nb[1]), rig.ClusterBytes(a[1]));
  EXPECT_EQ(rig.ClusterBytes(nb[2]), rig.ClusterBytes(a[2]));
  const std::string report = rig.FsckReport();
  EXPECT_EQ(report.find("share clusters"), std::string::npos) << report;
}

// What a scan tells its window as it goes: the FAT phase first, the entries
// it checks, the free-cluster walk only when thorough, a bar within 0-100,
// and one end with the lines left empty.
TEST(Scan, EventsTellThePhasesInOrderAndEndOnce) {
  for (const bool thorough : {false, true}) {
    ScanRig rig(12, 2880, "");
    ASSERT_TRUE(rig.volume.PutFile("::/README.TXT", Pattern(3000, 4)));
    rig.Bind();
    const ScanResult r = rig.Scan(Options(thorough));
    EXPECT_EQ(r.ExitCode(), 0) << thorough;
    const std::vector<ScanPhase> phase = rig.events.Phases();
    ASSERT_FALSE(phase.empty());
    EXPECT_EQ(phase.front(), ScanPhase{ScanPhase::Kind::Fat});
    EXPECT_EQ(phase.back().kind, ScanPhase::Kind::None);
    // Free clusters are read up to the volume's last, and only when thorough.
    const auto freeWalk = std::find_if(phase.begin(), phase.end(), [](const ScanPhase& p) {
      return p.kind == ScanPhase::Kind::FreeCluster;
    });
    EXPECT_EQ(freeWalk != phase.end(), thorough);
    if (freeWalk != phase.end()) {
      EXPECT_EQ(freeWalk->last, rig.layout.lastCluster);
    }
    const std::vector<std::string> entries = rig.events.Entries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), "README  .TXT"), entries.end());
    EXPECT_EQ(entries.back(), "");
    for (const int p : rig.events.Percents()) EXPECT_TRUE(p >= 0 && p <= 100) << p;
    EXPECT_EQ(rig.events.Ends(), 1);
    EXPECT_FALSE(rig.flags.running);
  }
}

// Automatically Fix Errors: no question is shown; its text goes to the phase
// line, and the repairs run as on a Yes.
TEST(Scan, AutomaticFixAnswersYesWithoutAsking) {
  ScanRig rig(16, 20480, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(2 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(2 * 512, 2)));
  rig.Bind();
  const auto a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
  const auto b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
  rig.SetFat(b[0], a[1]);
  const ScanResult r = rig.Scan(Options(false, true));
  EXPECT_EQ(rig.prompt.Messages(), (Texts{"1 Lost Clusters found!!"}));
  std::vector<std::string> phase;
  for (const std::string& text : rig.events.AutoAnswered())
    if (text == kCross || text == kAltered) phase.push_back(text);
  EXPECT_EQ(phase, (Texts{kCross, kAltered}));
  EXPECT_TRUE(r.fatWritten);
  EXPECT_NE(rig.Chain(b[0])[1], a[1]);
}

// The memory a scan may take: a cluster larger than the limit cannot be
// walked or tested, and the scan says so and goes on.
TEST(Scan, MemoryLimits) {
  ScanRig rig(12, 40960, "-s 64 -a -r 512");  // 32 KiB clusters, a 1 KiB FAT, a 16 KiB root
  ASSERT_TRUE(rig.volume.MakeDir("::/SUB"));
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", "a"));
  rig.Bind();
  ScanResult r = rig.Scan(Options(true, false, 20 * 1024));
  EXPECT_EQ(rig.Said(), (Texts{"Memory Insufficient for loading folder!!",
                               "Memory insufficient for loading cluster!!",
                               "Memory insufficient for loading cluster!!", "0 Lost Clusters found!!"}));
  r = rig.Scan(Options(false, false, 8 * 1024));  // the 16 KiB root
  EXPECT_EQ(rig.Said(), (Texts{"Error allocating memory for Root Directory.  Quitting!!"}));
  r = rig.Scan(Options(false, false, 512));
  EXPECT_EQ(rig.Said(), (Texts{"Error allocating memory for FAT. Quitting!!"}));
  EXPECT_EQ(r.ExitCode(), 8);
}

// The scan's own volume list: floppies, then each disk's FAT partitions,
// primary ones of the master boot record and then the logical drives; other
// types are passed over; an unreadable table is said and ends that disk.
TEST(ScanVolumes, ListFloppiesThenFatPartitionsInOrder) {
  TempDir dir;
  const std::string disk = dir.File("disk.img");
  ASSERT_TRUE(PartitionImage(disk, 200000,
                             "start=2048, size=20480, type=6\n"
                             "start=22528, size=100000, type=5\n"
                             "start=122880, size=20480, type=83\n"
                             "start=143360, size=20480, type=e\n"
                             "size=70000, type=c\n"
                             "size=20000, type=7\n"));
  FatVolume floppy = MakeFloppy1440(dir.File("a.img"));
  TestDrives drives(TestDrives::Direct);
  ASSERT_TRUE(drives.BindAsProgram(Drives({disk}, {floppy.image, floppy.image}, true)));
  ScriptedPrompt& prompt = drives.prompt;
  DiskAccess& access = drives.access;
  const auto volumes = ListScanVolumes(access, prompt);
  Texts texts;
  for (const auto& v : volumes) texts.push_back(v.text);
  EXPECT_EQ(texts, (Texts{"Floppy Disk 1", "Floppy Disk 2",
                          "Hard Disk 1 - 16-Bit FAT Disk - Primary Partition",
                          "Hard Disk 1 - 16-Bit FAT Disk - Primary Partition",
                          "Hard Disk 1 - 32-Bit FAT Disk - Logical Partition"}));
  ASSERT_EQ(volumes.size(), 5u);
  EXPECT_EQ(volumes[3].packet.partitionStart, 143360u);
  EXPECT_EQ(volumes[4].packet.fatType, FatWidth::Fat32);
  EXPECT_EQ(volumes[4].packet.drive, 0x80);
  EXPECT_GT(volumes[4].packet.partitionStart, 22528u);

  // The extended boot record cannot be read: the disk's list ends there.
  TestDrives broken;
  broken.AddFile(0x80, disk)->badReadSectors = {22528};
  broken.Bind();
  ScriptedPrompt& said = broken.prompt;
  texts.clear();
  for (const auto& v : ListScanVolumes(broken.access, said)) texts.push_back(v.text);
  EXPECT_EQ(texts, (Texts{"Hard Disk 1 - 16-Bit FAT Disk - Primary Partition",
                          "Hard Disk 1 - 16-Bit FAT Disk - Primary Partition"}));
  EXPECT_EQ(said.Messages(), (Texts{"Partition Table inaccessible!"}));
}

// The contract between the dialog's thread and the scan's worker, without Qt:
// the worker's questions wait for an answer given on the other thread, and
// the flags are the only state the two share.
class HandoffPrompt final : public PromptPort {
 public:
  void Message(std::string_view text, std::string_view, PromptIcon) override {
    std::lock_guard lock(mutex_);
    said_.emplace_back(text);
  }
  // Blocks the worker until Answer() is called from the other thread.
  bool AskYesNo(std::string_view text, std::string_view, PromptIcon) override {
    std::unique_lock lock(mutex_);
    said_.emplace_back(text);
    question_ = std::string(text);
    changed_.notify_all();
    changed_.wait(lock, [this] { return answer_.has_value(); });
    const bool yes = *answer_;
    answer_.reset();
    return yes;
  }
  PromptAnswer AskAbortRetryIgnore(std::string_view, std::string_view, PromptIcon) override {
    return PromptAnswer::Abort;
  }
  void SetStatus(int, std::string_view) override {}

  // The question the worker waits on, once it is asked; empty when the
  // worker ended (running cleared) without asking one.
  std::string NextQuestion(const ScanFlags& flags) {
    std::unique_lock lock(mutex_);
    while (question_.empty() && flags.running)
      changed_.wait_for(lock, std::chrono::milliseconds(10));
    return question_;
  }
  void Answer(bool yes) {
    std::lock_guard lock(mutex_);
    question_.clear();  // answered: the next NextQuestion waits for a new one
    answer_ = yes;
    changed_.notify_all();
  }
  std::vector<std::string> Said() {
    std::lock_guard lock(mutex_);
    return said_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string question_;
  std::optional<bool> answer_;
  std::vector<std::string> said_;
};

struct WorkerRig {
  WorkerRig() : rig(16, 20480, "-s 1") {
    EXPECT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(2 * 512, 1)));
    EXPECT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(2 * 512, 2)));
    rig.Bind();
    a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
    b1 = rig.FirstCluster(rig.RootEntry("B       TXT"));
    rig.SetFat(b1, a[1]);
  }
  // Starts the scan on its own thread, as the dialog's Scan does.
  void Start(ScanOptions options = {}) {
    const auto volumes = rig.Volumes();
    rig.flags.stop = false;
    rig.flags.running = true;
    worker = std::thread([this, volume = volumes.at(0), options] {
      DiskScan scan(rig.access, port, rig.flags, rig.events);
      result = scan.Run(volume, options);
    });
  }
  ScanRig rig;
  std::vector<uint32_t> a;
  uint32_t b1 = 0;
  HandoffPrompt port;
  ScanResult result;
  std::thread worker;
};

TEST(ScanWorker, QuestionsAnsweredFromTheDialogThread) {
  WorkerRig w;
  w.Start();
  EXPECT_EQ(w.port.NextQuestion(w.rig.flags), kCross);
  w.port.Answer(true);
  EXPECT_EQ(w.port.NextQuestion(w.rig.flags), kSaveOne);
  w.port.Answer(false);
  EXPECT_EQ(w.port.NextQuestion(w.rig.flags), kAltered);
  w.port.Answer(true);
  w.worker.join();
  EXPECT_FALSE(w.rig.flags.running);
  EXPECT_EQ(w.port.Said(), (Texts{kCross, kSaveOne, "1 Lost Clusters found!!", kAltered}));
  EXPECT_TRUE(w.result.fatWritten);
  EXPECT_NE(w.rig.Chain(w.b1)[1], w.a[1]);
}

// Stop pressed while a question waits: the scan ends at its next check
// point, writes no FAT, and clears the running flag last of all.
TEST(ScanWorker, StopEndsTheScanWithNothingWritten) {
  WorkerRig w;
  const std::vector<uint8_t> before = w.rig.Bytes();
  w.Start();
  EXPECT_EQ(w.port.NextQuestion(w.rig.flags), kCross);
  w.rig.flags.stop = true;
  w.port.Answer(true);
  EXPECT_EQ(w.port.NextQuestion(w.rig.flags), "");  // no other question comes
  w.worker.join();
  EXPECT_EQ(w.port.Said(), (Texts{kCross}));
  EXPECT_TRUE(w.result.stopped);
  EXPECT_EQ(w.result.ExitCode(), 4);
  // The copy went to free clusters, but no FAT or entry changed.
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + w.rig.ClusterByte(2),
                         w.rig.Bytes().begin()));
}

// A stop before the scan starts ends it after the FAT comparison.
TEST(ScanWorker, StopFlagFromAnotherThread) {
  ScanRig rig(16, 20480, "-s 1");
  rig.Bind();
  const auto volumes = rig.Volumes();
  rig.flags.running = true;
  rig.flags.stop = true;
  ScanResult result;
  std::thread worker([&] {
    DiskScan scan(rig.access, rig.prompt, rig.flags, rig.events);
    result = scan.Run(volumes[0], {});
  });
  while (rig.flags.running) std::this_thread::yield();
  worker.join();
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(rig.Said(), Texts{});
}

// Stop ends the scan in every phase, the thorough tests included, at the
// next cluster or sector: nothing further is tested, the lost-cluster count
// is not said, and the summary says the scan stopped.
struct StopCase {
  const char* name;
  ScanPhase::Kind at;  // the phase whose first report presses Stop
};

class ScanStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(ScanStop, EndsAtTheNextCheckInEveryPhase) {
  ScanRig rig(16, 20480, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  rig.Bind();
  const std::vector<uint8_t> before = rig.Bytes();
  struct Stopper final : ScanEvents {
    ScanFlags* flags = nullptr;
    ScanPhase::Kind at{};
    std::vector<ScanPhase> after;
    void Phase(const ScanPhase& p) override {
      if (flags->stop) after.push_back(p);
      if (p.kind == at) flags->stop = true;
    }
  } stopper;
  stopper.flags = &rig.flags;
  stopper.at = GetParam().at;
  const auto volumes = rig.Volumes();
  ASSERT_FALSE(volumes.empty());
  rig.flags.running = true;
  DiskScan scan(rig.access, rig.prompt, rig.flags, stopper);
  const ScanResult r = scan.Run(volumes[0], Options(true));
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(rig.flags.running);
  // Nothing more is tested once Stop is pressed (a last "nothing" may end a phase).
  for (const ScanPhase& p : stopper.after) EXPECT_EQ(p.kind, ScanPhase::Kind::None);
  EXPECT_EQ(rig.Said(), Texts{});
  EXPECT_TRUE(rig.Bytes() == before);
  EXPECT_EQ(ScanSummary(r),
            "Scan stopped before its end: 0 problems found so far, 0 repaired, 0 left.\n"
            "Lost clusters: 0 (left allocated).  Cross-linked files: 0.  Bad clusters: 0.");
}

INSTANTIATE_TEST_SUITE_P(Phases, ScanStop,
                         ::testing::Values(StopCase{"fat_comparison", ScanPhase::Kind::FatSector},
                                           StopCase{"lost_cluster_count", ScanPhase::Kind::LostClusters},
                                           StopCase{"file_surface_test", ScanPhase::Kind::FileCluster},
                                           StopCase{"free_cluster_test", ScanPhase::Kind::FreeCluster}),
                         [](const auto& info) { return std::string(info.param.name); });

// The summary a whole scan ends with: found, repaired and left, and what
// became of the lost clusters.
struct SummaryCase {
  const char* name;
  uint32_t lost, saved, freed;
  const char* fate;
};

const SummaryCase kSummaryCases[] = {
    {"LeftAllocated", 2, 0, 0, "left allocated"},
    {"None", 0, 0, 0, "left allocated"},
    {"Saved", 2, 2, 0, "saved as .CHK files"},
    {"Freed", 2, 0, 2, "freed"},
    {"SavedAndLeft", 3, 1, 0, "1 saved as .CHK files, 2 left allocated"},
    {"AllThreeWays", 6, 3, 2, "3 saved as .CHK files, 2 freed, 1 left allocated"},
    {"CountsPastTheLost", 2, 2, 5, "saved as .CHK files"},  // never more than were lost
};

class ScanSummaryText : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(ScanSummaryText, SaysWhatWasFoundRepairedAndLeft) {
  const SummaryCase& c = GetParam();
  ScanResult r;
  r.scanned = true;
  r.problemsFound = 3;
  r.problemsLeft = 1;
  r.lostClusters = c.lost;
  r.lostClustersSaved = c.saved;
  r.lostClustersFreed = c.freed;
  r.crossLinks = 1;
  r.badClusters = 1;
  EXPECT_EQ(ScanSummary(r), "Scan complete: 3 problems found, 2 repaired, 1 left.\n"
                            "Lost clusters: " + std::to_string(c.lost) + " (" + c.fate +
                                ").  Cross-linked files: 1.  Bad clusters: 1.");
}

INSTANTIATE_TEST_SUITE_P(Fates, ScanSummaryText, ::testing::ValuesIn(kSummaryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

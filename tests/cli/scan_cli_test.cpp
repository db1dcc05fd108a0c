// gleaner-cli scan over image files made by mkfs.fat, sfdisk and mtools and
// damaged through the codec: the list, the questions with the answers taken,
// fsck's exit codes, nothing written unless asked, and bad clusters from a
// ddrescue mapfile.
#include <gtest/gtest.h>

#include <sstream>

#include "fixtures/cli_run.h"
#include "disk/disk_access.h"
#include "fixtures/rescue_mapfile.h"
#include "tests/scan/scan_rig.h"

namespace {

const std::string kCrossYes = "Cross Linked file detected.  Fix it? Yes\n";
const std::string kCrossNo = "Cross Linked file detected.  Fix it? No\n";
const std::string kAlteredYes = "FAT had been altered!  Write changes to FATs? Yes\n";
const std::string kSave = "1 lost chains found.  Save them as files in FOUND.000?";
std::string LostLine(unsigned saved) {
  return "Lost chains: 1.  Saved as .CHK files: " + std::to_string(saved) + ".  Freed: 0.\n";
}

// The summary every scan that read its volume ends with.
std::string Summary(unsigned found, unsigned repaired, unsigned left, unsigned lost, unsigned cross, unsigned bad,
                    const std::string& fate = "left allocated") {
  return "Scan complete: " + std::to_string(found) + " problems found, " + std::to_string(repaired) + " repaired, " +
         std::to_string(left) + " left.\nLost clusters: " + std::to_string(lost) +
         " (" + fate + ").  Cross-linked files: " + std::to_string(cross) +
         ".  Bad clusters: " + std::to_string(bad) + ".\n";
}
const std::string kClean = "0 Lost Clusters found!!\n" + Summary(0, 0, 0, 0, 0, 0);

// The rig's image as the tools left it, damaged in memory, written to its
// file for the CLI; Reload() reads the file back into the rig.
struct FileVolume : ScanRig {
  using ScanRig::ScanRig;
  void Save() { ASSERT_TRUE(WriteFileBytes(volume.image, Bytes())); }
  void Reload() { Bytes() = ReadFileBytes(volume.image); }
  std::vector<std::string> Drive() const {
    return {floppy ? "--floppy" : "--disk", volume.image};
  }
  CliRun Run(std::vector<std::string> args, std::vector<std::string> before = {}) {
    std::vector<std::string> all = Drive();
    all.insert(all.end(), before.begin(), before.end());
    all.insert(all.end(), args.begin(), args.end());
    CliRun r = Cli(all);
    Reload();
    return r;
  }
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

class ScanCliCrossLink : public ::testing::TestWithParam<int> {};

TEST_P(ScanCliCrossLink, RepairedOnlyWhenAnsweredYes) {
  const int bits = GetParam();
  FileVolume v(bits, bits == 32 ? 70000 : 20480, "-s 1");
  ASSERT_TRUE(v.volume.PutFile("::/A.TXT", Repeat('a', 3 * 512)));
  ASSERT_TRUE(v.volume.PutFile("::/B.TXT", Repeat('b', 3 * 512)));
  v.Bind();
  const uint32_t a1 = v.FirstCluster(v.RootEntry("A       TXT"));
  const uint32_t b1 = v.FirstCluster(v.RootEntry("B       TXT"));
  const auto a = v.Chain(a1);
  v.SetFat(b1, a[1]);
  v.Save();
  const std::vector<uint8_t> damaged = v.Bytes();

  CliRun r = v.Run({"scan"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1\tHard Disk 1 - " + std::string(bits == 32 ? "32" : bits == 16 ? "16" : "12") +
                       "-Bit FAT Disk - Primary Partition\n");

  // The default and --no answer No and write nothing; so does --read-only.
  for (const auto& args : {std::vector<std::string>{"scan", "1"},
                           std::vector<std::string>{"scan", "1", "--no"}}) {
    r = v.Run(args);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, kCrossNo + kSave + " No\n2 Lost Clusters found!!\n" + Summary(2, 0, 2, 2, 1, 0) + LostLine(0));
    EXPECT_EQ(v.Bytes(), damaged);
  }
  r = v.Run({"scan", "1", "--yes"}, {"--read-only"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, std::string(kDrivesReadOnly) + "\n" + kCrossNo + kSave + " No\n2 Lost Clusters found!!\n" +
                       Summary(2, 0, 2, 2, 1, 0) + LostLine(0));
  EXPECT_EQ(v.Bytes(), damaged);

  // --yes: B gets its own copy of A's tail, the FAT goes to every copy, and
  // B's old tail is kept in FOUND.000.
  const std::string oldTail = Repeat('b', 2 * 512);
  r = v.Run({"scan", "1", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kCrossYes + kSave + " Yes\n2 Lost Clusters found!!\n" + kAlteredYes + Summary(2, 2, 0, 2, 1, 0, "saved as .CHK files") +
                       LostLine(1));
  EXPECT_EQ(v.volume.ReadFile("::/FOUND.000/FILE0000.CHK"), std::vector<uint8_t>(oldTail.begin(), oldTail.end()));
  EXPECT_EQ(v.Chain(a1), a);
  const auto b = v.Chain(b1);
  ASSERT_EQ(b.size(), 3u);
  EXPECT_NE(b[1], a[1]);
  EXPECT_EQ(v.ClusterBytes(b[1]), v.ClusterBytes(a[1]));
  EXPECT_EQ(v.ClusterBytes(b[2]), v.ClusterBytes(a[2]));
  EXPECT_TRUE(std::equal(v.Fat(0).begin(), v.Fat(0).end(), v.Fat(1).begin()));
  std::string report;
  v.volume.Check(&report);
  EXPECT_EQ(report.find("share clusters"), std::string::npos) << report;
  EXPECT_EQ(report.find("FATs differ"), std::string::npos) << report;

  const std::vector<uint8_t> repaired = v.Bytes();
  r = v.Run({"scan", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kClean);
  EXPECT_EQ(v.Bytes(), repaired);
}

INSTANTIATE_TEST_SUITE_P(Widths, ScanCliCrossLink, ::testing::Values(16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

TEST(ScanCli, CleanVolumeAndFatCopies) {
  FileVolume v(16, 20480, "-s 2");
  ASSERT_TRUE(v.volume.MakeDir("::/DOCS"));
  ASSERT_TRUE(v.volume.PutFile("::/DOCS/NOTE.TXT", Repeat('n', 5000)));
  v.Bind();
  const std::vector<uint8_t> clean = v.Bytes();
  for (const auto& extra : {std::vector<std::string>{}, std::vector<std::string>{"--thorough"},
                            std::vector<std::string>{"--yes", "--thorough"}}) {
    std::vector<std::string> args = {"scan", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliRun r = v.Run(args, {"--direct"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, kClean);
    EXPECT_EQ(v.Bytes(), clean);
  }

  // FAT 2 differs in one sector: one question naming both; FAT 1 wins.
  v.Fat(1)[3 * 512 + 1] ^= 0x11;
  v.Save();
  const uint32_t s1 = v.layout.reservedSectors + 3, s2 = s1 + v.layout.sectorsPerFat;
  CliRun r = v.Run({"scan", "1", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "FATs do not compare equal at Sector " + std::to_string(s1) + " and Sector " +
                       std::to_string(s2) + ", continue with FAT? Yes\n0 Lost Clusters found!!\n" +
                       kAlteredYes + Summary(1, 1, 0, 0, 0, 0));
  EXPECT_EQ(v.Bytes(), clean);
  EXPECT_TRUE(v.volume.Check());
}

// A three-cluster file whose middle cluster is unreadable by the mapfile:
// the thorough test gives first -> replacement -> third, marks the middle bad,
// and the replacement holds what could be read. The same for the second
// cluster of a 32-bit root directory.
TEST(ScanCli, BadClustersFromAMapfile) {
  FileVolume v(16, 20480, "-s 2");
  ASSERT_TRUE(v.volume.PutFile("::/A.TXT", Repeat('a', 3 * 1024)));
  v.Bind();
  const uint32_t a1 = v.FirstCluster(v.RootEntry("A       TXT"));
  const auto a = v.Chain(a1);
  ASSERT_EQ(a.size(), 3u);
  // The middle cluster's second sector was not rescued.
  const std::string map = v.dir.File("a.map");
  ASSERT_TRUE(WriteRescueMapfile(map, v.Bytes().size(), {{v.ClusterByte(a[1]) / 512 + 1, 1}}));
  const std::vector<uint8_t> before = v.Bytes();

  CliRun r = v.Run({"scan", "1", "--thorough"}, {"--mapfile", map});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Bad cluster detected!!\n0 Lost Clusters found!!\n" + Summary(1, 0, 1, 0, 0, 1));
  EXPECT_EQ(v.Bytes(), before);

  r = v.Run({"scan", "1", "--thorough", "--yes"}, {"--mapfile", map});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad cluster detected!!\n0 Lost Clusters found!!\n" + kAlteredYes + Summary(1, 1, 0, 0, 0, 1));
  const auto moved = v.Chain(a1);
  ASSERT_EQ(moved.size(), 3u);
  EXPECT_EQ(moved[0], a[0]);
  EXPECT_NE(moved[1], a[1]);
  EXPECT_EQ(moved[2], a[2]);
  EXPECT_EQ(v.Entry(a[1]).kind, FatEntryKind::Bad);
  std::vector<uint8_t> expected(1024, 'a');
  std::fill(expected.begin() + 512, expected.end(), 0xE5);
  EXPECT_EQ(v.ClusterBytes(moved[1]), expected);
  r = v.Run({"scan", "1"}, {"--mapfile", map});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kClean);
  std::string report;
  v.volume.Check(&report);
  EXPECT_EQ(report.find("differ"), std::string::npos) << report;

  FileVolume w(32, 70000, "-s 1");
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(w.volume.PutFile("::/F" + std::to_string(i) + ".TXT", "x"));
  for (int i = 16; i < 32; ++i) ASSERT_TRUE(w.volume.Delete("::/F" + std::to_string(i) + ".TXT"));
  w.Bind();
  const auto root = w.Chain(w.layout.rootCluster);
  ASSERT_GE(root.size(), 3u);
  const std::string rootMap = w.dir.File("root.map");
  ASSERT_TRUE(WriteRescueMapfile(rootMap, w.Bytes().size(), {{w.ClusterByte(root[1]) / 512, 1}}));
  r = w.Run({"scan", "1", "--thorough", "--yes"}, {"--mapfile", rootMap});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad cluster detected!!\n0 Lost Clusters found!!\n" + kAlteredYes + Summary(1, 1, 0, 0, 0, 1));
  const auto newRoot = w.Chain(w.layout.rootCluster);
  ASSERT_EQ(newRoot.size(), root.size());
  EXPECT_NE(newRoot[1], root[1]);
  EXPECT_EQ(w.Entry(root[1]).kind, FatEntryKind::Bad);
  r = w.Run({"scan", "1"}, {"--mapfile", rootMap});
  EXPECT_EQ(r.err, kClean);
  EXPECT_EQ(r.status, 0);
}

TEST(ScanCli, UsageAndVolumesThatCannotBeScanned) {
  FileVolume v(12, 4140, "-s 1", true);  // a 2070 KiB floppy of 4071 clusters
  v.Bind();
  EXPECT_EQ(v.Run({"scan"}).out, "1\tFloppy Disk 1\n");
  CliRun r = v.Run({"scan", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kClean);
  EXPECT_EQ(v.Run({"scan", "x"}).status, 2);
  EXPECT_EQ(v.Run({"scan", "1", "--yes", "--no"}).status, 2);
  EXPECT_EQ(v.Run({"scan", "--thorough"}).status, 2);
  r = v.Run({"scan", "2"});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.err, "gleaner-cli: no volume 2\n");
  // A boot record that describes no volume.
  std::fill(v.Bytes().begin() + 11, v.Bytes().begin() + 13, 0);
  v.Save();
  r = v.Run({"scan", "1"});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.err, "Boot Record inaccessible!\n");
}

}  // namespace

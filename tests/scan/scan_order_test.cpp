// A repair is written whole or not at all: a scan whose writes stop after
// the k-th (the power going, the disk leaving) leaves nothing fsck.fat did not
// already complain of but lost clusters and FAT copies that differ, no file
// reads other bytes, and the scan's undo file puts every byte back.
#include <gtest/gtest.h>

#include "tests/scan/scan_rig.h"
#include "tools/undo_writes.h"

namespace {

// The full repair of the volume below (the thorough scan, every question
// answered Yes) makes 19 writes, the last two the FAT copies. Rows: a stop
// after each of the first 18, and no stop (-1).
constexpr int kRepairWrites = 19;

class ScanWritesStop : public ::testing::TestWithParam<int> {};

// One FAT16 volume, three repairs of the three kinds: B's entry in the fixed
// root leads into A's chain (a copy, then the root's sector), D's chain in SUB
// joins A's (a copy the closing FAT write-back decides), and C's first
// cluster in SUB cannot be read (moved, then SUB's sector). The chains B and D
// leave are saved in FOUND.000: the chains' ends in both FAT copies, the
// folder's cluster, then the root's sector.
TEST_P(ScanWritesStop, LeaveAtMostLostClustersAndUndoWhole) {
  const int k = GetParam();
  ScanRig rig(16, 20480, "-s 1", false, TestDrives::Direct);
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(3 * 512, 2)));
  ASSERT_TRUE(rig.volume.MakeDir("::/SUB"));
  ASSERT_TRUE(rig.volume.PutFile("::/SUB/C.TXT", Pattern(1024, 3)));
  ASSERT_TRUE(rig.volume.PutFile("::/SUB/D.TXT", Pattern(1024, 4)));
  rig.BindJournalled(rig.dir.File("undo"));
  const uint32_t a1 = rig.FirstCluster(rig.RootEntry("A       TXT"));
  const std::vector<uint32_t> a = rig.Chain(a1);
  const uint32_t sub = rig.FirstCluster(rig.RootEntry("SUB        "));
  putLe16(rig.Bytes(), rig.RootEntry("B       TXT") + 26, static_cast<uint16_t>(a1));
  rig.SetFat(rig.FirstCluster(rig.EntryIn(sub, "D       TXT")), a[2]);
  rig.BadCluster(rig.FirstCluster(rig.EntryIn(sub, "C       TXT")));

  const std::vector<std::string> before = FsckComplaints(rig.FsckReport());
  ASSERT_FALSE(before.empty());
  const std::vector<uint8_t> damaged = rig.Bytes();
  std::vector<std::vector<uint8_t>> files;
  for (const char* path : {"::/A.TXT", "::/B.TXT", "::/SUB/D.TXT"}) files.push_back(rig.volume.ReadFile(path));

  rig.dev->writesAllowed = k;
  const ScanResult result = rig.Scan([] {
    ScanOptions o;
    o.thorough = true;
    o.autoFix = true;
    return o;
  }());
  ASSERT_TRUE(result.scanned);

  const std::string report = rig.FsckReport();
  for (const std::string& line : FsckComplaints(report))
    EXPECT_NE(std::find(before.begin(), before.end(), line), before.end()) << line << "\n" << report;
  size_t i = 0;
  for (const char* path : {"::/A.TXT", "::/B.TXT", "::/SUB/D.TXT"})
    EXPECT_EQ(rig.volume.ReadFile(path), files[i++]) << path;
  if (k < 0) {
    EXPECT_EQ(rig.dev->writes, kRepairWrites);
    EXPECT_TRUE(result.fatWritten);
    EXPECT_TRUE(FsckComplaints(report).empty()) << report;
    EXPECT_EQ(report.find("Reclaimed"), std::string::npos) << report;
  }

  // The undo file takes the whole scan back, whatever reached the disk.
  if (rig.dev->writes == 0) {
    EXPECT_EQ(rig.Bytes(), damaged);
    return;
  }
  const UndoWritesResult undone = UndoWrites({.journal = rig.Journal()}, rig.prompt);
  EXPECT_TRUE(undone.complete);
  EXPECT_EQ(ReadFileBytes(rig.volume.image), damaged);
}

INSTANTIATE_TEST_SUITE_P(AfterKWrites, ScanWritesStop,
                         ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, -1),
                         [](const auto& info) {
                           return info.param < 0 ? std::string("All") : std::to_string(info.param);
                         });

}  // namespace

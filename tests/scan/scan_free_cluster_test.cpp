// Where a repair takes its free clusters: first those no deleted file still
// holds, so that a cross-link's copied tail leaves the deleted files that
// follow the live ones intact; only when nothing else is free does it take a
// deleted file's, and says which.
#include <gtest/gtest.h>

#include "scan/scan_texts.h"
#include "tests/scan/scan_rig.h"
#include "views/format_cell.h"

namespace {

struct FreeCase {
  const char* name;
  int bits;
  uint32_t sectors;
  bool onlyDeletedFree;  // every free cluster but the deleted files' is marked bad
};

const FreeCase kCases[] = {
    {"OtherSpaceFat12", 12, 2880, false},
    {"OtherSpaceFat16", 16, 20480, false},
    {"OtherSpaceFat32", 32, 70000, false},
    {"OnlyDeletedFilesSpaceFat16", 16, 20480, true},
};

class ScanFreeClusters : public ::testing::TestWithParam<FreeCase> {};

TEST_P(ScanFreeClusters, CrossLinkCopyKeepsDeletedFiles) {
  const FreeCase& c = GetParam();
  ScanRig rig(c.bits, c.sectors, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(3 * 512, 2)));
  // Three deleted files in the clusters that follow B's, the first a free
  // cluster search meets.
  for (const char* name : {"::/D1.TXT", "::/D2.TXT", "::/D3.TXT"})
    ASSERT_TRUE(rig.volume.PutFile(name, Pattern(2 * 512, 3)));
  const std::vector<uint32_t> d1 = rig.volume.Clusters("::/D1.TXT");
  for (const char* name : {"::/D1.TXT", "::/D2.TXT", "::/D3.TXT"}) ASSERT_TRUE(rig.volume.Delete(name));
  rig.Bind();
  const std::vector<uint32_t> a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
  const std::vector<uint32_t> b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
  ASSERT_EQ(d1.front(), b.back() + 1);
  const uint32_t deletedEnd = d1.front() + 6;  // past D3
  if (c.onlyDeletedFree)
    for (uint32_t k = deletedEnd; k <= rig.layout.lastCluster; ++k)
      if (rig.Entry(k).IsFree()) rig.SetFat(k, 0xFFF7);
  rig.SetFat(b[0], a[1]);  // B runs into A's tail: its copy needs two clusters
  std::vector<std::vector<uint8_t>> deleted;
  for (uint32_t k = d1.front(); k < deletedEnd; ++k) deleted.push_back(rig.ClusterBytes(k));
  const std::vector<uint8_t> aBytes = rig.ChainBytes(a[0]);

  ScanOptions yes;
  yes.autoFix = true;
  const ScanResult r = rig.Scan(yes);
  const std::vector<std::string> said = rig.Said();
  EXPECT_EQ(r.crossLinks, 1u);
  EXPECT_EQ(rig.ChainBytes(a[0]), aBytes);
  const std::vector<uint32_t> nb = rig.Chain(b[0]);
  ASSERT_EQ(nb.size(), 3u);
  EXPECT_EQ(rig.ClusterBytes(nb[1]), rig.ClusterBytes(a[1]));
  // D1 as Find Deleted Files names it, its first letter gone with the delete.
  const std::string overwrites = FormatText(kScanOverwritesDeleted, "/_1.TXT");
  if (!c.onlyDeletedFree) {
    // The deleted files' clusters are free and hold what they held.
    for (uint32_t k = d1.front(); k < deletedEnd; ++k) {
      EXPECT_TRUE(rig.Entry(k).IsFree()) << k;
      EXPECT_EQ(rig.ClusterBytes(k), deleted[k - d1.front()]) << k;
    }
    EXPECT_EQ(std::count(said.begin(), said.end(), overwrites), 0);
  } else {
    // D1's two clusters take the copy, and the person is told so once.
    EXPECT_EQ(std::vector<uint32_t>(nb.begin() + 1, nb.end()), (std::vector<uint32_t>{d1[0], d1[1]}));
    EXPECT_EQ(std::count(said.begin(), said.end(), overwrites), 1);
  }
  EXPECT_TRUE(FsckComplaints(rig.FsckReport()).empty());
}

INSTANTIATE_TEST_SUITE_P(Volumes, ScanFreeClusters, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The thorough test reads free space and files in runs: each unreadable
// sector marks its own cluster bad, once, wherever it lies in a run; a file's
// bad cluster is moved with what could be read of it.
struct FreeSurfaceCase {
  const char* name;
  const char* mkfs;
  std::vector<uint32_t> badSectors;  // counted from the data area's first cluster
  std::vector<uint32_t> badClusters;  // the same place, counted the same way
  uint32_t fileClusters = 0;          // a file from the first cluster; 0: every cluster free
};

const FreeSurfaceCase kSurfaceCases[] = {
    {"OneClusterInARun", "-s 1", {10}, {10}},
    {"TwoSectorsOfOneCluster", "-s 4", {41, 43}, {10}},
    {"AcrossARunsEnd", "-s 1", {2047, 2048}, {2047, 2048}},
    {"FileOneClusterInARun", "-s 1", {10}, {10}, 40},
    {"FileTwoSectorsOfOneCluster", "-s 4", {41, 43}, {10}, 16},
    {"FileAcrossARunsEnd", "-s 1", {2047, 2048}, {2047, 2048}, 2100},
    {"FileFirstCluster", "-s 1", {0}, {0}, 3},
};

class ScanFreeSurface : public ::testing::TestWithParam<FreeSurfaceCase> {};

TEST_P(ScanFreeSurface, EachUnreadableClusterIsMarkedBadOnce) {
  const FreeSurfaceCase& c = GetParam();
  ScanRig rig(16, 20480, c.mkfs);
  if (c.fileClusters != 0) {
    const uint32_t clusterBytes = 512 * static_cast<uint32_t>(c.mkfs[3] - '0');
    ASSERT_TRUE(rig.volume.PutFile("::/F.BIN", Pattern(c.fileClusters * clusterBytes, 5)));
  }
  rig.Bind();
  const uint32_t first = 2;  // the file's first cluster, or every cluster free
  const std::vector<uint8_t> before = c.fileClusters != 0 ? rig.ChainBytes(first) : std::vector<uint8_t>{};
  if (c.fileClusters != 0) ASSERT_EQ(rig.Chain(first).size(), c.fileClusters);
  for (const uint32_t s : c.badSectors)
    rig.dev->badReadSectors.insert(rig.ClusterByte(first) / 512 + s);
  rig.prompt.AnswerYes();  // write the FATs
  ScanOptions thorough;
  thorough.thorough = true;
  const ScanResult r = rig.Scan(thorough);
  std::vector<std::string> expected;
  for (const uint32_t k : c.badClusters)
    expected.push_back(c.fileClusters != 0 ? kScanBadCluster
                                           : FormatText(kScanBadFreeCluster, static_cast<unsigned long>(first + k)));
  expected.insert(expected.end(), {"0 Lost Clusters found!!", kScanFatAltered});
  EXPECT_EQ(rig.Said(), expected);
  EXPECT_EQ(r.badClusters, c.badClusters.size());
  for (const uint32_t k : c.badClusters) EXPECT_EQ(rig.Entry(first + k).kind, FatEntryKind::Bad) << k;
  if (c.fileClusters == 0) {
    EXPECT_TRUE(rig.Entry(first + c.badClusters.back() + 1).IsFree());
    return;
  }
  // The file keeps every byte that could be read; its unreadable sectors
  // hold the filler in the clusters that took their place.
  std::vector<uint8_t> expectedBytes = before;
  for (const uint32_t s : c.badSectors)
    std::fill_n(expectedBytes.begin() + static_cast<std::ptrdiff_t>(s) * 512, 512, uint8_t{0xE5});
  EXPECT_EQ(rig.ChainBytes(rig.FirstCluster(rig.RootEntry("F       BIN"))), expectedBytes);
  EXPECT_TRUE(FsckComplaints(rig.FsckReport()).empty());
}

INSTANTIATE_TEST_SUITE_P(Runs, ScanFreeSurface, ::testing::ValuesIn(kSurfaceCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// The checks of a file's chain against the FAT and its size, one damage a row
// on every FAT width: a check answered No reports and writes nothing; answered
// Yes, a repairable damage leaves fsck.fat with nothing to say.
#include <gtest/gtest.h>

#include "scan/scan_texts.h"
#include "tests/scan/scan_rig.h"

namespace {

struct ChainDamage {
  const char* name;
  // Damages file A (three clusters, 1536 bytes, whose entry is at entryAt).
  void (*damage)(ScanRig& rig, uint64_t entryAt, const std::vector<uint32_t>& a);
  const char* said;
  uint32_t ScanResult::*count;
  bool repaired;       // a Yes mends it
  uint32_t sizeAfter;  // A's size after the repair
};

struct ChainCase {
  ChainDamage damage;
  int bits;
  uint32_t sectors;
};

// A free cluster of a volume the rig's files fill from its start.
uint32_t AFreeCluster(ScanRig& rig) { return rig.layout.lastCluster - 3; }

const ChainDamage kDamages[] = {
    {"IntoAFreeCluster", [](ScanRig& rig, uint64_t, const std::vector<uint32_t>& a) { rig.SetFat(a[2], 0); },
     kScanChainFree, &ScanResult::brokenChains, true, 1024},
    {"OutsideTheVolume",
     [](ScanRig& rig, uint64_t, const std::vector<uint32_t>& a) { rig.SetFat(a[1], rig.layout.lastCluster + 1); },
     kScanChainOutside, &ScanResult::brokenChains, true, 1024},
    {"ToTheValueOne", [](ScanRig& rig, uint64_t, const std::vector<uint32_t>& a) { rig.SetFat(a[0], 1); },
     kScanChainOutside, &ScanResult::brokenChains, true, 512},
    {"Circular", [](ScanRig& rig, uint64_t, const std::vector<uint32_t>& a) { rig.SetFat(a[2], a[0]); },
     kScanCircular, &ScanResult::circularChains, true, 1536},
    {"FirstClusterFree",
     [](ScanRig& rig, uint64_t at, const std::vector<uint32_t>&) {
       putLe16(rig.Bytes(), at + 26, static_cast<uint16_t>(AFreeCluster(rig)));
     },
     kScanBadFirstCluster, &ScanResult::badFirstClusters, false, 1536},
    {"FirstClusterOutside",
     [](ScanRig& rig, uint64_t at, const std::vector<uint32_t>&) {
       putLe16(rig.Bytes(), at + 26, static_cast<uint16_t>(rig.layout.lastCluster + 1));
     },
     kScanBadFirstCluster, &ScanResult::badFirstClusters, false, 1536},
    {"ChainLongerThanSize", [](ScanRig& rig, uint64_t at, const std::vector<uint32_t>&) { putLe32(rig.Bytes(), at + 28, 512); },
     kScanSurplusTail, &ScanResult::sizeMismatches, true, 512},
    {"ChainShorterThanSize", [](ScanRig& rig, uint64_t at, const std::vector<uint32_t>&) { putLe32(rig.Bytes(), at + 28, 4000); },
     kScanSizeMismatch, &ScanResult::sizeMismatches, false, 4000},
};


class ScanChainChecks : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ScanChainChecks, NoReportsYesMends) {
  const ChainCase& c = GetParam();
  ScanRig rig(c.bits, c.sectors, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(2 * 512, 2)));
  rig.Bind();
  const uint64_t at = rig.RootEntry("A       TXT");
  const std::vector<uint32_t> a = rig.Chain(rig.FirstCluster(at));
  ASSERT_EQ(a.size(), 3u);
  c.damage.damage(rig, at, a);
  const std::string before = rig.FsckReport();
  EXPECT_NE(before.find("A.TXT"), std::string::npos) << "fsck.fat sees no damage:\n" << before;
  const std::vector<uint8_t> damaged = rig.Bytes();
  const std::vector<uint8_t> b = rig.volume.ReadFile("::/B.TXT");

  // No to every question: reported, counted, nothing written.
  ScanResult r = rig.Scan();
  const std::vector<std::string> said = rig.Said();
  EXPECT_NE(std::find(said.begin(), said.end(), c.damage.said), said.end());
  EXPECT_EQ(r.*c.damage.count, 1u);
  EXPECT_EQ(r.ExitCode(), 4);
  EXPECT_EQ(rig.Bytes(), damaged);

  // Read-only, even Yes to all asks nothing and writes nothing: each
  // question is told answered No, after the one word on read-only drives.
  ScanOptions yes;
  yes.autoFix = true;
  DriveMapConfig drives = rig.access.Drives();
  drives.readOnly = true;
  rig.access.SetDrives(drives);
  r = rig.Scan(yes);
  const std::vector<std::string> readOnly = rig.Said();
  ASSERT_FALSE(readOnly.empty());
  EXPECT_EQ(readOnly[0], kDrivesReadOnly);
  if (std::string(c.damage.said).ends_with("?")) {
    EXPECT_NE(std::find(readOnly.begin(), readOnly.end(), std::string(c.damage.said) + " No"), readOnly.end());
  }
  EXPECT_EQ(r.ExitCode(), 4);
  EXPECT_EQ(rig.Bytes(), damaged);
  drives.readOnly = false;
  rig.access.SetDrives(drives);

  r = rig.Scan(yes);
  rig.Said();
  EXPECT_EQ(le32(rig.Bytes(), at + 28), c.damage.sizeAfter);
  const std::string after = rig.FsckReport();
  // Mended, fsck.fat has nothing to say of A (the clusters cut off are lost
  // clusters); left, it still names A.
  EXPECT_EQ(FsckComplaints(after).empty(), c.damage.repaired) << after;
  EXPECT_EQ(after.find("A.TXT") == std::string::npos, c.damage.repaired) << after;
  EXPECT_EQ(rig.volume.ReadFile("::/B.TXT"), b);
}

INSTANTIATE_TEST_SUITE_P(Damages, ScanChainChecks, ::testing::ValuesIn(AcrossWidths<ChainCase>(kDamages)), [](const auto& info) {
  return std::string(info.param.damage.name) + "Fat" + std::to_string(info.param.bits);
});

}  // namespace

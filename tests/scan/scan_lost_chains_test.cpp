// Lost chains and the clusters past a file's size, one damage a row on every
// FAT width: answered No, the scan asks and writes nothing; answered Yes,
// every such cluster is in a FOUND.nnn\FILEnnnn.CHK file byte for byte (or
// freed, when asked to) and fsck.fat has nothing at all to say.
#include <gtest/gtest.h>

#include "scan/scan_texts.h"
#include "tests/scan/scan_rig.h"
#include "views/format_cell.h"

namespace {

// Clusters lost chains are made of: free ones near the volume's end.
uint32_t Free(ScanRig& rig, uint32_t k) { return rig.layout.lastCluster - 8 + k; }

// Makes a chain of the free clusters given, each with its own bytes.
void LoseChain(ScanRig& rig, const std::vector<uint32_t>& chain, uint32_t end) {
  for (size_t i = 0; i < chain.size(); ++i) {
    rig.SetFat(chain[i], i + 1 < chain.size() ? chain[i + 1] : end);
    const std::vector<uint8_t> bytes = Pattern(rig.layout.sectorsPerCluster * 512u, static_cast<uint8_t>(chain[i]));
    std::copy(bytes.begin(), bytes.end(), rig.Bytes().begin() + static_cast<ptrdiff_t>(rig.ClusterByte(chain[i])));
  }
}

struct LostDamage {
  const char* name;
  // Damages the volume (file A's three clusters are a) and gives the
  // clusters each FILEnnnn.CHK is to hold, in order.
  std::vector<std::vector<uint32_t>> (*damage)(ScanRig& rig, uint64_t aEntry, const std::vector<uint32_t>& a);
  const char* folder;  // where the files go
  bool freeLost;
  uint32_t chains;  // lost chains counted
};

const LostDamage kDamages[] = {
    {"OneChain",
     [](ScanRig& rig, uint64_t, const std::vector<uint32_t>&) {
       LoseChain(rig, {Free(rig, 0), Free(rig, 1)}, kFatEndMark);
       return std::vector<std::vector<uint32_t>>{{Free(rig, 0), Free(rig, 1)}};
     },
     "FOUND.000", false, 1},
    {"Circle",
     [](ScanRig& rig, uint64_t, const std::vector<uint32_t>&) {
       LoseChain(rig, {Free(rig, 0), Free(rig, 1), Free(rig, 2)}, Free(rig, 0));
       return std::vector<std::vector<uint32_t>>{{Free(rig, 0), Free(rig, 1), Free(rig, 2)}};
     },
     "FOUND.000", false, 1},
    {"TwoJoined",  // the second chain runs into the first one's end
     [](ScanRig& rig, uint64_t, const std::vector<uint32_t>&) {
       LoseChain(rig, {Free(rig, 0), Free(rig, 1)}, kFatEndMark);
       LoseChain(rig, {Free(rig, 2)}, Free(rig, 1));
       return std::vector<std::vector<uint32_t>>{{Free(rig, 0), Free(rig, 1)}, {Free(rig, 2)}};
     },
     "FOUND.000", false, 2},
    {"IntoAFile",
     [](ScanRig& rig, uint64_t, const std::vector<uint32_t>& a) {
       LoseChain(rig, {Free(rig, 0)}, a[1]);
       return std::vector<std::vector<uint32_t>>{{Free(rig, 0)}};
     },
     "FOUND.000", false, 1},
    {"SurplusTail",
     [](ScanRig& rig, uint64_t at, const std::vector<uint32_t>& a) {
       putLe32(rig.Bytes(), at + 28, 700);
       return std::vector<std::vector<uint32_t>>{{a[2]}};
     },
     "FOUND.000", false, 1},
    {"FoundTaken",
     [](ScanRig& rig, uint64_t, const std::vector<uint32_t>&) {
       LoseChain(rig, {Free(rig, 0)}, kFatEndMark);
       return std::vector<std::vector<uint32_t>>{{Free(rig, 0)}};
     },
     "FOUND.001", false, 1},
    {"Freed",
     [](ScanRig& rig, uint64_t, const std::vector<uint32_t>&) {
       LoseChain(rig, {Free(rig, 0), Free(rig, 1)}, kFatEndMark);
       return std::vector<std::vector<uint32_t>>{};
     },
     "", true, 1},
};

struct LostCase {
  LostDamage damage;
  int bits;
  uint32_t sectors;
};


class ScanLostChains : public ::testing::TestWithParam<LostCase> {};

TEST_P(ScanLostChains, SavedByteForByte) {
  const LostCase& c = GetParam();
  ScanRig rig(c.bits, c.sectors, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  if (std::string(c.damage.folder) == "FOUND.001") {
    ASSERT_TRUE(rig.volume.MakeDir("::/FOUND.000"));
  }
  rig.Bind();
  const uint64_t at = rig.RootEntry("A       TXT");
  const std::vector<uint32_t> a = rig.Chain(rig.FirstCluster(at));
  const std::vector<std::vector<uint32_t>> files = c.damage.damage(rig, at, a);
  std::vector<std::vector<uint8_t>> expected;
  for (const auto& chain : files) {
    expected.emplace_back();
    for (const uint32_t k : chain) {
      const auto bytes = rig.ClusterBytes(k);
      expected.back().insert(expected.back().end(), bytes.begin(), bytes.end());
    }
  }
  rig.FsckReport();
  const std::vector<uint8_t> aBefore = rig.volume.ReadFile("::/A.TXT");
  const std::vector<uint8_t> damaged = rig.Bytes();
  ScanOptions options;
  options.freeLost = c.damage.freeLost;
  // A tail is cut off (and so lost) only when its own question is answered Yes.
  const bool tail = std::string(c.damage.name) == "SurplusTail";
  const std::string question =
      tail ? std::string(kScanSurplusTail) : c.damage.freeLost ? FormatText(kScanFreeLost, static_cast<unsigned long>(c.damage.chains))
                        : FormatText(kScanSaveLost, static_cast<unsigned long>(c.damage.chains), c.damage.folder);

  // No: asked, counted, nothing written.
  ScanResult r = rig.Scan(options);
  std::vector<std::string> said = rig.Said();
  EXPECT_NE(std::find(said.begin(), said.end(), question), said.end());
  EXPECT_EQ(r.lostChains, tail ? 0u : c.damage.chains);
  EXPECT_EQ(r.ExitCode(), 4);
  EXPECT_EQ(rig.Bytes(), damaged);
  EXPECT_NE(ScanSummary(r).find(" (left allocated)."), std::string::npos) << ScanSummary(r);

  if (c.damage.freeLost && c.bits == 16) {
    // Freed in the working FAT, then No to writing it: nothing was freed.
    rig.prompt.AnswerYes();
    r = rig.Scan(options);
    said = rig.Said();
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[2], kScanFatAltered);
    EXPECT_EQ(r.chainsFreed, 0u);
    EXPECT_NE(ScanSummary(r).find(" (left allocated)."), std::string::npos) << ScanSummary(r);
    EXPECT_EQ(rig.Bytes(), damaged);
  }

  options.autoFix = true;
  r = rig.Scan(options);
  rig.Said();
  EXPECT_EQ(r.ExitCode(), 1);
  EXPECT_EQ(r.lostChains, c.damage.chains);
  EXPECT_EQ(r.chainsSaved, files.size());
  EXPECT_EQ(r.chainsFreed, c.damage.freeLost ? c.damage.chains : 0u);
  EXPECT_NE(ScanSummary(r).find(c.damage.freeLost ? " (freed)." : " (saved as .CHK files)."), std::string::npos)
      << ScanSummary(r);
  // Nothing left for fsck.fat but the free count of a 32-bit volume, which
  // the damage made wrong.
  const std::string report = rig.FsckReport();
  EXPECT_TRUE(FsckComplaints(report).empty()) << report;
  EXPECT_EQ(report.find("Reclaimed"), std::string::npos) << report;
  EXPECT_EQ(rig.volume.ReadFile("::/A.TXT"), std::vector<uint8_t>(aBefore.begin(), aBefore.begin() + le32(rig.Bytes(), at + 28)));
  for (size_t k = 0; k < expected.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "FILE%04u.CHK", static_cast<unsigned>(k));
    EXPECT_EQ(rig.volume.ReadFile("::/" + std::string(c.damage.folder) + "/" + name), expected[k]) << name;
  }
  if (c.damage.freeLost) {
    for (const uint32_t k : {Free(rig, 0), Free(rig, 1)}) EXPECT_TRUE(rig.Entry(k).IsFree()) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Damages, ScanLostChains, ::testing::ValuesIn(AcrossWidths<LostCase>(kDamages)), [](const auto& info) {
  return std::string(info.param.damage.name) + "Fat" + std::to_string(info.param.bits);
});

}  // namespace

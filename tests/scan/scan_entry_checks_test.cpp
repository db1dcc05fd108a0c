// The checks of directory entries, one damage a row (made through the codec,
// in the root or a nested folder; every FAT width where the width matters):
// answered No, the scan reports it, exits 4 and writes nothing; answered Yes,
// fsck.fat has nothing to say, every file reads as before (by its new name
// where it got one) and a second scan finds nothing.
#include <gtest/gtest.h>

#include <cstring>

#include "disk/dir_entry.h"
#include "disk/long_name.h"
#include "scan/scan_texts.h"
#include "tests/scan/scan_rig.h"
#include "views/format_cell.h"

namespace {

struct FileCase {
  const char* path;
  size_t bytes;
  uint8_t seed;
};
const FileCase kFiles[] = {{"::/ONE.TXT", 700, 1},
                           {"::/Long File Name.txt", 900, 2},
                           {"::/TWO.TXT", 300, 3},
                           {"::/SUB/THREE.TXT", 1000, 4},
                           {"::/SUB/another long name.dat", 600, 5}};

uint32_t Sub(ScanRig& rig) { return rig.FirstCluster(rig.RootEntry("SUB        ")); }
uint32_t Deep(ScanRig& rig) { return rig.FirstCluster(rig.EntryIn(Sub(rig), "DEEP       ")); }
void Name(ScanRig& rig, uint64_t at, const char* bytes) { std::memcpy(rig.Bytes().data() + at, bytes, std::strlen(bytes)); }
void Cluster(ScanRig& rig, uint64_t at, uint32_t c) {
  putLe16(rig.Bytes(), at + kDirClusterLow, static_cast<uint16_t>(c));
  putLe16(rig.Bytes(), at + kDirClusterHigh, static_cast<uint16_t>(c >> 16));
}
// The long-name pieces in front of the entry at at carry its checksum.
void Resum(ScanRig& rig, uint64_t at) {
  const uint8_t sum = ShortNameChecksum(std::span<const uint8_t>(rig.Bytes()).subspan(at, 11));
  for (uint64_t p = at - 32; IsLongNameEntry(rig.Bytes()[p + kDirAttributes]); p -= 32) rig.Bytes()[p + kLfnChecksum] = sum;
}

struct EntryDamage {
  const char* name;
  void (*damage)(ScanRig& rig);
  std::string said;            // empty: nothing is wrong
  uint32_t ScanResult::*count;
  bool allWidths;
  bool fsckSees;               // fsck.fat -n names the damage too
  const char* movedFrom;       // a file read by another name after the repair
  const char* movedTo;         // nullptr: not read by a name
};

const EntryDamage kDamages[] = {
    {"LowerCase", [](ScanRig& rig) { Name(rig, rig.RootEntry("ONE     TXT"), "one"); },
     FormatText(kScanBadShortName, "one.TXT"), &ScanResult::badShortNames, false, false, nullptr, nullptr},
    {"LowerCaseUnderLongName",  // the repair re-sums the long name, which is kept
     [](ScanRig& rig) {
       const uint64_t at = rig.RootEntry("LONGFI~1TXT");
       Name(rig, at, "lo?gfi");
       Resum(rig, at);
     },
     FormatText(kScanBadShortName, "lo?gfi~1.TXT"), &ScanResult::badShortNames, false, true, nullptr, nullptr},
    {"BadCharacterNested", [](ScanRig& rig) { Name(rig, rig.EntryIn(Sub(rig), "THREE   TXT"), "TH*EE"); },
     FormatText(kScanBadShortName, "TH*EE.TXT"), &ScanResult::badShortNames, false, true, "::/SUB/THREE.TXT",
     "::/SUB/TH_EE.TXT"},
    {"LeadingBlank", [](ScanRig& rig) { Name(rig, rig.RootEntry("ONE     TXT"), " NE"); },
     FormatText(kScanBadShortName, " NE.TXT"), &ScanResult::badShortNames, false, true, "::/ONE.TXT", "::/NE.TXT"},
    {"Duplicate", [](ScanRig& rig) { Name(rig, rig.RootEntry("TWO     TXT"), "ONE"); },
     FormatText(kScanDuplicateName, "ONE.TXT"), &ScanResult::duplicateNames, false, true, "::/TWO.TXT",
     "::/ONE~1.TXT"},
    {"NameBeginsWithE5",  // stored as 0x05: a live file, nothing to mend
     [](ScanRig& rig) { rig.Bytes()[rig.RootEntry("ONE     TXT")] = kDirDeletedMarkAlt; }, "", nullptr, false, false,
     "::/ONE.TXT", nullptr},
    {"DotWrong", [](ScanRig& rig) { Cluster(rig, rig.ClusterByte(Sub(rig)), Deep(rig)); },
     FormatText(kScanDotEntry, "."), &ScanResult::dotEntries, true, true, nullptr, nullptr},
    {"DotDeleted", [](ScanRig& rig) { rig.Bytes()[rig.ClusterByte(Sub(rig))] = kDirDeletedMark; },
     FormatText(kScanDotEntry, "."), &ScanResult::dotEntries, false, true, nullptr, nullptr},
    {"DotDotWrongNested", [](ScanRig& rig) { Cluster(rig, rig.ClusterByte(Deep(rig)) + 32, 0); },
     FormatText(kScanDotEntry, ".."), &ScanResult::dotEntries, true, true, nullptr, nullptr},
    {"FolderSize", [](ScanRig& rig) { putLe32(rig.Bytes(), rig.RootEntry("SUB        ") + kDirSize, 1234); },
     FormatText(kScanFolderSize, "SUB"), &ScanResult::folderSizes, false, true, nullptr, nullptr},
    {"FolderLeadsToItself", [](ScanRig& rig) { Cluster(rig, rig.EntryIn(Sub(rig), "LOOP       "), Sub(rig)); },
     FormatText(kScanFolderLoop, "LOOP"), &ScanResult::folderLoops, true, true, nullptr, nullptr},
    {"FolderLeadsToRoot", [](ScanRig& rig) { Cluster(rig, rig.EntryIn(Sub(rig), "LOOP       "), 0); },
     FormatText(kScanFolderLoop, "LOOP"), &ScanResult::folderLoops, true, true, nullptr, nullptr},
    {"LongNameChecksum", [](ScanRig& rig) { rig.Bytes()[rig.RootEntry("LONGFI~1TXT") - 32 + kLfnChecksum] ^= 1; },
     kScanBrokenLongName, &ScanResult::brokenLongNames, true, true, "::/Long File Name.txt", "::/LONGFI~1.TXT"},
    {"LongNameOrder", [](ScanRig& rig) { rig.Bytes()[rig.RootEntry("LONGFI~1TXT") - 32 + kLfnOrdinal] = 3; },
     kScanBrokenLongName, &ScanResult::brokenLongNames, false, true, "::/Long File Name.txt", "::/LONGFI~1.TXT"},
    {"LongNameWithoutShortEntryNested",  // a deleted file's pieces made live again
     [](ScanRig& rig) {
       const uint64_t folder = rig.ClusterByte(Sub(rig));
       const uint64_t at = rig.EntryIn(Sub(rig), "\xE5ONELO~1TXT");
       const std::span<const uint8_t> dir(rig.Bytes().data() + folder, rig.layout.sectorsPerCluster * 512u);
       const auto pieces = FindDeletedLongName(dir, (at - folder) / 32);
       ASSERT_TRUE(pieces.has_value());
       for (size_t n = 1; n <= pieces->count; ++n)
         rig.Bytes()[at - n * 32] = static_cast<uint8_t>(n == pieces->count ? n | kLfnLastPiece : n);
     },
     kScanBrokenLongName, &ScanResult::brokenLongNames, false, true, nullptr, nullptr},
};

struct EntryCase {
  EntryDamage damage;
  int bits;
  uint32_t sectors;
};

std::vector<EntryCase> Cases() {
  std::vector<EntryCase> cases;
  for (const EntryDamage& d : kDamages)
    for (const FatSize& size : kFatSizes)
      if (d.allWidths || size.bits == 16) cases.push_back({d, size.bits, size.sectors});
  return cases;
}

class ScanEntryChecks : public ::testing::TestWithParam<EntryCase> {};

TEST_P(ScanEntryChecks, NoReportsYesMends) {
  const EntryCase& c = GetParam();
  const EntryDamage& d = c.damage;
  ScanRig rig(c.bits, c.sectors, "-s 1");
  ASSERT_TRUE(rig.volume.MakeDir("::/SUB"));
  for (const FileCase& f : kFiles) ASSERT_TRUE(rig.volume.PutFile(f.path, Pattern(f.bytes, f.seed))) << f.path;
  ASSERT_TRUE(rig.volume.MakeDir("::/SUB/DEEP"));
  ASSERT_TRUE(rig.volume.MakeDir("::/SUB/LOOP"));
  ASSERT_TRUE(rig.volume.PutFile("::/SUB/Gone long name.txt", Pattern(100, 6)));
  ASSERT_TRUE(rig.volume.Delete("::/SUB/Gone long name.txt"));
  rig.Bind();
  d.damage(rig);
  if (d.fsckSees) {
    const std::string before = rig.FsckReport();
    EXPECT_FALSE(FsckComplaints(before).empty()) << "fsck.fat sees no damage:\n" << before;
  }
  const std::vector<uint8_t> damaged = rig.Bytes();

  ScanResult r = rig.Scan();
  const std::vector<std::string> said = rig.Said();
  if (!d.said.empty()) {
    EXPECT_NE(std::find(said.begin(), said.end(), d.said), said.end()) << testing::PrintToString(said);
    EXPECT_EQ(r.*d.count, 1u);
    EXPECT_EQ(r.ExitCode(), 4);
    EXPECT_NE(ScanSummary(r).find("\nInvalid short names: "), std::string::npos);
  } else {
    EXPECT_EQ(r.ExitCode(), 0) << testing::PrintToString(said);
  }
  EXPECT_EQ(rig.Bytes(), damaged);

  ScanOptions yes;
  yes.autoFix = true;
  r = rig.Scan(yes);
  rig.Said();
  EXPECT_EQ(r.ExitCode(), d.said.empty() ? 0 : 1);
  const std::string after = rig.FsckReport();
  EXPECT_TRUE(FsckComplaints(after).empty()) << after;
  for (const FileCase& f : kFiles) {
    const bool moved = d.movedFrom != nullptr && std::string(f.path) == d.movedFrom;
    if (moved && d.movedTo == nullptr) continue;
    EXPECT_EQ(rig.volume.ReadFile(moved ? d.movedTo : f.path), Pattern(f.bytes, f.seed)) << f.path;
  }
  r = rig.Scan();
  EXPECT_EQ(r.ExitCode(), 0) << testing::PrintToString(rig.Said());
}

INSTANTIATE_TEST_SUITE_P(Damages, ScanEntryChecks, ::testing::ValuesIn(Cases()), [](const auto& info) {
  return std::string(info.param.damage.name) + "Fat" + std::to_string(info.param.bits);
});

}  // namespace

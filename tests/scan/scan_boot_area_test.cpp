// The checks of the boot area, one damage a row on every FAT width it
// applies to: answered No, the damage is reported and nothing is written;
// answered Yes, fsck.fat has nothing left to say, the files read as before
// and, where the damage took away what the tools wrote, the image is theirs
// again byte for byte.
#include <gtest/gtest.h>

#include "disk/boot_sector.h"
#include "scan/scan_texts.h"
#include "tests/scan/scan_rig.h"
#include "views/format_cell.h"

namespace {

using Damage = void (*)(ScanRig& rig);

struct BootDamage {
  const char* name;
  std::vector<int> widths;
  Damage damage;
  std::string said;  // the question, or its start where it holds counts
  uint32_t ScanResult::*count;
  bool fsckSees;  // fsck.fat -n reports it (beyond what FsckComplaints passes over)
  bool original;  // a Yes gives back the image as the tools made it
};

struct BootCase {
  const BootDamage* damage;
  int bits;
};

uint64_t Fat32Backup(ScanRig& rig) { return rig.VolumeByte(le16(rig.Boot(), kBootBackupSector)); }
uint64_t FsInfo(ScanRig& rig) { return rig.VolumeByte(rig.layout.fsInfoSector); }
uint32_t Ones(ScanRig& rig) {
  return rig.layout.width == FatWidth::Fat32 ? 0x0FFFFFFF : rig.layout.width == FatWidth::Fat16 ? 0xFFFF : 0xFFF;
}
size_t LabelAt(ScanRig& rig) { return rig.layout.width == FatWidth::Fat32 ? kBootVolumeLabel32 : kBootVolumeLabel; }

const BootDamage kDamages[] = {
    {"BootSectorZeroed", {32}, [](ScanRig& rig) { std::fill_n(rig.Boot().begin(), 512, 0); },
     FormatText(kScanBootFromBackup, 6ul), &ScanResult::bootRecords, true, true},
    {"BackupStale", {32},
     [](ScanRig& rig) { std::memcpy(rig.Bytes().data() + Fat32Backup(rig) + kBootOemName, "OTHEROEM", 8); },
     FormatText(kScanBackupStale, 6ul), &ScanResult::bootRecords, true, true},
    {"MediaByte", {12, 16, 32}, [](ScanRig& rig) { rig.SetFat(0, (Ones(rig) & ~0xFFu) | 0xF0); },
     kScanMediaMismatch, &ScanResult::reservedEntries, false, true},
    {"Fat1NoEndMark", {12, 16, 32}, [](ScanRig& rig) { rig.SetFat(1, 0x123); }, kScanFat1NotEnd,
     &ScanResult::reservedEntries, false, true},
    {"DirtyStateByte", {12, 16, 32},
     [](ScanRig& rig) { rig.Boot()[rig.layout.width == FatWidth::Fat32 ? kBootState32 : kBootState16] |= 1; },
     kScanDirty, &ScanResult::dirtyBits, true, true},
    {"Fat1CleanBitCleared", {16, 32},
     [](ScanRig& rig) { rig.SetFat(1, rig.layout.width == FatWidth::Fat32 ? 0x07FFFFFF : 0x7FFF); }, kScanDirty,
     &ScanResult::dirtyBits, true, true},
    {"Fat1ErrorBitCleared", {16, 32},
     [](ScanRig& rig) { rig.SetFat(1, rig.layout.width == FatWidth::Fat32 ? 0x0BFFFFFF : 0xBFFF); },
     kScanErrorBit, &ScanResult::dirtyBits, false, true},
    {"FsInfoFreeCount", {32}, [](ScanRig& rig) { putLe32(rig.Bytes(), FsInfo(rig) + kFsInfoFreeCount, 5); },
     "FSInfo free cluster count is 5, the FAT has ", &ScanResult::fsInfoFaults, false, true},
    {"FsInfoSignature", {32}, [](ScanRig& rig) { putLe32(rig.Bytes(), FsInfo(rig) + kFsInfoTrailSignature, 0); },
     kScanFsInfoSignatures, &ScanResult::fsInfoFaults, true, false},
    {"FsInfoNextFree", {32},
     [](ScanRig& rig) { putLe32(rig.Bytes(), FsInfo(rig) + kFsInfoNextFree, rig.layout.lastCluster + 1); },
     "FSInfo next free cluster hint ", &ScanResult::fsInfoFaults, false, false},
    // A tool that sets the record's label writes the backup too.
    {"LabelDiffers", {12, 16, 32},
     [](ScanRig& rig) {
       std::memcpy(rig.Boot().data() + LabelAt(rig), "OTHER      ", 11);
       if (rig.layout.width == FatWidth::Fat32)
         std::memcpy(rig.Bytes().data() + Fat32Backup(rig) + LabelAt(rig), "OTHER      ", 11);
     },
     "Volume label in the Boot Record (OTHER) differs from the Root Directory's (NO NAME).  Make them agree?",
     &ScanResult::labelMismatches, true, true},
};

std::vector<BootCase> Cases() {
  std::vector<BootCase> cases;
  for (const BootDamage& d : kDamages)
    for (const int bits : d.widths) cases.push_back({&d, bits});
  return cases;
}

bool SaidStarting(const std::vector<std::string>& said, const std::string& start) {
  return std::any_of(said.begin(), said.end(), [&](const std::string& s) { return s.starts_with(start); });
}

class ScanBootArea : public ::testing::TestWithParam<BootCase> {};

TEST_P(ScanBootArea, NoReportsYesMends) {
  const BootDamage& d = *GetParam().damage;
  const int bits = GetParam().bits;
  ScanRig rig(bits, bits == 12 ? 2880u : bits == 16 ? 20480u : 70000u, "-s 1");
  ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", Pattern(3 * 512, 1)));
  ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", Pattern(2 * 512, 2)));
  rig.Bind();
  const std::vector<uint8_t> made = rig.Bytes();
  const std::vector<uint8_t> a = rig.volume.ReadFile("::/A.TXT");
  d.damage(rig);
  if (d.fsckSees) {
    EXPECT_FALSE(FsckComplaints(rig.FsckReport()).empty()) << "fsck.fat sees no damage";
  }
  const std::vector<uint8_t> damaged = rig.Bytes();

  ScanResult r = rig.Scan();
  std::vector<std::string> said = rig.Said();
  EXPECT_TRUE(SaidStarting(said, d.said)) << d.said;
  EXPECT_EQ(r.*d.count, 1u);
  EXPECT_EQ(r.problemsFound, 1u);
  EXPECT_EQ(r.ExitCode(), 4);
  EXPECT_EQ(rig.Bytes(), damaged);

  ScanOptions yes;
  yes.autoFix = true;
  r = rig.Scan(yes);
  rig.Said();
  EXPECT_EQ(r.ExitCode(), 1);
  const std::string after = rig.FsckReport();
  EXPECT_TRUE(FsckComplaints(after).empty()) << after;
  if (d.original) {
    EXPECT_TRUE(rig.Bytes() == made) << "the image differs from the one the tools made";
  }
  EXPECT_EQ(rig.volume.ReadFile("::/A.TXT"), a);
  // Scanned again, nothing is left to find.
  EXPECT_EQ(rig.Scan().ExitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Damages, ScanBootArea, ::testing::ValuesIn(Cases()), [](const auto& info) {
  return std::string(info.param.damage->name) + "Fat" + std::to_string(info.param.bits);
});

}  // namespace

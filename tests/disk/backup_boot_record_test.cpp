// Which boot record a FAT volume is read by when its sector 0 is damaged or
// unreadable: the backup of a FAT32 volume, where its parameter block or the
// default says, and never a sector of a 12- or 16-bit volume.
#include "disk/backup_boot_record.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "disk/boot_sector.h"
#include "fixtures/image_builder.h"
#include "fixtures/image_sectors.h"

namespace {

struct BackupRow {
  const char* name;
  int bits;
  const char* extra;  // mkfs.fat
  void (*damage)(const std::string& image);
  bool sector0Unreadable;
  uint64_t unreadable;  // a sector the reader fails on
  BootRecordSource source;
  uint64_t sector;
  std::vector<uint64_t> tried;
  const char* note;
};

void Zero(const std::string& image, uint64_t lba) { WriteImageSectors(image, lba, std::vector<uint8_t>(512)); }

constexpr uint64_t kNone = UINT64_MAX;

const BackupRow kRows[] = {
    {"Sound", 32, "", nullptr, false, kNone, BootRecordSource::Primary, 0, {}, ""},
    {"SectorZeroZeroed", 32, "", [](const std::string& i) { Zero(i, 0); }, false, kNone,
     BootRecordSource::Backup, 6, {6}, "Boot record read from its backup at sector 6"},
    {"SectorZeroUnreadable", 32, "", nullptr, true, kNone, BootRecordSource::Backup, 6, {6},
     "Boot record read from its backup at sector 6"},
    // The jump hit, the parameter block whole: the backup it names is used.
    {"JumpHitBackupNamedAtEight", 32, "-b 8", [](const std::string& i) { FlipImageByte(i, 0); }, false,
     kNone, BootRecordSource::Backup, 8, {8}, "Boot record read from its backup at sector 8"},
    {"MediaByteHit", 32, "", [](const std::string& i) { FlipImageByte(i, kBootMedia, 0x0F); }, false,
     kNone, BootRecordSource::Backup, 6, {6}, "Boot record read from its backup at sector 6"},
    // Nothing names sector 8 any more, and sector 6 holds no record.
    {"SectorZeroZeroedBackupAtEight", 32, "-b 8", [](const std::string& i) { Zero(i, 0); }, false, kNone,
     BootRecordSource::None, 0, {6}, ""},
    {"BothZeroed", 32, "",
     [](const std::string& i) {
       Zero(i, 0);
       Zero(i, 6);
     },
     false, kNone, BootRecordSource::None, 0, {6}, ""},
    {"BackupUnreadable", 32, "", [](const std::string& i) { Zero(i, 0); }, false, 6,
     BootRecordSource::None, 0, {6}, ""},
    // A 16-bit volume keeps no backup: its sector 6 is never taken for one,
    // even when it holds a copy of the record.
    {"Fat16SectorZeroZeroed", 16, "-R 8",
     [](const std::string& i) {
       WriteImageSectors(i, 6, ReadImageSectors(i, 0));
       Zero(i, 0);
     },
     false, kNone, BootRecordSource::None, 0, {6}, ""},
};

void PrintTo(const BackupRow& row, std::ostream* os) { *os << row.name; }

class BackupBootRecord : public ::testing::TestWithParam<BackupRow> {};

TEST_P(BackupBootRecord, FoundWhereTheVolumeKeepsIt) {
  const BackupRow& row = GetParam();
  TempDir dir;
  const std::string image = dir.File("vol.img");
  MakeFatImage(image, row.bits, row.bits == 32 ? 70000 : 40000, std::string("-s 1 ") + row.extra);
  const std::vector<uint8_t> original = ReadImageSectors(image, 0);
  if (row.damage != nullptr) row.damage(image);
  std::vector<uint8_t> sector0;
  if (!row.sector0Unreadable) sector0 = ReadImageSectors(image, 0);

  const BootRecordChoice c = FindBootRecord(sector0, ImageReader(image, row.unreadable));
  EXPECT_EQ(c.source, row.source);
  EXPECT_EQ(c.tried, row.tried);
  EXPECT_EQ(BootRecordNote(c), row.note);
  EXPECT_EQ(c.primaryUnreadable, row.sector0Unreadable);
  if (row.source == BootRecordSource::None) {
    EXPECT_FALSE(c.layout);
    return;
  }
  EXPECT_EQ(c.sector, row.sector);
  ASSERT_TRUE(c.layout);
  // mkfs.fat's backup is the record's copy.
  EXPECT_EQ(c.bytes, original);
  EXPECT_EQ(c.layout->width, row.bits == 32 ? FatWidth::Fat32 : FatWidth::Fat16);
}

INSTANTIATE_TEST_SUITE_P(Volumes, BackupBootRecord, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

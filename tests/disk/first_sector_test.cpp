// What sector 0 of a hard disk is taken for, on whole-disk volumes made by
// mkfs.fat and mkfs.exfat, on the MBR disks sfdisk makes for the rest of the
// suite, on a GPT disk and on boot records whose boot code reads like a table.
#include "disk/first_sector.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "disk/le.h"
#include "disk/partition_entry.h"
#include "fixtures/image_builder.h"
#include "fixtures/image_sectors.h"

void PrintTo(const MbrEntryFault& f, std::ostream* os) {
  *os << "{" << f.entry << ", " << static_cast<int>(f.fault) << "}";
}

namespace {

using Kind = FirstSectorKind;
using Faults = std::vector<MbrEntryFault>;

void PutEntry(const std::string& image, unsigned index, uint8_t boot, uint8_t type, uint32_t start,
              uint32_t sectors) {
  std::vector<uint8_t> s = ReadImageSectors(image, 0);
  const size_t e = PartitionEntryOffset(index);
  putLe8(s, e + kPartBootFlag, boot);
  putLe8(s, e + kPartType, type);
  putLe32(s, e + kPartStartLba, start);
  putLe32(s, e + kPartSectors, sectors);
  WriteImageSectors(image, 0, s);
}

bool Sfdisk(const std::string& image, uint32_t sectors, const std::string& script) {
  return PartitionImage(image, sectors, script);
}

struct FirstSectorRow {
  const char* name;
  void (*make)(const std::string& image);
  Kind kind;
  bool tableSound;
  bool fat;  // passes as a FAT boot record
  Faults faults;
};

const FirstSectorRow kRows[] = {
    {"Fat12WholeDisk", [](const std::string& i) { MakeFatImage(i, 12, 8192); }, Kind::FatBootRecord, false, true, {}},
    {"Fat16WholeDisk", [](const std::string& i) { MakeFatImage(i, 16, 65536); }, Kind::FatBootRecord, false, true, {}},
    {"Fat32WholeDisk", [](const std::string& i) { MakeFatImage(i, 32, 70000, "-s 1"); },
     Kind::FatBootRecord, false, true, {}},
    {"ExfatWholeDisk",
     [](const std::string& i) {
       MustRun("truncate -s 32M " + ShellQuote(i) + " && mkfs.exfat " + ShellQuote(i) + " >/dev/null");
     },
     Kind::ExfatBootRecord, false, false, {}},
    {"SampleDisk", [](const std::string& i) { MakeSampleDisk(i); }, Kind::PartitionTable, true, false, {}},
    {"SfdiskBootableAndFat32",
     [](const std::string& i) {
       Sfdisk(i, 65536, "start=2048, size=20480, type=6, bootable\nstart=22528, size=40960, type=c\n");
     },
     Kind::PartitionTable, true, false, {}},
    {"SfdiskLinuxToTheEnd", [](const std::string& i) { Sfdisk(i, 8192, "start=2048, type=83\n"); },
     Kind::PartitionTable, true, false, {}},
    {"GptProtective",
     [](const std::string& i) { Sfdisk(i, 65536, "label: gpt\nstart=2048, type=L\n"); },
     Kind::ProtectiveMbr, true, false, {}},
    {"Zeros", [](const std::string& i) { MustRun("truncate -s 4M " + ShellQuote(i)); }, Kind::Unknown, false, false, {}},
    // Boot code over the table's bytes: an entry claiming more than the disk,
    // or text whose bytes are no boot indicators.
    {"BootCodeLikeAnEntryPastTheDisk",
     [](const std::string& i) {
       MakeFatImage(i, 16, 65536);
       PutEntry(i, 0, 0x00, 0x07, 63, 0xFFFFFF00);
     },
     Kind::FatBootRecord, false, true, {{1, MbrFault::OutsideDisk}}},
    {"BootMessageOverTheTable",
     [](const std::string& i) {
       MakeFatImage(i, 32, 70000, "-s 1");
       std::vector<uint8_t> s = ReadImageSectors(i, 0);
       const std::string text = "Remove disks or other media.\xFF\r\nDisk error\xFF\r\nPress any key to restart\r\n";
       std::copy(text.begin(), text.end(), s.begin() + 440);
       WriteImageSectors(i, 0, s);
     },
     Kind::FatBootRecord, false, true,
     {{1, MbrFault::BadBootIndicator}, {1, MbrFault::OutsideDisk}, {2, MbrFault::BadBootIndicator},
      {2, MbrFault::OutsideDisk}, {2, MbrFault::Overlaps}, {3, MbrFault::BadBootIndicator},
      {3, MbrFault::OutsideDisk}, {4, MbrFault::BadBootIndicator}, {4, MbrFault::OutsideDisk}}},
    // Where a boot record's table bytes make a sound table, the table wins.
    {"BootRecordWithASoundTable",
     [](const std::string& i) {
       MakeFatImage(i, 16, 65536);
       PutEntry(i, 0, 0x80, 0x06, 2048, 20480);
     },
     Kind::PartitionTable, true, true, {}},
    // Damaged tables stay tables, as the partition walk reads them.
    {"EntriesOverlap",
     [](const std::string& i) {
       Sfdisk(i, 65536, "start=2048, size=20480, type=6\nstart=22528, size=40960, type=c\n");
       PutEntry(i, 1, 0x00, 0x0C, 20000, 40960);
     },
     Kind::PartitionTable, false, false, {{2, MbrFault::Overlaps}}},
    {"EntryAtSectorZeroWithoutSectors",
     [](const std::string& i) {
       Sfdisk(i, 65536, "start=2048, size=20480, type=6\n");
       PutEntry(i, 1, 0x00, 0x0C, 0, 0);
     },
     Kind::PartitionTable, false, false, {{2, MbrFault::StartsAtZero}, {2, MbrFault::NoSectors}}},
    // A FAT32 record whose jump was hit is no volume, and no table either.
    {"Fat32WithoutItsJump",
     [](const std::string& i) {
       MakeFatImage(i, 32, 70000, "-s 1");
       FlipImageByte(i, 0);
     },
     Kind::Unknown, false, false, {}},
};

void PrintTo(const FirstSectorRow& row, std::ostream* os) { *os << row.name; }

class FirstSector : public ::testing::TestWithParam<FirstSectorRow> {};

TEST_P(FirstSector, TableOrBootRecord) {
  const FirstSectorRow& row = GetParam();
  TempDir dir;
  const std::string image = dir.File("disk.img");
  row.make(image);
  const FirstSectorClass c = ClassifyFirstSector(ReadImageSectors(image, 0), ImageSectors(image));
  EXPECT_EQ(c.kind, row.kind);
  EXPECT_EQ(c.tableSound, row.tableSound);
  EXPECT_EQ(c.tableFaults, row.faults);
  EXPECT_FALSE(c.hybrid);
  EXPECT_EQ(c.fatBootRecord, row.fat);
  EXPECT_EQ(c.exfatBootRecord, row.kind == Kind::ExfatBootRecord);
}

INSTANTIATE_TEST_SUITE_P(Disks, FirstSector, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// The sector library's engine: CHS through the drive's geometry with the
// extensions flag 0, LBA otherwise, and what it reports about the drives.
#include "disk/sect32_engine.h"

#include <gtest/gtest.h>

#include "fixtures/test_drives.h"

namespace {

// A floppy (2 heads, 18 sectors) on drive 0 and a hard disk (4 heads, 8
// sectors, 400 cylinders) on 0x80, left unbound: each test builds the engine
// under test over their map.
struct Drives : TestDrives {
  DeviceMap& map = Devices();
  FaultDevice* floppy = Add(0, PatternDisk(2880), Geometry{80, 2, 18});
  FaultDevice* disk = Add(0x80, PatternDisk(400 * 32), Geometry{400, 4, 8});
};

TEST(Sect32Engine, ChsWithFlagZeroAndLbaOtherwise) {
  Drives d;
  Sect32Engine e(d.map);
  EXPECT_TRUE(e.AllOpen());
  std::vector<uint8_t> buf(3 * 512);
  // Cylinder 1, head 1, sector 5 of the floppy: (1*2+1)*18+4 = 58. The LBA
  // given beside it is not used.
  ASSERT_EQ(e.ReadSect32(0, 1, 1, 5, 3, buf.data(), 7, 0), 1u);
  EXPECT_EQ(buf, SectorSlice(d.floppy->Bytes(), 58, 3));
  // With the flag the LBA is used and the triple ignored.
  ASSERT_EQ(e.ReadSect32(0x80, 0, 0, 1, 3, buf.data(), 1000, 1), 1u);
  EXPECT_EQ(buf, SectorSlice(d.disk->Bytes(), 1000, 3));
  // Cylinder 300 = 0x12C: bits 8-9 in bits 6-7 of the sector byte.
  ASSERT_EQ(e.ReadSect32(0x80, 0x2C, 3, 0x40 | 2, 1, buf.data(), 0, 0), 1u);
  EXPECT_EQ(SectorSlice(buf, 0, 1), SectorSlice(d.disk->Bytes(), (300 * 4 + 3) * 8 + 1, 1));

  // Writes address the same way.
  std::vector<uint8_t> data(2 * 512, 0x6B);
  ASSERT_EQ(e.WriteSect32(0, 79, 1, 18, 1, data.data(), 0, 0), 1u);
  EXPECT_EQ(SectorSlice(d.floppy->Bytes(), 2879, 1), SectorSlice(data, 0, 1));
  ASSERT_EQ(e.WriteSect32(0x80, 0, 0, 0, 2, data.data(), 12798, 5), 1u);
  EXPECT_EQ(SectorSlice(d.disk->Bytes(), 12798, 2), data);
}

TEST(Sect32Engine, InvalidAddressesAndMissingDrivesFail) {
  Drives d;
  Sect32Engine e(d.map);
  std::vector<uint8_t> buf(2 * 512);
  // Sector 0, a sector beyond the track, a head beyond the drive, a
  // cylinder argument with more than 8 bits (an unpacked triple), and a
  // geometry-valid address past the end of the floppy.
  EXPECT_EQ(e.ReadSect32(0, 0, 0, 0, 1, buf.data(), 0, 0), 0u);
  EXPECT_EQ(e.ReadSect32(0, 0, 0, 19, 1, buf.data(), 0, 0), 0u);
  EXPECT_EQ(e.ReadSect32(0, 0, 2, 1, 1, buf.data(), 0, 0), 0u);
  EXPECT_EQ(e.ReadSect32(0x80, 1001, 0, 1, 1, buf.data(), 0, 0), 0u);
  EXPECT_EQ(e.WriteSect32(0, 0, 0, 19, 1, buf.data(), 0, 0), 0u);
  EXPECT_TRUE(d.floppy->readLog.empty());
  EXPECT_TRUE(d.floppy->writeLog.empty());
  EXPECT_EQ(e.ReadSect32(0, 80, 0, 1, 1, buf.data(), 0, 0), 0u);
  // By LBA past the end, and a read that runs off the end.
  EXPECT_EQ(e.ReadSect32(0x80, 0, 0, 1, 1, buf.data(), 400 * 32, 1), 0u);
  EXPECT_EQ(e.ReadSect32(0x80, 0, 0, 1, 2, buf.data(), 400 * 32 - 1, 1), 0u);
  // A bad sector fails the transfer.
  d.disk->badReadSectors = {10};
  EXPECT_EQ(e.ReadSect32(0x80, 0, 1, 1, 2, buf.data(), 9, 1), 0u);
  // Drives the map does not have: a hard disk that does not exist is how
  // the listing finds the end of the hard disks.
  EXPECT_EQ(e.ReadSect32(0x81, 0, 0, 1, 1, buf.data(), 0, 0), 0u);
  EXPECT_EQ(e.ReadSect32(1, 0, 0, 1, 1, buf.data(), 0, 0), 0u);
  EXPECT_EQ(e.WriteSect32(0x81, 0, 0, 1, 1, buf.data(), 0, 1), 0u);
  EXPECT_EQ(e.ReadSect32(0x180, 0, 0, 1, 1, buf.data(), 0, 1), 0u);
  EXPECT_EQ(e.ReadSect32(0x80, 0, 0, 1, 1, nullptr, 0, 1), 0u);
}

TEST(Sect32Engine, ExtensionsOnlyForHardDisksAndFloppyCount) {
  Drives d;
  d.Add(1, PatternDisk(2880), Geometry{80, 2, 18});
  Sect32Engine e(d.map);
  EXPECT_EQ(e.CheckInt13Extension32(0x80), 1u);
  EXPECT_EQ(e.CheckInt13Extension32(0), 0u);
  EXPECT_EQ(e.CheckInt13Extension32(1), 0u);
  EXPECT_EQ(e.CheckInt13Extension32(0x81), 0u);
  EXPECT_EQ(e.FloppyCount(), 2u);
}

}  // namespace

// Transfers over real images made by sfdisk and mkfs.fat, through the real
// libsect32.so and through the direct path: a written sector lands exactly at
// its byte offset and nothing else in the image changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "disk/le.h"
#include "fixtures/fault_device.h"
#include "fixtures/scripted_prompt.h"
#include "disk/sector_access.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"

namespace {

std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return "sizes differ";
  if (std::memcmp(a.data(), b.data(), a.size()) == 0) return "";
  auto m = std::mismatch(a.begin(), a.end(), b.begin());
  return m.first == a.end() ? "" : "first difference at byte " + std::to_string(m.first - a.begin());
}

std::vector<uint8_t> Data(uint32_t sectors, uint8_t seed) {
  std::vector<uint8_t> d(size_t{sectors} * 512);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(seed + i * 3 + i / 512);
  return d;
}

void Put(std::vector<uint8_t>& image, uint64_t sector, const std::vector<uint8_t>& data) {
  std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(sector * 512));
}

// A packet whose CHS base is the start address of a partition entry, as the
// drive listing makes it.
DrivePacket PartitionPacket(const std::vector<uint8_t>& image, uint64_t tableSector, int entry) {
  std::span<const uint8_t> e = std::span<const uint8_t>(image).subspan(tableSector * 512 + 0x1BE + 16 * entry, 16);
  DrivePacket p;
  p.drive = 0x80;
  p.head = le8(e, 1);
  p.sector = le8(e, 2);
  p.cylinder = le8(e, 3);
  p.partitionStart = static_cast<uint32_t>(tableSector) + le32(e, 8);
  p.sectorCount = 1;
  return p;
}

TEST(SectorAccessImage, WriteLandsAtItsOffsetOnBothPathsAndNotWithReadOnly) {
  TempDir dir;
  SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
  for (bool direct : {false, true}) {
    for (bool readOnly : {false, true}) {
      SCOPED_TRACE(std::string(direct ? "direct" : "library") + (readOnly ? " read-only" : ""));
      TestDrives drives(direct ? TestDrives::Direct : TestDrives::Library);
      DriveMapConfig config = Drives({disk.image}, {floppy.image});
      config.readOnly = readOnly;
      ASSERT_TRUE(drives.BindAsProgram(config));
      ScriptedPrompt& prompt = drives.prompt;
      DiskAccess& access = drives.access;
      EXPECT_EQ(prompt.Messages(), std::vector<std::string>{});
      EXPECT_EQ(access.Capabilities().biosTransfers, !direct);
      EXPECT_EQ(access.FloppyCount(), 1u);
      ASSERT_TRUE(access.HardDiskExists(0x80));  // on the direct path this opens it
      EXPECT_FALSE(access.HardDiskExists(0x81));

      std::vector<uint8_t> diskImage = ReadFileBytes(disk.image);
      std::vector<uint8_t> floppyImage = ReadFileBytes(floppy.image);

      // The extended partition's boot record, read by the CHS address its
      // MBR entry gives (the library honours CHS with the flag 0 through the
      // geometry the MBR implies).
      DrivePacket ext = PartitionPacket(diskImage, 0, 1);
      ASSERT_EQ(ext.partitionStart, disk.extendedStart);
      std::vector<uint8_t> ebr(512);
      EXPECT_TRUE(ReadSectors(access, ext, ebr.data()));
      EXPECT_EQ(ebr, SectorSlice(diskImage, disk.extendedStart, 1));

      // 30 sectors inside the FAT32 volume, across a track end, by LBA with
      // the drive's flag; then by CHS with the flag 0.
      DrivePacket p = PartitionPacket(diskImage, disk.extendedStart, 0);
      ASSERT_EQ(p.partitionStart, disk.fat32Start);
      p.heads = 255;
      p.sectorsPerTrack = 63;
      p.int13Extensions = access.Int13Extensions(0x80);
      EXPECT_EQ(p.int13Extensions, direct ? 0u : 1u);
      p.startSector = 1234;
      p.sectorCount = 30;
      const std::vector<uint8_t> data = Data(30, 1);
      EXPECT_EQ(WriteSectors(access, p, data.data()), !readOnly);
      if (!readOnly) Put(diskImage, disk.fat32Start + 1234, data);
      p.int13Extensions = 0;
      p.startSector = 5000;
      const std::vector<uint8_t> chsData = Data(30, 2);
      EXPECT_EQ(WriteSectors(access, p, chsData.data()), !readOnly);
      if (!readOnly) Put(diskImage, disk.fat32Start + 5000, chsData);
      EXPECT_EQ(FirstDifference(ReadFileBytes(disk.image), diskImage), "");

      std::vector<uint8_t> back(30 * 512);
      EXPECT_TRUE(ReadSectors(access, p, back.data()));
      EXPECT_EQ(back, SectorSlice(diskImage, disk.fat32Start + 5000, 30));

      // The floppy by CHS (its flag is 0 on both paths), across a track end.
      DrivePacket f;
      f.drive = 0;
      f.sector = 1;
      f.heads = 2;
      f.sectorsPerTrack = 18;
      f.int13Extensions = access.Int13Extensions(0);
      EXPECT_EQ(f.int13Extensions, 0u);
      f.startSector = 35;
      f.sectorCount = 3;
      const std::vector<uint8_t> fdata = Data(3, 3);
      EXPECT_EQ(WriteSectors(access, f, fdata.data()), !readOnly);
      if (!readOnly) Put(floppyImage, 35, fdata);
      EXPECT_EQ(FirstDifference(ReadFileBytes(floppy.image), floppyImage), "");
      std::vector<uint8_t> fback(3 * 512);
      EXPECT_TRUE(ReadSectors(access, f, fback.data()));
      EXPECT_EQ(fback, SectorSlice(floppyImage, 35, 3));
    }
  }
}

}  // namespace

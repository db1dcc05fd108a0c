// The image builders must make what the other tests take them to make.
#include <gtest/gtest.h>

#include <cstdio>

#include "disk/le.h"
#include "fixtures/image_builder.h"

namespace {

void ExpectSampleTree(const FatVolume& v) {
  std::string list = v.ListAll();
  EXPECT_NE(list.find("::/DOCS/Long File Name Document.txt"), std::string::npos) << list;
  EXPECT_NE(list.find("::/DOCS/Projects Folder/PLAN.TXT"), std::string::npos) << list;
  EXPECT_NE(list.find("::/DOCS/BIG.BIN"), std::string::npos) << list;
  EXPECT_NE(list.find("::/EMPTY.TXT"), std::string::npos) << list;
  EXPECT_EQ(list.find("DELETED.TXT"), std::string::npos) << list;
  EXPECT_EQ(list.find("Old Stuff"), std::string::npos) << list;
  EXPECT_EQ(v.ReadFile("::/DOCS/BIG.BIN").size(), 20000u);
  EXPECT_EQ(v.ReadFile("::/README.TXT"),
            std::vector<uint8_t>({'S', 'a', 'm', 'p', 'l', 'e', ' ', 'v', 'o', 'l', 'u', 'm', 'e', ' ', 'f', 'o',
                                  'r', ' ', 'G', 'l', 'e', 'a', 'n', 'e', 'r', ' ', 't', 'e', 's', 't', 's', '.',
                                  '\r', '\n'}));
  std::string report;
  EXPECT_TRUE(v.Check(&report)) << report;
}

TEST(ImageBuilder, SampleDiskMatchesSfdiskAndMtools) {
  TempDir dir;
  SampleDisk d = MakeSampleDisk(dir.File("disk.img"));
  std::string dump;
  ASSERT_TRUE(MustRun("sfdisk --dump " + ShellQuote(d.image), &dump));
  auto entry = [](uint32_t start, uint32_t size, const char* type) {
    char line[80];
    std::snprintf(line, sizeof line, "start=%12u, size=%12u, type=%s\n", start, size, type);
    return std::string(line);
  };
  EXPECT_NE(dump.find(entry(d.fat16Start, 20480, "6")), std::string::npos) << dump;
  EXPECT_NE(dump.find(entry(d.extendedStart, 108544, "5")), std::string::npos) << dump;
  EXPECT_NE(dump.find(entry(d.fat32Start, 69632, "c")), std::string::npos) << dump;
  EXPECT_NE(dump.find(entry(d.fat12Start, 8192, "1")), std::string::npos) << dump;
  EXPECT_EQ(d.fat16.offset, uint64_t{d.fat16Start} * 512);
  EXPECT_EQ(d.fat32.offset, uint64_t{d.fat32Start} * 512);
  EXPECT_EQ(d.fat12.offset, uint64_t{d.fat12Start} * 512);

  // Each volume's boot record names its FAT width and its partition start.
  std::vector<uint8_t> image = ReadFileBytes(d.image);
  ASSERT_EQ(image.size(), 131072u * 512);
  auto boot = [&](const FatVolume& v) { return std::span<const uint8_t>(image).subspan(v.offset, 512); };
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot(d.fat16)[0x36]), 8), "FAT16   ");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot(d.fat32)[0x52]), 8), "FAT32   ");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot(d.fat12)[0x36]), 8), "FAT12   ");
  EXPECT_EQ(le32(boot(d.fat32), 0x1C), d.fat32Start);
  EXPECT_EQ(le16(boot(d.fat32), 0x18), 63);
  EXPECT_EQ(le16(boot(d.fat32), 0x1A), 255);

  ExpectSampleTree(d.fat16);
  ExpectSampleTree(d.fat32);
  ExpectSampleTree(d.fat12);
}

TEST(ImageBuilder, SampleFloppyIsA144Floppy) {
  TempDir dir;
  FatVolume f = MakeSampleFloppy(dir.File("floppy.img"));
  std::vector<uint8_t> image = ReadFileBytes(f.image);
  ASSERT_EQ(image.size(), 1474560u);
  EXPECT_EQ(le16(image, 0x13), 2880);
  EXPECT_EQ(le16(image, 0x18), 18);
  EXPECT_EQ(le16(image, 0x1A), 2);
  EXPECT_EQ(image[0x15], 0xF0);
  ExpectSampleTree(f);
  std::string text;
  MustRun("env MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1 mdir -i " + ShellQuote(f.image) + " ::", &text);
  EXPECT_NE(text.find("Volume in drive : is FLOPPY"), std::string::npos) << text;
}

}  // namespace

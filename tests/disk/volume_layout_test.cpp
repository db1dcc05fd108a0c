// The boot sector's decoding: the FAT width by the count of data clusters at
// its edges, on volumes made by mkfs.fat, and the checks that refuse a
// record describing no volume.
#include "disk/volume_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "disk/boot_sector.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"

namespace {

std::vector<uint8_t> BootOf(const FatVolume& v) {
  std::vector<uint8_t> bytes = ReadFileBytes(v.image);
  bytes.resize(512);
  return bytes;
}

struct Edge {
  int bits;
  uint32_t sectors;
  const char* extra;
  uint32_t clusters;
  FatWidth width;
};

}  // namespace

TEST(VolumeLayout, WidthFollowsTheDataClustersAtTheirEdges) {
  TempDir dir;
  const Edge edges[] = {
      {12, 4128, "-s 1 -R 4 -r 256", 4084, FatWidth::Fat12},
      {16, 66080, "-s 1 -R 12 -r 512", 65524, FatWidth::Fat16},
      {32, 66560, "-s 1 -R 11", 65525, FatWidth::Fat32},
  };
  for (const Edge& e : edges) {
    SCOPED_TRACE(e.clusters);
    const std::vector<uint8_t> boot =
        BootOf(MakeFatImage(dir.File("edge.img"), e.bits, e.sectors, e.extra));
    const auto layout = DecodeVolume(boot);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->dataClusters, e.clusters);
    EXPECT_EQ(layout->lastCluster, e.clusters + 1);
    EXPECT_EQ(layout->width, e.width);
  }

  // mkfs.fat makes no 16-bit FAT of fewer than 4096 clusters: its volume is
  // cut to 4085 by the total sector count, the FAT left as it was.
  std::vector<uint8_t> boot =
      BootOf(MakeFatImage(dir.File("fat16.img"), 16, 4192, "-s 1 -R 1 -r 512"));
  ASSERT_EQ(le16(boot, kBootSectorsPerFat16), 17);
  putLe16(boot, kBootTotalSectors16, 1 + 2 * 17 + 32 + 4085);
  auto layout = DecodeVolume(boot);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->dataClusters, 4085u);
  EXPECT_EQ(layout->width, FatWidth::Fat16);
  putLe16(boot, kBootTotalSectors16, 1 + 2 * 17 + 32 + 4084);
  EXPECT_EQ(DecodeVolume(boot)->width, FatWidth::Fat12);
  // A 32-bit FAT partition type makes it 32-bit whatever the count.
  EXPECT_EQ(DecodeVolume(boot, 0x0C)->width, FatWidth::Fat32);
  EXPECT_EQ(DecodeVolume(boot, 0x0B)->width, FatWidth::Fat32);
  EXPECT_EQ(DecodeVolume(boot, 0x06)->width, FatWidth::Fat12);
}

TEST(VolumeLayout, TwoThousandSeventyKibFat12VolumeIsTwelveBit) {
  // 4128 sectors by total / sectors per cluster would pass for a 16-bit FAT;
  // its 4071 data clusters make it 12-bit, as fsck.fat says.
  TempDir dir;
  const std::vector<uint8_t> boot = BootOf(MakeFatImage(dir.File("f.img"), 12, 4140, "-s 1"));
  const auto v = DecodeVolume(boot);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->width, FatWidth::Fat12);
  EXPECT_EQ(v->totalSectors, 4128u);
  EXPECT_EQ(v->fatStart, 1u);
  EXPECT_EQ(v->sectorsPerFat, 12u);
  EXPECT_EQ(v->FatCopyStart(1), 13u);
  EXPECT_EQ(v->rootStart, 25u);
  EXPECT_EQ(v->rootSectors, 32u);
  EXPECT_EQ(v->dataStart, 57u);
  EXPECT_EQ(v->dataClusters, 4071u);
  EXPECT_EQ(v->rootCluster, 0u);
}

TEST(VolumeLayout, RecordsThatDescribeNoVolumeAreRefused) {
  TempDir dir;
  const std::vector<uint8_t> good = BootOf(MakeFloppy1440(dir.File("fd.img")));
  ASSERT_TRUE(DecodeVolume(good));
  auto with = [&](size_t offset, uint32_t value, int size) {
    std::vector<uint8_t> b = good;
    if (size == 1) putLe8(b, offset, static_cast<uint8_t>(value));
    if (size == 2) putLe16(b, offset, static_cast<uint16_t>(value));
    if (size == 4) putLe32(b, offset, value);
    return DecodeVolume(b).has_value();
  };
  EXPECT_FALSE(with(kBootBytesPerSector, 0, 2));
  EXPECT_FALSE(with(kBootBytesPerSector, 256, 2));
  EXPECT_FALSE(with(kBootBytesPerSector, 768, 2));
  EXPECT_FALSE(with(kBootBytesPerSector, 8192, 2));
  EXPECT_FALSE(with(kBootSectorsPerCluster, 0, 1));
  EXPECT_FALSE(with(kBootSectorsPerCluster, 3, 1));
  EXPECT_TRUE(with(kBootSectorsPerCluster, 128, 1));
  EXPECT_FALSE(with(kBootFatCount, 0, 1));
  EXPECT_FALSE(with(kBootFatCount, 9, 1));
  EXPECT_TRUE(with(kBootFatCount, 8, 1));
  EXPECT_FALSE(with(kBootReservedSectors, 0, 2));
  // No sectors per FAT in either field.
  EXPECT_FALSE(with(kBootSectorsPerFat16, 0, 2));
  // FATs or a root that pass the volume's end.
  EXPECT_FALSE(with(kBootSectorsPerFat16, 1440, 2));
  EXPECT_FALSE(with(kBootTotalSectors16, 32, 2));
  EXPECT_FALSE(with(kBootRootEntries, 0xFFFF, 2));
  EXPECT_TRUE(with(kBootTotalSectors16, 33, 2));  // no data cluster, but a volume
  EXPECT_FALSE(DecodeVolume(std::span<const uint8_t>(good).first(0x3F)));
  // A 32-bit record's FATs reaching past 32-bit sector numbers.
  std::vector<uint8_t> far = good;
  putLe16(far, kBootSectorsPerFat16, 0);
  putLe16(far, kBootTotalSectors16, 0);
  putLe32(far, kBootTotalSectors32, 0xFFFFFFFF);
  putLe32(far, kBootSectorsPerFat32, 0x80000000);
  EXPECT_FALSE(DecodeVolume(far));
  putLe32(far, kBootSectorsPerFat32, 0x1000);
  putLe32(far, kBootRootCluster, 2);
  const auto big = DecodeVolume(far);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->width, FatWidth::Fat32);
  EXPECT_EQ(big->rootSectors, 0u);
  EXPECT_EQ(big->dataStart, 1u + 2 * 0x1000);
  EXPECT_EQ(big->rootCluster, 2u);
}

namespace {

// A boot record made field by field: 512-byte sectors, one reserved sector,
// two FATs.
struct ClaimCase {
  const char* name;
  uint8_t sectorsPerCluster;
  uint16_t rootEntries;
  uint32_t totalSectors;
  uint16_t sectorsPerFat16;  // 0: the 32-bit field counts
  uint32_t sectorsPerFat32;
  FatWidth width;
  uint32_t dataClusters;
  uint32_t lastCluster;
};

void PrintTo(const ClaimCase& c, std::ostream* os) { *os << c.name; }

class VolumeLastCluster : public testing::TestWithParam<ClaimCase> {};

}  // namespace

// The last usable cluster is decided with the layout: no further than the
// data clusters, the entries the FAT's sectors hold and the width's numbers
// below its bad mark, whatever the boot record claims.
TEST_P(VolumeLastCluster, StopsWhereTheFatDoes) {
  const ClaimCase& c = GetParam();
  std::vector<uint8_t> boot(512, 0);
  putLe16(boot, kBootBytesPerSector, 512);
  putLe8(boot, kBootSectorsPerCluster, c.sectorsPerCluster);
  putLe16(boot, kBootReservedSectors, 1);
  putLe8(boot, kBootFatCount, 2);
  putLe16(boot, kBootRootEntries, c.rootEntries);
  if (c.totalSectors <= 0xFFFF)
    putLe16(boot, kBootTotalSectors16, static_cast<uint16_t>(c.totalSectors));
  else
    putLe32(boot, kBootTotalSectors32, c.totalSectors);
  putLe16(boot, kBootSectorsPerFat16, c.sectorsPerFat16);
  putLe32(boot, kBootSectorsPerFat32, c.sectorsPerFat32);
  const auto layout = DecodeVolume(boot);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->width, c.width);
  EXPECT_EQ(layout->dataClusters, c.dataClusters);
  EXPECT_EQ(layout->lastCluster, c.lastCluster);
}

INSTANTIATE_TEST_SUITE_P(
    Claims, VolumeLastCluster,
    testing::Values(
        // 2880 sectors, 9-sector FATs of 3072 entries: the data clusters decide.
        ClaimCase{"floppy", 1, 224, 2880, 9, 0, FatWidth::Fat12, 2847, 2848},
        ClaimCase{"no data cluster", 1, 224, 33, 9, 0, FatWidth::Fat12, 0, 1},
        // One FAT sector holds 341 12-bit entries, 256 16-bit, 128 32-bit.
        ClaimCase{"12-bit FAT of one sector", 1, 224, 2880, 1, 0, FatWidth::Fat12, 2863, 340},
        ClaimCase{"16-bit FAT of one sector", 1, 512, 60035, 1, 0, FatWidth::Fat16, 60000, 255},
        ClaimCase{"32-bit FAT of one sector", 1, 0, 70003, 0, 1, FatWidth::Fat32, 70000, 127},
        // 20 sectors hold 5120 16-bit entries: clusters 2 to 5119 fill them.
        ClaimCase{"16-bit FAT just full", 1, 512, 1 + 40 + 32 + 5118, 20, 0, FatWidth::Fat16, 5118,
                  5119},
        ClaimCase{"16-bit FAT one short", 1, 512, 1 + 40 + 32 + 5119, 20, 0, FatWidth::Fat16, 5119,
                  5119},
        // A FAT of 2^28 entries on a volume of 2^32 sectors: the numbers
        // from the bad mark up name no cluster.
        ClaimCase{"32-bit numbers up to the bad mark", 1, 0, 0xFFFFFFFF, 0, 0x200000,
                  FatWidth::Fat32, 0xFFFFFFFFu - 0x400001u, 0x0FFFFFF6}));

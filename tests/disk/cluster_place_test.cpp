#include "disk/cluster_place.h"

#include <gtest/gtest.h>

namespace {

TEST(ClusterPlace, InsideUpToTheVolumesLastSector) {
  DrivePacket p;
  p.startSector = 10;  // cluster 2
  p.totalSectors = 20;
  EXPECT_EQ(ClusterFirstSector(p, 6, 2), 18u);
  EXPECT_EQ(ClusterFirstSector(p, 1, 2), 10u);
  EXPECT_TRUE(ClusterInsideVolume(p, 2, 2));
  EXPECT_TRUE(ClusterInsideVolume(p, 6, 2));  // sectors 18 and 19
  EXPECT_FALSE(ClusterInsideVolume(p, 7, 2));
  EXPECT_FALSE(ClusterInsideVolume(p, 1, 2));
  EXPECT_FALSE(ClusterInsideVolume(p, 0, 2));
  EXPECT_FALSE(ClusterInsideVolume(p, 0xFFFFFFFF, 2));

  // A volume of unknown size ends with the 32-bit sector numbers.
  p.totalSectors = 0;
  p.startSector = 0xFFFFFFE7;
  EXPECT_TRUE(ClusterInsideVolume(p, 4, 8));    // sectors up to 0xFFFFFFFE
  EXPECT_FALSE(ClusterInsideVolume(p, 5, 8));  // would end past 0xFFFFFFFF
}

}  // namespace

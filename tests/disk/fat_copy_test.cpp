#include "disk/fat_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "views/view_rig.h"

namespace {

using Reads = std::vector<std::pair<uint64_t, size_t>>;

// A FAT16 volume from sector 0 of the disk: one reserved sector, two copies
// of sectorsPerFat sectors (FAT 1 filled with 0x11, FAT 2 with 0x22), then
// eight data sectors of one sector a cluster.
struct TwoCopies {
  explicit TwoCopies(uint32_t sectorsPerFat) {
    node.drive = 0x80;
    node.int13Extensions = 1;
    node.kind = NodeKind::DirEntry;
    node.fatType = FatWidth::Fat16;
    node.reservedSectors = 1;
    node.sectorsPerFat = sectorsPerFat;
    node.sectorsPerCluster = 1;
    node.totalSectors = 1 + 2 * sectorsPerFat + 8;
    node.dataStart = node.startSector = 1 + 2 * sectorsPerFat;
    disk.assign(uint64_t{node.totalSectors} * 512, 0);
    std::fill_n(disk.begin() + 512, sectorsPerFat * 512, 0x11);
    std::fill_n(disk.begin() + (1 + sectorsPerFat) * 512, sectorsPerFat * 512, 0x22);
  }
  // Whether every read of the rig stayed before FAT 2.
  bool NothingReadFromFat2(const ViewRig& rig) const {
    const uint64_t fat2 = (1 + uint64_t{node.sectorsPerFat}) * 512;
    return std::all_of(rig.dev->readLog.begin(), rig.dev->readLog.end(),
                       [&](const auto& read) { return read.first < fat2; });
  }
  DrivePacket node;
  std::vector<uint8_t> disk;
};

bool AllBytes(const std::vector<uint8_t>& table, uint8_t value) {
  return !table.empty() && std::all_of(table.begin(), table.end(),
                                       [&](uint8_t b) { return b == value; });
}

TEST(FatCopy, LargeTablesAreProbedBeforeTheirMemoryIsTaken) {
  const TwoCopies v(200);
  std::vector<uint8_t> table;
  {  // The last sector of FAT 1 is read first, then the copy.
    ViewRig rig(v.disk);
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::Loaded);
    EXPECT_TRUE(AllBytes(table, 0x11));
    EXPECT_EQ(table.size(), 200u * 512);
    EXPECT_EQ(rig.dev->readLog, (Reads{{200 * 512, 512}, {512, 200 * 512}}));
  }
  {  // FAT 1's last sector fails, FAT 2's reads: that sector comes from
     // FAT 2, every other from FAT 1.
    ViewRig rig(v.disk);
    rig.dev->badReadSectors = {200};
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::Loaded);
    ASSERT_EQ(table.size(), 200u * 512);
    EXPECT_TRUE(std::all_of(table.begin(), table.end() - 512, [](uint8_t b) { return b == 0x11; }));
    EXPECT_TRUE(std::all_of(table.end() - 512, table.end(), [](uint8_t b) { return b == 0x22; }));
  }
  {  // Neither last sector reads: refused on the two probes alone, before
     // the memory limit is looked at.
    ViewRig rig(v.disk);
    rig.dev->badReadSectors = {200, 400};
    rig.pane.budget.limit = 512;
    table.assign(10, 1);
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::Unreadable);
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(rig.dev->readLog, (Reads{{200 * 512, 512}, {400 * 512, 512}}));
  }
  {  // One FAT: its failing last sector ends the load; FAT 2 is never read.
    ViewRig rig(v.disk);
    rig.dev->badReadSectors = {200};
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table, {.secondCopy = false}),
              FatCopyLoad::Unreadable);
    EXPECT_TRUE(v.NothingReadFromFat2(rig));
  }
  {  // 128 sectors are read without a probe.
    const TwoCopies small(128);
    ViewRig rig(small.disk);
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, small.node, table), FatCopyLoad::Loaded);
    EXPECT_EQ(rig.dev->readLog, (Reads{{512, 128 * 512}}));
  }
}

TEST(FatCopy, SecondCopyOnlyWhereAllowedAndInsideTheVolume) {
  const TwoCopies v(2);
  std::vector<uint8_t> table;
  {
    ViewRig rig(v.disk);
    rig.dev->badReadSectors = {1};
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::Loaded);
    ASSERT_EQ(table.size(), 1024u);
    EXPECT_TRUE(std::all_of(table.begin(), table.begin() + 512, [](uint8_t b) { return b == 0x22; }));
    EXPECT_TRUE(std::all_of(table.begin() + 512, table.end(), [](uint8_t b) { return b == 0x11; }));

    rig.dev->readLog.clear();
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table, {.secondCopy = false}),
              FatCopyLoad::Unreadable);
    EXPECT_TRUE(table.empty());
    EXPECT_TRUE(v.NothingReadFromFat2(rig));
  }
  {  // A volume that ends inside FAT 2 has no FAT 2 to fall back on.
    DrivePacket cut = v.node;
    cut.totalSectors = 4;
    ViewRig rig(v.disk);
    rig.dev->badReadSectors = {1};
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, cut, table), FatCopyLoad::Unreadable);
    EXPECT_TRUE(v.NothingReadFromFat2(rig));
  }
  // A FAT that makes no sense is not read at all.
  auto refused = [&](DrivePacket node) {
    ViewRig rig(v.disk);
    const FatCopyLoad load = LoadFatCopy(rig.access, rig.pane.budget, node, table);
    return load == FatCopyLoad::Unreadable && rig.dev->reads == 0 && table.empty();
  };
  DrivePacket node = v.node;
  node.totalSectors = 2;  // FAT 1 ends at sector 3
  EXPECT_TRUE(refused(node));
  node = v.node;
  node.sectorsPerFat = 0;
  EXPECT_TRUE(refused(node));
  node = v.node;
  node.fatType = FatWidth::None;  // no width
  EXPECT_TRUE(refused(node));
  node = v.node;
  node.totalSectors = 0;  // size not known: still within 32-bit sector numbers
  node.sectorsPerFat = UINT32_MAX;
  EXPECT_TRUE(refused(node));
}

// A whole table is read in runs, never through the cache, and each sector
// that FAT 1 gives comes from FAT 1 even where FAT 2 differs; one sector
// that reads in neither copy makes the table Unreadable.
TEST(FatCopy, WholeTableReadsInRunsWithFatTwoStandingInPerSector) {
  TwoCopies v(3000);
  // Sector 2500 of FAT 2 is stale (as after a write that stopped between
  // the copies): FAT 1's must be the one taken.
  std::fill_n(v.disk.begin() + (1 + 3000 + 2500) * 512, 512, 0x33);
  std::vector<uint8_t> table;
  for (const auto path : {ViewRig::Direct, ViewRig::Library}) {
    ViewRig rig(v.disk, path);
    rig.dev->badReadSectors = {1 + 10, 1 + 2100};  // one in each run
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::Loaded);
    ASSERT_EQ(table.size(), 3000u * 512);
    for (uint32_t s = 0; s < 3000; ++s) {
      const uint8_t want = s == 10 || s == 2100 ? 0x22 : 0x11;
      ASSERT_TRUE(std::all_of(table.begin() + s * 512, table.begin() + (s + 1) * 512,
                              [&](uint8_t b) { return b == want; }))
          << "sector " << s;
    }
    // FAT 2 was read at the two failing places only, and nothing was kept.
    const uint64_t fat2 = (1 + 3000) * 512ull;
    Reads fromFat2;
    for (const auto& read : rig.dev->readLog)
      if (read.first >= fat2) fromFat2.push_back(read);
    EXPECT_EQ(fromFat2, (Reads{{fat2 + 10 * 512, 512}, {fat2 + 2100 * 512, 512}}));
    EXPECT_EQ(rig.access.Fats().Size(), 0u);

    // Both copies fail at one sector: Unreadable, nothing left in the table.
    rig.dev->badReadSectors.insert(1 + 3000 + 2100);
    EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::Unreadable);
    EXPECT_TRUE(table.empty());
  }
}

TEST(FatCopy, UsableSectorsAndTheBufferTakenForThem) {
  DrivePacket p;
  p.fatType = FatWidth::Fat12;
  p.sectorsPerCluster = 1;
  p.totalSectors = 2880;
  p.sectorsPerFat = 20;
  EXPECT_EQ(UsableFatSectors(p), 9u);  // 2882 entries of 12 bits
  p.totalSectors = 100000;
  EXPECT_EQ(UsableFatSectors(p), 12u);  // no more than 4096 entries
  p.fatType = FatWidth::Fat16;
  p.sectorsPerCluster = 4;
  p.totalSectors = 1000;
  EXPECT_EQ(UsableFatSectors(p), 1u);
  p.sectorsPerFat = 300;
  p.totalSectors = 0;  // not known: the width alone bounds it
  EXPECT_EQ(UsableFatSectors(p), 256u);
  p.totalSectors = 1000;
  p.sectorsPerCluster = 0;
  EXPECT_EQ(UsableFatSectors(p), 256u);
  p.fatType = FatWidth::Fat32;
  p.sectorsPerFat = 0x00FFFFFF;
  EXPECT_EQ(UsableFatSectors(p), 2097152u);
  p.fatType = FatWidth::None;
  EXPECT_EQ(UsableFatSectors(p), 0u);

  const TwoCopies v(2);  // 15 entries can be used: one sector
  ViewRig rig(v.disk);
  // A buffer already large enough is used in place, cut to what is read.
  std::vector<uint8_t> table(2 * 512, 0xAB);
  const uint8_t* block = table.data();
  EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table, {.usableSectorsOnly = true}),
            FatCopyLoad::Loaded);
  EXPECT_EQ(table.data(), block);
  EXPECT_TRUE(AllBytes(table, 0x11));
  EXPECT_EQ(table.size(), 512u);
  EXPECT_EQ(rig.dev->readLog, (Reads{{512, 512}}));
  // The whole copy does not fit in it.
  EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::Loaded);
  EXPECT_EQ(table.size(), 2u * 512);
  // Over the memory limit, whatever the buffer holds already.
  rig.pane.budget.limit = 1023;
  EXPECT_EQ(LoadFatCopy(rig.access, rig.pane.budget, v.node, table), FatCopyLoad::NoMemory);
  EXPECT_TRUE(table.empty());

  std::vector<uint32_t> list(5, 7);
  rig.pane.budget.limit = 8;
  EXPECT_TRUE(TakeClusterList(rig.pane.budget, list, 2));
  EXPECT_EQ(list, (std::vector<uint32_t>{0, 0}));
  EXPECT_FALSE(TakeClusterList(rig.pane.budget, list, 3));
  EXPECT_TRUE(list.empty());
}

}  // namespace

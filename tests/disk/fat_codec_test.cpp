#include "disk/fat_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "disk/le.h"
#include "disk/volume_layout.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr FatEntry To(uint32_t next) { return {FatEntryKind::Next, next}; }
constexpr FatEntry kFreeEntry{FatEntryKind::Free, 0};
constexpr FatEntry kNoEntry{};  // outside the table
FatEntryKind KindOf(const FatEntry& e) { return e.kind; }

TEST(FatCodec12, EntriesShareThreeBytes) {
  EXPECT_EQ(FatEntryCapacity(FatWidth::Fat12, 5), 3u);  // entry 3 would need byte 5
  // Cluster 0 always reads 0, so the pair sits at entries 2 and 3 (bytes 3-5).
  Bytes t = {0, 0, 0, 0x03, 0x40, 0x00};
  EXPECT_EQ(GetFatEntry(2, FatWidth::Fat12, t), To(0x003));
  EXPECT_EQ(GetFatEntry(3, FatWidth::Fat12, t), To(0x004));
  ASSERT_TRUE(SetFatEntry(3, FatWidth::Fat12, t, 0xABC));
  EXPECT_EQ(t, (Bytes{0, 0, 0, 0x03, 0xC0, 0xAB}));
  EXPECT_EQ(GetFatEntry(2, FatWidth::Fat12, t), To(0x003));
  ASSERT_TRUE(SetFatEntry(2, FatWidth::Fat12, t, 0xF123));  // bits above 12 are dropped
  EXPECT_EQ(t, (Bytes{0, 0, 0, 0x23, 0xC1, 0xAB}));
  EXPECT_EQ(GetFatEntry(3, FatWidth::Fat12, t), To(0xABC));
}

TEST(FatCodec32, ReservedNibbleKeptAndIgnored) {
  Bytes t(16, 0);
  t[11] = 0xA0;
  ASSERT_TRUE(SetFatEntry(2, FatWidth::Fat32, t, 0xFFFFFFFF));
  EXPECT_EQ(Bytes(t.begin() + 8, t.end() - 4), (Bytes{0xFF, 0xFF, 0xFF, 0xAF}));
  EXPECT_EQ(KindOf(GetFatEntry(2, FatWidth::Fat32, t)), FatEntryKind::End);
  ASSERT_TRUE(SetFatEntry(2, FatWidth::Fat32, t, 0x12345678 | 0xF0000000));
  EXPECT_EQ(Bytes(t.begin() + 8, t.end() - 4), (Bytes{0x78, 0x56, 0x34, 0xA2}));
  EXPECT_EQ(GetFatEntry(2, FatWidth::Fat32, t), To(0x02345678));
  putLe32(t, 8, 0xF0000003);  // a link with the reserved bits set
  putLe32(t, 12, 0x0FFFFFF8);
  EXPECT_EQ(ChainLength(2, FatWidth::Fat32, t), 2u);
}

TEST(FatCodec, UnknownWidthAndOutsideTable) {
  Bytes t(64, 0x11);
  const Bytes before = t;
  for (FatWidth width : {FatWidth::None}) {
    EXPECT_EQ(GetFatEntry(2, width, t), kNoEntry);
    EXPECT_EQ(ChainLength(2, width, t), 0u);
    EXPECT_FALSE(SetFatEntry(2, width, t, 0));
  }
  EXPECT_FALSE(SetFatEntry(32, FatWidth::Fat16, t, 0));
  EXPECT_FALSE(SetFatEntry(16, FatWidth::Fat32, t, 0));
  EXPECT_FALSE(SetFatEntry(0x10000002, FatWidth::Fat32, t, 0));  // never wrapped to entry 2
  EXPECT_EQ(GetFatEntry(32, FatWidth::Fat16, t), kNoEntry);
  EXPECT_EQ(t, before);
}

// Chains over all three widths. Tables are full-size for 12 and 16 bits so
// that an end value is also an entry inside the table.
struct WidthCase {
  FatWidth width;
  uint32_t bad, firstEnd, allOnes, entries;
};
// Named by its width, so that the test names stay the same from run to run.
void PrintTo(const WidthCase& c, std::ostream* os) {
  *os << (c.width == FatWidth::Fat12 ? 12 : c.width == FatWidth::Fat16 ? 16 : 32) << "-bit FAT";
}

class FatCodecWidth : public testing::TestWithParam<WidthCase> {
 protected:
  WidthCase w = GetParam();
  Bytes table = Bytes(w.width == FatWidth::Fat12 ? 6144 : w.width == FatWidth::Fat16 ? 131072 : 16384, 0);
  size_t BytesFor(uint32_t entries) const {
    return w.width == FatWidth::Fat12 ? (entries * 3 + 1) / 2 : entries * (w.width == FatWidth::Fat16 ? 2 : 4);
  }
  void Link(uint32_t c, uint32_t v) { ASSERT_TRUE(SetFatEntry(c, w.width, table, v)); }
};

TEST_P(FatCodecWidth, SpecialValues) {
  EXPECT_EQ(FatEntryCapacity(w.width, table.size()), w.entries);
  Link(0, w.allOnes - 7);  // media byte and friends: never read through cluster 0
  const uint32_t top = std::min(w.entries, w.bad) - 1;  // the highest readable entry
  Link(top, 0x123);
  Link(4, w.bad);
  Link(5, 1);
  EXPECT_EQ(GetFatEntry(0, w.width, table), kNoEntry);
  EXPECT_EQ(GetFatEntry(0x10000000, w.width, table), kNoEntry);
  EXPECT_EQ(GetFatEntry(top, w.width, table), To(0x123));
  EXPECT_EQ(KindOf(GetFatEntry(4, w.width, table)), FatEntryKind::Bad);
  EXPECT_EQ(GetFatEntry(5, w.width, table), (FatEntry{FatEntryKind::Reserved, 1}));
  EXPECT_EQ(GetFatEntry(6, w.width, table), kFreeEntry);
  for (uint32_t end = w.firstEnd; end != w.allOnes + 1; ++end) {
    Link(3, end);
    EXPECT_EQ(GetFatEntry(3, w.width, table), (FatEntry{FatEntryKind::End, end})) << std::hex << end;
    EXPECT_TRUE(IsFatChainEnd(end, w.width));
    if (end < w.entries) Link(end, 0x123);
    EXPECT_EQ(GetFatEntry(end, w.width, table), kNoEntry) << std::hex << end;
    Link(2, 3);
    EXPECT_EQ(ChainLength(2, w.width, table), 2u) << std::hex << end;
    EXPECT_EQ(ChainLength(end, w.width, table), 0u);
  }
  EXPECT_FALSE(IsFatChainEnd(w.bad, w.width));
}

TEST_P(FatCodecWidth, ChainEnds) {
  Link(2, 3);
  Link(3, 4);
  Link(4, w.allOnes);
  EXPECT_EQ(ChainLength(2, w.width, table), 3u);
  Link(4, 0);  // a free last entry still counts its cluster
  EXPECT_EQ(ChainLength(2, w.width, table), 3u);
  EXPECT_EQ(ChainLength(6, w.width, table), 1u);
  Link(4, 1);  // cluster 1 is no data cluster
  EXPECT_EQ(ChainLength(2, w.width, table), 3u);
  Link(4, w.bad);  // followed like a link, where the table has that entry
  EXPECT_EQ(ChainLength(2, w.width, table), w.bad < w.entries ? 4u : 3u);
  Link(4, w.entries);  // a link out of the table ends the walk after 4
  EXPECT_EQ(ChainLength(2, w.width, table), 3u);
  EXPECT_EQ(ChainLength(1, w.width, table), 0u);
  EXPECT_EQ(ChainLength(w.entries, w.width, table), 0u);
  EXPECT_EQ(ChainLength(0x10000000, w.width, table), 0u);
  // Loops: into the middle, onto itself, and back to the start.
  Link(4, 5);
  Link(5, 3);
  EXPECT_EQ(ChainLength(2, w.width, table), 4u);
  Link(7, 7);
  EXPECT_EQ(ChainLength(7, w.width, table), 1u);
  Link(8, 9);
  Link(9, 8);
  EXPECT_EQ(ChainLength(8, w.width, table), 2u);
}

TEST_P(FatCodecWidth, ListChainStopsWhereTheChainDoes) {
  Link(2, 5);
  Link(5, 3);
  Link(3, w.firstEnd);
  std::vector<uint32_t> list(5, 99);
  EXPECT_EQ(ListChain(2, w.width, list, 3, table), w.firstEnd);
  EXPECT_EQ(list, (std::vector<uint32_t>{2, 5, 3, 99, 99}));
  EXPECT_EQ(ListChain(2, w.width, list, 2, table), 3u);
  EXPECT_EQ(ListChain(2, w.width, list, 5, table), 0xFFFFFFFFu);
  EXPECT_EQ(list, (std::vector<uint32_t>{2, 5, 3, 0, 0}));
  Link(3, 5);  // 2 -> 5 -> 3 -> 5: listed once round
  list.assign(5, 99);
  EXPECT_EQ(ListChain(2, w.width, list, 3, table), 5u);
  EXPECT_EQ(ListChain(2, w.width, list, 9, table), 0xFFFFFFFFu);  // bounded by the list
  EXPECT_EQ(list, (std::vector<uint32_t>{2, 5, 3, 0, 0}));
}

TEST_P(FatCodecWidth, SkipBadEntriesAndFindFree) {
  for (uint32_t c = 2; c < 6; ++c) Link(c, w.bad);
  uint32_t cluster = 3;
  SkipBadEntries(table, cluster, w.width);
  EXPECT_EQ(cluster, 6u);
  const uint32_t cap = FatEntryCapacity(w.width, table.size());
  for (uint32_t c = 6; c < cap; ++c) Link(c, w.bad);
  cluster = 2;
  SkipBadEntries(table, cluster, w.width);
  EXPECT_EQ(cluster, cap);  // stops at the end of the table

  for (uint32_t c = 2; c < 12; ++c) Link(c, c == 9 || c == 7 ? 0 : 3);
  DrivePacket v;
  v.fatType = w.width;
  v.lastCluster = 9;  // 8 data clusters: 2..9, the last one free
  EXPECT_EQ(FindFreeCluster(v, table), 7u);
  EXPECT_EQ(FindFreeCluster(v, table, 8), 9u);  // from cluster 8 on
  EXPECT_EQ(FindFreeCluster(v, table, 0), 7u);  // never below cluster 2
  Link(7, 2);
  EXPECT_EQ(FindFreeCluster(v, table), 9u);
  v.lastCluster = 8;  // 7 clusters: 2..8
  EXPECT_EQ(FindFreeCluster(v, table), 0u);
  v.lastCluster = 0xFFFFFFFF;  // the table bounds it
  EXPECT_EQ(FindFreeCluster(v, std::span(table).first(BytesFor(10))), 9u);
  EXPECT_EQ(FindFreeCluster(v, std::span(table).first(BytesFor(9))), 0u);
  v.lastCluster = 1;  // no data cluster
  EXPECT_EQ(FindFreeCluster(v, table), 0u);
  v.lastCluster = 0;  // not known
  EXPECT_EQ(FindFreeCluster(v, table), 0u);
}

INSTANTIATE_TEST_SUITE_P(FatCodecWidths, FatCodecWidth,
                         testing::Values(WidthCase{FatWidth::Fat12, 0xFF7, 0xFF8, 0xFFF, 4096},
                                         WidthCase{FatWidth::Fat16, 0xFFF7, 0xFFF8, 0xFFFF, 65536},
                                         WidthCase{FatWidth::Fat32, 0x0FFFFFF7, 0x0FFFFFF8,
                                                   0x0FFFFFFF, 4096}));

// A 2 MiB disk behind drive 0x80 on the direct path; every sector holds its
// own number in its first byte.
class FatCodecClusters : public testing::Test {
 protected:
  void SetUp() override {
    Bytes bytes(4096 * 512);
    for (size_t s = 0; s < 4096; ++s) bytes[s * 512] = static_cast<uint8_t>(s);
    dev = drives.AddDisk(std::move(bytes));
    drives.Bind();
    packet.drive = 0x80;
    packet.partitionStart = 10;
    packet.startSector = 20;
    packet.sectorsPerCluster = 2;
  }
  TestDrives drives;
  DiskAccess& access = drives.access;
  FaultDevice* dev = nullptr;
  DrivePacket packet;
};

TEST_F(FatCodecClusters, ReadsEachClusterInListOrder) {
  const std::vector<uint32_t> list = {5, 2, 3};
  Bytes buf(3 * 1024, 0);
  EXPECT_TRUE(ReadClusters(access, list, packet, 0, nullptr));
  EXPECT_EQ(dev->reads, 0);
  ASSERT_TRUE(ReadClusters(access, list, packet, 3, buf.data()));
  EXPECT_EQ(dev->readLog, (std::vector<std::pair<uint64_t, size_t>>{
                              {36 * 512, 1024}, {30 * 512, 1024}, {32 * 512, 1024}}));
  EXPECT_EQ(buf[0], 36);
  EXPECT_EQ(buf[512], 37);
  EXPECT_EQ(buf[1024], 30);
  EXPECT_EQ(buf[2048], 32);

  dev->readLog.clear();
  dev->badReadSectors = {31};  // the second cluster fails; the third is not tried
  EXPECT_FALSE(ReadClusters(access, list, packet, 3, buf.data()));
  EXPECT_EQ(dev->readLog, (std::vector<std::pair<uint64_t, size_t>>{
                              {36 * 512, 1024}, {30 * 512, 1024}, {30 * 512, 512}, {31 * 512, 512}}));
}

TEST_F(FatCodecClusters, RefusesDamagedListsBeforeMovingAnything) {
  Bytes buf(4 * 1024, 0xAA);
  const std::vector<uint32_t> good = {2, 3};
  EXPECT_FALSE(ReadClusters(access, good, packet, 3, buf.data()));  // list too short
  const std::vector<uint32_t> withOne = {2, 1};
  EXPECT_FALSE(ReadClusters(access, withOne, packet, 2, buf.data()));
  EXPECT_FALSE(WriteClusters(access, withOne, packet, 2, buf.data()));
  const std::vector<uint32_t> huge = {2, 0x80000000};  // past 32-bit sector numbers
  EXPECT_FALSE(WriteClusters(access, huge, packet, 2, buf.data()));
  DrivePacket noCluster = packet;
  noCluster.sectorsPerCluster = 0;
  EXPECT_FALSE(ReadClusters(access, good, noCluster, 2, buf.data()));
  EXPECT_EQ(dev->reads + dev->writes, 0);
}

TEST_F(FatCodecClusters, WritesEachClusterAtItsSectors) {
  Bytes buf(2 * 1024);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i / 512 + 0xC0);
  const std::vector<uint32_t> list = {4, 9};
  ASSERT_TRUE(WriteClusters(access, list, packet, 2, buf.data()));
  EXPECT_EQ(dev->writeLog, (std::vector<std::pair<uint64_t, size_t>>{{34 * 512, 1024},
                                                                     {44 * 512, 1024}}));
  const Bytes& d = dev->Bytes();
  EXPECT_EQ(d[34 * 512], 0xC0);
  EXPECT_EQ(d[35 * 512 + 511], 0xC1);
  EXPECT_EQ(d[44 * 512], 0xC2);
  EXPECT_EQ(d[45 * 512 + 511], 0xC3);
  EXPECT_EQ(d[36 * 512], 36);  // the clusters between are untouched
}

// A FAT32 volume made by mkfs.fat: its root folder ends with 0x0FFFFFF8, and a
// file written by mtools reads back through the chain.
TEST(FatCodecImage, Fat32VolumeFromMkfs) {
  TempDir dir;
  const FatVolume vol = MakeFatImage(dir.File("f32.img"), 32, 70000, "-s 1");
  Bytes payload(3 * 512 + 100);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_TRUE(vol.PutFile("::/DATA.BIN", payload));
  const Bytes image = ReadFileBytes(vol.image);
  const std::optional<VolumeLayout> layout = DecodeVolume(std::span<const uint8_t>(image).first(512));
  ASSERT_TRUE(layout);
  ASSERT_EQ(layout->sectorsPerCluster, 1);
  const uint32_t root = layout->rootCluster, dataStart = layout->dataStart;
  const std::span<const uint8_t> fat(image.data() + layout->fatStart * 512,
                                     layout->sectorsPerFat * 512);
  EXPECT_EQ(le32(fat, root * 4), 0x0FFFFFF8u);
  EXPECT_EQ(KindOf(GetFatEntry(root, FatWidth::Fat32, fat)), FatEntryKind::End);
  EXPECT_EQ(ChainLength(root, FatWidth::Fat32, fat), 1u);

  const std::span<const uint8_t> rootDir(image.data() + (dataStart + root - 2) * 512, 512);
  uint32_t first = 0;
  for (size_t e = 0; e < 512; e += 32)
    if (std::string(rootDir.begin() + e, rootDir.begin() + e + 11) == "DATA    BIN")
      first = le16(rootDir, e + 26) | uint32_t{le16(rootDir, e + 20)} << 16;
  ASSERT_EQ(ChainLength(first, FatWidth::Fat32, fat), 4u);
  std::vector<uint32_t> list(4);
  EXPECT_TRUE(IsFatChainEnd(ListChain(first, FatWidth::Fat32, list, 4, fat), FatWidth::Fat32));

  TestDrives drives;
  drives.AddDisk(image);
  drives.Bind();
  DiskAccess& access = drives.access;
  DrivePacket packet;
  packet.drive = 0x80;
  packet.startSector = dataStart;
  packet.sectorsPerCluster = 1;
  Bytes buf(4 * 512);
  ASSERT_TRUE(ReadClusters(access, list, packet, 4, buf.data()));
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + payload.size()), payload);
}

}  // namespace

// The directory loader over a FAT16 volume made by mkfs.fat whose folder
// mtools left in several runs of clusters: what it reads, from where, and how
// a bad sector, a looping chain, a chain leaving the volume, an unreadable FAT
// and a small budget change what it hands back.
#include "disk/directory_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "disk/dir_entry.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "fixtures/image_builder.h"
#include "views/view_rig.h"

namespace {

constexpr uint32_t kSectors = 16384;  // 8 MiB: a 16-bit FAT at one sector a cluster

struct LoaderRig : ViewRig {
  explicit LoaderRig(std::vector<uint8_t> bytes) : ViewRig(std::move(bytes)) {
    volume = VolumeFromImage(dev->Bytes(), 0, FatWidth::Fat16);
    folder = RootEntryNode(dev->Bytes(), volume, "DIR        ");
    folder.attributes = kAttrFolder;
  }
  std::span<uint8_t> Fat(int copy) {
    return {dev->Bytes().data() + (uint64_t{volume.reservedSectors} + copy * volume.sectorsPerFat) * 512,
            uint64_t{volume.sectorsPerFat} * 512};
  }
  // Changes a link in both copies behind the program's back, so the FAT
  // cache's sectors are dropped as a write through the program would.
  void Link(uint32_t cluster, uint32_t next) {
    for (int copy = 0; copy < 2; ++copy) {
      Fat(copy)[cluster * 2] = static_cast<uint8_t>(next);
      Fat(copy)[cluster * 2 + 1] = static_cast<uint8_t>(next >> 8);
    }
    access.Fats().Clear();
  }
  // Byte offset on the device of a cluster's first byte.
  uint64_t ClusterByte(uint32_t cluster) const {
    return (uint64_t{volume.dataStart} + uint64_t{cluster - 2} * volume.sectorsPerCluster) * 512;
  }
  DirectoryImage LoadFromTable() { return LoadDirectory(access, {}, folder, Fat(0)); }
  DirectoryImage LoadFromCache() {
    FatReader fat(access, {}, volume);
    return LoadDirectory(access, {}, folder, fat);
  }

  DrivePacket volume, folder;
};

// DIR gets 60 long-named files, ten at a time, with a root file written
// between the runs, so its clusters lie in several places.
const std::vector<uint8_t>& FragmentedVolume() {
  static const std::vector<uint8_t> bytes = [] {
    TempDir dir;
    const FatVolume v = MakeFatImage(dir.File("v.img"), 16, kSectors, "-s 1");
    EXPECT_TRUE(v.MakeDir("::/DIR"));
    for (int run = 0; run < 6; ++run) {
      for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(v.PutFile("::/DIR/a rather long file name " + std::to_string(run * 10 + i) + ".txt",
                              "x"));
      EXPECT_TRUE(v.PutFile("::/GAP" + std::to_string(run) + ".BIN", std::string(600, 'g')));
    }
    return ReadFileBytes(v.image);
  }();
  return bytes;
}

TEST(DirectoryLoader, FolderBytesComeFromItsChainsClustersOnBothFatRoads) {
  LoaderRig rig(FragmentedVolume());
  const DirectoryImage image = rig.LoadFromTable();
  ASSERT_TRUE(image.Complete());
  EXPECT_FALSE(image.root);
  ASSERT_GE(image.clusters.size(), 6u);
  // Not one run: the chain has a gap somewhere.
  bool gap = false;
  for (size_t i = 1; i < image.clusters.size(); ++i) gap |= image.clusters[i] != image.clusters[i - 1] + 1;
  EXPECT_TRUE(gap);
  ASSERT_EQ(image.bytes.size(), image.clusters.size() * 512);
  const auto& disk = rig.dev->Bytes();
  for (size_t i = 0; i < image.clusters.size(); ++i) {
    EXPECT_TRUE(std::equal(image.bytes.begin() + i * 512, image.bytes.begin() + (i + 1) * 512,
                           disk.begin() + static_cast<ptrdiff_t>(rig.ClusterByte(image.clusters[i]))))
        << "cluster " << image.clusters[i];
  }
  // Every byte's sector, as the writers address it, is where the byte came from.
  for (size_t offset = 0; offset < image.bytes.size(); offset += 97) {
    const std::optional<uint32_t> index = DirectorySectorIndex(rig.folder, image, offset);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(disk[(uint64_t{rig.folder.startSector} + *index) * 512 + offset % 512], image.bytes[offset]);
  }
  EXPECT_FALSE(DirectorySectorIndex(rig.folder, image, image.bytes.size()).has_value());

  const DirectoryImage cached = rig.LoadFromCache();
  EXPECT_TRUE(cached.Complete());
  EXPECT_EQ(cached.clusters, image.clusters);
  EXPECT_EQ(cached.bytes, image.bytes);
}

TEST(DirectoryLoader, AnUnreadableSectorHidesOnlyItsOwnEntries) {
  LoaderRig rig(FragmentedVolume());
  const DirectoryImage clean = rig.LoadFromTable();
  ASSERT_TRUE(clean.Complete());
  const uint32_t badCluster = clean.clusters[2];
  rig.dev->badReadSectors.insert(rig.ClusterByte(badCluster) / 512);

  const DirectoryImage image = rig.LoadFromTable();
  ASSERT_TRUE(image.Loaded());
  EXPECT_FALSE(image.Complete());
  EXPECT_EQ(image.clusters, clean.clusters);
  for (size_t s = 0; s < image.sectorRead.size(); ++s) EXPECT_EQ(image.sectorRead[s], s != 2) << s;
  EXPECT_TRUE(std::all_of(image.bytes.begin() + 2 * 512, image.bytes.begin() + 3 * 512,
                          [](uint8_t b) { return b == 0xE5; }));
  EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.begin() + 2 * 512, clean.bytes.begin()));
  EXPECT_TRUE(std::equal(image.bytes.begin() + 3 * 512, image.bytes.end(), clean.bytes.begin() + 3 * 512));

  // The fixed root the same way: one bad sector of its 32, the rest as on disk.
  DrivePacket root = rig.volume;
  root.kind = NodeKind::RootDir;
  rig.dev->badReadSectors = {uint64_t{root.startSector} + 1};
  const DirectoryImage rootImage = LoadDirectory(rig.access, {}, root, rig.Fat(0));
  ASSERT_TRUE(rootImage.Loaded());
  EXPECT_TRUE(rootImage.root);
  ASSERT_EQ(rootImage.sectorRead.size(), root.sectorCount);
  EXPECT_FALSE(rootImage.SectorRead(512 + 31));
  EXPECT_TRUE(rootImage.SectorRead(511));
  EXPECT_TRUE(rootImage.SectorRead(1024));
  EXPECT_EQ(std::memcmp(rootImage.bytes.data(), rig.dev->Bytes().data() + uint64_t{root.startSector} * 512, 512), 0);
}

TEST(DirectoryLoader, ALoopingChainIsReadOnceAndAChainLeavingTheVolumeIsCut) {
  LoaderRig rig(FragmentedVolume());
  const DirectoryImage clean = rig.LoadFromTable();
  ASSERT_TRUE(clean.Complete());

  // The last cluster leads back to the second: every cluster once, no more.
  rig.Link(clean.clusters.back(), clean.clusters[1]);
  for (const DirectoryImage& looped : {rig.LoadFromTable(), rig.LoadFromCache()}) {
    ASSERT_TRUE(looped.Loaded());
    EXPECT_EQ(looped.clusters, clean.clusters);
    EXPECT_EQ(looped.bytes, clean.bytes);
  }

  // The third cluster leads to a number the FAT holds but the volume has no
  // room for: the folder ends with the clusters inside it.
  const uint32_t lastCluster = (rig.volume.totalSectors - rig.volume.dataStart) / rig.volume.sectorsPerCluster + 1;
  ASSERT_LT(lastCluster + 5, rig.volume.sectorsPerFat * 256u);
  rig.Link(clean.clusters[2], lastCluster + 5);
  rig.Link(lastCluster + 5, 0xFFFF);
  for (const DirectoryImage& cut : {rig.LoadFromTable(), rig.LoadFromCache()}) {
    ASSERT_TRUE(cut.Loaded());
    EXPECT_TRUE(cut.cut);
    EXPECT_FALSE(cut.Complete());
    EXPECT_EQ(cut.clusters, std::vector<uint32_t>(clean.clusters.begin(), clean.clusters.begin() + 3));
    EXPECT_EQ(cut.bytes.size(), 3u * 512);
  }
}

TEST(DirectoryLoader, AnUnreadableFatOrASmallBudgetSaySoInsteadOfGuessing) {
  LoaderRig rig(FragmentedVolume());
  const DirectoryImage clean = rig.LoadFromTable();
  ASSERT_TRUE(clean.Complete());

  // The FAT sector that holds the folder's links, bad in both copies: the
  // folder is its first cluster (the entry names it), and the reader says
  // the FAT could not be read.
  const uint32_t fatSector = clean.clusters[0] * 2 / 512;
  ASSERT_EQ(clean.clusters[1] * 2 / 512, fatSector);
  for (int copy = 0; copy < 2; ++copy)
    rig.dev->badReadSectors.insert(uint64_t{rig.volume.reservedSectors} + copy * rig.volume.sectorsPerFat + fatSector);
  {
    FatReader fat(rig.access, {}, rig.volume);
    const DirectoryImage image = LoadDirectory(rig.access, {}, rig.folder, fat);
    ASSERT_TRUE(image.Loaded());
    EXPECT_EQ(image.clusters, std::vector<uint32_t>{clean.clusters[0]});
    EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.end(), clean.bytes.begin()));
    EXPECT_EQ(fat.Status(), FatCopyLoad::Unreadable);
  }
  // With only FAT 1's sector bad, FAT 2 stands in and nothing is lost.
  rig.dev->badReadSectors.erase(uint64_t{rig.volume.reservedSectors} + rig.volume.sectorsPerFat + fatSector);
  rig.access.Fats().Clear();
  {
    FatReader fat(rig.access, {}, rig.volume);
    const DirectoryImage image = LoadDirectory(rig.access, {}, rig.folder, fat);
    EXPECT_TRUE(image.Complete());
    EXPECT_EQ(image.bytes, clean.bytes);
  }
  rig.dev->badReadSectors.clear();

  // A budget below the cluster list, then below the folder's bytes.
  const DirectoryImage noList =
      LoadDirectory(rig.access, MemoryBudget{clean.clusters.size() * 4 - 1}, rig.folder, rig.Fat(0));
  EXPECT_EQ(noList.status, DirectoryImage::Status::NoClusterList);
  const DirectoryImage noBytes =
      LoadDirectory(rig.access, MemoryBudget{clean.bytes.size() - 1}, rig.folder, rig.Fat(0));
  EXPECT_EQ(noBytes.status, DirectoryImage::Status::NoBuffer);
  EXPECT_TRUE(noBytes.bytes.empty());
  EXPECT_TRUE(noBytes.clusters.empty());
}

}  // namespace

// The FAT cache counted at the device: the tree reads the FAT sectors its
// folders' chains lie in and no others, each once; later listings read none
// again; and no kept sector outlives a write that reaches it or Refresh.
#include "disk/fat_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "cli/tree_session.h"
#include "disk/boot_sector.h"
#include "disk/dir_entry.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/le.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "recovery/undelete.h"
#include "views/show_node.h"
#include "views/write_changes.h"
#include "disk/drive_map.h"
#include "tests/scan/scan_rig.h"
#include "tools/undo_writes.h"

namespace {

using Reads = std::map<uint32_t, int>;  // FAT sector index -> reads

// One hard disk (a FAT32 partition at sector 2048) behind gleaner-cli's tree
// session, on either access path.
struct CountedDisk : TestDrives {
  CountedDisk(std::vector<uint8_t> bytes, bool library) : TestDrives(library ? Library : Direct) {
    dev = AddDisk(std::move(bytes));
    Bind();
    const std::optional<VolumeLayout> layout =
        DecodeVolume(std::span<const uint8_t>(dev->Bytes()).subspan(uint64_t{kStart} * 512, 512));
    EXPECT_TRUE(layout);
    if (!layout) return;
    fatStart = kStart + layout->fatStart;
    sectorsPerFat = layout->sectorsPerFat;
  }

  // Every node below the drives, expanded as `gleaner-cli tree` does; the
  // folders (with the root folder first) go into folders.
  std::vector<TreeNode> WalkTree() {
    std::vector<TreeNode> all;
    std::function<void(const TreeNode&)> walk = [&](const TreeNode& n) {
      all.push_back(n);
      for (const auto& c : session.Expand(n)) walk(c);
    };
    for (const auto& top : session.ListDrives()) walk(top);
    return all;
  }

  // Reads that reached FAT copy `copy`, by sector; a read of more than one
  // sector there fails the test.
  Reads FatReads(uint32_t copy = 0) const {
    Reads reads;
    const uint64_t from = (uint64_t{fatStart} + uint64_t{copy} * sectorsPerFat) * 512;
    const uint64_t to = from + uint64_t{sectorsPerFat} * 512;
    for (const auto& [offset, length] : dev->readLog) {
      if (offset >= to || offset + length <= from) continue;
      EXPECT_EQ(length, 512u) << offset;
      ++reads[static_cast<uint32_t>((offset - from) / 512)];
    }
    return reads;
  }

  // The FAT 1 sectors the chains of these folders lie in, from the image's
  // own FAT.
  std::set<uint32_t> ChainSectors(const std::vector<uint32_t>& firstClusters) const {
    const std::span<const uint8_t> fat(dev->Bytes().data() + uint64_t{fatStart} * 512,
                                       uint64_t{sectorsPerFat} * 512);
    std::set<uint32_t> sectors;
    for (uint32_t first : firstClusters) {
      std::vector<uint32_t> chain(ChainLength(first, FatWidth::Fat32, fat));
      EXPECT_FALSE(chain.empty()) << first;
      ListChain(first, FatWidth::Fat32, chain, static_cast<uint32_t>(chain.size()), fat);
      for (uint32_t c : chain) sectors.insert(c * 4 / 512);
    }
    return sectors;
  }

  TreeSession session{access};
  FaultDevice* dev = nullptr;
  static constexpr uint32_t kStart = 2048;
  uint32_t fatStart = 0, sectorsPerFat = 0;  // fatStart: absolute
};

bool IsFolder(const TreeNode& n) {
  return n.packet != nullptr && n.packet->kind == NodeKind::DirEntry &&
         (n.packet->attributes & kAttrFolder) != 0;
}

// A 40 MB FAT32 partition of 512-byte clusters (about 80,000 clusters, a FAT of
// 620 sectors): folders whose chains are split over FAT sectors far apart,
// with large files between them whose FAT sectors no folder needs.
std::vector<uint8_t> SpreadVolume(const TempDir& dir) {
  PartitionImage(dir.File("spread.img"), 2048 + 80000, "start=2048, size=80000, type=c\n");
  const FatVolume v = FormatPartition(dir.File("spread.img"), 2048, 80000, 32, "-s 1");
  EXPECT_TRUE(v.MakeDir("::/ALPHA"));
  for (int i = 0; i < 40; ++i)
    EXPECT_TRUE(v.PutFile("::/ALPHA/F" + std::to_string(i) + ".TXT", "alpha"));
  // 600 clusters: almost five FAT sectors of a file's chain.
  EXPECT_TRUE(v.PutFile("::/BIG1.BIN", std::vector<uint8_t>(600 * 512, 0x11)));
  EXPECT_TRUE(v.MakeDir("::/BETA"));
  EXPECT_TRUE(v.MakeDir("::/BETA/GAMMA"));
  EXPECT_TRUE(v.PutFile("::/BIG2.BIN", std::vector<uint8_t>(700 * 512, 0x22)));
  // ALPHA grows again: its chain now has a cluster past both large files.
  for (int i = 40; i < 60; ++i)
    EXPECT_TRUE(v.PutFile("::/ALPHA/F" + std::to_string(i) + ".TXT", "alpha"));
  EXPECT_TRUE(v.PutFile("::/BETA/GAMMA/NOTE.TXT", "gamma"));
  EXPECT_TRUE(v.PutFile("::/GONE.TXT", "deleted"));
  EXPECT_TRUE(v.Delete("::/GONE.TXT"));
  return ReadFileBytes(v.image);
}

TEST(FatCache, TreeReadsTheFatSectorsOfItsFoldersChainsOnlyAndOnce) {
  TempDir dir;
  const std::vector<uint8_t> image = SpreadVolume(dir);
  for (bool library : {false, true}) {
    SCOPED_TRACE(library ? "library path" : "direct path");
    CountedDisk disk(image, library);
    const std::vector<TreeNode> all = disk.WalkTree();

    std::vector<uint32_t> folders;
    for (const auto& n : all)
      if (IsFolder(n)) folders.push_back(n.packet->firstCluster);
    ASSERT_EQ(folders.size(), 4u);  // the root folder, ALPHA, BETA, GAMMA
    const std::set<uint32_t> needed = disk.ChainSectors(folders);
    // The large files' chains lie in sectors of their own, which nothing reads.
    EXPECT_GE(needed.size(), 3u);
    EXPECT_LT(needed.size(), 6u);

    const Reads reads = disk.FatReads();
    std::set<uint32_t> read;
    for (const auto& [sector, times] : reads) {
      read.insert(sector);
      EXPECT_EQ(times, 1) << "FAT sector " << sector;
    }
    EXPECT_EQ(read, needed);
    EXPECT_TRUE(disk.FatReads(1).empty());
    EXPECT_EQ(disk.access.Fats().Size(), needed.size());
    EXPECT_TRUE(disk.prompt.Messages().empty());

    // Expanding every folder again, and listing each as the window does when
    // it is selected, reads no FAT sector again.
    disk.dev->readLog.clear();
    for (const auto& n : all) {
      if (!IsFolder(n)) continue;
      EXPECT_FALSE(disk.session.Expand(n).empty());
      ShowNode(disk.session.ctx, *n.packet, {});
      EXPECT_EQ(disk.session.page.viewKind, ViewKind::SubDirectory);
      ShowNode(disk.session.ctx, *n.packet, {.sectorDump = true});
      EXPECT_EQ(disk.session.page.viewKind, ViewKind::ClusterDump);
    }
    EXPECT_TRUE(disk.FatReads().empty());
    EXPECT_TRUE(disk.prompt.Messages().empty());
  }
}

TEST(FatCache, FatTwoStandsInSectorBySectorAndIsKeptApart) {
  TempDir dir;
  const std::vector<uint8_t> image = SpreadVolume(dir);
  CountedDisk disk(image, false);
  const std::vector<TreeNode> tops = disk.session.ListDrives();
  const TreeNode root = disk.session.Expand(disk.session.Expand(tops[0])[0]).back();
  const uint32_t rootSector = root.packet->firstCluster * 4 / 512;
  disk.dev->badReadSectors = {disk.fatStart + rootSector};

  // The root folder's chain comes from FAT 2's sector; nothing is said.
  const std::vector<TreeNode> files = disk.session.Expand(root);
  EXPECT_EQ(files.size(), 4u);  // ALPHA, BIG1.BIN, BETA, BIG2.BIN
  EXPECT_TRUE(disk.prompt.Messages().empty());
  EXPECT_EQ(disk.FatReads(1), (Reads{{rootSector, 1}}));

  // A reader that must not take FAT 2 does not get the kept FAT 2 bytes.
  FatReader one(disk.access, {}, *root.packet, {.secondCopy = false});
  EXPECT_EQ(GetFatEntry(root.packet->firstCluster, one).kind, FatEntryKind::OutsideTable);
  EXPECT_EQ(one.Status(), FatCopyLoad::Unreadable);

  // A write to FAT 2's sector drops the bytes it gave.
  uint8_t sector[512] = {};
  ASSERT_EQ(disk.access.DeviceWrite(0x80,
                                    uint64_t{disk.fatStart + disk.sectorsPerFat + rootSector} * 512,
                                    sector, 0),
            0);
  EXPECT_EQ(disk.access.Fats().Size(), 1u);  // an empty write reaches nothing
  ASSERT_EQ(disk.access.DeviceWrite(
                0x80, uint64_t{disk.fatStart + disk.sectorsPerFat + rootSector} * 512 + 100,
                disk.dev->Bytes().data() + uint64_t{disk.fatStart + disk.sectorsPerFat +
                                                    rootSector} * 512 + 100,
                4),
            4);
  EXPECT_EQ(disk.access.Fats().Size(), 0u);

  // Neither copy reads: the folder says so.
  disk.dev->badReadSectors.insert(disk.fatStart + disk.sectorsPerFat + rootSector);
  disk.prompt.Clear();
  EXPECT_TRUE(disk.session.Expand(root).empty());
  EXPECT_EQ(disk.prompt.Messages(), std::vector<std::string>{"FAT not accessible!"});
}

// A volume of one FAT (mkfs.fat -f 1): the sectors after FAT 1 hold its root
// directory, so nothing stands in for an unreadable FAT 1 sector there.
TEST(FatCache, AOneFatVolumeHasNoSecondCopyToStandIn) {
  TempDir dir;
  const std::string file = dir.File("one.img");
  ASSERT_TRUE(PartitionImage(file, 2048 + 40960, "start=2048, size=40960, type=6\n"));
  const FatVolume v = FormatPartition(file, 2048, 40960, 16, "-f 1 -s 1");
  ASSERT_TRUE(v.MakeDir("::/DIR"));
  ASSERT_TRUE(v.PutFile("::/DIR/BIG.BIN", std::string(5 * 512, 'b')));
  for (bool library : {false, true}) {
    SCOPED_TRACE(library ? "library path" : "direct path");
    CountedDisk disk(ReadFileBytes(file), library);
    const std::vector<TreeNode> tops = disk.session.ListDrives();
    const std::vector<TreeNode> volume = disk.session.Expand(disk.session.Expand(tops[0])[0]);
    ASSERT_EQ(volume.size(), 2u);  // FAT 1 and the root: one copy
    const std::vector<TreeNode> root = disk.session.Expand(volume.back());
    ASSERT_EQ(root.size(), 1u);
    const TreeNode folder = root[0];
    EXPECT_EQ(folder.packet->fatCount, 1u);

    disk.access.Fats().Clear();
    disk.dev->badReadSectors = {disk.fatStart};
    disk.dev->readLog.clear();
    EXPECT_TRUE(disk.session.Expand(folder).empty());
    EXPECT_EQ(disk.prompt.Messages(), std::vector<std::string>{"FAT not accessible!"});
    std::vector<uint8_t> table;
    EXPECT_EQ(LoadFatCopy(disk.access, {}, *folder.packet, table), FatCopyLoad::Unreadable);
    // The root's first sector, where a FAT 2 would hold FAT 1's bad one, was never read.
    EXPECT_EQ(disk.FatReads(1).count(0), 0u);
  }
}

// A FAT 1 sector kept by the tree, then changed on disk by Write Changes on
// its page, by Undelete, or behind the program's back before Refresh: the
// next reader sees the disk's bytes.
TEST(FatCache, NoKeptSectorOutlivesAWriteOrRefresh) {
  TempDir dir;
  const std::vector<uint8_t> image = SpreadVolume(dir);
  for (bool library : {false, true}) {
    SCOPED_TRACE(library ? "library path" : "direct path");
    CountedDisk disk(image, library);
    auto find = [&](const std::vector<TreeNode>& nodes, const std::string& label) {
      for (const auto& n : nodes)
        if ((n.labelByCallback ? NodeLabel(*n.packet) : n.label) == label) return n;
      ADD_FAILURE() << "no " << label;
      return TreeNode{};
    };
    const std::vector<TreeNode> volume =
        disk.session.Expand(disk.session.Expand(disk.session.ListDrives()[0])[0]);
    const TreeNode fat1 = find(volume, "FAT 1");
    const TreeNode root = find(volume, "Root Directory");
    const TreeNode alpha = find(disk.session.Expand(root), "ALPHA   .   ");
    ASSERT_EQ(disk.session.Expand(alpha).size(), 60u);

    // Write Changes on the FAT 1 page that holds ALPHA's first entry: the
    // chain now ends at its first cluster (16 entries less "." and "..").
    const uint32_t first = alpha.packet->firstCluster;
    ShowNode(disk.session.ctx, *fat1.packet, {.sectorDump = true});
    ViewPage& pane = disk.session.page;
    pane.pageIndex = first * 4 / 512;
    DrivePacket page = *fat1.packet;
    page.startSector += pane.pageIndex;
    page.sectorCount = 1;
    ASSERT_TRUE(ReadSectors(disk.access, page, pane.sectorBuffer.data()));
    putLe32(std::span<uint8_t>(pane.sectorBuffer.data(), 512), first * 4 % 512, 0x0FFFFFFF);
    disk.prompt.AnswerYes();
    ASSERT_TRUE(WriteChanges(disk.session.ctx, {.sectorDump = true}));
    EXPECT_EQ(disk.session.Expand(alpha).size(), 14u);

    // Undelete GONE.TXT from the root listing: its cluster's entry, kept as
    // free, now ends a chain, and a reader sees that without Refresh.
    ShowNode(disk.session.ctx, *root.packet, {});
    std::vector<int> selected;
    const uint32_t gone = [&] {
      for (size_t r = 0; r < pane.rows.size(); ++r) {
        const DirectoryRow& row = pane.rowStore[pane.rows[r].value];
        if (std::string(row.dosName) == std::string("\xE5ONE    .TXT")) {
          selected = {static_cast<int>(r)};
          return row.firstCluster;
        }
      }
      ADD_FAILURE() << "no deleted row";
      return 0u;
    }();
    FatReader before(disk.access, {}, *root.packet);
    EXPECT_EQ(GetFatEntry(gone, before).kind, FatEntryKind::Free);
    const UndeleteResult undone = Undelete(disk.session.ctx, *root.packet, selected);
    EXPECT_EQ(undone.revived, 1u);
    EXPECT_FALSE(undone.writeFailed);
    FatReader after(disk.access, {}, *root.packet);
    EXPECT_EQ(GetFatEntry(gone, after).kind, FatEntryKind::End);
    EXPECT_EQ(disk.session.Expand(alpha).size(), 14u);

    // Another program puts ALPHA's chain back; Refresh shows it.
    const uint64_t entry = (uint64_t{disk.fatStart} * 512) + first * 4;
    putLe32(std::span<uint8_t>(disk.dev->Bytes()), entry, le32(std::span<const uint8_t>(image), entry));
    EXPECT_EQ(disk.session.Expand(alpha).size(), 14u);  // still the kept sector
    const std::vector<TreeNode> again = disk.session.Expand(
        disk.session.Expand(disk.session.Expand(disk.session.ListDrives()[0])[0]).back());
    EXPECT_EQ(disk.session.Expand(find(again, "ALPHA   .   ")).size(), 60u);
  }
}

}  // namespace

namespace {

// The volume's root folder packet, reached as the tree reaches it.
DrivePacket RootOf(TreeSession& session) {
  const std::vector<TreeNode> volume =
      session.Expand(session.Expand(session.ListDrives()[0])[0]);
  return *volume.back().packet;
}

// FAT 1's entry of cluster as a new reader (through the kept sectors) sees it.
FatEntry Entry(DiskAccess& access, const DrivePacket& volume, uint32_t cluster) {
  FatReader fat(access, {}, volume);
  return GetFatEntry(cluster, fat);
}

// Writes that do not come through a command: every one made through the
// library (Restore, Disk Copy and Copy File to Floppy address it themselves,
// by CHS or by LBA) or the device drops the kept sector it reaches.
TEST(FatCache, WritesOnEitherRoadDropTheSectorsTheyReach) {
  TempDir dir;
  const std::vector<uint8_t> image = SpreadVolume(dir);
  for (bool library : {false, true}) {
    SCOPED_TRACE(library ? "library path" : "direct path");
    CountedDisk disk(image, library);
    static_cast<void>(disk.WalkTree());
    const DrivePacket root = RootOf(disk.session);
    const uint32_t cluster = root.firstCluster;
    const uint64_t sector = disk.fatStart + cluster * 4 / 512;
    ASSERT_EQ(Entry(disk.access, root, cluster).kind, FatEntryKind::End);

    // The sector as it is, with the root folder's entry changed to `value`.
    auto changed = [&](uint32_t value) {
      std::vector<uint8_t> bytes(disk.dev->Bytes().begin() + sector * 512,
                                 disk.dev->Bytes().begin() + sector * 512 + 512);
      putLe32(std::span<uint8_t>(bytes), cluster * 4 % 512, value);
      return bytes;
    };
    if (library) {
      SectorLibrary* lib = disk.access.Library();
      ASSERT_NE(lib, nullptr);
      // By LBA.
      ASSERT_NE(lib->WriteSect32(0x80, 0, 0, 1, 1, changed(0x123).data(),
                                 static_cast<uint32_t>(sector), 1), 0u);
      EXPECT_EQ(Entry(disk.access, root, cluster).Next(), 0x123u);
      // By CHS, with the geometry the library converts with (255 heads, 63
      // sectors a track).
      const uint64_t track = sector / 63;
      const auto c = static_cast<uint32_t>(track / 255);
      ASSERT_LT(c, 256u);
      ASSERT_NE(lib->WriteSect32(0x80, c, static_cast<uint32_t>(track % 255),
                                 static_cast<uint32_t>(sector % 63 + 1), 1, changed(0x456).data(),
                                 0, 0), 0u);
      EXPECT_EQ(Entry(disk.access, root, cluster).Next(), 0x456u);
    } else {
      ASSERT_EQ(disk.access.DeviceWrite(0x80, sector * 512, changed(0x789).data(), 512), 512);
      EXPECT_EQ(Entry(disk.access, root, cluster).Next(), 0x789u);
    }
    // Through the node-addressed transfers, as every command writes.
    DrivePacket fat1 = root;
    fat1.startSector = static_cast<uint32_t>(sector - root.partitionStart);
    fat1.sectorCount = 1;
    ASSERT_TRUE(WriteSectors(disk.access, fat1, changed(0x0FFFFFFF).data()));
    EXPECT_EQ(Entry(disk.access, root, cluster).kind, FatEntryKind::End);
  }
}

// The scan writes its repaired FAT image over both copies: a reader after
// it sees the repaired chain, not the one kept before.
TEST(FatCache, TheScansWriteBackReachesTheKeptSectors) {
  for (auto path : {ScanRig::Direct, ScanRig::Library}) {
    SCOPED_TRACE(path == ScanRig::Direct ? "direct path" : "library path");
    ScanRig rig(32, 70000, "-s 1", false, path);
    ASSERT_TRUE(rig.volume.PutFile("::/A.TXT", std::vector<uint8_t>(2 * 512, 1)));
    ASSERT_TRUE(rig.volume.PutFile("::/B.TXT", std::vector<uint8_t>(2 * 512, 2)));
    rig.Bind();
    rig.access.SetHardDiskCount(1);
    const auto a = rig.Chain(rig.FirstCluster(rig.RootEntry("A       TXT")));
    const auto b = rig.Chain(rig.FirstCluster(rig.RootEntry("B       TXT")));
    rig.SetFat(b[0], a[1]);  // B's chain joins A's

    TreeSession session(rig.access);
    const DrivePacket root = RootOf(session);
    ASSERT_EQ(Entry(rig.access, root, b[0]).Next(), a[1]);
    const ScanResult r = rig.Scan({.autoFix = true});
    ASSERT_TRUE(r.fatWritten);
    const FatEntry repaired = rig.Entry(b[0]);
    ASSERT_NE(repaired.Next(), a[1]);
    EXPECT_EQ(Entry(rig.access, root, b[0]), repaired);
  }
}

// Undo Writes puts sectors back through devices of its own: the window's kept
// sectors go with its first write.
TEST(FatCache, UndoWritesEmptiesTheKeptSectors) {
  TempDir dir;
  const std::vector<uint8_t> image = SpreadVolume(dir);
  const std::string file = dir.File("undo.img");
  ASSERT_TRUE(WriteFileBytes(file, image));
  for (bool direct : {true, false}) {
    SCOPED_TRACE(direct ? "direct path" : "library path");
    const std::string undoDir = dir.File(direct ? "undo-d" : "undo-l");
    DriveArgsResult args = ParseDriveArgs({"--disk", file, "--undo-dir", undoDir});
    ASSERT_EQ(args.error, "");
    TestDrives drives(direct ? TestDrives::Direct : TestDrives::Library);
    ASSERT_TRUE(drives.BindAsProgram(args.config));
    DiskAccess& access = drives.access;
    TreeSession session(access);
    const DrivePacket root = RootOf(session);
    const uint32_t cluster = root.firstCluster;
    const uint32_t index = cluster * 4 / 512;

    DrivePacket fat1 = root;
    fat1.startSector = root.reservedSectors + index;
    fat1.sectorCount = 1;
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(ReadSectors(access, fat1, sector.data()));
    putLe32(std::span<uint8_t>(sector), cluster * 4 % 512, 0x2222);
    ASSERT_TRUE(WriteSectors(access, fat1, sector.data()));
    EXPECT_EQ(Entry(access, root, cluster).Next(), 0x2222u);  // kept again, as written

    const std::vector<std::string> journals = [&] {
      std::vector<std::string> files;
      for (const auto& e : std::filesystem::directory_iterator(undoDir)) files.push_back(e.path());
      return files;
    }();
    ASSERT_EQ(journals.size(), 1u);
    UndoWritesOptions undo;
    undo.journal = journals[0];
    undo.keptFats = &access.Fats();
    ScriptedPrompt said;
    EXPECT_TRUE(UndoWrites(undo, said).complete);
    EXPECT_EQ(said.Messages(), std::vector<std::string>{"1 sector restored, 0 already as before, 0 left alone."});
    EXPECT_EQ(Entry(access, root, cluster).kind, FatEntryKind::End);
    access.Release();
    EXPECT_EQ(ReadFileBytes(file), image);
  }
}

}  // namespace

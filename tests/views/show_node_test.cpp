#include "views/show_node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "disk/discovery.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "app/list_pane_state.h"
#include "fixtures/test_drives.h"
#include "views/fat_views.h"
#include "views/format_cell.h"

namespace {

class CollectSink final : public TreeSink {
 public:
  void AddNode(const TreeNode& node) override { nodes.push_back(node); }
  std::vector<TreeNode> nodes;
};

// The sample floppy and the sample hard disk on the library path, with the
// nodes reached by their labels.
struct ShowHarness : TestDrives {
  ShowHarness(const std::string& floppy, const std::string& disk) : TestDrives(Library) {
    AddFile(0, floppy);
    hd = AddFile(0x80, disk);
    Bind();
    CollectSink sink;
    discovery.ListDrives(access, sink);
    tops = sink.nodes;
  }
  const DrivePacket& Node(const std::vector<std::string>& path) {
    std::vector<TreeNode> level = tops;
    const DrivePacket* found = nullptr;
    for (const auto& label : path) {
      found = nullptr;
      for (const auto& n : level)
        if ((n.labelByCallback ? std::string(NodeLabel(*n.packet)) : n.label) == label)
          found = n.packet;
      if (found == nullptr) {
        ADD_FAILURE() << "no node " << label;
        static DrivePacket none;
        return none;
      }
      CollectSink sink;
      EXPECT_TRUE(ExpandShownNode(ctx, discovery, *found, sink)) << label;
      level = sink.nodes;
    }
    prompt.Clear();
    return *found;
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> out;
    for (const auto& c : pane.columns) out.push_back(c.title);
    return out;
  }

  FaultDevice* hd = nullptr;
  ListPaneState pane;  // the page and the window's selection
  ViewContext ctx{access, pane};
  PacketStore store;
  DriveDiscovery discovery{store};
  std::vector<TreeNode> tops;
};

// An in-memory disk that notes the largest page buffer the pane held while
// any of its sectors was read.
class WatchedDisk final : public Device {
 public:
  WatchedDisk(std::vector<uint8_t> bytes, const ViewPage& pane)
      : disk_(std::move(bytes)), pane_(pane) {}
  bool Open() override { return disk_.Open(); }
  void Close() override { disk_.Close(); }
  bool IsOpen() const override { return disk_.IsOpen(); }
  int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) override {
    largestBuffer = std::max(largestBuffer, pane_.sectorBuffer.capacity());
    return disk_.ReadAt(offset, buffer, len);
  }
  int64_t WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) override {
    return disk_.WriteAt(offset, buffer, len);
  }
  uint64_t Size() const override { return disk_.Size(); }

  size_t largestBuffer = 0;

 private:
  FaultDevice disk_;
  const ViewPage& pane_;
};

constexpr DumpModes kStructure{false, false};
constexpr DumpModes kSectorDump{true, false};
constexpr DumpModes kRaw{false, true};
constexpr DumpModes kBoth{true, true};

}  // namespace

TEST(ShowNodeTest, KindAndModesChooseTheView) {
  TempDir dir;
  MakeSampleFloppy(dir.File("floppy.img"));
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  ShowHarness h(dir.File("floppy.img"), disk.image);

  const DrivePacket& hard = h.Node({"Hard Disk 1"});
  ShowNode(h.ctx, hard, kStructure);
  EXPECT_EQ(h.Titles(), (std::vector<std::string>{"Partition", "Field", "Value"}));
  EXPECT_EQ(h.pane.rows.size(), 40u);
  EXPECT_EQ(h.pane.viewKind, ViewKind::None);
  EXPECT_EQ(h.pane.shownPacket.kind, NodeKind::HardDisk);
  // A disk's one sector, at its own address, in both dump modes.
  for (DumpModes modes : {kSectorDump, kRaw, kBoth}) {
    ShowNode(h.ctx, hard, modes);
    EXPECT_EQ(h.pane.viewKind, ViewKind::SectorDump);
    EXPECT_EQ(h.pane.rows.size(), 32u);
    EXPECT_EQ(h.pane.shownPacket.sectorCount, 1u);
    EXPECT_FALSE(h.pane.canGoNext);
    EXPECT_EQ(FormatCell(h.pane, 28, 3), "06");  // the first entry's type at 0x1C2
    EXPECT_EQ(FormatCell(h.pane, 31, 15), "55");
    EXPECT_EQ(FormatCell(h.pane, 31, 16), "AA");
    EXPECT_EQ(h.prompt.Status(0), "");
  }

  const DrivePacket& volume = h.Node({"Floppy Disk 1"});
  ShowNode(h.ctx, volume, kStructure);
  EXPECT_EQ(h.Titles(), (std::vector<std::string>{"Field", "Value"}));
  ShowNode(h.ctx, volume, kRaw);
  EXPECT_EQ(h.pane.shownPacket.sectorCount, 1u);

  // A FAT copy: its table, its own extent, or the volume from its first sector.
  const DrivePacket& fat = h.Node({"Floppy Disk 1", "FAT 2"});
  ShowNode(h.ctx, fat, kStructure);
  EXPECT_EQ(h.pane.viewKind, ViewKind::Fat12Table);
  ShowNode(h.ctx, fat, kSectorDump);
  EXPECT_EQ(h.pane.viewKind, ViewKind::SectorDump);
  EXPECT_EQ(h.pane.shownPacket.sectorCount, 9u);
  EXPECT_EQ(h.pane.shownPacket.startSector, 10u);
  EXPECT_TRUE(h.pane.canGoNext);
  ShowNode(h.ctx, fat, kRaw);
  EXPECT_EQ(h.pane.shownPacket.sectorCount, 2880u - 10);
  ShowNode(h.ctx, h.Node({"Hard Disk 1", "16-Bit FAT Disk", "FAT 1"}), kStructure);
  EXPECT_EQ(h.pane.viewKind, ViewKind::Fat16Table);
  ShowNode(h.ctx,
           h.Node({"Hard Disk 1", "Extended DOS Partition", "32-Bit FAT Disk", "FAT 1"}),
           kStructure);
  EXPECT_EQ(h.pane.viewKind, ViewKind::Fat32Table);

  const DrivePacket& root = h.Node({"Floppy Disk 1", "Root Directory"});
  ShowNode(h.ctx, root, kStructure);
  EXPECT_EQ(h.pane.viewKind, ViewKind::RootDirectory);
  EXPECT_EQ(h.Titles().at(0), "MS-DOS Name");
  ShowNode(h.ctx, root, kSectorDump);
  EXPECT_EQ(h.pane.viewKind, ViewKind::SectorDump);
  EXPECT_EQ(h.pane.shownPacket.sectorCount, 14u);

  // A file is a cluster dump in both modes; a folder a listing or a dump.
  const DrivePacket& file = h.Node({"Floppy Disk 1", "Root Directory", "DOCS    .   ", "BIG     .BIN"});
  for (DumpModes modes : {kStructure, kSectorDump}) {
    ShowNode(h.ctx, file, modes);
    EXPECT_EQ(h.pane.viewKind, ViewKind::ClusterDump);
    EXPECT_TRUE(h.pane.fileDumpShown);
    EXPECT_EQ(h.pane.chainLength, 40u);  // 20000 bytes in 512-byte clusters
    EXPECT_TRUE(h.pane.canGoNext);
  }
  const DrivePacket& folder = h.Node({"Floppy Disk 1", "Root Directory", "DOCS    .   "});
  ShowNode(h.ctx, folder, kStructure);
  EXPECT_EQ(h.pane.viewKind, ViewKind::SubDirectory);
  EXPECT_FALSE(h.pane.fileDumpShown);  // cleared by the selection
  ShowNode(h.ctx, folder, kSectorDump);
  EXPECT_EQ(h.pane.viewKind, ViewKind::ClusterDump);
  EXPECT_FALSE(h.pane.fileDumpShown);
  ShowNode(h.ctx, folder, kBoth);
  EXPECT_EQ(h.pane.viewKind, ViewKind::SectorDump);
  EXPECT_EQ(h.pane.shownPacket.startSector, 33u);
  EXPECT_EQ(h.pane.shownPacket.sectorCount, 2880u - 33);
  EXPECT_EQ(h.pane.pageIndex, 0u);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
}

TEST(ShowNodeTest, BuffersAndRawExtentsSizedFromTheDiskAreChecked) {
  TempDir dir;
  MakeSampleFloppy(dir.File("floppy.img"));
  std::vector<uint8_t> d(64 * 512);
  // An unknown partition: its size is not known, so a raw dump may run to
  // the end of the 32-bit sector numbers.
  d[0x1BE + 4] = 0x83;
  putLe32(d, 0x1BE + 8, 40);
  WriteFileBytes(dir.File("disk.img"), d);
  ShowHarness h(dir.File("floppy.img"), dir.File("disk.img"));

  const DrivePacket& unknown = h.Node({"Hard Disk 1", "Unknown"});
  ShowNode(h.ctx, unknown, kStructure);
  EXPECT_EQ(h.Titles(), (std::vector<std::string>{"Field", "Value"}));
  ShowNode(h.ctx, unknown, kRaw);
  EXPECT_EQ(h.pane.shownPacket.startSector, 1u);
  EXPECT_EQ(h.pane.shownPacket.sectorCount, 0xFFFFFFFFu);

  // A node beyond its volume's claimed end dumps its own sector only.
  DrivePacket past = h.Node({"Floppy Disk 1", "FAT 1"});
  past.startSector = 3000;
  ShowNode(h.ctx, past, kRaw);
  EXPECT_EQ(h.pane.shownPacket.sectorCount, 1u);

  // The node's extent is taken first; a FAT of 9 sectors over the limit.
  // A raw dump that can page on leaves its flags set ...
  const DrivePacket& fat = h.Node({"Floppy Disk 1", "FAT 1"});
  ShowNode(h.ctx, fat, kRaw);
  ASSERT_TRUE(h.pane.canGoNext);
  ShowNode(h.ctx, fat, kStructure);
  ASSERT_FALSE(h.pane.rows.empty());
  h.prompt.Clear();
  h.pane.budget.limit = 4000;
  h.pane.canGoNext = true;
  ShowNode(h.ctx, fat, kStructure);
  // ... and a node that cannot be shown clears them: nothing is left to page.
  EXPECT_FALSE(h.pane.canGoNext);
  EXPECT_FALSE(h.pane.canGoPrevious);
  EXPECT_EQ(h.prompt.Messages(),
            std::vector<std::string>{"Fatal Error!  Not able to allocate a buffer of memory!"});
  EXPECT_EQ(h.pane.viewKind, ViewKind::None);
  EXPECT_TRUE(h.pane.rows.empty());
  EXPECT_EQ(h.pane.shownPacket.startSector, 1u);
  // The raw dump of the same FAT holds one sector a page, whatever the node
  // claims: it shows.
  h.prompt.Clear();
  ShowNode(h.ctx, fat, kRaw);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
  EXPECT_EQ(h.pane.viewKind, ViewKind::SectorDump);
  EXPECT_EQ(h.pane.rows.size(), 32u);
  EXPECT_TRUE(h.pane.canGoNext);

  // Files and folders hold no FAT, only the sectors their chains lie in: a
  // budget below the FAT's 9 sectors shows them ...
  h.pane.budget.limit = kViewMemoryLimit;
  const DrivePacket& file = h.Node({"Floppy Disk 1", "Root Directory", "README  .TXT"});
  const DrivePacket& folder = h.Node({"Floppy Disk 1", "Root Directory", "DOCS    .   "});
  h.pane.budget.limit = 4000;
  for (const DrivePacket* node : {&file, &folder}) {
    for (DumpModes modes : {kStructure, kSectorDump}) {
      h.prompt.Clear();
      ShowNode(h.ctx, *node, modes);
      EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{}) << node->nameText;
      EXPECT_FALSE(h.pane.rows.empty()) << node->nameText;
    }
  }
  // ... and one below the sector a chain is read through refuses them; the
  // rows of what was shown before go.
  struct Case {
    const DrivePacket& node;
    DumpModes modes;
    const char* message;
  };
  for (const Case& c : {Case{file, kStructure, "FAT not accessible!"},
                        Case{file, kSectorDump, "FAT not accessible!"},
                        Case{folder, kStructure, "Fatal Error!  Not able to allocate a buffer!"},
                        Case{folder, kSectorDump, "FAT not accessible!"}}) {
    h.pane.budget.limit = 4000;
    // The boot record's rows carry their own texts: they must not stay on
    // show under the file.
    ShowNode(h.ctx, unknown, kStructure);
    ASSERT_EQ(h.pane.rows.size(), 13u);
    h.pane.Select({2});
    h.prompt.Clear();
    h.pane.budget.limit = 511;
    ShowNode(h.ctx, c.node, c.modes);
    EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{c.message}) << c.node.nameText;
    EXPECT_EQ(h.pane.viewKind, ViewKind::None);
    EXPECT_TRUE(h.pane.rows.empty());
    EXPECT_TRUE(h.pane.SelectedRows().empty());
  }
}

// A FAT larger than the memory a view may take (as a terabyte volume's is):
// files, folders and their dumps read only their chains' FAT sectors, and the
// FAT copy shows page by page, each page's sectors alone taken.
TEST(ShowNodeTest, AFatLargerThanTheBudgetStillShowsEverything) {
  TempDir dir;
  MakeSampleFloppy(dir.File("floppy.img"));
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const std::vector<uint8_t> bytes = ReadFileBytes(disk.image);
  ShowHarness h(dir.File("floppy.img"), disk.image);
  const std::vector<std::string> volume{"Hard Disk 1", "Extended DOS Partition", "32-Bit FAT Disk"};
  auto at = [&](std::vector<std::string> path) -> const DrivePacket& {
    path.insert(path.begin(), volume.begin(), volume.end());
    return h.Node(path);
  };
  const DrivePacket& fat = at({"FAT 1"});
  const DrivePacket& folder = at({"Root Directory", "DOCS    .   "});
  const DrivePacket& file = at({"Root Directory", "DOCS    .   ", "BIG     .BIN"});
  h.access.Fats().Clear();
  // A page of the table fits, the whole copy does not.
  h.pane.budget.limit = 200000;
  ASSERT_GT(uint64_t{fat.sectorCount} * 512, h.pane.budget.limit);
  ASSERT_GT(fat.sectorCount, kFatPageSectors);
  const uint64_t fatAt = (uint64_t{disk.fat32Start} + fat.startSector) * 512;

  ShowNode(h.ctx, fat, kStructure);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
  EXPECT_EQ(h.pane.viewKind, ViewKind::Fat32Table);
  EXPECT_EQ(h.pane.rows.size(), kFatPageSectors * 8u);
  ASSERT_EQ(h.pane.sectorBuffer.size(), kFatPageSectors * 512u);
  EXPECT_TRUE(std::equal(h.pane.sectorBuffer.begin(), h.pane.sectorBuffer.end(),
                         bytes.begin() + static_cast<ptrdiff_t>(fatAt)));
  // The last page: the copy's remaining sectors only.
  const uint32_t lastPage = static_cast<uint32_t>(FatTablePageCount(fat) - 1);
  const uint32_t rest = fat.sectorCount - lastPage * kFatPageSectors;
  h.pane.pageIndex = lastPage;
  EXPECT_TRUE(ShowFatTablePage(h.ctx));
  EXPECT_EQ(h.pane.rows.size(), rest * 8u);
  ASSERT_EQ(h.pane.sectorBuffer.size(), rest * 512u);
  EXPECT_TRUE(std::equal(h.pane.sectorBuffer.begin(), h.pane.sectorBuffer.end(),
                         bytes.begin() + static_cast<ptrdiff_t>(fatAt + lastPage * kFatPageSectors * 512ull)));

  // The file's 40 clusters, its first one on show, in both modes.
  const uint64_t fileAt =
      (uint64_t{disk.fat32Start} + file.dataStart + (file.firstCluster - 2) * uint64_t{file.sectorsPerCluster}) * 512;
  const auto content = bytes.begin() + static_cast<ptrdiff_t>(fileAt);
  ASSERT_EQ(content[0], 32);  // the file's pattern starts at its seed
  for (DumpModes modes : {kStructure, kSectorDump}) {
    ShowNode(h.ctx, file, modes);
    EXPECT_EQ(h.pane.viewKind, ViewKind::ClusterDump);
    EXPECT_EQ(h.pane.chainLength, 40u);
    ASSERT_EQ(h.pane.sectorBuffer.size(), 512u);
    EXPECT_TRUE(std::equal(h.pane.sectorBuffer.begin(), h.pane.sectorBuffer.end(), content));
  }
  ShowNode(h.ctx, folder, kStructure);
  EXPECT_EQ(h.pane.viewKind, ViewKind::SubDirectory);
  EXPECT_FALSE(h.pane.rows.empty());
  ShowNode(h.ctx, folder, kSectorDump);
  EXPECT_EQ(h.pane.viewKind, ViewKind::ClusterDump);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
  // The chains lie in the FAT's first sector: nothing near the whole copy is kept.
  EXPECT_LE(h.access.Fats().Size(), 2u);
}

TEST(ShowNodeTest, AFatClaimedPastTheDiskTakesNoMemoryBeforeItIsProbed) {
  // A damaged 32-bit boot record: a FAT of 40000 sectors (20 MB) and a
  // volume to match, on a disk of 64 sectors.
  TestDrives drives;
  ScriptedPrompt& prompt = drives.prompt;
  ViewPage pane;
  ViewContext ctx{drives.access, pane};
  WatchedDisk* disk =
      drives.AddDevice(0x80, std::make_unique<WatchedDisk>(std::vector<uint8_t>(64 * 512, 0), pane));
  drives.Bind();

  DrivePacket volume;
  volume.drive = 0x80;
  volume.fatType = FatWidth::Fat32;
  volume.reservedSectors = 32;
  volume.sectorsPerFat = 40000;
  volume.sectorsPerCluster = 1;
  volume.totalSectors = 0x00F00000;
  DrivePacket fat = volume;
  fat.kind = NodeKind::Fat32;
  fat.startSector = 32;
  fat.sectorCount = 40000;
  DrivePacket file = volume;
  file.kind = NodeKind::DirEntry;
  file.startSector = 32 + 2 * 40000;
  file.firstCluster = 2;
  file.attributes = 0x20;
  DrivePacket folder = file;
  folder.attributes = 0x10;

  // The views that walk chains read the one FAT sector the chain lies in and
  // then meet the cluster past the disk; the table view refuses the FAT on
  // its unreadable last sector; a dump reads one sector.
  struct Case {
    const DrivePacket& node;
    DumpModes modes;
    std::vector<std::string> messages;
    bool refused = false;
  };
  const std::vector<std::string> fatGone{"FAT not accessible!"};
  const std::vector<std::string> clusterGone{"Cluster not accessible!"};
  for (const Case& c :
       {Case{file, kStructure, clusterGone}, Case{folder, kStructure,
                                                  {"Not able to fully load the sub-directory"}},
        Case{folder, kSectorDump, clusterGone}, Case{fat, kStructure, fatGone, true},
        Case{fat, kSectorDump, {}}}) {
    prompt.Clear();
    disk->largestBuffer = 0;
    ShowNode(ctx, c.node, c.modes);
    EXPECT_EQ(prompt.Messages(), c.messages) << static_cast<unsigned>(c.node.kind) << " " << c.node.attributes;
    EXPECT_LE(disk->largestBuffer, 512u) << static_cast<unsigned>(c.node.kind) << " " << c.node.attributes;
    if (c.refused) {
      EXPECT_EQ(pane.viewKind, ViewKind::None);
      EXPECT_TRUE(pane.rows.empty());
    }
  }
}

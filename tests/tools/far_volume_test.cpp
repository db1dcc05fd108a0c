// A FAT volume past sector 2^32 of a large disk (a sparse 3 TiB image; GPT
// partitions of a 4 TB disk lie there): the tree, the dumps, Go to Sector,
// raw search and writes reach the volume's own absolute sectors on both
// transfer paths, exactly as they do the same volume at the start of a disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <sstream>

#include "disk/discovery.h"
#include "disk/sector_access.h"
#include "disk/le.h"
#include "fixtures/cli_run.h"
#include "fixtures/image_builder.h"
#include "fixtures/image_sectors.h"
#include "fixtures/recorded_events.h"
#include "fixtures/test_drives.h"
#include "tools/raw_search.h"
#include "views/editor_page.h"
#include "views/format_cell.h"
#include "views/sector_jump.h"
#include "views/show_node.h"

namespace {

constexpr uint64_t kTwoTo32 = uint64_t{1} << 32;

struct FarCase {
  const char* name;
  bool direct;
  uint64_t start;  // absolute LBA of the volume's boot record
};

const FarCase kFarCases[] = {
    {"DirectPast2To32", true, kTwoTo32 + 2048},
    {"LibraryPast2To32", false, kTwoTo32 + 2048},
    // Boot record and FATs below 2^32, the folders and files above it.
    {"DirectAcross2To32", true, kTwoTo32 - 40},
    {"LibraryAcross2To32", false, kTwoTo32 - 40},
};

class CollectSink final : public TreeSink {
 public:
  void AddNode(const TreeNode& node) override { nodes.push_back(node); }
  std::vector<TreeNode> nodes;
};

std::vector<uint8_t> ReadAt(const std::string& path, uint64_t sector, size_t sectors) {
  std::vector<uint8_t> bytes(sectors * 512);
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  if (fd < 0) return bytes;
  EXPECT_EQ(::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(sector * 512)),
            static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  return bytes;
}

// The volume as a hand-made packet (as a GPT entry would give it) and what
// every view and command shows of it.
struct Seen {
  std::string tree;                 // labels, depth first
  std::vector<std::string> fatRows;  // the first FAT copy's decoded rows
  std::vector<uint8_t> fileDump;     // the first sector of DOCS/FAR.TXT
  std::vector<uint8_t> jumped;       // Go to Sector onto the file's sector
  uint32_t hitSector = 0;
  std::vector<std::string> messages;
};

Seen Look(TestDrives& drives, uint16_t drive, uint64_t start) {
  Seen seen;
  ViewPage pane;
  ViewContext ctx{drives.access, pane};
  PacketStore store;
  DriveDiscovery discovery{store};
  DrivePacket volume;
  volume.drive = drive;
  volume.kind = NodeKind::Volume;
  volume.partitionStart = start;
  volume.sectorCount = 1;
  volume.int13Extensions = 1;
  volume.cylinder = volume.head = volume.sector = 0xFF;  // past CHS reach

  const DrivePacket* fat = nullptr;
  const DrivePacket* root = nullptr;
  const DrivePacket* file = nullptr;
  std::ostringstream tree;
  std::function<void(const DrivePacket&, int)> walk = [&](const DrivePacket& node, int depth) {
    CollectSink sink;
    EXPECT_TRUE(ExpandShownNode(ctx, discovery, node, sink));
    for (const TreeNode& c : sink.nodes) {
      const std::string label = c.labelByCallback ? NodeLabel(*c.packet) : c.label;
      tree << std::string(2 * depth, ' ') << label << '\n';
      if (fat == nullptr && FatWidthOf(c.packet->kind) != FatWidth::None) fat = c.packet;
      if (c.packet->kind == NodeKind::RootDir) root = c.packet;
      if (label.find("FAR") == 0) file = c.packet;
      if (c.hasChildren && FatWidthOf(c.packet->kind) == FatWidth::None) walk(*c.packet, depth + 1);
    }
  };
  walk(volume, 0);
  seen.tree = tree.str();
  if (fat == nullptr || root == nullptr || file == nullptr) {
    ADD_FAILURE() << "tree:\n" << seen.tree;
    return seen;
  }

  ShowNode(ctx, *fat, DumpModes{});
  for (size_t r = 0; r < std::min<size_t>(pane.rows.size(), 8); ++r)
    for (int c = 0; c < static_cast<int>(pane.columns.size()); ++c)
      seen.fatRows.push_back(FormatCell(pane, r, c));

  ShowNode(ctx, *file, DumpModes{true, false});
  seen.fileDump.assign(pane.sectorBuffer.begin(), pane.sectorBuffer.begin() + 512);

  // The raw dump from the root onwards, then Go to Sector onto the file's
  // first sector, as the person types it (counted from the volume's start).
  const DumpModes raw{false, true};
  ShowNode(ctx, *root, raw);
  const uint32_t fileSector = file->dataStart + (file->firstCluster - 2) * file->sectorsPerCluster;
  uint32_t target = 0;
  EXPECT_TRUE(GoToSector(ctx, raw, std::to_string(fileSector), target));
  seen.jumped.assign(pane.sectorBuffer.begin(), pane.sectorBuffer.begin() + 512);
  // A sector no 32-bit sector number of the volume holds is refused.
  EXPECT_FALSE(GoToSector(ctx, raw, std::to_string(kTwoTo32), target));

  RawSearchOptions options;
  options.mode = SearchMode::Text;
  options.text = "past the 32-bit";
  options.start = std::to_string(root->startSector);
  std::optional<SearchJob> job = PrepareRawSearch(drives.prompt, *root, options);
  if (job) {
    SearchFlags flags;
    RecordedSearchEvents events;
    BeginSearch(events, flags);
    const SearchResult r = RunSearchWorker(drives.access, *job, flags, drives.prompt, events);
    EXPECT_EQ(r.status, SearchStatus::Found);
    seen.hitSector = r.hit.sector;
  } else {
    ADD_FAILURE() << "no search";
  }
  seen.messages = drives.prompt.Messages();
  return seen;
}

class FarVolume : public ::testing::TestWithParam<FarCase> {};

TEST_P(FarVolume, EveryViewAndCommandReadsTheVolumesOwnSectors) {
  const FarCase& c = GetParam();
  TempDir dir;
  FatVolume vol = MakeFatImage(dir.File("vol.img"), 16, 32768, "-s 4 -n WIDEVOL");
  vol.fixedClock = true;
  ASSERT_TRUE(vol.MakeDir("::/DOCS"));
  const std::string text = "Read from past the 32-bit sector numbers.\r\n";
  ASSERT_TRUE(vol.PutFile("::/DOCS/FAR.TXT", text));
  const std::string disk = dir.File("far.img");
  ASSERT_TRUE(MustRun("truncate -s 3T " + ShellQuote(disk)));
  ASSERT_TRUE(MustRun("dd status=none conv=notrunc oflag=seek_bytes bs=1M if=" +
                      ShellQuote(vol.image) + " of=" + ShellQuote(disk) +
                      " seek=" + std::to_string(c.start * 512)));

  // The same volume at the start of a disk of its own is the yardstick.
  TestDrives drives(c.direct ? TestDrives::Direct : TestDrives::Library);
  ASSERT_TRUE(drives.BindAsProgram(Drives({disk, vol.image})));
  const Seen far = Look(drives, 0x80, c.start);
  drives.prompt.Clear();
  const Seen near = Look(drives, 0x81, 0);

  EXPECT_NE(far.tree.find("    FAR     .TXT\n"), std::string::npos) << far.tree;
  EXPECT_EQ(far.tree, near.tree);
  EXPECT_FALSE(far.fatRows.empty());
  EXPECT_EQ(far.fatRows, near.fatRows);
  EXPECT_EQ(std::string(far.fileDump.begin(), far.fileDump.begin() + text.size()), text);
  EXPECT_EQ(far.jumped, far.fileDump);
  EXPECT_EQ(far.hitSector, near.hitSector);
  EXPECT_NE(far.hitSector, 0u);
  EXPECT_EQ(far.messages, (std::vector<std::string>{kEditorSectorNotAccessible, "Total sec: 32768",
                                                   kSearchFound}));
  EXPECT_EQ(far.messages, near.messages);

  // A write lands at the volume's own sector and nowhere else: the last one
  // of the volume, which on every row lies past 2^32.
  DrivePacket volume;
  volume.drive = 0x80;
  volume.partitionStart = c.start;
  volume.int13Extensions = 1;
  std::vector<uint8_t> sector(512, 0xA7);
  const uint32_t last = 32768 - 1;
  ASSERT_TRUE(WriteNodeSectors(drives.access, volume, last, sector));
  EXPECT_EQ(ReadAt(disk, c.start + last, 1), sector);
  EXPECT_EQ(ReadAt(disk, c.start + last - 1, 1), ReadAt(vol.image, last - 1, 1));
  EXPECT_EQ(ReadAt(disk, c.start + last + 1, 1), std::vector<uint8_t>(512, 0));
  std::vector<uint8_t> back(512);
  ASSERT_TRUE(ReadNodeSectors(drives.access, volume, last, back));
  EXPECT_EQ(back, sector);
}

// One partition table entry at slot of an MBR or EBR sector.
void PutPartitionEntry(std::vector<uint8_t>& sector, size_t slot, uint8_t type, uint32_t start,
                       uint32_t sectors) {
  const size_t at = 446 + slot * 16;
  sector[at + 4] = type;
  putLe32(sector, at + 8, start);
  putLe32(sector, at + 12, sectors);
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

// A disk whose FAT16 volume (its file FAR.TXT) lies where only a reader of
// the disk's own scheme finds it.
struct TableDisk {
  const char* name;
  uint64_t volumeStart;  // absolute LBA the tree must give the volume
  // Lays out disk (the volume image vol goes to volumeStart).
  void (*build)(const std::string& disk, uint64_t volumeStart);
  const char* shown;   // a node label the tree must show
  const char* absent;  // one it must not (the MBR's reading), or ""
};

void Sfdisk(const std::string& disk, const std::string& size, const std::string& script) {
  ASSERT_TRUE(MustRun("truncate -s " + size + " " + ShellQuote(disk)));
  ASSERT_TRUE(MustRun("printf '%s' " + ShellQuote(script) +
                      " | sfdisk -q --no-reread --no-tell-kernel " + ShellQuote(disk)));
}

const TableDisk kTableDisks[] = {
    {"GptPast2To32", kTwoTo32 + 2048,
     [](const std::string& disk, uint64_t start) {
       Sfdisk(disk, "3T", "label: gpt\nstart=" + std::to_string(start) +
                              ", size=32768, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n");
     },
     "GPT Header", ""},
    // gdisk's hybrid layout: the protective entry first, then an entry of
    // the MBR's own that calls the same sectors Linux. The GPT decides.
    {"HybridMbrFollowsTheGpt", 2048,
     [](const std::string& disk, uint64_t start) {
       Sfdisk(disk, "64M", "label: gpt\nstart=" + std::to_string(start) +
                               ", size=32768, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n");
       std::vector<uint8_t> mbr = ReadImageSectors(disk, 0);
       PutPartitionEntry(mbr, 0, 0xEE, 1, 2047);
       PutPartitionEntry(mbr, 1, 0x83, 2048, 32768);
       ASSERT_TRUE(WriteImageSectors(disk, 0, mbr));
     },
     "GPT Header", "Unknown"},
    // An MBR disk past 2 TiB: the extended partition starts below 2^32, its
    // logical drive (its EBR's start plus the entry's 32-bit offset) above.
    {"MbrLogicalDrivePast2To32", kTwoTo32 + 2048,
     [](const std::string& disk, uint64_t start) {
       const uint64_t extended = kTwoTo32 - 2048;
       ASSERT_TRUE(MustRun("truncate -s " + std::to_string((kTwoTo32 + 65536) * 512) + " " + ShellQuote(disk)));
       std::vector<uint8_t> mbr(512, 0), ebr(512, 0);
       PutPartitionEntry(mbr, 0, 0x05, static_cast<uint32_t>(extended), 65536);
       PutPartitionEntry(ebr, 0, 0x06, static_cast<uint32_t>(start - extended), 32768);
       ASSERT_TRUE(WriteImageSectors(disk, 0, mbr));
       ASSERT_TRUE(WriteImageSectors(disk, extended, ebr));
     },
     "Extended DOS Partition", ""},
};

void PrintTo(const TableDisk& row, std::ostream* os) { *os << row.name; }

class FarTableDisk : public ::testing::TestWithParam<TableDisk> {};

// The tree follows the disk's scheme to the volume on both transfer paths,
// without a message, and gleaner-cli's tree shows the same.
TEST_P(FarTableDisk, VolumeIsListedAndRead) {
  const TableDisk& row = GetParam();
  TempDir dir;
  FatVolume vol = MakeFatImage(dir.File("vol.img"), 16, 32768, "-s 4 -n WIDEVOL");
  vol.fixedClock = true;
  ASSERT_TRUE(vol.PutFile("::/FAR.TXT", std::string("far\r\n")));
  const std::string disk = dir.File("disk.img");
  row.build(disk, row.volumeStart);
  ASSERT_TRUE(MustRun("dd status=none conv=notrunc oflag=seek_bytes bs=1M if=" +
                      ShellQuote(vol.image) + " of=" + ShellQuote(disk) +
                      " seek=" + std::to_string(row.volumeStart * 512)));
  for (const bool direct : {true, false}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    TestDrives drives(direct ? TestDrives::Direct : TestDrives::Library);
    ASSERT_TRUE(drives.BindAsProgram(Drives({disk})));
    ViewPage pane;
    ViewContext ctx{drives.access, pane};
    PacketStore store;
    DriveDiscovery discovery{store};
    CollectSink tops;
    discovery.ListDrives(drives.access, tops);
    std::ostringstream tree;
    uint64_t fileStart = 0;
    std::function<void(const TreeNode&, int)> walk = [&](const TreeNode& n, int depth) {
      const std::string label = n.labelByCallback ? NodeLabel(*n.packet) : n.label;
      tree << std::string(2 * depth, ' ') << label << '\n';
      if (label.rfind("FAR", 0) == 0) fileStart = n.packet->partitionStart;
      if (!n.hasChildren || FatWidthOf(n.packet->kind) != FatWidth::None) return;
      CollectSink sink;
      EXPECT_TRUE(ExpandShownNode(ctx, discovery, *n.packet, sink));
      for (const TreeNode& c : sink.nodes) walk(c, depth + 1);
    };
    for (const TreeNode& top : tops.nodes) walk(top, 0);
    EXPECT_NE(tree.str().find("FAR     .TXT"), std::string::npos) << tree.str();
    EXPECT_NE(tree.str().find(row.shown), std::string::npos) << tree.str();
    if (*row.absent != '\0') {
      EXPECT_EQ(tree.str().find(row.absent), std::string::npos) << tree.str();
    }
    EXPECT_EQ(fileStart, row.volumeStart);
    EXPECT_EQ(drives.prompt.Messages(), std::vector<std::string>{}) << tree.str();
  }
  const CliRun cli = Cli({"--disk", disk, "tree"});
  EXPECT_EQ(cli.status, 0) << cli.err;
  EXPECT_NE(cli.out.find("FAR     .TXT"), std::string::npos) << cli.out;
  EXPECT_NE(cli.out.find(row.shown), std::string::npos) << cli.out;
  if (*row.absent != '\0') {
    EXPECT_EQ(cli.out.find(row.absent), std::string::npos) << cli.out;
  }
  // Scan Disk lists the same volume.
  const CliRun scan = Cli({"--disk", disk, "scan"});
  EXPECT_NE(scan.out.find("16-Bit FAT"), std::string::npos) << scan.out << scan.err;
}

INSTANTIATE_TEST_SUITE_P(Disks, FarTableDisk, ::testing::ValuesIn(kTableDisks),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Paths, FarVolume, ::testing::ValuesIn(kFarCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// What a hard disk's first sector makes of it, over images made by sfdisk,
// mkfs.fat and mtools: a GPT disk (with its backup header when the primary is
// gone), a volume that fills the whole disk, a boot record whose code looks
// like partition entries, and 32-bit FAT volumes read by their backup boot
// record. The tree, the scan's volume list and the views agree on each.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "disk/discovery.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "scan/scan_volumes.h"
#include "views/show_node.h"

namespace {

class CollectSink final : public TreeSink {
 public:
  void AddNode(const TreeNode& node) override { nodes.push_back(node); }
  std::vector<TreeNode> nodes;
};

std::string LabelOf(const TreeNode& n) {
  return n.labelByCallback ? NodeLabel(*n.packet) : n.label;
}

void ZeroSectors(const std::string& image, uint64_t first, uint32_t count) {
  MustRun("dd if=/dev/zero of=" + ShellQuote(image) + " bs=512 seek=" + std::to_string(first) +
          " count=" + std::to_string(count) + " conv=notrunc status=none");
}

constexpr const char* kGptScript =
    "label: gpt\n"
    "start=2048, size=81920, type=U\n"
    "start=83968, size=40960, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
    "start=124928, size=20480, type=L\n";
constexpr uint32_t kGptDiskSectors = 160000;

// The GPT disk: an EFI system partition (32-bit FAT), a basic data partition
// (16-bit FAT) with a deleted file, and a Linux partition.
void MakeGptDisk(const std::string& path) {
  PartitionImage(path, kGptDiskSectors, kGptScript);
  const FatVolume esp = FormatPartition(path, 2048, 81920, 32, "-s 1");
  const FatVolume data = FormatPartition(path, 83968, 40960, 16);
  esp.PutFile("::/ESP.TXT", std::string("efi\n"));
  data.PutFile("::/DATA.TXT", std::string("data\n"));
  data.PutFile("::/GONE.TXT", std::string("gone\n"));
  data.Delete("::/GONE.TXT");
}

struct LayoutCase {
  const char* name;
  std::function<void(const std::string& image)> make;
  const char* tree;                // the hard disk's tree, two spaces a level
  std::vector<std::string> scan;   // the scan's volume list
  std::vector<std::string> view;   // a node below the disk, by labels
  const char* firstRow;            // its decoded view's first row, cells joined by " | "
  const char* status;              // what the status bar said after an expansion, or ""
};

const LayoutCase kCases[] = {
    {"Gpt", MakeGptDisk,
     "Hard Disk 1\n"
     "  GPT Header\n"
     "  GPT Partition Entries\n"
     "  32-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      ESP     .TXT\n"
     "  16-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      DATA    .TXT\n"
     "  Linux filesystem\n",
     {"Hard Disk 1 - 32-Bit FAT Disk - GPT Partition 1",
      "Hard Disk 1 - 16-Bit FAT Disk - GPT Partition 2"},
     {"GPT Partition Entries"},
     "1 | EFI System | C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
     ""},
    // The primary header is gone: the backup at the last sector is read.
    {"GptPrimaryHeaderDamaged",
     [](const std::string& image) {
       MakeGptDisk(image);
       ZeroSectors(image, 1, 1);
     },
     "Hard Disk 1\n"
     "  GPT Header - GPT read from its backup header at sector 159999\n"
     "  GPT Partition Entries\n"
     "  32-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      ESP     .TXT\n"
     "  16-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      DATA    .TXT\n"
     "  Linux filesystem\n",
     {"Hard Disk 1 - 32-Bit FAT Disk - GPT Partition 1",
      "Hard Disk 1 - 16-Bit FAT Disk - GPT Partition 2"},
     {"GPT Header - GPT read from its backup header at sector 159999"},
     "Note | GPT read from its backup header at sector 159999",
     "GPT read from its backup header at sector 159999"},
    // The EFI system partition's sector 0 is gone: its backup names it.
    {"GptVolumeFromBackupBootRecord",
     [](const std::string& image) {
       MakeGptDisk(image);
       ZeroSectors(image, 2048, 1);
     },
     "Hard Disk 1\n"
     "  GPT Header\n"
     "  GPT Partition Entries\n"
     "  32-Bit FAT Disk - Boot record read from its backup at sector 6\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      ESP     .TXT\n"
     "  16-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      DATA    .TXT\n"
     "  Linux filesystem\n",
     {"Hard Disk 1 - 32-Bit FAT Disk - GPT Partition 1",
      "Hard Disk 1 - 16-Bit FAT Disk - GPT Partition 2"},
     {"32-Bit FAT Disk - Boot record read from its backup at sector 6"},
     "Note | Boot record read from its backup at sector 6",
     "Boot record read from its backup at sector 6"},
    // A stick formatted whole: the boot record is sector 0.
    {"WholeDiskVolume",
     [](const std::string& image) {
       const FatVolume v = MakeFatImage(image, 16, 131072);
       v.PutFile("::/WHOLE.TXT", std::string("whole\n"));
     },
     "Hard Disk 1\n"
     "  16-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      WHOLE   .TXT\n",
     {"Hard Disk 1 - 16-Bit FAT Disk - Whole Disk"},
     {"16-Bit FAT Disk"},
     "OEM Name | mkfs.fat",
     ""},
    // Boot code whose bytes at 446-509 pass for four partition entries (of
    // FAT types, not all starting inside the disk) is no partition table.
    {"BootCodeLikePartitionEntries",
     [](const std::string& image) {
       const FatVolume v = MakeFatImage(image, 16, 131072);
       v.PutFile("::/WHOLE.TXT", std::string("whole\n"));
       std::vector<uint8_t> bytes = ReadFileBytes(image);
       for (size_t i = 0; i < 4; ++i) {
         const size_t e = 446 + 16 * i;
         bytes[e] = 0x00;
         bytes[e + 4] = i % 2 == 0 ? 0x06 : 0x0C;
         putLe32(std::span<uint8_t>(bytes), e + 8, 0x10000000u * static_cast<uint32_t>(i));
         putLe32(std::span<uint8_t>(bytes), e + 12, 0x00200000);
       }
       WriteFileBytes(image, bytes);
     },
     "Hard Disk 1\n"
     "  16-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      WHOLE   .TXT\n",
     {"Hard Disk 1 - 16-Bit FAT Disk - Whole Disk"},
     {"16-Bit FAT Disk"},
     "OEM Name | mkfs.fat",
     ""},
    // A whole-disk 32-bit FAT volume whose sector 0 was zeroed.
    {"WholeDiskFromBackupBootRecord",
     [](const std::string& image) {
       const FatVolume v = MakeFatImage(image, 32, 131072, "-s 1");
       v.PutFile("::/BACKUP.TXT", std::string("backup\n"));
       ZeroSectors(image, 0, 1);
     },
     "Hard Disk 1\n"
     "  32-Bit FAT Disk - Boot record read from its backup at sector 6\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      BACKUP  .TXT\n",
     {"Hard Disk 1 - 32-Bit FAT Disk - Whole Disk"},
     {"32-Bit FAT Disk - Boot record read from its backup at sector 6"},
     "Note | Boot record read from its backup at sector 6",
     "Boot record read from its backup at sector 6"},
    // An MBR partition of a 32-bit FAT type whose sector 0 was zeroed: its
    // node keeps the type's label, its view and the status bar say it.
    {"MbrVolumeFromBackupBootRecord",
     [](const std::string& image) {
       PartitionImage(image, 100000, "start=2048, size=81920, type=c\n");
       const FatVolume v = FormatPartition(image, 2048, 81920, 32, "-s 1");
       v.PutFile("::/BACKUP.TXT", std::string("backup\n"));
       ZeroSectors(image, 2048, 1);
     },
     "Hard Disk 1\n"
     "  32-Bit FAT Disk\n"
     "    FAT 1\n"
     "    FAT 2\n"
     "    Root Directory\n"
     "      BACKUP  .TXT\n",
     {"Hard Disk 1 - 32-Bit FAT Disk - Primary Partition"},
     {"32-Bit FAT Disk"},
     "Note | Boot record read from its backup at sector 6",
     "Boot record read from its backup at sector 6"},
};

class DiskLayoutTest
    : public ::testing::TestWithParam<std::tuple<LayoutCase, TestDrives::Path>> {};

TEST_P(DiskLayoutTest, TreeScanListAndViewsAgree) {
  const auto& [c, path] = GetParam();
  TempDir dir;
  const std::string image = dir.File("disk.img");
  c.make(image);

  TestDrives drives(path);
  drives.AddFile(0x80, image);
  drives.Bind();
  ViewPage pane;
  ViewContext ctx{drives.access, pane};
  PacketStore store;
  DriveDiscovery discovery{store};

  std::string status;
  const auto expand = [&](const TreeNode& n) {
    CollectSink sink;
    EXPECT_TRUE(ExpandShownNode(ctx, discovery, *n.packet, sink));
    if (!drives.prompt.Status(0).empty()) status = drives.prompt.Status(0);
    return sink.nodes;
  };
  std::ostringstream tree;
  std::function<void(const TreeNode&, int)> walk = [&](const TreeNode& n, int depth) {
    tree << std::string(2 * depth, ' ') << LabelOf(n) << '\n';
    if (n.hasChildren)
      for (const auto& child : expand(n)) walk(child, depth + 1);
  };
  CollectSink top;
  discovery.ListDrives(drives.access, top);
  ASSERT_EQ(top.nodes.size(), 1u);
  walk(top.nodes[0], 0);
  EXPECT_EQ(tree.str(), c.tree);
  EXPECT_EQ(drives.prompt.Messages(), std::vector<std::string>{});
  EXPECT_EQ(status, c.status);

  std::vector<std::string> scan;
  for (const ScanVolumeEntry& e : ListScanVolumes(drives.access, drives.prompt)) scan.push_back(e.text);
  EXPECT_EQ(scan, c.scan);

  TreeNode node = top.nodes[0];
  for (const std::string& label : c.view) {
    bool found = false;
    for (const auto& child : expand(node))
      if (LabelOf(child) == label) {
        node = child;
        found = true;
        break;
      }
    ASSERT_TRUE(found) << label;
  }
  ShowNode(ctx, *node.packet, {});
  ASSERT_FALSE(pane.rows.empty());
  std::string first;
  for (size_t i = 0; i < pane.rows[0].texts.size() && i < 3; ++i)
    first += (i == 0 ? "" : " | ") + pane.rows[0].texts[i];
  EXPECT_EQ(first, c.firstRow);
}

INSTANTIATE_TEST_SUITE_P(
    Disks, DiskLayoutTest,
    ::testing::Combine(::testing::ValuesIn(kCases),
                       ::testing::Values(TestDrives::Direct, TestDrives::Library)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == TestDrives::Direct ? "_Direct" : "_Library");
    });

}  // namespace

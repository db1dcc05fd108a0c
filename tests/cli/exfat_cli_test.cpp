// exFAT volumes in the tree and through gleaner-cli's commands, over the
// sample cards (mkfs.exfat, written through exfat-fuse) on each layout and
// both transfer paths, checked against The Sleuth Kit.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cli/tree_session.h"
#include "disk/exfat_boot.h"
#include "fixtures/exfat_image.h"
#include "fixtures/test_drives.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Damage { None, MainBootCode, MainZeroed };

struct TreeCase {
  const char* name;
  ExfatLayout layout;
  TestDrives::Path path;
  Damage damage;
};

std::ostream& operator<<(std::ostream& os, const TreeCase& c) { return os << c.name; }

const TreeCase kTreeCases[] = {
    {"WholeDiskDirect", ExfatLayout::WholeDisk, TestDrives::Direct, Damage::None},
    {"WholeDiskLibrary", ExfatLayout::WholeDisk, TestDrives::Library, Damage::None},
    {"MbrDirect", ExfatLayout::MbrPartition, TestDrives::Direct, Damage::None},
    {"MbrLibrary", ExfatLayout::MbrPartition, TestDrives::Library, Damage::None},
    {"GptDirect", ExfatLayout::GptPartition, TestDrives::Direct, Damage::None},
    {"GptLibrary", ExfatLayout::GptPartition, TestDrives::Library, Damage::None},
    // The main region fails its checksum: the backup is read, and said so.
    {"MbrMainChecksumBroken", ExfatLayout::MbrPartition, TestDrives::Direct, Damage::MainBootCode},
    {"GptMainChecksumBroken", ExfatLayout::GptPartition, TestDrives::Library, Damage::MainBootCode},
    // A whole-disk card whose sector 0 was wiped is still found by its backup.
    {"WholeDiskSectorZeroWiped", ExfatLayout::WholeDisk, TestDrives::Direct, Damage::MainZeroed},
};

// Every node below start, by its path of labels from there ("/" joined).
struct Walked {
  std::string path;
  const DrivePacket* packet;
};
void WalkBelow(TreeSession& session, const TreeNode& start, const std::string& prefix,
               std::vector<Walked>& out) {
  for (const TreeNode& child : session.Expand(start)) {
    const std::string label = child.labelByCallback ? NodeLabel(*child.packet) : child.label;
    out.push_back({prefix + label, child.packet});
    if (child.hasChildren) WalkBelow(session, child, prefix + label + "/", out);
  }
}

class ExfatCliTreeTest : public ::testing::TestWithParam<TreeCase> {};

TEST_P(ExfatCliTreeTest, TreeNamesAndSizesEqualFls) {
  if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const TreeCase& c = GetParam();
  const ExfatScene* scene = SharedExfatScene(c.layout);
  ASSERT_NE(scene, nullptr);
  TestDrives drives(c.path);
  FaultDevice* disk = drives.AddFile(kFirstHardDisk, scene->image.image);
  Bytes& bytes = disk->Bytes();
  const size_t at = scene->image.offset;
  if (c.damage == Damage::MainBootCode) bytes[at + kExfatBootCode + 10] ^= 0x55;
  if (c.damage == Damage::MainZeroed) std::fill_n(bytes.begin() + at, 512, 0);
  const Bytes before = bytes;
  drives.Bind();

  TreeSession session(drives.access);
  const std::vector<TreeNode> tops = session.ListDrives();
  ASSERT_EQ(tops.size(), 1u);
  std::vector<Walked> nodes;
  WalkBelow(session, tops[0], "", nodes);
  const auto volume = std::find_if(nodes.begin(), nodes.end(), [](const Walked& w) {
    return w.packet->kind == NodeKind::ExfatVolume;
  });
  ASSERT_NE(volume, nodes.end());
  const bool backup = c.damage != Damage::None;
  EXPECT_EQ(volume->path, backup ? "exFAT Disk - Boot region read from its backup at sector 12"
                                 : "exFAT Disk");
  const std::string v = volume->path + "/";

  std::vector<std::string> structures;
  std::map<std::string, uint64_t> ours;  // path from the root: size, folders -1
  for (const Walked& w : nodes) {
    if (w.path.rfind(v, 0) != 0) continue;
    const std::string below = w.path.substr(v.size());
    if (below.rfind("Root Directory/", 0) == 0)
      ours[below.substr(14)] = w.packet->kind == NodeKind::ExfatDir ? UINT64_MAX : w.packet->dataLength;
    else
      structures.push_back(below);
  }
  EXPECT_EQ(structures, (std::vector<std::string>{backup ? "Backup Boot Region" : "Boot Region", "FAT 1",
                                                  "Allocation Bitmap", "Up-case Table", "Root Directory"}));
  std::map<std::string, uint64_t> theirs;
  for (const FlsLine& l : RunFls(scene->image, false))
    if (!l.deleted && l.path[0] != '$' && l.path.find("(Volume Label Entry)") == std::string::npos)
      theirs["/" + l.path] = l.type == "d/d" ? UINT64_MAX : l.size;
  EXPECT_EQ(ours, theirs);
  // Listing and expanding write nothing.
  EXPECT_TRUE(bytes == before);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatCliTreeTest, ::testing::ValuesIn(kTreeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

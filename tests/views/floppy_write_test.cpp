// Floppies of every layout mkfs.fat makes, through the real libsect32.so and
// the direct path: each node's sectors are read from, and Write Changes
// writes to, the place the volume's layout gives, never another sector.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "disk/discovery.h"
#include "disk/volume_layout.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "views/row_edit.h"
#include "views/show_node.h"
#include "views/write_changes.h"

namespace {

class CollectSink final : public TreeSink {
 public:
  void AddNode(const TreeNode& node) override { nodes.push_back(node); }
  std::vector<TreeNode> nodes;
};

std::string Label(const TreeNode& n) { return n.labelByCallback ? NodeLabel(*n.packet) : n.label; }

struct FloppyRig {
  FloppyRig(const std::string& image, bool direct)
      : drives(direct ? TestDrives::Direct : TestDrives::Library) {
    bound = drives.BindAsProgram(Drives({}, {image}));
    CollectSink sink;
    discovery.ListDrives(access, sink);
    tops = sink.nodes;
  }
  std::vector<TreeNode> Expand(const TreeNode& n) {
    CollectSink sink;
    EXPECT_TRUE(ExpandShownNode(ctx, discovery, *n.packet, sink));
    return sink.nodes;
  }
  TestDrives drives;
  ScriptedPrompt& prompt = drives.prompt;
  DiskAccess& access = drives.access;
  PacketStore store;
  DriveDiscovery discovery{store};
  ViewPage pane;
  ViewContext ctx{access, pane};
  std::vector<TreeNode> tops;
  bool bound = false;
};

// The one byte offset in which two images differ; -1 for none or several.
int64_t OnlyDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return -1;
  int64_t at = -1;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) {
      if (at >= 0) return -1;
      at = static_cast<int64_t>(i);
    }
  return at;
}

struct Layout {
  const char* name;
  uint32_t kib;
  const char* mkfs;  // extra mkfs.fat options
};

}  // namespace

TEST(FloppyWrite, EveryNodeOfEveryLayoutIsReadAndWrittenAtItsOwnSectors) {
  // 180 KiB: 16 sectors a track and 2 heads in the boot record, which do not
  // fill the image in whole cylinders; the drive keeps its standard 40/1/9.
  const Layout layouts[] = {{"180 KiB", 180, ""},
                            {"720 KiB", 720, ""},
                            {"2.88 MB", 2880, ""},
                            {"DMF 1.68 MB", 1680, "-g 2/21"}};
  TempDir dir;
  std::vector<uint8_t> fileBytes(3000);
  for (size_t i = 0; i < fileBytes.size(); ++i) fileBytes[i] = static_cast<uint8_t>(i * 7 + 1);
  for (const Layout& layout : layouts) {
    const std::string image = dir.File(std::to_string(layout.kib) + ".img");
    ASSERT_TRUE(MustRun("mkfs.fat -C " + std::string(layout.mkfs) + " " + ShellQuote(image) + " " +
                        std::to_string(layout.kib) + " >/dev/null"));
    FatVolume vol{image, 0};
    ASSERT_TRUE(vol.PutFile("::/DATA.BIN", fileBytes));
    ASSERT_TRUE(vol.MakeDir("::/SUB"));
    ASSERT_TRUE(vol.PutFile("::/SUB/IN.TXT", std::string("inside")));
    const std::vector<uint8_t> boot = ReadFileBytes(image);
    const std::optional<VolumeLayout> v = DecodeVolume(std::span<const uint8_t>(boot).first(512));
    ASSERT_TRUE(v);
    const uint32_t reserved = v->reservedSectors, perFat = v->sectorsPerFat;
    const uint32_t perCluster = v->sectorsPerCluster, rootStart = v->rootStart, dataStart = v->dataStart;

    for (bool direct : {false, true}) {
      SCOPED_TRACE(std::string(layout.name) + (direct ? ", direct path" : ", library path"));
      FloppyRig rig(image, direct);
      ASSERT_TRUE(rig.bound);
      ASSERT_EQ(rig.tops.size(), 1u);
      const TreeNode floppy = rig.tops[0];
      std::vector<TreeNode> nodes = {floppy};
      std::vector<uint64_t> places = {0};
      const std::vector<TreeNode> children = rig.Expand(floppy);
      ASSERT_EQ(children.size(), 3u);
      nodes.push_back(children[0]);
      places.push_back(uint64_t{reserved} * 512);
      nodes.push_back(children[1]);
      places.push_back(uint64_t{reserved + perFat} * 512);
      nodes.push_back(children[2]);
      places.push_back(uint64_t{rootStart} * 512);
      const std::vector<TreeNode> entries = rig.Expand(children[2]);
      ASSERT_EQ(entries.size(), 2u);
      EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{});
      for (const TreeNode& e : entries) {
        nodes.push_back(e);
        places.push_back((uint64_t{dataStart} + (e.packet->firstCluster - 2) * perCluster) * 512);
      }

      // The file shows its own bytes, as mtype reads them.
      ShowNode(rig.ctx, *entries[0].packet, DumpModes{});
      ASSERT_EQ(Label(entries[0]), "DATA    .BIN");
      ASSERT_GE(rig.pane.sectorBuffer.size(), 512u);
      EXPECT_TRUE(std::equal(rig.pane.sectorBuffer.begin(), rig.pane.sectorBuffer.begin() + 512,
                             vol.ReadFile("::/DATA.BIN").begin()));

      for (size_t n = 0; n < nodes.size(); ++n) {
        SCOPED_TRACE("node " + Label(nodes[n]));
        const std::vector<uint8_t> before = ReadFileBytes(image);
        rig.prompt.Clear();
        ShowNode(rig.ctx, *nodes[n].packet, DumpModes{.sectorDump = true, .rawDump = false});
        RowBytesArray row = RowBytes(rig.pane, 0);
        EXPECT_EQ(row[0], before[places[n]]);
        row[0] ^= 0xFF;
        ASSERT_TRUE(SetRowBytes(rig.pane, 0, row));
        rig.prompt.AnswerYes();
        EXPECT_TRUE(WriteChanges(rig.ctx, DumpModes{.sectorDump = true, .rawDump = false}));
        EXPECT_EQ(OnlyDifference(before, ReadFileBytes(image)), static_cast<int64_t>(places[n]));
        // Put the byte back for the next node.
        row[0] ^= 0xFF;
        ASSERT_TRUE(SetRowBytes(rig.pane, 0, row));
        rig.prompt.AnswerYes();
        EXPECT_TRUE(WriteChanges(rig.ctx, DumpModes{.sectorDump = true, .rawDump = false}));
        EXPECT_TRUE(ReadFileBytes(image) == before);
      }
    }
    std::string report;
    EXPECT_TRUE(vol.Check(&report)) << report;
  }
}

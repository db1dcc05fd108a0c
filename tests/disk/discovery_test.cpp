#include "disk/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

#include "disk/fat_codec.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "disk/volume_layout.h"
#include "disk/dir_entry.h"
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

// The tree over the shared test drives, on the library path (an in-process
// engine) or the direct path.
struct Harness : TestDrives {
  explicit Harness(bool library) : TestDrives(library ? Library : Direct) {}

  // Binds and lists the drives; the top-level nodes.
  std::vector<TreeNode> Bind() {
    TestDrives::Bind();
    CollectSink sink;
    discovery.ListDrives(access, sink);
    return sink.nodes;
  }
  std::vector<TreeNode> Expand(const TreeNode& node, bool* allowed = nullptr) {
    CollectSink sink;
    const bool ok = ExpandShownNode(ctx, discovery, *node.packet, sink);
    if (allowed) *allowed = ok;
    return sink.nodes;
  }
  // The child of node with this label (expanding node); fails the test when
  // there is none.
  TreeNode Child(const TreeNode& node, const std::string& label) {
    for (const auto& c : Expand(node))
      if (LabelOf(c) == label) return c;
    ADD_FAILURE() << "no child " << label;
    return {};
  }
  // Every node below the top, depth first, two spaces a level, as `tree` prints.
  std::string TreeText() {
    std::ostringstream out;
    std::function<void(const TreeNode&, int)> walk = [&](const TreeNode& n, int depth) {
      out << std::string(2 * depth, ' ') << LabelOf(n) << '\n';
      if (n.hasChildren)
        for (const auto& c : Expand(n)) walk(c, depth + 1);
    };
    for (const auto& top : Bind()) walk(top, 0);
    return out.str();
  }

  ViewPage pane;
  ViewContext ctx{access, pane};
  PacketStore store;
  DriveDiscovery discovery{store};
};

// A disk of `sectors` zero sectors with an MBR partition table.
struct Entry {
  uint8_t type;
  uint32_t lba;
  uint8_t head = 0, sector = 0, cylinder = 0;
};
void PutTable(std::vector<uint8_t>& disk, uint64_t at, const std::vector<Entry>& entries) {
  std::span<uint8_t> s(disk.data() + at * 512, 512);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t e = 0x1BE + 16 * i;
    s[e + 1] = entries[i].head;
    s[e + 2] = entries[i].sector;
    s[e + 3] = entries[i].cylinder;
    s[e + 4] = entries[i].type;
    putLe32(s, e + 8, entries[i].lba);
    putLe32(s, e + 12, 10);
  }
  s[510] = 0x55;
  s[511] = 0xAA;
}

std::vector<std::string> Labels(const std::vector<TreeNode>& nodes) {
  std::vector<std::string> out;
  for (const auto& n : nodes) out.push_back(LabelOf(n));
  return out;
}

// A name as mdir -b writes it: "NAME.EXT" from the padded 8.3 form; long
// names as they stand. Upper case, as mtools may keep a short name's case
// bits that the entry's bytes do not show.
std::string Comparable(std::string name) {
  if (name.size() == 12 && name[8] == '.') {
    std::string base = name.substr(0, 8), ext = name.substr(9);
    while (!base.empty() && base.back() == ' ') base.pop_back();
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    name = ext.empty() ? base : base + "." + ext;
  }
  std::transform(name.begin(), name.end(), name.begin(), ::toupper);
  return name;
}

// "::/PATH" lines for every file and folder below node, as mdir -/ -b lists them.
void CollectPaths(Harness& h, const TreeNode& node, const std::string& prefix,
                  std::set<std::string>& out) {
  for (const auto& c : h.Expand(node)) {
    const std::string path = prefix + "/" + Comparable(LabelOf(c));
    out.insert(path + (c.hasChildren ? "/" : ""));
    if (c.hasChildren) CollectPaths(h, c, path, out);
  }
}

std::set<std::string> MdirPaths(const FatVolume& v) {
  std::set<std::string> out;
  std::istringstream in(v.ListAll());
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("::", 0) == 0) out.insert(Comparable(line.substr(2)));
  return out;
}

}  // namespace


namespace {

// The parameters of a FAT volume that lies at byte `at` of an image, as the
// program's decoder gives them.
struct Vol {
  std::vector<uint8_t>* bytes;
  uint64_t at;
  uint32_t reserved, fats, spf, rootEntries, spc, total, rootCluster, dataStart;
  FatWidth width;

  static Vol At(std::vector<uint8_t>& bytes, uint64_t at) {
    const std::optional<VolumeLayout> l = DecodeVolume(std::span<const uint8_t>(bytes).subspan(at, 512));
    if (!l) {
      ADD_FAILURE() << "no FAT volume at byte " << at;
      return Vol{&bytes, at, 1, 1, 1, 0, 1, 0, 0, 0, FatWidth::Fat12};
    }
    return Vol{&bytes, at, l->reservedSectors, l->fatCount, l->sectorsPerFat, l->rootEntries,
               l->sectorsPerCluster, l->totalSectors, l->rootCluster, l->dataStart, l->width};
  }
  uint64_t SectorOffset(uint64_t sector) const { return at + sector * 512; }
  uint64_t ClusterOffset(uint32_t c) const {
    return SectorOffset(dataStart + uint64_t{c - 2} * spc);
  }
  uint64_t RootOffset() const {
    return width == FatWidth::Fat32 ? ClusterOffset(rootCluster) : SectorOffset(reserved + fats * spf);
  }
  uint32_t Clusters() const { return (total - dataStart) / spc; }
  void SetFat(uint32_t cluster, uint32_t value) const {
    for (uint32_t i = 0; i < fats; ++i) {
      std::span<uint8_t> t(bytes->data() + SectorOffset(reserved + i * spf), spf * 512);
      EXPECT_TRUE(SetFatEntry(cluster, width, t, value));
    }
  }
  // The entry named name11 (8 + 3 bytes, blank-padded) in the 32-byte slots from off.
  uint64_t FindEntry(uint64_t off, size_t slots, const std::string& name11) const {
    for (size_t i = 0; i < slots; ++i)
      if (std::memcmp(bytes->data() + off + 32 * i, name11.data(), 11) == 0) return off + 32 * i;
    ADD_FAILURE() << "no entry " << name11;
    return 0;
  }
  uint64_t FreeSlot(uint64_t off, size_t slots) const {
    for (size_t i = 0; i < slots; ++i)
      if ((*bytes)[off + 32 * i] == 0) return off + 32 * i;
    ADD_FAILURE() << "directory full";
    return 0;
  }
  uint32_t ClusterOf(uint64_t entry) const {
    std::span<const uint8_t> e(bytes->data() + entry, 32);
    return DirEntryFirstCluster(e, width);
  }
  void PutEntry(uint64_t off, const std::string& name11, uint8_t attr, uint32_t cluster) const {
    std::span<uint8_t> e(bytes->data() + off, 32);
    std::fill(e.begin(), e.end(), 0);
    std::memcpy(e.data(), name11.data(), 11);
    e[11] = attr;
    putLe16(e, 20, static_cast<uint16_t>(cluster >> 16));
    putLe16(e, 26, static_cast<uint16_t>(cluster));
  }
};

// One partition of `sectors` sectors at 2048 of a new image, formatted.
FatVolume MakePartitioned(const TempDir& dir, const std::string& name, int bits,
                          uint32_t sectors, const std::string& extra = "") {
  const std::string type = bits == 32 ? "c" : bits == 16 ? "6" : "1";
  PartitionImage(dir.File(name), sectors + 2048,
                 "start=2048, size=" + std::to_string(sectors) + ", type=" + type + "\n");
  return FormatPartition(dir.File(name), 2048, sectors, bits, extra);
}

// A boot record's fields, in the order the discovery reads them.
struct Boot {
  uint16_t bps = 512;
  uint8_t spc = 1;
  uint16_t reserved = 1;
  uint8_t fats = 2;
  uint16_t rootEntries = 224;
  uint16_t total16 = 2880;
  uint16_t spf16 = 9;
  uint16_t spt = 18, heads = 2;
  uint32_t total32 = 0, spf32 = 0, rootCluster = 0;
  void Put(std::vector<uint8_t>& disk, uint64_t sector) const {
    std::span<uint8_t> b(disk.data() + sector * 512, 512);
    putLe16(b, 0x0B, bps);
    b[0x0D] = spc;
    putLe16(b, 0x0E, reserved);
    b[0x10] = fats;
    putLe16(b, 0x11, rootEntries);
    putLe16(b, 0x13, total16);
    putLe16(b, 0x16, spf16);
    putLe16(b, 0x18, spt);
    putLe16(b, 0x1A, heads);
    putLe32(b, 0x20, total32);
    putLe32(b, 0x24, spf32);
    putLe32(b, 0x2C, rootCluster);
  }
};

}  // namespace

TEST(DiscoveryTest, SampleImagesGiveTheWholeTreeOnBothPaths) {
  const std::string volume =
      "  FAT 1\n"
      "  FAT 2\n"
      "  Root Directory\n"
      "    DOCS    .   \n"
      "      Projects Folder\n"
      "        PLAN    .TXT\n"
      "      Long File Name Document.txt\n"
      "      BIG     .BIN\n"
      "    GAMES   .   \n"
      "      SCORES  .DAT\n"
      "    README  .TXT\n"
      "    EMPTY   .TXT\n";
  auto indent = [](const std::string& text, int levels) {
    std::string out, pad(2 * levels, ' ');
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out += pad + line + "\n";
    return out;
  };
  const std::string expected = "Floppy Disk 1\n" + volume + "Hard Disk 1\n" +
                               "  16-Bit FAT Disk\n" + indent(volume, 1) +
                               "  Extended DOS Partition\n" + "    32-Bit FAT Disk\n" +
                               indent(volume, 2) + "    Extended DOS Partition\n" +
                               "      12-Bit FAT Disk\n" + indent(volume, 3);
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  MakeSampleFloppy(dir.File("floppy.img"));
  for (bool library : {true, false}) {
    SCOPED_TRACE(library ? "library path" : "direct path");
    Harness h(library);
    h.AddFloppy(ReadFileBytes(dir.File("floppy.img")));
    h.AddDisk(ReadFileBytes(disk.image));
    EXPECT_EQ(h.TreeText(), expected);
    EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
    EXPECT_EQ(h.access.HardDiskCount(), 1u);
    ASSERT_NE(h.discovery.LastHardDisk(), nullptr);
    EXPECT_EQ(h.discovery.LastHardDisk()->drive, 0x80);
    EXPECT_GT(h.prompt.WaitCount(), 0);
    EXPECT_EQ(h.prompt.Status(0), "");
  }
}

TEST(DiscoveryTest, PacketsCarryTheTruePlacesOfTheSampleDisk) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  std::vector<uint8_t> bytes = ReadFileBytes(disk.image);
  Harness h(true);
  h.AddDisk(bytes);
  const auto tops = h.Bind();
  ASSERT_EQ(tops.size(), 1u);
  const DrivePacket& hd = *tops[0].packet;
  EXPECT_EQ(hd.kind, NodeKind::HardDisk);
  EXPECT_EQ(hd.sector, 1);
  EXPECT_EQ(hd.sectorCount, 1u);
  EXPECT_EQ(hd.int13Extensions, 1u);

  const auto parts = h.Expand(tops[0]);
  EXPECT_EQ(h.pane.shownPacket.kind, NodeKind::HardDisk);
  ASSERT_EQ(parts.size(), 2u);
  const DrivePacket& p16 = *parts[0].packet;
  EXPECT_EQ(p16.kind, NodeKind::Volume);
  EXPECT_EQ(p16.partitionStart, disk.fat16Start);
  EXPECT_EQ(p16.fatType, FatWidth::None);
  EXPECT_EQ(p16.int13Extensions, 1u);
  // The CHS base is the entry's own bytes.
  EXPECT_EQ(p16.head, bytes[0x1BE + 1]);
  EXPECT_EQ(p16.sector, bytes[0x1BE + 2]);
  EXPECT_EQ(p16.cylinder, bytes[0x1BE + 3]);
  EXPECT_EQ(parts[1].packet->kind, NodeKind::Extended);
  EXPECT_EQ(parts[1].packet->partitionStart, disk.extendedStart);

  const auto logical1 = h.Expand(parts[1]);
  ASSERT_EQ(logical1.size(), 2u);
  EXPECT_EQ(logical1[0].packet->partitionStart, disk.fat32Start);
  EXPECT_EQ(logical1[0].packet->fatType, FatWidth::Fat32);
  const auto logical2 = h.Expand(logical1[1]);
  ASSERT_EQ(logical2.size(), 1u);
  EXPECT_EQ(logical2[0].packet->partitionStart, disk.fat12Start);
  EXPECT_EQ(logical2[0].packet->fatType, FatWidth::None);

  // FAT16: FAT copies and the fixed root directory from the boot record.
  const Vol v16 = Vol::At(bytes, uint64_t{disk.fat16Start} * 512);
  const auto c16 = h.Expand(parts[0]);
  ASSERT_EQ(Labels(c16), (std::vector<std::string>{"FAT 1", "FAT 2", "Root Directory"}));
  for (uint32_t i = 0; i < 2; ++i) {
    const DrivePacket& f = *c16[i].packet;
    EXPECT_EQ(f.kind, NodeKind::Fat16);
    EXPECT_EQ(f.sectorCount, v16.spf);
    EXPECT_EQ(f.startSector, v16.reserved + i * v16.spf);
    EXPECT_EQ(f.totalSectors, v16.total);
    EXPECT_EQ(f.partitionStart, disk.fat16Start);
    EXPECT_FALSE(c16[i].hasChildren);
  }
  const DrivePacket& r16 = *c16[2].packet;
  EXPECT_EQ(r16.kind, NodeKind::RootDir);
  EXPECT_EQ(r16.sectorCount, v16.rootEntries * 32 / 512);
  EXPECT_EQ(r16.startSector, v16.reserved + 2 * v16.spf);
  EXPECT_EQ(r16.dataStart, v16.dataStart);
  EXPECT_EQ(r16.reservedSectors, v16.reserved);
  EXPECT_EQ(r16.sectorsPerFat, v16.spf);

  const auto files16 = h.Expand(c16[2]);
  const TreeNode* readme = nullptr;
  for (const auto& f : files16)
    if (LabelOf(f) == "README  .TXT") readme = &f;
  ASSERT_NE(readme, nullptr);
  EXPECT_TRUE(readme->labelByCallback);
  EXPECT_EQ(readme->label, "");
  const DrivePacket& rp = *readme->packet;
  EXPECT_EQ(rp.kind, NodeKind::DirEntry);
  EXPECT_EQ(rp.sectorCount, 0u);
  EXPECT_EQ(rp.startSector, v16.dataStart);
  EXPECT_EQ(rp.attributes, 0x20);
  EXPECT_EQ(rp.firstCluster,
            v16.ClusterOf(v16.FindEntry(v16.RootOffset(), v16.rootEntries, "README  TXT")));
  EXPECT_STREQ(rp.nameText, "README  .TXT");

  // FAT32: the root is a cluster chain from the boot record's root cluster.
  const Vol v32 = Vol::At(bytes, uint64_t{disk.fat32Start} * 512);
  const auto c32 = h.Expand(logical1[0]);
  ASSERT_EQ(c32.size(), 3u);
  EXPECT_EQ(c32[0].packet->kind, NodeKind::Fat32);
  EXPECT_EQ(c32[0].packet->sectorCount, v32.spf);
  const DrivePacket& r32 = *c32[2].packet;
  EXPECT_EQ(r32.kind, NodeKind::DirEntry);
  EXPECT_EQ(r32.sectorCount, 0u);
  EXPECT_EQ(r32.attributes, 0x10);
  EXPECT_EQ(r32.firstCluster, v32.rootCluster);
  EXPECT_EQ(r32.startSector, v32.dataStart);
  EXPECT_EQ(r32.dataStart, v32.dataStart);
  const auto files32 = h.Expand(c32[2]);
  ASSERT_FALSE(files32.empty());
  EXPECT_EQ(LabelOf(files32[0]), "DOCS    .   ");
  EXPECT_EQ(files32[0].packet->firstCluster,
            v32.ClusterOf(v32.FindEntry(v32.RootOffset(), 16, "DOCS       ")));
  EXPECT_EQ(files32[0].packet->startSector, v32.dataStart);

  // FAT12 by its cluster count.
  const auto c12 = h.Expand(logical2[0]);
  ASSERT_EQ(c12.size(), 3u);
  EXPECT_EQ(c12[0].packet->kind, NodeKind::Fat12);
}

TEST(DiscoveryTest, TreeListsWhatMdirListsOnEveryWidth) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
  // A few more long and lower-case names than the sample holds.
  for (const FatVolume* v : {&disk.fat16, &disk.fat32, &disk.fat12, &floppy}) {
    v->PutFile("::/DOCS/Projects Folder/a much longer name than fits.text", std::string("x"));
    v->MakeDir("::/GAMES/Saved Games");
    v->PutFile("::/GAMES/Saved Games/slot one.sav", std::string("y"));
  }
  Harness h(true);
  h.AddFloppy(ReadFileBytes(floppy.image));
  h.AddDisk(ReadFileBytes(disk.image));
  const auto tops = h.Bind();
  ASSERT_EQ(tops.size(), 2u);
  auto rootOf = [&](const TreeNode& volume) { return h.Child(volume, "Root Directory"); };

  std::set<std::string> paths;
  CollectPaths(h, rootOf(tops[0]), "", paths);
  EXPECT_EQ(paths, MdirPaths(floppy));

  const auto parts = h.Expand(tops[1]);
  const auto logical1 = h.Expand(parts[1]);
  const auto logical2 = h.Expand(logical1[1]);
  const std::pair<const TreeNode*, const FatVolume*> volumes[] = {
      {&parts[0], &disk.fat16}, {&logical1[0], &disk.fat32}, {&logical2[0], &disk.fat12}};
  for (const auto& [node, volume] : volumes) {
    SCOPED_TRACE(LabelOf(*node));
    std::set<std::string> found;
    CollectPaths(h, rootOf(*node), "", found);
    EXPECT_EQ(found, MdirPaths(*volume));
    // No volume label, "." or "..": every name is one mdir lists.
    EXPECT_EQ(found.count("/FAT32VOL"), 0u);
  }
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
}

TEST(DiscoveryTest, PartitionTablesFollowTheTypeTable) {
  std::vector<uint8_t> d1(64 * 512), d2(64 * 512), d3(64 * 512);
  PutTable(d1, 0, {{0x06, 10, 1, 2, 3}, {0x07, 20}, {0x0C, 30, 4, 0xC5, 6}, {0x00, 40}});
  PutTable(d2, 0, {{0x01, 10}, {0x05, 20}, {0x0E, 30}, {0x0F, 40}});
  PutTable(d3, 0, {{0x04, 10}, {0x0B, 20}, {0x00, 0}, {0x00, 0}});
  Harness h(false);
  h.AddDisk(d1);
  h.AddDisk(d2);
  h.AddDisk(d3);
  const auto tops = h.Bind();
  ASSERT_EQ(Labels(tops), (std::vector<std::string>{"Hard Disk 1", "Hard Disk 2", "Hard Disk 3"}));
  EXPECT_EQ(h.access.HardDiskCount(), 3u);
  EXPECT_EQ(h.discovery.LastHardDisk(), tops[2].packet);

  const auto c1 = h.Expand(tops[0]);
  ASSERT_EQ(Labels(c1), (std::vector<std::string>{"16-Bit FAT Disk", "Unknown", "32-Bit FAT Disk"}));
  EXPECT_TRUE(c1[0].hasChildren);
  EXPECT_EQ(c1[0].packet->startSector, 0u);
  EXPECT_EQ(c1[0].packet->head, 1);
  EXPECT_EQ(c1[0].packet->sector, 2);
  EXPECT_EQ(c1[0].packet->cylinder, 3);
  EXPECT_EQ(c1[0].packet->sectorCount, 1u);
  EXPECT_EQ(c1[0].packet->partitionStart, 10u);
  EXPECT_FALSE(c1[1].hasChildren);
  EXPECT_EQ(c1[1].packet->kind, NodeKind::Unknown);
  EXPECT_EQ(c1[1].packet->startSector, 1u);
  EXPECT_EQ(c1[1].packet->partitionStart, 20u);
  EXPECT_TRUE(c1[2].hasChildren);
  EXPECT_EQ(c1[2].packet->kind, NodeKind::Volume);
  EXPECT_EQ(c1[2].packet->fatType, FatWidth::Fat32);
  EXPECT_EQ(c1[2].packet->sector, 0xC5);

  const auto c2 = h.Expand(tops[1]);
  ASSERT_EQ(Labels(c2), (std::vector<std::string>{"12-Bit FAT Disk", "Extended DOS Partition",
                                                  "16-Bit FAT Disk", "Extended 32-bit Partition"}));
  EXPECT_EQ(c2[1].packet->kind, NodeKind::Extended);
  EXPECT_EQ(c2[1].packet->partitionStart, 20u);
  // An entry after an extended one is still placed by its own start.
  EXPECT_EQ(c2[2].packet->partitionStart, 30u);
  EXPECT_EQ(c2[3].packet->kind, NodeKind::Extended);
  EXPECT_EQ(c2[3].packet->fatType, FatWidth::None);

  const auto c3 = h.Expand(tops[2]);
  ASSERT_EQ(Labels(c3), (std::vector<std::string>{"16-Bit FAT Disk", "32-Bit FAT Disk"}));
  EXPECT_EQ(c3[1].packet->fatType, FatWidth::Fat32);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
}

// Extended partition at 1000 whose chain holds three extended boot records;
// the second lists its link before its logical drive.
std::vector<uint8_t> ChainDisk(uint32_t base) {
  std::vector<uint8_t> d(size_t{base + 6000} * 512);
  PutTable(d, 0, {{0x06, 10}, {0x05, base}});
  PutTable(d, base, {{0x06, 63}, {0x05, 2000}});
  PutTable(d, base + 2000, {{0x05, 4000}, {0x01, 63}});
  PutTable(d, base + 4000, {{0x0B, 63}, {0x83, 100}});
  return d;
}

TEST(DiscoveryTest, LogicalDrivesKeepTheirStartsInAnyExpansionOrder) {
  auto starts = [](std::initializer_list<std::vector<TreeNode>> levels, uint32_t shift) {
    std::vector<std::string> out;
    for (const auto& nodes : levels)
      for (const auto& n : nodes)
        out.push_back(LabelOf(n) + "@" + std::to_string(n.packet->partitionStart - shift));
    return out;
  };
  // Logical drives count from their own extended boot record, links from
  // the extended partition's start; the second record's link comes first.
  const std::vector<std::string> expected = {
      "16-Bit FAT Disk@1063", "Extended DOS Partition@3000", "Extended DOS Partition@5000",
      "12-Bit FAT Disk@3063", "32-Bit FAT Disk@5063",        "Unknown@5100"};

  // In chain order.
  Harness h(true);
  h.AddDisk(ChainDisk(1000));
  const auto e1 = h.Expand(h.Expand(h.Bind()[0])[1]);
  const auto e2 = h.Expand(e1[1]);
  const auto e3 = h.Expand(e2[0]);
  EXPECT_EQ(starts({e1, e2, e3}, 0), expected);
  // An unknown type inside the chain is offered as a volume.
  EXPECT_EQ(e3[1].packet->kind, NodeKind::Volume);
  EXPECT_TRUE(e3[1].hasChildren);

  // Out of order, with another disk's chain expanded in between: the same
  // starts, where one pair of walk values for the whole program would move
  // them.
  Harness g(false);
  g.AddDisk(ChainDisk(1000));
  g.AddDisk(ChainDisk(7000));
  const auto tops = g.Bind();
  const auto a1 = g.Expand(g.Expand(tops[0])[1]);
  const auto b1 = g.Expand(g.Expand(tops[1])[1]);
  const auto b2 = g.Expand(b1[1]);
  const auto a2 = g.Expand(a1[1]);
  const auto b3 = g.Expand(b2[0]);
  const auto a3 = g.Expand(a2[0]);
  EXPECT_EQ(starts({a1, a2, a3}, 0), expected);
  EXPECT_EQ(starts({b1, b2, b3}, 6000), expected);
}

TEST(DiscoveryTest, LoopingExtendedChainEndsInAnEmptyNode) {
  std::vector<uint8_t> d(8000 * 512);
  PutTable(d, 0, {{0x05, 1000}});
  PutTable(d, 1000, {{0x06, 63}, {0x05, 2000}});
  PutTable(d, 3000, {{0x01, 63}, {0x05, 0}});  // links back to the first record
  std::vector<uint8_t> self(4000 * 512);
  PutTable(self, 0, {{0x0F, 1000}});
  PutTable(self, 1000, {{0x05, 0}});  // links to itself
  Harness h(true);
  h.AddDisk(d);
  h.AddDisk(self);
  // The logical drives hold no boot record: their nodes stay empty without
  // a message (no sector or cluster size).
  EXPECT_EQ(h.TreeText(),
            "Hard Disk 1\n"
            "  Extended DOS Partition\n"
            "    16-Bit FAT Disk\n"
            "    Extended DOS Partition\n"
            "      12-Bit FAT Disk\n"
            "      Extended DOS Partition\n"
            "Hard Disk 2\n"
            "  Extended 32-bit Partition\n"
            "    Extended DOS Partition\n");
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
}

TEST(DiscoveryTest, BootRecordGivesTheFatCopiesAndTheRoot) {
  std::vector<uint8_t> d(64 * 512);
  PutTable(d, 0, {{0x06, 10}, {0x06, 11}, {0x06, 12}, {0x06, 13}});
  Boot floppyLike;  // 2880 clusters
  floppyLike.Put(d, 10);
  // The width goes by data clusters: those after the FATs and the root.
  Boot exact;  // 4085 data clusters of 4 sectors: the fewest of a 16-bit FAT
  exact.spc = 4;
  exact.total16 = 0;
  exact.total32 = 81 + 4 * 4085;
  exact.fats = 3;
  exact.spf16 = 16;
  exact.rootEntries = 512;
  exact.Put(d, 11);
  Boot below = exact;  // 4084 data clusters
  below.total32 = 81 + 4 * 4084 + 3;
  below.Put(d, 12);
  Boot large = exact;  // 65524 data clusters of 64 KiB: the most of a 16-bit FAT
  large.spc = 128;
  large.total32 = 545 + 128 * 65524 + 127;
  large.fats = 2;
  large.spf16 = 256;
  large.Put(d, 13);

  std::vector<uint8_t> d2(64 * 512);
  PutTable(d2, 0, {{0x06, 10}, {0x06, 11}, {0x0C, 12}, {0x0B, 13}});
  Boot noSectorSize;
  noSectorSize.bps = 0;
  noSectorSize.Put(d2, 10);
  Boot noClusterSize;
  noClusterSize.spc = 0;
  noClusterSize.Put(d2, 11);
  Boot fat32;
  fat32.spc = 8;
  fat32.reserved = 32;
  fat32.fats = 3;
  fat32.rootEntries = 0;
  fat32.total16 = 0;
  fat32.spf16 = 0;
  fat32.total32 = 1000000;
  fat32.spf32 = 977;
  fat32.rootCluster = 5;
  fat32.heads = 255;
  fat32.spt = 63;
  fat32.Put(d2, 12);
  Boot unreachable = fat32;  // its FATs end past 32-bit sector numbers
  unreachable.spf32 = 0x80000000u;
  unreachable.fats = 2;
  unreachable.Put(d2, 13);

  Harness h(true);
  h.AddDisk(d);
  h.AddDisk(d2);
  const auto tops = h.Bind();
  const auto v1 = h.Expand(tops[0]);
  auto kinds = [&](const TreeNode& volume) {
    std::vector<std::string> out;
    for (const auto& c : h.Expand(volume))
      out.push_back(LabelOf(c) + ":" + std::to_string(static_cast<unsigned>(c.packet->kind)) + ":" +
                    std::to_string(c.packet->startSector) + ":" +
                    std::to_string(c.packet->sectorCount));
    return out;
  };
  EXPECT_EQ(kinds(v1[0]), (std::vector<std::string>{"FAT 1:4:1:9", "FAT 2:4:10:9",
                                                    "Root Directory:5:19:14"}));
  EXPECT_EQ(kinds(v1[1]), (std::vector<std::string>{"FAT 1:3:1:16", "FAT 2:3:17:16",
                                                    "FAT 3:3:33:16", "Root Directory:5:49:32"}));
  EXPECT_EQ(kinds(v1[2]), (std::vector<std::string>{"FAT 1:4:1:16", "FAT 2:4:17:16",
                                                    "FAT 3:4:33:16", "Root Directory:5:49:32"}));
  // Nearly 2^32 bytes of clusters: counted in bytes they would wrap 32 bits.
  EXPECT_EQ(kinds(v1[3]), (std::vector<std::string>{"FAT 1:3:1:256", "FAT 2:3:257:256",
                                                    "Root Directory:5:513:32"}));

  const auto v2 = h.Expand(tops[1]);
  EXPECT_EQ(kinds(v2[0]), std::vector<std::string>{});
  EXPECT_EQ(kinds(v2[1]), std::vector<std::string>{});
  const auto c32 = h.Expand(v2[2]);
  ASSERT_EQ(Labels(c32), (std::vector<std::string>{"FAT 1", "FAT 2", "FAT 3", "Root Directory"}));
  EXPECT_EQ(c32[2].packet->kind, NodeKind::Fat32);
  EXPECT_EQ(c32[2].packet->startSector, 32u + 2 * 977);
  EXPECT_EQ(c32[2].packet->sectorsPerCluster, 8);
  EXPECT_EQ(c32[2].packet->totalSectors, 1000000u);
  const DrivePacket& root = *c32[3].packet;
  EXPECT_EQ(root.kind, NodeKind::DirEntry);
  EXPECT_EQ(root.firstCluster, 5u);
  EXPECT_EQ(root.attributes, 0x10);
  EXPECT_EQ(root.startSector, 32u + 3 * 977);
  EXPECT_EQ(root.dataStart, root.startSector);
  EXPECT_EQ(root.sectorsPerFat, 977u);
  EXPECT_EQ(root.reservedSectors, 32);
  EXPECT_EQ(root.heads, 255);
  EXPECT_EQ(root.sectorsPerTrack, 63);
  EXPECT_EQ(root.partitionStart, 12u);
  EXPECT_EQ(kinds(v2[3]), std::vector<std::string>{});
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
}

TEST(DiscoveryTest, DamagedFoldersAndChainsEndInEmptyNodes) {
  for (int bits : {16, 32}) {
    SCOPED_TRACE(bits);
    TempDir dir;
    const FatVolume v = MakePartitioned(dir, "disk.img", bits, bits == 32 ? 69632 : 20480);
    v.MakeDir("::/SUB");
    v.PutFile("::/SUB/A.TXT", std::string("a"));
    std::vector<uint8_t> bytes = ReadFileBytes(v.image);
    const Vol vol = Vol::At(bytes, v.offset);
    const uint32_t sub = vol.ClusterOf(vol.FindEntry(vol.RootOffset(), 16, "SUB        "));
    const uint64_t subDir = vol.ClusterOffset(sub);
    // A folder that is its own parent, one that is the root, one past the
    // FAT, and one whose chain loops over two clusters.
    const uint32_t ring = vol.Clusters() - 4;
    vol.PutEntry(vol.FreeSlot(subDir, 16), "SELF       ", 0x10, sub);
    vol.PutEntry(vol.FreeSlot(subDir, 16), "UP         ", 0x10, vol.rootCluster);
    vol.PutEntry(vol.FreeSlot(subDir, 16), "PAST       ", 0x10,
                 bits == 32 ? 0x0FFFFFF0u : 0xFFF0u);
    vol.PutEntry(vol.FreeSlot(subDir, 16), "RING       ", 0x10, ring);
    vol.SetFat(ring, ring + 1);
    vol.SetFat(ring + 1, ring);
    // Deleted slots behind X carry the walk on into the second cluster.
    for (uint32_t i = 1; i < vol.spc * 16; ++i) bytes[vol.ClusterOffset(ring) + 32 * i] = 0xE5;
    vol.PutEntry(vol.ClusterOffset(ring), "X       TXT", 0x20, 0);
    vol.PutEntry(vol.ClusterOffset(ring + 1), "Y       TXT", 0x20, 0);
    // A folder in the volume's last cluster whose chain goes on past the
    // volume: only what lies inside is walked.
    const uint32_t last = vol.Clusters() + 1;
    vol.PutEntry(vol.FreeSlot(subDir, 16), "EDGE       ", 0x10, last);
    vol.SetFat(last, last + 1);
    vol.PutEntry(vol.ClusterOffset(last), "Z       TXT", 0x20, 0);
    for (uint32_t i = 1; i < vol.spc * 16; ++i) bytes[vol.ClusterOffset(last) + 32 * i] = 0xE5;
    ASSERT_LE(vol.ClusterOffset(last + 1) + 32, bytes.size());  // the image goes on
    vol.PutEntry(vol.ClusterOffset(last + 1), "OUTSIDE TXT", 0x20, 0);
    // The root holds itself too, under another name.
    vol.PutEntry(vol.FreeSlot(vol.RootOffset(), 16), "ROOT       ", 0x10, vol.rootCluster);

    Harness h(true);
    h.AddDisk(bytes);
    const std::string fatName = bits == 32 ? "32-Bit FAT Disk" : "16-Bit FAT Disk";
    EXPECT_EQ(h.TreeText(),
              "Hard Disk 1\n"
              "  " + fatName + "\n"
              "    FAT 1\n"
              "    FAT 2\n"
              "    Root Directory\n"
              "      SUB     .   \n"
              "        A       .TXT\n"
              "        SELF    .   \n"
              "        UP      .   \n"
              "        PAST    .   \n"
              "        RING    .   \n"
              "          X       .TXT\n"
              "          Y       .TXT\n"
              "        EDGE    .   \n"
              "          Z       .TXT\n"
              "      ROOT    .   \n");
    EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
  }
}

TEST(DiscoveryTest, BootRecordsLargerThanTheDiskGiveTheirMessages) {
  TempDir dir;
  const FatVolume v32 = MakePartitioned(dir, "d32.img", 32, 69632);
  std::vector<uint8_t> b32 = ReadFileBytes(v32.image);
  // A FAT of 16M sectors on a volume that claims 2 TiB: the table would take
  // a gigabyte and lies past the end of the image.
  putLe32(std::span<uint8_t>(b32.data() + v32.offset, 512), 0x24, 0x00FFFFFF);
  putLe32(std::span<uint8_t>(b32.data() + v32.offset, 512), 0x20, 0xFFFFFFFF);

  // A FAT of 65535 sectors on a volume that claims room for it (a record
  // whose FATs pass its own end describes no volume at all).
  const FatVolume v16 = MakePartitioned(dir, "d16.img", 16, 20480);
  std::vector<uint8_t> b16 = ReadFileBytes(v16.image);
  const std::span<uint8_t> boot16(b16.data() + v16.offset, 512);
  putLe16(boot16, 0x16, 0xFFFF);
  putLe16(boot16, 0x13, 0);
  putLe32(boot16, 0x20, le16(boot16, 0x0E) + 2 * 0xFFFFu + 32 + boot16[0x0D] * 30000u);

  std::vector<uint8_t> past(64 * 512);
  PutTable(past, 0, {{0x06, 0x7FFFFFF0}});

  Harness h(true);
  FaultDevice* d32 = h.AddDisk(b32);
  h.AddDisk(b16);
  h.AddDisk(past);
  const auto tops = h.Bind();
  const auto root32 = h.Child(h.Expand(tops[0])[0], "Root Directory");
  // The root's FAT sector reads; its cluster lies past the two FATs claimed,
  // far past the disk's end.
  EXPECT_EQ(h.Expand(root32).size(), 0u);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{"Not able to load the sub-directory"});
  for (const auto& [offset, length] : d32->readLog) EXPECT_LE(length, 1u << 20);

  h.prompt.Clear();
  const auto root16 = h.Child(h.Expand(tops[1])[0], "Root Directory");
  EXPECT_EQ(h.Expand(root16).size(), 0u);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{"Root Directory not fully accessible!"});

  h.prompt.Clear();
  EXPECT_EQ(h.Expand(h.Expand(tops[2])[0]).size(), 0u);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{"Boot Record not accessible!"});
}

TEST(DiscoveryTest, ABootRecordWithoutGeometryIsStillReadWhole) {
  TempDir dir;
  const FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
  std::vector<uint8_t> noHeads = ReadFileBytes(floppy.image);
  putLe16(noHeads, 0x1A, 0);
  std::vector<uint8_t> noTrack = ReadFileBytes(floppy.image);
  putLe16(noTrack, 0x18, 0);
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  std::vector<uint8_t> hd = ReadFileBytes(disk.image);
  putLe16(std::span<uint8_t>(hd.data() + uint64_t{disk.fat16Start} * 512, 512), 0x1A, 0);
  putLe16(std::span<uint8_t>(hd.data() + uint64_t{disk.fat16Start} * 512, 512), 0x18, 0);

  for (bool library : {true, false}) {
    SCOPED_TRACE(library ? "library path" : "direct path");
    Harness h(library);
    h.AddFloppy(noHeads);
    h.AddFloppy(noTrack);
    h.AddDisk(hd);
    const auto tops = h.Bind();
    for (int f = 0; f < 2; ++f) {
      h.prompt.Clear();
      const auto root = h.Child(tops[f], "Root Directory");
      EXPECT_EQ(root.packet->heads == 0 || root.packet->sectorsPerTrack == 0, true);
      // CHS addresses are counted with the drive's geometry, never the boot
      // record's: a floppy whose record gives none is still read whole.
      EXPECT_EQ(h.Expand(root).size(), 4u);
      EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
    }
    // A hard disk is addressed by LBA on both paths.
    h.prompt.Clear();
    const auto root = h.Child(h.Expand(tops[2])[0], "Root Directory");
    EXPECT_EQ(h.Expand(root).size(), 4u);
    EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
  }
}

TEST(DiscoveryTest, EveryFailureShowsItsMessage) {
  TempDir dir;
  const FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
  std::vector<uint8_t> fb = ReadFileBytes(floppy.image);
  // A folder of 1200 clusters: its cluster list (4800 bytes) outgrows the
  // whole 12-bit FAT (4608 bytes).
  const Vol vol = Vol::At(fb, 0);
  vol.PutEntry(vol.FreeSlot(vol.RootOffset(), 224), "CHAIN      ", 0x10, 1500);
  for (uint32_t c = 1500; c < 2699; ++c) vol.SetFat(c, c + 1);
  vol.SetFat(2699, 0xFFF);
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));

  Harness h(false);
  FaultDevice* f0 = h.AddFloppy(fb);
  FaultDevice* f1 = h.AddFloppy(fb);
  FaultDevice* hd = h.AddDisk(ReadFileBytes(disk.image));
  const auto tops = h.Bind();
  ASSERT_EQ(tops.size(), 3u);
  auto said = [&](auto&& action) {
    h.prompt.Clear();
    action();
    EXPECT_EQ(h.prompt.Status(0), "");
    return h.prompt.Messages();
  };
  using Texts = std::vector<std::string>;

  // Direct path: a floppy is opened afresh by its expansion, and a drive that
  // will not open refuses the expansion.
  f1->openFails = true;
  bool allowed = true;
  EXPECT_EQ(said([&] { EXPECT_EQ(h.Expand(tops[1], &allowed).size(), 0u); }),
            Texts{"Drive not accessible!"});
  EXPECT_FALSE(allowed);
  const int opens = f0->opens;
  const auto volume = h.Expand(tops[0], &allowed);
  EXPECT_TRUE(allowed);
  EXPECT_EQ(f0->opens, opens + 1);
  const TreeNode root = volume.at(2);

  hd->badReadSectors = {0};
  EXPECT_EQ(said([&] { EXPECT_EQ(h.Expand(tops[2]).size(), 0u); }),
            Texts{"Partition table not accessible!"});
  hd->badReadSectors.clear();
  const auto parts = h.Expand(tops[2]);
  hd->badReadSectors = {disk.extendedStart};
  EXPECT_EQ(said([&] { h.Expand(parts[1]); }), Texts{"Extended partition not accessible!"});
  hd->badReadSectors = {disk.fat16Start};
  EXPECT_EQ(said([&] { h.Expand(parts[0]); }), Texts{"Boot Record not accessible!"});
  hd->badReadSectors.clear();

  h.pane.budget.limit = 100;
  EXPECT_EQ(said([&] {
              h.Expand(tops[2]);
              h.Expand(parts[1]);
              h.Expand(parts[0]);
            }),
            Texts(3, "Fatal Error!  Not able to allocate a Buffer!"));
  h.pane.budget.limit = 4000;
  EXPECT_EQ(said([&] { h.Expand(root); }),
            Texts{"Fatal Error!  Not able to allocate a Buffer for Root Directory!"});
  h.pane.budget.limit = kViewMemoryLimit;

  // A bad root sector reads as deleted entries; the walk goes on past it.
  f0->badReadSectors = {20};
  std::vector<TreeNode> files;
  EXPECT_EQ(said([&] { files = h.Expand(root); }), Texts{"Root Directory not fully accessible!"});
  EXPECT_EQ(Labels(files), (Texts{"DOCS    .   ", "GAMES   .   ", "README  .TXT", "EMPTY   .TXT",
                                 "CHAIN   .   "}));
  f0->badReadSectors.clear();
  const TreeNode docs = files[0], chain = files[4];

  // Not even one FAT sector fits.
  h.pane.budget.limit = 500;
  EXPECT_EQ(said([&] { h.Expand(docs); }),
            Texts{"Fatal Error!  Not able to allocate a Buffer For FAT!"});
  h.pane.budget.limit = 4700;
  EXPECT_EQ(said([&] { h.Expand(chain); }),
            Texts{"Fatal Error!  Not able to allocate a Buffer for FAT Entries!"});
  h.pane.budget.limit = 5000;
  EXPECT_EQ(said([&] { h.Expand(chain); }), Texts{"Fatal Error! Not able to allocate a Buffer!"});
  h.pane.budget.limit = kViewMemoryLimit;

  // The second FAT copy stands in for a failing first one.
  f0->badReadSectors = {1};
  EXPECT_EQ(said([&] { EXPECT_EQ(h.Expand(docs).size(), 3u); }), Texts{});
  // The sector FAT 2 gave is kept until Refresh; after it neither copy reads.
  h.access.Fats().Clear();
  f0->badReadSectors = {1, 10};
  EXPECT_EQ(said([&] { h.Expand(docs); }), Texts{"FAT not accessible!"});
  f0->badReadSectors = {vol.dataStart + docs.packet->firstCluster - 2};
  EXPECT_EQ(said([&] { h.Expand(docs); }), Texts{"Not able to load the sub-directory"});
  f0->badReadSectors.clear();
  EXPECT_EQ(said([&] { EXPECT_EQ(h.Expand(chain).size(), 0u); }), Texts{});
}

TEST(DiscoveryTest, FullStoresAreReportedAndRefreshGivesTheSpaceBack) {
  TempDir dir;
  const FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
  Harness h(true);
  h.AddFloppy(ReadFileBytes(floppy.image));
  const auto tops = h.Bind();
  const TreeNode root = h.Child(tops[0], "Root Directory");
  // Expanding again and again takes pool space each time, as a tree that
  // is never refreshed would.
  int rounds = 0;
  while (h.prompt.Messages().empty() && rounds < 100000) {
    h.Expand(root);
    ++rounds;
  }
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{"Packets memory not enough"});
  EXPECT_GT(rounds, 1000);
  EXPECT_LE(h.store.PoolBytesUsed(), PacketStore::kPoolBytes);

  h.prompt.Clear();
  CollectSink sink;
  h.discovery.ListDrives(h.access, sink);
  const TreeNode again = h.Child(sink.nodes.at(0), "Root Directory");
  EXPECT_EQ(h.Expand(again).size(), 4u);
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});

  Harness many(false);
  for (int i = 0; i < 11; ++i) many.AddFloppy(std::vector<uint8_t>(1474560));
  many.AddDisk(std::vector<uint8_t>(512));
  EXPECT_EQ(many.Bind().size(), 10u);
  EXPECT_EQ(many.prompt.Messages(), std::vector<std::string>{"Drive Packet memory not enough"});
  EXPECT_EQ(many.access.HardDiskCount(), 0u);
  EXPECT_EQ(many.discovery.LastHardDisk(), nullptr);
}

namespace {

uint8_t ShortNameChecksum(const std::string& name11) {
  uint8_t sum = 0;
  for (char c : name11) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + c);
  return sum;
}

// Long-name entries (last piece first) and the short entry, as a folder holds them.
void AppendNamedEntry(std::vector<uint8_t>& dir, const std::string& longName,
                      const std::string& name11) {
  const size_t pieces = (longName.size() + 12) / 13;
  for (size_t k = pieces; k >= 1; --k) {
    std::vector<uint8_t> e(32, 0);
    e[0] = static_cast<uint8_t>(k | (k == pieces ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = ShortNameChecksum(name11);
    for (size_t j = 0; j < 13; ++j) {
      const size_t at = (k - 1) * 13 + j;
      const uint16_t unit = at < longName.size() ? static_cast<uint8_t>(longName[at])
                            : at == longName.size() ? 0 : 0xFFFF;
      putLe16(e, kLfnCharOffsets[j], unit);
    }
    dir.insert(dir.end(), e.begin(), e.end());
  }
  std::vector<uint8_t> s(32, 0);
  std::memcpy(s.data(), name11.data(), 11);
  s[11] = 0x20;
  dir.insert(dir.end(), s.begin(), s.end());
}

}  // namespace

TEST(DiscoveryTest, FolderOfFiveThousandFilesExpandsWellUnderASecond) {
  TempDir dir;
  const FatVolume v = MakePartitioned(dir, "big.img", 32, 69632);
  v.MakeDir("::/BIG");
  std::vector<uint8_t> bytes = ReadFileBytes(v.image);
  const Vol vol = Vol::At(bytes, v.offset);
  const uint64_t entry = vol.FindEntry(vol.RootOffset(), 16, "BIG        ");
  const uint32_t first = vol.ClusterOf(entry);

  // ".", ".." and 5000 files with long names, over a chain of clusters that
  // starts at the folder's own.
  std::vector<uint8_t> content(bytes.begin() + vol.ClusterOffset(first),
                               bytes.begin() + vol.ClusterOffset(first) + 64);
  char longName[64], shortName[16];
  for (int i = 0; i < 5000; ++i) {
    std::snprintf(longName, sizeof longName, "File number %04d of the big folder.txt", i);
    std::snprintf(shortName, sizeof shortName, "F%07d TXT", i);
    AppendNamedEntry(content, longName, shortName);
  }
  const uint32_t clusterBytes = vol.spc * 512;
  content.resize((content.size() + clusterBytes - 1) / clusterBytes * clusterBytes, 0);
  const uint32_t count = static_cast<uint32_t>(content.size() / clusterBytes);
  const uint32_t spare = vol.Clusters() - count - 8;
  uint32_t c = first;
  for (uint32_t k = 0; k < count; ++k) {
    std::memcpy(bytes.data() + vol.ClusterOffset(c), content.data() + size_t{k} * clusterBytes,
                clusterBytes);
    const uint32_t next = k + 1 < count ? spare + k : 0x0FFFFFFF;
    vol.SetFat(c, next);
    c = next;
  }

  Harness h(true);
  h.AddDisk(bytes);
  const auto tops = h.Bind();
  const TreeNode root = h.Child(h.Expand(tops[0])[0], "Root Directory");
  const TreeNode big = h.Child(root, "BIG     .   ");
  const auto start = std::chrono::steady_clock::now();
  const auto files = h.Expand(big);
  const auto ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(files.size(), 5000u);
  EXPECT_EQ(LabelOf(files[0]), "File number 0000 of the big folder.txt");
  EXPECT_EQ(LabelOf(files[4999]), "File number 4999 of the big folder.txt");
  EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{});
  RecordProperty("expand_ms", std::to_string(ms));
  std::cout << "expanding a folder of 5000 files took " << ms << " ms\n";
}

TEST(DiscoveryTest, AVolumeOfLargerSectorsSaysSoInsteadOfShowingNothing) {
  TempDir dir;
  const std::string image = dir.File("big-sectors.img");
  ASSERT_TRUE(MustRun("mkfs.fat -S 1024 -C " + ShellQuote(image) + " 1440 >/dev/null"));
  ASSERT_TRUE(MustRun("mcopy -i " + ShellQuote(image) + " /etc/hostname ::/HOST.TXT"));
  for (bool library : {true, false}) {
    SCOPED_TRACE(library ? "library path" : "direct path");
    Harness h(library);
    h.AddFloppy(ReadFileBytes(image));
    const auto tops = h.Bind();
    ASSERT_EQ(tops.size(), 1u);
    EXPECT_TRUE(h.Expand(tops[0]).empty());
    EXPECT_EQ(h.prompt.Messages(),
              std::vector<std::string>{"Sector size of 1024 bytes is not supported!"});
  }
}

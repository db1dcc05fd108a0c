// Undelete and Rename After Recovery over volumes made by mkfs.fat and
// emptied by mdel and mdeltree, at all three widths: the files and folders
// come back with their bytes, fsck.fat finds nothing wrong, and nothing but
// the FAT copies and the directory's own sectors changes.
#include <gtest/gtest.h>

#include <random>

#include "recovery/rename_entry.h"
#include "recovery/undelete.h"
#include "recovery_rig.h"

namespace {

using Texts = std::vector<std::string>;
using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(gen());
  return bytes;
}

struct Width {
  FatWidth kind;
  int bits;
  uint32_t sectors;
  const char* extra;
};
// Named by its width, so that the test names stay the same from run to run.
void PrintTo(const Width& w, std::ostream* os) { *os << w.bits << "-bit FAT"; }

class RecoveryAcceptance : public ::testing::TestWithParam<Width> {};

// Renames the one row named name83 of the listing of node.
void Rename(RecoveryRig& rig, const DrivePacket& node, const std::string& name83,
            const std::string& name, const std::string& extension) {
  rig.Show(node);
  rig.Select({name83});
  static_cast<void>(RenameAfterRecovery(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows(), [&](ShortNameInput& in, const ShortNameCheck&) {
    in.name = name;
    in.extension = extension;
    return true;
  }));
}

TEST_P(RecoveryAcceptance, DeletedFilesAndFoldersComeBackWhole) {
  const Width w = GetParam();
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("v.img"), w.bits, w.sectors, w.extra);
  const auto readme = RandomBytes(5000, 1);
  const auto report = RandomBytes(1300, 2);
  const auto inner = RandomBytes(3000, 3);
  ASSERT_TRUE(v.PutFile("::/KEEP.TXT", "stays\r\n"));
  ASSERT_TRUE(v.PutFile("::/README.TXT", readme));
  ASSERT_TRUE(v.PutFile("::/Quarterly report.txt", report));
  ASSERT_TRUE(v.MakeDir("::/DOCS"));
  ASSERT_TRUE(v.PutFile("::/DOCS/INNER.BIN", inner));
  ASSERT_TRUE(v.PutFile("::/DOCS/NOTE.TXT", "ten bytes!"));
  ASSERT_TRUE(v.Delete("::/README.TXT"));
  ASSERT_TRUE(v.Delete("::/Quarterly report.txt"));
  ASSERT_TRUE(v.DeleteTree("::/DOCS"));

  RecoveryRig rig(ReadFileBytes(v.image));
  const DrivePacket root = rig.RootNode(w.kind);
  const uint64_t clusterBytes = root.sectorsPerCluster * 512ull;
  const Ranges fats = {
      {root.reservedSectors * 512ull, (root.reservedSectors + 2ull * root.sectorsPerFat) * 512}};
  // A 32-bit volume's FSInfo sector keeps its free-cluster count true.
  const uint64_t fsInfo = w.kind == FatWidth::Fat32 ? le16(rig.Boot(), kBootFsInfoSector) * 512ull : 0;
  auto freeCount = [&](const std::vector<uint8_t>& image) {
    return le32(std::span<const uint8_t>(image).subspan(fsInfo, 512), 488);
  };
  Ranges bookkeeping = fats;
  if (fsInfo != 0) bookkeeping.push_back({fsInfo, fsInfo + 512});
  using Range = std::pair<uint64_t, uint64_t>;
  auto clusterRange = [&](uint32_t c) {
    const uint64_t at = (root.dataStart + uint64_t{c - 2} * root.sectorsPerCluster) * 512;
    return Range(at, at + clusterBytes);
  };
  const Range rootRange =
      w.kind == FatWidth::Fat32
          ? clusterRange(root.firstCluster)
          : Range(root.startSector * 512ull, (root.startSector + root.sectorCount) * 512ull);

  // The root: two files, one with a long name, and a folder.
  std::vector<uint8_t> before = rig.Bytes();
  rig.Show(root);
  rig.Select(
      {"\xE5"
       "EADME  .TXT",
       "\xE5"
       "UARTE~1.TXT",
       "\xE5"
       "OCS    .   ",
       "KEEP    .TXT"});
  rig.prompt.Clear();
  static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
  EXPECT_EQ(rig.prompt.Messages(), Texts({"Not a deleted entry, left as it is: KEEP.TXT",
                                          "File(s) undeletion completed!"}));
  const uint64_t docsEntry = rig.FindEntry("!OCS       ", rootRange.first, clusterBytes);
  const uint32_t docs = DirEntryFirstCluster(rig.EntryAt(docsEntry), w.kind);
  EXPECT_NE(rig.FindEntry("!EADME  TXT", rootRange.first, clusterBytes), 0u);
  EXPECT_NE(rig.FindEntry("!UARTE~1TXT", rootRange.first, clusterBytes), 0u);
  // The FAT copies agree, and the folder got one cluster.
  EXPECT_TRUE(std::equal(rig.Bytes().begin() + fats[0].first,
                         rig.Bytes().begin() + fats[0].first + root.sectorsPerFat * 512ull,
                         rig.Bytes().begin() + fats[0].first + root.sectorsPerFat * 512ull));
  EXPECT_TRUE(
      IsFatChainEnd(RawFatEntry(rig.Bytes(), fats[0].first, w.kind, docs) & 0x0FFFFFFF, w.kind));
  Ranges changed = bookkeeping;
  changed.push_back(rootRange);
  EXPECT_EQ(FirstDifference(rig.Bytes(), before, changed), -1);
  // 10 clusters of README.TXT, 3 of the report and the folder's one.
  if (fsInfo != 0) {
    EXPECT_EQ(freeCount(rig.Bytes()), freeCount(before) - 14);
  }
  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  std::string fsck;
  EXPECT_TRUE(v.Check(&fsck)) << fsck;
  EXPECT_EQ(v.ReadFile("::/!EADME.TXT"), readme);

  rig.prompt.Clear();
  Rename(rig, root, "!EADME  .TXT", "README", "TXT");
  Rename(rig, root, "!UARTE~1.TXT", "QUARTE~1", "TXT");
  Rename(rig, root, "!OCS    .   ", "DOCS", "");
  EXPECT_EQ(rig.prompt.Messages(), Texts());
  EXPECT_EQ(FirstDifference(rig.Bytes(), before, changed), -1);

  // The folder's own entries.
  before = rig.Bytes();
  const DrivePacket folder = rig.FolderNode(w.kind, docs);
  rig.Show(folder);
  rig.Select(
      {"\xE5"
       "NNER   .BIN",
       "\xE5"
       "OTE    .TXT"});
  rig.prompt.Clear();
  static_cast<void>(Undelete(rig.ctx, rig.pane.selectedPacket, rig.pane.SelectedRows()));
  EXPECT_EQ(rig.prompt.Messages(), Texts({"File(s) undeletion completed!"}));
  Rename(rig, folder, "!NNER   .BIN", "INNER", "BIN");
  Rename(rig, folder, "!OTE    .TXT", "NOTE", "TXT");
  changed = bookkeeping;
  changed.push_back(clusterRange(docs));
  EXPECT_EQ(FirstDifference(rig.Bytes(), before, changed), -1);
  if (fsInfo != 0) {
    EXPECT_EQ(freeCount(rig.Bytes()), freeCount(before) - 7);
  }

  ASSERT_TRUE(WriteFileBytes(v.image, rig.Bytes()));
  EXPECT_TRUE(v.Check(&fsck)) << fsck;
  EXPECT_EQ(v.ReadFile("::/README.TXT"), readme);
  EXPECT_EQ(v.ReadFile("::/QUARTE~1.TXT"), report);
  EXPECT_EQ(v.ReadFile("::/DOCS/INNER.BIN"), inner);
  const std::string note = "ten bytes!";
  EXPECT_EQ(v.ReadFile("::/DOCS/NOTE.TXT"), std::vector<uint8_t>(note.begin(), note.end()));
  const std::string keep = "stays\r\n";
  EXPECT_EQ(v.ReadFile("::/KEEP.TXT"), std::vector<uint8_t>(keep.begin(), keep.end()));
}

INSTANTIATE_TEST_SUITE_P(AllWidths, RecoveryAcceptance,
                         ::testing::Values(Width{FatWidth::Fat12, 12, 2880, ""},
                                           Width{FatWidth::Fat16, 16, 40960, "-s 4"},
                                           Width{FatWidth::Fat32, 32, 69632, "-s 1"}),
                         [](const auto& info) { return "Fat" + std::to_string(info.param.bits); });

}  // namespace

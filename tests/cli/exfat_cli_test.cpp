// exFAT volumes in the tree and through gleaner-cli's commands, over the
// sample cards (mkfs.exfat, written through exfat-fuse) on each layout and
// both transfer paths, checked against The Sleuth Kit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <set>
#include <sstream>
#include <map>

#include "cli/tree_session.h"
#include "views/format_cell.h"
#include "views/show_node.h"
#include "disk/exfat_boot.h"
#include "fixtures/cli_run.h"
#include "fixtures/exfat_image.h"
#include "fixtures/image_builder.h"
#include "fixtures/rescue_scene.h"
#include "fixtures/test_drives.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Damage { None, MainBootCode, MainZeroed, RenamedReadme };

// Damages the volume at byte offset at of the image's bytes.
void Damage_(Bytes& bytes, size_t at, Damage damage) {
  if (damage == Damage::MainBootCode) bytes[at + kExfatBootCode + 10] ^= 0x55;
  if (damage == Damage::MainZeroed) std::fill_n(bytes.begin() + at, 512, 0);
  if (damage == Damage::RenamedReadme) {
    // "readme.txt" in UTF-16: its 'e' after "readm" becomes 'f'.
    const std::u16string name = u"readme";
    const auto* units = reinterpret_cast<const uint8_t*>(name.data());
    const auto found = std::search(bytes.begin() + at, bytes.end(), units, units + 12);
    ASSERT_NE(found, bytes.end());
    found[10] = 'f';
  }
}

// The views' rows all read the MBR card; the other tables name their layout.
template <class Case>
ExfatLayout LayoutOf(const Case& c) {
  if constexpr (requires { c.layout; })
    return c.layout;
  else
    return ExfatLayout::MbrPartition;
}

// A test over the sample card of its row's layout, skipped where cards
// cannot be made.
template <class Case>
class ExfatCardTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
    scene_ = SharedExfatScene(LayoutOf(this->GetParam()));
    ASSERT_NE(scene_, nullptr);
  }
  // The card as drives' first hard disk, damaged as asked, bound: its bytes.
  Bytes& BindCard(TestDrives& drives, Damage damage) {
    FaultDevice* disk = drives.AddFile(kFirstHardDisk, scene_->image.image);
    Damage_(disk->Bytes(), scene_->image.offset, damage);
    drives.Bind();
    return disk->Bytes();
  }
  const ExfatScene* scene_ = nullptr;
};

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

class ExfatCliTreeTest : public ExfatCardTest<TreeCase> {};

TEST_P(ExfatCliTreeTest, TreeNamesAndSizesEqualFls) {
  const TreeCase& c = GetParam();
  const ExfatScene* scene = scene_;
  TestDrives drives(c.path);
  Bytes& bytes = BindCard(drives, c.damage);
  const Bytes before = bytes;

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

// ---- Views of each kind of node ----

// The text a shown page has in column `column` of the row whose cell in
// column `keyColumn` is `key`; "<no row>" when there is none.
std::string Cell(const ViewPage& page, const std::string& keyColumn, const std::string& key,
                 const std::string& column) {
  int k = -1, c = -1;
  for (size_t i = 0; i < page.columns.size(); ++i) {
    if (page.columns[i].title == keyColumn) k = static_cast<int>(i);
    if (page.columns[i].title == column) c = static_cast<int>(i);
  }
  for (size_t r = 0; r < page.rows.size() && k >= 0 && c >= 0; ++r)
    if (FormatCell(page, r, k) == key) return FormatCell(page, r, c);
  return "<no row>";
}

struct ViewCase {
  const char* name;
  const char* node;  // below the volume node
  Damage damage;
  // Cells of the page: key column, key, column, the text it holds.
  std::vector<std::array<const char*, 4>> cells;
  bool sectorDump = false;
};

std::ostream& operator<<(std::ostream& os, const ViewCase& c) { return os << c.name; }

const ViewCase kViewCases[] = {
    {"BootSector", "", Damage::None,
     {{"Field", "File System Name", "Value", "EXFAT   "},
      {"Field", "Volume Length", "Value", "65536"},
      {"Field", "Bytes per Sector Shift", "Value", "9 (512 bytes)"},
      {"Field", "Sectors per Cluster Shift", "Value", "3 (8 sectors)"},
      {"Field", "Boot Signature", "Value", "0xAA55"},
      {"Field", "Note", "Value", "<no row>"}}},
    {"BackupBootRegion", "Backup Boot Region", Damage::MainBootCode,
     {{"Field", "Note", "Value", "Boot region read from its backup at sector 12"},
      {"Field", "File System Name", "Value", "EXFAT   "}}},
    // Every entry of all 32 bits, as exFAT keeps them: the media mark and end marks.
    {"FatEntries", "FAT 1", Damage::None,
     {{"FAT Entry", "00000000", "00000000", "FFFFFFF8"}, {"FAT Entry", "00000000", "00000001", "FFFFFFFF"}}},
    {"BitmapRuns", "Allocation Bitmap", Damage::None,
     {{"First Cluster", "2", "State", "Used"}}},
    {"UpcaseChecks", "Up-case Table", Damage::None,
     {{"Field", "Characters Mapped", "Value", "65536"}, {"Field", "Data Length", "Value", "5836"}}},
    {"RootEntrySets", "Root Directory", Damage::None,
     {{"Name", "GLEANCARD", "Type", "Volume Label"},
      {"Name", "First bitmap", "Type", "Allocation Bitmap"},
      {"Name", "contiguous.bin", "Size", "20580"},
      {"Name", "contiguous.bin", "Chain", "NoFatChain"},
      {"Name", "contiguous.bin", "Attributes", "A"},
      {"Name", "contiguous.bin", "Problems", ""},
      {"Name", "frag.bin", "Chain", "FAT"},
      {"Name", "frag.bin", "Valid Size", "15288"},
      {"Name", "gone.txt", "State", "Deleted"},
      {"Name", "gone.txt", "Problems", ""},
      {"Name", "Old", "State", "Deleted"},
      {"Name", "Old", "Attributes", "D"}}},
    // A name changed behind the set's back fails both checks, which say what they should be.
    {"DamagedNameFailsItsChecks", "Root Directory", Damage::RenamedReadme,
     {{"Name", "readmf.txt", "Problems", "Set checksum wrong; Name hash wrong"}}},
    {"FileDump", "Root Directory/readme.txt", Damage::None,
     {{"Offset", "00000000", "00", "65"}, {"Offset", "00000000", "01", "78"}}},
};

class ExfatCliViewTest : public ExfatCardTest<ViewCase> {};

TEST_P(ExfatCliViewTest, ShowsEveryFieldDecoded) {
  const ViewCase& c = GetParam();
  TestDrives drives;
  BindCard(drives, c.damage);
  TreeSession session(drives.access);
  const std::string volume = c.damage == Damage::MainBootCode
                                 ? "exFAT Disk - Boot region read from its backup at sector 12"
                                 : "exFAT Disk";
  const auto node = session.Find("Hard Disk 1/" + volume + (*c.node ? std::string("/") + c.node : ""));
  ASSERT_TRUE(node.has_value());
  ShowNode(session.ctx, *node->packet, {});
  for (const auto& [keyColumn, key, column, text] : c.cells)
    EXPECT_EQ(Cell(session.page, keyColumn, key, column), text) << key << " / " << column;
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatCliViewTest, ::testing::ValuesIn(kViewCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- deleted and extract against fls -rd and tsk_recover ----

// The rows (from 1, as extract takes them) of show's listing whose Name is
// one of names.
std::vector<std::string> RowsNamed(const std::string& show, const std::set<std::string>& names) {
  std::vector<std::string> rows;
  std::istringstream in(show);
  std::string line;
  std::getline(in, line);
  for (int row = 1; std::getline(in, line); ++row) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    if (cells.size() > 3 && names.count(cells[3])) rows.push_back(std::to_string(row));
  }
  return rows;
}

struct RecoveryCase {
  const char* name;
  ExfatLayout layout;
  bool direct;
};

std::ostream& operator<<(std::ostream& os, const RecoveryCase& c) { return os << c.name; }

const RecoveryCase kRecoveryCases[] = {
    {"WholeDiskLibrary", ExfatLayout::WholeDisk, false}, {"WholeDiskDirect", ExfatLayout::WholeDisk, true},
    {"MbrLibrary", ExfatLayout::MbrPartition, false},    {"MbrDirect", ExfatLayout::MbrPartition, true},
    {"GptLibrary", ExfatLayout::GptPartition, false},    {"GptDirect", ExfatLayout::GptPartition, true},
};

class ExfatCliRecoveryTest : public ExfatCardTest<RecoveryCase> {};

TEST_P(ExfatCliRecoveryTest, DeletedAndExtractEqualTheSleuthKit) {
  namespace fs = std::filesystem;
  const RecoveryCase& c = GetParam();
  const ExfatScene* scene = scene_;
  const std::string& image = scene->image.image;
  const Bytes before = ReadFileBytes(image);
  std::vector<std::string> drive = {"--read-only"};
  if (c.direct) drive.push_back("--direct");
  drive.push_back(image);
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), drive.begin(), drive.end());
    return Cli(args);
  };

  // deleted: every path fls -rd lists. Nothing was written after gone.txt
  // and Old went; the spacers went before the folder of many files was
  // written, which took the clusters of two of them.
  const CliRun deleted = cli({"deleted", "Hard Disk 1/exFAT Disk"});
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  std::set<std::string> ours, theirs, topNames, overwritten;
  std::istringstream lines(deleted.out);
  for (std::string line; std::getline(lines, line);) {
    const std::string state = line.substr(0, line.find('\t'));
    std::string path = line.substr(line.rfind('\t') + 1);
    if (path.back() == '/') path.pop_back();
    path.erase(0, 1);
    ours.insert(path);
    if (state != "intact") {
      EXPECT_EQ(state, "partly overwritten (1 cluster)") << line;
      overwritten.insert(path);
    } else if (path.find('/') == std::string::npos) {
      topNames.insert(path);
    }
  }
  // The fragmented file's freed chain: the cluster after its first is a live file's.
  EXPECT_EQ(overwritten, (std::set<std::string>{"spacer1", "spacer2", kExfatGoneFragmented}));
  for (const FlsLine& l : RunFls(scene->image, true)) theirs.insert(l.path);
  EXPECT_EQ(ours, theirs);

  // extract: the live files (no rows) and the deleted ones of the root (by
  // their rows) into one folder, as tsk_recover -e lays them out.
  TempDir dir;
  const std::string root = "Hard Disk 1/exFAT Disk/Root Directory";
  const CliRun live = cli({"extract", root, "--to", dir.File("ours")});
  EXPECT_EQ(live.status, 0) << live.err;
  std::vector<std::string> args = {"extract", root};
  const std::vector<std::string> rows = RowsNamed(cli({"show", root}).out, topNames);
  ASSERT_EQ(rows.size(), topNames.size());
  args.insert(args.end(), rows.begin(), rows.end());
  args.insert(args.end(), {"--to", dir.File("ours")});
  const CliRun gone = cli(args);
  EXPECT_EQ(gone.status, 0) << gone.err;
  ASSERT_TRUE(MustRun("tsk_recover -e -o " + std::to_string(scene->image.OffsetSectors()) + " " +
                      ShellQuote(image) + " " + ShellQuote(dir.File("tsk"))));
  std::set<std::string> compared;
  for (const auto& e : fs::recursive_directory_iterator(dir.File("tsk"))) {
    const std::string rel = fs::relative(e.path(), dir.File("tsk")).string();
    if (!e.is_regular_file() || rel[0] == '$' || overwritten.count(rel)) continue;
    const std::string mine = dir.File("ours") + "/" + rel;
    EXPECT_TRUE(fs::exists(mine)) << rel;
    EXPECT_TRUE(ReadFileBytes(mine) == ReadFileBytes(e.path().string())) << rel;
    compared.insert("/" + rel);
  }
  for (const auto& [path, bytes] : scene->liveFiles)
    if (!bytes.empty()) EXPECT_TRUE(compared.count(path)) << path;
  EXPECT_TRUE(compared.count("/gone.txt"));
  // Fragmented and deleted, its chain freed: as on FAT, the copy ends at the
  // first cluster in use and says so; past the clusters in use it comes back
  // as tsk_recover gets it.
  const std::string docs = root + "/Docs";
  const std::vector<std::string> frag = RowsNamed(cli({"show", docs}).out, {"gone-frag.bin"});
  ASSERT_EQ(frag.size(), 1u);
  const CliRun cut = cli({"extract", docs, frag[0], "--to", dir.File("cut")});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err, dir.File("cut/gone-frag.bin") +
                         ": copied 4096 of 12288 bytes (its next cluster is in use or not on its chain)\n"
                         "0 files copied whole, 1 in part, 0 not copied; 0 folders made in " + dir.File("cut") + "\n");
  const CliRun skip = cli({"extract", docs, frag[0], "--skip-allocated", "--to", dir.File("skip")});
  EXPECT_EQ(skip.status, 0) << skip.err;
  EXPECT_TRUE(ReadFileBytes(dir.File("skip/gone-frag.bin")) == ExfatGoneFragmentedBytes());
  EXPECT_TRUE(ReadFileBytes(dir.File("tsk/") + kExfatGoneFragmented) == ExfatGoneFragmentedBytes());
  // The deleted files as the scene wrote them, the deleted folder's included.
  EXPECT_TRUE(ReadFileBytes(dir.File("ours/gone.txt")) == ExfatPattern(700, 30));
  EXPECT_TRUE(ReadFileBytes(dir.File("ours/Old/o1.txt")) == ExfatPattern(50, 31));
  EXPECT_TRUE(ReadFileBytes(dir.File("ours/Old/Inner/o2.bin")) == ExfatPattern(9000, 32));
  EXPECT_EQ(fs::file_size(dir.File("ours/empty.txt")), 0u);

  // The raw search inside the volume finds readme.txt's bytes in its first
  // cluster: the heap's first sector + (cluster - 2) * 8 (4 KiB clusters).
  const CliRun found = cli({"search", "Hard Disk 1/exFAT Disk/FAT 1", "--text", "exFAT scene"});
  EXPECT_EQ(found.status, 0) << found.err;
  std::istringstream showRoot(cli({"show", root}).out);
  uint64_t readmeCluster = 0;
  for (std::string line; std::getline(showRoot, line);)
    if (line.find("\treadme.txt\t") != std::string::npos) {
      std::vector<std::string> cells;
      std::istringstream fields(line);
      for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
      readmeCluster = std::stoull(cells.at(7));
    }
  const std::string boot = cli({"show", "Hard Disk 1/exFAT Disk"}).out;
  const size_t heapAt = boot.find("Cluster Heap Offset\t");
  ASSERT_NE(heapAt, std::string::npos);
  const uint64_t heap = std::stoull(boot.substr(heapAt + 20));
  EXPECT_EQ(found.out.substr(0, found.out.find('\n')),
            "hit\t" + std::to_string(heap + (readmeCluster - 2) * 8) + "\t0\t0");

  // The scan lists the volume and, chosen, says in one line that it does
  // not check exFAT, writing nothing.
  const CliRun list = cli({"scan"});
  ASSERT_NE(list.out.find("1\tHard Disk 1 - exFAT Disk - "), std::string::npos) << list.out;
  const CliRun scan = cli({"scan", "1", "--yes"});
  EXPECT_EQ(scan.status, 8);
  EXPECT_EQ(scan.err, "Scan Disk does not check exFAT volumes: nothing was checked or written.\n");
  EXPECT_TRUE(ReadFileBytes(image) == before);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatCliRecoveryTest, ::testing::ValuesIn(kRecoveryCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- rescue ----

// A field of the boot sector's view, as show prints it.
uint64_t BootField(const std::string& show, const std::string& field) {
  const size_t at = show.find(field + "\t");
  return at == std::string::npos ? 0 : std::stoull(show.substr(at + field.size() + 1));
}

struct RescueCase {
  const char* name;
  ExfatLayout layout;
  bool carve;
};

std::ostream& operator<<(std::ostream& os, const RescueCase& c) { return os << c.name; }

const RescueCase kRescueCases[] = {
    {"MbrCarving", ExfatLayout::MbrPartition, true},
    {"GptWithoutCarving", ExfatLayout::GptPartition, false},
};

class ExfatCliRescueTest : public ExfatCardTest<RescueCase> {};

TEST_P(ExfatCliRescueTest, CopiesEveryDeletedFileAndCarvesFreeClusters) {
  const RescueCase& c = GetParam();
  TempDir dir;
  const std::string image = dir.File("card.img");
  Bytes bytes = ReadFileBytes(scene_->image.image);
  // A PDF in the card's last cluster, which no entry names: carving's to find.
  const std::string boot = Cli({scene_->image.image, "show", "Hard Disk 1/exFAT Disk"}).out;
  const uint64_t last = BootField(boot, "Cluster Count") + 1;
  const uint64_t at = scene_->image.offset + (BootField(boot, "Cluster Heap Offset") + (last - 2) * 8) * 512;
  const Bytes pdf = ReadFileBytes(CarveSamples() + "/document.pdf");
  ASSERT_TRUE(last > 2 && pdf.size() <= 4096 && at + 4096 <= bytes.size());
  std::copy(pdf.begin(), pdf.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  ASSERT_TRUE(WriteFileBytes(image, bytes));

  std::vector<std::string> args = {image, "rescue", "Hard Disk 1/exFAT Disk", "--to", dir.File("out")};
  if (!c.carve) args.push_back("--no-carve");
  const CliRun r = Cli(args);
  // The spacers' clusters hold live files now: they cannot come back, and it says so.
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("/spacer1: its first cluster is lost or in use\n"), std::string::npos) << r.err;
  const std::map<std::string, Bytes> whole = {{"gone.txt", ExfatPattern(700, 30)},
                                              {"Old/o1.txt", ExfatPattern(50, 31)},
                                              {"Old/Inner/o2.bin", ExfatPattern(9000, 32)}};
  for (const auto& [path, want] : whole) {
    EXPECT_TRUE(ReadFileBytes(dir.File("out/" + path)) == want) << path;
    EXPECT_NE(r.out.find(dir.File("out/" + path) + "\tdeleted\t" + std::to_string(want.size()) + "\tintact\n"),
              std::string::npos)
        << path << "\n" << r.out;
  }
  // Its freed chain: up to the first cluster in use, as extract copies it.
  EXPECT_NE(r.out.find(dir.File("out/") + kExfatGoneFragmented + "\tdeleted\t12288\tpartly overwritten (1 cluster)\n"),
            std::string::npos)
      << r.out;
  char carved[32];
  std::snprintf(carved, sizeof carved, "Carved/c%07u.pdf", static_cast<unsigned>(last));
  EXPECT_EQ(std::filesystem::exists(dir.File("out/") + carved), c.carve);
  if (c.carve) {
    EXPECT_TRUE(ReadFileBytes(dir.File("out/") + carved) == pdf);
  }
  EXPECT_NE(r.out.find(c.carve ? " carved; 0 unreadable sectors" : ", 0 carved; 0 unreadable sectors"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(ReadFileBytes(image) == bytes);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatCliRescueTest, ::testing::ValuesIn(kRescueCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Undelete in place ----

struct UndeleteCase {
  const char* name;
  ExfatLayout layout;
  std::set<std::string> rows;  // names in the root's listing
  int status;
  std::string lastMessage;     // the last line on standard error
  std::map<std::string, Bytes> readBack;  // through exfat-fuse afterwards
  std::string refusal;                    // a line on standard error before it
};

std::ostream& operator<<(std::ostream& os, const UndeleteCase& c) { return os << c.name; }

const UndeleteCase kUndeleteCases[] = {
    {"FileAndFolderMbr", ExfatLayout::MbrPartition, {"gone.txt", "Old"}, 0, "File(s) undeletion completed!",
     {{"gone.txt", ExfatPattern(700, 30)}}, ""},
    {"FileGpt", ExfatLayout::GptPartition, {"gone.txt"}, 0, "File(s) undeletion completed!",
     {{"gone.txt", ExfatPattern(700, 30)}}, ""},
    {"FolderWholeDisk", ExfatLayout::WholeDisk, {"Old"}, 0, "File(s) undeletion completed!", {}, ""},
    // Its cluster holds a live file now: refused, nothing written.
    {"OverwrittenRefused", ExfatLayout::MbrPartition, {"spacer1"}, 1, "No file was undeleted.", {}, ""},
    {"LiveRowRefused", ExfatLayout::MbrPartition, {"readme.txt"}, 1, "No file was undeleted.", {}, ""},
    // Its clusters past the first are free, but the chain that named them is gone.
    {"FreedChainRefused", ExfatLayout::GptPartition, {kExfatGoneChain}, 1, "No file was undeleted.", {},
     ": its FAT chain was freed: copy it out instead\n"},
};

class ExfatCliUndeleteTest : public ExfatCardTest<UndeleteCase> {};

TEST_P(ExfatCliUndeleteTest, BringsBackWhatFsckAndTheDriverAccept) {
  const UndeleteCase& c = GetParam();
  const ExfatScene* scene = scene_;
  TempDir dir;
  ExfatImage copy = scene->image;
  copy.image = dir.File("card.img");
  ASSERT_TRUE(WriteFileBytes(copy.image, ReadFileBytes(scene->image.image)));
  const Bytes before = ReadFileBytes(copy.image);
  const std::string root = "Hard Disk 1/exFAT Disk/Root Directory";
  const std::vector<std::string> rows = RowsNamed(Cli({copy.image, "show", root}).out, c.rows);
  ASSERT_EQ(rows.size(), c.rows.size());
  std::vector<std::string> args = {"--undo-dir", dir.File("undo"), copy.image, "undelete", root};
  args.insert(args.end(), rows.begin(), rows.end());
  const CliRun r = Cli(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  std::string err = r.err;
  while (!err.empty() && err.back() == '\n') err.pop_back();
  EXPECT_EQ(err.substr(err.rfind('\n') + 1), c.lastMessage) << r.err;
  if (!c.refusal.empty()) {
    EXPECT_NE(r.err.find("Row " + rows[0] + c.refusal), std::string::npos) << r.err;
  }
  if (c.status != 0) {
    EXPECT_TRUE(ReadFileBytes(copy.image) == before);
    return;
  }
  // The undo file puts back every sector the undelete wrote (before the
  // mount below, which writes the volume's flags).
  const Bytes after = ReadFileBytes(copy.image);
  const auto undoFile = std::filesystem::directory_iterator(dir.File("undo"))->path().string();
  const CliRun undo = Cli({"undo", undoFile});
  EXPECT_EQ(undo.status, 0) << undo.err;
  EXPECT_TRUE(ReadFileBytes(copy.image) == before);
  ASSERT_TRUE(WriteFileBytes(copy.image, after));

  std::string report;
  EXPECT_TRUE(copy.Check(&report)) << report;
  ExfatMount mount(copy, dir.File("mnt"));
  ASSERT_TRUE(mount.Mounted());
  for (const auto& [name, bytes] : c.readBack) EXPECT_TRUE(ReadFileBytes(mount.Path(name)) == bytes) << name;
  if (c.rows.count("Old")) EXPECT_TRUE(std::filesystem::is_directory(mount.Path("Old")));
  ASSERT_TRUE(mount.Unmount());
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatCliUndeleteTest, ::testing::ValuesIn(kUndeleteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- deleted folders of more than one cluster ----

// The driver shrinks a folder as its files go and frees its chain. "Big"
// holds 50 files (over a 4 KiB cluster of entries): written as they are made,
// its second cluster lands past their data (a FAT chain); made empty first,
// it grows into the next cluster (NoFatChain). "Near" takes the cluster after
// Big's first. Names of 16 or more characters take sets of 4 entries, 32
// to a cluster: no set is cut at its end.
struct DeletedFolderCase {
  const char* name;
  bool emptyFirst;
  bool near;
  const char* suffix;  // of Big's file names
};

std::ostream& operator<<(std::ostream& os, const DeletedFolderCase& c) { return os << c.name; }

const DeletedFolderCase kDeletedFolderCases[] = {{"FatChainBesideAnotherFolder", false, true, ""},
                                                 {"NoFatChain", true, false, ""},
                                                 {"SetsEndOnTheClusterEnd", false, true, "-sixteen-chars"}};

class ExfatCliDeletedFolderTest : public ::testing::TestWithParam<DeletedFolderCase> {};

TEST_P(ExfatCliDeletedFolderTest, ListsAndCopiesEntriesPastTheFirstCluster) {
  namespace fs = std::filesystem;
  if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const DeletedFolderCase& c = GetParam();
  TempDir dir;
  const ExfatImage card = MakeExfatImage(dir.File("card.img"), ExfatLayout::WholeDisk, 16 << 20, "-c 4K");
  std::map<std::string, Bytes> written;  // by name: every name is one folder's
  std::set<std::string> want = {"/Big/"}, ours, folders = {"Big"};
  {
    ExfatMount mount(card, dir.File("mnt"));
    ASSERT_TRUE(mount.Mounted());
    for (const std::string folder : {"Big", "Near"}) {
      if (folder == "Near" && !c.near) continue;
      ASSERT_TRUE(fs::create_directory(mount.Path(folder)));
      want.insert("/" + folder + "/");
      folders.insert(folder);
    }
    const auto put = [&](const std::string& folder, const std::string& name, const Bytes& bytes) {
      ASSERT_TRUE(WriteFileBytes(mount.Path(folder + "/" + name), bytes)) << name;
      written[name] = bytes;
      want.insert("/" + folder + "/" + name);
    };
    for (int i = 0; c.near && i < 3; ++i) put("Near", "n" + std::to_string(i), ExfatPattern(100, 90));
    for (int i = 10; c.emptyFirst && i < 60; ++i) put("Big", "b" + std::to_string(i) + c.suffix, {});
    for (int i = 10; i < 60; ++i)
      put("Big", "b" + std::to_string(i) + c.suffix, ExfatPattern(i * 100u, static_cast<uint8_t>(i)));
    ::sync();
    for (const std::string& folder : folders) fs::remove_all(mount.Path(folder));
    ASSERT_TRUE(mount.Unmount());
  }
  const Bytes before = ReadFileBytes(card.image);

  // deleted: every file in its own folder, what fls -rd lists in it or (the
  // later clusters') as an orphan. A set cut in two it leaves nameless.
  const CliRun deleted = Cli({"--read-only", card.image, "deleted", "Hard Disk 1/exFAT Disk"});
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  std::istringstream lines(deleted.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.substr(0, 7), "intact\t") << line;
    ours.insert(line.substr(line.rfind('\t') + 1));
  }
  EXPECT_EQ(ours, want);
  for (const FlsLine& l : RunFls(card, true)) {
    const std::string name = l.path.substr(l.path.rfind('/') + 1);
    if (!name.starts_with("OrphanFile-"))
      EXPECT_TRUE(ours.count("/" + l.path + (l.type == "d/d" ? "/" : "")) || written.count(name)) << l.path;
  }

  // extract of the folders' rows: every file as written, and as tsk_recover
  // gets back those it finds.
  std::vector<std::string> args = RowsNamed(Cli({card.image, "show", "Hard Disk 1/exFAT Disk/Root Directory"}).out, folders);
  ASSERT_EQ(args.size(), folders.size());
  args.insert(args.begin(), {"--read-only", card.image, "extract", "Hard Disk 1/exFAT Disk/Root Directory"});
  args.insert(args.end(), {"--to", dir.File("ours")});
  const CliRun extract = Cli(args);
  EXPECT_EQ(extract.status, 0) << extract.err;
  ASSERT_TRUE(MustRun("tsk_recover " + ShellQuote(card.image) + " " + ShellQuote(dir.File("tsk"))));
  std::map<std::string, Bytes> copied, recovered;
  for (const auto& [from, into] : {std::pair{dir.File("ours"), &copied}, std::pair{dir.File("tsk"), &recovered}})
    for (const auto& e : fs::recursive_directory_iterator(from))
      if (const std::string name = e.path().filename().string(); e.is_regular_file() && written.count(name)) {
        (*into)[name] = ReadFileBytes(e.path().string());
        if (into == &copied) EXPECT_EQ(e.path().parent_path().filename(), name[0] == 'b' ? "Big" : "Near");
      }
  EXPECT_TRUE(copied == written);
  EXPECT_GE(recovered.size() + 1, written.size());  // but the set cut in two
  for (const auto& [name, bytes] : recovered) EXPECT_TRUE(bytes == written[name]) << name;
  EXPECT_TRUE(ReadFileBytes(card.image) == before);

  // Undelete brings Big back whole: a chained folder gets the end of its
  // chain back in the FAT, which fsck.exfat checks.
  const std::string big = RowsNamed(Cli({card.image, "show", "Hard Disk 1/exFAT Disk/Root Directory"}).out, {"Big"}).at(0);
  const CliRun undelete = Cli({"--no-undo", card.image, "undelete", "Hard Disk 1/exFAT Disk/Root Directory", big});
  EXPECT_EQ(undelete.status, 0) << undelete.err;
  std::string report;
  EXPECT_TRUE(card.Check(&report)) << report;
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatCliDeletedFolderTest, ::testing::ValuesIn(kDeletedFolderCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

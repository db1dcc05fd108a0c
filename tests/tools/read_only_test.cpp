// Read-only, proven: every command that can write, run with --read-only on
// both paths, leaves the image as it was, says why it could not write and
// reports no success; the commands that only look never make a write call.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "fixtures/cli_run.h"
#include "recovery/copy_out.h"
#include "recovery/deleted_files.h"
#include "tools/raw_search.h"
#include "cli/tree_commands.h"
#include "cli/tree_session.h"
#include "disk/guarded_device.h"
#include "disk/undo_journal.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "views/row_edit.h"
#include "views/show_node.h"
#include "views/write_changes.h"

namespace {

namespace fs = std::filesystem;

const char* const kRoot = "Floppy Disk 1/Root Directory";

// A floppy with a deleted file in row 1 and a live one.
FatVolume Sample(const TempDir& dir) {
  FatVolume v = MakeFloppy1440(dir.File("floppy.img"));
  EXPECT_TRUE(v.PutFile("::/GONE.TXT", std::string(2000, 'g')));
  EXPECT_TRUE(v.PutFile("::/LIVE.TXT", "live"));
  EXPECT_TRUE(v.Delete("::/GONE.TXT"));
  return v;
}

TEST(ReadOnly, EveryWritingCommandRefusesAndSaysWhyOnBothPaths) {
  TempDir dir;
  FatVolume v = Sample(dir);
  const std::vector<uint8_t> image = ReadFileBytes(v.image);
  // A journal to undo: one real write first, on a copy.
  const std::string copy = dir.File("copy.img");
  ASSERT_TRUE(WriteFileBytes(copy, image));
  ASSERT_EQ(Cli({copy, "--undo-dir", dir.File("undo"), "rename", kRoot, "2", "ALIVE", "TXT"}).status, 0);
  std::string journal;
  for (const auto& e : fs::directory_iterator(dir.File("undo"))) journal = e.path().string();
  ASSERT_NE(journal, "");
  const std::vector<uint8_t> renamed = ReadFileBytes(copy);

  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    std::vector<std::string> drives = {"--read-only", v.image, "--undo-dir", dir.File("ro-undo")};
    if (direct) drives.push_back("--direct");
    auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin(), drives.begin(), drives.end());
      return Cli(args);
    };
    CliRun r = run({"undelete", kRoot, "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find("File(s) undeletion completed!"), std::string::npos) << r.err;
    EXPECT_NE(r.err, "");
    r = run({"rename", kRoot, "2", "OTHER", "TXT"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err, "");
    EXPECT_EQ(ReadFileBytes(v.image), image);

    // Write Changes, in the window's way.
    {
      TestDrives bound(direct ? TestDrives::Direct : TestDrives::Library);
      ASSERT_TRUE(bound.BindAsProgram(ParseDriveArgs(drives).config));
      ScriptedPrompt& prompt = bound.prompt;
      DiskAccess& access = bound.access;
      TreeSession tree(access);
      const std::optional<TreeNode> node = tree.Find(kRoot);
      ASSERT_TRUE(node);
      const DumpModes sectorMode{.sectorDump = true, .rawDump = false};
      ShowNode(tree.ctx, *node->packet, sectorMode);
      RowBytesArray bytes = RowBytes(tree.page, 0);
      bytes[0] ^= 0xFF;
      ASSERT_TRUE(SetRowBytes(tree.page, 0, bytes));
      prompt.AnswerYes();
      EXPECT_FALSE(WriteChanges(tree.ctx, sectorMode));
      const std::vector<std::string> said = prompt.Messages();
      // Refused before the question: nothing is asked that cannot be done.
      EXPECT_EQ(said, std::vector<std::string>{kDrivesReadOnly});
    }
    EXPECT_EQ(ReadFileBytes(v.image), image);
    // No undo file: nothing was about to be written.
    EXPECT_FALSE(fs::exists(dir.File("ro-undo")));
  }
  // Undo, read-only: says why and restores nothing.
  CliRun r = Cli({"--read-only", "undo", journal});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')), fs::absolute(copy).string() + " is open read-only: nothing of it was restored.");
  EXPECT_EQ(ReadFileBytes(copy), renamed);
}

// The tools that write, refused as a whole before they touch anything: a
// scan repair, copy to floppy, disk copy onto an existing and a new target,
// backup onto the floppy and restore onto the disk.
TEST(ReadOnly, ScanAndTheFloppyToolsRefuseAndSaySoOnBothPaths) {
  TempDir dir;
  SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  FatVolume floppy = Sample(dir);
  // FAT 2 made to differ: a scan with --yes would write the FATs back.
  std::vector<uint8_t> bytes = ReadFileBytes(floppy.image);
  bytes[10 * 512 + 300] ^= 0x5A;
  ASSERT_TRUE(WriteFileBytes(floppy.image, bytes));
  const std::string target = dir.File("target.img");
  ASSERT_TRUE(WriteFileBytes(target, std::vector<uint8_t>(1474560, 0xF6)));
  const std::vector<uint8_t> floppyBefore = ReadFileBytes(floppy.image);
  const std::vector<uint8_t> diskBefore = ReadFileBytes(disk.image);
  const std::vector<uint8_t> targetBefore = ReadFileBytes(target);

  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    std::vector<std::string> drives = {"--read-only", "--floppy", floppy.image, "--disk", disk.image};
    if (direct) drives.push_back("--direct");
    auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin(), drives.begin(), drives.end());
      return Cli(args);
    };
    const std::string refused = std::string(kDrivesReadOnly) + "\n";

    CliRun r = run({"scan", "1", "--yes"});
    EXPECT_EQ(r.status, 4) << r.err;
    // Read-only, the scan asks nothing it cannot do: it says so first and
    // reports as a scan answered No.
    EXPECT_TRUE(r.err.starts_with(refused)) << r.err;
    EXPECT_NE(r.err.find("continue with FAT? No\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Error writing"), std::string::npos) << r.err;

    r = run({"copy-to-floppy", "Hard Disk 1/16-Bit FAT Disk/Root Directory", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, refused);
    EXPECT_EQ(r.out, "");

    r = run({"diskcopy", "--target", target, "--target", dir.File("new.img")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, refused);
    EXPECT_FALSE(fs::exists(dir.File("new.img")));

    for (const char* tool : {"backup", "restore"}) {
      r = run({tool});
      EXPECT_EQ(r.status, direct ? 2 : 1) << tool;
      // The direct path cannot run them at all and says that instead.
      if (!direct) {
        EXPECT_EQ(r.err.substr(0, refused.size()), refused) << tool;
      }
      EXPECT_EQ(r.err.find("completed"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFileBytes(floppy.image), floppyBefore);
    EXPECT_EQ(ReadFileBytes(disk.image), diskBefore);
    EXPECT_EQ(ReadFileBytes(target), targetBefore);
  }
}

// A drive that fails the test on any write call.
class NoWriteDevice final : public Device {
 public:
  explicit NoWriteDevice(const std::string& path) : file_(path, true) {}
  bool Open() override { return file_.Open(); }
  void Close() override { file_.Close(); }
  bool IsOpen() const override { return file_.IsOpen(); }
  int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) override { return file_.ReadAt(offset, buffer, len); }
  int64_t WriteAt(uint64_t offset, const uint8_t*, size_t len) override {
    ADD_FAILURE() << "a write of " << len << " bytes at " << offset;
    return -1;
  }
  uint64_t Size() const override { return file_.Size(); }

 private:
  FileDevice file_;
};

void ShowEverything(TreeSession& tree, const TreeNode& node, int depth) {
  ASSERT_LT(depth, 16);
  for (const DumpModes modes : {DumpModes{}, DumpModes{.sectorDump = true, .rawDump = false},
                                DumpModes{.sectorDump = false, .rawDump = true}})
    ShowNode(tree.ctx, *node.packet, modes);
  for (const TreeNode& child : tree.Expand(node)) ShowEverything(tree, child, depth + 1);
}

TEST(ReadOnly, LookingNeverCallsWrite) {
  TempDir dir;
  SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    TestDrives drives(direct ? TestDrives::Direct : TestDrives::Library);
    drives.AddDevice(0, std::make_unique<NoWriteDevice>(floppy.image));
    drives.AddDevice(0x80, std::make_unique<NoWriteDevice>(disk.image));
    drives.Bind();
    ScriptedPrompt& prompt = drives.prompt;
    DiskAccess& access = drives.access;
    std::ostringstream out, err;
    EXPECT_EQ(PrintTree(access, out, err), 0) << err.str();
    TreeSession tree(access);
    for (const TreeNode& top : tree.ListDrives()) ShowEverything(tree, top, 0);

    // Search, find deleted files and copy out, on the floppy and on a
    // partition of the disk.
    for (const char* path : {"Floppy Disk 1/Root Directory",
                             "Hard Disk 1/16-Bit FAT Disk/Root Directory"}) {
      SCOPED_TRACE(path);
      const std::optional<TreeNode> root = tree.Find(path);
      ASSERT_TRUE(root);
      const DrivePacket node = *root->packet;
      RawSearchOptions o;
      o.mode = SearchMode::Text;
      o.text = "no such text on any of these disks";
      o.start = std::to_string(node.startSector);
      const std::optional<SearchJob> job = PrepareRawSearch(prompt, node, o);
      ASSERT_TRUE(job);
      SearchFlags flags;
      SearchEvents quiet;
      EXPECT_EQ(SearchSectors(access, *job, flags, quiet).status, SearchStatus::NotFound);

      const FindDeletedResult found = FindDeletedFiles(access, node);
      EXPECT_TRUE(found.opened);
      std::vector<CopyOutItem> items;
      for (const DeletedFile& f : found.files) items.push_back(ItemOfDeleted(f));
      const std::optional<std::vector<CopyOutItem>> live = ItemsOfDirectory(access, node, {});
      ASSERT_TRUE(live);
      items.insert(items.end(), live->begin(), live->end());
      const std::string into = dir.File(std::string(direct ? "d-" : "l-") + std::to_string(node.startSector));
      fs::create_directories(into);
      const CopyOutResult copied = CopyOut(access, node, items, CopyOutOptions{.targetFolder = into});
      EXPECT_TRUE(copied.opened);
    }
  }
}

}  // namespace

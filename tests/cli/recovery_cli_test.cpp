// gleaner-cli undelete and rename over a floppy image emptied by mdel and
// mdeltree: rows named by their numbers in show's output.
#include <gtest/gtest.h>

#include <sstream>

#include "fixtures/cli_run.h"
#include "disk/disk_access.h"
#include "fixtures/image_builder.h"

namespace {

const char* const kRoot = "Floppy Disk 1/Root Directory";

TEST(RecoveryCli, UndeleteAndRenameBringFilesBack) {
  for (const bool direct : {false, true}) {
    TempDir dir;
    FatVolume v = MakeFloppy1440(dir.File("floppy.img"));
    const std::string text(3000, 'x');
    ASSERT_TRUE(v.PutFile("::/README.TXT", text));
    ASSERT_TRUE(v.MakeDir("::/DOCS"));
    ASSERT_TRUE(v.PutFile("::/DOCS/NOTE.TXT", "note"));
    ASSERT_TRUE(v.Delete("::/README.TXT"));
    ASSERT_TRUE(v.DeleteTree("::/DOCS"));
    std::vector<std::string> drives = {v.image};
    if (direct) drives.push_back("--direct");
    auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin(), drives.begin(), drives.end());
      return Cli(args);
    };

    // Deleted entries read as sigma (code page 437's 0xE5).
    const CliRun shown = run({"show", kRoot});
    ASSERT_EQ(shown.status, 0) << shown.err;
    const int readme = RowOf(shown.out,
                             "\xCF\x83"
                             "EADME  .TXT");
    const int docs = RowOf(shown.out,
                           "\xCF\x83"
                           "OCS    .   ");
    ASSERT_NE(readme, 0) << shown.out;
    ASSERT_NE(docs, 0) << shown.out;

    CliRun r = run({"undelete", kRoot, std::to_string(readme), std::to_string(docs)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "File(s) undeletion completed!\n");
    EXPECT_EQ(r.out, "");
    r = run({"rename", kRoot, std::to_string(readme), "README", "TXT"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    r = run({"rename", kRoot, std::to_string(docs), "DOCS"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(RowOf(run({"show", kRoot}).out, "DOCS    .   "), docs);

    // The folder's own deleted entry, by the folder's node.
    const std::string folder = std::string(kRoot) + "/DOCS    .   ";
    const int note = RowOf(run({"show", folder}).out,
                           "\xCF\x83"
                           "OTE    .TXT");
    ASSERT_NE(note, 0);
    EXPECT_EQ(run({"undelete", folder, std::to_string(note)}).err,
              "File(s) undeletion completed!\n");
    EXPECT_EQ(run({"rename", folder, std::to_string(note), "NOTE", "TXT"}).status, 0);

    EXPECT_EQ(v.ReadFile("::/README.TXT"), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(v.ReadFile("::/DOCS/NOTE.TXT"), std::vector<uint8_t>({'n', 'o', 't', 'e'}));
    std::string fsck;
    EXPECT_TRUE(v.Check(&fsck)) << fsck;
  }
}

TEST(RecoveryCli, RefusesWhatItCannotDo) {
  TempDir dir;
  FatVolume v = MakeFloppy1440(dir.File("floppy.img"));
  ASSERT_TRUE(v.PutFile("::/GONE.TXT", "gone"));
  ASSERT_TRUE(v.PutFile("::/LIVE.TXT", "live"));
  ASSERT_TRUE(v.Delete("::/GONE.TXT"));
  const std::vector<uint8_t> image = ReadFileBytes(v.image);

  CliRun r = Cli({v.image, "undelete", "Floppy Disk 1/Nothing", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "gleaner-cli: no node Floppy Disk 1/Nothing\n");
  r = Cli({v.image, "undelete", "Floppy Disk 1/FAT 1", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "gleaner-cli: Floppy Disk 1/FAT 1 is no root directory or folder\n");
  r = Cli({v.image, "undelete", kRoot, "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "gleaner-cli: Floppy Disk 1/Root Directory has no row 3\n");

  auto usage = [&](const std::vector<std::string>& args, const std::string& first) {
    std::vector<std::string> all = {v.image};
    all.insert(all.end(), args.begin(), args.end());
    const CliRun u = Cli(all);
    EXPECT_EQ(u.status, 2);
    EXPECT_EQ(u.err.substr(0, u.err.find('\n')), first);
  };
  usage({"undelete", kRoot}, "gleaner-cli: undelete needs NODE and a ROW");
  usage({"undelete", kRoot, "0"}, "gleaner-cli: ROW must be a row number from 1: 0");
  usage({"undelete", kRoot, "1", "x"}, "gleaner-cli: ROW must be a row number from 1: x");
  usage({"rename", kRoot, "1"}, "gleaner-cli: rename needs NODE ROW NAME [EXT]");
  usage({"rename", kRoot, "1", "NINECHARS"}, "gleaner-cli: NAME has more than 8 characters");
  usage({"rename", kRoot, "1", "CAF\xC3\x89", "HTML"},
        "gleaner-cli: EXT has more than 3 characters");
  EXPECT_EQ(ReadFileBytes(v.image), image);

  // Read-only drives: each writing command refuses before it starts, says
  // why (not a disk fault), and the exit status says it failed.
  r = Cli({"--read-only", "--direct", v.image, "undelete", kRoot, "1", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kDrivesReadOnly) + "\n");
  EXPECT_EQ(ReadFileBytes(v.image), image);
  const int live = RowOf(Cli({v.image, "show", kRoot}).out, "LIVE    .TXT");
  ASSERT_GT(live, 0);
  r = Cli({"--read-only", v.image, "rename", kRoot, std::to_string(live), "ONE", "TXT"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kDrivesReadOnly) + "\n");
  EXPECT_EQ(ReadFileBytes(v.image), image);
  // A refused name: said, status 1, nothing written.
  r = Cli({v.image, "rename", kRoot, std::to_string(live), "A*B", "TXT"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "The name contains a character a short name cannot hold: *\n");
  r = Cli({v.image, "rename", kRoot, "1", "GONE", "TXT"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "The entry is still deleted: undelete it before giving it a name.\n");
  EXPECT_EQ(ReadFileBytes(v.image), image);
  // Nothing to bring back (a live entry): done as asked is nothing done.
  r = Cli({v.image, "undelete", kRoot, std::to_string(live)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Not a deleted entry, left as it is: LIVE.TXT\nNo file was undeleted.\n");
  EXPECT_EQ(ReadFileBytes(v.image), image);
}

}  // namespace

TEST(RecoveryCli, TwoThousandSeventyKibFat12VolumeEndToEnd) {
  // mkfs.fat -F 12 -s 1 on 2070 KiB: 4071 data clusters, a 12-bit FAT that a
  // count of total sectors / sectors per cluster (4128) would take for 16-bit.
  TempDir dir;
  FatVolume v = MakeFatImage(dir.File("f.img"), 12, 4140, "-s 1");
  std::vector<uint8_t> big(5000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_TRUE(v.PutFile("::/HELLO.TXT", "hello"));
  ASSERT_TRUE(v.PutFile("::/BIG.BIN", big));
  const std::vector<uint8_t> before = ReadFileBytes(v.image);
  ASSERT_TRUE(v.Delete("::/BIG.BIN"));
  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    ASSERT_TRUE(WriteFileBytes(dir.File("g.img"), ReadFileBytes(v.image)));
    std::vector<std::string> drives = {"--floppy", dir.File("g.img")};
    if (direct) drives.push_back("--direct");
    auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin(), drives.begin(), drives.end());
      return Cli(args);
    };
    const CliRun tree = run({"tree"});
    EXPECT_EQ(tree.out,
              "Floppy Disk 1\n  FAT 1\n  FAT 2\n  Root Directory\n    HELLO   .TXT\n");
    const CliRun fat = run({"show", "Floppy Disk 1/FAT 1"});
    ASSERT_EQ(fat.status, 0) << fat.err;
    std::istringstream lines(fat.out);
    std::string titles, first;
    std::getline(lines, titles);
    std::getline(lines, first);
    EXPECT_EQ(titles.substr(0, 22), "FAT Entry\t000\t001\t002\t");
    // Media F8, the end of HELLO.TXT's chain, then BIG.BIN's freed clusters.
    EXPECT_EQ(first.substr(0, 33), "00000000\tFF8\tFFF\tFFF\t000\t000\t000\t");

    const CliRun shown = run({"show", kRoot});
    const int row = RowOf(shown.out, "\xCF\x83" "IG     .BIN");
    ASSERT_GT(row, 0) << shown.out;
    const CliRun undelete = run({"undelete", kRoot, std::to_string(row)});
    EXPECT_EQ(undelete.status, 0);
    EXPECT_EQ(undelete.err, "File(s) undeletion completed!\n");
    const CliRun rename = run({"rename", kRoot, std::to_string(row), "BIG", "BIN"});
    EXPECT_EQ(rename.status, 0) << rename.err;
    // Back as it was before mdel, byte for byte; fsck.fat finds nothing.
    EXPECT_EQ(ReadFileBytes(dir.File("g.img")), before);
    FatVolume g{dir.File("g.img"), 0};
    std::string report;
    EXPECT_TRUE(g.Check(&report)) << report;
  }
}

// gleaner-cli undelete and rename over a floppy image emptied by mdel and
// mdeltree: rows named by their numbers in show's output.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_app.h"
#include "fixtures/image_builder.h"

namespace {

struct CliRun {
  int status;
  std::string out, err;
};

CliRun Cli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunCli(args, std::string(GLEANER_BIN_DIR) + "/", out, err);
  return {status, out.str(), err.str()};
}

// The number show gives the row whose first cell is name (from 1 below the
// title line); 0 when there is none.
int RowOf(const std::string& showOutput, const std::string& name) {
  std::istringstream in(showOutput);
  std::string line;
  std::getline(in, line);  // the titles
  for (int row = 1; std::getline(in, line); ++row)
    if (line.substr(0, line.find('\t')) == name) return row;
  return 0;
}

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

  // Read-only drives: every write fails with the command's own message.
  r = Cli({"--read-only", "--direct", v.image, "undelete", kRoot, "1", "2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Root Directory not fully accessible!\nFAT 1 cannot be written successfully!\n"
            "FAT 2 cannot be written successfully!\nFile(s) undeletion completed!\n");
  EXPECT_EQ(ReadFileBytes(v.image), image);
}

}  // namespace

// gleaner-cli deleted and extract over FAT12, FAT16 and FAT32 volumes emptied
// by mdel and mdeltree: every deleted file with its path and judgement, and
// the intact ones copied out byte for byte under --read-only with the image
// left as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <sstream>

#include "fixtures/cli_run.h"
#include "fixtures/deleted_scene.h"
#include "recovery/copy_out.h"

namespace {

// The lines of deleted's output without the start cluster column.
std::vector<std::string> WithoutClusters(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    EXPECT_EQ(cells.size(), 4u) << line;
    if (cells.size() != 4) continue;
    EXPECT_GE(std::stoul(cells[2]), 2u) << line;
    lines.push_back(cells[0] + "\t" + cells[1] + "\t" + cells[3]);
  }
  return lines;
}

// The list row numbers show gives the entries named (the long-name column
// when there is one, else the short name).
int RowContaining(const std::string& showOutput, const std::string& cellText) {
  std::istringstream in(showOutput);
  std::string line;
  std::getline(in, line);
  for (int row = 1; std::getline(in, line); ++row)
    if (line.find(cellText) != std::string::npos) return row;
  ADD_FAILURE() << "no row " << cellText << " in\n" << showOutput;
  return 0;
}

class DeletedCli : public ::testing::TestWithParam<int> {};

TEST_P(DeletedCli, ListsJudgesAndCopiesOutWithoutWriting) {
  TempDir dir;
  const DeletedScene s = MakeDeletedScene(dir.File("disk.img"), GetParam());
  const std::vector<uint8_t> before = ReadFileBytes(s.volume.image);
  const std::string cb = std::to_string(s.clusterBytes);
  auto size = [&](const std::string& path) { return std::to_string(s.original.at(path).size()); };

  CliRun r = Cli({"--read-only", s.volume.image, "deleted", s.volumeNode});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(WithoutClusters(r.out),
            (std::vector<std::string>{
                "partly overwritten (1 cluster)\t" + size("Fragmented File.bin") +
                    "\t/Fragmented File.bin",
                "partly overwritten (1 cluster)\t" + size("Old Letter.txt") + "\t/Old Letter.txt",
                "intact\t" + size("Annual Report 2023.bin") + "\t/Annual Report 2023.bin",
                "intact\t0\t/_ocs/",
                "intact\t" + size("keep/GAP.BIN") + "\t/keep/_AP.BIN",
                "intact\t" + size("docs/Quarterly Numbers.dat") + "\t/_ocs/Quarterly Numbers.dat",
                "intact\t" + size("docs/notes.txt") + "\t/_ocs/_otes.txt",
            }));
  // The root directory names the same volume.
  EXPECT_EQ(Cli({"--read-only", s.volume.image, "deleted", s.rootNode}).out, r.out);

  const CliRun shown = Cli({s.volume.image, "show", s.rootNode});
  const int fragmented = RowContaining(shown.out, "Fragmented Fi");
  const int annual = RowContaining(shown.out, "Annual Report");
  const int docs = RowContaining(shown.out, "OCS    .   ");
  const int keep = RowContaining(shown.out, "KEEP    .   ");

  // The intact ones, a deleted folder with what it held, and a live folder.
  TempDir out;
  r = Cli({"--read-only", s.volume.image, "extract", s.rootNode, std::to_string(annual),
           std::to_string(docs), std::to_string(keep), "--to", out.Path()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, out.File("Annual Report 2023.bin") + "\n" + out.File("_ocs") + "\n" +
                       out.File("_ocs/Quarterly Numbers.dat") + "\n" + out.File("_ocs/_otes.txt") +
                       "\n" + out.File("keep") + "\n" + out.File("keep/A.BIN") + "\n" +
                       out.File("keep/C.BIN") + "\n");
  EXPECT_EQ(ReadFileBytes(out.File("Annual Report 2023.bin")), s.original.at("Annual Report 2023.bin"));
  EXPECT_EQ(ReadFileBytes(out.File("_ocs/Quarterly Numbers.dat")),
            s.original.at("docs/Quarterly Numbers.dat"));
  EXPECT_EQ(ReadFileBytes(out.File("_ocs/_otes.txt")), s.original.at("docs/notes.txt"));
  EXPECT_EQ(ReadFileBytes(out.File("keep/C.BIN")), s.original.at("keep/C.BIN"));
  // The modified time comes from the entry (mtools stamps the host file's).
  struct stat st{};
  ASSERT_EQ(::stat(out.File("Annual Report 2023.bin").c_str(), &st), 0);
  EXPECT_LT(std::abs(std::difftime(st.st_mtime, std::time(nullptr))), 3600.0);

  // The fragmented file: as undelete chains it the copy stops at the cluster
  // keep/C.BIN holds; its bytes cannot tell, so the reading that steps over
  // it is written beside it, and gets every byte.
  const std::string fragSize = size("Fragmented File.bin");
  const std::string around = out.File("Fragmented File (around live clusters).bin");
  r = Cli({"--read-only", s.volume.image, "extract", s.rootNode, std::to_string(fragmented), "--to",
           out.Path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, out.File("Fragmented File.bin") + "\n" + around + "\n");
  const std::string err = out.File("Fragmented File.bin") + ": copied " +
                          std::to_string(2 * s.clusterBytes) + " of " + fragSize + " bytes (cluster ";
  EXPECT_EQ(r.err.substr(0, err.size()), err) << r.err;
  // The detail lines, then what came of the files: this one in part.
  EXPECT_NE(r.err.find(" in use)\n" + around + ": " + kReadAroundToo + "\n1 files copied whole, 1 in part, 0 not copied; 0 folders made in " +
                       out.Path() + "\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFileBytes(out.File("Fragmented File.bin")).size(), 2 * s.clusterBytes);
  EXPECT_EQ(ReadFileBytes(around), s.original.at("Fragmented File.bin"));

  r = Cli({"--read-only", s.volume.image, "extract", s.rootNode, std::to_string(fragmented), "--to",
           out.Path(), "--skip-allocated"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The name was taken by the first copy.
  EXPECT_EQ(r.out, out.File("Fragmented File (2).bin") + "\n");
  EXPECT_EQ(ReadFileBytes(out.File("Fragmented File (2).bin")), s.original.at("Fragmented File.bin"));

  // A whole folder without rows: its live files.
  TempDir whole;
  r = Cli({"--read-only", s.volume.image, "extract", s.rootNode + "/KEEP    .   ", "--to",
           whole.Path()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, whole.File("A.BIN") + "\n" + whole.File("C.BIN") + "\n");
  EXPECT_EQ(ReadFileBytes(whole.File("A.BIN")), s.original.at("keep/A.BIN"));

  EXPECT_TRUE(ReadFileBytes(s.volume.image) == before) << "the image was written";
}

INSTANTIATE_TEST_SUITE_P(Widths, DeletedCli, ::testing::Values(12, 16, 32));

TEST(DeletedCli, UsageAndMissingNodes) {
  TempDir dir;
  const DeletedScene s = MakeDeletedScene(dir.File("disk.img"), 16);
  CliRun r = Cli({s.volume.image, "deleted"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.substr(0, 37), "gleaner-cli: deleted needs VOLUME\nusa");
  r = Cli({s.volume.image, "extract", s.rootNode, "1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.substr(0, 38), "gleaner-cli: extract needs --to DIR\nus");
  r = Cli({s.volume.image, "extract", s.rootNode, "0", "--to", dir.Path()});
  EXPECT_EQ(r.status, 2);
  r = Cli({s.volume.image, "deleted", "Hard Disk 1/Nothing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "gleaner-cli: no node Hard Disk 1/Nothing\n");
  r = Cli({s.volume.image, "deleted", s.volumeNode + "/FAT 1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "gleaner-cli: " + s.volumeNode + "/FAT 1 is no FAT volume\n");
  r = Cli({s.volume.image, "extract", s.rootNode, "99", "--to", dir.Path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "gleaner-cli: " + s.rootNode + " cannot be read or has not every row given\n");
  // A target folder that does not exist yet is made, and one that cannot be is refused.
  r = Cli({s.volume.image, "extract", s.rootNode, "1", "--to", dir.File("missing/deeper")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("missing/deeper")));
  ASSERT_TRUE(WriteFileBytes(dir.File("plain"), {}));
  r = Cli({s.volume.image, "extract", s.rootNode, "1", "--to", dir.File("plain")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Not a folder: " + dir.File("plain") + "\n");
}

// Undelete brings an entry back with "!" for its first character; renamed to
// the short name its deleted long-name pieces were made for, it gets its long
// name back (pieces across a sector boundary too); a wrong first letter leaves
// the pieces deleted.
TEST(DeletedCli, RenameAfterUndeleteBringsTheLongNameBack) {
  TempDir dir;
  FatVolume v = MakeFloppy1440(dir.File("floppy.img"));
  // Fourteen entries first: the three pieces of the long name then end in
  // the root's second sector, where its short entry stands.
  for (int i = 1; i <= 14; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "::/F%02d.TXT", i);
    ASSERT_TRUE(v.PutFile(name, "x"));
  }
  const std::string longName = "A Rather Long Name For A Report.txt";
  const std::vector<uint8_t> text = SceneBytes(3000, 5);
  ASSERT_TRUE(v.PutFile("::/" + longName, text));
  ASSERT_TRUE(v.PutFile("::/Second long name.txt", "second"));
  ASSERT_TRUE(v.Delete("::/" + longName));
  ASSERT_TRUE(v.Delete("::/Second long name.txt"));
  const std::string root = "Floppy Disk 1/Root Directory";

  CliRun shown = Cli({v.image, "show", root});
  const int first = RowContaining(shown.out, "A Rather Long");
  const int second = RowContaining(shown.out, "Second long n");
  CliRun r = Cli({v.image, "undelete", root, std::to_string(first), std::to_string(second)});
  ASSERT_EQ(r.status, 0) << r.err;
  shown = Cli({v.image, "show", root});
  // The revived rows' short names: "!RATHE~1.TXT" and "!ECOND~1.TXT".
  auto shortName = [&](int row) {
    std::istringstream in(shown.out);
    std::string line;
    for (int i = 0; i <= row; ++i) std::getline(in, line);
    return line.substr(0, 12);
  };
  EXPECT_EQ(shortName(first), "!RATHE~1.TXT");
  EXPECT_EQ(shortName(second), "!ECOND~1.TXT");

  r = Cli({v.image, "rename", root, std::to_string(first), "ARATHE~1", "TXT"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  r = Cli({v.image, "rename", root, std::to_string(second), "XECOND~1", "TXT"});
  EXPECT_EQ(r.status, 0) << r.err;

  const std::string listing = v.ListAll();
  EXPECT_NE(listing.find("::/" + longName + "\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("::/XECOND~1.TXT\n"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("Second long name"), std::string::npos) << listing;
  EXPECT_EQ(v.ReadFile("::/" + longName), text);
  std::string report;
  EXPECT_TRUE(v.Check(&report)) << report;
}

}  // namespace

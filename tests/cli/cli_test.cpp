#include "fixtures/cli_run.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/cell_text.h"
#include "cli/node_path.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first n tab-separated cells of a line, joined by tabs again.
std::string Cells(const std::string& line, size_t n) {
  std::string out;
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t tab = line.find('\t', start);
    out += (i ? "\t" : "") + line.substr(start, tab == std::string::npos ? tab : tab - start);
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

const char* const kVolume =
    "FAT 1\n"
    "FAT 2\n"
    "Root Directory\n"
    "  DOCS    .   \n"
    "    Projects Folder\n"
    "      PLAN    .TXT\n"
    "    Long File Name Document.txt\n"
    "    BIG     .BIN\n"
    "  GAMES   .   \n"
    "    SCORES  .DAT\n"
    "  README  .TXT\n"
    "  EMPTY   .TXT\n";

std::string Indented(const std::string& text, int levels) {
  std::string out;
  for (const auto& line : Lines(text)) out += std::string(2 * levels, ' ') + line + "\n";
  return out;
}

std::string SampleTree() {
  return "Floppy Disk 1\n" + Indented(kVolume, 1) + "Hard Disk 1\n  16-Bit FAT Disk\n" +
         Indented(kVolume, 2) + "  Extended DOS Partition\n    32-Bit FAT Disk\n" +
         Indented(kVolume, 3) + "    Extended DOS Partition\n      12-Bit FAT Disk\n" +
         Indented(kVolume, 4);
}

}  // namespace

TEST(CliTest, TreePrintsEveryNodeOnBothPaths) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
  for (const auto& args :
       {std::vector<std::string>{floppy.image, disk.image, "tree"},
        std::vector<std::string>{"--direct", "--floppy", floppy.image, "--disk", disk.image,
                                 "tree"}}) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, SampleTree());
    EXPECT_EQ(r.err, "");
  }
  // The program itself, with libsect32.so beside it.
  std::string output;
  EXPECT_EQ(RunCommand(ShellQuote(std::string(GLEANER_BIN_DIR) + "/gleaner-cli") + " " +
                           ShellQuote(floppy.image) + " " + ShellQuote(disk.image) + " tree",
                       &output),
            0);
  EXPECT_EQ(output, SampleTree());
}

TEST(CliTest, ShowPrintsThePaneOfTheNamedNode) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  // A file whose bytes would drive a terminal, with a long name in UTF-8.
  const std::vector<uint8_t> bytes = {'O', 'K', 0x1B, '[', '2', 'J', 0x07, 0x7F,
                                      0x85, 0x9B, 0xC3, 0xA4, 0xA0, 0xFF, 0x00, '!'};
  disk.fat16.PutFile("::/DOCS/Nämé \xE2\x82\xAC.bin", bytes);
  const std::string docs = "Hard Disk 1/16-Bit FAT Disk/Root Directory/DOCS    .   ";

  CliRun r = Cli({disk.image, "show", docs});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0],
            "MS-DOS Name\tLong File Name\tStarting Cluster\tAttributes\tSize\tModified Date\t"
            "Created Date\tAccessed Date");
  EXPECT_EQ(Cells(lines[3], 5), "BIG     .BIN\t\t00000009\tA\t20000");
  // The long name in UTF-8 stands as it is.
  const std::string longName = "\tNämé €.bin\t";
  EXPECT_EQ(lines[4].substr(lines[4].find('\t'), longName.size()), longName);

  r = Cli({disk.image, "show", docs + "/Nämé €.bin", "--sector-dump"});
  EXPECT_EQ(r.status, 0);
  lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u + 4 * 32);  // 4 sectors a cluster on this volume
  EXPECT_EQ(lines[0],
            "Offset\t00\t01\t02\t03\t04\t05\t06\t07\t08\t09\t0A\t0B\t0C\t0D\t0E\t0F\t\t"
            "0\t1\t2\t3\t4\t5\t6\t7\t8\t9\tA\tB\tC\tD\tE\tF");
  EXPECT_EQ(lines[1],
            "00000000\t4F\t4B\t1B\t5B\t32\t4A\t07\t7F\t85\t9B\tC3\tA4\tA0\tFF\t00\t21\t\t"
            "O\tK\t.\t[\t2\tJ\t.\t.\t\xE2\x80\xA6\t\xE2\x80\xBA\t\xC3\x83\t\xC2\xA4\t\xC2\xA0\t"
            "\xC3\xBF\t\t!");
  // The same in the file's own view, and raw from its first sector on.
  EXPECT_EQ(Lines(Cli({disk.image, "show", docs + "/Nämé €.bin"}).out).at(1), lines[1]);
  r = Cli({disk.image, "show", docs + "/Nämé €.bin", "--raw-dump"});
  EXPECT_EQ(Lines(r.out).size(), 33u);

  // Raw dumping of a disk: its master boot record, whatever else is asked.
  r = Cli({disk.image, "show", "Hard Disk 1", "--raw-dump", "--sector-dump"});
  lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 33u);
  EXPECT_EQ(Cells(lines[32], 17), "000001F0\t00\t00\t00\t00\t00\t00\t00\t00\t00\t00\t00\t00\t00\t00\t55\tAA");

  // Siblings that share a label: LABEL#N.
  PartitionImage(dir.File("two.img"), 12288,
                 "start=2048, size=4096, type=1\nstart=6144, size=4096, type=1\n");
  FormatPartition(dir.File("two.img"), 2048, 4096, 12);
  FormatPartition(dir.File("two.img"), 6144, 4096, 12);
  for (const auto& [name, hidden] : std::vector<std::pair<std::string, std::string>>{
           {"12-Bit FAT Disk", "2048"}, {"12-Bit FAT Disk#1", "2048"},
           {"12-Bit FAT Disk#2", "6144"}}) {
    r = Cli({dir.File("two.img"), "show", "Hard Disk 1/" + name});
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_NE(r.out.find("Number of Hidden Sectors\t" + hidden + "\n"), std::string::npos) << name;
  }
  r = Cli({dir.File("two.img"), "show", "Hard Disk 1/12-Bit FAT Disk#3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "gleaner-cli: no node Hard Disk 1/12-Bit FAT Disk#3\n");
}

TEST(CliTest, MessagesUsageAndExitStatus) {
  TempDir dir;
  std::vector<uint8_t> past(64 * 512);
  past[0x1BE + 4] = 0x06;
  putLe32(past, 0x1BE + 8, 0x7FFFFFF0);
  WriteFileBytes(dir.File("past.img"), past);

  // Messages of the expansions on the way go to standard error as they stand.
  CliRun r = Cli({dir.File("past.img"), "show", "Hard Disk 1/16-Bit FAT Disk/FAT 1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Boot Record not accessible!\n"
            "gleaner-cli: no node Hard Disk 1/16-Bit FAT Disk/FAT 1\n");
  r = Cli({dir.File("past.img"), "tree"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Hard Disk 1\n  16-Bit FAT Disk\n");
  EXPECT_EQ(r.err, "Boot Record not accessible!\n");

  // No library beside the program: nothing is bound.
  r = Cli({dir.File("past.img"), "tree"}, dir.Path() + "/");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "libsect32.so not found\n");
  EXPECT_EQ(r.out, "");

  for (const auto& args : {std::vector<std::string>{dir.File("past.img"), "show"},
                           std::vector<std::string>{dir.File("past.img"), "tree", "more"},
                           std::vector<std::string>{dir.File("past.img"), "show", "A", "B"},
                           std::vector<std::string>{dir.File("past.img"), "show", "A", "--dump"},
                           std::vector<std::string>{dir.File("past.img"), "grow"}}) {
    r = Cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: gleaner-cli"), std::string::npos);
  }
  r = Cli({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"tree", "show NODE", "--sector-dump", "--raw-dump", "LABEL#N",
                           "standard error", "Exit status"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

TEST(CliTest, CellTextsCannotDriveTheTerminal) {
  EXPECT_EQ(SafeCellText("\x1B[31mred\x07"), ".[31mred.");
  EXPECT_EQ(SafeCellText(std::string("a\0b\tc\n\x7F", 7)), "a.b.c..");
  // Lone bytes past 0x7F are written as their ANSI characters, in UTF-8.
  EXPECT_EQ(SafeCellText("\x85\x9B\x9F\xA0\xC3\xFF"),
            "\xE2\x80\xA6\xE2\x80\xBA\xC5\xB8\xC2\xA0\xC3\x83\xC3\xBF");
  // Well-formed UTF-8 stays, except the C1 controls it can also spell.
  EXPECT_EQ(SafeCellText("N\xC3\xA4m\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "N\xC3\xA4m\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(SafeCellText("\xC2\x9B" "2J \xC2\x85 \xC2\xA0"), ".2J . \xC2\xA0");
  // Ill-formed sequences are taken byte by byte: overlong, surrogate, cut short.
  EXPECT_EQ(SafeCellText("\xC0\x80 \xED\xA0\x80 \xE2\x82"),
            "\xC3\x80\xE2\x82\xAC \xC3\xAD\xC2\xA0\xE2\x82\xAC \xC3\xA2\xE2\x80\x9A");
}

TEST(CliTest, NodeNamesPickSiblings) {
  std::vector<TreeNode> siblings(5);
  const char* labels[] = {"A", "B", "A", "X#2", "E\x1B"};
  for (size_t i = 0; i < siblings.size(); ++i) siblings[i].label = labels[i];
  EXPECT_EQ(FindSibling(siblings, "A"), 0);
  EXPECT_EQ(FindSibling(siblings, "A#1"), 0);
  EXPECT_EQ(FindSibling(siblings, "A#2"), 2);
  EXPECT_EQ(FindSibling(siblings, "B#1"), 1);
  EXPECT_EQ(FindSibling(siblings, "X#2"), 3);
  EXPECT_EQ(FindSibling(siblings, "E."), 4);  // as tree prints it
  for (const char* none : {"A#3", "A#0", "A#", "A#x", "C", "X"})
    EXPECT_EQ(FindSibling(siblings, none), -1) << none;
  EXPECT_EQ(SplitNodePath("Hard Disk 1/16-Bit FAT Disk"),
            (std::vector<std::string>{"Hard Disk 1", "16-Bit FAT Disk"}));
  EXPECT_EQ(SplitNodePath("A//B"), std::vector<std::string>{});
  EXPECT_EQ(SplitNodePath("A/"), std::vector<std::string>{});
  EXPECT_EQ(SplitNodePath(""), std::vector<std::string>{});
}

TEST(Cli, ADriveThatCannotBeOpenedEndsTheRunWithItsReason) {
  TempDir dir;
  FatVolume f = MakeFloppy1440(dir.File("f.img"));
  ASSERT_TRUE(WriteFileBytes(dir.File("empty.img"), {}));
  const std::string missing = dir.File("nope.img");
  for (const char* const path : {"", "--direct"}) {
    SCOPED_TRACE(*path == 0 ? "library path" : "direct path");
    auto run = [&](std::vector<std::string> args) {
      if (*path != 0) args.insert(args.begin(), path);
      return Cli(args);
    };
    CliRun r = run({"--disk", missing, "tree"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open " + missing + ": No such file or directory\n");
    EXPECT_EQ(r.out, "");
    r = run({"--floppy", f.image, "--disk", dir.Path(), "tree"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open " + dir.Path() + ": Is a directory\n");
    r = run({"--disk", dir.File("empty.img"), "show", "Hard Disk 1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open " + dir.File("empty.img") + ": it holds no whole sector\n");
    r = run({"--floppy", f.image, "tree"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Cli, TreeAndListNameAShortNamePastAsciiAlike) {
  TempDir dir;
  FatVolume f = MakeFloppy1440(dir.File("f.img"));
  ASSERT_TRUE(f.PutFile("::/CAFE.TXT", std::string("menu")));
  // The short name's fourth byte made 0x90, code page 437's E with acute.
  std::vector<uint8_t> bytes = ReadFileBytes(f.image);
  const std::string stored = "CAFE    TXT";
  auto at = std::search(bytes.begin() + 19 * 512, bytes.begin() + 33 * 512, stored.begin(),
                        stored.end());
  ASSERT_NE(at, bytes.begin() + 33 * 512);
  at[3] = 0x90;
  ASSERT_TRUE(WriteFileBytes(f.image, bytes));
  const std::string name = "CAF\xC3\x89    .TXT";
  for (const char* const path : {"", "--direct"}) {
    SCOPED_TRACE(*path == 0 ? "library path" : "direct path");
    std::vector<std::string> tree = {f.image, "tree"}, show = {f.image, "show",
                                                                "Floppy Disk 1/Root Directory"};
    if (*path != 0) {
      tree.insert(tree.begin(), path);
      show.insert(show.begin(), path);
    }
    CliRun r = Cli(tree);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n    " + name + "\n"), std::string::npos) << r.out;
    r = Cli(show);
    EXPECT_EQ(Cells(Lines(r.out).at(1), 1), name);
    // The tree's label names the node for show.
    r = Cli({f.image, "show", "Floppy Disk 1/Root Directory/" + name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out).at(1).substr(0, 20), "00000000\t6D\t65\t6E\t75");
  }
}

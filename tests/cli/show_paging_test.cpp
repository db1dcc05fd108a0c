// gleaner-cli show --page and --goto: the editor's paging and sector jump
// before the list is printed.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_app.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"

namespace {

struct ShowRun {
  int status;
  std::vector<std::string> lines;
  std::string err;
};

ShowRun Show(const std::string& image, std::vector<std::string> args) {
  args.insert(args.begin(), {"--disk", image, "show"});
  std::ostringstream out, err;
  const int status = RunCli(args, std::string(GLEANER_BIN_DIR) + "/", out, err);
  ShowRun run{status, {}, err.str()};
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) run.lines.push_back(line);
  return run;
}

// Offset and the 16 byte cells of a dump line.
std::vector<std::string> HexCells(const std::string& line) {
  std::vector<std::string> cells;
  std::istringstream in(line);
  for (std::string cell; cells.size() < 17 && std::getline(in, cell, '\t');) cells.push_back(cell);
  return cells;
}

std::vector<std::string> Expected(const std::vector<uint8_t>& image, uint64_t byte, const char* offset) {
  std::vector<std::string> cells{offset};
  char hex[4];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", image.at(byte + static_cast<uint64_t>(i)));
    cells.push_back(hex);
  }
  return cells;
}

class ShowPaging : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    image_ = MakeSampleDisk(dir_->File("disk.img")).image;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static TempDir* dir_;
  static std::string image_;
};

TempDir* ShowPaging::dir_ = nullptr;
std::string ShowPaging::image_;

const char* const kFat1 = "Hard Disk 1/16-Bit FAT Disk/FAT 1";
constexpr uint32_t kFat16Start = 2048;

}  // namespace

TEST_F(ShowPaging, PagesAndJumpsBeforePrinting) {
  const std::vector<uint8_t> image = ReadFileBytes(image_);
  const uint32_t reserved = le16(std::span<const uint8_t>(image.data() + kFat16Start * 512, 512), 14);
  const uint64_t fat1 = uint64_t{kFat16Start} + reserved;

  ShowRun paged = Show(image_, {kFat1, "--raw-dump", "--page", "2"});
  ASSERT_EQ(paged.status, 0) << paged.err;
  ASSERT_EQ(paged.lines.size(), 33u);
  EXPECT_EQ(HexCells(paged.lines[1]), Expected(image, (fat1 + 2) * 512, "00000400"));
  EXPECT_EQ(HexCells(paged.lines[32]), Expected(image, (fat1 + 2) * 512 + 496, "000005F0"));
  EXPECT_EQ(paged.err, "");

  // --goto turns raw dumping on; --page then steps on from the target.
  const std::string target = std::to_string(reserved + 5);
  ShowRun jumped = Show(image_, {kFat1, "--goto", target});
  ASSERT_EQ(jumped.status, 0) << jumped.err;
  EXPECT_EQ(HexCells(jumped.lines[1]), Expected(image, (fat1 + 5) * 512, "00000A00"));
  ShowRun both = Show(image_, {kFat1, "--page", "1", "--goto", target});
  EXPECT_EQ(HexCells(both.lines[1]), Expected(image, (fat1 + 6) * 512, "00000C00"));

  // The jump's refusals are said on standard error, nothing is printed and
  // the status says the command could not do it.
  ShowRun below = Show(image_, {kFat1, "--goto", std::to_string(reserved - 1)});
  EXPECT_EQ(below.status, 1);
  EXPECT_EQ(below.err, "Sector number is below the current selected item of " + std::to_string(reserved) + "\n");
  EXPECT_TRUE(below.lines.empty());
  ShowRun top = Show(image_, {"Hard Disk 1", "--goto", "5"});
  EXPECT_EQ(top.status, 1);
  EXPECT_EQ(top.err, "You cannot goto a sector from this level.  Choose a child item and try\n");
  EXPECT_TRUE(top.lines.empty());
  // Past the volume's last sector lies another structure's sector or none.
  const uint32_t total = le32(std::span<const uint8_t>(image.data() + kFat16Start * 512, 512), 32) != 0
                             ? le32(std::span<const uint8_t>(image.data() + kFat16Start * 512, 512), 32)
                             : le16(std::span<const uint8_t>(image.data() + kFat16Start * 512, 512), 19);
  ShowRun past = Show(image_, {kFat1, "--goto", std::to_string(total)});
  EXPECT_EQ(past.status, 1);
  EXPECT_EQ(past.err,
            "Sector number is past the end of the volume at " + std::to_string(total - 1) + "\n");
  EXPECT_TRUE(past.lines.empty());
  ShowRun last = Show(image_, {kFat1, "--goto", std::to_string(total - 1)});
  EXPECT_EQ(last.status, 0);
  EXPECT_EQ(HexCells(last.lines[1]),
            Expected(image, (uint64_t{kFat16Start} + total - 1) * 512, HexCells(last.lines[1])[0].c_str()));
  // A 16-bit FAT table is one page: there is no page 3 of it.
  ShowRun decoded = Show(image_, {kFat1, "--page", "3"});
  EXPECT_EQ(decoded.status, 1);
  EXPECT_EQ(decoded.err, "Page number is past the last page of the current selected item, 0\n");
  EXPECT_TRUE(decoded.lines.empty());
}

TEST_F(ShowPaging, APagePastTheLastClusterIsRefusedOnce) {
  const std::string big = "Hard Disk 1/16-Bit FAT Disk/Root Directory/DOCS    .   /BIG     .BIN";
  ShowRun first = Show(image_, {big, "--sector-dump"});
  ASSERT_EQ(first.status, 0) << first.err;
  const size_t rowsPerCluster = first.lines.size() - 1;
  const size_t clusterBytes = rowsPerCluster * 16;
  const size_t clusters = (20000 + clusterBytes - 1) / clusterBytes;
  ASSERT_GT(clusters, 1u);
  char last[16];
  std::snprintf(last, sizeof last, "%08zX", (clusters - 1) * clusterBytes);
  ShowRun end = Show(image_, {big, "--sector-dump", "--page", std::to_string(clusters - 1)});
  ASSERT_EQ(end.status, 0) << end.err;
  EXPECT_EQ(HexCells(end.lines[1]).at(0), last);
  EXPECT_EQ(end.err, "");
  ShowRun past = Show(image_, {big, "--sector-dump", "--page", "4000000000"});
  EXPECT_EQ(past.status, 1);
  EXPECT_EQ(past.err, "Page number is past the last page of the current selected item, " +
                          std::to_string(clusters - 1) + "\n");
  EXPECT_TRUE(past.lines.empty());
}

TEST(ShowPagingRaw, AnyPageCostsOneRead) {
  TempDir dir;
  // One Linux partition: an "Unknown" node whose volume size nobody knows,
  // so its raw dump claims every 32-bit sector.
  const std::string disk = dir.File("linux.img");
  ASSERT_TRUE(PartitionImage(disk, 8192, "start=2048, type=83\n"));
  ShowRun far = Show(disk, {"Hard Disk 1/Unknown", "--raw-dump", "--page", "4294967295"});
  EXPECT_EQ(far.status, 1);
  EXPECT_EQ(far.err, "Page number is past the last page of the current selected item, 4294967294\n");
  EXPECT_TRUE(far.lines.empty());
  // A page inside the claim but past the disk: one read, one message, and
  // the page shown as unreadable.
  ShowRun gone = Show(disk, {"Hard Disk 1/Unknown", "--raw-dump", "--page", "4000000000"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.err, "Sector not accessible!\n");
  ASSERT_EQ(gone.lines.size(), 33u);
  EXPECT_EQ(HexCells(gone.lines[1]),
            (std::vector<std::string>{"1DCD6500000", "??", "??", "??", "??", "??", "??", "??", "??",
                                      "??", "??", "??", "??", "??", "??", "??", "??"}));
}

TEST_F(ShowPaging, BadValuesAreUsageErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {kFat1, "--page"},
           {kFat1, "--page", "x"},
           {kFat1, "--page", "-1"},
           {kFat1, "--page", "4294967296"},
           {kFat1, "--goto"},
           {kFat1, "--goto", "12a"},
           {kFat1, "--goto", "-5"},
           {kFat1, "--goto", "4294967296"}}) {
    ShowRun run = Show(image_, args);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_TRUE(run.lines.empty());
  }
}

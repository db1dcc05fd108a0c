// gleaner-cli search over a disk image made by sfdisk with a FAT16 and a
// FAT32 partition: text planted in a deleted file's clusters, in free space
// and across a block boundary is found at its sector and row, from the root
// directory node and from a file node; bad input is refused with its message.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/cli_app.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "views/view_rig.h"

namespace {

constexpr uint32_t kFat16Start = 2048, kFat16Size = 20480;
constexpr uint32_t kFat32Start = 22528, kFat32Size = 69632;

struct CliRun {
  int status;
  std::vector<std::string> lines;
  std::string err;
};

CliRun Cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = RunCli(args, std::string(GLEANER_BIN_DIR) + "/", out, err);
  CliRun run{status, {}, err.str()};
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) run.lines.push_back(line);
  return run;
}

std::string Hit(uint32_t sector, uint32_t offset) {
  return "hit\t" + std::to_string(sector) + "\t" + std::to_string(offset / 16) + "\t" + std::to_string(offset);
}

struct Volume {
  const char* label;
  uint32_t start;
  uint32_t size;
  FatVolume fat;
};

class SearchCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    image_ = dir_->File("disk.img");
    ASSERT_TRUE(PartitionImage(image_, 96256,
                               "start=2048, size=20480, type=6\nstart=22528, size=69632, type=c\n"));
    volumes_[0] = {"16-Bit FAT Disk", kFat16Start, kFat16Size,
                   FormatPartition(image_, kFat16Start, kFat16Size, 16, "-n SEARCH16")};
    volumes_[1] = {"32-Bit FAT Disk", kFat32Start, kFat32Size,
                   FormatPartition(image_, kFat32Start, kFat32Size, 32, "-s 1 -n SEARCH32")};
    for (int v = 0; v < 2; ++v) {
      const FatVolume& fat = volumes_[v].fat;
      const std::string tag = std::to_string(v);
      ASSERT_TRUE(fat.PutFile("::/KEEP.TXT", std::string(700, 'k') + "kept " + tag));
      ASSERT_TRUE(fat.PutFile("::/GONE.TXT", std::string(1500, 'g') + "deleted secret " + tag));
      ASSERT_TRUE(fat.Delete("::/GONE.TXT"));
    }
    std::vector<uint8_t> bytes = ReadFileBytes(image_);
    for (int v = 0; v < 2; ++v) {
      Volume& vol = volumes_[v];
      const DrivePacket p = VolumeFromImage(bytes, vol.start, v == 0 ? FatWidth::Fat16 : FatWidth::Fat32);
      // Free space near the volume's end, and a text that begins in the last
      // bytes of the 99th sector of a block counted from the data area.
      vol.size = p.totalSectors;  // mkfs.fat may leave the partition's last sectors out
      free_[v] = vol.size - 40;
      const std::string freeText = "free space mark " + std::to_string(v);
      std::copy(freeText.begin(), freeText.end(), bytes.begin() + (uint64_t{vol.start} + free_[v]) * 512 + 200);
      boundary_[v] = p.dataStart + 98 + 99 * 60;
      const std::string across = "ACROSS" + std::to_string(v);
      std::copy(across.begin(), across.end(), bytes.begin() + (uint64_t{vol.start} + boundary_[v]) * 512 + 509);
      first_[v] = p.dataStart;
    }
    // The FAT16 root directory starts before the data area.
    rootFirst16_ = VolumeFromImage(bytes, kFat16Start, FatWidth::Fat16).startSector;
    ASSERT_TRUE(WriteFileBytes(image_, bytes));
    image_bytes_ = new std::vector<uint8_t>(std::move(bytes));
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete image_bytes_;
  }

  // The first occurrence of text in the volume from sector `from` on, by a
  // plain scan of the image: the sector (from the volume's start) and offset.
  static std::pair<uint32_t, uint32_t> Reference(int v, const std::string& text, uint32_t from) {
    const Volume& vol = volumes_[v];
    auto begin = image_bytes_->begin() + (uint64_t{vol.start} + from) * 512;
    auto end = image_bytes_->begin() + (uint64_t{vol.start} + vol.size) * 512;
    auto at = std::search(begin, end, text.begin(), text.end());
    EXPECT_NE(at, end) << text;
    const uint64_t byte = static_cast<uint64_t>(at - image_bytes_->begin()) - uint64_t{vol.start} * 512;
    return {static_cast<uint32_t>(byte / 512), static_cast<uint32_t>(byte % 512)};
  }

  static std::string Node(int v, const std::string& below) {
    return std::string("Hard Disk 1/") + volumes_[v].label + "/" + below;
  }

  static TempDir* dir_;
  static std::string image_;
  static std::vector<uint8_t>* image_bytes_;
  static Volume volumes_[2];
  static uint32_t free_[2], boundary_[2], first_[2], rootFirst16_;
};

TempDir* SearchCli::dir_ = nullptr;
std::string SearchCli::image_;
std::vector<uint8_t>* SearchCli::image_bytes_ = nullptr;
Volume SearchCli::volumes_[2];
uint32_t SearchCli::free_[2], SearchCli::boundary_[2], SearchCli::first_[2], SearchCli::rootFirst16_;

TEST_F(SearchCli, PlantedTextIsFoundAtItsSectorAndRowInBothPartitions) {
  for (int v = 0; v < 2; ++v) {
    SCOPED_TRACE(volumes_[v].label);
    const std::string total = "Total sec: " + std::to_string(volumes_[v].size) + "\n";
    // A deleted file's clusters, from the root directory and from a file.
    const std::string deleted = "deleted secret " + std::to_string(v);
    const auto [sector, offset] = Reference(v, deleted, 0);
    EXPECT_GE(sector, first_[v]);
    for (const std::string& node : {Node(v, "Root Directory"), Node(v, "Root Directory/KEEP    .TXT")}) {
      CliRun run = Cli({"--disk", image_, "search", node, "--text", deleted});
      EXPECT_EQ(run.status, 0) << run.err;
      ASSERT_EQ(run.lines.size(), 34u) << run.err;
      EXPECT_EQ(run.lines[0], Hit(sector, offset));
      EXPECT_EQ(run.err, total + "Search String Found!\n");
      // The dump is the found sector as show --raw-dump prints it.
      CliRun shown = Cli({"--disk", image_, "show", node, "--raw-dump", "--goto", std::to_string(sector)});
      ASSERT_EQ(shown.status, 0);
      EXPECT_EQ(std::vector<std::string>(run.lines.begin() + 1, run.lines.end()), shown.lines);
    }
    // Free space, in hexadecimal, on the direct path too.
    const std::string freeText = "free space mark " + std::to_string(v);
    EXPECT_EQ(Reference(v, freeText, 0), std::make_pair(free_[v], 200u));
    std::string hex;
    for (char c : std::string("free space")) hex += (hex.empty() ? "" : " ") + std::to_string(0) + "x" +
                                                     "0123456789ABCDEF"[(c >> 4) & 15] + "0123456789ABCDEF"[c & 15];
    for (bool direct : {false, true}) {
      std::vector<std::string> args = {"--disk", image_, "search", Node(v, "Root Directory"), "--hex", hex};
      if (direct) args.insert(args.begin(), "--direct");
      CliRun run = Cli(args);
      EXPECT_EQ(run.status, 0) << run.err;
      ASSERT_FALSE(run.lines.empty());
      EXPECT_EQ(run.lines[0], Hit(free_[v], 200));
    }
    // Across the 99th and 100th sectors of a block, from the data area's first
    // sector (a file node starts there): found in the 99th, row 31.
    const std::string across = "ACROSS" + std::to_string(v);
    CliRun run = Cli({"--disk", image_, "search", Node(v, "Root Directory/KEEP    .TXT"), "--text", across,
                   "--start", std::to_string(first_[v])});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines[0], Hit(boundary_[v], 509));
    // From after it: not found.
    run = Cli({"--disk", image_, "search", Node(v, "Root Directory"), "--text", across, "--start",
               std::to_string(boundary_[v] + 1), "--progress"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.err.substr(0, total.size()), total);
    EXPECT_NE(run.err.find("% Completed\n"), std::string::npos);
    EXPECT_EQ(run.err.substr(run.err.size() - 25), "Search String not found!\n");
  }
}

TEST_F(SearchCli, BadInputIsRefusedWithItsMessage) {
  const std::string root = Node(0, "Root Directory");
  const std::string total = "Total sec: " + std::to_string(volumes_[0].size) + "\n";
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--disk", image_, "search"});
    return Cli(args);
  };
  CliRun r = run({root, "--hex", "41 ZZ"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.substr(0, r.err.find("gleaner-cli:")), total + "Byte 2 is not a hexadecimal number: ZZ\n");
  r = run({root, "--hex", "1 2 3 4 5 6 7 8 9 A B C D E F 10 11"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.substr(0, r.err.find("gleaner-cli:")), total + "At most 16 Hexa bytes can be searched for!\n");
  r = run({root, "--hex", " "});
  EXPECT_EQ(r.err.substr(0, r.err.find("gleaner-cli:")), total + "Enter some Hexa bytes!\n");
  r = run({root, "--text", ""});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.substr(0, r.err.find("gleaner-cli:")), total + "Enter some search string!\n");
  // The start sector: F - 1 and E are out of range.
  const uint32_t last = volumes_[0].size - 1;
  const std::string range = "Sector number cannot be greater than " + std::to_string(last) + " or less than " +
                            std::to_string(rootFirst16_) + "\n";
  for (uint32_t start : {rootFirst16_ - 1, last + 1}) {
    r = run({root, "--text", "kept", "--start", std::to_string(start)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, total + range);
    EXPECT_TRUE(r.lines.empty());
  }
  // E - 1 is searched (the volume's last sector holds nothing).
  r = run({root, "--text", "kept", "--start", std::to_string(last)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, total + "Search String not found!\n");
  // A node whose extent begins at sector 0.
  r = run({"Hard Disk 1/16-Bit FAT Disk", "--text", "kept"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "You cannot search from this level!!  Try a child level!\n");
  // Usage.
  EXPECT_EQ(run({root}).status, 2);
  EXPECT_EQ(run({root, "--hex", "41", "--text", "A"}).status, 2);
  EXPECT_EQ(run({root, "--text", "A", "--start", "x"}).status, 2);
  EXPECT_EQ(run({"Hard Disk 1/No Such", "--text", "A"}).status, 1);
}

}  // namespace

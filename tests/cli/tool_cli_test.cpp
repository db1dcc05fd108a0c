// gleaner-cli's floppy tools over real images, through libsect32.so as the
// program runs them.
#include <gtest/gtest.h>

#include <sstream>

#include "fixtures/cli_run.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "fixtures/rescue_mapfile.h"
#include "tools/tool_rig.h"

namespace {

}  // namespace

TEST(ToolCli, BackupThenRestoreOfTheSampleDisk) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::vector<uint8_t> original = ReadFileBytes(disk.image);
  const std::vector<uint64_t> critical = SampleCriticalSectors(disk);
  const uint64_t ebr2 = critical[4];

  CliRun r = Cli({"--floppy", floppy.image, "--disk", disk.image, "backup", "--verify"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Backup completed successfully!\n");
  EXPECT_EQ(r.out, "2\t0\ttable\n3\t" + std::to_string(disk.fat16Start) + "\tboot\n4\t" +
                       std::to_string(disk.extendedStart) + "\ttable\n5\t" +
                       std::to_string(disk.fat32Start) + "\tboot\n6\t" + std::to_string(ebr2) +
                       "\ttable\n7\t" + std::to_string(disk.fat12Start) + "\tboot\n");

  for (const uint64_t s : critical) PutSector(disk.image, s, std::vector<uint8_t>(512, 0));
  r = Cli({"--floppy", floppy.image, "--disk", disk.image, "restore", "--floppy", "1", "--disk", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Restore completed successfully!\n");
  EXPECT_NE(r.out.find("written\t" + std::to_string(ebr2) + "\n"), std::string::npos);
  EXPECT_TRUE(ReadFileBytes(disk.image) == original);

  // Usage and drive errors, and a run that fails.
  EXPECT_EQ(Cli({"--floppy", floppy.image, "--disk", disk.image, "backup", "--floppy", "0"}).status, 2);
  EXPECT_EQ(Cli({"--floppy", floppy.image, "--disk", disk.image, "backup", "--disk", "2"}).status, 2);
  EXPECT_EQ(Cli({"--floppy", floppy.image, "--disk", disk.image, "restore", "--verify"}).status, 2);
  r = Cli({"--floppy", floppy.image, "--disk", disk.image, "--direct", "backup"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Sorry Backup not possible with --direct, only through libsect32.so!\n");
  r = Cli({"--floppy", floppy.image, "--disk", disk.image, "--read-only", "backup"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kDrivesReadOnly) + "\n");
  EXPECT_NE(Cli({"--help"}).out.find("  restore [--floppy N] [--disk N] [--no-partition-table]"),
            std::string::npos);
}

TEST(ToolCli, DiskCopyOntoThreeTargetsAndAroundAnUnreadableTrack) {
  TempDir dir;
  const FatVolume source = MakeSampleFloppy(dir.File("source.img"));
  const std::vector<uint8_t> original = ReadFileBytes(source.image);
  for (const bool verify : {false, true}) {
    std::vector<std::string> args = {"--floppy", source.image, "diskcopy"};
    std::string expected;
    for (const char* t : {"t1", "t2", "t3"}) {
      const std::string path = dir.File(std::string(t) + (verify ? "v.img" : ".img"));
      args.insert(args.end(), {"--target", path});
      expected += "target\t" + path + "\n";
    }
    if (verify) args.push_back("--verify");
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected + "targets written\t3\ntracks not moved whole\t0\nunreadable source sectors\t0\n"
                         "target sectors not written\t0\n");
    EXPECT_EQ(r.err, "Copy over!  Write to another disk? Yes\nCopy over!  Write to another disk? Yes\n"
                     "Copy over!  Write to another disk? No\n");
    for (const char* t : {"t1", "t2", "t3"})
      EXPECT_TRUE(ReadFileBytes(dir.File(std::string(t) + (verify ? "v.img" : ".img"))) == original);
  }
  // Track (2, 1), sectors 54..71, has sectors 60..62 unread in the rescue map.
  const std::string map = dir.File("source.map");
  ASSERT_TRUE(WriteRescueMapfile(map, original.size(), {{60, 3}}));
  CliRun r = Cli({"--floppy", source.image, "--mapfile", map, "diskcopy", "--target", dir.File("bad.img")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Disk failure during read operation!! Ignore\n"
                   "3 sectors of the source could not be read: the copies hold filler bytes (E5) in their place!\n"
                   "Copy over!  Write to another disk? No\n");
  EXPECT_NE(r.out.find("tracks not moved whole\t1\nunreadable source sectors\t3\n"), std::string::npos);
  // Only the unreadable sectors get the filler.
  std::vector<uint8_t> expected = original;
  std::fill(expected.begin() + 60 * 512, expected.begin() + 63 * 512, 0xE5);
  EXPECT_TRUE(ReadFileBytes(dir.File("bad.img")) == expected);
  // Abort gives the track up: with No to "Stop Operation?" the copy goes on.
  r = Cli({"--floppy", source.image, "--mapfile", map, "diskcopy", "--abort", "--target", dir.File("ab.img")});
  EXPECT_EQ(r.err, "Disk failure during read operation!! Abort\nStop Operation? No\n"
                   "3 sectors of the source could not be read: the copies hold filler bytes (E5) in their place!\n"
                   "Copy over!  Write to another disk? No\n");
  r = Cli({"--floppy", source.image, "--mapfile", map, "diskcopy", "--retry", "--yes", "--target",
           dir.File("re.img")});
  EXPECT_EQ(r.err, "Disk failure during read operation!! Retry\nDisk failure during read operation!! Retry\n"
                   "Disk failure during read operation!! Retry\nDisk failure during read operation!! Ignore\n"
                   "3 sectors of the source could not be read: the copies hold filler bytes (E5) in their place!\n"
                   "Copy over!  Write to another disk? No\n");
  EXPECT_EQ(Cli({"--floppy", source.image, "diskcopy"}).status, 2);
  EXPECT_EQ(Cli({"--floppy", source.image, "diskcopy", "--from", "2", "--target", dir.File("x.img")}).status, 2);
}

TEST(ToolCli, CopyToFloppyFromAFat16PartitionAroundUnreadableFloppySectors) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  std::vector<uint8_t> data(30000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + i / 700);
  disk.fat16.PutFile("::/DATA.BIN", data);
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::string node = "Hard Disk 1/16-Bit FAT Disk/Root Directory";
  // The row of DATA.BIN as show lists it.
  CliRun shown = Cli({"--disk", disk.image, "show", node});
  size_t row = 0;
  {
    std::istringstream lines(shown.out);
    std::string line;
    std::getline(lines, line);  // titles
    for (size_t n = 1; std::getline(lines, line); ++n)
      if (line.find("DATA") != std::string::npos) row = n;
  }
  ASSERT_NE(row, 0u) << shown.out;
  // Floppy sectors 40 and 41 (clusters 9 and 10) are unreadable per the map.
  const std::string map = dir.File("floppy.map");
  ASSERT_TRUE(WriteRescueMapfile(map, 2880 * 512, {{40, 2}}));
  CliRun r = Cli({"--floppy", floppy.image, "--mapfile", map, "--disk", disk.image, "copy-to-floppy", node,
                  std::to_string(row)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "first cluster\t2\nclusters\t59\nsize\t30000\nbad clusters\t9 10\nunreadable source clusters\t\n");
  EXPECT_EQ(floppy.ReadFile("::/DATA.BIN"), data);
  std::string report;
  EXPECT_TRUE(floppy.Check(&report)) << report;
  const std::vector<uint8_t> fat = SectorOf(floppy.image, 1);
  EXPECT_EQ(le16(fat, 9 * 3 / 2) >> 4, 0xFF7);  // cluster 9 (odd)
  EXPECT_EQ(le16(fat, 10 * 3 / 2) & 0xFFF, 0xFF7);
  // A folder row: refused, nothing written, exit 1; a row that is not there.
  const std::vector<uint8_t> after = ReadFileBytes(floppy.image);
  r = Cli({"--floppy", floppy.image, "--disk", disk.image, "copy-to-floppy", node, "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "A folder cannot be copied to a floppy!\n");
  EXPECT_TRUE(ReadFileBytes(floppy.image) == after);
  EXPECT_EQ(Cli({"--floppy", floppy.image, "--disk", disk.image, "copy-to-floppy", node}).status, 2);
  EXPECT_EQ(Cli({"--floppy", floppy.image, "--disk", disk.image, "copy-to-floppy", node, "99"}).status, 1);
}

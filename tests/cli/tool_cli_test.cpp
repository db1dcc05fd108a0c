// gleaner-cli's floppy tools over real images, through libsect32.so as the
// program runs them.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_app.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "tools/tool_rig.h"

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

}  // namespace

TEST(ToolCli, BackupThenRestoreOfTheSampleDisk) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::vector<uint8_t> original = ReadFileBytes(disk.image);
  const std::vector<uint8_t> ebr1 = SectorOf(disk.image, disk.extendedStart);
  const uint64_t ebr2 = disk.extendedStart + le32(ebr1, 0x1BE + 16 + 8);

  CliRun r = Cli({"--floppy", floppy.image, "--disk", disk.image, "backup", "--verify"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Backup completed successfully!\n");
  EXPECT_EQ(r.out, "2\t0\ttable\n3\t" + std::to_string(disk.fat16Start) + "\tboot\n4\t" +
                       std::to_string(disk.extendedStart) + "\ttable\n5\t" +
                       std::to_string(disk.fat32Start) + "\tboot\n6\t" + std::to_string(ebr2) +
                       "\ttable\n7\t" + std::to_string(disk.fat12Start) + "\tboot\n");

  for (const uint64_t s : {uint64_t{0}, uint64_t{disk.fat16Start}, uint64_t{disk.extendedStart},
                           uint64_t{disk.fat32Start}, ebr2, uint64_t{disk.fat12Start}})
    PutSector(disk.image, s, std::vector<uint8_t>(512, 0));
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
  EXPECT_EQ(r.err, "Backup failed on the floppy!\n");
  EXPECT_NE(Cli({"--help"}).out.find("  restore [--floppy N] [--disk N] [--no-partition-table]"),
            std::string::npos);
}

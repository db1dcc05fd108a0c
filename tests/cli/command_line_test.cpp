// gleaner-cli's command line on CLI11: every command's own --help, and the
// usage errors of command lines it refuses (exit status 2, the reason, then
// the --help text).
#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "fixtures/cli_run.h"
#include "fixtures/image_builder.h"

namespace {

struct HelpCase {
  const char* command;
  const char* usage;    // the first line of its help
  const char* listed;   // an option or argument its help lists
};

std::ostream& operator<<(std::ostream& os, const HelpCase& c) { return os << c.command; }

class CommandHelpTest : public testing::TestWithParam<HelpCase> {};

TEST_P(CommandHelpTest, CommandHelpListsItsUsageAndOptions) {
  const HelpCase& c = GetParam();
  // The drive need not exist: help opens nothing.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{c.command, "--help"},
        std::vector<std::string>{"--disk", "/nonexistent/disk.img", c.command, "x", "-h"}}) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), std::string("usage: gleaner-cli [DRIVES...] ") + c.usage);
    EXPECT_NE(r.out.find(std::string("\n  ") + c.listed), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  -h,--help"), std::string::npos) << r.out;
    EXPECT_EQ(r.out, CommandHelp(c.command));
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, CommandHelpTest,
    testing::Values(HelpCase{"drives", "drives", "-h,--help"}, HelpCase{"tree", "tree", "-h,--help"},
                    HelpCase{"show", "show NODE [--sector-dump] [--raw-dump] [--page N] [--goto SECTOR]",
                             "--goto SECTOR"},
                    HelpCase{"undelete", "undelete NODE ROW...", "ROW ..."},
                    HelpCase{"rename", "rename NODE ROW NAME [EXT]", "EXT"},
                    HelpCase{"backup", "backup [--floppy N] [--disk N] [--verify] [--overwrite-files]", "--overwrite-files"},
                    HelpCase{"restore",
                             "restore [--floppy N] [--disk N] [--no-partition-table] [--no-boot-records]",
                             "--no-boot-records"},
                    HelpCase{"diskcopy", "diskcopy [--from N] --target IMG [--target IMG ...] [--verify]",
                             "--retry"},
                    HelpCase{"copy-to-floppy", "copy-to-floppy NODE ROW", "ROW"},
                    HelpCase{"search",
                             "search NODE (--hex BYTES | --text STRING) [--start SECTOR] [--progress]",
                             "--start SECTOR"},
                    HelpCase{"deleted", "deleted VOLUME", "VOLUME"},
                    HelpCase{"extract", "extract NODE [ROW...] --to DIR [--skip-allocated]", "--to DIR"},
                    HelpCase{"scan", "scan", "--thorough"}, HelpCase{"undo", "undo FILE [--dry-run]", "--dry-run"}),
    [](const testing::TestParamInfo<HelpCase>& info) {
      std::string name = info.param.command;
      std::erase(name, '-');
      return name;
    });

struct UsageCase {
  const char* name;
  std::vector<std::string> args;  // after the drive
  const char* message;
};

std::ostream& operator<<(std::ostream& os, const UsageCase& c) { return os << c.name; }

class UsageErrorTest : public testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrorTest, RefusedWithTheReasonAndStatus2) {
  const UsageCase& c = GetParam();
  TempDir dir;
  // Any file with bytes in it opens as a drive; a usage error reads none.
  ASSERT_TRUE(WriteFileBytes(dir.File("disk.img"), std::vector<uint8_t>(512 * 64, 0)));
  std::vector<std::string> args = {"--disk", dir.File("disk.img")};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const CliRun r = Cli(args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "gleaner-cli: " + std::string(c.message) + "\n" + CliUsage());
}

const std::string kNode = "Hard Disk 1/Root Directory";

INSTANTIATE_TEST_SUITE_P(
    BadCommandLines, UsageErrorTest,
    testing::Values(
        UsageCase{"PageWithoutValue", {"show", kNode, "--page"}, "--page needs a count"},
        UsageCase{"PageOver32Bits", {"show", kNode, "--page", "4294967296"}, "--page needs a count"},
        UsageCase{"GotoHex", {"show", kNode, "--goto", "1F"}, "--goto needs a sector number"},
        UsageCase{"SecondNode", {"show", kNode, "other"}, "unexpected argument other"},
        UsageCase{"TreeArgument", {"tree", "--raw-dump"}, "unexpected argument --raw-dump"},
        UsageCase{"RowNotANumber", {"undelete", kNode, "1", "x"}, "ROW must be a row number from 1: x"},
        UsageCase{"RowLeadingZero", {"undelete", kNode, "01"}, "ROW must be a row number from 1: 01"},
        UsageCase{"RenameTooMany", {"rename", kNode, "1", "A", "B", "C"}, "rename needs NODE ROW NAME [EXT]"},
        UsageCase{"RenameNameLength", {"rename", kNode, "1", "ÄÖÜÄÖÜÄÖÜ"}, "NAME has more than 8 characters"},
        UsageCase{"CopyTwoRows", {"copy-to-floppy", kNode, "1", "2"}, "copy-to-floppy needs NODE and one ROW"},
        UsageCase{"CopyNoRow", {"copy-to-floppy", kNode}, "copy-to-floppy needs NODE and one ROW"},
        UsageCase{"BackupDiskWithoutValue", {"backup", "--disk"}, "--disk needs a drive number from 1"},
        UsageCase{"BackupFloppyZero", {"backup", "--floppy", "000"}, "--floppy needs a drive number from 1"},
        UsageCase{"TargetWithoutValue", {"diskcopy", "--target"}, "--target needs a file"},
        UsageCase{"TargetEmpty", {"diskcopy", "--target", ""}, "--target needs a file"},
        UsageCase{"TargetTakesOneFile", {"diskcopy", "--target", "a.img", "b.img"}, "unexpected argument b.img"},
        UsageCase{"HexWithoutValue", {"search", kNode, "--hex"}, "--hex needs a value"},
        UsageCase{"TextTwice", {"search", kNode, "--text", "a", "--text", "b"}, "give one of --hex and --text"},
        UsageCase{"StartTooLong", {"search", kNode, "--text", "a", "--start", "12345678901"},
                  "--start needs a sector number"},
        UsageCase{"DeletedTwoVolumes", {"deleted", kNode, kNode}, "deleted needs VOLUME"},
        UsageCase{"ToWithoutValue", {"extract", kNode, "--to"}, "--to needs a folder"},
        UsageCase{"ExtractUnknownOption", {"extract", kNode, "--bogus", "--to", "out"},
                  "ROW must be a row number from 1: --bogus"},
        UsageCase{"RescueWithoutTo", {"rescue", kNode}, "rescue needs --to DIR"},
        UsageCase{"RescueToWithoutValue", {"rescue", kNode, "--to"}, "--to needs a folder"},
        UsageCase{"ScanLeadingZero", {"scan", "01"}, "unexpected argument 01"},
        UsageCase{"ScanTwoVolumes", {"scan", "1", "2"}, "unexpected argument 2"},
        UsageCase{"ScanThoroughWithoutVolume", {"scan", "--thorough"}, "scan needs a volume number"},
        UsageCase{"UndoUnknownOption", {"undo", "a.undo", "--force"}, "unexpected argument --force"},
        UsageCase{"OptionBeforeCommand", {"--bogus", "tree"}, "unknown command --bogus"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

}  // namespace

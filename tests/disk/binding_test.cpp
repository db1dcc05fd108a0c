// The start-up binding: loading libsect32.so and its entry points, the
// drive map handed to it, the direct path, and the program folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "disk/disk_access.h"
#include "fixtures/scripted_prompt.h"
#include "disk/sector_access.h"
#include "fixtures/image_builder.h"

namespace {

std::string BrokenLibFolder(const std::string& missing) { return GLEANER_TEST_LIB_DIR + missing + "/"; }

TEST(Binding, MissingLibraryOrEntryPointIsReportedAndLeavesTheDrivesUnready) {
  TempDir dir;
  FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::pair<std::string, std::string> cases[] = {
      {dir.Path() + "/", "libsect32.so not found"},
      {BrokenLibFolder("ReadSect32"), "ReadSect32 Function not accessible!"},
      {BrokenLibFolder("WriteSect32"), "WriteSect32 Function not accessible!"},
      {BrokenLibFolder("ReadSect64"), "ReadSect64 Function not accessible!"},
      {BrokenLibFolder("WriteSect64"), "WriteSect64 Function not accessible!"},
      {BrokenLibFolder("CheckInt13Extension32"), "DllCheckInt13Extension Function not accessible!"},
  };
  for (const auto& [folder, message] : cases) {
    SCOPED_TRACE(folder);
    ScriptedPrompt prompt;
    DiskAccess access(prompt);
    BindOptions o;
    o.programFolder = folder;
    o.drives.floppies = {floppy.image};
    EXPECT_FALSE(BindDiskAccess(access, o));
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{message});
    EXPECT_FALSE(access.DrivesReady());
    EXPECT_EQ(access.FloppyCount(), 0u);
    EXPECT_EQ(access.Library(), nullptr);
    EXPECT_EQ(access.ProgramFolder(), folder);
    // Whatever still asks for sectors gets a plain failure.
    DrivePacket p;
    p.sector = 1;
    p.sectorCount = 1;
    std::vector<uint8_t> buf(512);
    EXPECT_FALSE(ReadSectors(access, p, buf.data()));
    EXPECT_FALSE(WriteSectors(access, p, buf.data()));
    EXPECT_FALSE(access.HardDiskExists(0x80));
    EXPECT_EQ(access.Int13Extensions(0x80), 0u);
  }
}

TEST(Binding, DriveMapThatCannotBeOpenedStillLetsTheDrivesBeListed) {
  TempDir dir;
  FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  // A library without the drive-map entry point.
  ScriptedPrompt prompt;
  DiskAccess access(prompt);
  BindOptions o;
  o.programFolder = BrokenLibFolder("Sect32OpenDrives");
  o.drives.floppies = {floppy.image};
  EXPECT_TRUE(BindDiskAccess(access, o));
  EXPECT_EQ(prompt.Messages(), std::vector<std::string>{"Unable to open libsect32.so drive map"});
  EXPECT_TRUE(access.DrivesReady());
  EXPECT_EQ(access.FloppyCount(), 0u);
  EXPECT_NE(access.Library(), nullptr);
  EXPECT_TRUE(access.Capabilities().biosTransfers);
}

TEST(Binding, ADriveThatCannotBeOpenedIsNamedAndTheOthersAreBound) {
  TempDir dir;
  FatVolume a = MakeFloppy1440(dir.File("a.img"));
  FatVolume b = MakeFloppy1440(dir.File("b.img"));
  FatVolume hd = MakeFatImage(dir.File("hd.img"), 16, 40960);
  ASSERT_TRUE(WriteFileBytes(dir.File("empty.img"), {}));
  const std::string missing = dir.File("nope.img");
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    ScriptedPrompt prompt;
    DiskAccess access(prompt);
    BindOptions o;
    o.programFolder = GLEANER_BIN_DIR "/";
    o.drives.direct = direct;
    o.drives.floppies = {a.image, missing, b.image};
    o.drives.disks = {dir.Path(), dir.File("empty.img"), hd.image};
    EXPECT_TRUE(BindDiskAccess(access, o));
    EXPECT_EQ(prompt.Messages(),
              (std::vector<std::string>{
                  "Cannot open " + missing + ": No such file or directory",
                  "Cannot open " + dir.Path() + ": Is a directory",
                  "Cannot open " + dir.File("empty.img") + ": it holds no whole sector"}));
    EXPECT_TRUE(access.DrivesReady());
    // The two floppies and the one hard disk that open are the drives.
    EXPECT_EQ(access.FloppyCount(), 2u);
    EXPECT_TRUE(access.HardDiskExists(0x80));
    EXPECT_FALSE(access.HardDiskExists(0x81));
    DrivePacket p;
    p.drive = 1;
    p.sector = 1;
    p.sectorCount = 1;
    std::vector<uint8_t> sector(512);
    EXPECT_TRUE(ReadSectors(access, p, sector.data()));
    std::vector<uint8_t> want = ReadFileBytes(b.image);
    want.resize(512);
    EXPECT_EQ(sector, want);
  }
  EXPECT_EQ(DriveOpenProblem(a.image), "");
}

TEST(Binding, RealLibraryAndDirectPathCountTheDrives) {
  TempDir dir;
  FatVolume a = MakeFloppy1440(dir.File("a.img"));
  FatVolume b = MakeFloppy1440(dir.File("b.img"));
  FatVolume hd = MakeFatImage(dir.File("hd.img"), 16, 40960);
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    ScriptedPrompt prompt;
    DiskAccess access(prompt);
    BindOptions o;
    // The direct path needs no library: a folder without one must not matter.
    o.programFolder = direct ? dir.Path() + "/" : GLEANER_BIN_DIR "/";
    o.drives.floppies = {a.image, b.image};
    o.drives.disks = {hd.image};
    o.drives.direct = direct;
    EXPECT_TRUE(BindDiskAccess(access, o));
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{});
    EXPECT_TRUE(access.DrivesReady());
    EXPECT_EQ(access.FloppyCount(), 2u);
    EXPECT_EQ(access.Capabilities().biosTransfers, !direct);
    EXPECT_EQ(access.Library() != nullptr, !direct);
    EXPECT_TRUE(access.HardDiskExists(0x80));
    EXPECT_FALSE(access.HardDiskExists(0x81));
    EXPECT_EQ(access.Int13Extensions(0x80), direct ? 0u : 1u);
    EXPECT_EQ(access.Int13Extensions(0), 0u);
    access.Release();
    EXPECT_FALSE(access.DrivesReady());
    EXPECT_EQ(access.Library(), nullptr);
    EXPECT_FALSE(access.DriveOpen(0x80));
  }
}

TEST(Binding, EmptyProgramFolderMeansTheCurrentFolder) {
  // Not a library dlopen would find on the system's search path.
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(GLEANER_BIN_DIR);
  ScriptedPrompt prompt;
  DiskAccess access(prompt);
  BindOptions o;
  EXPECT_TRUE(BindDiskAccess(access, o));
  EXPECT_EQ(prompt.Messages(), std::vector<std::string>{});
  EXPECT_NE(access.Library(), nullptr);
  access.Release();
  std::filesystem::current_path(here);
}

TEST(Binding, ProgramFolderFromCommandLine) {
  EXPECT_EQ(ProgramFolderFromCommandLine("\"/opt/gleaner/gleaner\""), "/opt/gleaner/");
  EXPECT_EQ(ProgramFolderFromCommandLine("\"/opt/my apps/gleaner\" --disk /tmp/disk.img"), "/opt/my apps/");
  EXPECT_EQ(ProgramFolderFromCommandLine("\"gleaner\" --disk /tmp/disk.img"), "");
  EXPECT_EQ(ProgramFolderFromCommandLine("\"/opt/gleaner/gleaner"), "/opt/gleaner/");
  EXPECT_EQ(ProgramFolderFromCommandLine("/usr/local/bin/gleaner"), "/usr/local/bin/");
  EXPECT_EQ(ProgramFolderFromCommandLine("/gleaner"), "/");
  EXPECT_EQ(ProgramFolderFromCommandLine("gleaner"), "");
  EXPECT_EQ(ProgramFolderFromCommandLine(""), "");
  // The test program lives beside libsect32.so.
  EXPECT_EQ(std::filesystem::canonical(RunningProgramFolder(nullptr)),
            std::filesystem::canonical(GLEANER_BIN_DIR));
}

}  // namespace

// --mapfile: GNU ddrescue mapfiles as ddrescue writes them, the errors that
// name a bad one's file and line, and sectors outside its finished blocks
// failing on both transfer paths like those of the dying disk.
#include "disk/rescue_map.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/cli_app.h"
#include "disk/drive_map.h"
#include "fixtures/scripted_prompt.h"
#include "disk/sector_access.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"
#include "fixtures/rescue_mapfile.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Blocks(const RescueMap& m) {
  std::string s;
  for (const auto& b : m.blocks)
    s += std::to_string(b.pos) + "+" + std::to_string(b.size) + b.status + " ";
  return s;
}

TEST(RescueMap, ReadsWhatDdrescueWrites) {
  TempDir dir;
  // ddrescue run twice over parts of a 1 MiB file leaves untried ('?') areas
  // around and between what it copied.
  const std::string in = dir.File("in.img"), out = dir.File("out.img"), map = dir.File("out.map");
  ASSERT_TRUE(MustRun("head -c 1048576 /dev/zero > " + ShellQuote(in)));
  ASSERT_TRUE(MustRun("ddrescue -q -i 0 -s 20480 " + ShellQuote(in) + " " + ShellQuote(out) + " " +
                      ShellQuote(map)));
  ASSERT_TRUE(MustRun("ddrescue -q -i 65536 -s 4096 " + ShellQuote(in) + " " + ShellQuote(out) + " " +
                      ShellQuote(map)));
  RescueMapLoad load = LoadRescueMap(map);
  ASSERT_TRUE(load.map) << load.error;
  EXPECT_EQ(Blocks(*load.map), "0+20480+ 20480+45056? 65536+4096+ 69632+978944? ");
  EXPECT_EQ(load.map->currentPos, 65536u);
  EXPECT_EQ(load.map->FinishedRun(0, 512), 512u);
  EXPECT_EQ(load.map->FinishedRun(19968, 1024), 512u);  // stops where '?' begins
  EXPECT_EQ(load.map->FinishedRun(20480, 512), 0u);
  EXPECT_EQ(load.map->FinishedRun(65536, 8192), 4096u);
  EXPECT_EQ(load.map->FinishedRun(2000000, 512), 0u);  // past the map: untried

  // By hand: decimal, octal and hex as C reads them, CRLF line ends, comments
  // and blank lines anywhere, no pass on the position line, ddrescue's empty
  // "0 0 ?" block, and a gap the map leaves (untried).
  const std::string hand = dir.File("hand.map");
  WriteText(hand,
            "# made by hand\r\n"
            "\r\n"
            "0  +\r\n"
            "0 0 ?\n"
            "0 1024 +\n"
            "  # a comment among the blocks\n"
            "02000\t0x200 -\n"
            "1536 512 +\n"
            "4096 0X400 +\n");
  load = LoadRescueMap(hand);
  ASSERT_TRUE(load.map) << load.error;
  EXPECT_EQ(Blocks(*load.map), "0+1024+ 1024+512- 1536+512+ 4096+1024+ ");
  EXPECT_EQ(load.map->FinishedRun(0, 4096), 1024u);
  EXPECT_EQ(load.map->FinishedRun(1536, 4096), 512u);  // the gap at 2048
  EXPECT_EQ(load.map->FinishedRun(4096, 4096), 1024u);
}

TEST(RescueMap, ABadMapfileNamesItsFileAndLine) {
  TempDir dir;
  struct Case {
    std::string text, error;
  };
  const std::vector<Case> cases = {
      {"# only comments\n\n",
       ": not a ddrescue mapfile: no current position line"},
      {"# x\n0x0 + 1\n0x0 0x200 +\n0x200 0x200 x\n",
       ":4: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+"},
      {"0 +\n0 512 +\n512 -5 +\n",
       ":3: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+"},
      {"0 +\n0 512 + extra\n",
       ":2: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+"},
      {"0 +\n0 09 +\n",  // 09 is no octal number
       ":2: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+"},
      {"0 +\n0 0x1000 +\n0x800 0x200 -\n",
       ":3: block overlaps or comes before the block above it"},
      {"0 +\n0xFFFFFFFFFFFFFF00 0x200 +\n",
       ":2: block reaches past the largest position"},
      {"0 +\n0 0x10000000000000000 +\n",
       ":2: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+"},
      {"\n0 0x200 +\n",
       ":2: not a ddrescue mapfile: expected the current position line \"POS STATUS [PASS]\""},
      {std::string("0 +\n0 0x200\0 +\n", 15),
       ":2: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+"},
      {"0 +\n" + std::string(3000, '0') + " 0x200 +\n", ":2: line too long for a ddrescue mapfile"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string path = dir.File("bad" + std::to_string(i) + ".map");
    WriteText(path, cases[i].text);
    const RescueMapLoad load = LoadRescueMap(path);
    EXPECT_FALSE(load.map) << i;
    EXPECT_EQ(load.error, path + cases[i].error) << i;
  }
  // An image named by mistake: refused at its first long line, not read whole.
  const std::string image = dir.File("image.img");
  ASSERT_TRUE(MustRun("head -c 8388608 /dev/zero > " + ShellQuote(image)));
  EXPECT_EQ(LoadRescueMap(image).error, image + ":1: line too long for a ddrescue mapfile");
  EXPECT_EQ(LoadRescueMap(dir.File("none.map")).error,
            "cannot read mapfile " + dir.File("none.map") + ": No such file or directory");
  EXPECT_EQ(LoadRescueMap(dir.Path()).error, "cannot read mapfile " + dir.Path() + ": Is a directory");
}

TEST(RescueMap, DriveArgumentsTakeAMapfileAfterItsDrive) {
  TempDir dir;
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  const std::string hd = dir.File("hd.img");
  ASSERT_TRUE(MustRun("head -c 10485760 /dev/zero > " + ShellQuote(hd)));
  const std::string good = dir.File("good.map"), bad = dir.File("bad.map");
  ASSERT_TRUE(WriteRescueMapfile(good, 1474560, {{40, 2}}));
  WriteText(bad, "0 +\n0 0x200 *\nnonsense\n");
  RescueMapLoad helper = LoadRescueMap(good);
  ASSERT_TRUE(helper.map) << helper.error;
  EXPECT_EQ(Blocks(*helper.map), "0+20480+ 20480+1024- 21504+1453056+ ");
  ASSERT_TRUE(WriteRescueMapfile(dir.File("h2.map"), 8192, {{15, 9}, {2, 1}, {3, 2}}, '?'));
  helper = LoadRescueMap(dir.File("h2.map"));
  ASSERT_TRUE(helper.map) << helper.error;
  EXPECT_EQ(Blocks(*helper.map), "0+1024+ 1024+512? 1536+1024? 2560+5120+ 7680+512? ");

  DriveArgsResult r = ParseDriveArgs({"--disk", hd, fd.image, "--mapfile", good, "--floppy", fd.image,
                                      "--disk", hd, "--mapfile", good, "drives"});
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.config.mapfiles, (std::map<uint16_t, std::string>{{0x00, good}, {0x81, good}}));
  EXPECT_EQ(r.rest, std::vector<std::string>{"drives"});
  // The library gets the mapfiles with the drives.
  DriveMapConfig back;
  ASSERT_TRUE(DriveMapConfig::Deserialize(r.config.Serialize(), back));
  EXPECT_EQ(back.mapfiles, r.config.mapfiles);

  EXPECT_EQ(ParseDriveArgs({"--mapfile", good, hd}).error,
            "--mapfile " + good + " must follow the drive it belongs to");
  EXPECT_EQ(ParseDriveArgs({"--read-only", "--mapfile", good}).error,
            "--mapfile " + good + " must follow the drive it belongs to");
  EXPECT_EQ(ParseDriveArgs({hd, "--mapfile", good, "--mapfile", good}).error,
            "--mapfile " + good + ": the drive before it has a mapfile already");
  EXPECT_EQ(ParseDriveArgs({hd, "--mapfile"}).error, "--mapfile needs a file");
  EXPECT_EQ(ParseDriveArgs({hd, "--mapfile", bad}).error,
            bad + ":3: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+");

  // gleaner-cli: a usage error (2) before any drive is opened; the image
  // stays as it was.
  const std::vector<uint8_t> before = ReadFileBytes(fd.image);
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({fd.image, "--mapfile", bad, "undelete", "Floppy Disk 1/Root Directory", "1"},
                   GLEANER_BIN_DIR "/", out, err),
            2);
  EXPECT_EQ(err.str().substr(0, err.str().find('\n')),
            "gleaner-cli: " + bad + ":3: expected a block line \"POS SIZE STATUS\" with STATUS one of ?*/-+");
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(ReadFileBytes(fd.image), before);
}

TEST(RescueMap, UnrescuedSectorsFailToReadAndWriteOnBothPaths) {
  TempDir dir;
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  const std::string map = dir.File("fd.map");
  // Sectors 40-41 bad; sector 100 rescued only in its first half; nothing
  // past sector 2000 tried at all.
  {
    std::ofstream out(map);
    out << "# Mapfile. Created by GNU ddrescue version 1.27\n"
           "0x00000000     ?               1\n"
           "#      pos        size  status\n"
           "0x00000000  0x00005000  +\n"   // sectors 0-39
           "0x00005000  0x00000400  -\n"   // 40-41
           "0x00005400  0x00007500  +\n"   // 42 .. 100's first half
           "0x0000C900  0x00000100  /\n"   // 100's second half
           "0x0000CA00  0x000ED600  +\n";  // 101-1999
  }
  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct" : "library");
    const std::string image = dir.File(direct ? "d.img" : "l.img");
    ASSERT_TRUE(MustRun("cp " + ShellQuote(fd.image) + " " + ShellQuote(image)));
    std::vector<uint8_t> expected = ReadFileBytes(image);
    DriveArgsResult args = ParseDriveArgs({"--floppy", image, "--mapfile", map});
    ASSERT_EQ(args.error, "");
    TestDrives drives(direct ? TestDrives::Direct : TestDrives::Library);
    ASSERT_TRUE(drives.BindAsProgram(args.config));
    ScriptedPrompt& prompt = drives.prompt;
    DiskAccess& access = drives.access;
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{});
    // The boot sector reads, so the floppy has its 1.44 MB geometry.
    DrivePacket p;
    p.drive = 0;
    p.sector = 1;
    p.heads = 2;
    p.sectorsPerTrack = 18;
    auto at = [&](uint32_t first, uint32_t count) {
      DrivePacket q = p;
      q.startSector = first;
      q.sectorCount = count;
      return q;
    };

    std::vector<uint8_t> buf(12 * 512);
    EXPECT_FALSE(ReadSectors(access, at(35, 12), buf.data()));
    for (uint32_t s = 35; s < 47; ++s) {
      const bool bad = s == 40 || s == 41;
      const auto got = std::vector<uint8_t>(buf.begin() + (s - 35) * 512, buf.begin() + (s - 34) * 512);
      const auto want = bad ? std::vector<uint8_t>(512, 0xE5)
                            : std::vector<uint8_t>(expected.begin() + s * 512, expected.begin() + (s + 1) * 512);
      EXPECT_EQ(got, want) << s;
    }
    EXPECT_TRUE(ReadSectors(access, at(42, 58), std::vector<uint8_t>(58 * 512).data()));
    EXPECT_FALSE(ReadSectors(access, at(100, 1), buf.data()));
    EXPECT_TRUE(ReadSectors(access, at(101, 1), buf.data()));
    EXPECT_FALSE(ReadSectors(access, at(2000, 1), buf.data()));
    EXPECT_TRUE(ReadSectors(access, at(1999, 1), buf.data()));

    // Writes: the sound sectors take their bytes, the bad ones keep theirs.
    std::vector<uint8_t> data(12 * 512);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    EXPECT_FALSE(WriteSectors(access, at(35, 12), data.data()));
    for (uint32_t s = 35; s < 47; ++s)
      if (s != 40 && s != 41)
        std::copy(data.begin() + (s - 35) * 512, data.begin() + (s - 34) * 512, expected.begin() + s * 512);
    EXPECT_FALSE(WriteSectors(access, at(100, 1), data.data()));
    EXPECT_FALSE(WriteSectors(access, at(2500, 1), data.data()));
    access.Release();
    EXPECT_EQ(ReadFileBytes(image), expected);
  }
}

}  // namespace

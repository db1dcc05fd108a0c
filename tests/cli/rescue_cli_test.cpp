// gleaner-cli rescue over volumes that were filled and then quick-formatted
// by mkfs.fat (a floppy, MBR partitions of all three widths): every file a
// lost folder still names comes back byte for byte under its rebuilt path,
// every carved-format file the root held comes back from its first cluster,
// random data is not claimed, the source image keeps its bytes with and
// without --read-only, and unreadable sectors (a ddrescue mapfile) mark
// their files and are counted.
#include <gtest/gtest.h>

#include <dirent.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "fixtures/cli_run.h"
#include "fixtures/deleted_scene.h"
#include "fixtures/image_builder.h"
#include "fixtures/rescue_mapfile.h"
#include "fixtures/rescue_scene.h"
#include "recovery/lost_folders.h"
#include "recovery/rescue.h"

namespace {

struct RescueRow {
  const char* name;
  int fatBits;
  uint32_t sectors;
  const char* mkfs;
  const char* partitionType;  // nullptr: the volume is a floppy image
  bool readOnly;              // --read-only given
  bool carve;
  bool holes;                 // a sector of the PNG and of a lost file unreadable
  bool folderHole = false;    // the sector of Letters' entries unreadable
};

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    ::closedir(d);
  }
  return names;
}

std::string CarvedName(uint32_t cluster, const std::string& extension) {
  char name[32];
  std::snprintf(name, sizeof name, "c%07u.", cluster);
  return name + extension;
}

class RescueCli : public testing::TestWithParam<RescueRow> {};

TEST_P(RescueCli, GivesBackLostFoldersAndCarvedFilesWithoutWriting) {
  const RescueRow& row = GetParam();
  TempDir dir;
  const FatVolume v = MakeFatImage(dir.File("volume.img"), row.fatBits, row.sectors, row.mkfs);
  // Two nested lost folders with long names, one of them deleted before the
  // format; carved formats and random data in the root, whose entries the
  // format takes.
  ASSERT_TRUE(v.MakeDir("::/DCIM"));
  ASSERT_TRUE(v.MakeDir("::/DCIM/100CAMERA"));
  ASSERT_TRUE(v.MakeDir("::/Documents"));
  ASSERT_TRUE(v.MakeDir("::/Documents/Letters"));
  ASSERT_TRUE(v.Copy(CarveSamples() + "/photo.jpg", "::/DCIM/100CAMERA/Holiday photo.jpg"));
  const std::vector<uint8_t> letter = SceneBytes(5000, 7);
  ASSERT_TRUE(v.PutFile("::/Documents/Letters/A long letter name.txt", letter));
  ASSERT_TRUE(v.PutFile("::/Documents/SHORT.TXT", SceneBytes(20, 8)));
  ASSERT_TRUE(v.PutFile("::/Documents/gone.txt", SceneBytes(700, 9)));
  std::mt19937 rng(25);
  std::vector<uint8_t> random(60000);
  for (uint8_t& b : random) b = static_cast<uint8_t>(rng());
  ASSERT_TRUE(v.PutFile("::/RANDOM.BIN", random));
  const std::vector<std::pair<std::string, std::string>> carved = {
      {"picture.png", "png"}, {"document.pdf", "pdf"}, {"archive.zip", "zip"}};
  for (const auto& [file, ext] : carved) ASSERT_TRUE(v.Copy(CarveSamples() + "/" + file, "::/" + file));
  // Deleted last, so that no later file takes its clusters.
  ASSERT_TRUE(v.Delete("::/Documents/gone.txt"));
  std::map<std::string, uint32_t> first;
  for (const char* p : {"DCIM", "Documents", "RANDOM.BIN", "picture.png", "document.pdf",
                        "archive.zip", "Documents/Letters/A long letter name.txt"})
    first[p] = v.FirstCluster(std::string("::/") + p);
  const std::vector<uint32_t> randomChain = v.Clusters("::/RANDOM.BIN");
  const uint32_t letters = v.FirstCluster("::/Documents/Letters");
  ASSERT_TRUE(v.QuickFormat(row.fatBits, row.mkfs));
  const FormattedImage f = ReadFormatted(v);

  // The source: the volume itself, or a disk with it as its one partition.
  std::string image = v.image;
  uint64_t volumeStart = 0;
  std::string volumeNode = "Floppy Disk 1";
  if (row.partitionType) {
    volumeStart = 2048;
    image = dir.File("disk.img");
    ASSERT_TRUE(PartitionImage(image, static_cast<uint32_t>(volumeStart) + row.sectors + 2048,
                               "start=2048, size=" + std::to_string(row.sectors) +
                                   ", type=" + row.partitionType + "\n"));
    std::vector<uint8_t> disk = ReadFileBytes(image);
    std::copy(f.image.begin(), f.image.end(), disk.begin() + static_cast<ptrdiff_t>(volumeStart * 512));
    ASSERT_TRUE(WriteFileBytes(image, disk));
    volumeNode = std::string("Hard Disk 1/") + (row.fatBits == 16 ? "16-Bit" : "32-Bit") + " FAT Disk";
  }
  std::vector<std::string> args;
  if (row.readOnly) args.push_back("--read-only");
  args.push_back(image);
  std::vector<SectorRange> bad;
  if (row.holes) {
    // The PNG's second cluster's first sector, and the letter's second sector.
    bad.push_back({volumeStart + f.ClusterOffset(first["picture.png"] + 1) / 512, 1});
    bad.push_back({volumeStart + f.ClusterOffset(first["Documents/Letters/A long letter name.txt"]) / 512 + 1, 1});
  }
  if (row.folderHole) bad.push_back({volumeStart + f.ClusterOffset(letters) / 512, 1});
  if (!bad.empty()) {
    ASSERT_TRUE(WriteRescueMapfile(dir.File("disk.map"), ReadFileBytes(image).size(), bad));
    args.insert(args.end(), {"--mapfile", dir.File("disk.map")});
  }
  const std::vector<uint8_t> before = ReadFileBytes(image);
  const std::string out = dir.File("rescued");  // made by rescue
  args.insert(args.end(), {"rescue", volumeNode, "--to", out});
  if (!row.carve) args.push_back("--no-carve");
  const CliRun r = Cli(args);

  EXPECT_EQ(ReadFileBytes(image), before) << "the source was written";
  EXPECT_EQ(r.status, bad.empty() ? 0 : 1) << r.err;

  // The lost folders' files, under the top folders named by their clusters.
  const std::string lost = out + "/" + kLostFoldersLabel + "/";
  const std::string dcim = lost + LostFolderFallbackName(first["DCIM"]);
  const std::string docs = lost + LostFolderFallbackName(first["Documents"]);
  EXPECT_EQ(FilesIn(lost), (std::set<std::string>{LostFolderFallbackName(first["DCIM"]),
                                                  LostFolderFallbackName(first["Documents"])}));
  EXPECT_EQ(ReadFileBytes(dcim + "/100CAMERA/Holiday photo.jpg"), ReadFileBytes(CarveSamples() + "/photo.jpg"));
  EXPECT_EQ(ReadFileBytes(docs + "/SHORT.TXT"), SceneBytes(20, 8));
  EXPECT_EQ(ReadFileBytes(docs + "/_one.txt"), SceneBytes(700, 9));  // deleted before the format
  const std::string letterPath = docs + "/Letters/A long letter name.txt";
  const std::vector<uint8_t> letterBack = ReadFileBytes(letterPath);
  if (row.folderHole) {
    // Its entry was in the sector that cannot be read: the rest of the
    // folders came back, and the sector is counted.
    EXPECT_TRUE(letterBack.empty());
    EXPECT_EQ(FilesIn(docs + "/Letters"), std::set<std::string>{});
  } else if (row.holes) {
    ASSERT_EQ(letterBack.size(), letter.size());
    // All but the unreadable sector came back.
    EXPECT_TRUE(std::equal(letter.begin() + 1024, letter.end(), letterBack.begin() + 1024));
    EXPECT_TRUE(std::equal(letter.begin(), letter.begin() + 512, letterBack.begin()));
    EXPECT_NE(r.out.find(letterPath + "\tlost folder\t5000\tintact, 512 bytes unreadable\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.err.find(letterPath + ": bytes 512-1023 unreadable\n"), std::string::npos) << r.err;
  } else {
    EXPECT_EQ(letterBack, letter);
    EXPECT_NE(r.out.find(letterPath + "\tlost folder\t5000\tintact\n"), std::string::npos) << r.out;
  }

  // The root's carved-format files from their first clusters; nothing from
  // the random data.
  std::set<std::string> expectCarved;
  if (row.carve)
    for (const auto& [file, ext] : carved) expectCarved.insert(CarvedName(first[file], ext));
  const std::set<std::string> gotCarved = FilesIn(out + "/" + kCarvedLabel);
  EXPECT_EQ(gotCarved, expectCarved);
  for (const auto& [file, ext] : carved) {
    if (!row.carve) break;
    const std::string path = out + "/" + kCarvedLabel + "/" + CarvedName(first[file], ext);
    const std::vector<uint8_t> sample = ReadFileBytes(CarveSamples() + "/" + file);
    const std::vector<uint8_t> back = ReadFileBytes(path);
    const bool hole = row.holes && file == "picture.png";
    if (!hole) {
      EXPECT_EQ(back, sample) << file;
      EXPECT_NE(r.out.find(path + "\tcarved\t" + std::to_string(sample.size()) + "\tend found\n"),
                std::string::npos) << r.out;
      continue;
    }
    ASSERT_EQ(back.size(), sample.size());
    const size_t cb = f.geometry.clusterBytes;
    EXPECT_TRUE(std::equal(sample.begin(), sample.begin() + cb, back.begin()));
    EXPECT_TRUE(std::equal(sample.begin() + cb + 512, sample.end(), back.begin() + cb + 512));
    EXPECT_NE(r.out.find(path + "\tcarved\t" + std::to_string(sample.size()) +
                         "\tend found, 512 bytes unreadable\n"),
              std::string::npos) << r.out;
  }
  for (uint32_t c : randomChain)
    for (const std::string& name : gotCarved) EXPECT_NE(name.substr(0, 8), CarvedName(c, "").substr(0, 8));

  // Nothing of the root was left to undelete; the summary counts the rest.
  const int lostFiles = row.folderHole ? 3 : 4;
  const std::string summary = std::to_string(lostFiles + expectCarved.size()) + " files rescued to " + out +
                              ": 0 deleted, " + std::to_string(lostFiles) + " from lost folders, " +
                              std::to_string(expectCarved.size()) + " carved; " +
                              std::to_string(bad.size()) + " unreadable sectors\n";
  EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), summary.size())), summary) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, RescueCli,
    testing::Values(RescueRow{"Fat12Floppy", 12, 2880, "", nullptr, true, true, false},
                    RescueRow{"Fat16Partition", 16, 40960, "-s 4", "6", false, true, false},
                    RescueRow{"Fat32Partition", 32, 140000, "-s 1", "c", true, true, false},
                    RescueRow{"Fat32WithoutCarving", 32, 140000, "-s 2", "c", false, false, false},
                    RescueRow{"UnreadableSectors", 16, 40960, "-s 4", "6", false, true, true},
                    RescueRow{"UnreadableFolderSector", 16, 40960, "-s 4", "6", true, false, false, true}),
    [](const testing::TestParamInfo<RescueRow>& i) { return std::string(i.param.name); });

}  // namespace

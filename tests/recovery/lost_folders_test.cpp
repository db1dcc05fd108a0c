// Lost folders over quick-formatted FAT12, FAT16 and FAT32 volumes made by
// mtools: nested folders, long names, a folder of many clusters, deleted
// files and a deleted folder inside the lost ones. What The Sleuth Kit's fls
// names on the volume before the format, below its top folders, must come
// back with the same paths (the top folder named by its cluster), and every
// intact file with the bytes tsk_recover gets. Decoy volumes (random data,
// text full of dots, a JPEG) must give no folder at all; a ring of ".."
// entries and an unreadable sector inside a folder must be survived.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "disk/dir_entry.h"
#include "fixtures/deleted_scene.h"
#include "fixtures/image_builder.h"
#include "fixtures/rescue_scene.h"
#include "recovery/lost_folders.h"

namespace {

enum class Scene { Nested, DecoyRandom, DecoyDots, DecoyJpeg, Ring, Hole };

struct LostRow {
  const char* name;
  int fatBits;
  uint32_t sectors;
  const char* mkfs;
  Scene scene;
};

// The top folders of the nested scene.
const std::vector<std::string> kTops = {"DCIM", "Documents", "Music Collection"};

void FillNested(const FatVolume& v) {
  for (const char* d : {"::/DCIM", "::/DCIM/100CAMERA", "::/Documents", "::/Documents/Letters",
                        "::/Documents/Old", "::/Documents/Deep", "::/Documents/Deep/Deeper",
                        "::/Music Collection", "::/Music Collection/An Album With A Long Name"})
    ASSERT_TRUE(v.MakeDir(d));
  // Forty long names: three entries each, a folder of several clusters.
  for (int i = 1; i <= 40; ++i)
    ASSERT_TRUE(v.PutFile("::/DCIM/100CAMERA/Holiday picture number " + std::to_string(i) + ".jpg",
                          SceneBytes(700 + 37 * i, static_cast<uint8_t>(i))));
  ASSERT_TRUE(v.PutFile("::/Documents/Letters/A long letter name.txt", SceneBytes(1500, 50)));
  ASSERT_TRUE(v.PutFile("::/Documents/Letters/SHORT.TXT", SceneBytes(20, 51)));
  ASSERT_TRUE(v.PutFile("::/Documents/Old/OLDFILE.TXT", SceneBytes(900, 52)));
  ASSERT_TRUE(v.PutFile("::/Documents/gone.txt", SceneBytes(600, 53)));
  ASSERT_TRUE(v.PutFile("::/Documents/Deep/Deeper/Deepest note.txt", SceneBytes(3000, 54)));
  ASSERT_TRUE(v.PutFile("::/Music Collection/An Album With A Long Name/track 01 - intro.mp3",
                        SceneBytes(5000, 55)));
  ASSERT_TRUE(v.PutFile("::/ROOT.TXT", SceneBytes(300, 56)));
  ASSERT_TRUE(v.Delete("::/Documents/gone.txt"));
  ASSERT_TRUE(v.DeleteTree("::/Documents/Old"));
}

void FillDecoy(const FatVolume& v, Scene scene) {
  switch (scene) {
    case Scene::DecoyRandom: {
      std::mt19937 rng(25);
      std::vector<uint8_t> bytes(200000);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
      ASSERT_TRUE(v.PutFile("::/RANDOM.BIN", bytes));
      break;
    }
    case Scene::DecoyDots: {
      // Dots, blanks and names laid out as entries would be.
      std::string text;
      for (int i = 0; i < 3000; ++i)
        text += i % 3 == 0 ? ".          ..         " : i % 3 == 1 ? ". .. ... .... ..... \n"
                                                                  : "FILE    TXT .......\n";
      ASSERT_TRUE(v.PutFile("::/DOTS.TXT", text));
      break;
    }
    default:
      ASSERT_TRUE(v.Copy(CarveSamples() + "/photo.jpg", "::/PHOTO.JPG"));
      ASSERT_TRUE(v.Copy(CarveSamples() + "/progressive.jpg", "::/PROG.JPG"));
      break;
  }
}

// fls -r -p: "path\t*" for a deleted entry, "path\t" else, for what lies
// below a top folder; the top folder's name becomes "Folder at cluster N".
std::set<std::string> FlsBelowTops(const FatVolume& v) {
  std::string text;
  EXPECT_TRUE(MustRun("fls -r -p " + ShellQuote(v.image), &text));
  std::map<std::string, uint32_t> top;
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const bool deleted = line.find(" * ") != std::string::npos && line.find(" * ") < tab;
    std::string path = line.substr(tab + 1);
    const size_t slash = path.find('/');
    if (slash == std::string::npos) continue;  // the root's own entries went with it
    const std::string head = path.substr(0, slash);
    if (!top.count(head)) top[head] = v.FirstCluster("::/" + head);
    lines.insert("/" + LostFolderFallbackName(top[head]) + path.substr(slash) + "\t" +
                 (deleted ? "*" : ""));
  }
  return lines;
}

std::set<std::string> Found(const LostFolderForest& forest) {
  std::set<std::string> lines;
  for (const LostEntry& e : forest.entries) lines.insert(e.file.path + "\t" + (e.deleted ? "*" : ""));
  return lines;
}

// Points the ".." entry of the folder at `cluster` at `parent`.
void SetDotDot(std::vector<uint8_t>& image, const FormattedImage& f, uint32_t cluster, uint32_t parent) {
  const uint64_t at = f.ClusterOffset(cluster) + kDirEntrySize;
  ASSERT_EQ(image[at], '.');
  ASSERT_EQ(image[at + 1], '.');
  image[at + kDirClusterLow] = static_cast<uint8_t>(parent);
  image[at + kDirClusterLow + 1] = static_cast<uint8_t>(parent >> 8);
  image[at + kDirClusterHigh] = static_cast<uint8_t>(parent >> 16);
  image[at + kDirClusterHigh + 1] = static_cast<uint8_t>(parent >> 24);
}

const LostFolder* FolderAt(const LostFolderForest& forest, uint32_t cluster) {
  for (const LostFolder& f : forest.folders)
    if (f.firstCluster == cluster) return &f;
  return nullptr;
}

class LostFoldersQuickFormatted : public testing::TestWithParam<LostRow> {};

TEST_P(LostFoldersQuickFormatted, NameWhatTheSleuthKitNamesBeforeTheFormat) {
  const LostRow& row = GetParam();
  TempDir dir;
  const FatVolume v = MakeFatImage(dir.File("card.img"), row.fatBits, row.sectors, row.mkfs);
  const bool nested = row.scene == Scene::Nested || row.scene == Scene::Ring || row.scene == Scene::Hole;
  if (nested) FillNested(v);
  else FillDecoy(v, row.scene);
  if (HasFatalFailure()) return;
  const std::set<std::string> expected = FlsBelowTops(v);
  ASSERT_EQ(expected.empty(), !nested);
  std::map<std::string, uint32_t> cluster;
  std::vector<uint32_t> pictureChain;
  if (nested) pictureChain = v.Clusters("::/DCIM/100CAMERA");
  if (nested)
    for (const char* p : {"DCIM", "Documents", "Music Collection", "DCIM/100CAMERA", "Documents/Deep",
                          "Documents/Deep/Deeper", "Music Collection/An Album With A Long Name"})
      cluster[p] = v.FirstCluster(std::string("::/") + p);
  ASSERT_TRUE(MustRun("tsk_recover -e " + ShellQuote(v.image) + " " + ShellQuote(dir.File("tsk"))));

  ASSERT_TRUE(v.QuickFormat(row.fatBits, row.mkfs));
  FormattedImage f = ReadFormatted(v);
  const ClusterGeometry& g = f.geometry;
  std::vector<ByteRange> bad;
  uint32_t holeCluster = 0;
  if (row.scene == Scene::Ring) {
    // Deep and Deeper each name the other as the folder above: a ring.
    SetDotDot(f.image, f, cluster["Documents/Deep"], cluster["Documents/Deep/Deeper"]);
    // The album names itself.
    const uint32_t album = cluster["Music Collection/An Album With A Long Name"];
    SetDotDot(f.image, f, album, album);
  }
  if (row.scene == Scene::Hole) {
    // The last sector of the picture folder's second cluster.
    ASSERT_GE(pictureChain.size(), 3u);
    holeCluster = pictureChain[1];
    bad.push_back({uint64_t{holeCluster - 2} * g.clusterBytes + g.clusterBytes / 2, 512});
  }
  MemoryClusterSource source(f.Data(), g, bad);
  LostFolderInputs inputs;
  // What the new, empty volume holds: a 32-bit volume's root cluster.
  inputs.taken = [&](uint32_t c) { return c == g.rootCluster; };
  const LostFolderForest forest = FindLostFolders(source, g, inputs);
  const std::set<std::string> found = Found(forest);

  if (!nested) {
    EXPECT_TRUE(forest.folders.empty()) << forest.folders.size() << " folders, first at cluster "
                                        << forest.folders.front().firstCluster;
    return;
  }
  if (row.scene == Scene::Nested) {
    EXPECT_EQ(found, expected);
    EXPECT_EQ(forest.tops.size(), kTops.size());
    // The picture folder's clusters lie apart, and were joined in order.
    const LostFolder* pictures = FolderAt(forest, cluster["DCIM/100CAMERA"]);
    ASSERT_NE(pictures, nullptr);
    EXPECT_EQ(pictures->clusters, pictureChain);
  }
  if (row.scene == Scene::Ring) {
    // Every file is still there, under whichever folder the ring was cut at.
    std::set<std::string> names, wanted;
    for (const std::string& p : expected) wanted.insert(p.substr(p.rfind('/') + 1));
    for (const std::string& p : found) names.insert(p.substr(p.rfind('/') + 1));
    EXPECT_EQ(names, wanted);
    const LostFolder* deep = FolderAt(forest, cluster["Documents/Deep"]);
    const LostFolder* deeper = FolderAt(forest, cluster["Documents/Deep/Deeper"]);
    ASSERT_TRUE(deep && deeper);
    EXPECT_EQ(deep->parent, SIZE_MAX);  // the lower cluster of the ring is the top
    EXPECT_NE(deeper->parent, SIZE_MAX);
    const LostFolder* album = FolderAt(forest, cluster["Music Collection/An Album With A Long Name"]);
    ASSERT_NE(album, nullptr);
    EXPECT_EQ(album->parent, SIZE_MAX);
  }
  if (row.scene == Scene::Hole) {
    // The entries of the unreadable sector are gone, and those whose long
    // names it held keep their short names; everything else stays, the last
    // picture too, and the folder says which cluster failed.
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                        std::back_inserter(missing));
    std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_FALSE(missing.empty());
    EXPECT_LE(missing.size(), kDirEntriesPerSector);
    for (const std::string& m : missing) EXPECT_NE(m.find("/Holiday picture"), std::string::npos) << m;
    for (const std::string& x : extra) EXPECT_NE(x.find("/HOLID"), std::string::npos) << x;
    EXPECT_TRUE(found.count("/" + LostFolderFallbackName(cluster["DCIM"]) +
                            "/100CAMERA/Holiday picture number 40.jpg\t"));
    const LostFolder* pictures = FolderAt(forest, cluster["DCIM/100CAMERA"]);
    ASSERT_NE(pictures, nullptr);
    EXPECT_EQ(pictures->unreadableClusters, std::vector<uint32_t>{holeCluster});
  }

  // Every intact file has the bytes tsk_recover got for it.
  size_t compared = 0;
  for (const LostEntry& e : forest.entries) {
    if (e.file.folder || e.file.state != DeletedState::Intact) continue;
    std::string path = e.file.path;
    const LostFolder* top = &forest.folders[e.folder];
    while (top->parent != SIZE_MAX) top = &forest.folders[top->parent];
    bool known = false;
    for (const std::string& t : kTops)
      if (cluster[t] == top->firstCluster) {
        path.replace(0, top->name.size() + 1, "/" + t);
        known = true;
      }
    // A top the ring made, or a short name the hole left: tsk_recover knows
    // the file by another path.
    if (!known || (row.scene == Scene::Hole && !e.file.longName)) continue;
    const std::vector<uint8_t> tsk = ReadFileBytes(dir.File("tsk") + path);
    if (tsk.empty() && e.file.size != 0) {
      ADD_FAILURE() << "tsk_recover has no " << path;
      continue;
    }
    EXPECT_TRUE(f.Run(e.file.startCluster, e.file.size) == tsk) << path;
    ++compared;
  }
  EXPECT_GE(compared, 30u);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, LostFoldersQuickFormatted,
    testing::Values(LostRow{"Fat12", 12, 2880, "", Scene::Nested},
                    LostRow{"Fat16", 16, 40960, "-s 4", Scene::Nested},
                    LostRow{"Fat32", 32, 140000, "-s 1", Scene::Nested},
                    LostRow{"DecoyRandomData", 16, 40960, "-s 1", Scene::DecoyRandom},
                    LostRow{"DecoyTextWithDots", 12, 2880, "", Scene::DecoyDots},
                    LostRow{"DecoyJpeg", 32, 140000, "-s 1", Scene::DecoyJpeg},
                    LostRow{"RingOfDotDotEntries", 16, 40960, "-s 1", Scene::Ring},
                    LostRow{"UnreadableSectorInAFolder", 32, 140000, "-s 2", Scene::Hole}),
    [](const testing::TestParamInfo<LostRow>& i) { return std::string(i.param.name); });

}  // namespace

// Carving over quick-formatted volumes: files of every carved format, made by
// the programs that make them, copied in by mtools, the volume formatted
// again by mkfs.fat. Each file must come back from its first cluster byte
// for byte with its end found, random data must not be claimed, and a sector
// that cannot be read must mark its file without cutting it short. Then the
// structure check that chooses between two readings of a deleted file.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/image_builder.h"
#include "fixtures/rescue_scene.h"
#include "recovery/carving.h"

namespace {

struct Sample {
  const char* file;
  const char* extension;  // what the carver must call it; nullptr: nothing may be carved
  CarvedType type;
};

// In the order they are written: random data sits between carved files.
constexpr Sample kSamples[] = {
    {"photo.jpg", "jpg", CarvedType::Jpeg},          {"random.bin", nullptr, CarvedType::Text},
    {"progressive.jpg", "jpg", CarvedType::Jpeg},    {"picture.png", "png", CarvedType::Png},
    {"anim.gif", "gif", CarvedType::Gif},            {"document.pdf", "pdf", CarvedType::Pdf},
    {"updated.pdf", "pdf", CarvedType::Pdf},         {"archive.zip", "zip", CarvedType::Zip},
    {"streamed.zip", "zip", CarvedType::Zip},        {"tool.zip", "zip", CarvedType::Zip},
    {"report.docx", "docx", CarvedType::Zip},        {"letter.odt", "odt", CarvedType::Zip},
    {"movie.mp4", "mp4", CarvedType::Mp4},           {"clip.mov", "mov", CarvedType::Mp4},
    {"large-mdat.mp4", "mp4", CarvedType::Mp4},
    {"tagged.mp3", "mp3", CarvedType::Mp3},          {"plain.mp3", "mp3", CarvedType::Mp3},
    {"notes.txt", "txt", CarvedType::Text},
};

struct CarveRow {
  const char* name;
  int fatBits;
  uint32_t sectors;
  const char* mkfs;
  const char* holeIn;  // a sample with an unreadable sector in its middle cluster
};

class CarveQuickFormatted : public testing::TestWithParam<CarveRow> {};

TEST_P(CarveQuickFormatted, GivesBackEveryFileByteForByte) {
  const CarveRow& row = GetParam();
  TempDir dir;
  const FatVolume v = MakeFatImage(dir.File("card.img"), row.fatBits, row.sectors, row.mkfs);
  std::map<std::string, std::vector<uint8_t>> original;
  for (const Sample& s : kSamples) {
    original[s.file] = ReadFileBytes(CarveSamples() + "/" + s.file);
    ASSERT_FALSE(original[s.file].empty()) << s.file;
    ASSERT_TRUE(v.Copy(CarveSamples() + "/" + s.file, std::string("::/") + s.file));
  }
  std::map<std::string, uint32_t> at;
  {
    const FormattedImage before = ReadFormatted(v);
    for (const Sample& s : kSamples) {
      at[s.file] = ClusterHolding(before, original[s.file]);
      ASSERT_NE(at[s.file], 0u) << s.file << " not written contiguously";
    }
  }
  ASSERT_TRUE(v.QuickFormat(row.fatBits, row.mkfs));
  const FormattedImage f = ReadFormatted(v);
  const uint32_t cb = f.geometry.clusterBytes;

  std::vector<ByteRange> bad;
  uint32_t holeCluster = 0;
  if (row.holeIn != nullptr) {
    const uint64_t clusters = (original[row.holeIn].size() + cb - 1) / cb;
    holeCluster = at[row.holeIn] + static_cast<uint32_t>(clusters / 2);
    bad.push_back({uint64_t{holeCluster - 2} * cb + (cb / 2 / 512) * 512, 512});
  }
  MemoryClusterSource source(f.Data(), f.geometry, bad);
  const std::vector<CarvedFile> carved = CarveDataArea(source, f.geometry, {});

  std::string listing;
  for (const CarvedFile& c : carved)
    listing += std::to_string(c.firstCluster) + " " + c.extension + " " + std::to_string(c.length) +
               (c.endFound ? "" : " (end not found)") + "\n";
  SCOPED_TRACE(listing);
  auto carvedAt = [&](uint32_t cluster) -> const CarvedFile* {
    for (const CarvedFile& c : carved)
      if (c.firstCluster == cluster) return &c;
    return nullptr;
  };
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.file);
    const std::vector<uint8_t>& bytes = original[s.file];
    const uint32_t first = at[s.file];
    const uint32_t last = first + static_cast<uint32_t>((bytes.size() - 1) / cb);
    if (s.extension == nullptr) {
      // No carved file starts in random data or runs into it.
      for (const CarvedFile& c : carved)
        EXPECT_TRUE(c.LastCluster(cb) < first || c.firstCluster > last)
            << "claimed from cluster " << c.firstCluster;
      continue;
    }
    const CarvedFile* c = carvedAt(first);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->type, s.type);
    EXPECT_EQ(c->extension, s.extension);
    EXPECT_EQ(c->length, bytes.size());
    EXPECT_TRUE(c->endFound);
    std::vector<uint8_t> got = f.Run(first, c->length);
    std::vector<uint8_t> want = bytes;
    if (row.holeIn != nullptr && std::string(row.holeIn) == s.file) {
      EXPECT_EQ(c->unreadableClusters, std::vector<uint32_t>{holeCluster});
      // The cluster that could not be read is left out of the comparison.
      const uint64_t from = uint64_t{holeCluster - first} * cb;
      std::fill(got.begin() + static_cast<ptrdiff_t>(from), got.begin() + static_cast<ptrdiff_t>(from + cb), 0);
      std::fill(want.begin() + static_cast<ptrdiff_t>(from), want.begin() + static_cast<ptrdiff_t>(from + cb), 0);
    } else {
      EXPECT_TRUE(c->unreadableClusters.empty());
    }
    EXPECT_TRUE(got == want) << "bytes differ";
  }
  // Anything else carved lies inside a sample (a picture stored in a ZIP
  // that happens to start a cluster): nothing is made of free space.
  for (const CarvedFile& c : carved) {
    bool inside = false;
    for (const Sample& s : kSamples) {
      const uint32_t first = at[s.file];
      const uint32_t last = first + static_cast<uint32_t>((original[s.file].size() - 1) / cb);
      inside = inside || (c.firstCluster >= first && c.LastCluster(cb) <= last && s.extension);
    }
    EXPECT_TRUE(inside) << "carved from nothing at cluster " << c.firstCluster;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, CarveQuickFormatted,
    testing::Values(CarveRow{"Fat12Floppy", 12, 2880, "", nullptr},
                    CarveRow{"Fat16Of4KiBClusters", 16, 65536, "-s 8", nullptr},
                    CarveRow{"Fat32Of512ByteClusters", 32, 140000, "-s 1", nullptr},
                    CarveRow{"HoleInJpegEntropyData", 16, 65536, "-s 4", "photo.jpg"},
                    CarveRow{"HoleInZipMember", 32, 140000, "-s 1", "archive.zip"},
                    CarveRow{"HoleInPdf", 12, 2880, "", "updated.pdf"},
                    CarveRow{"HoleInMp4Data", 16, 65536, "-s 1", "movie.mp4"}),
    [](const testing::TestParamInfo<CarveRow>& i) { return std::string(i.param.name); });

// Where the carver cuts, over a data area of 4 KiB clusters laid out in
// memory: a file overwritten from some cluster on ends where the next header
// starts a cluster, a gap (a cluster a live file holds) or the type's size
// limit ends a file that has not ended, and a PDF ends at its last %%EOF
// even when text follows it in the same run.
constexpr uint32_t kCutCluster = 4096;

struct Piece {
  const char* file;     // a sample, or nullptr: a cluster a live file holds (left out)
  size_t keep = SIZE_MAX;  // bytes of it laid down, from its start
};

struct Expect {
  size_t piece;          // the piece whose first cluster the file starts at
  const char* extension;
  uint64_t length;       // 0: the whole sample
  bool endFound;
};

struct CutRow {
  const char* name;
  std::vector<Piece> pieces;
  std::vector<Expect> expect;
  uint64_t limit = 0;    // when not 0, every type's size limit
};

class CarverCuts : public testing::TestWithParam<CutRow> {};

TEST_P(CarverCuts, EndFilesWhereTheyMust) {
  const CutRow& row = GetParam();
  std::vector<uint8_t> data;
  std::vector<uint32_t> firstOf;
  std::set<uint32_t> held;
  for (const Piece& p : row.pieces) {
    firstOf.push_back(static_cast<uint32_t>(data.size() / kCutCluster + 2));
    if (p.file == nullptr) {
      held.insert(firstOf.back());
      data.resize(data.size() + kCutCluster, 0xAA);
      continue;
    }
    std::vector<uint8_t> bytes = ReadFileBytes(CarveSamples() + "/" + p.file);
    ASSERT_FALSE(bytes.empty()) << p.file;
    bytes.resize(std::min(bytes.size(), p.keep));
    data.insert(data.end(), bytes.begin(), bytes.end());
    data.resize((data.size() + kCutCluster - 1) / kCutCluster * kCutCluster, 0);
  }
  ClusterGeometry g{kCutCluster, static_cast<uint32_t>(data.size() / kCutCluster + 1), FatWidth::Fat32, 0};
  MemoryClusterSource source(data, g);
  CarveLimits limits;
  if (row.limit != 0) limits.most.fill(row.limit);
  const std::vector<CarvedFile> carved =
      CarveDataArea(source, g, [&](uint32_t c) { return held.count(c) != 0; }, limits);

  std::vector<std::string> got, want;
  for (const CarvedFile& c : carved)
    got.push_back(std::to_string(c.firstCluster) + " " + c.extension + " " + std::to_string(c.length) +
                  (c.endFound ? "" : " cut"));
  for (const Expect& e : row.expect) {
    const uint64_t length =
        e.length != 0 ? e.length : ReadFileBytes(CarveSamples() + "/" + row.pieces[e.piece].file).size();
    want.push_back(std::to_string(firstOf[e.piece]) + " " + e.extension + " " + std::to_string(length) +
                   (e.endFound ? "" : " cut"));
  }
  EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CarverCuts,
    testing::Values(
        // The JPEG's last clusters were overwritten by a PNG: it is cut
        // before the PNG, which is whole.
        CutRow{"OverwrittenByTheNextHeader",
               {{"photo.jpg", 5 * kCutCluster}, {"picture.png"}},
               {{0, "jpg", 5 * kCutCluster, false}, {1, "png", 0, true}}},
        // Text right after a PDF's last cluster is a file of its own.
        CutRow{"TextAfterAPdf", {{"updated.pdf"}, {"notes.txt"}},
               {{0, "pdf", 0, true}, {1, "txt", 0, true}}},
        // A cluster a live file holds in the middle of a PNG: the PNG ends
        // before it; the rest is nobody's.
        CutRow{"GapInAPng", {{"picture.png", 3 * kCutCluster}, {nullptr}, {"anim.gif"}},
               {{0, "png", 3 * kCutCluster, false}, {2, "gif", 0, true}}},
        // Files larger than the limit are cut at it.
        CutRow{"SizeLimit", {{"archive.zip"}, {"tagged.mp3"}},
               {{0, "zip", 8 * kCutCluster, false}, {1, "mp3", 0, true}}, 8 * kCutCluster},
        // A ZIP whose end record is gone: cut where the next file starts.
        CutRow{"ZipWithoutItsEnd", {{"tool.zip", 6 * kCutCluster}, {"progressive.jpg"}},
               {{0, "zip", 6 * kCutCluster, false}, {1, "jpg", 0, true}}}),
    [](const testing::TestParamInfo<CutRow>& i) { return std::string(i.param.name); });

// A source whose reads answer as told: the runs' readers see what failed,
// also when a failed read names no range (then none of its bytes is data).
struct AnswerRow {
  const char* name;
  bool answer;                    // what Read returns
  std::vector<ByteRange> ranges;  // what it names
  std::vector<ByteRange> seen;    // what the run then says is unreadable
};

class RunsSeeTheAnswer : public testing::TestWithParam<AnswerRow> {};

TEST_P(RunsSeeTheAnswer, FailedReadsAreNeverData) {
  const AnswerRow& row = GetParam();
  struct Told final : ClusterSource {
    const AnswerRow& row;
    explicit Told(const AnswerRow& r) : row(r) {}
    bool Read(uint32_t, uint32_t, std::span<uint8_t>, std::vector<ByteRange>& unreadable) override {
      unreadable = row.ranges;
      return row.answer;
    }
  } source(row);
  ClusterGeometry g;
  g.clusterBytes = 512;
  g.lastCluster = 5;
  g.fatType = FatWidth::Fat12;
  int runs = 0;
  const ClusterRunTotals totals = ForEachClusterRun(source, g, {}, [&](const ClusterRun& run) {
    ++runs;
    EXPECT_EQ(run.whole, row.answer);
    EXPECT_EQ(std::vector<ByteRange>(run.unreadable.begin(), run.unreadable.end()), row.seen);
  });
  EXPECT_EQ(runs, 1);
  uint64_t bytes = 0;
  for (const ByteRange& r : row.seen) bytes += r.length;
  EXPECT_EQ(totals.unreadableBytes, bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RunsSeeTheAnswer,
    testing::Values(AnswerRow{"Whole", true, {}, {}},
                    AnswerRow{"OneSectorNamed", false, {{512, 512}}, {{512, 512}}},
                    AnswerRow{"NothingNamed", false, {}, {{0, 4 * 512}}}),
    [](const testing::TestParamInfo<AnswerRow>& i) { return std::string(i.param.name); });

// The data-area pass with one or more readers: the runs come in order, each
// cluster that is not skipped exactly once with its own bytes, and no run
// spans a skipped cluster. The suite's name puts it in the ThreadSanitizer leg.
struct PassRow {
  const char* name;
  size_t readers;
  uint32_t clusters;  // the last cluster
  uint32_t runClusters;
  uint32_t skipEvery;  // clusters c with c % skipEvery == 0 are skipped; 0: none
};

class ClusterRunsThread : public testing::TestWithParam<PassRow> {};

TEST_P(ClusterRunsThread, HandEveryClusterOnceInOrder) {
  const PassRow& row = GetParam();
  struct Stamped final : ClusterSource {
    size_t readers = 1;
    bool Read(uint32_t first, uint32_t count, std::span<uint8_t> out, std::vector<ByteRange>& unreadable) override {
      unreadable.clear();
      if (first % 3 == 0) std::this_thread::yield();  // later runs may finish first
      for (uint32_t k = 0; k < count; ++k) std::fill_n(out.begin() + k * 512, 512, static_cast<uint8_t>(first + k));
      return true;
    }
    size_t Readers() const override { return readers; }
  } source;
  source.readers = row.readers;
  ClusterGeometry g;
  g.clusterBytes = 512;
  g.lastCluster = row.clusters;
  g.fatType = FatWidth::Fat16;
  ClusterRunOptions options;
  options.runBytes = uint64_t{row.runClusters} * 512;
  auto skipped = [&](uint32_t c) { return row.skipEvery != 0 && c % row.skipEvery == 0; };
  options.skip = skipped;
  std::vector<uint32_t> seen;
  const ClusterRunTotals totals = ForEachClusterRun(source, g, options, [&](const ClusterRun& run) {
    for (uint32_t k = 0; k < run.count; ++k) {
      seen.push_back(run.first + k);
      ASSERT_EQ(run.bytes[k * 512 + 511], static_cast<uint8_t>(run.first + k));
    }
  });
  std::vector<uint32_t> want;
  for (uint32_t c = 2; c <= row.clusters; ++c)
    if (!skipped(c)) want.push_back(c);
  EXPECT_EQ(seen, want);
  EXPECT_EQ(totals.clustersRead, want.size());
  EXPECT_FALSE(totals.stopped);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, ClusterRunsThread,
    testing::Values(PassRow{"OneReader", 1, 3000, 16, 7}, PassRow{"TwoReaders", 2, 3000, 16, 7},
                    PassRow{"TwoReadersNoSkips", 2, 5000, 5, 0},
                    PassRow{"ThreeReadersOneClusterRuns", 3, 2000, 1, 4},
                    PassRow{"TwoReadersEverySecondSkipped", 2, 1000, 64, 2}),
    [](const testing::TestParamInfo<PassRow>& i) { return std::string(i.param.name); });

// The structure check: the whole file checks out; read one cluster short (a
// reading that stopped at a live cluster) or with a foreign cluster in its
// middle (one that stepped over a cluster it should have taken) it does not.
// MP3 has no end mark: a stream cut between frames is a whole stream.
struct CheckRow {
  const char* file;
  CarvedType type;
  bool shortTells = true;
};

class StructureOfReadings : public testing::TestWithParam<CheckRow> {};

TEST_P(StructureOfReadings, OnlyTheRightReadingChecksOut) {
  const CheckRow& row = GetParam();
  const std::vector<uint8_t> whole = ReadFileBytes(CarveSamples() + "/" + row.file);
  ASSERT_GT(whole.size(), 3 * 4096u);
  constexpr size_t kCluster = 4096;
  EXPECT_TRUE(CheckStructure(row.type, whole).ChecksOut());

  std::vector<uint8_t> shortRead(whole.begin(), whole.end() - kCluster);
  if (row.shortTells) {
    EXPECT_FALSE(CheckStructure(row.type, shortRead).ChecksOut());
  }

  // Another file's cluster (random data) in place of the second cluster and
  // the file's own clusters one later, cut to the file's size.
  const std::vector<uint8_t> random = ReadFileBytes(CarveSamples() + "/random.bin");
  std::vector<uint8_t> around(whole.begin(), whole.begin() + kCluster);
  around.insert(around.end(), random.begin(), random.begin() + kCluster);
  around.insert(around.end(), whole.begin() + kCluster, whole.end() - kCluster);
  ASSERT_EQ(around.size(), whole.size());
  EXPECT_FALSE(CheckStructure(row.type, around).ChecksOut());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StructureOfReadings,
    testing::Values(CheckRow{"photo.jpg", CarvedType::Jpeg}, CheckRow{"progressive.jpg", CarvedType::Jpeg},
                    CheckRow{"picture.png", CarvedType::Png}, CheckRow{"anim.gif", CarvedType::Gif},
                    CheckRow{"updated.pdf", CarvedType::Pdf}, CheckRow{"archive.zip", CarvedType::Zip},
                    CheckRow{"streamed.zip", CarvedType::Zip}, CheckRow{"report.docx", CarvedType::Zip},
                    CheckRow{"movie.mp4", CarvedType::Mp4}, CheckRow{"large-mdat.mp4", CarvedType::Mp4},
                    CheckRow{"tagged.mp3", CarvedType::Mp3, false},
                    CheckRow{"plain.mp3", CarvedType::Mp3, false}),
    [](const testing::TestParamInfo<CheckRow>& i) {
      std::string name = i.param.file;
      std::replace(name.begin(), name.end(), '.', '_');
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

}  // namespace

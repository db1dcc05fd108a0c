// The raw road with its reader thread ahead: runs read whole on both paths
// (the sector library's in one call, not a call per track), pieces asked
// (copied, and in place) across runs and back into the one before as the search's blocks are,
// unreadable sectors named where they are, and Stop. The suite's name puts
// it in the ThreadSanitizer leg.
#include "disk/raw_road.h"
#include "disk/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "views/view_rig.h"

namespace {

constexpr uint32_t kDiskSectors = 1100;
constexpr uint32_t kNodeStart = 10;
constexpr uint64_t kRange = 1000;  // sectors of the node read

struct RoadCase {
  const char* name;
  TestDrives::Path path;
  uint32_t runSectors;
  std::vector<uint64_t> bad;  // sectors of the node that fail
  std::vector<std::pair<uint64_t, uint64_t>> pieces;  // (first, count) asked of the reader
  int stopAfterRuns;  // ForEachRawRun: Stop pressed in this run's visit; 0: never
  bool parallel = false;  // the drive allows reads from several threads: two readers
};

// The search's way: 100-sector blocks that begin again in the last sector of
// the one before, over several runs.
std::vector<std::pair<uint64_t, uint64_t>> Blocks(uint64_t to) {
  std::vector<std::pair<uint64_t, uint64_t>> blocks;
  for (uint64_t s = 0; s < to; s += 99) blocks.emplace_back(s, std::min<uint64_t>(100, to - s));
  return blocks;
}

class RawRoadThread : public testing::TestWithParam<RoadCase> {};

TEST_P(RawRoadThread, ServesEverySectorAsReadAndNamesTheUnreadable) {
  const RoadCase& c = GetParam();
  const std::vector<uint8_t> disk = PatternDisk(kDiskSectors);
  ViewRig rig(disk, c.path);
  for (uint64_t b : c.bad) rig.dev->badReadSectors.insert(kNodeStart + b);
  rig.dev->parallelReads = c.parallel;
  ASSERT_EQ(rig.access.ParallelReads(0x80), c.parallel);
  DrivePacket node;
  node.drive = 0x80;
  node.kind = NodeKind::Unknown;
  node.startSector = kNodeStart;
  node.int13Extensions = 1;
  RawRoadOptions options;
  options.runSectors = c.runSectors;

  auto expectSectors = [&](uint64_t first, std::span<const uint8_t> got,
                           const std::vector<uint64_t>& unreadable, const std::string& where) {
    std::vector<uint64_t> wantBad;
    for (uint64_t k = 0; k < got.size() / 512; ++k) {
      const uint64_t s = first + k;
      const bool bad = s >= kRange || std::count(c.bad.begin(), c.bad.end(), s) > 0;
      if (bad) wantBad.push_back(s);
      const std::vector<uint8_t> want =
          bad ? std::vector<uint8_t>(512, kRawUnreadableFill) : SectorSlice(disk, kNodeStart + s);
      ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin() + static_cast<ptrdiff_t>(k * 512)))
          << where << ": sector " << s;
    }
    EXPECT_EQ(unreadable, wantBad) << where;
  };

  {
    RawReader reader(rig.access, node, 0, kRange, options);
    for (const auto& [first, count] : c.pieces) {
      std::vector<uint8_t> piece(count * 512);
      std::vector<uint64_t> unreadable;
      const bool whole = reader.Read(first, piece, unreadable);
      EXPECT_EQ(whole, unreadable.empty());
      expectSectors(first, piece, unreadable, "piece at " + std::to_string(first));
      // The same piece in place: the run's own bytes where one run holds it
      // all (the buffer left as it was), else copied as Read copies them.
      std::vector<uint8_t> spare(count * 512, 0x77);
      std::vector<uint64_t> viewBad;
      bool viewWhole = false;
      const std::span<const uint8_t> view = reader.View(first, spare, viewBad, viewWhole);
      EXPECT_EQ(viewWhole, viewBad.empty());
      expectSectors(first, view, viewBad, "view at " + std::to_string(first));
      const bool inOneRun = first / c.runSectors == (first + count - 1) / c.runSectors && first + count <= kRange;
      EXPECT_EQ(view.data() != spare.data(), inOneRun) << "view at " << first;
      if (inOneRun) EXPECT_EQ(spare, std::vector<uint8_t>(count * 512, 0x77));
    }
  }
  // The first run was asked of the device whole, on both paths.
  const auto firstRun =
      std::make_pair(uint64_t{kNodeStart} * 512, size_t{std::min<uint64_t>(c.runSectors, kRange) * 512});
  EXPECT_NE(std::find(rig.dev->readLog.begin(), rig.dev->readLog.end(), firstRun), rig.dev->readLog.end());

  std::atomic<bool> stop{false};
  options.stop = &stop;
  int visited = 0;
  uint64_t next = 0;
  const RawRoadTotals totals = ForEachRawRun(rig.access, node, 0, kRange, options, [&](const RawRun& run) {
    EXPECT_EQ(run.first, next);
    next += run.Sectors();
    expectSectors(run.first, run.bytes, {run.unreadable.begin(), run.unreadable.end()},
                  "run at " + std::to_string(run.first));
    EXPECT_EQ(run.whole, run.unreadable.empty());
    if (++visited == c.stopAfterRuns) stop = true;
    return true;
  });
  const uint64_t runs = (kRange + c.runSectors - 1) / c.runSectors;
  EXPECT_EQ(visited, c.stopAfterRuns > 0 ? c.stopAfterRuns : static_cast<int>(runs));
  EXPECT_EQ(totals.stopped, c.stopAfterRuns > 0);
  EXPECT_EQ(totals.sectorsRead, next);
  if (c.stopAfterRuns == 0)
    EXPECT_EQ(totals.unreadableSectors, static_cast<uint64_t>(std::count_if(
                                            c.bad.begin(), c.bad.end(), [](uint64_t b) { return b < kRange; })));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawRoadThread,
    testing::Values(
        RoadCase{"DirectBlocksOverRuns", TestDrives::Direct, 200, {}, Blocks(kRange), 0},
        RoadCase{"LibraryBlocksOverRuns", TestDrives::Library, 200, {}, Blocks(kRange), 0},
        // Failed sectors at a run's end and the next one's start, read again
        // one by one: only they are unreadable, in both runs and in the block
        // that straddles them.
        RoadCase{"DirectFailedAcrossRuns", TestDrives::Direct, 200, {199, 200, 555}, Blocks(kRange), 0},
        RoadCase{"LibraryFailedAcrossRuns", TestDrives::Library, 256, {255, 256, 300}, Blocks(kRange), 0},
        // A piece reaching past the range, and one skipping runs ahead.
        RoadCase{"PiecesPastAndAhead", TestDrives::Direct, 128, {}, {{0, 10}, {700, 50}, {980, 40}}, 0},
        // The whole range as one run, as a small volume is.
        RoadCase{"OneRun", TestDrives::Library, 2048, {3}, Blocks(kRange), 0},
        // Stop in the second run's visit: no third run is handed on.
        RoadCase{"StopEndsTheRuns", TestDrives::Direct, 100, {}, {{0, 100}}, 2},
        // Two readers: runs finished out of order still come in order, with
        // their own failed sectors, on both paths, and Stop still ends them.
        RoadCase{"DirectTwoReadersFailedAcrossRuns", TestDrives::Direct, 100, {99, 100, 555}, Blocks(kRange), 0, true},
        RoadCase{"LibraryTwoReadersFailedAcrossRuns", TestDrives::Library, 64, {63, 64, 900}, Blocks(kRange), 0, true},
        RoadCase{"TwoReadersStop", TestDrives::Library, 50, {}, {{0, 100}}, 3, true}),
    [](const testing::TestParamInfo<RoadCase>& i) { return std::string(i.param.name); });

// The reader thread's handing over on its own, with far more slots filled
// than it holds: every slot comes in order, exactly once, whether the work
// keeps one slot or nearly all, and whether it outpaces the reader or not.
struct HandOverCase {
  const char* name;
  size_t depth;
  int fills;
  size_t kept;     // slots the work holds before giving back the oldest
  bool slowWork;   // the work yields between slots, the readers run ahead
  int leaveAfter;  // the work ends here (the readers are cancelled); 0: reads all
  size_t readers = 1;
  bool unevenFills = false;  // every third fill yields, so later ones finish first
};

class ReadAheadThread : public testing::TestWithParam<HandOverCase> {};

TEST_P(ReadAheadThread, HandsEverySlotOverInOrder) {
  const HandOverCase& c = GetParam();
  std::vector<uint64_t> seen;
  {
    ReadAhead<uint64_t> reader(
        c.depth,
        [&c](uint64_t& slot, uint64_t k) {
          if (k >= static_cast<uint64_t>(c.fills)) return false;
          if (c.unevenFills && k % 3 == 0) std::this_thread::yield();
          slot = k;
          return true;
        },
        c.readers);
    size_t held = 0;
    while (uint64_t* slot = reader.Next()) {
      seen.push_back(*slot);
      if (++held > c.kept) {
        reader.Release();
        --held;
      }
      if (c.slowWork) std::this_thread::yield();
      if (c.leaveAfter != 0 && static_cast<int>(seen.size()) == c.leaveAfter) break;
    }
  }
  const int want = c.leaveAfter != 0 ? c.leaveAfter : c.fills;
  ASSERT_EQ(seen.size(), static_cast<size_t>(want));
  for (int i = 0; i < want; ++i) ASSERT_EQ(seen[static_cast<size_t>(i)], static_cast<uint64_t>(i));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadAheadThread,
    testing::Values(HandOverCase{"OneSlot", 1, 300, 0, false, 0},
                    HandOverCase{"ThreeSlotsKeepOne", 3, 2000, 1, false, 0},
                    HandOverCase{"EightSlotsKeepTwo", 8, 5000, 2, false, 0},
                    HandOverCase{"EightSlotsKeepSeven", 8, 2000, 7, true, 0},
                    HandOverCase{"SlowWorkKeepsNone", 8, 2000, 0, true, 0},
                    HandOverCase{"WorkEndsEarly", 8, 100000, 2, false, 37},
                    HandOverCase{"TwoReadersKeepTwo", 8, 5000, 2, false, 0, 2, true},
                    HandOverCase{"TwoReadersSlowWork", 8, 2000, 1, true, 0, 2, true},
                    HandOverCase{"TwoReadersOneSlot", 1, 300, 0, false, 0, 2, true},
                    HandOverCase{"TwoReadersWorkEndsEarly", 8, 100000, 2, false, 37, 2, true},
                    HandOverCase{"ThreeReadersTwoSlotsKeepOne", 2, 3000, 1, false, 0, 3, true}),
    [](const testing::TestParamInfo<HandOverCase>& i) { return std::string(i.param.name); });

}  // namespace

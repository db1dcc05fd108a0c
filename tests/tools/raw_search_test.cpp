// The raw search in the core: the pattern and start sector as typed, the
// 100-sector blocks that overlap by one sector, failed blocks, Stop, the
// progress text, and the hit placed in the list pane.
#include "tools/raw_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/recorded_events.h"
#include "views/page_navigation.h"
#include "views/view_rig.h"

namespace {

constexpr uint32_t kVolumeSectors = 1000;
constexpr uint32_t kFirst = 10;  // F: the node's first sector

// A root-directory-like node over a 1000-sector volume at the disk's start.
DrivePacket Node(NodeKind kind = NodeKind::RootDir, uint32_t total = kVolumeSectors) {
  DrivePacket p;
  p.drive = 0x80;
  p.kind = kind;
  p.startSector = kFirst;
  p.sectorCount = 32;
  p.totalSectors = total;
  p.int13Extensions = 1;
  return p;
}

RawSearchOptions Hex(std::vector<std::string> boxes, std::string start = "10") {
  RawSearchOptions o;
  o.mode = SearchMode::Hex;
  o.hexBytes = std::move(boxes);
  o.start = std::move(start);
  return o;
}

RawSearchOptions Text(std::string text, std::string start = "10") {
  RawSearchOptions o;
  o.mode = SearchMode::Text;
  o.text = std::move(text);
  o.start = std::move(start);
  return o;
}

struct Rig : ViewRig {
  explicit Rig(TestDrives::Path path = TestDrives::Direct)
      : ViewRig(std::vector<uint8_t>(size_t{kVolumeSectors} * 512 + 4096, 0), path) {}
  void Plant(uint64_t byte, const std::string& text) {
    std::memcpy(dev->Bytes().data() + byte, text.data(), text.size());
  }
  SearchResult Run(const RawSearchOptions& options, const DrivePacket& node = Node()) {
    prompt.Clear();
    events.Clear();
    std::optional<SearchJob> job = PrepareRawSearch(prompt, node, options);
    if (!job) return {SearchStatus::NotFound, {}};
    return SearchSectors(access, *job, flags, events);
  }
  std::vector<std::string> ProgressTexts() const { return events.Lines(); }
  SearchFlags flags;
  RecordedSearchEvents events;
};

std::vector<uint8_t> PatternOf(const RawSearchOptions& o) {
  ScriptedPrompt prompt;
  return BuildSearchPattern(prompt, o).value_or(std::vector<uint8_t>{});
}

std::string OnlyMessage(const RawSearchOptions& o) {
  ScriptedPrompt prompt;
  EXPECT_FALSE(BuildSearchPattern(prompt, o).has_value());
  const auto m = prompt.Messages();
  return m.size() == 1 ? m[0] : "(" + std::to_string(m.size()) + " messages)";
}

TEST(RawSearchInput, PatternFromTheByteBoxesAndTheString) {
  EXPECT_EQ(PatternOf(Hex({"41", "", "42"})), std::vector<uint8_t>({0x41}));
  EXPECT_EQ(PatternOf(Hex({"1FF"})), std::vector<uint8_t>({0xFF}));
  EXPECT_EQ(PatternOf(Hex({" 7 ", "ab", "0x1f", "00"})), std::vector<uint8_t>({0x07, 0xAB, 0x1F, 0x00}));
  std::vector<std::string> sixteen(16, "5A");
  sixteen[15] = "E5";
  std::vector<uint8_t> expected(16, 0x5A);
  expected[15] = 0xE5;
  EXPECT_EQ(PatternOf(Hex(sixteen)), expected);
  // Text is searched for as Windows-1252: é is E9, € is 80.
  EXPECT_EQ(PatternOf(Text("café €")), std::vector<uint8_t>({'c', 'a', 'f', 0xE9, ' ', 0x80}));
  EXPECT_EQ(PatternOf(Text(std::string(89, 'x'))).size(), 89u);
  // Bytes that are no UTF-8 are taken as they stand.
  EXPECT_EQ(PatternOf(Text("caf\xE9")), std::vector<uint8_t>({'c', 'a', 'f', 0xE9}));

  EXPECT_EQ(OnlyMessage(Hex({})), "Enter some Hexa bytes!");
  EXPECT_EQ(OnlyMessage(Hex({"", "41"})), "Enter some Hexa bytes!");
  EXPECT_EQ(OnlyMessage(Hex({"41", "4G"})), "Byte 2 is not a hexadecimal number: 4G");
  EXPECT_EQ(OnlyMessage(Hex({"-1"})), "Byte 1 is not a hexadecimal number: -1");
  RawSearchOptions many = Hex(sixteen);
  many.hexBytes.push_back("41");  // a seventeenth
  EXPECT_EQ(OnlyMessage(many), "At most 16 Hexa bytes can be searched for!");
  EXPECT_EQ(OnlyMessage(Text("")), "Enter some search string!");
  EXPECT_EQ(OnlyMessage(Text(std::string(90, 'x'))), "The search string is longer than 89 characters!");
  EXPECT_EQ(OnlyMessage(Text("a日b")), "The search string holds a character Windows-1252 does not have: 日");
}

TEST(RawSearchInput, TotalSectorsFirstThenTheStartRangeThenThePattern) {
  auto messages = [](const DrivePacket& node, const RawSearchOptions& o, bool& ready) {
    ScriptedPrompt prompt;
    ready = PrepareRawSearch(prompt, node, o).has_value();
    return prompt.Messages();
  };
  bool ready = false;
  const std::string range = "Sector number cannot be greater than 999 or less than 10";
  EXPECT_EQ(messages(Node(), Hex({"41"}, "9"), ready), std::vector<std::string>({"Total sec: 1000", range}));
  EXPECT_FALSE(ready);
  EXPECT_EQ(messages(Node(), Hex({"41"}, "1000"), ready), std::vector<std::string>({"Total sec: 1000", range}));
  EXPECT_EQ(messages(Node(), Hex({"41"}, "ten"), ready), std::vector<std::string>({"Total sec: 1000", range}));
  // The range is told before an empty pattern.
  EXPECT_EQ(messages(Node(), Hex({}, "1000"), ready), std::vector<std::string>({"Total sec: 1000", range}));
  EXPECT_EQ(messages(Node(), Hex({}, "999"), ready),
            std::vector<std::string>({"Total sec: 1000", "Enter some Hexa bytes!"}));
  EXPECT_EQ(messages(Node(), Hex({"41"}, "999"), ready), std::vector<std::string>({"Total sec: 1000"}));
  EXPECT_TRUE(ready);
  // A partition of unknown type has no size: any start from F on.
  EXPECT_EQ(messages(Node(NodeKind::Unknown, 0), Hex({"41"}, "4294967295"), ready),
            std::vector<std::string>({"Total sec: 0"}));
  EXPECT_TRUE(ready);

  ScriptedPrompt prompt;
  EXPECT_FALSE(SearchOpenAllowed(prompt, DumpModes{.sectorDump = true, .rawDump = false}, Node()));
  DrivePacket volume = Node(NodeKind::Volume);
  volume.startSector = 0;
  EXPECT_FALSE(SearchOpenAllowed(prompt, DumpModes{.sectorDump = false, .rawDump = true}, volume));
  EXPECT_TRUE(SearchOpenAllowed(prompt, DumpModes{.sectorDump = false, .rawDump = true}, Node()));
  EXPECT_EQ(prompt.Messages(),
            std::vector<std::string>({"You can only search in Raw Sector Dumping Mode!  Select it from Action menu!",
                                      "You cannot search from this level!!  Try a child level!"}));
}

TEST(RawSearch, BlocksOverlapByOneSectorAndHitsAreTheFirstFromTheStart) {
  Rig rig;
  // Blocks from sector 10 start at 10, 109, 208, ...: sector 108 is the 99th
  // of the first block. "XYZ" begins in its last byte and ends in sector 109.
  rig.Plant(108 * 512 + 511, "XYZ");
  SearchResult r = rig.Run(Text("XYZ"));
  ASSERT_EQ(r.status, SearchStatus::Found);
  EXPECT_EQ(r.hit.sector, 108u);
  EXPECT_EQ(r.hit.index, 98u);
  EXPECT_EQ(r.hit.offset, 511u);
  EXPECT_EQ(r.hit.Row(), 31u);
  EXPECT_EQ(r.hit.bytes[511], 'X');
  // The first block read 100 sectors; the pattern was found in it.
  ASSERT_EQ(rig.dev->readLog.size(), 1u);
  EXPECT_EQ(rig.dev->readLog[0], std::make_pair(uint64_t{10 * 512}, size_t{100 * 512}));

  // An earlier occurrence wins; one before the start does not count.
  rig.Plant(50 * 512 + 16, "XYZ");
  rig.Plant(5 * 512, "XYZ");
  r = rig.Run(Text("XYZ"));
  EXPECT_EQ(r.hit.sector, 50u);
  EXPECT_EQ(r.hit.Row(), 1u);
  r = rig.Run(Text("XYZ", "51"));
  EXPECT_EQ(r.hit.sector, 108u);
  // Case matters.
  EXPECT_EQ(rig.Run(Text("xyz")).status, SearchStatus::NotFound);
}

TEST(RawSearch, TheLastBlockAndTheZeroFillBehindIt) {
  Rig rig;
  // Start E - 1: one sector is read and searched.
  rig.dev->readLog.clear();
  EXPECT_EQ(rig.Run(Hex({"41"}, "999")).status, SearchStatus::NotFound);
  ASSERT_EQ(rig.dev->readLog.size(), 1u);
  EXPECT_EQ(rig.dev->readLog[0], std::make_pair(uint64_t{999 * 512}, size_t{512}));
  // The disk holds more than the volume: bytes past its end are never searched.
  rig.Plant(1000 * 512, "A");
  EXPECT_EQ(rig.Run(Hex({"41"}, "999")).status, SearchStatus::NotFound);
  // A pattern whose first byte is the volume's last compares into the zero
  // fill after the last block, as the first-byte scan does.
  rig.Plant(999 * 512 + 511, "B");
  SearchResult r = rig.Run(Hex({"42", "00", "00"}, "999"));
  ASSERT_EQ(r.status, SearchStatus::Found);
  EXPECT_EQ(r.hit.sector, 999u);
  EXPECT_EQ(r.hit.offset, 511u);
  // A last block of exactly 100 sectors (from 900): its last byte's
  // comparison runs past the block, into zeros, never past the buffer.
  r = rig.Run(Hex({"42", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"}, "900"));
  ASSERT_EQ(r.status, SearchStatus::Found);
  EXPECT_EQ(r.hit.sector, 999u);

  // Zeros everywhere, searched for 00 01: nothing, in every block.
  rig.dev->readLog.clear();
  EXPECT_EQ(rig.Run(Hex({"00", "01"})).status, SearchStatus::NotFound);
  EXPECT_EQ(rig.dev->readLog.size(), 10u);  // 10, 109, ..., 901 (the last 99 sectors)
  EXPECT_EQ(rig.dev->readLog.back(), std::make_pair(uint64_t{901 * 512}, size_t{99 * 512}));
}

TEST(RawSearch, ProgressStopAndFailedBlocks) {
  Rig rig;
  EXPECT_EQ(rig.Run(Hex({"41"})).status, SearchStatus::NotFound);
  const std::vector<std::string> progress = rig.ProgressTexts();
  ASSERT_EQ(progress.size(), 10u);  // one a block: each moves the percentage
  EXPECT_EQ(progress.front(), "10 of 999, 1% Completed");
  EXPECT_EQ(progress[1], "109 of 999, 10% Completed");
  EXPECT_EQ(rig.events.Steps(), progress.size());

  // Stop before a block: interrupted, and the next search runs at once.
  rig.flags.stop = true;
  EXPECT_EQ(rig.Run(Hex({"41"})).status, SearchStatus::Interrupted);
  rig.flags.stop = false;
  rig.Plant(400 * 512 + 7, "A");
  EXPECT_EQ(rig.Run(Hex({"41"})).hit.sector, 400u);

  // A block with an unreadable sector is searched as the read left it: its
  // readable sectors are found, and the progress text names the block.
  rig.dev->badReadSectors = {405};
  rig.Plant(400 * 512 + 7, "C");
  rig.Plant(406 * 512 + 9, "A");
  SearchResult r = rig.Run(Hex({"41"}, "307"));
  ASSERT_EQ(r.status, SearchStatus::Found);
  EXPECT_EQ(r.hit.sector, 406u);
  EXPECT_EQ(r.hit.offset, 9u);
  EXPECT_EQ(rig.ProgressTexts().front(), "Sector 307 not accessible!");
}

// Sectors that could not be read are never matched, whatever their filler
// or the bytes around them; what is readable around them is, and the end
// message counts them. Both transfer paths.
struct UnreadableCase {
  const char* name;
  TestDrives::Path path;
  std::vector<uint64_t> bad;
  std::vector<std::pair<uint64_t, std::string>> plants;  // byte, text
  std::vector<std::string> pattern;
  SearchStatus status;
  uint32_t sector, offset;  // of the hit
  uint64_t unreadable;
  const char* message;
};

class SearchUnreadable : public testing::TestWithParam<UnreadableCase> {};

TEST_P(SearchUnreadable, NeverMatchesAnUnreadableSector) {
  const UnreadableCase& c = GetParam();
  Rig rig(c.path);
  rig.dev->badReadSectors = {c.bad.begin(), c.bad.end()};
  for (const auto& [at, text] : c.plants) rig.Plant(at, text);
  rig.prompt.Clear();
  std::optional<SearchJob> job = PrepareRawSearch(rig.prompt, Node(), Hex(c.pattern));
  ASSERT_TRUE(job);
  rig.prompt.Clear();
  const SearchResult r = RunSearchWorker(rig.access, *job, rig.flags, rig.prompt, rig.events);
  EXPECT_EQ(r.status, c.status);
  if (c.status == SearchStatus::Found) {
    EXPECT_EQ(r.hit.sector, c.sector);
    EXPECT_EQ(r.hit.offset, c.offset);
  }
  EXPECT_EQ(r.unreadableSectors, c.unreadable);
  EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{c.message});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchUnreadable,
    testing::Values(
        // The filler of a failed sector is 0xE5 bytes: no match there.
        UnreadableCase{"FillerIsNoData", TestDrives::Direct, {300}, {}, {"E5", "E5"},
                       SearchStatus::NotFound, 0, 0, 1,
                       "Search String not found!  1 sector could not be read and was not searched."},
        // A pattern whose last byte would lie in the failed sector.
        UnreadableCase{"PatternRunningIntoIt", TestDrives::Direct, {301}, {{300 * 512 + 511, "A"}},
                       {"41", "E5"}, SearchStatus::NotFound, 0, 0, 1,
                       "Search String not found!  1 sector could not be read and was not searched."},
        // Real bytes right after two failed sectors of the same block are found.
        UnreadableCase{"FoundPastIt", TestDrives::Direct, {300, 301}, {{302 * 512 + 3, "\xE5\xE5"}},
                       {"E5", "E5"}, SearchStatus::Found, 302, 3, 2,
                       "Search String Found!  2 sectors could not be read and were not searched."},
        // A block's 100th sector failing is counted once, in the block that
        // starts with it.
        UnreadableCase{"SharedSectorCountedOnce", TestDrives::Direct, {109}, {{600 * 512, "Z"}},
                       {"5A"}, SearchStatus::Found, 600, 0, 1,
                       "Search String Found!  1 sector could not be read and was not searched."},
        UnreadableCase{"LibraryFillerIsNoData", TestDrives::Library, {300}, {}, {"E5", "E5"},
                       SearchStatus::NotFound, 0, 0, 1,
                       "Search String not found!  1 sector could not be read and was not searched."},
        UnreadableCase{"LibraryFoundPastIt", TestDrives::Library, {300, 301},
                       {{302 * 512 + 3, "\xE5\xE5"}}, {"E5", "E5"}, SearchStatus::Found, 302, 3, 2,
                       "Search String Found!  2 sectors could not be read and were not searched."}),
    [](const testing::TestParamInfo<UnreadableCase>& i) { return std::string(i.param.name); });

TEST(RawSearch, UnknownPartitionHasNoUpperBound) {
  Rig rig;
  rig.Plant(2000 + 1000 * 512, "Z");  // past anything a size would allow
  DrivePacket unknown = Node(NodeKind::Unknown, 0);
  unknown.startSector = 1;
  SearchResult r = rig.Run(Hex({"5A"}, "1"), unknown);
  ASSERT_EQ(r.status, SearchStatus::Found);
  EXPECT_EQ(r.hit.sector, 1003u);
  EXPECT_EQ(r.hit.offset, 464u);
}

TEST(RawSearch, WorkerShowsTheHitThenSaysSoThenGoesIdle) {
  Rig rig;
  rig.Plant(300 * 512 + 40, "found me");
  ScriptedPrompt& prompt = rig.prompt;
  std::optional<SearchJob> job = PrepareRawSearch(prompt, Node(), Text("found me", "12"));
  ASSERT_TRUE(job);
  prompt.Clear();
  SearchFlags flags;
  RecordedSearchEvents events;
  BeginSearch(events, flags);
  EXPECT_TRUE(flags.running);
  // Started: only Stop can act.
  EXPECT_TRUE(events.Running());
  size_t messagesAtHit = 99;
  ListPaneState& pane = rig.pane;
  pane.Select({7});  // a row of what was on show before
  uint32_t hitRow = 99;
  events.onHit = [&](const SearchHit& hit) {
    messagesAtHit = prompt.Messages().size();
    ShowSearchHit(pane, prompt, *job, hit);
    hitRow = hit.Row();
  };
  SearchResult r = RunSearchWorker(rig.access, *job, flags, prompt, events);
  EXPECT_EQ(r.status, SearchStatus::Found);
  EXPECT_EQ(messagesAtHit, 0u);
  EXPECT_EQ(prompt.Messages(), std::vector<std::string>({"Search String Found!"}));
  EXPECT_FALSE(flags.running);
  // Ended: the text search's input open again, the bar back to 0.
  EXPECT_FALSE(events.Running());
  EXPECT_EQ(events.Ends(), 1);
  EXPECT_EQ(events.EndedMode(), SearchMode::Text);
  EXPECT_EQ(events.Steps(), 0u);
  EXPECT_EQ(events.Hits(), std::vector<uint32_t>({300}));

  // The pane: the node's raw dump at sector 300; the rows are new (the old
  // selection goes) and the window selects row 2.
  EXPECT_EQ(pane.viewKind, ViewKind::RawSectorDump);
  EXPECT_EQ(pane.pageIndex, 290u);
  EXPECT_EQ(pane.shownPacket.startSector, kFirst);
  EXPECT_EQ(pane.shownPacket.sectorCount, kVolumeSectors - kFirst);
  EXPECT_EQ(pane.rows.size(), 32u);
  EXPECT_EQ(pane.columns.size(), 34u);
  EXPECT_TRUE(pane.SelectedRows().empty());
  EXPECT_EQ(hitRow, 2u);
  EXPECT_EQ(prompt.Status(1), "Current Sector Number: 300");
  EXPECT_TRUE(pane.canGoPrevious && pane.canGoNext);
  EXPECT_EQ(rig.Row(2)[0], "00024420");  // 16 * (2 + 32 * 290)
  EXPECT_EQ(rig.Row(2)[9], "66");        // 'f' at offset 40
  // Paging goes on from the hit.
  rig.dev->Bytes()[301 * 512] = 0x77;
  ASSERT_TRUE(GoNext(rig.ctx, DumpModes{.sectorDump = false, .rawDump = true}));
  EXPECT_EQ(prompt.Status(1), "Current Sector Number: 301");
  EXPECT_EQ(rig.Row(0)[1], "77");

  // A hit in the volume's last sector leaves nothing to go on to; in the
  // node's first sector nothing to go back to.
  SearchHit last;
  last.sector = 999;
  last.index = 989;
  ShowSearchHit(pane, prompt, *job, last);
  EXPECT_TRUE(pane.canGoPrevious);
  EXPECT_FALSE(pane.canGoNext);
  SearchHit first;
  first.sector = kFirst;
  ShowSearchHit(pane, prompt, *job, first);
  EXPECT_FALSE(pane.canGoPrevious);
  EXPECT_TRUE(pane.canGoNext);

  // Not found and interrupted say so, and go idle the same way.
  prompt.Clear();
  events.onHit = nullptr;
  flags.stop = true;
  BeginSearch(events, flags);  // a new search clears the stop
  EXPECT_EQ(RunSearchWorker(rig.access, *job, flags, prompt, events).status, SearchStatus::Found);
  flags.running = true;
  flags.stop = true;
  EXPECT_EQ(RunSearchWorker(rig.access, *job, flags, prompt, events).status, SearchStatus::Interrupted);
  job->pattern = {'n', 'o', 'n', 'e'};
  BeginSearch(events, flags);
  EXPECT_EQ(RunSearchWorker(rig.access, *job, flags, prompt, events).status, SearchStatus::NotFound);
  EXPECT_EQ(events.Ends(), 4);
  EXPECT_EQ(prompt.Messages(), std::vector<std::string>({"Search String Found!", "Search Interrupted by user!",
                                                         "Search String not found!"}));
  // Only the hit is news; the other two warn.
  std::vector<PromptIcon> icons;
  for (const auto& e : prompt.Events())
    if (e.kind == ScriptedPrompt::Event::Message) icons.push_back(e.icon);
  EXPECT_EQ(icons, std::vector<PromptIcon>({PromptIcon::Information, PromptIcon::Exclamation,
                                            PromptIcon::Exclamation}));
}

TEST(RawSearch, WorkerThreadRunsUntilStoppedAndTheNextStartsAtOnce) {
  Rig rig;
  // A partition of unknown type: no upper bound, so only Stop ends it.
  DrivePacket unknown = Node(NodeKind::Unknown, 0);
  unknown.startSector = 1;
  std::optional<SearchJob> job = PrepareRawSearch(rig.prompt, unknown, Hex({"5A", "A5"}, "1"));
  ASSERT_TRUE(job);
  for (int round = 0; round < 2; ++round) {
    rig.prompt.Clear();
    rig.events.Clear();
    BeginSearch(rig.events, rig.flags);
    SearchResult result;
    std::thread worker([&] { result = RunSearchWorker(rig.access, *job, rig.flags, rig.prompt, rig.events); });
    // Stopped once it has searched a few blocks.
    while (rig.ProgressTexts().size() < 3) std::this_thread::yield();
    rig.flags.stop = true;
    worker.join();
    EXPECT_EQ(result.status, SearchStatus::Interrupted);
    EXPECT_FALSE(rig.flags.running);
    // The sectors past the disk's end could not be read: the message counts them.
    ASSERT_EQ(rig.prompt.Messages().size(), 1u);
    const std::string message = rig.prompt.Messages()[0];
    EXPECT_EQ(message.substr(0, 27), "Search Interrupted by user!");
    EXPECT_EQ(message, SearchResultMessage(result));
    EXPECT_FALSE(rig.events.Running());  // Search can be pressed again
  }
}

}  // namespace

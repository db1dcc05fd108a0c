// Disk Copy over 1.44 MB floppy images from mkfs.fat filled with files: the
// read pass once, every target equal to the source, bad tracks, Stop, Verify.
#include "tools/disk_copy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

#include "disk/le.h"

#include "tools/tool_rig.h"

namespace {

// The files the drive map names for the floppies (the rig binds devices only).
void SetFloppyFiles(DiskAccess& access, std::vector<std::string> files) {
  DriveMapConfig drives = access.Drives();
  drives.floppies = std::move(files);
  access.SetDrives(std::move(drives));
}

// A floppy whose every sector differs: files over the whole data area.
FatVolume FullFloppy(const TempDir& dir) {
  FatVolume v = MakeFloppy1440(dir.File("source.img"), "SOURCE");
  std::vector<uint8_t> bytes(1400 * 1024);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
  v.PutFile("::/FILL.BIN", bytes);
  return v;
}

// Targets from a list, as the CLI and the file dialog give them.
struct Targets {
  std::deque<std::string> paths;
  int asked = 0;
  std::optional<std::string> operator()() {
    ++asked;
    if (paths.empty()) return std::nullopt;
    std::string p = paths.front();
    paths.pop_front();
    return p;
  }
};

size_t Count(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

}  // namespace

TEST(DiskCopy, ThreeTargetsEqualTheSourceAndTheSourceIsReadOnce) {
  TempDir dir;
  const FatVolume source = FullFloppy(dir);
  const std::vector<uint8_t> original = ReadFileBytes(source.image);
  for (const bool verify : {false, true}) {
    LibraryRig rig({source.image}, {}, true);
    SetFloppyFiles(rig.access, {source.image});
    DiskCopyGeometry g;
    ASSERT_TRUE(StartDiskCopy(rig.access, {0, verify}, g));
    EXPECT_EQ(g.cylinders, 80u);
    EXPECT_EQ(g.heads, 2u);
    EXPECT_EQ(g.sectorsPerTrack, 18u);
    const std::string suffix = verify ? "-v.img" : ".img";
    Targets targets{{dir.File("t1" + suffix), dir.File("t2" + suffix), dir.File("t3" + suffix)}};
    // An existing target larger than the source keeps its tail.
    WriteFileBytes(dir.File("t3" + suffix), std::vector<uint8_t>(original.size() + 512, 0xAB));
    for (int i = 0; i < 2; ++i) rig.prompt.AnswerYes();
    rig.prompt.AnswerNo();
    DiskCopyControl control;
    control.nextImage = std::ref(targets);
    std::vector<std::pair<uint32_t, uint32_t>> progress;
    control.progress = [&](uint32_t pos, uint32_t range) { progress.emplace_back(pos, range); };
    int ended = 0;
    control.ended = [&] { ++ended; };
    const int readsBefore = rig.fault->reads;
    const DiskCopyResult r = RunDiskCopy(rig.access, {0, verify}, g, control);
    EXPECT_TRUE(r.readPassDone);
    EXPECT_EQ(r.targetsWritten, 3u);
    EXPECT_EQ(r.failedTracks, 0u);
    // Once for all three targets, in two runs the library takes a track at a
    // time: 160 tracks, one of them split between the runs; no sector twice.
    EXPECT_EQ(rig.fault->reads - readsBefore, 161);
    EXPECT_TRUE(rig.fault->writeLog.empty());
    for (const char* t : {"t1", "t2", "t3"}) {
      const std::vector<uint8_t> copy = ReadFileBytes(dir.File(t + suffix));
      ASSERT_GE(copy.size(), original.size()) << t;
      EXPECT_TRUE(std::equal(original.begin(), original.end(), copy.begin())) << t;
    }
    EXPECT_EQ(ReadFileBytes(dir.File("t3" + suffix)).back(), 0xAB);
    EXPECT_EQ(ReadFileBytes(dir.File("t1" + suffix)).size(), original.size());
    EXPECT_EQ(targets.asked, 3);
    const std::vector<std::string> said = rig.prompt.Messages();
    EXPECT_EQ(Count(said, "Copy over!  Write to another disk?"), 3u);
    EXPECT_EQ(Count(said, "Insert the target disk in drive and press OK"), 0u);
    // 80 steps a pass, from 0; the bar is not set back between targets.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), std::make_pair(0u, 80u));
    EXPECT_EQ(progress[80], std::make_pair(80u, 80u));
    EXPECT_EQ(progress[81], std::make_pair(0u, 80u));
    EXPECT_EQ(progress.back(), std::make_pair(0u, 80u));
    // Idle again: the end told once, after the bar went back to 0.
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(control.running);
  }
}

// The source is read in large runs; a run with bad sectors is read again
// sector by sector, so only those sectors fail. Ignored, they reach the
// target as filler, counted and told, every other sector as it was.
TEST(DiskCopy, AnIgnoredBadTrackKeepsItsReadableSectorsAndFillsTheRest) {
  TempDir dir;
  const FatVolume source = FullFloppy(dir);
  const std::vector<uint8_t> original = ReadFileBytes(source.image);
  LibraryRig rig({source.image}, {}, true);
  // Track (5, 1): sectors 5*36 + 18 .. +17; three of them unreadable.
  const uint64_t track = 5 * 36 + 18;
  rig.fault->badReadSectors = {track + 2, track + 3, track + 17};
  DiskCopyGeometry g;
  ASSERT_TRUE(StartDiskCopy(rig.access, {}, g));
  Targets targets{{dir.File("t.img")}};
  rig.prompt.Answer(PromptAnswer::Ignore);
  rig.prompt.AnswerNo();
  DiskCopyControl control;
  control.nextImage = std::ref(targets);
  const DiskCopyResult r = RunDiskCopy(rig.access, {}, g, control);
  EXPECT_EQ(r.targetsWritten, 1u);
  EXPECT_EQ(r.unreadableSectors, 3u);
  EXPECT_EQ(rig.prompt.Messages(),
            (std::vector<std::string>{"Disk failure during read operation!!",
                                      "3 sectors of the source could not be read: the copies hold filler "
                                      "bytes (E5) in their place!",
                                      "Copy over!  Write to another disk?"}));
  const std::vector<uint8_t> copy = ReadFileBytes(dir.File("t.img"));
  for (uint64_t s = 0; s < 2880; ++s) {
    const bool bad = rig.fault->badReadSectors.count(s) != 0;
    EXPECT_EQ(SectorSlice(copy, s), bad ? std::vector<uint8_t>(512, 0xE5) : SectorSlice(original, s)) << s;
  }
}

TEST(DiskCopy, StopVerifyAndTheEdgesOfTheGeometry) {
  TempDir dir;
  const FatVolume source = FullFloppy(dir);
  const std::vector<uint8_t> original = ReadFileBytes(source.image);
  {  // Stop Copy during the read pass, answered No: the copy goes on whole.
    LibraryRig rig({source.image}, {}, true);
    DiskCopyGeometry g;
    ASSERT_TRUE(StartDiskCopy(rig.access, {}, g));
    Targets targets{{dir.File("stop.img")}};
    DiskCopyControl control;
    control.nextImage = std::ref(targets);
    control.progress = [&](uint32_t pos, uint32_t) {
      if (pos == 3 && targets.asked == 0) control.stop = true;
    };
    rig.prompt.AnswerNo();  // Stop Operation?
    rig.prompt.AnswerNo();  // another disk?
    const DiskCopyResult r = RunDiskCopy(rig.access, {}, g, control);
    EXPECT_EQ(rig.prompt.Messages(),
              (std::vector<std::string>{"Stop Operation?", "Copy over!  Write to another disk?"}));
    EXPECT_EQ(r.failedTracks, 1u);
    EXPECT_EQ(r.targetsWritten, 1u);
    // The track the stop failed (cylinder 3, head 0) stayed as the image held it.
    const std::vector<uint8_t> copy = ReadFileBytes(dir.File("stop.img"));
    EXPECT_EQ(SectorSlice(copy, 3 * 36, 18), std::vector<uint8_t>(18 * 512, 0));
    EXPECT_EQ(SectorSlice(copy, 3 * 36 + 18, 18), SectorSlice(original, 3 * 36 + 18, 18));
  }
  {  // Answered Yes: the copy ends before any target is asked for.
    LibraryRig rig({source.image}, {}, true);
    DiskCopyGeometry g;
    ASSERT_TRUE(StartDiskCopy(rig.access, {}, g));
    Targets targets;
    DiskCopyControl control;
    control.nextImage = std::ref(targets);
    control.progress = [&](uint32_t pos, uint32_t) {
      if (pos == 1) control.stop = true;
    };
    rig.prompt.AnswerYes();
    const DiskCopyResult r = RunDiskCopy(rig.access, {}, g, control);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(targets.asked, 0);
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Stop Operation?"});
  }
  {  // The drive itself as the target, with Verify: a written track that reads
     // back differently.
    LibraryRig rig({source.image}, {}, true);
    DiskCopyGeometry g;
    ASSERT_TRUE(StartDiskCopy(rig.access, {0, true}, g));
    DiskCopyControl control;
    int zeros = 0;
    control.progress = [&](uint32_t pos, uint32_t) {
      if (pos == 0 && ++zeros == 2) rig.fault->badReadSectors = {40};  // after the read pass
    };
    rig.prompt.Answer(PromptAnswer::Ignore);  // the read-back's read failure
    rig.prompt.AnswerYes();                   // Stop Operation?
    const DiskCopyResult r = RunDiskCopy(rig.access, {0, true}, g, control);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(rig.prompt.Messages(),
              (std::vector<std::string>{"Insert the target disk in drive and press OK",
                                        "Disk failure during read operation!!", "Compare failed!!",
                                        "Stop Operation?"}));
  }
  {  // A total not a multiple of H x P: the sectors after the last whole
     // cylinder are neither read nor written.
    std::vector<uint8_t> odd = original;
    putLe16(odd, 19, 2870);
    const std::string path = dir.File("odd.img");
    WriteFileBytes(path, odd);
    LibraryRig rig({path}, {});
    DiskCopyGeometry g;
    ASSERT_TRUE(StartDiskCopy(rig.access, {}, g));
    EXPECT_EQ(g.cylinders, 79u);
    Targets targets{{dir.File("odd-copy.img")}};
    DiskCopyControl control;
    control.nextImage = std::ref(targets);
    (void)RunDiskCopy(rig.access, {}, g, control);
    const std::vector<uint8_t> copy = ReadFileBytes(dir.File("odd-copy.img"));
    ASSERT_EQ(copy.size(), 2870u * 512);
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + 2844 * 512, odd.begin()));
    EXPECT_EQ(SectorSlice(copy, 2844, 26), std::vector<uint8_t>(26 * 512, 0));
  }
  {  // No geometry, an unreadable boot sector, and the source as its own target.
    std::vector<uint8_t> flat = original;
    putLe16(flat, 26, 0);
    const std::string path = dir.File("flat.img");
    WriteFileBytes(path, flat);
    LibraryRig rig({path, source.image}, {}, true);
    SetFloppyFiles(rig.access, {path, source.image});
    DiskCopyGeometry g;
    EXPECT_FALSE(StartDiskCopy(rig.access, {}, g));
    rig.fault->badReadSectors = {0};
    EXPECT_FALSE(StartDiskCopy(rig.access, {}, g));
    ASSERT_TRUE(StartDiskCopy(rig.access, {1, false}, g));
    Targets targets{{source.image}};
    DiskCopyControl control;
    control.nextImage = std::ref(targets);
    const DiskCopyResult r = RunDiskCopy(rig.access, {1, false}, g, control);
    EXPECT_EQ(r.targetsWritten, 0u);
    EXPECT_EQ(rig.prompt.Messages(),
              (std::vector<std::string>{kCopyNoGeometry, "Boot Record not accessible!!", kCopyTargetIsSource,
                                        "Copy over!  Write to another disk?"}));
    EXPECT_TRUE(ReadFileBytes(source.image) == original);
  }
}

// The dialog's way: the copy on a worker thread, Stop pressed on this one.
// The worker asks, gets Yes, ends stopped, and clears the running flag last.
TEST(DiskCopy, WorkerThreadStopsWhenTheDialogThreadAsks) {
  TempDir dir;
  const FatVolume source = FullFloppy(dir);
  LibraryRig rig({source.image}, {}, true);
  DiskCopyGeometry g;
  ASSERT_TRUE(StartDiskCopy(rig.access, {}, g));
  Targets targets{{dir.File("copy.img")}};
  DiskCopyControl control;
  control.nextImage = std::ref(targets);
  std::atomic<uint32_t> steps{0};
  // The worker waits at its fourth step until Stop is pressed, so the press
  // always falls inside the read pass however the threads are scheduled.
  control.progress = [&](uint32_t, uint32_t) {
    if (++steps == 4)
      while (!control.stop) std::this_thread::yield();
  };
  rig.prompt.AnswerYes();  // Stop Operation?
  control.running = true;
  DiskCopyResult result;
  std::thread worker([&] { result = RunDiskCopy(rig.access, {}, g, control); });
  while (steps < 4) std::this_thread::yield();
  control.stop = true;
  worker.join();
  EXPECT_FALSE(control.running);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.targetsWritten, 0u);
  EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Stop Operation?"});
}

// No drive the program has open may become a target: writing the floppy over
// it would change a disk under the tree (the hard disk's partitions gone).
struct TargetCase {
  const char* name;
  const char* target;  // a file of the test folder; "@" + name for a link to it
  const char* refusal;  // "" when it may be written; %s for the path given
};

class DiskCopyTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(DiskCopyTarget, NoOpenDriveIsATarget) {
  const TargetCase& c = GetParam();
  TempDir dir;
  const FatVolume source = MakeFloppy1440(dir.File("source.img"), "SOURCE");
  const FatVolume other = MakeFloppy1440(dir.File("other.img"), "OTHER");
  ASSERT_TRUE(MakeBlankFile(dir.File("disk.img"), 4096 * 512));
  ASSERT_TRUE(MakeBlankFile(dir.File("disk2.img"), 4096 * 512));
  std::string target = c.target;
  if (target[0] == '@') {
    target = target.substr(1);
    std::filesystem::create_symlink(dir.File(target), dir.File("link.img"));
    target = "link.img";
  }
  const std::string path = dir.File(target);
  LibraryRig rig({source.image, other.image}, {dir.File("disk.img"), dir.File("disk2.img")});
  std::string expected = c.refusal;
  if (const size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);
  EXPECT_EQ(DiskCopyTargetRefusal(rig.access, 0, path), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskCopyTarget,
    ::testing::Values(
        TargetCase{"source", "source.img", "The target is the source disk's own image: it is not written!"},
        TargetCase{"other_floppy", "other.img", "The target %s is Floppy Disk 2, open in this program: it is not written!"},
        TargetCase{"hard_disk", "disk.img", "The target %s is Hard Disk 1, open in this program: it is not written!"},
        TargetCase{"second_hard_disk", "disk2.img",
                   "The target %s is Hard Disk 2, open in this program: it is not written!"},
        TargetCase{"link_to_hard_disk", "@disk.img",
                   "The target %s is Hard Disk 1, open in this program: it is not written!"},
        TargetCase{"new_file", "new.img", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Replacing an image that held something keeps an undo file of it, as every
// other write does; the refused hard disk is not written at all.
TEST(DiskCopy, ReplacingAnImageKeepsAnUndoFileAndAnOpenDriveIsNotWritten) {
  TempDir dir;
  const FatVolume source = FullFloppy(dir);
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const std::vector<uint8_t> diskBytes = ReadFileBytes(disk.image);
  const std::vector<uint8_t> old(1474560, 0x5C);
  ASSERT_TRUE(WriteFileBytes(dir.File("old.img"), old));
  LibraryRig rig({source.image}, {disk.image});
  DriveMapConfig drives = rig.access.Drives();
  drives.undo = true;
  drives.undoDir = dir.File("undo");
  rig.access.SetDrives(std::move(drives));
  DiskCopyGeometry g;
  ASSERT_TRUE(StartDiskCopy(rig.access, {0, false}, g));
  Targets targets{{disk.image, dir.File("old.img")}};
  rig.prompt.AnswerYes();  // another target after the refused one
  rig.prompt.AnswerNo();   // none after old.img
  DiskCopyControl control;
  control.nextImage = std::ref(targets);
  const DiskCopyResult r = RunDiskCopy(rig.access, {0, false}, g, control);
  EXPECT_EQ(r.targetsWritten, 1u);
  EXPECT_TRUE(ReadFileBytes(disk.image) == diskBytes) << "the open hard disk was written";
  EXPECT_TRUE(ReadFileBytes(dir.File("old.img")) == ReadFileBytes(source.image));
  size_t undoFiles = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("undo")))
    undoFiles += e.path().filename().string().find("old.img") != std::string::npos;
  EXPECT_EQ(undoFiles, 1u);
}

// The drive itself as the target, a sector of it failing after the read pass.
// A sector the sector-wise pass cannot move is never taken for moved: a
// write is counted and told, a read-back fails the compare even where the
// source sector holds the zeros the read-back buffer starts with.
struct TargetSectorCase {
  const char* name;
  bool write;  // the sector fails to be written; else to be read back (Verify)
  std::vector<std::string> said;
  uint32_t unwritten;
};

class DiskCopyTargetSector : public testing::TestWithParam<TargetSectorCase> {};

TEST_P(DiskCopyTargetSector, AFailedSectorIsNeverPassedOffAsMoved) {
  const TargetSectorCase& row = GetParam();
  TempDir dir;
  const FatVolume source = FullFloppy(dir);
  // Sector 25 lies in the root folder after its only entries: all zeros.
  constexpr uint64_t kSector = 25;
  ASSERT_EQ(SectorSlice(ReadFileBytes(source.image), kSector), std::vector<uint8_t>(512, 0));
  LibraryRig rig({source.image}, {}, true);
  const DiskCopyOptions options{0, !row.write};
  DiskCopyGeometry g;
  ASSERT_TRUE(StartDiskCopy(rig.access, options, g));
  DiskCopyControl control;
  int zeros = 0;
  control.progress = [&](uint32_t pos, uint32_t) {
    if (pos != 0 || ++zeros != 2) return;  // after the read pass
    (row.write ? rig.fault->badWriteSectors : rig.fault->badReadSectors) = {kSector};
  };
  rig.prompt.Answer(PromptAnswer::Ignore);  // the whole track's failure
  // Yes to "Stop Operation?" after a failed compare; No to another disk.
  if (row.write)
    rig.prompt.AnswerNo();
  else
    rig.prompt.AnswerYes();
  const DiskCopyResult r = RunDiskCopy(rig.access, options, g, control);
  EXPECT_EQ(rig.prompt.Messages(), row.said);
  EXPECT_EQ(r.unwrittenSectors, row.unwritten);
  EXPECT_EQ(r.targetsWritten, row.write ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DiskCopyTargetSector,
    testing::Values(
        TargetSectorCase{"write", true,
                         {"Insert the target disk in drive and press OK", "Disk failure during write operation!!",
                          "1 sectors of the target could not be written: it is not a whole copy!",
                          "Copy over!  Write to another disk?"},
                         1},
        TargetSectorCase{"read_back", false,
                         {"Insert the target disk in drive and press OK", "Disk failure during read operation!!",
                          "Compare failed!!", "Stop Operation?"},
                         0}),
    [](const auto& info) { return std::string(info.param.name); });

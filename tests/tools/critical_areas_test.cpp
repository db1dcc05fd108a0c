// Backup and restore of the critical areas over real images: a disk made by
// sfdisk and mkfs.fat, a sparse disk whose partitions lie past cylinder 1023,
// and 1.44 MB floppies from mkfs.fat, some with faults.
#include "tools/critical_areas.h"

#include <gtest/gtest.h>

#include "disk/le.h"
#include "fixtures/recorded_events.h"
#include "tools/tool_rig.h"

namespace {

constexpr uint32_t kFloppyData = 33;  // first data sector of a 1.44 MB floppy

std::vector<uint8_t> Zeros() { return std::vector<uint8_t>(512, 0); }

// An MBR of one entry of `type` at LBA `start` (CHS under 255/63).
std::vector<uint8_t> OneEntryMbr(uint8_t type, uint32_t start) {
  std::vector<uint8_t> mbr(512, 0);
  mbr[0x1BE + 1] = static_cast<uint8_t>((start / 63) % 255);
  mbr[0x1BE + 2] = static_cast<uint8_t>(start % 63 + 1);
  mbr[0x1BE + 4] = type;
  putLe32(mbr, 0x1BE + 8, start);
  putLe32(mbr, 0x1BE + 12, 2048);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  return mbr;
}

}  // namespace

TEST(CriticalAreas, BackupThenRestoreBringsBackEveryWipedSectorOfTheSampleDisk) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::vector<uint64_t> critical = SampleCriticalSectors(disk);
  const std::vector<uint8_t> original = ReadFileBytes(disk.image);
  {
    LibraryRig rig({floppy.image}, {disk.image});
    RecordedCriticalAreaEvents events;
    const CriticalAreaResult r = BackupCriticalAreas(rig.access, {0, 0x80, true}, &events);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Backup completed successfully!"});
    ASSERT_EQ(r.saved.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(r.saved[i].cluster, 2 + i);
      EXPECT_EQ(r.saved[i].diskSector, critical[i]);
      EXPECT_EQ(SectorOf(floppy.image, kFloppyData + i), SectorOf(disk.image, critical[i])) << i;
    }
    EXPECT_EQ(events.texts,
              (std::vector<std::string>{"Partition Table....", "Boot Record....",
                                        "Partition Table....", "Boot Record....",
                                        "Partition Table....", "Boot Record....", ""}));
    EXPECT_EQ(rig.prompt.Status(0), "");
  }
  // The backup writes raw slots only: the floppy's own file system is whole.
  EXPECT_TRUE(floppy.Check());
  for (const uint64_t s : critical) PutSector(disk.image, s, Zeros());
  {
    LibraryRig rig({floppy.image}, {disk.image});
    const CriticalAreaResult r = RestoreCriticalAreas(rig.access, {});
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Restore completed successfully!"});
    EXPECT_EQ(r.written, critical);
  }
  EXPECT_TRUE(ReadFileBytes(disk.image) == original) << "the disk differs from before the wipe";
  EXPECT_TRUE(disk.fat12.Check() && disk.fat16.Check() && disk.fat32.Check());
}

TEST(CriticalAreas, RestoreGroupsAreWrittenOnlyWhenAskedFor) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::vector<uint64_t> critical = SampleCriticalSectors(disk);
  const std::vector<uint8_t> original = ReadFileBytes(disk.image);
  {
    LibraryRig rig({floppy.image}, {disk.image});
    ASSERT_TRUE(BackupCriticalAreas(rig.access, {}).completed);
  }
  // Boot records only: the tables on the disk stay as they are (here, a
  // damaged FAT16 boot record is mended while the live MBR keeps a change).
  PutSector(disk.image, disk.fat16Start, Zeros());
  std::vector<uint8_t> mbr = SectorOf(disk.image, 0);
  mbr[0x1B8] ^= 0xFF;  // the disk signature, changed after the backup
  PutSector(disk.image, 0, mbr);
  {
    LibraryRig rig({floppy.image}, {disk.image});
    RestoreOptions o;
    o.partitionTables = false;
    const CriticalAreaResult r = RestoreCriticalAreas(rig.access, o);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.written, (std::vector<uint64_t>{critical[1], critical[3], critical[5]}));
  }
  EXPECT_EQ(SectorOf(disk.image, 0), mbr);
  EXPECT_EQ(SectorOf(disk.image, disk.fat16Start),
            std::vector<uint8_t>(original.begin() + disk.fat16Start * 512,
                                 original.begin() + disk.fat16Start * 512 + 512));
  // Neither group: everything is read and tested, nothing written, and the
  // run still says it completed.
  PutSector(disk.image, disk.fat16Start, Zeros());
  {
    LibraryRig rig({floppy.image}, {disk.image});
    RestoreOptions o;
    o.partitionTables = false;
    o.bootRecords = false;
    const CriticalAreaResult r = RestoreCriticalAreas(rig.access, o);
    EXPECT_TRUE(r.completed);
    EXPECT_TRUE(r.written.empty());
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Restore completed successfully!"});
  }
  EXPECT_EQ(SectorOf(disk.image, disk.fat16Start), Zeros());
}

// A disk over 8.4 GB: every partition starts past cylinder 1023, where the
// entries' CHS bytes are saturated (1023/254/63). Addressed by those bytes the
// backup would save the sector at that CHS, and the restore would write boot
// records over it.
TEST(CriticalAreas, PartitionsPastCylinder1023AreAddressedByTheirLba) {
  TempDir dir;
  const std::string image = dir.File("big.img");
  const uint32_t total = 41943040;  // 20 GiB, sparse
  const uint32_t primary = 16779264, extended = 20971520, logical1 = 20973568,
                 logical2 = 21041152;
  ASSERT_TRUE(PartitionImage(image, total,
                             "start=16779264, size=65536, type=6\n"
                             "start=20971520, size=1048576, type=f\n"
                             "start=20973568, size=65536, type=6\n"
                             "start=21041152, size=8192, type=1\n"));
  const FatVolume v16 = FormatPartition(image, primary, 65536, 16, "-n PRIMARY");
  const FatVolume l16 = FormatPartition(image, logical1, 65536, 16, "-n LOGICAL1");
  const FatVolume l12 = FormatPartition(image, logical2, 8192, 12, "-n LOGICAL2");
  const std::vector<uint8_t> ebr1 = SectorOf(image, extended);
  const uint64_t ebr2 = extended + le32(ebr1, 0x1BE + 16 + 8);
  const std::vector<uint64_t> critical = {0, primary, extended, logical1, ebr2, logical2};
  // The saturated CHS names this sector under 255/63; a marker shows any write.
  const uint64_t saturated = (1023ull * 255 + 254) * 63 + 62;
  std::vector<uint8_t> marker(512, 0x5A);
  PutSector(image, saturated, marker);
  std::vector<std::vector<uint8_t>> saved;
  for (const uint64_t s : critical) saved.push_back(SectorOf(image, s));
  {
    const std::vector<uint8_t> mbr = SectorOf(image, 0);
    const DiskSectorAddress a = EntryAddress(mbr, 0, true, 0, extended, 255, 63);
    EXPECT_FALSE(a.chsMatches);
    EXPECT_EQ(a.lba, primary);
    const DiskSectorAddress link = EntryAddress(ebr1, 1, false, extended, extended, 255, 63);
    EXPECT_EQ(link.lba, ebr2);
  }

  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  {
    LibraryRig rig({floppy.image}, {image});
    const CriticalAreaResult r = BackupCriticalAreas(rig.access, {0, 0x80, true});
    ASSERT_TRUE(r.completed) << r.message;
    for (size_t i = 0; i < 6; ++i)
      EXPECT_EQ(SectorOf(floppy.image, kFloppyData + i), saved[i]) << i;
  }
  for (const uint64_t s : critical) PutSector(image, s, Zeros());
  {
    LibraryRig rig({floppy.image}, {image});
    const CriticalAreaResult r = RestoreCriticalAreas(rig.access, {});
    ASSERT_TRUE(r.completed) << r.message;
    EXPECT_EQ(r.written, critical);
  }
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(SectorOf(image, critical[i]), saved[i]) << i;
  EXPECT_EQ(SectorOf(image, saturated), marker);
  EXPECT_TRUE(v16.Check() && l16.Check() && l12.Check());
}

TEST(CriticalAreas, SlotsSkipBadClustersAndAMissingFatEntryKeepsAZeroSlot) {
  TempDir dir;
  // An MBR whose first entry is an extended partition of type 0x0F: it is both
  // the FAT entry (its first sector, the EBR, is saved as the boot record) and
  // the link. The EBR holds only a link-less logical entry of type 0x83, so its
  // boot slot is zero-filled.
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(MakeBlankFile(image, 8192 * 512));
  std::vector<uint8_t> mbr = OneEntryMbr(0x0F, 2048);
  PutSector(image, 0, mbr);
  std::vector<uint8_t> ebr = OneEntryMbr(0x83, 63);
  ebr[0] = 0xEB;
  PutSector(image, 2048, ebr);

  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  // Cluster 2 bad (still used), cluster 4 bad (skipped): FAT12 entries 2 and 4.
  std::vector<uint8_t> fat = SectorOf(floppy.image, 1);
  auto setBad = [&](uint32_t c) {
    const size_t at = c * 3 / 2;
    uint16_t w = static_cast<uint16_t>(fat[at] | fat[at + 1] << 8);
    w = (c & 1) ? static_cast<uint16_t>((w & 0x000F) | 0xFF70) : static_cast<uint16_t>((w & 0xF000) | 0x0FF7);
    fat[at] = static_cast<uint8_t>(w);
    fat[at + 1] = static_cast<uint8_t>(w >> 8);
  };
  setBad(2);
  setBad(4);
  PutSector(floppy.image, 1, fat);
  PutSector(floppy.image, 10, fat);
  // Whatever lay in the zero slot's cluster is overwritten with zeros.
  PutSector(floppy.image, kFloppyData + 3, std::vector<uint8_t>(512, 0x77));

  LibraryRig rig({floppy.image}, {image}, true);
  // FAT 1 unreadable: the backup goes on with FAT 2.
  rig.fault->badReadSectors = {1};
  const CriticalAreaResult r = BackupCriticalAreas(rig.access, {});
  ASSERT_TRUE(r.completed) << r.message;
  ASSERT_EQ(r.saved.size(), 4u);
  EXPECT_EQ(r.saved[0].cluster, 2u);  // bad, used all the same
  EXPECT_EQ(r.saved[1].cluster, 3u);
  EXPECT_EQ(r.saved[2].cluster, 5u);  // past bad cluster 4
  EXPECT_EQ(r.saved[3].cluster, 6u);
  EXPECT_TRUE(r.saved[3].empty);
  auto slot = [&](uint32_t cluster) {
    const auto& b = rig.fault->Bytes();
    const size_t at = (kFloppyData + cluster - 2) * 512;
    return std::vector<uint8_t>(b.begin() + at, b.begin() + at + 512);
  };
  EXPECT_EQ(slot(2), mbr);
  EXPECT_EQ(slot(3), ebr);  // the 0x0F entry's first sector as the boot record
  EXPECT_EQ(slot(5), ebr);  // the same sector as the chain's first table
  EXPECT_EQ(slot(6), Zeros());

  // The restore walks the same slots past the same bad cluster.
  rig.prompt.Clear();
  PutSector(image, 0, Zeros());
  const CriticalAreaResult back = RestoreCriticalAreas(rig.access, {});
  ASSERT_TRUE(back.completed) << back.message;
  EXPECT_EQ(back.written, (std::vector<uint64_t>{0, 2048, 2048}));
  EXPECT_EQ(SectorOf(image, 0), mbr);
}

TEST(CriticalAreas, FailuresAreReportedAndEndTheRun) {
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::vector<uint8_t> blank = ReadFileBytes(floppy.image);

  {  // No FAT partition: nothing written.
    const std::string other = dir.File("linux.img");
    ASSERT_TRUE(PartitionImage(other, 8192, "start=2048, size=2048, type=7\nstart=4096, size=2048, type=83\n"));
    LibraryRig rig({floppy.image}, {other});
    const CriticalAreaResult r = BackupCriticalAreas(rig.access, {});
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(rig.prompt.Messages(),
              std::vector<std::string>{"No known FAT partitions present, cannot backup"});
    EXPECT_TRUE(ReadFileBytes(floppy.image) == blank);
  }
  {  // With verify, a slot that does not read back.
    LibraryRig rig({floppy.image}, {disk.image}, true);
    rig.fault->badReadSectors = {kFloppyData + 1};
    const CriticalAreaResult r = BackupCriticalAreas(rig.access, {0, 0x80, true});
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Data Error on the floppy!"});
    EXPECT_EQ(r.saved.size(), 1u);
  }
  {  // A slot that cannot be written.
    LibraryRig rig({floppy.image}, {disk.image}, true);
    rig.fault->badWriteSectors = {kFloppyData};
    (void)BackupCriticalAreas(rig.access, {});
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Backup failed on the floppy!"});
  }
  {  // Both FATs unreadable; then the boot sector itself.
    LibraryRig rig({floppy.image}, {disk.image}, true);
    rig.fault->badReadSectors = {1, 10};
    (void)BackupCriticalAreas(rig.access, {});
    (void)RestoreCriticalAreas(rig.access, {});
    rig.fault->badReadSectors = {0};
    (void)BackupCriticalAreas(rig.access, {});
    (void)RestoreCriticalAreas(rig.access, {});
    EXPECT_EQ(rig.prompt.Messages(),
              (std::vector<std::string>{"Floppy disk FAT not accessible!", "Floppy disk FAT not accessible!",
                                        "Floppy disk boot sector not accessible!",
                                        "Floppy disk boot sector not accessible!"}));
  }
  {  // A boot sector without sectors per cluster gives no layout.
    std::vector<uint8_t> bytes = blank;
    bytes[13] = 0;
    const std::string zero = dir.File("zero-spc.img");
    ASSERT_TRUE(WriteFileBytes(zero, bytes));
    LibraryRig rig({zero}, {disk.image});
    (void)BackupCriticalAreas(rig.access, {});
    (void)RestoreCriticalAreas(rig.access, {});
    EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{kFloppyNoLayout, kFloppyNoLayout}));
    EXPECT_TRUE(ReadFileBytes(zero) == bytes);
  }
  {  // Restore: an unreadable slot stops before anything further is written.
    LibraryRig rig({floppy.image}, {disk.image}, true);
    ASSERT_TRUE(BackupCriticalAreas(rig.access, {}).completed);
    rig.prompt.Clear();
    rig.fault->badReadSectors = {kFloppyData + 2};
    const CriticalAreaResult r = RestoreCriticalAreas(rig.access, {});
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Restore failed in the floppy!"});
    EXPECT_EQ(r.written, (std::vector<uint64_t>{0, disk.fat16Start}));
  }
  {  // A hard disk whose boot record cannot be read.
    const std::string cut = dir.File("cut.img");
    ASSERT_TRUE(PartitionImage(cut, 8192, "start=2048, size=2048, type=6\n"));
    std::filesystem::resize_file(cut, 2048 * 512);  // the partition lies past the end
    LibraryRig rig({floppy.image}, {cut});
    (void)BackupCriticalAreas(rig.access, {});
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{"Hard disk boot record not accessible!"});
  }
}

TEST(CriticalAreas, OpeningRefusesWithoutTheLibraryAFloppyOrAHardDisk) {
  TempDir dir;
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  CriticalAreaDrives drives;
  {
    LibraryRig rig({floppy.image}, {disk.image});
    EXPECT_TRUE(OpenCriticalAreaDrives(rig.access, CriticalAreaTool::Backup, drives));
    EXPECT_EQ(drives.floppies, 1u);
    EXPECT_EQ(drives.hardDisks, 1u);
  }
  {
    LibraryRig rig({}, {disk.image});
    EXPECT_FALSE(OpenCriticalAreaDrives(rig.access, CriticalAreaTool::Backup, drives));
    EXPECT_FALSE(OpenCriticalAreaDrives(rig.access, CriticalAreaTool::Restore, drives));
    EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{"No Floppy drives to backup to!",
                                                               "No Floppy drives to restore from!"}));
  }
  {
    LibraryRig rig({floppy.image}, {});
    EXPECT_FALSE(OpenCriticalAreaDrives(rig.access, CriticalAreaTool::Backup, drives));
    EXPECT_FALSE(OpenCriticalAreaDrives(rig.access, CriticalAreaTool::Restore, drives));
    EXPECT_EQ(rig.prompt.Messages(), (std::vector<std::string>{"No Hard drives to backup from!",
                                                               "No Hard drives to be restored!"}));
  }
  {
    DriveMapConfig config;
    config.floppies = {floppy.image};
    config.disks = {disk.image};
    TestDrives direct(TestDrives::Direct);
    direct.AddFiles(config);
    direct.Bind();
    ScriptedPrompt& prompt = direct.prompt;
    DiskAccess& access = direct.access;
    EXPECT_FALSE(OpenCriticalAreaDrives(access, CriticalAreaTool::Backup, drives));
    EXPECT_FALSE(OpenCriticalAreaDrives(access, CriticalAreaTool::Restore, drives));
    EXPECT_EQ(prompt.Messages(),
              (std::vector<std::string>{
                  "Sorry Backup not possible with --direct, only through libsect32.so!",
                  "Sorry Restore not possible with --direct, only through libsect32.so!"}));
  }
}

// The backup keeps its slots in CRITICAL.BAK, so the floppy stays a sound FAT
// volume; files lying in the slots are named and kept unless the person lets
// them go, and the restore reads the slots back either way.
struct BackupFloppyCase {
  const char* name;
  bool withFiles;       // the sample floppy (files in clusters 2 on), else a blank one
  bool backedUpBefore;  // a backup made already: its own file is overwritten unasked
  bool answerYes;       // to the question, when asked
  bool asked;
  bool completed;
};

class BackupFloppy : public ::testing::TestWithParam<BackupFloppyCase> {};

TEST_P(BackupFloppy, AsksBeforeFilesAreLostAndLeavesASoundVolume) {
  const BackupFloppyCase& c = GetParam();
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = c.withFiles ? MakeSampleFloppy(dir.File("floppy.img"))
                                       : MakeFloppy1440(dir.File("floppy.img"));
  const std::vector<uint64_t> critical = SampleCriticalSectors(disk);
  const std::vector<uint8_t> original = ReadFileBytes(disk.image);
  if (c.backedUpBefore) {
    LibraryRig rig({floppy.image}, {disk.image});
    rig.prompt.Answer(PromptAnswer::Yes);
    ASSERT_TRUE(BackupCriticalAreas(rig.access, {}).completed);
  }
  const std::vector<uint8_t> before = ReadFileBytes(floppy.image);
  {
    LibraryRig rig({floppy.image}, {disk.image});
    rig.prompt.Answer(c.answerYes ? PromptAnswer::Yes : PromptAnswer::No);
    const CriticalAreaResult r = BackupCriticalAreas(rig.access, {0, 0x80, true});
    EXPECT_EQ(r.completed, c.completed) << r.message;
    std::vector<ScriptedPrompt::Event> questions;
    for (const auto& e : rig.prompt.Events())
      if (e.kind == ScriptedPrompt::Event::YesNo) questions.push_back(e);
    ASSERT_EQ(questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_TRUE(questions[0].noByDefault);
      EXPECT_EQ(questions[0].text,
                "The backup goes into the floppy's clusters 2 to 7, where these files and folders are now. "
                "They would be lost:\n/DOCS/ (with all it holds)\n/GAMES/ (with all it holds)\n"
                "/README.TXT\nOverwrite them?");
    }
    if (!c.completed) {
      EXPECT_EQ(rig.prompt.Messages().back(), kBackupFilesKept);
      EXPECT_TRUE(ReadFileBytes(floppy.image) == before) << "a refused backup wrote the floppy";
      return;
    }
  }
  std::string report;
  EXPECT_TRUE(floppy.Check(&report)) << report;
  EXPECT_EQ(floppy.Clusters("::/CRITICAL.BAK"), (std::vector<uint32_t>{2, 3, 4, 5, 6, 7}));
  if (c.withFiles)  // what lay outside the slots stays
    EXPECT_EQ(floppy.ReadFile("::/EMPTY.TXT"), std::vector<uint8_t>{});
  for (const uint64_t s : critical) PutSector(disk.image, s, Zeros());
  {
    LibraryRig rig({floppy.image}, {disk.image});
    const CriticalAreaResult r = RestoreCriticalAreas(rig.access, {});
    ASSERT_TRUE(r.completed) << r.message;
  }
  EXPECT_TRUE(ReadFileBytes(disk.image) == original);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupFloppy,
    ::testing::Values(BackupFloppyCase{"blank", false, false, false, false, true},
                      BackupFloppyCase{"files_kept", true, false, false, true, false},
                      BackupFloppyCase{"files_given_up", true, false, true, true, true},
                      BackupFloppyCase{"again_over_its_own_file", false, true, false, false, true},
                      BackupFloppyCase{"again_over_files_given_up", true, true, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A restore writes only what a backup saved: a floppy with no CRITICAL.BAK is
// taken for a backup only when its first slot holds a partition table (as
// backups made before the file existed left it); otherwise its cluster 2
// would land on the master boot record.
struct RestoreSourceCase {
  const char* name;
  int slot2;  // 0: as formatted; 1: the MBR written raw; 2: text
  bool restored;
};

class RestoreSource : public ::testing::TestWithParam<RestoreSourceCase> {};

TEST_P(RestoreSource, AFloppyWithoutABackupIsRefused) {
  const RestoreSourceCase& c = GetParam();
  TempDir dir;
  const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
  const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
  const std::vector<uint8_t> original = ReadFileBytes(disk.image);
  const std::vector<uint64_t> critical = SampleCriticalSectors(disk);
  for (size_t i = 0; c.slot2 == 1 && i < critical.size(); ++i)
    PutSector(floppy.image, kFloppyData + i, SectorOf(disk.image, critical[i]));
  if (c.slot2 == 2) PutSector(floppy.image, kFloppyData, std::vector<uint8_t>(512, 'x'));
  std::vector<uint8_t> mbr = SectorOf(disk.image, 0);
  mbr[0x1B8] ^= 0xFF;  // a change a restore would undo
  PutSector(disk.image, 0, mbr);
  const std::vector<uint8_t> before = ReadFileBytes(disk.image);
  LibraryRig rig({floppy.image}, {disk.image});
  const CriticalAreaResult r = RestoreCriticalAreas(rig.access, {});
  EXPECT_EQ(r.completed, c.restored) << r.message;
  if (c.restored) {
    EXPECT_TRUE(ReadFileBytes(disk.image) == original);
  } else {
    EXPECT_EQ(rig.prompt.Messages(), std::vector<std::string>{kRestoreNoBackup});
    EXPECT_TRUE(ReadFileBytes(disk.image) == before) << "a floppy without a backup was restored";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RestoreSource,
                         ::testing::Values(RestoreSourceCase{"blank", 0, false},
                                           RestoreSourceCase{"saved_before_the_file", 1, true},
                                           RestoreSourceCase{"text", 2, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The drive map: drive arguments, the form handed to the library, geometry,
// and the scan of the system's block devices.
#include "disk/drive_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disk/le.h"
#include "disk/sect32_engine.h"
#include "fixtures/image_builder.h"
#include "fixtures/test_drives.h"

namespace {

namespace fs = std::filesystem;

void MakeSizedFile(const std::string& path, uint64_t bytes) {
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  fs::resize_file(path, bytes);
}

TEST(DriveMap, BareFilesAreFloppiesOnlyAtStandardFloppySizes) {
  TempDir dir;
  for (uint64_t kib : {160, 180, 320, 360, 720, 1200, 1440, 2880}) {
    const std::string f = dir.File("f" + std::to_string(kib));
    MakeSizedFile(f, kib * 1024);
    EXPECT_TRUE(LooksLikeFloppy(f)) << kib;
  }
  for (uint64_t bytes : {uint64_t{1474560 + 512}, uint64_t{1474560 - 512}, uint64_t{64} << 20, uint64_t{0}}) {
    const std::string f = dir.File("d" + std::to_string(bytes));
    MakeSizedFile(f, bytes);
    EXPECT_FALSE(LooksLikeFloppy(f)) << bytes;
  }
  EXPECT_TRUE(LooksLikeFloppy("/dev/fd0"));
  EXPECT_FALSE(LooksLikeFloppy(dir.Path()));
  EXPECT_FALSE(LooksLikeFloppy(dir.File("missing")));
}

TEST(DriveMap, ParseDriveArgs) {
  TempDir dir;
  const std::string fd = dir.File("fd.img"), hd = dir.File("hd.img");
  MakeSizedFile(fd, 1474560);
  MakeSizedFile(hd, 10 << 20);
  DriveArgsResult r = ParseDriveArgs({"--disk", "/dev/sdz", "--read-only", hd, "--floppy", "/x/a.img", fd,
                                      "--direct", "drives", "--disk", "later"});
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.namedDrives);
  EXPECT_EQ(r.config.floppies, (std::vector<std::string>{"/x/a.img", fd}));
  EXPECT_EQ(r.config.disks, (std::vector<std::string>{"/dev/sdz", hd}));
  EXPECT_TRUE(r.config.readOnly);
  EXPECT_TRUE(r.config.direct);
  // The first word that is neither an option nor a file ends the drives.
  EXPECT_EQ(r.rest, (std::vector<std::string>{"drives", "--disk", "later"}));

  DriveArgsResult none = ParseDriveArgs({"--read-only", "drives"});
  EXPECT_FALSE(none.namedDrives);
  EXPECT_TRUE(none.config.readOnly);
  EXPECT_FALSE(none.config.direct);
  EXPECT_TRUE(none.config.floppies.empty() && none.config.disks.empty());
  EXPECT_EQ(none.rest, std::vector<std::string>{"drives"});

  // A command word ends the drives even where a file or folder of that
  // name exists (run from a folder that has a "scan" folder in it).
  const std::string scan = dir.File("scan");
  std::filesystem::create_directory(scan);
  const auto isCommand = [&](const std::string& w) { return w == scan; };
  EXPECT_EQ(ParseDriveArgs({hd, scan, "1"}, isCommand).rest, (std::vector<std::string>{scan, "1"}));
  EXPECT_EQ(ParseDriveArgs({hd, scan, "1"}).config.disks, (std::vector<std::string>{hd, scan}));

  EXPECT_EQ(ParseDriveArgs({"--floppy"}).error, "--floppy needs a file");
  EXPECT_EQ(ParseDriveArgs({hd, "--disk"}).error, "--disk needs a file");
}

TEST(DriveMap, SerializeRoundTrip) {
  DriveMapConfig c;
  c.floppies = {"/img/a.img", "/img/b b.img"};
  c.disks = {"/dev/sda", "/img/disk two.img"};
  c.readOnly = true;
  const std::string text = c.Serialize();
  EXPECT_EQ(text, "readonly\n00 /img/a.img\n01 /img/b b.img\n80 /dev/sda\n81 /img/disk two.img\n");
  DriveMapConfig back;
  ASSERT_TRUE(DriveMapConfig::Deserialize(text, back));
  EXPECT_EQ(back.floppies, c.floppies);
  EXPECT_EQ(back.disks, c.disks);
  EXPECT_TRUE(back.readOnly);
  EXPECT_EQ(DriveMapConfig{}.Serialize(), "");

  // Order of lines does not matter; gaps, bad numbers and lines without a
  // path are refused.
  ASSERT_TRUE(DriveMapConfig::Deserialize("80 /d\n00 /f\n", back));
  EXPECT_EQ(back.floppies, std::vector<std::string>{"/f"});
  EXPECT_EQ(back.disks, std::vector<std::string>{"/d"});
  EXPECT_FALSE(back.readOnly);
  EXPECT_FALSE(DriveMapConfig::Deserialize("00 /a\n02 /c\n", back));
  EXPECT_FALSE(DriveMapConfig::Deserialize("81 /d\n", back));
  EXPECT_FALSE(DriveMapConfig::Deserialize("zz /d\n", back));
  EXPECT_FALSE(DriveMapConfig::Deserialize("100 /d\n", back));
  EXPECT_FALSE(DriveMapConfig::Deserialize("80\n", back));
}

TEST(DriveMap, FloppyGeometryBySize) {
  struct G {
    uint64_t kib;
    uint32_t c;
    uint16_t h, s;
  };
  for (const G& g : {G{160, 40, 1, 8}, G{180, 40, 1, 9}, G{320, 40, 2, 8}, G{360, 40, 2, 9}, G{720, 80, 2, 9},
                     G{1200, 80, 2, 15}, G{1440, 80, 2, 18}, G{2880, 80, 2, 36}}) {
    Geometry got = FloppyGeometryForSize(g.kib * 1024);
    EXPECT_EQ(got.cylinders, g.c) << g.kib;
    EXPECT_EQ(got.heads, g.h) << g.kib;
    EXPECT_EQ(got.sectorsPerTrack, g.s) << g.kib;
  }
  Geometry odd = FloppyGeometryForSize(100 * 36 * 512);
  EXPECT_EQ(odd.cylinders, 100u);
  EXPECT_EQ(odd.heads, 2);
  EXPECT_EQ(odd.sectorsPerTrack, 18);
}

// An MBR with one partition entry given by its CHS and LBA addresses.
std::vector<uint8_t> Mbr(int entry, uint32_t startLba, uint32_t sectors, uint16_t c0, uint8_t h0, uint8_t s0,
                         uint16_t c1, uint8_t h1, uint8_t s1) {
  std::vector<uint8_t> m(512);
  const size_t e = 0x1BE + 16 * entry;
  m[e + 1] = h0;
  m[e + 2] = static_cast<uint8_t>(s0 | ((c0 >> 2) & 0xC0));
  m[e + 3] = static_cast<uint8_t>(c0);
  m[e + 4] = 0x06;
  m[e + 5] = h1;
  m[e + 6] = static_cast<uint8_t>(s1 | ((c1 >> 2) & 0xC0));
  m[e + 7] = static_cast<uint8_t>(c1);
  putLe32(m, e + 8, startLba);
  putLe32(m, e + 12, sectors);
  putLe16(m, 0x1FE, 0xAA55);
  return m;
}

TEST(DriveMap, GeometryImpliedByTheMbr) {
  // sfdisk aligns to 1 MiB, so no partition ends on a cylinder boundary:
  // the geometry is the one under which each CHS address is its LBA.
  TempDir dir;
  const std::string img = dir.File("disk.img");
  ASSERT_TRUE(PartitionImage(img, 131072,
                             "start=2048, size=20480, type=6\nstart=22528, size=108544, type=5\n"
                             "start=24576, size=69632, type=c\n"));
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  Geometry g = GeometryFromMbr(bytes.data(), bytes.size());
  EXPECT_EQ(g.heads, 255);
  EXPECT_EQ(g.sectorsPerTrack, 63);
  EXPECT_EQ(g.cylinders, 131072u / (255 * 63));

  // An old 16-head, 63-sector layout: partition from LBA 63 (0/1/1) to the
  // end of cylinder 99 (99/15/63).
  std::vector<uint8_t> old = Mbr(0, 63, 100 * 16 * 63 - 63, 0, 1, 1, 99, 15, 63);
  g = GeometryFromMbr(old.data(), uint64_t{200} * 16 * 63 * 512);
  EXPECT_EQ(g.heads, 16);
  EXPECT_EQ(g.sectorsPerTrack, 63);
  EXPECT_EQ(g.cylinders, 200u);
  // 128 heads, 32 sectors, partition at cylinder 300 (cylinder bits 8-9 used).
  std::vector<uint8_t> big = Mbr(2, 300 * 128 * 32, 128 * 32, 300, 0, 1, 300, 127, 32);
  g = GeometryFromMbr(big.data(), 0);
  EXPECT_EQ(g.heads, 128);
  EXPECT_EQ(g.sectorsPerTrack, 32);

  // No signature, no usable entry, addresses at the CHS limit, addresses
  // that fit no geometry, no sector at all: 255 heads and 63 sectors.
  std::vector<uint8_t> unsigned_ = old;
  unsigned_[0x1FE] = 0;
  std::vector<uint8_t> empty(512);
  putLe16(empty, 0x1FE, 0xAA55);
  std::vector<uint8_t> limit = Mbr(0, 20000000, 4000000, 1023, 254, 63, 1023, 254, 63);
  std::vector<uint8_t> nonsense = Mbr(0, 5, 100, 0, 0, 7, 9, 9, 9);
  for (const auto* m : {&unsigned_, &empty, &limit, &nonsense}) {
    g = GeometryFromMbr(m->data(), uint64_t{255} * 63 * 512 * 3);
    EXPECT_EQ(g.heads, 255);
    EXPECT_EQ(g.sectorsPerTrack, 63);
    EXPECT_EQ(g.cylinders, 3u);
  }
  g = GeometryFromMbr(nullptr, uint64_t{255} * 63 * 512 * 10);
  EXPECT_EQ(g.heads, 255);
  EXPECT_EQ(g.sectorsPerTrack, 63);
  EXPECT_EQ(g.cylinders, 10u);
}

TEST(DriveMap, BuildDeviceMapSetsGeometriesAndCounts) {
  TempDir dir;
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  const std::string small = dir.File("small.img");
  MakeSizedFile(small, 368640);  // 360 KiB
  const std::string hd = dir.File("hd.img");
  ASSERT_TRUE(PartitionImage(hd, 40960, "start=2048, size=20480, type=6\n"));
  DriveMapConfig c;
  c.floppies = {fd.image, small};
  c.disks = {hd, dir.File("missing.img")};
  DeviceMap m = BuildDeviceMap(c);
  EXPECT_EQ(m.FloppyCount(), 2u);
  EXPECT_EQ(m.HardDiskCount(), 2u);
  ASSERT_NE(m.Find(0), nullptr);
  EXPECT_EQ(m.Find(0)->geometry.sectorsPerTrack, 18);
  EXPECT_EQ(m.Find(1)->geometry.sectorsPerTrack, 9);
  EXPECT_EQ(m.Find(1)->geometry.cylinders, 40u);
  EXPECT_EQ(m.Find(0x80)->geometry.heads, 255);
  EXPECT_EQ(m.Find(0x80)->geometry.sectorsPerTrack, 63);
  EXPECT_EQ(m.Find(0x80)->geometry.cylinders, 2u);
  EXPECT_EQ(m.Find(0x80)->Size(), 40960u * 512);
  EXPECT_EQ(m.Find(2), nullptr);
  EXPECT_EQ(m.Find(0x82), nullptr);
  // Left closed: the handles are opened when the drives are listed.
  for (uint16_t d : {0, 1, 0x80, 0x81}) EXPECT_FALSE(m.Find(d)->IsOpen()) << d;

  // Counts stop at the first gap.
  DeviceMap gaps;
  gaps.Add(0, std::make_unique<FileDevice>(fd.image, true));
  gaps.Add(2, std::make_unique<FileDevice>(fd.image, true));
  gaps.Add(0x81, std::make_unique<FileDevice>(hd, true));
  EXPECT_EQ(gaps.FloppyCount(), 1u);
  EXPECT_EQ(gaps.HardDiskCount(), 0u);
}

TEST(DriveMap, FloppyGeometryComesFromItsBootRecordWhenItFits) {
  TempDir dir;
  // A 1.68 MB floppy of 21 sectors a track: no standard size, so only its
  // boot record tells how the library must count its CHS addresses.
  const std::string dmf = dir.File("dmf.img");
  std::vector<uint8_t> bytes(80 * 2 * 21 * 512);
  std::span<uint8_t> boot(bytes.data(), 512);
  putLe16(boot, 0x0B, 512);
  putLe16(boot, 0x18, 21);
  putLe16(boot, 0x1A, 2);
  for (uint32_t s = 0; s < 80 * 2 * 21; ++s) bytes[s * 512 + 100] = static_cast<uint8_t>(s);
  ASSERT_TRUE(WriteFileBytes(dmf, bytes));
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  DriveMapConfig c;
  c.floppies = {dmf, fd.image};
  DeviceMap m = BuildDeviceMap(c);
  EXPECT_EQ(m.Find(0)->geometry.sectorsPerTrack, 21);
  EXPECT_EQ(m.Find(0)->geometry.heads, 2);
  EXPECT_EQ(m.Find(0)->geometry.cylinders, 80u);
  EXPECT_EQ(m.Find(1)->geometry.sectorsPerTrack, 18);
  // Cylinder 1, head 0, sector 3 of that geometry is sector 44.
  Sect32Engine engine(m);
  uint8_t sector[512];
  ASSERT_NE(engine.ReadSect32(0, 1, 0, 3, 1, sector, 0, 0), 0u);
  EXPECT_EQ(sector[100], 44);

  // A boot record that does not fill the image in whole cylinders, or that
  // is no boot record at all, leaves the standard geometry of the size.
  std::vector<uint8_t> odd(1440 * 1024);
  std::span<uint8_t> oddBoot(odd.data(), 512);
  putLe16(oddBoot, 0x0B, 512);
  putLe16(oddBoot, 0x18, 21);
  putLe16(oddBoot, 0x1A, 2);
  EXPECT_EQ(FloppyGeometry(odd.data(), odd.size()).sectorsPerTrack, 18);
  putLe16(oddBoot, 0x18, 0);
  EXPECT_EQ(FloppyGeometry(odd.data(), odd.size()).sectorsPerTrack, 18);
  EXPECT_EQ(FloppyGeometry(nullptr, 720 * 1024).sectorsPerTrack, 9);

  // A size of no standard floppy (mkfs.fat on 2070 KiB: 32 sectors a track,
  // the last cylinder part used) has no geometry but its record's.
  std::vector<uint8_t> other(2070 * 1024);
  std::span<uint8_t> otherBoot(other.data(), 512);
  putLe16(otherBoot, 0x0B, 512);
  putLe16(otherBoot, 0x18, 32);
  putLe16(otherBoot, 0x1A, 2);
  const Geometry g = FloppyGeometry(other.data(), other.size());
  EXPECT_EQ(g.sectorsPerTrack, 32);
  EXPECT_EQ(g.heads, 2);
  EXPECT_EQ(g.cylinders, 65u);
}

// The tests' drives must stand as the program's would: held in memory, each
// gets the geometry the drive map gives its file, and either path binds them
// with the floppy count the program's binding sets.
TEST(DriveMap, TestDrivesGetTheDriveMapsGeometry) {
  TempDir dir;
  const std::string dmf = dir.File("dmf.img");
  std::vector<uint8_t> bytes(80 * 2 * 21 * 512);
  putLe16(std::span<uint8_t>(bytes.data(), 512), 0x0B, 512);
  putLe16(std::span<uint8_t>(bytes.data(), 512), 0x18, 21);
  putLe16(std::span<uint8_t>(bytes.data(), 512), 0x1A, 2);
  ASSERT_TRUE(WriteFileBytes(dmf, bytes));
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  const std::string hd = dir.File("hd.img");
  ASSERT_TRUE(PartitionImage(hd, 40960, "start=2048, size=20480, type=6\n"));
  const std::string blank = dir.File("blank.img");
  MakeSizedFile(blank, 3000 * 512);
  DriveMapConfig c;
  c.floppies = {dmf, fd.image};
  c.disks = {hd, blank};
  const DeviceMap map = BuildDeviceMap(c);

  for (const auto path : {TestDrives::Direct, TestDrives::Library}) {
    SCOPED_TRACE(path == TestDrives::Direct ? "direct" : "library");
    TestDrives drives(path);
    for (const auto& f : c.floppies) drives.AddFloppy(ReadFileBytes(f));
    for (const auto& d : c.disks) drives.AddDisk(ReadFileBytes(d));
    drives.Bind();
    EXPECT_EQ(drives.access.FloppyCount(), 2u);
    EXPECT_TRUE(drives.access.DrivesReady());
    for (const uint16_t drive : {0, 1, 0x80, 0x81}) {
      SCOPED_TRACE(drive);
      ASSERT_NE(drives.Find(drive), nullptr);
      const Geometry want = map.Find(drive)->geometry, got = drives.Find(drive)->geometry;
      EXPECT_EQ(got.cylinders, want.cylinders);
      EXPECT_EQ(got.heads, want.heads);
      EXPECT_EQ(got.sectorsPerTrack, want.sectorsPerTrack);
    }
  }
}

TEST(DriveMap, ReadOnlyDeviceRefusesWrites) {
  TempDir dir;
  FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
  const std::vector<uint8_t> before = ReadFileBytes(fd.image);
  std::vector<uint8_t> sector(512, 0x42);
  FileDevice ro(fd.image, true);
  ASSERT_TRUE(ro.Open());
  EXPECT_FALSE(ro.Writable());
  EXPECT_EQ(ro.WriteAt(512, sector.data(), 512), -1);
  EXPECT_EQ(ReadFileBytes(fd.image), before);

  FileDevice rw(fd.image, false);
  ASSERT_TRUE(rw.Open());
  EXPECT_TRUE(rw.Writable());
  // A write past the end never grows the image; one that reaches it is cut.
  EXPECT_EQ(rw.WriteAt(1474560, sector.data(), 512), -1);
  EXPECT_EQ(rw.WriteAt(1474560 - 256, sector.data(), 512), 256);
  EXPECT_EQ(fs::file_size(fd.image), 1474560u);
  std::vector<uint8_t> back(512, 0);
  EXPECT_EQ(rw.ReadAt(1474560 - 256, back.data(), 512), 256);
  EXPECT_EQ(rw.ReadAt(1474560, back.data(), 512), -1);
  rw.Close();
  EXPECT_EQ(rw.ReadAt(0, back.data(), 512), -1);
}

// A /sys/block tree and a /dev folder in which plain files stand for the
// device nodes.
void AddBlock(const TempDir& dir, const std::string& name, bool devNode, const std::string& backing = "-",
              bool partition = false) {
  fs::create_directories(dir.File("sys/" + name));
  if (backing != "-") {
    fs::create_directories(dir.File("sys/" + name + "/loop"));
    std::ofstream(dir.File("sys/" + name + "/loop/backing_file")) << backing;
  }
  if (partition) std::ofstream(dir.File("sys/" + name + "/partition")) << "1\n";
  if (devNode) std::ofstream(dir.File("dev/" + name)) << "x";
}

TEST(DriveMap, ScanSystemDrivesTakesWholeDisksThatOpen) {
  TempDir dir;
  fs::create_directories(dir.File("dev"));
  AddBlock(dir, "fd0", true);
  AddBlock(dir, "fd1", false);  // no node: cannot be opened
  AddBlock(dir, "sda", true);
  AddBlock(dir, "sdb", true);
  AddBlock(dir, "sdaa", true);
  AddBlock(dir, "sda1", true, "-", true);
  AddBlock(dir, "sdc1", true);  // a partition's name, even without its file
  AddBlock(dir, "nvme0n1", true);
  AddBlock(dir, "nvme0n1p1", true, "-", true);
  AddBlock(dir, "mmcblk0", true);
  AddBlock(dir, "mmcblk0boot0", true);
  AddBlock(dir, "vda", false);
  AddBlock(dir, "loop0", true, "/images/disk.img\n");
  AddBlock(dir, "loop1", true, "");
  AddBlock(dir, "loop2", true);
  AddBlock(dir, "loop10", true, "/images/other.img\n");
  AddBlock(dir, "sr0", true);
  AddBlock(dir, "dm-0", true);
  AddBlock(dir, "ram0", true);
  DriveMapConfig c = ScanSystemDrives(dir.File("sys"), dir.File("dev"));
  const std::string dev = dir.File("dev/");
  EXPECT_EQ(c.floppies, std::vector<std::string>{dev + "fd0"});
  EXPECT_EQ(c.disks, (std::vector<std::string>{dev + "sda", dev + "sdb", dev + "sdaa", dev + "mmcblk0",
                                               dev + "nvme0n1", dev + "loop0", dev + "loop10"}));
  EXPECT_FALSE(c.readOnly);
  EXPECT_FALSE(c.direct);

  DriveMapConfig none = ScanSystemDrives(dir.File("no-such-folder"), dir.File("dev"));
  EXPECT_TRUE(none.floppies.empty() && none.disks.empty());
}

}  // namespace

// ReadSectors and WriteSectors on both paths over fault devices: chunking at
// track ends, the per-sector retry, the floppy reopen, and what lands in the
// caller's buffer or on the disk when sectors fail.
#include "disk/sector_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "fixtures/test_drives.h"

namespace {

using Log = std::vector<std::pair<uint64_t, size_t>>;

DrivePacket FloppyPacket(uint32_t start, uint32_t count) {
  DrivePacket p;
  p.drive = 0;
  p.sector = 1;
  p.heads = 2;
  p.sectorsPerTrack = 18;
  p.startSector = start;
  p.sectorCount = count;
  return p;
}

// A 1.44 MB fault device on drive 0 behind the library path (an in-process
// engine) or the direct path.
struct Rig : TestDrives {
  FaultDevice* dev = nullptr;

  Rig(bool library, uint16_t drive = 0, std::vector<uint8_t> bytes = PatternDisk(2880),
      Geometry g = Geometry{80, 2, 18})
      : TestDrives(library ? Library : Direct) {
    dev = Add(drive, std::move(bytes), g);
    Bind();
  }
};

TEST(SectorAccessLibrary, FailedMiddleChunkIsRetriedSectorBySectorAndEndsTheRead) {
  Rig rig(true);
  const std::vector<uint8_t> disk = rig.dev->Bytes();
  rig.dev->badReadSectors = {20, 33};
  // Sectors 15..39: chunk one 15..17 (rest of track 0), chunk two the whole
  // track 18..35, chunk three 36..39.
  std::vector<uint8_t> buf(25 * 512, 0x11);
  EXPECT_FALSE(ReadSectors(rig.access, FloppyPacket(15, 25), buf.data()));

  Log expected = {{15 * 512, 3 * 512}, {18 * 512, 18 * 512}};
  for (uint64_t s = 18; s <= 35; ++s) expected.emplace_back(s * 512, 512);
  EXPECT_EQ(rig.dev->readLog, expected);

  std::vector<uint8_t> want = SectorSlice(disk, 15, 21);
  std::fill_n(want.begin() + (20 - 15) * 512, 512, 0xE5);
  std::fill_n(want.begin() + (33 - 15) * 512, 512, 0xE5);
  want.resize(25 * 512, 0x11);  // chunk three never read
  EXPECT_EQ(buf, want);
  // The call itself and each of the 18 single-sector calls.
  EXPECT_EQ(rig.prompt.WaitCount(), 19);
  EXPECT_EQ(rig.prompt.Status(0), "Wait....");
}

TEST(SectorAccessLibrary, ChunksStopAtTrackEnds) {
  // A partition whose base is cylinder 1, head 1, sector 5 on a 4-head,
  // 8-sector disk: LBA (1*4+1)*8+4 = 44.
  Rig rig(true, 0x80, PatternDisk(4000), Geometry{125, 4, 8});
  DrivePacket p;
  p.drive = 0x80;
  p.cylinder = 1;
  p.head = 1;
  p.sector = 5;
  p.heads = 4;
  p.sectorsPerTrack = 8;
  p.partitionStart = 44;
  p.startSector = 2;  // LBA 46: sector 7 of its track
  p.sectorCount = 21;
  std::vector<uint8_t> buf(21 * 512);
  EXPECT_TRUE(ReadSectors(rig.access, p, buf.data()));
  EXPECT_EQ(rig.dev->readLog, (Log{{46 * 512, 2 * 512}, {48 * 512, 8 * 512}, {56 * 512, 8 * 512},
                                   {64 * 512, 3 * 512}}));
  EXPECT_EQ(buf, SectorSlice(rig.dev->Bytes(), 46, 21));
  EXPECT_EQ(rig.prompt.WaitCount(), 1);

  // The same extent by LBA (extensions flag set) is chunked the same way.
  rig.dev->readLog.clear();
  p.int13Extensions = 1;
  std::vector<uint8_t> again(21 * 512);
  EXPECT_TRUE(ReadSectors(rig.access, p, again.data()));
  EXPECT_EQ(rig.dev->readLog.size(), 4u);
  EXPECT_EQ(again, buf);
}

TEST(SectorAccessLibrary, FailedSingleSectorLeavesTheBufferAsTheDeviceLeftIt) {
  for (bool library : {true, false}) {
    SCOPED_TRACE(library ? "library" : "direct");
    Rig rig(library);
    rig.dev->shortReadLimit = 100;  // the sector breaks off after 100 bytes
    std::vector<uint8_t> buf(512, 0x11);
    EXPECT_FALSE(ReadSectors(rig.access, FloppyPacket(40, 1), buf.data()));
    std::vector<uint8_t> want = SectorSlice(rig.dev->Bytes(), 40, 1);
    std::fill(want.begin() + 100, want.end(), 0x11);
    EXPECT_EQ(buf, want);
  }
}

// Records what reaches the library and answers success.
class RecordingLibrary final : public SectorLibrary {
 public:
  struct Call {
    uint32_t drive, cylinder, head, sector, count, lba, ext;
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> calls;
  uint32_t ReadSect32(uint32_t d, uint32_t c, uint32_t h, uint32_t s, uint32_t n, void* b,
                      uint32_t lba, uint32_t ext) override {
    calls.push_back({d, c, h, s, n, lba, ext});
    std::memset(b, 0x5A, size_t{n} * 512);
    return 1;
  }
  uint32_t WriteSect32(uint32_t d, uint32_t c, uint32_t h, uint32_t s, uint32_t n, const void*,
                       uint32_t lba, uint32_t ext) override {
    calls.push_back({d, c, h, s, n, lba, ext});
    return 1;
  }
  // Transfers past 32-bit sectors are recorded apart, with their whole LBA.
  std::vector<uint64_t> calls64;
  uint32_t ReadSect64(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t n, void* b, uint64_t lba,
                      uint32_t) override {
    calls64.push_back(lba);
    std::memset(b, 0x5A, size_t{n} * 512);
    return 1;
  }
  uint32_t WriteSect64(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const void*,
                       uint64_t lba, uint32_t) override {
    calls64.push_back(lba);
    return 1;
  }
  uint32_t CheckInt13Extension32(uint32_t) override { return 1; }
  uint32_t FloppyCount() override { return 0; }
  bool DriveGeometry(uint32_t, Geometry& out) override {
    out = geometry;
    return true;
  }
  Geometry geometry{0, 255, 63};
};

TEST(SectorAccessLibrary, ExtentBeyondCylinder1000GoesToTheLibraryByLba) {
  RecordingLibrary lib;
  TestDrives drives;
  drives.BindLibrary(lib);
  DiskAccess& access = drives.access;
  DrivePacket p;
  p.drive = 0x81;
  p.cylinder = 0;
  p.head = 1;
  p.sector = 1;
  p.partitionStart = 63;
  p.heads = 255;
  p.sectorsPerTrack = 63;
  p.int13Extensions = 7;
  // LBA 63 + 16065*1001 + 5 is cylinder 1001, head 0, sector 6 (as LBA 63 is
  // head 1, this adds a whole cylinder count of 1001).
  p.startSector = 16065 * 1001 - 63 + 5;
  p.sectorCount = 60;  // 58 to the track end, then 2
  std::vector<uint8_t> buf(60 * 512);
  EXPECT_TRUE(ReadSectors(access, p, buf.data()));
  const uint32_t lba = 16065 * 1001 + 5;
  // Unpacked: the whole cylinder, S alone, the head left at the base's.
  EXPECT_EQ(lib.calls, (std::vector<RecordingLibrary::Call>{{0x81, 1001, 1, 6, 58, lba, 7},
                                                            {0x81, 1001, 1, 1, 2, lba + 58, 7}}));

  ChsTriple t;
  ASSERT_TRUE(PacketToChs(p, lib.geometry, t));
  EXPECT_FALSE(t.packed);
  p.startSector = 16065 * 999;  // LBA 63 + 999 cylinders: cylinder 999, head 1
  ASSERT_TRUE(PacketToChs(p, lib.geometry, t));
  EXPECT_TRUE(t.packed);
  EXPECT_EQ(t.cylinder, 999 & 0xFF);
  EXPECT_EQ(t.head, 1);
  EXPECT_EQ(t.sector, 1 | ((999 >> 2) & 0xC0));

  // Through the engine by LBA the bytes are the right ones: a 2-head,
  // 18-sector disk reaches cylinder 1001 at 18 MB.
  Rig rig(true, 0x80, PatternDisk(36 * 1002), Geometry{1002, 2, 18});
  DrivePacket q = FloppyPacket(36 * 1001 + 3, 4);
  q.drive = 0x80;
  q.int13Extensions = 1;
  std::vector<uint8_t> got(4 * 512);
  EXPECT_TRUE(ReadSectors(rig.access, q, got.data()));
  EXPECT_EQ(got, SectorSlice(rig.dev->Bytes(), 36 * 1001 + 3, 4));
  // Without the flag the library cannot reach it.
  q.int13Extensions = 0;
  EXPECT_FALSE(ReadSectors(rig.access, q, got.data()));
}

TEST(SectorAccessDirect, FloppyWithoutDiskIsReopenedOncePerRead) {
  Rig rig(false);
  rig.dev->noDisk = true;
  std::vector<uint8_t> buf(4 * 512, 0x11);
  EXPECT_FALSE(ReadSectors(rig.access, FloppyPacket(10, 4), buf.data()));
  // The extent: read, reopen, read. Then each sector: read, reopen, read.
  EXPECT_EQ(rig.dev->opens, 1 + 4);
  Log expected = {{10 * 512, 4 * 512}, {10 * 512, 4 * 512}};
  for (uint64_t s = 10; s < 14; ++s) {
    expected.emplace_back(s * 512, 512);
    expected.emplace_back(s * 512, 512);
  }
  EXPECT_EQ(rig.dev->readLog, expected);
  EXPECT_EQ(buf, std::vector<uint8_t>(4 * 512, 0xE5));
  EXPECT_EQ(rig.prompt.WaitCount(), 5);

  // A disk put in meanwhile is read after the one reopen, and that counts
  // as no retry.
  Rig later(false);
  later.dev->noDisk = true;
  later.dev->insertOnReopen = true;
  EXPECT_TRUE(ReadSectors(later.access, FloppyPacket(10, 4), buf.data()));
  EXPECT_EQ(later.dev->opens, 1);
  EXPECT_EQ(buf, SectorSlice(later.dev->Bytes(), 10, 4));

  // A reopen that fails ends the read.
  Rig gone(false);
  gone.dev->noDisk = true;
  gone.dev->openFails = true;
  EXPECT_FALSE(ReadSectors(gone.access, FloppyPacket(10, 4), buf.data()));
  EXPECT_EQ(gone.dev->opens, 1);
  EXPECT_EQ(gone.dev->reads, 1);

  // A hard disk is never reopened.
  Rig disk(false, 0x80);
  disk.dev->noDisk = true;
  DrivePacket hd = FloppyPacket(10, 2);
  hd.drive = 0x80;
  EXPECT_FALSE(ReadSectors(disk.access, hd, buf.data()));
  EXPECT_EQ(disk.dev->opens, 0);
  EXPECT_EQ(disk.dev->reads, 3);
}

TEST(SectorAccessDirect, ShortReadIsRetriedAndReportedEvenWhenEverySectorArrives) {
  Rig rig(false);
  rig.dev->shortReadLimit = 1000;
  std::vector<uint8_t> buf(4 * 512);
  EXPECT_FALSE(ReadSectors(rig.access, FloppyPacket(100, 4), buf.data()));
  EXPECT_EQ(buf, SectorSlice(rig.dev->Bytes(), 100, 4));
  EXPECT_EQ(rig.dev->reads, 5);

  // Bad sectors of the extent read as 0xE5, the others as they are.
  Rig bad(false, 0x80);
  bad.dev->badReadSectors = {101, 103};
  DrivePacket p = FloppyPacket(98, 6);
  p.drive = 0x80;
  p.partitionStart = 2;  // absolute sectors 100..105
  std::vector<uint8_t> got(6 * 512);
  EXPECT_FALSE(ReadSectors(bad.access, p, got.data()));
  std::vector<uint8_t> want = SectorSlice(bad.dev->Bytes(), 100, 6);
  std::fill_n(want.begin() + 512, 512, 0xE5);
  std::fill_n(want.begin() + 3 * 512, 512, 0xE5);
  EXPECT_EQ(got, want);
  // A drive the map does not have: nothing to open, nothing read.
  EXPECT_FALSE(ReadSectors(bad.access, FloppyPacket(104, 2), got.data()));
}

TEST(SectorAccessWrite, FailedSectorIsSkippedInTheRetryOnBothPaths) {
  for (bool library : {true, false}) {
    SCOPED_TRACE(library ? "library" : "direct");
    Rig rig(library);
    rig.dev->badWriteSectors = {19};
    const std::vector<uint8_t> before = rig.dev->Bytes();
    std::vector<uint8_t> data(4 * 512);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i / 512);
    // Sectors 17..20: on the library path a one-sector chunk, then 18..20.
    EXPECT_FALSE(WriteSectors(rig.access, FloppyPacket(17, 4), data.data()));
    std::vector<uint8_t> want = before;
    for (int s : {17, 18, 20}) std::fill_n(want.begin() + s * 512, 512, static_cast<uint8_t>(0xA0 + s - 17));
    EXPECT_EQ(rig.dev->Bytes(), want);
    // The direct path reopens the floppy once more when sector 19 moves
    // nothing.
    Log expected = library ? Log{{17 * 512, 512}, {18 * 512, 3 * 512}, {18 * 512, 512}, {19 * 512, 512}}
                           : Log{{17 * 512, 4 * 512}, {17 * 512, 512}, {18 * 512, 512}, {19 * 512, 512},
                                 {19 * 512, 512}};
    expected.emplace_back(20 * 512, 512);
    EXPECT_EQ(rig.dev->writeLog, expected);
    EXPECT_EQ(rig.prompt.WaitCount(), library ? 4 : 5);

    // A write that goes through at once is true and writes nothing else.
    rig.dev->writeLog.clear();
    EXPECT_TRUE(WriteSectors(rig.access, FloppyPacket(30, 2), data.data()));
    EXPECT_EQ(SectorSlice(rig.dev->Bytes(), 30, 2), SectorSlice(data, 0, 2));
  }
}

TEST(SectorAccessWrite, FloppyWithoutDiskIsReopenedBeforeTheWrite) {
  Rig rig(false);
  rig.dev->noDisk = true;
  rig.dev->insertOnReopen = true;
  std::vector<uint8_t> data(2 * 512, 0x77);
  EXPECT_TRUE(WriteSectors(rig.access, FloppyPacket(5, 2), data.data()));
  EXPECT_EQ(rig.dev->opens, 1);
  EXPECT_EQ(SectorSlice(rig.dev->Bytes(), 5, 2), data);
}

}  // namespace

// A hard disk addressed by LBA behind a library that records every call.
struct LbaRig : TestDrives {
  LbaRig(uint16_t heads, uint16_t sectorsPerTrack) {
    lib.geometry = Geometry{0, heads, sectorsPerTrack};
    BindLibrary(lib);
    packet.drive = 0x80;
    packet.sector = 1;
    packet.int13Extensions = 1;
  }
  RecordingLibrary lib;
  DrivePacket packet;
};

// Which entry point a transfer takes: the 32-bit one while the LBA fits it,
// the 64-bit one with the whole LBA past it, none where only CHS is offered
// and the sector lies past its reach.
struct WideCase {
  const char* name;
  uint64_t partitionStart;
  uint32_t startSector;  // 0: the node's own sector
  uint32_t count;
  uint32_t ext;
  bool moves;
  std::vector<uint32_t> lba32;  // the calls' LBAs, in order
  std::vector<uint64_t> lba64;
};

class SectorAccessWide : public ::testing::TestWithParam<WideCase> {};

TEST_P(SectorAccessWide, LbaPast32BitsGoesWholeToTheWideEntryPoints) {
  const WideCase& c = GetParam();
  for (const bool write : {false, true}) {
    SCOPED_TRACE(write ? "write" : "read");
    LbaRig rig(255, 63);
    DrivePacket& p = rig.packet;
    p.partitionStart = c.partitionStart;
    p.startSector = c.startSector;
    p.sectorCount = c.count;
    p.int13Extensions = c.ext;
    std::vector<uint8_t> buf(size_t{c.count} * 512, 0x11);
    const bool moved = c.startSector == 0
                           ? (write ? WriteNodeSectors(rig.access, p, 0, buf)
                                    : ReadNodeSectors(rig.access, p, 0, buf))
                           : (write ? WriteSectors(rig.access, p, buf.data())
                                    : ReadSectors(rig.access, p, buf.data()));
    EXPECT_EQ(moved, c.moves);
    std::vector<uint32_t> lba32;
    for (const auto& call : rig.lib.calls) lba32.push_back(call.lba);
    EXPECT_EQ(lba32, c.lba32);
    EXPECT_EQ(rig.lib.calls64, c.lba64);
  }
}

constexpr uint64_t k2To32 = uint64_t{1} << 32;

INSTANTIATE_TEST_SUITE_P(
    Lba, SectorAccessWide,
    ::testing::Values(
        // 2^32 would wrap to LBA 0 in 32 bits.
        WideCase{"FirstSectorPast32Bits", 0xFFFFFF00u, 0x100, 1, 1, true, {}, {k2To32}},
        WideCase{"Last32BitSector", 0xFFFFFF00u, 0xFF, 1, 1, true, {0xFFFFFFFFu}, {}},
        // A track's chunk that crosses 2^32 goes whole by the wide entry point.
        WideCase{"ChunkAcross2To32", k2To32 - 2, 1, 3, 1, true, {}, {k2To32 - 1}},
        WideCase{"FarPartitionOwnSector", k2To32 * 700, 0, 1, 1, true, {}, {k2To32 * 700}},
        WideCase{"FarExtent", k2To32 * 700, 5, 2, 1, true, {}, {k2To32 * 700 + 5}},
        // CHS reaches no sector there: refused before the library is asked.
        WideCase{"ChsPast2To32", k2To32, 5, 1, 0, false, {}, {}},
        WideCase{"ChsOwnSectorPast2To32", k2To32, 0, 1, 0, false, {}, {}},
        // A byte offset past 64 bits.
        WideCase{"PastEveryOffset", UINT64_MAX - 2, 5, 1, 1, false, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SectorAccessLibrary, AChunkEndingAtTheLast32BitSectorDoesNotWrapTheNextToSector0) {
  // 32 sectors a track: the track that ends at LBA 2^32 - 1 is a whole chunk,
  // and the sectors after it have no 32-bit number.
  LbaRig rig(16, 32);
  DrivePacket& p = rig.packet;
  p.startSector = 0xFFFFFFFCu;
  p.sectorCount = 8;
  std::vector<uint8_t> buf(8 * 512, 0x5A);
  EXPECT_FALSE(WriteSectors(rig.access, p, buf.data()));
  ASSERT_EQ(rig.lib.calls.size(), 1u);
  EXPECT_EQ(rig.lib.calls[0].lba, 0xFFFFFFFCu);
  EXPECT_EQ(rig.lib.calls[0].count, 4u);
  rig.lib.calls.clear();
  EXPECT_FALSE(ReadSectors(rig.access, p, buf.data()));
  ASSERT_EQ(rig.lib.calls.size(), 1u);
  EXPECT_EQ(rig.lib.calls[0].lba, 0xFFFFFFFCu);
}

TEST(SectorAccessDirect, TheRetryNeverWrapsPast32BitSectorsToTheStart) {
  Rig rig(false, 0x80);
  const std::vector<uint8_t> disk = rig.dev->Bytes();
  DrivePacket p = FloppyPacket(0xFFFFFFFFu, 2);
  p.drive = 0x80;
  std::vector<uint8_t> data(2 * 512, 0x77);
  EXPECT_FALSE(WriteSectors(rig.access, p, data.data()));
  EXPECT_TRUE(rig.dev->Bytes() == disk) << "the partition's first sector was overwritten";
  std::vector<uint8_t> got(2 * 512, 0x11);
  EXPECT_FALSE(ReadSectors(rig.access, p, got.data()));
  EXPECT_EQ(got, std::vector<uint8_t>(2 * 512, 0xE5));
}

TEST(SectorAccessLibrary, CylindersPast16BitsNeverAliasALowCylinder) {
  // A floppy addressed by CHS: cylinder 65541 must not become cylinder 5.
  Rig rig(true);
  const std::vector<uint8_t> disk = rig.dev->Bytes();
  const DrivePacket p = FloppyPacket(36u * 65541u, 1);
  std::vector<uint8_t> data(512, 0x77);
  EXPECT_FALSE(WriteSectors(rig.access, p, data.data()));
  EXPECT_TRUE(rig.dev->Bytes() == disk) << "sector 180 was overwritten";
  std::vector<uint8_t> got(512, 0x11);
  EXPECT_FALSE(ReadSectors(rig.access, p, got.data()));
  EXPECT_TRUE(rig.dev->readLog.empty());
  ChsTriple t;
  ASSERT_TRUE(PacketToChs(p, rig.dev->geometry, t));
  EXPECT_FALSE(t.packed);
  EXPECT_EQ(t.cylinder, 0xFFFF);
}

// Whole sectors by absolute number for the commands above the disk layer, on
// both roads: the library by CHS (the drive's geometry, or the one given) or
// LBA, the direct path at byte offsets.
struct AbsoluteCase {
  const char* name;
  bool library;
  uint64_t sector;
  uint32_t count;
  std::optional<Geometry> chs;  // the geometry the caller addresses the library with
  bool moves;
};

class DiskAccessAbsolute : public ::testing::TestWithParam<AbsoluteCase> {};

TEST_P(DiskAccessAbsolute, ReadsAndWritesTheSectorsNamed) {
  const AbsoluteCase& c = GetParam();
  Rig rig(c.library);
  const std::vector<uint8_t> disk = rig.dev->Bytes();
  const Geometry* chs = c.chs ? &*c.chs : nullptr;
  std::vector<uint8_t> got(size_t{c.count} * 512, 0x11);
  EXPECT_EQ(rig.access.ReadAbsolute(0, c.sector, c.count, got.data(), chs), c.moves);
  if (c.moves) {
    EXPECT_TRUE(std::equal(got.begin(), got.end(), disk.begin() + c.sector * 512));
  }
  const std::vector<uint8_t> data(got.size(), 0x5A);
  EXPECT_EQ(rig.access.WriteAbsolute(0, c.sector, c.count, data.data(), chs), c.moves);
  std::vector<uint8_t> expected = disk;
  if (c.moves) std::copy(data.begin(), data.end(), expected.begin() + c.sector * 512);
  EXPECT_TRUE(rig.dev->Bytes() == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Roads, DiskAccessAbsolute,
    ::testing::Values(
        AbsoluteCase{"LibraryFirstSector", true, 0, 1, std::nullopt, true},
        AbsoluteCase{"DirectFirstSector", false, 0, 1, std::nullopt, true},
        AbsoluteCase{"LibraryByDriveGeometry", true, 37, 2, std::nullopt, true},
        AbsoluteCase{"LibraryByGivenGeometry", true, 37, 2, Geometry{80, 2, 18}, true},
        AbsoluteCase{"DirectGeometryPlaysNoPart", false, 37, 2, Geometry{1, 1, 1}, true},
        // One sector a cylinder: sector 1500 is cylinder 1500, past what a
        // packed triple holds; the device behind the direct path has it.
        AbsoluteCase{"LibraryPastCylinder1023", true, 1500, 1, Geometry{2880, 1, 1}, false},
        AbsoluteCase{"DirectSameSector", false, 1500, 1, Geometry{2880, 1, 1}, true},
        AbsoluteCase{"LibraryPastTheEnd", true, 2880, 1, std::nullopt, false},
        AbsoluteCase{"DirectPastTheEnd", false, 2880, 1, std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.name); });

// What the path decides: what it can do, a floppy opened afresh, the words of
// an unreadable view.
TEST(DiskAccessPath, CapabilitiesReopenAndMessages) {
  for (const bool library : {true, false}) {
    Rig rig(library);
    const DiskCapabilities caps = rig.access.Capabilities();
    EXPECT_EQ(caps.biosTransfers, library);
    EXPECT_EQ(caps.reopensRemovable, !library);
    const int opens = rig.dev->opens;
    EXPECT_TRUE(rig.access.ReopenRemovable(0));
    EXPECT_EQ(rig.dev->opens, opens + (library ? 0 : 1));
    rig.access.ReleaseRemovable(0);
    EXPECT_EQ(rig.dev->IsOpen(), library);
    // A released floppy is opened again by the next absolute read.
    std::vector<uint8_t> got(512);
    EXPECT_TRUE(rig.access.ReadAbsolute(0, 0, 1, got.data()));
    EXPECT_STREQ(rig.access.UnreadableText(UnreadablePlace::PartitionTable),
                 library ? "Partition Table inaccessible!" : "Partition Table not accessible!");
    EXPECT_STREQ(rig.access.UnreadableText(UnreadablePlace::BootRecord),
                 library ? "Boot Record inaccessible!" : "Boot Record not accessible!");
    EXPECT_STREQ(rig.access.UnreadableText(UnreadablePlace::OwnSector),
                 library ? "Sector not accessible!" : "Boot Record not accessible!");
    EXPECT_STREQ(rig.access.UnreadableText(UnreadablePlace::ItemSector), "Sector not accessible!");
  }
  // Nothing bound yet: no BIOS transfers to offer.
  ScriptedPrompt prompt;
  DiskAccess none(prompt);
  EXPECT_FALSE(none.Capabilities().biosTransfers);
}

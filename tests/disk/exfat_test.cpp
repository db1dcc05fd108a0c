// exFAT's readers over real volumes made by mkfs.exfat and written through
// exfat-fuse, checked against what The Sleuth Kit (fls, istat) and exfatprogs
// (dump.exfat) read from the same images; broken boot regions and entry sets
// are made by damaging those volumes' bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "disk/exfat_boot.h"
#include "disk/exfat_dir.h"
#include "disk/exfat_volume.h"
#include "disk/le.h"
#include "fixtures/exfat_image.h"
#include "fixtures/image_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using BP = ExfatBootProblem;
using SP = ExfatSetProblem;

// A reader over bytes whose listed units cannot be read.
class FailingReader final : public ExfatReader {
 public:
  FailingReader(std::span<const uint8_t> bytes, std::set<uint64_t> bad) : inner_(bytes), bad_(bad) {}
  bool Read(uint64_t first, std::span<uint8_t> out) override {
    for (uint64_t u = first; u < first + out.size() / kExfatUnit; ++u)
      if (bad_.count(u)) return false;
    return inner_.Read(first, out);
  }

 private:
  ExfatSpanReader inner_;
  std::set<uint64_t> bad_;
};

// Writes the region's checksum sector anew, as a tool that changed a field would.
void Reseal(Bytes& v, size_t regionSector, uint32_t bps) {
  const size_t at = regionSector * bps;
  const uint32_t sum = ExfatBootChecksum(std::span<const uint8_t>(v).subspan(at, 11 * bps), bps);
  for (size_t i = 0; i < bps; i += 4) putLe32(v, at + 11 * bps + i, sum);
}

// dump.exfat's figure for a line that starts with key.
uint64_t DumpField(const std::string& dump, const std::string& key) {
  const size_t at = dump.find(key);
  if (at == std::string::npos) return UINT64_MAX;
  const size_t num = dump.find_first_of("0123456789", at + key.size());
  return std::stoull(dump.substr(num), nullptr, dump.compare(num, 2, "0x") == 0 ? 16 : 10);
}

struct BootCase {
  const char* name;
  bool sector4k;  // formatted on a loop device of 4096-byte sectors
  std::function<void(Bytes&, uint32_t bps)> damage;
  std::set<uint64_t> badSectors;  // volume sectors that fail to read
  ExfatBootSource source;
  std::vector<BP> mainProblems;
  std::vector<BP> backupProblems;
};

std::ostream& operator<<(std::ostream& os, const BootCase& c) { return os << c.name; }

const BootCase kBootCases[] = {
    {"MainSound", false, nullptr, {}, ExfatBootSource::Main, {}, {}},
    {"FourKSectors", true, nullptr, {}, ExfatBootSource::Main, {}, {}},
    // Flags and percent in use change while mounted; the checksum leaves them out.
    {"DirtyAndPercentOutsideChecksum", false,
     [](Bytes& v, uint32_t) { v[kExfatVolumeFlags] |= kExfatVolumeDirty | kExfatMediaFailure; v[kExfatPercentInUse] = 42; },
     {}, ExfatBootSource::Main, {}, {}},
    {"BootCodeChanged", false, [](Bytes& v, uint32_t) { v[kExfatBootCode + 10] ^= 0x55; }, {},
     ExfatBootSource::Backup, {BP::ChecksumMismatch}, {}},
    {"ChecksumSectorZeroed", false,
     [](Bytes& v, uint32_t bps) { std::fill_n(v.begin() + 11 * bps, bps, 0); }, {},
     ExfatBootSource::Backup, {BP::ChecksumMismatch}, {}},
    {"FourKMainSignatureGone", true, [](Bytes& v, uint32_t) { v[510] = v[511] = 0; }, {},
     ExfatBootSource::Backup, {BP::NoSignature, BP::ChecksumMismatch}, {}},
    {"MainUnreadable", false, nullptr, {0}, ExfatBootSource::Backup, {BP::Unreadable}, {}},
    {"ExtendedSectorUnreadable", false, nullptr, {3}, ExfatBootSource::Backup, {BP::Unreadable}, {}},
    {"BothBroken", false,
     [](Bytes& v, uint32_t bps) { v[kExfatBootCode] ^= 1; v[12 * bps + kExfatBootCode] ^= 1; }, {},
     ExfatBootSource::None, {BP::ChecksumMismatch}, {BP::ChecksumMismatch}},
    {"NameGoneBothRegions", false,
     [](Bytes& v, uint32_t bps) { v[kExfatFileSystemName] = 'N'; v[12 * bps + kExfatFileSystemName] = 'N'; },
     {}, ExfatBootSource::None, {BP::NotExfat}, {BP::NotExfat}},
    // Sizes that cannot be, with a checksum that holds.
    {"SectorShift13", false, [](Bytes& v, uint32_t bps) { v[kExfatBytesPerSectorShift] = 13; Reseal(v, 0, bps); },
     {}, ExfatBootSource::Backup, {BP::SectorShiftOutOfRange}, {}},
    {"ClusterOf64MiB", false,
     [](Bytes& v, uint32_t bps) { v[kExfatSectorsPerClusterShift] = 17; Reseal(v, 0, bps); }, {},
     ExfatBootSource::Backup, {BP::ClusterShiftOutOfRange}, {}},
    {"ClustersPastVolume", false,
     [](Bytes& v, uint32_t bps) { putLe32(v, kExfatClusterCount, le32(v, kExfatClusterCount) + 1); Reseal(v, 0, bps); },
     {}, ExfatBootSource::Backup, {BP::HeapBeyondVolume}, {}},
    {"FatIntoHeap", false,
     [](Bytes& v, uint32_t bps) { putLe32(v, kExfatFatLength, le32(v, kExfatClusterHeapOffset)); Reseal(v, 0, bps); },
     {}, ExfatBootSource::Backup, {BP::FatsOverlapHeap}, {}},
    {"FatTooShort", false, [](Bytes& v, uint32_t bps) { putLe32(v, kExfatFatLength, 1); Reseal(v, 0, bps); }, {},
     ExfatBootSource::Backup, {BP::FatTooShort}, {}},
    {"FatInBootRegion", false, [](Bytes& v, uint32_t bps) { putLe32(v, kExfatFatOffset, 20); Reseal(v, 0, bps); },
     {}, ExfatBootSource::Backup, {BP::FatOffsetTooSmall}, {}},
    {"RootClusterOne", false, [](Bytes& v, uint32_t bps) { putLe32(v, kExfatRootCluster, 1); Reseal(v, 0, bps); },
     {}, ExfatBootSource::Backup, {BP::RootClusterOutOfRange}, {}},
    {"VolumePastImage", false,
     [](Bytes& v, uint32_t bps) { putLe32(v, kExfatVolumeLength, le32(v, kExfatVolumeLength) + 8); Reseal(v, 0, bps); },
     {}, ExfatBootSource::Main, {BP::VolumeBeyondContainer}, {}},
};

class ExfatBootRegionTest : public ::testing::TestWithParam<BootCase> {};

TEST_P(ExfatBootRegionTest, ChoosesTheSoundRegionAndSaysWhy) {
  const BootCase& c = GetParam();
  TempDir dir;
  ExfatImage image;
  if (c.sector4k) {
    if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
    image.image = dir.File("4k.img");
    image.size = 8 << 20;
    ASSERT_TRUE(MustRun("truncate -s 8M " + image.image));
    std::string loop;
    ASSERT_TRUE(MustRun("losetup -f --show --sector-size 4096 " + image.image, &loop));
    loop.erase(loop.find_last_not_of(" \n") + 1);
    EXPECT_TRUE(MustRun("mkfs.exfat " + loop));
    ASSERT_TRUE(MustRun("losetup -d " + loop));
  } else {
    image = MakeExfatImage(dir.File("boot.img"), ExfatLayout::WholeDisk, 8 << 20, "");
  }
  Bytes v = image.VolumeBytes();
  ASSERT_EQ(v.size(), 8u << 20);
  const uint32_t bps = c.sector4k ? 4096 : 512;
  const auto original = DecodeExfatBootSector(v);
  ASSERT_EQ(original.BytesPerSector(), bps);
  if (c.damage) c.damage(v, bps);
  std::set<uint64_t> badUnits;
  for (uint64_t s : c.badSectors) badUnits.insert(s * bps / kExfatUnit);
  FailingReader reader(v, badUnits);

  const ExfatBootChoice choice = ChooseExfatBootRegion(reader, v.size() / kExfatUnit);
  EXPECT_EQ(choice.source, c.source);
  EXPECT_EQ(choice.main.problems, c.mainProblems);
  EXPECT_EQ(choice.backup.problems, c.backupProblems);
  EXPECT_EQ(choice.backup.firstUnit, 12u * bps / kExfatUnit);
  if (c.source == ExfatBootSource::None) {
    EXPECT_EQ(choice.Boot(), nullptr);
    return;
  }
  ASSERT_NE(choice.Boot(), nullptr);
  const ExfatBootRegion& used = c.source == ExfatBootSource::Main ? choice.main : choice.backup;
  EXPECT_EQ(used.storedChecksum, used.computedChecksum);
  EXPECT_EQ(choice.backupMatchesMain, c.source == ExfatBootSource::Main && c.name != std::string("VolumePastImage"));

  // The fields as exfatprogs reads them (from the untouched image).
  std::string dump;
  ASSERT_TRUE(MustRun("dump.exfat " + image.image, &dump));
  const ExfatBootSector& b = *choice.Boot();
  EXPECT_EQ(b.fileSystemName, "EXFAT   ");
  EXPECT_EQ(b.volumeLength, DumpField(dump, "Volume Length(sectors):") + (c.name == std::string("VolumePastImage") ? 8 : 0));
  EXPECT_EQ(b.fatOffset, DumpField(dump, "FAT Offset(sector offset):"));
  EXPECT_EQ(b.fatLength, DumpField(dump, "FAT Length(sectors):"));
  EXPECT_EQ(b.clusterHeapOffset, DumpField(dump, "Cluster Heap Offset (sector offset):"));
  EXPECT_EQ(b.clusterCount, DumpField(dump, "Cluster Count:"));
  EXPECT_EQ(b.rootCluster, DumpField(dump, "Root Cluster (cluster offset):"));
  EXPECT_EQ(b.volumeSerial, DumpField(dump, "Volume Serial:"));
  EXPECT_EQ(b.bytesPerSectorShift, DumpField(dump, "Sector Size Bits:"));
  EXPECT_EQ(b.sectorsPerClusterShift, DumpField(dump, "Sector per Cluster bits:"));
  EXPECT_EQ(b.RevisionMajor(), 1);
  EXPECT_EQ(b.numberOfFats, 1);
  EXPECT_EQ(b.bootSignature, kExfatSignature);
  if (c.name == std::string("DirtyAndPercentOutsideChecksum")) {
    EXPECT_TRUE(b.VolumeDirty());
    EXPECT_TRUE(b.MediaFailure());
    EXPECT_EQ(b.percentInUse, 42);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatBootRegionTest, ::testing::ValuesIn(kBootCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The sample card, read back ----

const ExfatScene* Scene(ExfatLayout layout) { return SharedExfatScene(layout); }

struct OpenCard {
  Bytes bytes;
  std::unique_ptr<ExfatSpanReader> reader;
  ExfatBootChoice choice;
  std::unique_ptr<ExfatVolume> volume;
  ExfatMetadata meta;

  explicit OpenCard(const ExfatImage& image) : bytes(image.VolumeBytes()) {
    reader = std::make_unique<ExfatSpanReader>(bytes);
    choice = ChooseExfatBootRegion(*reader, bytes.size() / kExfatUnit);
    if (choice.Boot() == nullptr) return;
    volume = std::make_unique<ExfatVolume>(*reader, *choice.Boot());
    meta = LoadExfatMetadata(*volume);
  }
  ExfatSetContext Context() const { return volume->Context(meta.upcase ? &*meta.upcase : nullptr); }
};

// The set at path ("/Docs/x.txt"; live first) and the bytes of its folder.
struct FoundSet {
  ExfatDirectory folder;
  ExfatEntrySet set;
};
std::optional<FoundSet> Find(OpenCard& card, const std::string& path) {
  ExfatDirectory folder = card.meta.root;
  size_t at = 1;
  for (;;) {
    const size_t slash = path.find('/', at);
    const std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    const ExfatEntrySet* hit = nullptr;
    for (const ExfatEntrySet& s : folder.sets)
      if (s.kind == ExfatEntryKind::File && s.name == part && (!hit || (hit->deleted && !s.deleted)))
        hit = &s;
    if (!hit) return std::nullopt;
    if (slash == std::string::npos) return FoundSet{folder, *hit};
    folder = ReadExfatDirectory(*card.volume, ExfatStreamOf(*hit), card.Context());
    at = slash + 1;
  }
}

// A stream's bytes through its clusters, as far as its valid length goes.
Bytes ReadFile(OpenCard& card, const ExfatEntrySet& set) {
  const ExfatChain chain = card.volume->StreamClusters(ExfatStreamOf(set));
  Bytes data, cluster(card.volume->BytesPerCluster());
  for (uint32_t c : chain.Clusters()) {
    if (!card.volume->ReadCluster(c, cluster)) ADD_FAILURE() << "cluster " << c;
    data.insert(data.end(), cluster.begin(), cluster.end());
  }
  data.resize(std::min<uint64_t>(data.size(), set.stream.validDataLength));
  return data;
}

// The entries of the set at first written back as one whose checksum holds.
void SealSet(Bytes& dir, size_t first) {
  const size_t n = 1 + dir[first * 32 + kExfatSecondaryCount];
  const bool deleted = !(dir[first * 32] & kExfatInUse);
  putLe16(dir, first * 32 + kExfatSetChecksum,
          ExfatSetChecksum(std::span<const uint8_t>(dir).subspan(first * 32, n * 32), deleted));
}

// As istat prints it: to the two seconds of the stored time, without the
// 10 ms part, in UTC.
std::string Utc(const ExfatTimestamp& stored) {
  const ExfatTimestamp t = DecodeExfatTimestamp(stored.raw, 0, stored.utcRaw);
  const int64_t s = *t.UnixSeconds();
  const int64_t days = s / 86400, rem = s % 86400;
  // civil_from_days
  const int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld (UTC)",
                static_cast<long long>(yoe + era * 400 + (m <= 2)), static_cast<long long>(m),
                static_cast<long long>(d), static_cast<long long>(rem / 3600),
                static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
  return text;
}

struct SetCase {
  const char* name;
  const char* path;        // a file's path, or the root's label/bitmap/up-case by its fls name
  std::function<void(Bytes& dir, size_t& first)> damage;  // on a copy of the folder's bytes
  ExfatEntryKind kind;
  std::vector<uint8_t> types;  // the type bytes of the set's entries, in order
  std::vector<SP> problems;
  bool istat;                  // name, size, allocation, sectors and times as istat has them
  std::function<void(const ExfatEntrySet&, const Bytes& dir)> check;
};

std::ostream& operator<<(std::ostream& os, const SetCase& c) { return os << c.name; }

constexpr uint8_t F = kExfatTypeFile, S = kExfatTypeStream, N = kExfatTypeName;

const SetCase kSetCases[] = {
    {"VolumeLabel", "$LABEL", nullptr, ExfatEntryKind::VolumeLabel, {kExfatTypeLabel}, {}, false,
     [](const ExfatEntrySet& s, const Bytes&) { EXPECT_EQ(ExfatNameToUtf8(s.primary.units), kExfatSceneLabel); }},
    {"AllocationBitmap", "$ALLOC_BITMAP", nullptr, ExfatEntryKind::AllocationBitmap, {kExfatTypeBitmap}, {}, true, nullptr},
    {"UpcaseTable", "$UPCASE_TABLE", nullptr, ExfatEntryKind::UpcaseTable, {kExfatTypeUpcase}, {}, true, nullptr},
    {"NonLatinName", "/Docs/Résumé ünïcødé 日本語.txt", nullptr, ExfatEntryKind::File, {F, S, N, N}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) {
       EXPECT_EQ(s.stream.nameLength, 22);
       EXPECT_EQ(s.primary.attributes & kExfatAttrDirectory, 0);
       EXPECT_TRUE(s.computedNameHash.has_value());
     }},
    {"NameOfSixEntries", "/Docs/Deep/Deeper/a long file name that needs more than fifteen characters for several name entries.txt",
     nullptr, ExfatEntryKind::File, {F, S, N, N, N, N, N, N}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) { EXPECT_EQ(s.primary.secondaryCount, 7); }},
    {"SurrogatePair", "/emoji \xF0\x9F\x98\x80.txt", nullptr, ExfatEntryKind::File, {F, S, N}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) { EXPECT_EQ(s.nameUnits.substr(6, 2), u"\U0001F600"); }},
    {"EmptyFile", "/empty.txt", nullptr, ExfatEntryKind::File, {F, S, N}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) {
       EXPECT_EQ(s.FirstCluster(), 0u);
       EXPECT_EQ(s.stream.validDataLength, 0u);
     }},
    {"Folder", "/Docs", nullptr, ExfatEntryKind::File, {F, S, N}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) {
       EXPECT_TRUE(s.IsDirectory());
       EXPECT_EQ(s.stream.validDataLength, s.stream.dataLength);
     }},
    {"FragmentedFile", "/frag.bin", nullptr, ExfatEntryKind::File, {F, S, N}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) { EXPECT_FALSE(s.NoFatChain()); }},
    {"ContiguousFile", "/contiguous.bin", nullptr, ExfatEntryKind::File, {F, S, N}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) { EXPECT_TRUE(s.NoFatChain()); }},
    {"DeletedFile", "/gone.txt", nullptr, ExfatEntryKind::File, {0x05, 0x40, 0x41}, {}, true, nullptr},
    {"DeletedFolder", "/Old", nullptr, ExfatEntryKind::File, {0x05, 0x40, 0x41}, {}, true,
     [](const ExfatEntrySet& s, const Bytes&) { EXPECT_TRUE(s.IsDirectory()); }},
    {"DeletedInDeletedFolder", "/Old/Inner/o2.bin", nullptr, ExfatEntryKind::File, {0x05, 0x40, 0x41}, {}, true, nullptr},
    // Entry types no tool here writes, put in the label's place.
    {"VolumeGuid", "$LABEL",
     [](Bytes& d, size_t& first) {
       std::fill_n(d.begin() + first * 32, 32, 0);
       d[first * 32] = kExfatTypeGuid;
       for (int i = 0; i < 16; ++i) d[first * 32 + kExfatGuid + i] = static_cast<uint8_t>(0x10 + i);
       SealSet(d, first);
     },
     ExfatEntryKind::VolumeGuid, {kExfatTypeGuid}, {}, false,
     [](const ExfatEntrySet& s, const Bytes&) {
       EXPECT_TRUE(s.checksumChecked);
       EXPECT_EQ(s.primary.guid[15], 0x1F);
     }},
    {"TexFatPadding", "$LABEL",
     [](Bytes& d, size_t& first) { std::fill_n(d.begin() + first * 32, 32, 0); d[first * 32] = kExfatTypePadding; },
     ExfatEntryKind::TexFatPadding, {kExfatTypePadding}, {}, false, nullptr},
    {"UnknownCriticalPrimary", "$LABEL", [](Bytes& d, size_t& first) { d[first * 32] = 0x84; d[first * 32 + 1] = 0; },
     ExfatEntryKind::UnknownPrimary, {0x84}, {SP::UnknownCritical}, false, nullptr},
    // The two vendor entries after a file's name, in the next set's place.
    {"VendorEntries", "/readme.txt",
     [](Bytes& d, size_t& first) {
       const size_t e = (first + 3) * 32;
       std::fill_n(d.begin() + e, 64, 0);
       d[e] = kExfatTypeVendorExtension;
       d[e + 32] = kExfatTypeVendorAllocation;
       d[e + 2] = d[e + 32 + 2] = 0xAB;
       putLe32(d, e + 32 + kExfatEntryFirstCluster, 9);
       putLe32(d, e + 32 + kExfatEntryDataLength, 100);
       d[first * 32 + kExfatSecondaryCount] = 4;
       SealSet(d, first);
     },
     ExfatEntryKind::File, {F, S, N, kExfatTypeVendorExtension, kExfatTypeVendorAllocation}, {}, false,
     [](const ExfatEntrySet& s, const Bytes& d) {
       EXPECT_EQ(s.name, "readme.txt");
       const ExfatEntry ext = DecodeExfatEntry(std::span<const uint8_t>(d).subspan((s.firstEntry + 3) * 32, 32));
       const ExfatEntry alloc = DecodeExfatEntry(std::span<const uint8_t>(d).subspan((s.firstEntry + 4) * 32, 32));
       EXPECT_EQ(ext.kind, ExfatEntryKind::VendorExtension);
       EXPECT_EQ(ext.guid[0], 0xAB);
       EXPECT_EQ(alloc.kind, ExfatEntryKind::VendorAllocation);
       EXPECT_EQ(alloc.firstCluster, 9u);
       EXPECT_EQ(alloc.dataLength, 100u);
     }},
    // Offsets east and west of UTC; one whose valid bit is clear counts for nothing.
    {"UtcOffsets", "/readme.txt",
     [](Bytes& d, size_t& first) {
       d[first * 32 + kExfatFileCreatedUtc] = 0x80 | 0x04;
       d[first * 32 + kExfatFileModifiedUtc] = 0x80 | 0x7C;
       d[first * 32 + kExfatFileAccessedUtc] = 0x04;
       SealSet(d, first);
     },
     ExfatEntryKind::File, {F, S, N}, {}, false,
     [](const ExfatEntrySet& s, const Bytes&) {
       const auto utc = [](const ExfatTimestamp& t) {
         return *DecodeExfatTimestamp(t.raw, t.tenMs, 0x80).UnixSeconds();
       };
       EXPECT_EQ(s.primary.created.utcOffsetMinutes, 60);
       EXPECT_EQ(*s.primary.created.UnixSeconds(), utc(s.primary.created) - 3600);
       EXPECT_EQ(s.primary.modified.utcOffsetMinutes, -60);
       EXPECT_EQ(*s.primary.modified.UnixSeconds(), utc(s.primary.modified) + 3600);
       EXPECT_FALSE(s.primary.accessed.utcOffsetValid);
       EXPECT_EQ(*s.primary.accessed.UnixSeconds(), utc(s.primary.accessed));
     }},
    // A lone surrogate and a control unit show as U+FFFD; the name is no host name.
    {"UnitsReplacedVisibly", "/readme.txt",
     [](Bytes& d, size_t& first) {
       putLe16(d, (first + 2) * 32 + kExfatNameText, 0xD800);
       putLe16(d, (first + 2) * 32 + kExfatNameText + 2, 0x0001);
       SealSet(d, first);
     },
     ExfatEntryKind::File, {F, S, N}, {SP::NameHashMismatch}, false,
     [](const ExfatEntrySet& s, const Bytes&) {
       EXPECT_EQ(s.name, "\xEF\xBF\xBD\xEF\xBF\xBD" "adme.txt");
       EXPECT_FALSE(ExfatNameIsValid(s.nameUnits));
     }},
    // Broken sets.
    {"ChecksumWrong", "/readme.txt", [](Bytes& d, size_t& first) { d[first * 32 + kExfatFileAttributes] ^= 0x01; },
     ExfatEntryKind::File, {F, S, N}, {SP::ChecksumMismatch}, false, nullptr},
    {"NameHashWrong", "/readme.txt",
     [](Bytes& d, size_t& first) { d[(first + 1) * 32 + kExfatStreamNameHash] ^= 0x40; SealSet(d, first); },
     ExfatEntryKind::File, {F, S, N}, {SP::NameHashMismatch}, false, nullptr},
    {"CountPastTheBytes", "/readme.txt", [](Bytes& d, size_t& first) { d.resize((first + 2) * 32); },
     ExfatEntryKind::File, {F, S}, {SP::Truncated, SP::ChecksumMismatch, SP::NameIncomplete}, false, nullptr},
    {"CountOfOne", "/readme.txt",
     [](Bytes& d, size_t& first) { d[first * 32 + kExfatSecondaryCount] = 1; SealSet(d, first); },
     ExfatEntryKind::File, {F, S}, {SP::CountOutOfRange, SP::NameIncomplete}, false, nullptr},
    {"StreamMissing", "/readme.txt",
     [](Bytes& d, size_t& first) { d[(first + 1) * 32] = N; SealSet(d, first); },
     ExfatEntryKind::File, {F, N, N}, {SP::NoStream}, false, nullptr},
    {"NameEntryMissing", "/Docs/Deep/Deeper/a long file name that needs more than fifteen characters for several name entries.txt",
     [](Bytes& d, size_t& first) { d[first * 32 + kExfatSecondaryCount] = 6; SealSet(d, first); },
     ExfatEntryKind::File, {F, S, N, N, N, N, N}, {SP::NameIncomplete}, false,
     [](const ExfatEntrySet& s, const Bytes&) { EXPECT_EQ(s.nameUnits.size(), 75u); }},
    {"DeletedNameInLiveSet", "/readme.txt", [](Bytes& d, size_t& first) { d[(first + 2) * 32] = 0x41; },
     ExfatEntryKind::File, {F, S}, {SP::SecondaryMissing, SP::ChecksumMismatch, SP::NameIncomplete}, false, nullptr},
    {"ValidPastLength", "/frag.bin",
     [](Bytes& d, size_t& first) {
       putLe32(d, (first + 1) * 32 + kExfatStreamValidLength, le32(d, (first + 1) * 32 + kExfatEntryDataLength) + 1);
       SealSet(d, first);
     },
     ExfatEntryKind::File, {F, S, N}, {SP::ValidLengthOverLength}, false, nullptr},
    {"ClusterPastHeap", "/frag.bin",
     [](Bytes& d, size_t& first) { putLe32(d, (first + 1) * 32 + kExfatEntryFirstCluster, 0x00100000); SealSet(d, first); },
     ExfatEntryKind::File, {F, S, N}, {SP::ClusterOutOfRange}, false, nullptr},
    {"LengthPastHeap", "/frag.bin",
     [](Bytes& d, size_t& first) { putLe32(d, (first + 1) * 32 + kExfatEntryDataLength + 4, 1); SealSet(d, first); },
     ExfatEntryKind::File, {F, S, N}, {SP::LengthBeyondHeap}, false, nullptr},
    {"DeletedSetPartlyReused", "/gone.txt", [](Bytes& d, size_t& first) { d[(first + 2) * 32] = F; },
     ExfatEntryKind::File, {0x05, 0x40}, {SP::Overwritten, SP::ChecksumMismatch, SP::NameIncomplete}, false, nullptr},
    {"StreamWithoutFile", "/readme.txt", [](Bytes&, size_t& first) { ++first; },
     ExfatEntryKind::StreamExtension, {S}, {SP::Orphan}, false, nullptr},
};

class ExfatEntrySetTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(ExfatEntrySetTest, DecodesAsTheSleuthKitReadsIt) {
  if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const SetCase& c = GetParam();
  const ExfatScene* scene = Scene(ExfatLayout::MbrPartition);
  ASSERT_NE(scene, nullptr);
  OpenCard card(scene->image);
  ASSERT_EQ(card.choice.source, ExfatBootSource::Main);
  ASSERT_TRUE(card.meta.problems.empty()) << ExfatMetaProblemText(card.meta.problems[0]);

  // The set, and the bytes of the folder it is in.
  ExfatDirectory folder = card.meta.root;
  std::optional<ExfatEntrySet> set;
  const std::string path = c.path;
  if (path[0] == '$') {
    const ExfatEntryKind want = path == "$LABEL"          ? ExfatEntryKind::VolumeLabel
                                : path == "$ALLOC_BITMAP" ? ExfatEntryKind::AllocationBitmap
                                                          : ExfatEntryKind::UpcaseTable;
    for (const ExfatEntrySet& s : folder.sets)
      if (s.kind == want && !set) set = s;
  } else if (auto found = Find(card, path)) {
    folder = found->folder;
    set = found->set;
  }
  ASSERT_TRUE(set.has_value()) << path;
  Bytes dir = folder.bytes;
  size_t first = set->firstEntry;
  if (c.damage) {
    c.damage(dir, first);
    *set = DecodeExfatEntrySet(dir, first, card.Context());
  }

  EXPECT_EQ(set->kind, c.kind);
  EXPECT_EQ(set->problems, c.problems);
  ASSERT_EQ(set->entryCount, c.types.size());
  for (size_t i = 0; i < c.types.size(); ++i) EXPECT_EQ(dir[(first + i) * 32], c.types[i]) << "entry " << i;
  EXPECT_EQ(set->deleted, !(c.types[0] & kExfatInUse));
  if (c.check) c.check(*set, dir);
  if (set->kind == ExfatEntryKind::File && set->problems.empty()) {
    EXPECT_EQ(set->computedChecksum, set->primary.setChecksum);
    EXPECT_EQ(set->name, path.substr(path.rfind('/') + 1));
    if (set->computedNameHash) {
      EXPECT_EQ(*set->computedNameHash, set->stream.nameHash);
    }
    if (!set->deleted && !set->IsDirectory() && !c.damage) {
      EXPECT_EQ(ReadFile(card, *set), scene->liveFiles.at(path));
    }
  }
  if (!c.istat) return;

  // istat of the same entry: fls tells its address.
  const std::vector<FlsLine> fls = RunFls(scene->image, false);
  auto line = std::find_if(fls.begin(), fls.end(), [&](const FlsLine& l) { return l.path == path.substr(path[0] == '/'); });
  ASSERT_NE(line, fls.end()) << path;
  EXPECT_EQ(line->deleted, set->deleted);
  EXPECT_EQ(line->type, set->IsDirectory() ? "d/d" : "r/r");
  const IstatInfo info = RunIstat(scene->image, line->inode);
  EXPECT_EQ(info.allocated, !set->deleted);
  EXPECT_EQ(info.size, set->DataLength());
  std::vector<uint64_t> sectors;
  const ExfatChain chain = card.volume->StreamClusters(ExfatStreamOf(*set));
  EXPECT_TRUE(chain.Complete());
  for (uint32_t cl : chain.Clusters())
    for (uint32_t u = 0; u < card.volume->Boot().UnitsPerCluster(); ++u)
      if (sectors.size() < (set->DataLength() + 511) / 512)
        sectors.push_back(card.volume->Boot().UnitOfCluster(cl) + u);
  EXPECT_EQ(info.sectors, sectors);
  if (set->kind == ExfatEntryKind::File) {
    EXPECT_EQ(info.name, set->name);
    EXPECT_EQ(info.written, Utc(set->primary.modified));
    EXPECT_EQ(info.created, Utc(set->primary.created));
    EXPECT_EQ(info.accessed, Utc(set->primary.accessed));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatEntrySetTest, ::testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Chains and folders over a damaged FAT or unreadable clusters ----

struct ChainCase {
  const char* name;
  const char* path;
  // Changes the volume's bytes given the file's sound chain; returns the
  // reader units that are to fail.
  std::function<std::set<uint64_t>(Bytes& v, const ExfatBootSector& b, const std::vector<uint32_t>& chain)> damage;
  ExfatChainEnd end;
  size_t clusters;  // what the walk gives (SIZE_MAX: the sound chain's count)
  bool complete;
  bool runAtHeapEnd = false;
};

std::ostream& operator<<(std::ostream& os, const ChainCase& c) { return os << c.name; }

void SetFat(Bytes& v, const ExfatBootSector& b, uint32_t c, uint32_t value) {
  putLe32(v, (size_t{b.fatOffset} << b.bytesPerSectorShift) + 4 * size_t{c}, value);
}

const ChainCase kChainCases[] = {
    {"Sound", "/frag.bin", nullptr, ExfatChainEnd::End, SIZE_MAX, true},
    {"LoopsBack", "/frag.bin",
     [](Bytes& v, const ExfatBootSector& b, const std::vector<uint32_t>& ch) {
       SetFat(v, b, ch.back(), ch[1]);
       return std::set<uint64_t>{};
     },
     ExfatChainEnd::Loop, SIZE_MAX, true},
    {"IntoAFreeCluster", "/frag.bin",
     [](Bytes& v, const ExfatBootSector& b, const std::vector<uint32_t>& ch) {
       SetFat(v, b, ch[1], kExfatFatFree);
       return std::set<uint64_t>{};
     },
     ExfatChainEnd::Free, 2, false},
    {"IntoABadCluster", "/frag.bin",
     [](Bytes& v, const ExfatBootSector& b, const std::vector<uint32_t>& ch) {
       SetFat(v, b, ch[0], kExfatFatBad);
       return std::set<uint64_t>{};
     },
     ExfatChainEnd::Bad, 1, false},
    {"OutOfTheHeap", "/frag.bin",
     [](Bytes& v, const ExfatBootSector& b, const std::vector<uint32_t>& ch) {
       SetFat(v, b, ch[1], b.clusterCount + 2);
       return std::set<uint64_t>{};
     },
     ExfatChainEnd::OutOfRange, 2, false},
    {"LongerThanItsFile", "/frag.bin",
     [](Bytes& v, const ExfatBootSector& b, const std::vector<uint32_t>& ch) {
       SetFat(v, b, ch.back(), b.clusterCount);
       return std::set<uint64_t>{};
     },
     ExfatChainEnd::TooLong, SIZE_MAX, true},
    {"FatSectorUnreadable", "/frag.bin",
     [](Bytes&, const ExfatBootSector& b, const std::vector<uint32_t>& ch) {
       return std::set<uint64_t>{b.UnitOfSector(b.fatOffset) + ch[0] * 4 / kExfatUnit};
     },
     ExfatChainEnd::Unreadable, 1, false},
    // A NoFatChain run that starts at the heap's last cluster.
    {"RunPastTheHeap", "/contiguous.bin", nullptr, ExfatChainEnd::OutOfRange, 1, false, true},
};

class ExfatChainTest : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ExfatChainTest, WalkEndsAndSaysHow) {
  if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const ChainCase& c = GetParam();
  const ExfatScene* scene = Scene(ExfatLayout::MbrPartition);
  ASSERT_NE(scene, nullptr);
  OpenCard card(scene->image);
  const auto found = Find(card, c.path);
  ASSERT_TRUE(found.has_value());
  ExfatStream stream = ExfatStreamOf(found->set);
  const std::vector<uint32_t> sound = card.volume->StreamClusters(stream).Clusters();
  ASSERT_GE(sound.size(), 4u);
  Bytes v = card.bytes;
  std::set<uint64_t> bad;
  if (c.damage) bad = c.damage(v, card.volume->Boot(), sound);
  if (c.runAtHeapEnd) {
    stream.noFatChain = true;
    stream.firstCluster = card.volume->Boot().clusterCount + 1;
  }
  FailingReader reader(v, bad);
  ExfatVolume volume(reader, card.volume->Boot());
  const ExfatChain chain = volume.StreamClusters(stream);
  EXPECT_EQ(chain.end, c.end);
  const std::vector<uint32_t> got = chain.Clusters();
  const size_t want = c.clusters == SIZE_MAX ? sound.size() : c.clusters;
  ASSERT_EQ(got.size(), want);
  if (!c.runAtHeapEnd) {
    EXPECT_TRUE(std::equal(got.begin(), got.end(), sound.begin()));
  }
  EXPECT_EQ(chain.Complete(), c.complete);
  EXPECT_EQ(chain.clustersNeeded, sound.size());
}

INSTANTIATE_TEST_SUITE_P(Rows, ExfatChainTest, ::testing::ValuesIn(kChainCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A folder cluster that cannot be read: the sets on either side of it are
// still found, and the one that runs into it is told as cut short.
TEST(ExfatDirectory, UnreadableClusterCutsOnlyTheSetAcrossIt) {
  if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const ExfatScene* scene = Scene(ExfatLayout::MbrPartition);
  ASSERT_NE(scene, nullptr);
  OpenCard card(scene->image);
  const auto many = Find(card, "/Many");
  ASSERT_TRUE(many.has_value());
  const ExfatDirectory sound = ReadExfatDirectory(*card.volume, ExfatStreamOf(many->set), card.Context());
  ASSERT_EQ(sound.clustersRead.size(), 2u);
  ASSERT_EQ(sound.sets.size(), 45u);
  EXPECT_TRUE(sound.endSeen);
  const uint32_t second = sound.clustersRead[1];
  FailingReader reader(card.bytes, {card.volume->Boot().UnitOfCluster(second)});
  ExfatVolume volume(reader, card.volume->Boot());
  const ExfatDirectory cut = ReadExfatDirectory(volume, ExfatStreamOf(many->set), card.Context());
  EXPECT_EQ(cut.unreadable, std::vector<uint32_t>{second});
  EXPECT_FALSE(cut.endSeen);
  const size_t perCluster = card.volume->BytesPerCluster() / kExfatEntrySize;
  size_t whole = 0;
  for (const ExfatEntrySet& s : sound.sets) whole += s.firstEntry + s.entryCount <= perCluster;
  ASSERT_EQ(cut.sets.size(), whole + 1);
  for (size_t i = 0; i < whole; ++i) EXPECT_EQ(cut.sets[i].name, sound.sets[i].name);
  EXPECT_TRUE(cut.sets.back().Has(SP::Truncated));
}

// ---- The whole tree on each layout against fls ----

struct TreeItem {
  std::string path;
  bool deleted;
  bool folder;
  uint64_t size;
  bool operator<(const TreeItem& o) const { return path < o.path || (path == o.path && deleted < o.deleted); }
  bool operator==(const TreeItem& o) const = default;
};

void Walk(OpenCard& card, const ExfatDirectory& dir, const std::string& prefix, bool inDeleted,
          int depth, std::vector<TreeItem>& out) {
  for (const ExfatEntrySet& s : dir.sets) {
    if (s.kind != ExfatEntryKind::File) continue;
    EXPECT_TRUE(s.problems.empty()) << prefix << s.name << ": " << ExfatSetProblemText(s.problems[0]);
    const bool deleted = s.deleted || inDeleted;
    out.push_back({prefix + s.name, deleted, s.IsDirectory(), s.IsDirectory() ? 0 : s.DataLength()});
    if (s.IsDirectory() && depth < 8)
      Walk(card, ReadExfatDirectory(*card.volume, ExfatStreamOf(s), card.Context()),
           prefix + s.name + "/", deleted, depth + 1, out);
  }
}

class ExfatTreeTest : public ::testing::TestWithParam<ExfatLayout> {};

TEST_P(ExfatTreeTest, NamesSizesAndDeletedEqualFls) {
  if (const std::string why = ExfatMountSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const ExfatScene* scene = Scene(GetParam());
  ASSERT_NE(scene, nullptr);
  std::string report;
  EXPECT_TRUE(scene->image.Check(&report)) << report;
  OpenCard card(scene->image);
  ASSERT_EQ(card.choice.source, ExfatBootSource::Main);
  EXPECT_TRUE(card.choice.backupMatchesMain);
  EXPECT_TRUE(card.meta.problems.empty());
  EXPECT_EQ(card.meta.Label(), kExfatSceneLabel);
  ASSERT_TRUE(card.meta.upcase.has_value());

  std::vector<TreeItem> ours, theirs;
  Walk(card, card.meta.root, "", false, 0, ours);
  for (const FlsLine& l : RunFls(scene->image, false))
    if (l.path[0] != '$' && l.path.find("(Volume Label Entry)") == std::string::npos)
      theirs.push_back({l.path, l.deleted, l.type == "d/d", l.type == "d/d" ? 0 : l.size});
  std::sort(ours.begin(), ours.end());
  std::sort(theirs.begin(), theirs.end());
  EXPECT_EQ(ours, theirs);
  std::vector<std::string> deletedOurs, deletedFls;
  for (const TreeItem& t : ours)
    if (t.deleted) deletedOurs.push_back(t.path);
  for (const FlsLine& l : RunFls(scene->image, true)) deletedFls.push_back(l.path);
  std::sort(deletedFls.begin(), deletedFls.end());
  EXPECT_EQ(deletedOurs, deletedFls);

  // Every live file reads back as written; its clusters are in use in the
  // bitmap, the deleted file's are free.
  ASSERT_TRUE(card.meta.bitmap.has_value());
  for (const auto& [path, bytes] : scene->liveFiles) {
    const auto found = Find(card, path);
    ASSERT_TRUE(found.has_value()) << path;
    EXPECT_EQ(ReadFile(card, found->set), bytes) << path;
    for (uint32_t c : card.volume->StreamClusters(ExfatStreamOf(found->set)).Clusters())
      EXPECT_TRUE(card.meta.bitmap->InUse(c)) << path << " cluster " << c;
  }
  const auto gone = Find(card, "/gone.txt");
  ASSERT_TRUE(gone.has_value());
  EXPECT_FALSE(card.meta.bitmap->InUse(gone->set.FirstCluster()));
  // The bitmap's count as exfatprogs makes it.
  std::string dump;
  const std::string volumeFile = scene->image.image + ".dump";
  ASSERT_TRUE(WriteFileBytes(volumeFile, card.bytes));
  ASSERT_TRUE(MustRun("dump.exfat " + volumeFile, &dump));
  EXPECT_EQ(card.meta.bitmap->UsedCount(),
            DumpField(dump, "Total Clusters:") - DumpField(dump, "Free Clusters:"));
}

INSTANTIATE_TEST_SUITE_P(Layouts, ExfatTreeTest,
                         ::testing::Values(ExfatLayout::WholeDisk, ExfatLayout::MbrPartition,
                                           ExfatLayout::GptPartition),
                         [](const auto& info) { return std::string(ExfatLayoutName(info.param)); });

}  // namespace

// The GPT reader over disks partitioned by sfdisk, sound and damaged: which
// copy it uses, what it finds wrong with each, what sector 0 is taken for,
// and the entries as sfdisk -d and mmls list them.
#include "disk/gpt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "disk/crc32.h"
#include "disk/first_sector.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "fixtures/image_sectors.h"
#include "views/gpt_views.h"

void PrintTo(GptFault f, std::ostream* os) { *os << GptFaultText(f); }

namespace {

using Faults = std::vector<GptFault>;

// An entry as a peer lists it.
struct Listed {
  uint32_t number = 0;
  uint64_t start = 0, sectors = 0;
  std::string type, uuid, name, attrs;
};

// sfdisk -d writes the bytes of a name past ASCII as \xHH.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\x") == 0 && i + 4 <= text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<Listed> SfdiskList(const std::string& image) {
  std::string out;
  MustRun("sfdisk -d " + ShellQuote(image), &out);
  const std::regex line(R"re((\d+) : start= *(\d+), size= *(\d+), type=([0-9A-F-]+), uuid=([0-9A-F-]+)(?:, name="([^"]*)")?(?:, attrs="([^"]*)")?)re");
  std::vector<Listed> listed;
  std::istringstream in(out);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, line)) continue;
    listed.push_back({static_cast<uint32_t>(std::stoul(m[1])), std::stoull(m[2]), std::stoull(m[3]),
                      m[4], m[5], Unescape(m[6]), m[7]});
  }
  return listed;
}

// mmls: slot (from 0), start, length and description (the entry's name).
std::vector<Listed> MmlsList(const std::string& image) {
  std::string out;
  MustRun("mmls " + ShellQuote(image), &out);
  const std::regex line(R"(^\d+:\s+(\d+)\s+(\d+)\s+\d+\s+(\d+)\s+(.*)$)");
  std::vector<Listed> listed;
  std::istringstream in(out);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (std::regex_match(text, m, line))
      listed.push_back({static_cast<uint32_t>(std::stoul(m[1]) + 1), std::stoull(m[2]),
                        std::stoull(m[3]), "", "", m[4], ""});
  }
  return listed;
}

uint64_t LastSector(const std::string& image) { return ImageSectors(image) - 1; }

void SetHeader32(const std::string& image, uint64_t lba, size_t field, uint32_t value) {
  std::vector<uint8_t> h = ReadImageSectors(image, lba);
  putLe32(h, field, value);
  WriteImageSectors(image, lba, h);
}

// The header's CRC made right again after an edit, as a tool writing it would;
// with the array's too when `array`.
void Reseal(const std::string& image, uint64_t lba, bool array) {
  std::vector<uint8_t> h = ReadImageSectors(image, lba);
  if (array) {
    const size_t bytes = size_t{le32(h, kGptEntryCount)} * le32(h, kGptEntrySize);
    const auto a = ReadImageSectors(image, le64(h, kGptEntriesLba), (bytes + 511) / 512);
    putLe32(h, kGptEntriesCrc, Crc32(std::span(a).first(bytes)));
  }
  putLe32(h, kGptHeaderCrc, 0);
  putLe32(h, kGptHeaderCrc, Crc32(std::span(h).first(le32(h, kGptHeaderSize))));
  WriteImageSectors(image, lba, h);
}

// Entry `number`'s field in the primary array (from sector 2), sealed again.
void SetEntry64(const std::string& image, uint32_t number, size_t field, uint64_t value) {
  const uint64_t at = 2 * 512 + uint64_t{number - 1} * 128 + field;
  std::vector<uint8_t> s = ReadImageSectors(image, at / 512);
  putLe64(s, at % 512, value);
  WriteImageSectors(image, at / 512, s);
  Reseal(image, 1, true);
}

struct GptRow {
  const char* name;
  const char* size;    // truncate -s
  const char* script;  // sfdisk's input after "label: gpt"
  void (*damage)(const std::string& image);
  uint64_t unreadable;  // a sector the disk cannot read
  GptSource source;
  Faults primary, backup;
  // The Problem column of each entry joined by "|"; nullptr: none, and the
  // entries as sfdisk and mmls list them.
  const char* problems;
  bool hybrid;
};

constexpr const char* kThree =
    "start=2048, size=16384, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B, name=\"EFI system partition\"\n"
    "size=32768, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=\"Données\"\n"
    "type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=\"root\", attrs=\"LegacyBIOSBootable\"\n";
// 3 TiB: the second partition starts past 2^32 sectors.
constexpr const char* kHuge =
    "start=2048, size=32768, type=E3C9E316-0B5C-4DB8-817D-F92DF00215AE, name=\"Microsoft reserved partition\"\n"
    "start=4294969344, size=2097152, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=\"Past two TiB\"\n";
constexpr uint64_t kNone = UINT64_MAX;

const GptRow kRows[] = {
    {"Sound", "64M", kThree, nullptr, kNone, GptSource::Primary, {}, {}, nullptr, false},
    {"PastTwoTiB", "3T", kHuge, nullptr, kNone, GptSource::Primary, {}, {}, nullptr, false},
    {"PrimaryHeaderCrcBroken", "64M", kThree,
     [](const std::string& i) { FlipImageByte(i, 512 + kGptDiskGuid); }, kNone, GptSource::Backup,
     {GptFault::BadHeaderCrc}, {}, nullptr, false},
    {"PrimaryArrayCrcBroken", "64M", kThree,
     [](const std::string& i) { FlipImageByte(i, 2 * 512 + kGptEntryName); }, kNone, GptSource::Backup,
     {GptFault::BadEntryArrayCrc}, {}, nullptr, false},
    {"PrimaryArrayUnreadable", "64M", kThree, nullptr, 3, GptSource::Backup,
     {GptFault::EntryArrayUnreadable}, {}, nullptr, false},
    {"BackupHeaderCrcBroken", "64M", kThree,
     [](const std::string& i) { FlipImageByte(i, LastSector(i) * 512 + kGptFirstUsableLba); }, kNone,
     GptSource::Primary, {}, {GptFault::BadHeaderCrc}, nullptr, false},
    {"BothBroken", "64M", kThree,
     [](const std::string& i) {
       FlipImageByte(i, 512 + kGptDiskGuid);
       FlipImageByte(i, LastSector(i) * 512 + kGptDiskGuid);
     },
     kNone, GptSource::None, {GptFault::BadHeaderCrc}, {GptFault::BadHeaderCrc}, nullptr, false},
    {"EntryCountOfFourBillion", "64M", kThree,
     [](const std::string& i) {
       SetHeader32(i, 1, kGptEntryCount, 0xFFFFFFFF);
       Reseal(i, 1, false);
     },
     kNone, GptSource::Backup, {GptFault::EntryArrayTooLarge}, {}, nullptr, false},
    {"EntrySizeNotOf128", "64M", kThree,
     [](const std::string& i) {
       SetHeader32(i, 1, kGptEntrySize, 100);
       Reseal(i, 1, false);
     },
     kNone, GptSource::Backup, {GptFault::BadEntrySize}, {}, nullptr, false},
    {"NoGptAtAll", "64M", kThree,
     [](const std::string& i) {
       const std::vector<uint8_t> zero(512);
       WriteImageSectors(i, 1, zero);
       WriteImageSectors(i, LastSector(i), zero);
     },
     kNone, GptSource::None, {GptFault::NoSignature}, {GptFault::NoSignature}, nullptr, false},
    // Grown after partitioning: the backup stays where the primary says.
    {"DiskGrown", "64M", kThree,
     [](const std::string& i) { std::filesystem::resize_file(i, (ImageSectors(i) + 2048) * 512); },
     kNone, GptSource::Primary, {GptFault::OtherHeaderElsewhere}, {}, nullptr, false},
    {"HybridMbr", "64M", kThree,
     [](const std::string& i) {
       std::vector<uint8_t> mbr = ReadImageSectors(i, 0);
       const uint8_t fat32[16] = {0x80, 0, 0, 0, 0x0C, 0, 0, 0, 0x00, 0x08, 0, 0, 0x00, 0x40, 0, 0};
       std::copy(std::begin(fat32), std::end(fat32), mbr.begin() + 446 + 16);
       WriteImageSectors(i, 0, mbr);
     },
     kNone, GptSource::Primary, {}, {}, nullptr, true},
    // The primary's entries edited and sealed: the backup's array differs.
    {"EntriesOverlapAndLeaveTheUsableRange", "64M", kThree,
     [](const std::string& i) {
       SetEntry64(i, 2, kGptEntryFirstLba, 10000);
       SetEntry64(i, 3, kGptEntryLastLba, LastSector(i) - 1);
     },
     kNone, GptSource::Primary, {}, {GptFault::CopiesDiffer},
     "Overlaps entry 2|Overlaps entry 1|Outside the usable sectors", false},
    {"EntryEndsBeforeItStarts", "64M", kThree,
     [](const std::string& i) { SetEntry64(i, 1, kGptEntryLastLba, 100); }, kNone, GptSource::Primary,
     {}, {GptFault::CopiesDiffer}, "First LBA after last LBA||", false},
};

void PrintTo(const GptRow& row, std::ostream* os) { *os << row.name; }

class GptRead : public ::testing::TestWithParam<GptRow> {};

TEST_P(GptRead, UsesTheSoundCopyAndSaysWhatIsWrong) {
  const GptRow& row = GetParam();
  TempDir dir;
  const std::string image = dir.File("gpt.img");
  ASSERT_TRUE(MustRun("truncate -s " + std::string(row.size) + " " + ShellQuote(image)));
  ASSERT_TRUE(MustRun("printf '%s' " + ShellQuote(std::string("label: gpt\n") + row.script) +
                      " | sfdisk -q --no-reread --no-tell-kernel " + ShellQuote(image)));
  const std::vector<Listed> listed = SfdiskList(image), mmls = MmlsList(image);
  if (row.damage != nullptr) row.damage(image);

  const uint64_t sectors = ImageSectors(image);
  const GptTable table = ReadGpt(sectors, ImageReader(image, row.unreadable));
  EXPECT_EQ(table.source, row.source);
  EXPECT_EQ(table.primary.faults, row.primary);
  EXPECT_EQ(table.backup.faults, row.backup);
  const FirstSectorClass first = ClassifyFirstSector(ReadImageSectors(image, 0), sectors);
  EXPECT_EQ(first.kind, FirstSectorKind::ProtectiveMbr);
  EXPECT_TRUE(first.tableSound);
  EXPECT_EQ(first.hybrid, row.hybrid);
  if (table.Used() == nullptr) return;

  const std::vector<GptEntry>& entries = table.Used()->entries;
  if (row.problems != nullptr) {
    std::string problems;
    for (const auto& r : GptEntriesView(*table.Used()).rows) problems += (problems.empty() ? "" : "|") + r.back();
    EXPECT_EQ(problems, row.problems);
    return;
  }
  ASSERT_EQ(entries.size(), listed.size());
  ASSERT_EQ(mmls.size(), listed.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const GptEntry& e = entries[i];
    SCOPED_TRACE(e.number);
    EXPECT_TRUE(e.Sound());
    EXPECT_EQ(e.number, listed[i].number);
    EXPECT_EQ(e.firstLba, listed[i].start);
    EXPECT_EQ(e.Sectors(), listed[i].sectors);
    EXPECT_EQ(GuidText(e.type), listed[i].type);
    EXPECT_EQ(GuidText(e.unique), listed[i].uuid);
    EXPECT_EQ(e.name, listed[i].name);
    EXPECT_EQ(e.attributes, listed[i].attrs == "LegacyBIOSBootable" ? 4u : 0u);
    EXPECT_EQ(e.number, mmls[i].number);
    EXPECT_EQ(e.firstLba, mmls[i].start);
    EXPECT_EQ(e.Sectors(), mmls[i].sectors);
    EXPECT_EQ(e.name, mmls[i].name);
  }
}

INSTANTIATE_TEST_SUITE_P(Disks, GptRead, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Every type the reader names, it names as sfdisk does.
TEST(GptTypes, NamedAsSfdiskNamesThem) {
  std::string out;
  ASSERT_TRUE(MustRun("sfdisk --label gpt --list-types", &out));
  const std::regex line(R"(^([0-9A-Fa-f-]{36})  (.*)$)");
  std::istringstream in(out);
  size_t named = 0;
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) continue;
    std::string upper = m[1];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Guid g{};
    // The text form back to bytes: three little-endian groups, then bytes.
    const std::string hex = std::regex_replace(upper, std::regex("-"), "");
    for (size_t b = 0; b < 16; ++b) g[b] = static_cast<uint8_t>(std::stoul(hex.substr(2 * b, 2), nullptr, 16));
    std::swap(g[0], g[3]), std::swap(g[1], g[2]), std::swap(g[4], g[5]), std::swap(g[6], g[7]);
    ASSERT_EQ(GuidText(g), upper);
    const std::string_view ours = GptTypeName(g);
    if (ours.empty()) continue;
    EXPECT_EQ(ours, m[2].str()) << upper;
    ++named;
  }
  EXPECT_GE(named, 40u);
}

}  // namespace

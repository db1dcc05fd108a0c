#include "disk/gpt.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "disk/crc32.h"
#include "disk/le.h"
#include "disk/long_name.h"

namespace {

struct TypeName {
  const char* guid;
  const char* name;
};

// The types the partitioning tools of Linux, Windows, macOS and the BSDs make,
// named as util-linux names them.
constexpr TypeName kTypeNames[] = {
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI System"},
    {"024DEE41-33E7-11D3-9D69-0008C781F39F", "MBR partition scheme"},
    {"D3BFE2DE-3DAF-11DF-BA40-E3A556D89593", "Intel Fast Flash"},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    {"F4019732-066E-4E12-8273-346C5641494F", "Sony boot partition"},
    {"BFBFAFE7-A34F-448A-9A5B-6213EB736C22", "Lenovo boot partition"},
    {"9E1A2D38-C612-4316-AA26-8B49521E5A8B", "PowerPC PReP boot"},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    {"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "Microsoft LDM metadata"},
    {"AF9B60A0-1431-4F62-BC68-3311714A69AD", "Microsoft LDM data"},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery environment"},
    {"37AFFC90-EF7D-4E96-91C3-2D7AE055B174", "IBM General Parallel Fs"},
    {"E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "Microsoft Storage Spaces"},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    {"3B8F8425-20E0-4F3B-907F-1A25A76F98E8", "Linux server data"},
    {"44479540-F297-41B2-9AF7-D131D5F0458A", "Linux root (x86)"},
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux root (x86-64)"},
    {"69DAD710-2CE4-4E3C-B16C-21A1D49ABED3", "Linux root (ARM)"},
    {"B921B045-1DF0-41C3-AF44-4C6F280D3FAE", "Linux root (ARM-64)"},
    {"8DA63339-0007-60C0-C436-083AC8230908", "Linux reserved"},
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home"},
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    {"4D21B016-B534-45C2-A9FB-5C16E091FD2D", "Linux variable data"},
    {"7EC6F557-3BC5-4ACA-B293-16EF5DF639D1", "Linux temporary data"},
    {"8484680C-9521-48C6-9C11-B0720656F69E", "Linux /usr (x86-64)"},
    {"B0E01050-EE5F-4390-949A-9101B17104E9", "Linux /usr (ARM-64)"},
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", "Linux extended boot"},
    {"773F91EF-66D4-49B5-BD83-D683BF40AD16", "Linux user's home"},
    {"CA7D7CCB-63ED-4C53-861C-1742536059CC", "Linux LUKS"},
    {"516E7CB4-6ECF-11D6-8FF8-00022D09712B", "FreeBSD data"},
    {"83BD6B9D-7F41-11DC-BE0B-001560B84F0F", "FreeBSD boot"},
    {"516E7CB5-6ECF-11D6-8FF8-00022D09712B", "FreeBSD swap"},
    {"516E7CB6-6ECF-11D6-8FF8-00022D09712B", "FreeBSD UFS"},
    {"516E7CBA-6ECF-11D6-8FF8-00022D09712B", "FreeBSD ZFS"},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS/HFS+"},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
    {"55465300-0000-11AA-AA11-00306543ECAC", "Apple UFS"},
    {"52414944-0000-11AA-AA11-00306543ECAC", "Apple RAID"},
    {"426F6F74-0000-11AA-AA11-00306543ECAC", "Apple boot"},
    {"5265636F-7665-11AA-AA11-00306543ECAC", "Apple TV recovery"},
    {"53746F72-6167-11AA-AA11-00306543ECAC", "Apple Core storage"},
    {"6A898CC3-1DD2-11B2-99A6-080020736631", "Solaris /usr & Apple ZFS"},
    {"824CC7A0-36A8-11E3-890A-952519AD3F61", "OpenBSD data"},
    {"49F48D5A-B10E-11DC-B99B-0019D1879648", "NetBSD FFS"},
    {"FE3A2A5D-4F32-41A7-B725-ACCC3285A309", "ChromeOS kernel"},
    {"3CB8E202-3B7E-47DD-8A3C-7FF2A13CFCEC", "ChromeOS root fs"},
    {"AA31E02A-400F-11DB-9590-000C2911D1B8", "VMware VMFS"},
};

bool Contains(uint64_t first, uint64_t last, uint64_t lba) { return first <= lba && lba <= last; }

}  // namespace

Guid GuidAt(std::span<const uint8_t> bytes, size_t offset) {
  Guid g{};
  for (size_t i = 0; i < g.size(); ++i) g[i] = le8(bytes, offset + i);
  return g;
}

bool IsZeroGuid(const Guid& guid) {
  return std::all_of(guid.begin(), guid.end(), [](uint8_t b) { return b == 0; });
}

std::string GuidText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return text;
}

std::string_view GptTypeName(const Guid& type) {
  const std::string text = GuidText(type);
  for (const TypeName& t : kTypeNames)
    if (text == t.guid) return t.name;
  return {};
}

std::string GptTypeLabel(const Guid& type) {
  const std::string_view name = GptTypeName(type);
  return name.empty() ? "Unknown" : std::string(name);
}

bool IsFatal(GptFault fault) {
  switch (fault) {
    case GptFault::UnknownRevision:
    case GptFault::OtherHeaderElsewhere:
    case GptFault::EntryArrayInUsableRange:
    case GptFault::CopiesDiffer:
      return false;
    default:
      return true;
  }
}

std::string_view GptFaultText(GptFault fault) {
  switch (fault) {
    case GptFault::Unreadable: return "Header sector not accessible";
    case GptFault::NoSignature: return "No \"EFI PART\" signature";
    case GptFault::BadHeaderSize: return "Header size out of range";
    case GptFault::BadHeaderCrc: return "Header CRC32 wrong";
    case GptFault::WrongMyLba: return "Header names another sector as its own";
    case GptFault::BadUsableRange: return "Usable sectors impossible on this disk";
    case GptFault::BadEntrySize: return "Partition entry size not a multiple of 128 up to 4096";
    case GptFault::EntryArrayTooLarge: return "Partition entry array larger than 4 MiB";
    case GptFault::BadEntryArrayPlace: return "Partition entry array outside the disk or over a header";
    case GptFault::EntryArrayUnreadable: return "Partition entry array not accessible";
    case GptFault::BadEntryArrayCrc: return "Partition entry array CRC32 wrong";
    case GptFault::UnknownRevision: return "Revision other than 1.x";
    case GptFault::OtherHeaderElsewhere: return "Other header not where expected";
    case GptFault::EntryArrayInUsableRange: return "Partition entry array inside the usable sectors";
    case GptFault::CopiesDiffer: return "Primary and backup headers disagree";
  }
  return "";
}

std::string_view GptEntryFaultText(GptEntryFault fault) {
  switch (fault) {
    case GptEntryFault::FirstAfterLast: return "First LBA after last LBA";
    case GptEntryFault::OutsideUsable: return "Outside the usable sectors";
    case GptEntryFault::Overlaps: return "Overlaps another entry";
  }
  return "";
}

GptHeader DecodeGptHeader(std::span<const uint8_t> sector, uint64_t lba) {
  GptHeader h;
  h.lba = lba;
  h.signature = sector.size() >= 8 && std::memcmp(sector.data(), "EFI PART", 8) == 0;
  h.revision = le32(sector, kGptRevision);
  h.headerSize = le32(sector, kGptHeaderSize);
  h.headerCrc = le32(sector, kGptHeaderCrc);
  if (h.headerSize >= kGptMinHeaderSize && h.headerSize <= sector.size()) {
    // The CRC is taken with its own field as zero.
    const uint8_t zero[4] = {};
    uint32_t crc = Crc32(sector.first(kGptHeaderCrc));
    crc = Crc32(zero, crc);
    h.computedHeaderCrc = Crc32(sector.subspan(kGptHeaderCrc + 4, h.headerSize - kGptHeaderCrc - 4), crc);
  }
  h.myLba = le64(sector, kGptMyLba);
  h.alternateLba = le64(sector, kGptAlternateLba);
  h.firstUsableLba = le64(sector, kGptFirstUsableLba);
  h.lastUsableLba = le64(sector, kGptLastUsableLba);
  h.diskGuid = GuidAt(sector, kGptDiskGuid);
  h.entriesLba = le64(sector, kGptEntriesLba);
  h.entryCount = le32(sector, kGptEntryCount);
  h.entrySize = le32(sector, kGptEntrySize);
  h.entriesCrc = le32(sector, kGptEntriesCrc);
  return h;
}

std::vector<GptFault> CheckGptHeader(const GptHeader& h, uint64_t diskSectors, uint32_t sectorSize) {
  std::vector<GptFault> faults;
  if (!h.signature) return {GptFault::NoSignature};
  if (!h.computedHeaderCrc)
    faults.push_back(GptFault::BadHeaderSize);
  else if (*h.computedHeaderCrc != h.headerCrc)
    faults.push_back(GptFault::BadHeaderCrc);
  if (h.revision >> 16 != 1) faults.push_back(GptFault::UnknownRevision);
  if (h.myLba != h.lba) faults.push_back(GptFault::WrongMyLba);
  // Sector 0 and both header sectors lie outside the usable range.
  const uint64_t last = diskSectors == 0 ? 0 : diskSectors - 1;
  if (h.firstUsableLba == 0 || h.firstUsableLba > h.lastUsableLba || h.lastUsableLba >= last ||
      Contains(h.firstUsableLba, h.lastUsableLba, h.lba))
    faults.push_back(GptFault::BadUsableRange);

  const bool sizeOk = h.entrySize >= kGptMinEntrySize && h.entrySize <= kGptMaxEntrySize &&
                      h.entrySize % kGptMinEntrySize == 0;
  if (!sizeOk) faults.push_back(GptFault::BadEntrySize);
  if (h.EntryArrayBytes() > kGptMaxArrayBytes) faults.push_back(GptFault::EntryArrayTooLarge);
  const uint64_t expectedOther = h.lba == 1 ? last : 1;
  if (sizeOk && h.EntryArrayBytes() <= kGptMaxArrayBytes) {
    const uint64_t sectors = (h.EntryArrayBytes() + sectorSize - 1) / sectorSize;
    if (sectors > 0) {
      if (h.entriesLba == 0 || h.entriesLba > last || sectors > diskSectors - h.entriesLba) {
        faults.push_back(GptFault::BadEntryArrayPlace);
      } else {
        const uint64_t arrayLast = h.entriesLba + sectors - 1;  // inside the disk: no wrap
        if (Contains(h.entriesLba, arrayLast, h.lba) || Contains(h.entriesLba, arrayLast, expectedOther))
          faults.push_back(GptFault::BadEntryArrayPlace);
        else if (h.entriesLba <= h.lastUsableLba && arrayLast >= h.firstUsableLba)
          faults.push_back(GptFault::EntryArrayInUsableRange);
      }
    }
  }
  if (h.alternateLba != expectedOther) faults.push_back(GptFault::OtherHeaderElsewhere);
  return faults;
}

std::vector<GptEntry> DecodeGptEntries(std::span<const uint8_t> array, uint32_t entryCount,
                                       uint32_t entrySize, uint64_t firstUsable, uint64_t lastUsable) {
  std::vector<GptEntry> entries;
  if (entrySize < kGptMinEntrySize) return entries;
  const uint64_t slots = std::min<uint64_t>(entryCount, array.size() / entrySize);
  for (uint64_t i = 0; i < slots; ++i) {
    const auto slot = array.subspan(static_cast<size_t>(i * entrySize), entrySize);
    const Guid type = GuidAt(slot, kGptEntryType);
    if (IsZeroGuid(type)) continue;
    GptEntry e;
    e.number = static_cast<uint32_t>(i + 1);
    e.type = type;
    e.unique = GuidAt(slot, kGptEntryUnique);
    e.firstLba = le64(slot, kGptEntryFirstLba);
    e.lastLba = le64(slot, kGptEntryLastLba);
    e.attributes = le64(slot, kGptEntryAttributes);
    uint16_t units[kGptEntryNameUnits];
    size_t n = 0;
    while (n < kGptEntryNameUnits && (units[n] = le16(slot, kGptEntryName + 2 * n)) != 0) ++n;
    AppendUtf16AsUtf8(std::span<const uint16_t>(units, n), e.name);
    if (e.firstLba > e.lastLba)
      e.faults.push_back(GptEntryFault::FirstAfterLast);
    else if (e.firstLba < firstUsable || e.lastLba > lastUsable)
      e.faults.push_back(GptEntryFault::OutsideUsable);
    entries.push_back(std::move(e));
  }

  // Overlaps, in one sweep over the entries by first sector: each entry that
  // starts inside the furthest-reaching one before it overlaps that one.
  std::vector<size_t> order;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].firstLba <= entries[i].lastLba) order.push_back(i);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return entries[a].firstLba < entries[b].firstLba;
  });
  const size_t none = entries.size();
  size_t reach = none;
  for (const size_t i : order) {
    GptEntry& e = entries[i];
    if (reach != none && e.firstLba <= entries[reach].lastLba) {
      for (GptEntry* both : {&e, &entries[reach]}) {
        if (both->overlapsWith != 0) continue;
        both->faults.push_back(GptEntryFault::Overlaps);
        both->overlapsWith = (both == &e ? entries[reach] : e).number;
      }
    }
    if (reach == none || e.lastLba > entries[reach].lastLba) reach = i;
  }
  return entries;
}

bool GptCopy::Usable() const {
  return std::none_of(faults.begin(), faults.end(), [](GptFault f) { return IsFatal(f); });
}

const GptCopy* GptTable::Used() const {
  switch (source) {
    case GptSource::Primary: return &primary;
    case GptSource::Backup: return &backup;
    case GptSource::None: break;
  }
  return nullptr;
}

namespace {

GptCopy ReadCopy(uint64_t lba, uint64_t diskSectors, const SectorReader& read, uint32_t sectorSize) {
  GptCopy copy;
  copy.header.lba = lba;
  std::vector<uint8_t> sector(sectorSize);
  if (lba >= diskSectors || !read(lba, sector)) {
    copy.faults = {GptFault::Unreadable};
    return copy;
  }
  copy.header = DecodeGptHeader(sector, lba);
  copy.faults = CheckGptHeader(copy.header, diskSectors, sectorSize);
  if (!copy.Usable()) return copy;

  // Checked above: the array is at most kGptMaxArrayBytes and inside the disk.
  const GptHeader& h = copy.header;
  const uint64_t bytes = h.EntryArrayBytes();
  std::vector<uint8_t> array((bytes + sectorSize - 1) / sectorSize * sectorSize);
  if (!array.empty() && !read(h.entriesLba, array)) {
    copy.faults.push_back(GptFault::EntryArrayUnreadable);
    return copy;
  }
  const auto used = std::span<const uint8_t>(array).first(static_cast<size_t>(bytes));
  copy.computedEntriesCrc = Crc32(used);
  if (*copy.computedEntriesCrc != h.entriesCrc) {
    copy.faults.push_back(GptFault::BadEntryArrayCrc);
    return copy;
  }
  copy.entries = DecodeGptEntries(used, h.entryCount, h.entrySize, h.firstUsableLba, h.lastUsableLba);
  return copy;
}

bool HasFault(const GptCopy& copy, GptFault fault) {
  return std::find(copy.faults.begin(), copy.faults.end(), fault) != copy.faults.end();
}

// Whether two sound copies describe the same table, as their headers say.
bool CopiesAgree(const GptHeader& p, const GptHeader& b) {
  return p.alternateLba == b.lba && b.alternateLba == p.lba && p.firstUsableLba == b.firstUsableLba &&
         p.lastUsableLba == b.lastUsableLba && p.diskGuid == b.diskGuid &&
         p.entryCount == b.entryCount && p.entrySize == b.entrySize && p.entriesCrc == b.entriesCrc;
}

}  // namespace

GptTable ReadGpt(uint64_t diskSectors, const SectorReader& read, uint32_t sectorSize) {
  GptTable table;
  const bool sizeOk = sectorSize >= 512 && sectorSize <= 65536 && (sectorSize & (sectorSize - 1)) == 0;
  if (!sizeOk || diskSectors < 3) {
    table.primary.header.lba = 1;
    table.primary.faults = table.backup.faults = {GptFault::Unreadable};
    return table;
  }
  const uint64_t last = diskSectors - 1;
  table.primary = ReadCopy(1, diskSectors, read, sectorSize);
  table.backup = ReadCopy(last, diskSectors, read, sectorSize);
  // A disk grown after it was partitioned keeps its backup where it was; a
  // primary header whose own bytes are sound says where that is.
  const GptHeader& p = table.primary.header;
  if (!table.backup.Usable() && p.signature && p.computedHeaderCrc == p.headerCrc &&
      p.alternateLba > 1 && p.alternateLba < last) {
    GptCopy moved = ReadCopy(p.alternateLba, diskSectors, read, sectorSize);
    if (moved.Usable()) table.backup = std::move(moved);
  }
  if (table.primary.Usable() && table.backup.Usable() &&
      !CopiesAgree(table.primary.header, table.backup.header) &&
      !HasFault(table.backup, GptFault::CopiesDiffer))
    table.backup.faults.push_back(GptFault::CopiesDiffer);

  if (table.primary.Usable())
    table.source = GptSource::Primary;
  else if (table.backup.Usable())
    table.source = GptSource::Backup;
  return table;
}

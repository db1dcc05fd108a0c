// The GUID partition table of today's disks: the header at LBA 1 and its
// backup at the disk's last sector, each with its own array of partition
// entries, both guarded by CRC32s. Decoding and checking are plain functions
// over sector bytes; ReadGpt reads both copies through a sector reader and
// says which one it used and what was wrong with the other.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_reader.h"

// The header, at these offsets of its sector (integers little-endian).
inline constexpr size_t kGptSignature = 0;        // 8 bytes, "EFI PART"
inline constexpr size_t kGptRevision = 8;         // u32, 0x00010000 for 1.0
inline constexpr size_t kGptHeaderSize = 12;      // u32, 92 up to the sector size
inline constexpr size_t kGptHeaderCrc = 16;       // u32, over the header with this field 0
inline constexpr size_t kGptMyLba = 24;           // u64, the header's own sector
inline constexpr size_t kGptAlternateLba = 32;    // u64, the other header's sector
inline constexpr size_t kGptFirstUsableLba = 40;  // u64
inline constexpr size_t kGptLastUsableLba = 48;   // u64
inline constexpr size_t kGptDiskGuid = 56;        // 16 bytes
inline constexpr size_t kGptEntriesLba = 72;      // u64, the entry array's first sector
inline constexpr size_t kGptEntryCount = 80;      // u32
inline constexpr size_t kGptEntrySize = 84;       // u32
inline constexpr size_t kGptEntriesCrc = 88;      // u32, over count * size bytes
inline constexpr uint32_t kGptMinHeaderSize = 92;

// One partition entry, at these offsets of its slot in the array.
inline constexpr size_t kGptEntryType = 0;         // 16 bytes; all zero: slot unused
inline constexpr size_t kGptEntryUnique = 16;      // 16 bytes
inline constexpr size_t kGptEntryFirstLba = 32;    // u64
inline constexpr size_t kGptEntryLastLba = 40;     // u64, inclusive
inline constexpr size_t kGptEntryAttributes = 48;  // u64
inline constexpr size_t kGptEntryName = 56;        // 36 UTF-16LE units
inline constexpr size_t kGptEntryNameUnits = 36;
inline constexpr uint32_t kGptMinEntrySize = 128;
// Entries larger than this, or arrays larger than this, are taken as damage:
// the tools make 128-byte entries and arrays of 16 KiB.
inline constexpr uint32_t kGptMaxEntrySize = 4096;
inline constexpr uint64_t kGptMaxArrayBytes = uint64_t{4} << 20;

// The MBR partition type that protects a GPT disk from tools that know only MBRs.
inline constexpr uint8_t kGptProtectiveType = 0xEE;

using Guid = std::array<uint8_t, 16>;

Guid GuidAt(std::span<const uint8_t> bytes, size_t offset);
bool IsZeroGuid(const Guid& guid);
// The usual text form, upper case: the first three groups are stored
// little-endian, the last two as bytes ("C12A7328-F81F-11D2-BA4B-00A0C93EC93B").
std::string GuidText(const Guid& guid);
// The partition type's name as the partitioning tools print it ("EFI System",
// "Microsoft basic data", "Linux filesystem", ...); empty when unknown.
std::string_view GptTypeName(const Guid& type);
// The type's name, or "Unknown".
std::string GptTypeLabel(const Guid& type);

// What can be wrong with one copy of the table. The fatal ones make the copy
// unusable; the others are reported and the copy still used.
enum class GptFault : uint8_t {
  Unreadable,             // its header sector could not be read
  NoSignature,
  BadHeaderSize,
  BadHeaderCrc,
  WrongMyLba,             // the header says it lies elsewhere
  BadUsableRange,         // first > last, or outside the disk or over the header
  BadEntrySize,
  EntryArrayTooLarge,
  BadEntryArrayPlace,     // outside the disk, or over sector 0 or the header
  EntryArrayUnreadable,
  BadEntryArrayCrc,
  // Not fatal:
  UnknownRevision,
  OtherHeaderElsewhere,   // primary: backup not at the last sector; backup: primary not at 1
  EntryArrayInUsableRange,
  CopiesDiffer,           // both copies sound, but their headers disagree
};
bool IsFatal(GptFault fault);
std::string_view GptFaultText(GptFault fault);

struct GptHeader {
  uint64_t lba = 0;  // where it was read
  bool signature = false;
  uint32_t revision = 0;
  uint32_t headerSize = 0;
  uint32_t headerCrc = 0;
  // The CRC of the header's bytes; nullopt when headerSize leaves the sector.
  std::optional<uint32_t> computedHeaderCrc;
  uint64_t myLba = 0;
  uint64_t alternateLba = 0;
  uint64_t firstUsableLba = 0;
  uint64_t lastUsableLba = 0;
  Guid diskGuid{};
  uint64_t entriesLba = 0;
  uint32_t entryCount = 0;
  uint32_t entrySize = 0;
  uint32_t entriesCrc = 0;

  uint64_t EntryArrayBytes() const { return uint64_t{entryCount} * entrySize; }
};

// Decodes the header in sector (read from lba); never fails, the check says
// what is wrong with it.
GptHeader DecodeGptHeader(std::span<const uint8_t> sector, uint64_t lba);
// Checks a header on a disk of diskSectors sectors of sectorSize bytes.
std::vector<GptFault> CheckGptHeader(const GptHeader& header, uint64_t diskSectors,
                                     uint32_t sectorSize);

enum class GptEntryFault : uint8_t { FirstAfterLast, OutsideUsable, Overlaps };
std::string_view GptEntryFaultText(GptEntryFault fault);

struct GptEntry {
  uint32_t number = 0;  // 1-based slot in the array: the partition's number
  Guid type{};
  Guid unique{};
  uint64_t firstLba = 0;
  uint64_t lastLba = 0;  // inclusive
  uint64_t attributes = 0;
  std::string name;  // UTF-8
  std::vector<GptEntryFault> faults;
  uint32_t overlapsWith = 0;  // an entry it overlaps (Overlaps), by number

  bool Sound() const { return faults.empty(); }
  uint64_t Sectors() const { return firstLba <= lastLba ? lastLba - firstLba + 1 : 0; }
};

// The used entries (type not zero) of an array of entryCount slots of
// entrySize bytes, checked against the usable range and against each other.
// Slots past the array's bytes are not read.
std::vector<GptEntry> DecodeGptEntries(std::span<const uint8_t> array, uint32_t entryCount,
                                       uint32_t entrySize, uint64_t firstUsable,
                                       uint64_t lastUsable);

// One copy of the table as read: header, what is wrong with it and, when its
// header and array are sound, its entries.
struct GptCopy {
  GptHeader header;
  std::vector<GptFault> faults;
  std::optional<uint32_t> computedEntriesCrc;  // when the array could be read
  std::vector<GptEntry> entries;

  bool Usable() const;
};

enum class GptSource : uint8_t { None, Primary, Backup };

struct GptTable {
  GptSource source = GptSource::None;
  GptCopy primary;
  GptCopy backup;

  // The copy in use; nullptr when neither is usable.
  const GptCopy* Used() const;
};

// Reads the primary table (header at LBA 1) and the backup (header at the
// disk's last sector, or where a primary header with a good CRC says it is),
// on a disk of diskSectors sectors of sectorSize bytes (512...65536, a power
// of two). The primary is used when it is sound, else the backup.
GptTable ReadGpt(uint64_t diskSectors, const SectorReader& read, uint32_t sectorSize = 512);

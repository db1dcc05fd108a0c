// exFAT directory entries (32 bytes each) and entry sets: one decoder for
// every entry type, live and deleted, and one for the sets a folder's bytes
// hold. Nothing here reads outside the bytes it is given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

inline constexpr size_t kExfatEntrySize = 32;

// The type byte: type code (bits 0-4), importance (bit 5: benign), category
// (bit 6: secondary), in use (bit 7). A deleted entry keeps its type with the
// in-use bit cleared (a file 0x85 becomes 0x05).
inline constexpr uint8_t kExfatInUse = 0x80;
inline constexpr uint8_t kExfatSecondary = 0x40;
inline constexpr uint8_t kExfatBenign = 0x20;
inline constexpr uint8_t kExfatEndOfDirectory = 0x00;
inline constexpr uint8_t kExfatTypeBitmap = 0x81;
inline constexpr uint8_t kExfatTypeUpcase = 0x82;
inline constexpr uint8_t kExfatTypeLabel = 0x83;
inline constexpr uint8_t kExfatTypeFile = 0x85;
inline constexpr uint8_t kExfatTypeGuid = 0xA0;
inline constexpr uint8_t kExfatTypePadding = 0xA1;        // TexFAT padding
inline constexpr uint8_t kExfatTypeStream = 0xC0;
inline constexpr uint8_t kExfatTypeName = 0xC1;
inline constexpr uint8_t kExfatTypeVendorExtension = 0xE0;
inline constexpr uint8_t kExfatTypeVendorAllocation = 0xE1;

// Offsets shared by the generic primary and secondary templates.
inline constexpr size_t kExfatEntryType = 0;
inline constexpr size_t kExfatSecondaryCount = 1;     // primaries: u8
inline constexpr size_t kExfatSetChecksum = 2;        // primaries: u16
inline constexpr size_t kExfatSecondaryFlags = 1;     // secondaries: u8
inline constexpr size_t kExfatEntryFirstCluster = 20; // u32
inline constexpr size_t kExfatEntryDataLength = 24;   // u64
// Allocation bitmap (0x81).
inline constexpr size_t kExfatBitmapFlags = 1;        // bit 0: second bitmap (TexFAT)
// Up-case table (0x82).
inline constexpr size_t kExfatUpcaseChecksum = 4;     // u32
// Volume label (0x83).
inline constexpr size_t kExfatLabelLength = 1;        // u8, characters
inline constexpr size_t kExfatLabelText = 2;          // 11 UTF-16 units
inline constexpr size_t kExfatLabelMaxLength = 11;
// File (0x85).
inline constexpr size_t kExfatFileAttributes = 4;     // u16
inline constexpr size_t kExfatFileCreated = 8;        // u32 timestamp
inline constexpr size_t kExfatFileModified = 12;
inline constexpr size_t kExfatFileAccessed = 16;
inline constexpr size_t kExfatFileCreated10ms = 20;   // u8, 0-199
inline constexpr size_t kExfatFileModified10ms = 21;
inline constexpr size_t kExfatFileCreatedUtc = 22;    // u8
inline constexpr size_t kExfatFileModifiedUtc = 23;
inline constexpr size_t kExfatFileAccessedUtc = 24;
// Volume GUID (0xA0).
inline constexpr size_t kExfatGuidFlags = 4;          // u16
inline constexpr size_t kExfatGuid = 6;               // 16 bytes
// Stream extension (0xC0).
inline constexpr size_t kExfatStreamNameLength = 3;   // u8
inline constexpr size_t kExfatStreamNameHash = 4;     // u16
inline constexpr size_t kExfatStreamValidLength = 8;  // u64
// File name (0xC1).
inline constexpr size_t kExfatNameText = 2;           // 15 UTF-16 units
inline constexpr size_t kExfatNameUnitsPerEntry = 15;
// Vendor extension and allocation (0xE0, 0xE1).
inline constexpr size_t kExfatVendorGuid = 2;         // 16 bytes

// Secondary flags.
inline constexpr uint8_t kExfatAllocationPossible = 0x01;
inline constexpr uint8_t kExfatNoFatChain = 0x02;
// File attributes.
inline constexpr uint16_t kExfatAttrReadOnly = 0x01;
inline constexpr uint16_t kExfatAttrHidden = 0x02;
inline constexpr uint16_t kExfatAttrSystem = 0x04;
inline constexpr uint16_t kExfatAttrDirectory = 0x10;
inline constexpr uint16_t kExfatAttrArchive = 0x20;

// A file's secondary count: a stream extension and 1 to 17 name entries.
inline constexpr uint8_t kExfatFileMinSecondaries = 2;
inline constexpr uint8_t kExfatFileMaxSecondaries = 18;

enum class ExfatEntryKind {
  EndOfDirectory,
  AllocationBitmap,
  UpcaseTable,
  VolumeLabel,
  File,
  VolumeGuid,
  TexFatPadding,
  StreamExtension,
  FileName,
  VendorExtension,
  VendorAllocation,
  UnknownPrimary,
  UnknownSecondary,
};
// "File", "Stream Extension", ... for the views.
const char* ExfatEntryKindName(ExfatEntryKind kind);

// A timestamp as stored (date and time in local time of the writer, two-second
// steps, the 10 ms part separately) and its UTC offset.
struct ExfatTimestamp {
  uint32_t raw = 0;
  uint8_t tenMs = 0;     // 0-199: hundredths added to the two-second time
  uint8_t utcRaw = 0;    // bit 7: offset valid; bits 0-6: signed quarter hours
  uint16_t year = 0;     // 1980-2107
  uint8_t month = 0, day = 0, hour = 0, minute = 0;
  uint8_t second = 0;    // 0-58, with tenMs / 100 added: 0-59
  uint16_t millisecond = 0;
  bool utcOffsetValid = false;
  int16_t utcOffsetMinutes = 0;  // -1024 to 1008 as stored; east of UTC is positive

  // Month 1-12, day 1-31, hour 0-23, minute 0-59, second 0-59, tenMs 0-199.
  bool Valid() const;
  // Seconds since 1970-01-01 UTC (the stored time less its offset when that
  // is valid, taken as UTC otherwise); nullopt for an invalid timestamp.
  std::optional<int64_t> UnixSeconds() const;
};
ExfatTimestamp DecodeExfatTimestamp(uint32_t raw, uint8_t tenMs, uint8_t utc);

// One entry, every field its type has (the others stay zero).
struct ExfatEntry {
  uint8_t type = 0;  // the stored byte
  ExfatEntryKind kind = ExfatEntryKind::EndOfDirectory;
  bool inUse = false;
  bool secondary = false;
  bool benign = false;
  // Primaries with the generic template (file, GUID, padding, unknown benign).
  uint8_t secondaryCount = 0;
  uint16_t setChecksum = 0;
  uint8_t flags = 0;          // secondary flags; bitmap flags; GUID's primary flags (low byte)
  uint32_t firstCluster = 0;  // bitmap, up-case, stream, vendor allocation
  uint64_t dataLength = 0;
  // Up-case table.
  uint32_t tableChecksum = 0;
  // File.
  uint16_t attributes = 0;
  ExfatTimestamp created, modified, accessed;
  // Stream extension.
  uint8_t nameLength = 0;
  uint16_t nameHash = 0;
  uint64_t validDataLength = 0;
  // File name (15 units), volume label (CharacterCount units, at most 11).
  std::u16string units;
  // Volume GUID, vendor extension and allocation.
  uint8_t guid[16] = {};
};
// entry must hold 32 bytes; fewer read as zero.
ExfatEntry DecodeExfatEntry(std::span<const uint8_t> entry);

// What is wrong with an entry set. Every one is told; the set is still
// decoded as far as its bytes go.
enum class ExfatSetProblem {
  Truncated,           // the secondary count runs past the entries given
  SecondaryMissing,    // a slot of the set holds no secondary of the set's state
  CountOutOfRange,     // a file's secondary count below 2 or above 18
  NoStream,            // the first secondary is not a stream extension
  NameIncomplete,      // fewer name entries than the name length needs
  NameLengthZero,
  ChecksumMismatch,
  NameHashMismatch,
  ValidLengthOverLength,
  ClusterOutOfRange,   // a first cluster outside 2 .. cluster count + 1
  LengthBeyondHeap,    // more bytes than the cluster heap holds
  Orphan,              // a secondary with no primary in front of it
  UnknownCritical,     // a critical primary this program does not know
  Overwritten,         // deleted set: some of its slots hold live entries now
};
const char* ExfatSetProblemText(ExfatSetProblem problem);

class ExfatUpcase;

// What a set's checks need from its volume; each is skipped when left at 0
// or nullptr.
struct ExfatSetContext {
  uint32_t clusterCount = 0;
  uint64_t bytesPerCluster = 0;
  const ExfatUpcase* upcase = nullptr;  // for the name hash
};

// One entry set: a primary and the secondaries it counts, or a lone entry.
struct ExfatEntrySet {
  size_t firstEntry = 0;   // index of its first entry in the bytes given
  size_t entryCount = 0;   // entries it takes there (a broken set may take fewer than it counts)
  ExfatEntry primary;      // the first entry
  ExfatEntryKind kind = ExfatEntryKind::EndOfDirectory;  // the primary's
  bool deleted = false;    // the primary's in-use bit is clear
  uint16_t computedChecksum = 0;  // sets with a checksum: over the entries taken, as live
  bool checksumChecked = false;
  // File sets: from the stream extension and the name entries.
  bool hasStream = false;
  ExfatEntry stream;
  std::u16string nameUnits;        // nameLength units as far as the entries hold them
  std::string name;                // UTF-8; a lone surrogate or control unit shows as U+FFFD
  std::optional<uint16_t> computedNameHash;  // when an up-case table was given
  size_t nameEntries = 0;
  std::vector<ExfatSetProblem> problems;

  bool Has(ExfatSetProblem p) const;
  bool IsDirectory() const { return (primary.attributes & kExfatAttrDirectory) != 0; }
  bool NoFatChain() const { return hasStream && (stream.flags & kExfatNoFatChain) != 0; }
  uint32_t FirstCluster() const { return hasStream ? stream.firstCluster : primary.firstCluster; }
  uint64_t DataLength() const { return hasStream ? stream.dataLength : primary.dataLength; }
};

// The set checksum over entries (32 bytes each), skipping the checksum field
// of the first; asLive counts every type byte with its in-use bit set, which
// is how a deleted set was summed before it was deleted.
uint16_t ExfatSetChecksum(std::span<const uint8_t> entries, bool asLive);

// The name hash of name units (up-cased through upcase).
uint16_t ExfatNameHash(std::u16string_view units, const ExfatUpcase& upcase);

// The set that starts at entry index first of dir. A live primary takes the
// live secondaries it counts, a deleted one the deleted ones; a slot of the
// other state, a primary or the end of the directory ends the set early.
// A lone secondary gives a set of one, marked Orphan.
ExfatEntrySet DecodeExfatEntrySet(std::span<const uint8_t> dir, size_t first,
                                  const ExfatSetContext& context);

// Every set of dir in order, up to the first end-of-directory entry or the end
// of dir: each entry before it belongs to exactly one set (a stray secondary,
// live or deleted, to a set of one marked Orphan).
struct ExfatSets {
  std::vector<ExfatEntrySet> sets;
  bool endSeen = false;      // an end-of-directory entry was met
  size_t entriesUsed = 0;    // entries before it (all of dir without one)
};
ExfatSets DecodeExfatEntrySets(std::span<const uint8_t> dir, const ExfatSetContext& context);

// UTF-16 units of a name or label as UTF-8: pairs joined, lone surrogates and
// the control units 0x0000-0x001F as U+FFFD, so nothing unprintable reaches
// a list, a terminal or a path.
std::string ExfatNameToUtf8(std::u16string_view units);
// A name exFAT allows: no control unit, none of " * / : < > ? \ |, no lone
// surrogate. One that is not may not be used as a host file name as it stands.
bool ExfatNameIsValid(std::u16string_view units);

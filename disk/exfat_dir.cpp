#include "disk/exfat_dir.h"

#include <algorithm>

#include "disk/exfat_upcase.h"
#include "disk/le.h"
#include "disk/long_name.h"

namespace {

uint64_t Le64(std::span<const uint8_t> s, size_t off) {
  return uint64_t{le32(s, off)} | uint64_t{le32(s, off + 4)} << 32;
}

ExfatEntryKind KindOf(uint8_t type) {
  if (type == kExfatEndOfDirectory) return ExfatEntryKind::EndOfDirectory;
  switch (type | kExfatInUse) {
    case kExfatTypeBitmap: return ExfatEntryKind::AllocationBitmap;
    case kExfatTypeUpcase: return ExfatEntryKind::UpcaseTable;
    case kExfatTypeLabel: return ExfatEntryKind::VolumeLabel;
    case kExfatTypeFile: return ExfatEntryKind::File;
    case kExfatTypeGuid: return ExfatEntryKind::VolumeGuid;
    case kExfatTypePadding: return ExfatEntryKind::TexFatPadding;
    case kExfatTypeStream: return ExfatEntryKind::StreamExtension;
    case kExfatTypeName: return ExfatEntryKind::FileName;
    case kExfatTypeVendorExtension: return ExfatEntryKind::VendorExtension;
    case kExfatTypeVendorAllocation: return ExfatEntryKind::VendorAllocation;
    default: break;
  }
  return (type & kExfatSecondary) ? ExfatEntryKind::UnknownSecondary
                                  : ExfatEntryKind::UnknownPrimary;
}

// Primaries whose byte 1 counts secondaries; the bitmap, up-case and label
// entries use it for something else and stand alone.
bool HasGenericTemplate(ExfatEntryKind kind) {
  return kind == ExfatEntryKind::File || kind == ExfatEntryKind::VolumeGuid ||
         kind == ExfatEntryKind::TexFatPadding || kind == ExfatEntryKind::UnknownPrimary;
}

std::u16string Units(std::span<const uint8_t> entry, size_t off, size_t count) {
  std::u16string units;
  for (size_t i = 0; i < count; ++i) units.push_back(static_cast<char16_t>(le16(entry, off + 2 * i)));
  return units;
}

bool IsSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

const char* ExfatEntryKindName(ExfatEntryKind kind) {
  switch (kind) {
    case ExfatEntryKind::EndOfDirectory: return "End of Directory";
    case ExfatEntryKind::AllocationBitmap: return "Allocation Bitmap";
    case ExfatEntryKind::UpcaseTable: return "Up-case Table";
    case ExfatEntryKind::VolumeLabel: return "Volume Label";
    case ExfatEntryKind::File: return "File";
    case ExfatEntryKind::VolumeGuid: return "Volume GUID";
    case ExfatEntryKind::TexFatPadding: return "TexFAT Padding";
    case ExfatEntryKind::StreamExtension: return "Stream Extension";
    case ExfatEntryKind::FileName: return "File Name";
    case ExfatEntryKind::VendorExtension: return "Vendor Extension";
    case ExfatEntryKind::VendorAllocation: return "Vendor Allocation";
    case ExfatEntryKind::UnknownPrimary: return "Unknown Primary";
    case ExfatEntryKind::UnknownSecondary: return "Unknown Secondary";
  }
  return "";
}

bool ExfatTimestamp::Valid() const {
  return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
         (raw & 0x1F) <= 29 && tenMs <= 199;
}

std::optional<int64_t> ExfatTimestamp::UnixSeconds() const {
  if (!Valid()) return std::nullopt;
  int64_t t = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  if (utcOffsetValid) t -= int64_t{utcOffsetMinutes} * 60;
  return t;
}

ExfatTimestamp DecodeExfatTimestamp(uint32_t raw, uint8_t tenMs, uint8_t utc) {
  ExfatTimestamp t;
  t.raw = raw;
  t.tenMs = tenMs;
  t.utcRaw = utc;
  t.year = static_cast<uint16_t>(1980 + (raw >> 25));
  t.month = static_cast<uint8_t>((raw >> 21) & 0x0F);
  t.day = static_cast<uint8_t>((raw >> 16) & 0x1F);
  t.hour = static_cast<uint8_t>((raw >> 11) & 0x1F);
  t.minute = static_cast<uint8_t>((raw >> 5) & 0x3F);
  t.second = static_cast<uint8_t>((raw & 0x1F) * 2 + tenMs / 100);
  t.millisecond = static_cast<uint16_t>((tenMs % 100) * 10);
  t.utcOffsetValid = (utc & 0x80) != 0;
  const int quarters = (utc & 0x40) ? int(utc & 0x7F) - 128 : int(utc & 0x7F);
  t.utcOffsetMinutes = static_cast<int16_t>(quarters * 15);
  return t;
}

ExfatEntry DecodeExfatEntry(std::span<const uint8_t> e) {
  ExfatEntry x;
  x.type = le8(e, kExfatEntryType);
  x.kind = KindOf(x.type);
  x.inUse = (x.type & kExfatInUse) != 0;
  x.secondary = (x.type & kExfatSecondary) != 0;
  x.benign = (x.type & kExfatBenign) != 0;
  switch (x.kind) {
    case ExfatEntryKind::EndOfDirectory:
      break;
    case ExfatEntryKind::AllocationBitmap:
      x.flags = le8(e, kExfatBitmapFlags);
      x.firstCluster = le32(e, kExfatEntryFirstCluster);
      x.dataLength = Le64(e, kExfatEntryDataLength);
      break;
    case ExfatEntryKind::UpcaseTable:
      x.tableChecksum = le32(e, kExfatUpcaseChecksum);
      x.firstCluster = le32(e, kExfatEntryFirstCluster);
      x.dataLength = Le64(e, kExfatEntryDataLength);
      break;
    case ExfatEntryKind::VolumeLabel: {
      x.nameLength = le8(e, kExfatLabelLength);
      x.units = Units(e, kExfatLabelText, std::min<size_t>(x.nameLength, kExfatLabelMaxLength));
      break;
    }
    case ExfatEntryKind::File:
      x.secondaryCount = le8(e, kExfatSecondaryCount);
      x.setChecksum = le16(e, kExfatSetChecksum);
      x.attributes = le16(e, kExfatFileAttributes);
      x.created = DecodeExfatTimestamp(le32(e, kExfatFileCreated), le8(e, kExfatFileCreated10ms),
                                       le8(e, kExfatFileCreatedUtc));
      x.modified = DecodeExfatTimestamp(le32(e, kExfatFileModified),
                                        le8(e, kExfatFileModified10ms), le8(e, kExfatFileModifiedUtc));
      x.accessed = DecodeExfatTimestamp(le32(e, kExfatFileAccessed), 0, le8(e, kExfatFileAccessedUtc));
      break;
    case ExfatEntryKind::VolumeGuid:
      x.secondaryCount = le8(e, kExfatSecondaryCount);
      x.setChecksum = le16(e, kExfatSetChecksum);
      x.flags = le8(e, kExfatGuidFlags);
      for (size_t i = 0; i < 16; ++i) x.guid[i] = le8(e, kExfatGuid + i);
      break;
    case ExfatEntryKind::TexFatPadding:
    case ExfatEntryKind::UnknownPrimary:
      x.secondaryCount = le8(e, kExfatSecondaryCount);
      x.setChecksum = le16(e, kExfatSetChecksum);
      x.firstCluster = le32(e, kExfatEntryFirstCluster);
      x.dataLength = Le64(e, kExfatEntryDataLength);
      break;
    case ExfatEntryKind::StreamExtension:
      x.flags = le8(e, kExfatSecondaryFlags);
      x.nameLength = le8(e, kExfatStreamNameLength);
      x.nameHash = le16(e, kExfatStreamNameHash);
      x.validDataLength = Le64(e, kExfatStreamValidLength);
      x.firstCluster = le32(e, kExfatEntryFirstCluster);
      x.dataLength = Le64(e, kExfatEntryDataLength);
      break;
    case ExfatEntryKind::FileName:
      x.flags = le8(e, kExfatSecondaryFlags);
      x.units = Units(e, kExfatNameText, kExfatNameUnitsPerEntry);
      break;
    case ExfatEntryKind::VendorExtension:
      x.flags = le8(e, kExfatSecondaryFlags);
      for (size_t i = 0; i < 16; ++i) x.guid[i] = le8(e, kExfatVendorGuid + i);
      break;
    case ExfatEntryKind::VendorAllocation:
      x.flags = le8(e, kExfatSecondaryFlags);
      for (size_t i = 0; i < 16; ++i) x.guid[i] = le8(e, kExfatVendorGuid + i);
      x.firstCluster = le32(e, kExfatEntryFirstCluster);
      x.dataLength = Le64(e, kExfatEntryDataLength);
      break;
    case ExfatEntryKind::UnknownSecondary:
      x.flags = le8(e, kExfatSecondaryFlags);
      x.firstCluster = le32(e, kExfatEntryFirstCluster);
      x.dataLength = Le64(e, kExfatEntryDataLength);
      break;
  }
  return x;
}

const char* ExfatSetProblemText(ExfatSetProblem problem) {
  switch (problem) {
    case ExfatSetProblem::Truncated: return "Entry set runs past the directory";
    case ExfatSetProblem::SecondaryMissing: return "Secondary entry missing";
    case ExfatSetProblem::CountOutOfRange: return "Secondary count out of range";
    case ExfatSetProblem::NoStream: return "No stream extension";
    case ExfatSetProblem::NameIncomplete: return "File name entries missing";
    case ExfatSetProblem::NameLengthZero: return "Name length zero";
    case ExfatSetProblem::ChecksumMismatch: return "Set checksum wrong";
    case ExfatSetProblem::NameHashMismatch: return "Name hash wrong";
    case ExfatSetProblem::ValidLengthOverLength: return "Valid data length over data length";
    case ExfatSetProblem::ClusterOutOfRange: return "First cluster out of range";
    case ExfatSetProblem::LengthBeyondHeap: return "Data length beyond the cluster heap";
    case ExfatSetProblem::Orphan: return "Secondary entry without its primary";
    case ExfatSetProblem::UnknownCritical: return "Unknown critical entry";
    case ExfatSetProblem::Overwritten: return "Partly overwritten";
  }
  return "";
}

bool ExfatEntrySet::Has(ExfatSetProblem p) const {
  return std::find(problems.begin(), problems.end(), p) != problems.end();
}

uint16_t ExfatSetChecksum(std::span<const uint8_t> entries, bool asLive) {
  uint16_t sum = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i == kExfatSetChecksum || i == kExfatSetChecksum + 1) continue;
    uint8_t b = entries[i];
    if (asLive && i % kExfatEntrySize == kExfatEntryType) b |= kExfatInUse;
    sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

uint16_t ExfatNameHash(std::u16string_view units, const ExfatUpcase& upcase) {
  uint16_t hash = 0;
  for (char16_t u : units) {
    const uint16_t up = upcase.Upcase(u);
    for (uint8_t b : {static_cast<uint8_t>(up & 0xFF), static_cast<uint8_t>(up >> 8)})
      hash = static_cast<uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + b);
  }
  return hash;
}

std::string ExfatNameToUtf8(std::u16string_view units) {
  std::vector<uint16_t> clean(units.begin(), units.end());
  for (uint16_t& u : clean)
    if (u < 0x20) u = 0xFFFD;
  std::string text;
  AppendUtf16AsUtf8(clean, text);
  return text;
}

bool ExfatNameIsValid(std::u16string_view units) {
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u < 0x20 || std::u16string_view(u"\"*/:<>?\\|").find(u) != std::u16string_view::npos)
      return false;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (IsSurrogate(u)) return false;
  }
  return true;
}

namespace {

void CheckAllocation(ExfatEntrySet& set, uint32_t firstCluster, uint64_t dataLength,
                     const ExfatSetContext& context) {
  if (context.clusterCount != 0 && (firstCluster != 0 || dataLength != 0) &&
      (firstCluster < 2 || firstCluster - 2 >= context.clusterCount))
    set.problems.push_back(ExfatSetProblem::ClusterOutOfRange);
  // At most 2^32 clusters of 32 MiB: the product fits.
  if (context.clusterCount != 0 && context.bytesPerCluster != 0 &&
      dataLength > uint64_t{context.clusterCount} * context.bytesPerCluster)
    set.problems.push_back(ExfatSetProblem::LengthBeyondHeap);
}

// The stream extension and the name entries of a file set, from its taken
// secondaries.
void DecodeFileSecondaries(ExfatEntrySet& set, std::span<const uint8_t> taken,
                           const ExfatSetContext& context) {
  const size_t secondaries = taken.size() / kExfatEntrySize - 1;
  if (secondaries == 0 || KindOf(taken[kExfatEntrySize]) != ExfatEntryKind::StreamExtension) {
    if (secondaries > 0) set.problems.push_back(ExfatSetProblem::NoStream);
    return;
  }
  set.hasStream = true;
  set.stream = DecodeExfatEntry(taken.subspan(kExfatEntrySize, kExfatEntrySize));
  const size_t length = set.stream.nameLength;
  if (length == 0) set.problems.push_back(ExfatSetProblem::NameLengthZero);
  const size_t needed = (length + kExfatNameUnitsPerEntry - 1) / kExfatNameUnitsPerEntry;
  for (size_t i = 2; i <= secondaries && set.nameEntries < needed; ++i) {
    const auto entry = taken.subspan(i * kExfatEntrySize, kExfatEntrySize);
    if (KindOf(entry[kExfatEntryType]) != ExfatEntryKind::FileName) break;
    const size_t take = std::min(kExfatNameUnitsPerEntry, length - set.nameUnits.size());
    set.nameUnits += Units(entry, kExfatNameText, take);
    ++set.nameEntries;
  }
  if (set.nameEntries < needed) set.problems.push_back(ExfatSetProblem::NameIncomplete);
  set.name = ExfatNameToUtf8(set.nameUnits);
  if (context.upcase != nullptr && set.nameEntries == needed && length != 0) {
    set.computedNameHash = ExfatNameHash(set.nameUnits, *context.upcase);
    if (*set.computedNameHash != set.stream.nameHash)
      set.problems.push_back(ExfatSetProblem::NameHashMismatch);
  }
  if (set.stream.validDataLength > set.stream.dataLength)
    set.problems.push_back(ExfatSetProblem::ValidLengthOverLength);
  CheckAllocation(set, set.stream.firstCluster, set.stream.dataLength, context);
}

}  // namespace

ExfatEntrySet DecodeExfatEntrySet(std::span<const uint8_t> dir, size_t first,
                                  const ExfatSetContext& context) {
  ExfatEntrySet set;
  set.firstEntry = first;
  const size_t entries = dir.size() / kExfatEntrySize;
  if (first >= entries) {
    set.problems.push_back(ExfatSetProblem::Truncated);
    return set;
  }
  const auto at = [&](size_t i) { return dir.subspan(i * kExfatEntrySize, kExfatEntrySize); };
  set.primary = DecodeExfatEntry(at(first));
  set.kind = set.primary.kind;
  set.deleted = !set.primary.inUse;
  set.entryCount = 1;
  if (set.kind == ExfatEntryKind::EndOfDirectory) return set;
  if (set.primary.secondary) {
    set.problems.push_back(ExfatSetProblem::Orphan);
    return set;
  }
  if (set.kind == ExfatEntryKind::UnknownPrimary && !set.primary.benign)
    set.problems.push_back(ExfatSetProblem::UnknownCritical);
  if (!HasGenericTemplate(set.kind)) {
    if (set.kind == ExfatEntryKind::AllocationBitmap || set.kind == ExfatEntryKind::UpcaseTable)
      CheckAllocation(set, set.primary.firstCluster, set.primary.dataLength, context);
    return set;
  }

  const size_t count = set.primary.secondaryCount;
  if (set.kind == ExfatEntryKind::File &&
      (count < kExfatFileMinSecondaries || count > kExfatFileMaxSecondaries))
    set.problems.push_back(ExfatSetProblem::CountOutOfRange);
  for (size_t i = 1; i <= count; ++i) {
    if (first + i >= entries) {
      set.problems.push_back(ExfatSetProblem::Truncated);
      break;
    }
    const uint8_t type = at(first + i)[kExfatEntryType];
    const bool live = (type & kExfatInUse) != 0;
    if (set.deleted && live) {
      set.problems.push_back(ExfatSetProblem::Overwritten);
      break;
    }
    if (type == kExfatEndOfDirectory || live != set.primary.inUse || !(type & kExfatSecondary)) {
      set.problems.push_back(ExfatSetProblem::SecondaryMissing);
      break;
    }
    ++set.entryCount;
  }

  const auto taken = dir.subspan(first * kExfatEntrySize, set.entryCount * kExfatEntrySize);
  if (set.kind == ExfatEntryKind::File || set.kind == ExfatEntryKind::VolumeGuid) {
    set.checksumChecked = true;
    set.computedChecksum = ExfatSetChecksum(taken, set.deleted);
    if (set.computedChecksum != set.primary.setChecksum)
      set.problems.push_back(ExfatSetProblem::ChecksumMismatch);
  }
  if (set.kind == ExfatEntryKind::File) DecodeFileSecondaries(set, taken, context);
  return set;
}

ExfatSets DecodeExfatEntrySets(std::span<const uint8_t> dir, const ExfatSetContext& context) {
  ExfatSets out;
  const size_t entries = dir.size() / kExfatEntrySize;
  size_t i = 0;
  while (i < entries) {
    if (dir[i * kExfatEntrySize] == kExfatEndOfDirectory) {
      out.endSeen = true;
      break;
    }
    ExfatEntrySet set = DecodeExfatEntrySet(dir, i, context);
    i += std::max<size_t>(set.entryCount, 1);
    out.sets.push_back(std::move(set));
  }
  out.entriesUsed = i;
  return out;
}

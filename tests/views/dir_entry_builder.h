// Directory entries made by hand for the tests of the folder readers: short
// entries and the long-name pieces of a name, laid out as on disk.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "disk/le.h"
#include "disk/dir_entry.h"

using EntryBytes = std::vector<uint8_t>;

struct ShortEntrySpec {
  std::string name11;  // 8 + 3 bytes as stored
  uint8_t attributes = kAttrArchive;
  uint32_t firstCluster = 0;
  uint32_t size = 0;
  uint16_t modifiedTime = 0;
  uint16_t modifiedDate = 0;
  uint16_t createdDate = 0;
  uint16_t accessedDate = 0;
};

inline EntryBytes ShortEntry(const ShortEntrySpec& s) {
  EntryBytes e(kDirEntrySize, 0);
  for (size_t i = 0; i < 11; ++i) e[i] = i < s.name11.size() ? static_cast<uint8_t>(s.name11[i]) : ' ';
  e[kDirAttributes] = s.attributes;
  putLe16(e, kDirCreatedDate, s.createdDate);
  putLe16(e, kDirAccessedDate, s.accessedDate);
  putLe16(e, kDirClusterHigh, static_cast<uint16_t>(s.firstCluster >> 16));
  putLe16(e, kDirModifiedTime, s.modifiedTime);
  putLe16(e, kDirModifiedDate, s.modifiedDate);
  putLe16(e, kDirClusterLow, static_cast<uint16_t>(s.firstCluster));
  putLe32(e, kDirSize, s.size);
  return e;
}

inline uint8_t ShortNameChecksum(const EntryBytes& shortEntry) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortEntry[i]);
  return sum;
}

// One long-name piece: up to 13 code units; a shorter piece gets its zero and
// 0xFFFF padding.
inline EntryBytes LongNamePiece(uint8_t ordinal, const std::u16string& units, uint8_t checksum = 0) {
  EntryBytes e(kDirEntrySize, 0);
  e[kLfnOrdinal] = ordinal;
  e[kLfnAttributes] = 0x0F;
  e[kLfnChecksum] = checksum;
  for (size_t i = 0; i < kLfnCharsPerEntry; ++i) {
    uint16_t u = 0xFFFF;
    if (i < units.size()) u = units[i];
    else if (i == units.size()) u = 0;
    putLe16(e, kLfnCharOffsets[i], u);
  }
  return e;
}

// The long-name pieces of name in disk order (last piece first), followed by
// the short entry they belong to.
inline std::vector<EntryBytes> NamedEntry(const std::u16string& name, const EntryBytes& shortEntry) {
  const size_t pieces = (name.size() + kLfnCharsPerEntry - 1) / kLfnCharsPerEntry;
  const uint8_t sum = ShortNameChecksum(shortEntry);
  std::vector<EntryBytes> out;
  for (size_t p = pieces; p >= 1; --p) {
    const uint8_t ordinal = static_cast<uint8_t>(p | (p == pieces ? kLfnLastPiece : 0));
    out.push_back(LongNamePiece(ordinal, name.substr((p - 1) * kLfnCharsPerEntry, kLfnCharsPerEntry), sum));
  }
  out.push_back(shortEntry);
  return out;
}

inline std::vector<uint8_t> Join(const std::vector<EntryBytes>& entries, size_t minBytes = 0) {
  std::vector<uint8_t> bytes;
  for (const auto& e : entries) bytes.insert(bytes.end(), e.begin(), e.end());
  if (bytes.size() < minBytes) bytes.resize(minBytes, 0);
  return bytes;
}

// The 32-byte FAT directory entry and the long-name entry: named offsets and
// the few rules every reader of a folder shares (listing, tree discovery,
// undelete, rename). Fields are read with le8/le16/le32 at these offsets.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>

#include "disk/drive_packet.h"
#include "disk/le.h"

inline constexpr size_t kDirEntrySize = 32;
inline constexpr size_t kDirEntriesPerSector = kSectorSize / kDirEntrySize;

// Short entry.
inline constexpr size_t kDirName = 0;         // 8 bytes, blank-padded
inline constexpr size_t kDirNameLength = 8;
inline constexpr size_t kDirExtension = 8;    // 3 bytes, blank-padded
inline constexpr size_t kDirExtensionLength = 3;
inline constexpr size_t kDirAttributes = 11;  // u8
inline constexpr size_t kDirReserved = 12;    // u8, not used
inline constexpr size_t kDirCreatedTenths = 13;  // u8, not used
inline constexpr size_t kDirCreatedTime = 14;    // u16, not used
inline constexpr size_t kDirCreatedDate = 16;    // u16
inline constexpr size_t kDirAccessedDate = 18;   // u16
inline constexpr size_t kDirClusterHigh = 20;    // u16, 32-bit FAT only
inline constexpr size_t kDirModifiedTime = 22;   // u16
inline constexpr size_t kDirModifiedDate = 24;   // u16
inline constexpr size_t kDirClusterLow = 26;     // u16
inline constexpr size_t kDirSize = 28;           // u32

// Byte 0 of the name.
inline constexpr uint8_t kDirEndMark = 0x00;      // no entries from here on
inline constexpr uint8_t kDirDeletedMark = 0xE5;
inline constexpr uint8_t kDirDeletedMarkAlt = 0x05;

// Attribute bits.
inline constexpr uint8_t kAttrReadOnly = 0x01;
inline constexpr uint8_t kAttrHidden = 0x02;
inline constexpr uint8_t kAttrSystem = 0x04;
inline constexpr uint8_t kAttrVolumeLabel = 0x08;
inline constexpr uint8_t kAttrFolder = 0x10;
inline constexpr uint8_t kAttrArchive = 0x20;
inline constexpr uint8_t kAttrLongNameMask = 0x0F;  // all four low bits: a long-name entry

// Long-name entry.
inline constexpr size_t kLfnOrdinal = 0;       // u8; kLfnLastPiece marks the name's last piece
inline constexpr size_t kLfnAttributes = 11;   // u8, 0x0F
inline constexpr size_t kLfnType = 12;         // u8, not used
inline constexpr size_t kLfnChecksum = 13;     // u8, not checked
inline constexpr size_t kLfnCluster = 26;      // u16, not used
inline constexpr uint8_t kLfnLastPiece = 0x40;
inline constexpr size_t kLfnCharsPerEntry = 13;
// Where the 13 UCS-2 characters of a piece stand, in name order.
inline constexpr size_t kLfnCharOffsets[kLfnCharsPerEntry] = {1,  3,  5,  7,  9,  14, 16,
                                                              18, 20, 22, 24, 28, 30};
// A long name holds at most 255 characters: 20 pieces.
inline constexpr size_t kLfnMaxPieces = 20;

inline bool IsLongNameEntry(uint8_t attributes) {
  return (attributes & kAttrLongNameMask) == kAttrLongNameMask;
}

// The program treats both marks as a deleted entry (0x05 is also the stored
// form of a name that really begins with 0xE5; the views keep the older rule).
inline bool IsDeletedMark(uint8_t firstByte) {
  return firstByte == kDirDeletedMark || firstByte == kDirDeletedMarkAlt;
}

// The entry's first cluster: the high word counts only on a 32-bit FAT volume.
inline uint32_t DirEntryFirstCluster(std::span<const uint8_t> entry, FatWidth fatType) {
  const uint32_t high = fatType == FatWidth::Fat32 ? le16(entry, kDirClusterHigh) : 0;
  return (high << 16) | le16(entry, kDirClusterLow);
}

// Stores the entry's first cluster; the high word stays 0 off a 32-bit FAT,
// where it is no part of the cluster number.
void SetDirEntryFirstCluster(std::span<uint8_t> entry, uint32_t cluster, FatWidth fatType);

// What a directory listing makes of one 32-byte entry: a row, nothing (a
// long-name piece; in a folder, its "." and ".." entries), or the end of the
// listing. Undelete and rename find a row's entry by the same rule.
enum class ListedEntry { Skip, Row, End };
ListedEntry ClassifyListedEntry(std::span<const uint8_t> entry, bool skipDotEntries);
// The byte offset in dir of the entry the listing made row `row` (counted
// from 0); nullopt when the listing of dir has fewer rows.
std::optional<size_t> ListedEntryOffset(std::span<const uint8_t> dir, size_t row,
                                        bool skipDotEntries);

// The time a file written now is dated with: SOURCE_DATE_EPOCH when it is
// set (a run that must give the same bytes each time), else the clock.
std::time_t FileDateNow();
// Dates an entry made now: its created, accessed and modified fields.
void StampDirEntry(std::span<uint8_t> entry, std::time_t when);

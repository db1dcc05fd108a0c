// The partition table of a master or extended boot record: four 16-byte
// entries at 0x1BE. Fields are read with le8/le32 at these offsets.
#pragma once
#include <cstddef>

inline constexpr size_t kPartitionTable = 0x1BE;
inline constexpr size_t kPartitionEntrySize = 16;
inline constexpr size_t kPartitionEntries = 4;

inline constexpr size_t kPartBootFlag = 0;    // u8
inline constexpr size_t kPartStartHead = 1;   // u8
inline constexpr size_t kPartStartSector = 2;  // u8: sector bits 0-5, cylinder bits 8-9 in 6-7
inline constexpr size_t kPartStartCylinder = 3;  // u8: cylinder bits 0-7
inline constexpr size_t kPartType = 4;        // u8
inline constexpr size_t kPartEndHead = 5;     // u8
inline constexpr size_t kPartEndSector = 6;   // u8
inline constexpr size_t kPartEndCylinder = 7;  // u8
inline constexpr size_t kPartStartLba = 8;    // u32
inline constexpr size_t kPartSectors = 12;    // u32

inline constexpr size_t PartitionEntryOffset(size_t index) {
  return kPartitionTable + index * kPartitionEntrySize;
}

// An extended partition (0x05, or 0x0F addressed by LBA): its entry links to
// the next extended boot record instead of holding a volume.
inline constexpr bool IsExtendedPartitionType(unsigned type) { return type == 0x05 || type == 0x0F; }

// The FAT boot sector's parameter block: named offsets of its fields, the
// one home of them. Fields are read with le8/le16/le32 at these offsets;
// DecodeVolume (volume_layout.h) makes a volume's layout of them.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr size_t kBootOemName = 0x03;          // 8 bytes
inline constexpr size_t kBootOemNameLength = 8;
inline constexpr size_t kBootBytesPerSector = 0x0B;   // u16
inline constexpr size_t kBootSectorsPerCluster = 0x0D;  // u8
inline constexpr size_t kBootReservedSectors = 0x0E;  // u16
inline constexpr size_t kBootFatCount = 0x10;         // u8
inline constexpr size_t kBootRootEntries = 0x11;      // u16
inline constexpr size_t kBootTotalSectors16 = 0x13;   // u16; 0 when the 32-bit field counts
inline constexpr size_t kBootMedia = 0x15;            // u8
inline constexpr size_t kBootSectorsPerFat16 = 0x16;  // u16; 0 on 32-bit FAT volumes
inline constexpr size_t kBootSectorsPerTrack = 0x18;  // u16
inline constexpr size_t kBootHeads = 0x1A;            // u16
inline constexpr size_t kBootHiddenSectors = 0x1C;    // u32
inline constexpr size_t kBootExtendedSignature = 0x26;  // u8, 0x29: serial and label follow (FAT12/16)
inline constexpr size_t kBootVolumeLabel = 0x2B;      // 11 bytes, FAT12/16
inline constexpr size_t kBootTotalSectors32 = 0x20;   // u32
inline constexpr size_t kBootSectorsPerFat32 = 0x24;  // u32, 32-bit FAT volumes
inline constexpr size_t kBootRootCluster = 0x2C;      // u32, 32-bit FAT volumes
inline constexpr size_t kBootFsInfoSector = 0x30;     // u16, 32-bit FAT volumes
inline constexpr size_t kBootBackupSector = 0x32;     // u16, 32-bit FAT volumes: the record's copy
// The extended block's fields sit 0x1C further on in a 32-bit FAT record.
inline constexpr size_t kBootState16 = 0x25;          // u8, bit 0: the volume was not unmounted cleanly
inline constexpr size_t kBootState32 = 0x41;
inline constexpr size_t kBootExtendedSignature32 = 0x42;
inline constexpr size_t kBootVolumeLabel32 = 0x47;    // 11 bytes
inline constexpr size_t kBootVolumeLabelLength = 11;
inline constexpr uint8_t kBootStateDirty = 0x01;

// The FSInfo sector of a 32-bit FAT volume (at the sector kBootFsInfoSector names).
inline constexpr size_t kFsInfoLeadSignature = 0;      // u32
inline constexpr size_t kFsInfoStructSignature = 484;  // u32
inline constexpr size_t kFsInfoFreeCount = 488;        // u32
inline constexpr size_t kFsInfoNextFree = 492;         // u32, where a search for a free cluster starts
inline constexpr size_t kFsInfoTrailSignature = 508;   // u32
inline constexpr uint32_t kFsInfoLeadValue = 0x41615252;
inline constexpr uint32_t kFsInfoStructValue = 0x61417272;
inline constexpr uint32_t kFsInfoTrailValue = 0xAA550000;
inline constexpr uint32_t kFsInfoUnknown = 0xFFFFFFFF;  // a count or hint not kept

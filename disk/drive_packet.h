// The record that describes one place on a disk: which drive, where its
// partition starts, which sectors relative to that start, and the FAT volume
// parameters taken from the boot record. Tree nodes own one each; transfers
// take a copy with startSector and sectorCount set.
#pragma once
#include <cstdint>

enum NodeKind : uint16_t {
  KindHardDisk = 0,
  KindVolume = 1,
  KindExtended = 2,
  KindFat16 = 3,
  KindFat12 = 4,
  KindRootDir = 5,
  KindDirEntry = 6,
  KindFat32 = 9,
  KindUnknown = 11,
};

// Bytes a packet counts for in the stores: the packed record of the original
// layout. The in-memory struct may be larger (it holds a 64-bit pointer).
inline constexpr uint32_t kPacketUnit = 58;
inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint16_t kFirstHardDisk = 0x80;

struct DrivePacket {
  uint16_t drive = 0;            // BIOS drive number: < 0x80 floppy, >= 0x80 hard disk
  uint16_t cylinder = 0;         // CHS base: cylinder bits 0-7
  uint16_t head = 0;             // CHS base: head
  uint16_t sector = 0;           // CHS base: sector in bits 0-5, cylinder bits 8-9 in bits 6-7
  uint32_t sectorCount = 0;      // sectors of the extent and of a transfer
  uint16_t kind = 0;             // NodeKind
  uint16_t fatType = 0;          // KindFat12/16/32, or 0 while unknown
  uint16_t reservedSectors = 0;
  uint32_t sectorsPerFat = 0;
  const char* nameText = nullptr;  // files and folders: name kept in the packet pool
  uint32_t startSector = 0;      // first sector of the extent, from partitionStart
  uint16_t heads = 0;
  uint32_t firstCluster = 0;
  uint16_t sectorsPerTrack = 0;
  uint16_t sectorsPerCluster = 0;
  uint16_t attributes = 0;
  uint32_t totalSectors = 0;
  uint32_t partitionStart = 0;   // absolute LBA of sector 0 of the partition or volume
  uint32_t dataStart = 0;        // first sector of cluster 2, from partitionStart
  uint32_t int13Extensions = 0;
};

inline bool IsFloppy(const DrivePacket& p) { return p.drive < kFirstHardDisk; }

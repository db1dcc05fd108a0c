// The record that describes one place on a disk: which drive, where its
// partition starts, which sectors relative to that start, and the FAT volume
// parameters taken from the boot record. Tree nodes own one each; transfers
// take a copy with startSector and sectorCount set.
#pragma once
#include <cstdint>

// What a tree node is: a disk, a partition or volume, an extended partition,
// a FAT copy (of its width), a fixed root, a file or folder, or a partition of
// a type the program does not read.
enum class NodeKind : uint16_t {
  HardDisk = 0,
  Volume = 1,
  Extended = 2,
  Fat16 = 3,
  Fat12 = 4,
  RootDir = 5,
  DirEntry = 6,
  Fat32 = 9,
  Unknown = 11,
};

// How wide a volume's FAT entries are; None while only a partition type that
// names no 32-bit FAT is known (the boot record decides).
enum class FatWidth : uint8_t { None, Fat12, Fat16, Fat32 };

// The kind of a FAT copy node of a width (Unknown for None), and back: the
// width of a FAT copy node's kind (None for every other kind).
inline constexpr NodeKind FatCopyKind(FatWidth width) {
  switch (width) {
    case FatWidth::Fat12: return NodeKind::Fat12;
    case FatWidth::Fat16: return NodeKind::Fat16;
    case FatWidth::Fat32: return NodeKind::Fat32;
    case FatWidth::None: break;
  }
  return NodeKind::Unknown;
}
inline constexpr FatWidth FatWidthOf(NodeKind kind) {
  switch (kind) {
    case NodeKind::Fat12: return FatWidth::Fat12;
    case NodeKind::Fat16: return FatWidth::Fat16;
    case NodeKind::Fat32: return FatWidth::Fat32;
    default: return FatWidth::None;
  }
}

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
  NodeKind kind = NodeKind::HardDisk;
  FatWidth fatType = FatWidth::None;
  uint16_t reservedSectors = 0;
  uint32_t sectorsPerFat = 0;
  uint8_t fatCount = 0;          // FAT copies the boot record names; 0 while unknown
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
  uint32_t lastCluster = 0;      // the highest usable cluster (DecodeVolume's); 0 while unknown
  uint32_t int13Extensions = 0;
};

inline bool IsFloppy(const DrivePacket& p) { return p.drive < kFirstHardDisk; }

// The record that describes one place on a disk: which drive, where its
// partition starts, which sectors relative to that start, and the FAT volume
// parameters taken from the boot record. Tree nodes own one each; transfers
// take a copy with startSector and sectorCount set.
#pragma once
#include <cstdint>

// What a tree node is: a disk, a partition or volume, an extended partition,
// a FAT copy (of its width), a fixed root, a file or folder, or a partition of
// a type the program does not read; on a GPT disk, its header and its
// partition entry array; an exFAT volume and the nodes below it (its boot
// region, FAT, allocation bitmap, up-case table, folders and files).
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
  GptHeader = 12,
  GptEntries = 13,
  ExfatVolume = 14,
  ExfatBoot = 15,
  ExfatFat = 16,
  ExfatBitmap = 17,
  ExfatUpcase = 18,
  ExfatDir = 19,   // the root folder and every other folder
  ExfatFile = 20,
};

inline constexpr bool IsExfatKind(NodeKind kind) {
  return kind >= NodeKind::ExfatVolume && kind <= NodeKind::ExfatFile;
}

// exFAT files and folders: what their stream extension says.
inline constexpr uint8_t kExfatNodeNoFatChain = 0x01;  // one run of clusters, no FAT chain
inline constexpr uint8_t kExfatNodeRoot = 0x02;        // the root folder: no length, to its chain's end

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
  uint64_t partitionStart = 0;   // absolute LBA of sector 0 of the partition or volume
  uint32_t dataStart = 0;        // first sector of cluster 2, from partitionStart
  uint32_t lastCluster = 0;      // the highest usable cluster (DecodeVolume's); 0 while unknown
  // The boot record the volume was read by, from partitionStart: 0, or the
  // backup sector of a 32-bit FAT volume whose sector 0 is damaged.
  uint16_t bootSector = 0;
  uint32_t int13Extensions = 0;
  // exFAT nodes: a file's or folder's data length (which may pass 4 GiB) and
  // its stream flags (kExfatNode...). The volume's own parameters are read
  // from its boot region when they are needed.
  uint64_t dataLength = 0;
  uint8_t exfatFlags = 0;
};

inline bool IsFloppy(const DrivePacket& p) { return p.drive < kFirstHardDisk; }

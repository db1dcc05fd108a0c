// What a hard disk's sector 0 holds, decided the way careful readers decide
// it: a partition table (MBR), a GPT's protective MBR, or the boot record of
// a volume that fills the whole disk (FAT, exFAT). Floppies are not asked.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

enum class FirstSectorKind : uint8_t {
  Unknown,          // nothing this program reads (all zero, or foreign)
  PartitionTable,   // an MBR; see tableSound
  ProtectiveMbr,    // an MBR with a 0xEE entry: the disk is read as GPT
  FatBootRecord,    // a FAT volume from sector 0
  ExfatBootRecord,  // an exFAT volume from sector 0
};

// What is wrong with one entry of the four (entry numbered 1-4).
enum class MbrFault : uint8_t {
  BadBootIndicator,  // neither 0x00 nor 0x80
  StartsAtZero,      // would hold the table's own sector
  NoSectors,
  OutsideDisk,
  Overlaps,          // shares sectors with an entry before it
};

struct MbrEntryFault {
  unsigned entry = 0;
  MbrFault fault = MbrFault::BadBootIndicator;
  bool operator==(const MbrEntryFault&) const = default;
};

struct FirstSectorClass {
  FirstSectorKind kind = FirstSectorKind::Unknown;
  // The used entries make a sound table: boot indicators 0x00 or 0x80, each
  // inside the disk, none overlapping (the 0xEE entry may cover the whole
  // disk and may be overlapped: it stands for the GPT). False without entries.
  bool tableSound = false;
  bool hybrid = false;        // a 0xEE entry beside real MBR entries
  bool signature = false;     // 0x55 0xAA at 510
  bool fatBootRecord = false;    // the sector passes as a FAT boot record
  bool exfatBootRecord = false;  // the sector passes as an exFAT boot record
  std::vector<MbrEntryFault> tableFaults;
};

// sector: the disk's first 512 bytes (or more); diskSectors: the disk's size
// in 512-byte sectors, 0 when not known (entries are then not held to it).
// A table whose entries are sound wins over a boot record; a boot record wins
// over a table that is not sound; a 0xEE entry in a table that is not sound
// still says GPT (the GPT header decides); used entries that are neither
// sound nor a boot record stay a table, as the partition walk reads them.
FirstSectorClass ClassifyFirstSector(std::span<const uint8_t> sector, uint64_t diskSectors);

// A FAT boot record as a careful reader takes one: a jump (EB xx 90 or E9),
// a media byte of F0 or F8-FF, one or two FATs, and a parameter block that
// DecodeVolume takes (power-of-two sector and cluster sizes, reserved
// sectors, the FATs and the root inside the volume).
bool IsFatBootRecord(std::span<const uint8_t> sector, uint8_t partitionType = 0);
// An exFAT boot record: "EXFAT   " at 3 and no fatal fault in the fields
// CheckExfatBootSector checks (the region's checksum is not read here).
bool IsExfatBootRecord(std::span<const uint8_t> sector);

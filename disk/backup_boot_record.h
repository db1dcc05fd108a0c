// The boot record a FAT volume is read by: its sector 0 when that is sound,
// else the backup a FAT32 volume keeps in its reserved sectors (at the sector
// its parameter block names, 6 by default). The backup is only ever read.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "disk/sector_reader.h"
#include "disk/volume_layout.h"

// Where mkfs.fat and Windows put the backup when nothing else says.
inline constexpr uint16_t kDefaultBackupSector = 6;

enum class BootRecordSource : uint8_t { None, Primary, Backup };

struct BootRecordChoice {
  BootRecordSource source = BootRecordSource::None;
  uint64_t sector = 0;             // where the record in use lies, from the volume's start
  std::vector<uint8_t> bytes;      // that record's 512 bytes
  std::optional<VolumeLayout> layout;
  bool primaryUnreadable = false;  // sector 0 could not be read (else it was no boot record)
  std::vector<uint64_t> tried;     // the backup sectors tried, in order
};

// sector0: the volume's first sector as read, empty when it could not be
// read; read: the volume's sectors (512 bytes each) from its start;
// partitionType: the entry's type byte, 0 when there is none. A backup is
// taken only when it is a sound FAT32 boot record: first at the sector that
// sector 0's parameter block names (when that block decodes and the sector
// lies inside its reserved sectors), then at sector 6.
BootRecordChoice FindBootRecord(std::span<const uint8_t> sector0, const SectorReader& read,
                                uint8_t partitionType = 0);

// What the volume's node says about its boot record: "Boot record read from
// its backup at sector 6"; empty when sector 0 is in use or none was found.
std::string BootRecordNote(const BootRecordChoice& choice);

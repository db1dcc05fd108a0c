// What a hard disk holds where its master boot record is not the whole story:
// the partitions of a GPT disk, or the one volume of a disk with no partition
// table (a stick or an image formatted whole). The tree, the scan's volume
// list and the commands that take "the volumes of a disk" all read it here,
// so they agree.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "disk/backup_boot_record.h"
#include "disk/disk_access.h"
#include "disk/first_sector.h"
#include "disk/gpt.h"

enum class DiskScheme : uint8_t {
  Mbr,          // a partition table (or nothing this program reads): the MBR walk
  Gpt,          // a protective (or hybrid) MBR: the GPT's entries decide
  WholeVolume,  // sector 0 (or its backup) is a FAT boot record of the whole disk
  WholeExfat,   // sector 0 (or its backup region) is an exFAT boot record of the whole disk
};

// One partition of a GPT disk, or the volume of a whole disk.
struct DiskVolume {
  uint64_t start = 0;     // absolute first sector
  uint64_t sectors = 0;   // 0 when not known
  uint32_t number = 0;    // the GPT slot (1-based); 0 for a whole-disk volume
  bool fat = false;       // its boot record (or the backup) is a FAT one
  bool exfat = false;     // its boot region (or the backup) is a sound exFAT one
  FatWidth width = FatWidth::None;  // when fat
  uint16_t bootSector = 0;  // the boot record in use, from start: 0 or its backup's sector
  bool addressable = true;  // its sectors fit the packets' 32-bit numbers from its start
  std::string label;      // "32-Bit FAT Disk", "Linux filesystem", "Unknown"
  std::string note;       // "Boot record read from its backup at sector 6", or empty
                          // (exFAT: "Boot region read from its backup at sector 12")
};

struct DiskLayout {
  DiskScheme scheme = DiskScheme::Mbr;
  FirstSectorClass first;
  uint64_t diskSectors = 0;
  GptTable gpt;                     // Gpt only
  std::vector<DiskVolume> volumes;  // Gpt and WholeVolume
};

// The tree's label of a FAT volume of a width, wherever it
// sits: "12-Bit FAT Disk", "16-Bit FAT Disk", "32-Bit FAT Disk".
const char* FatVolumeLabel(FatWidth width);

// What the person is told about which GPT copy is in use: "GPT read from its
// backup header at sector N", "Neither GPT header is sound: no partitions
// listed", or empty when the primary is.
std::string GptSourceNote(const GptTable& gpt);
// The GPT header node's label: "GPT Header", then " - " and the note when
// there is one.
std::string GptHeaderLabel(const GptTable& gpt);

// Whether the volume at volume.start (volume.sectors long, 0: not known) is
// an exFAT one with a sound boot region, the main one or its backup; sets
// exfat, label and note when it is. Reads only. An NTFS volume shares its
// MBR type (0x07) with exFAT: its boot sector decides.
bool ProbeExfatVolume(DiskAccess& access, uint16_t drive, DiskVolume& volume);

// Decides what drive's sector 0 (as read, 512 bytes) stands for and reads
// what that needs: the GPT with each partition's boot record, or the whole
// disk's boot record (its backup when sector 0 is blank). Reads only.
DiskLayout ReadDiskLayout(DiskAccess& access, uint16_t drive, std::span<const uint8_t> sector0);

// The GPT of a drive as ReadGpt reads it, on the disk's own size.
GptTable ReadDriveGpt(DiskAccess& access, uint16_t drive);

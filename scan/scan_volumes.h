// The scan's own list of the volumes it can check, independent of the disk
// tree: the floppy drives first, then the FAT partitions of every hard disk in
// the order found (primary entries of the master boot record, then the
// logical drives of its extended chain).
#pragma once
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/prompt_port.h"

struct ScanVolumeEntry {
  // drive, CHS base, partitionStart, int13Extensions; fatType Fat32 for the
  // 32-bit partition types, else None (the boot record decides).
  DrivePacket packet;
  uint8_t partitionType = 0;  // of the partition entry; 0 for a floppy
  std::string text;  // "Floppy Disk 1", "Hard Disk 1 - 16-Bit FAT Disk - Primary Partition"
};

// The list holds at most this many volumes; those beyond are not listed.
inline constexpr size_t kScanVolumesMax = 50;

// Lists the volumes; a master or extended boot record that cannot be read is
// reported on port ("Partition Table inaccessible!") and ends that disk.
std::vector<ScanVolumeEntry> ListScanVolumes(DiskAccess& access, PromptPort& port);

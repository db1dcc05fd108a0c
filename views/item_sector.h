// The first sector of a disk, partition or volume node (a master boot record,
// an extended partition's table sector, a boot sector) moved at the node's own
// address: its CHS base or partitionStart. startSector plays no part.
#pragma once
#include <cstdint>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"

// One sector; buffer holds 512 bytes. True when all 512 bytes moved.
bool ReadItemSector(DiskAccess& access, const DrivePacket& packet, uint8_t* buffer);
bool WriteItemSector(DiskAccess& access, const DrivePacket& packet, const uint8_t* buffer);

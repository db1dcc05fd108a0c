// Whole-sector transfers over the extent a DrivePacket describes: absolute
// sectors partitionStart + startSector onwards, sectorCount of them.
#pragma once
#include <cstdint>
#include <span>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"

// True only when the whole extent moved at the first attempt. A failed
// multi-sector chunk (library path) or extent (direct path) is retried one
// sector at a time; a sector that still fails reads as 512 bytes of 0xE5 and
// is skipped on writes. buffer holds sectorCount * 512 bytes.
[[nodiscard]] bool ReadSectors(DiskAccess& access, const DrivePacket& packet, uint8_t* buffer);
[[nodiscard]] bool WriteSectors(DiskAccess& access, const DrivePacket& packet,
                                const uint8_t* buffer);

// The one road to a tree node's own sectors: buffer.size() / 512 whole
// sectors from sector `first` of node's extent (startSector onwards). A disk,
// partition or volume node (startSector 0) has one sector of its own, its
// master or extended boot record or boot sector, moved at the node's own
// address (its CHS base, partitionStart) with one reopen of a floppy that
// moved nothing. False for an empty buffer and for sectors past 32-bit
// numbers; otherwise as ReadSectors and WriteSectors.
// How a long read goes to the sector library: a call per track, as every
// read of the program's views goes, or (Whole) one call where the drive takes
// LBA addresses, as the raw road's megabyte runs stream. The direct path
// moves the whole extent either way.
enum class LibraryChunks { Track, Whole };
[[nodiscard]] bool ReadNodeSectors(DiskAccess& access, const DrivePacket& node, uint32_t first,
                                   std::span<uint8_t> buffer,
                                   LibraryChunks chunks = LibraryChunks::Track);
[[nodiscard]] bool WriteNodeSectors(DiskAccess& access, const DrivePacket& node, uint32_t first,
                                    std::span<const uint8_t> buffer);

// The volume (or partition) a node lies in, addressed from its own sector 0:
// every node below a volume carries the volume's address, so sector k of the
// volume is sector k of this node, and sector 0 alone is its boot record.
inline DrivePacket VolumeNodeOf(const DrivePacket& node) {
  DrivePacket volume = node;
  volume.startSector = 0;
  volume.sectorCount = 0;
  return volume;
}

// The CHS triple a library transfer passes for packet's current sector.
struct ChsTriple {
  uint16_t cylinder = 0;  // bits 0-7 (whole cylinder when unpacked)
  uint16_t head = 0;
  uint16_t sector = 0;    // 1-based in bits 0-5, cylinder bits 8-9 in bits 6-7
  uint32_t sectorInTrack = 0;  // S, 1-based
  bool packed = true;     // false beyond cylinder 1000
};
// The triple of the packet's current sector, absolute sector partitionStart +
// startSector, counted with the drive's geometry (never the boot record's
// heads and sectors per track, which need not match how the drive is laid
// out); false when the geometry is zero (the triple is then the packet's base).
[[nodiscard]] bool PacketToChs(const DrivePacket& packet, const Geometry& geometry,
                               ChsTriple& out);

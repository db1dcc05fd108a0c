#include "disk/sector_access.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

// The transfers below are the two roads themselves: they alone ask which is
// bound.
struct SectorRoads {
  static bool Library(const DiskAccess& access) { return access.useSectorLibrary_; }
};

namespace {

constexpr uint8_t kUnreadableFill = 0xE5;
// Sectors whose byte offsets a 64-bit offset holds.
constexpr uint64_t kLastByteSector = UINT64_MAX / kSectorSize;

void SayWait(DiskAccess& access) { access.Prompt().SetStatus(0, kWaitText); }

// One library call: by the 32-bit entry points while the LBA fits them (what
// every library has always served), by the 64-bit ones past them.
template <bool Write, typename Buf>
uint32_t MoveByLba(SectorLibrary& lib, uint32_t drive, const ChsTriple& t, uint32_t count,
                   Buf buffer, uint64_t lba, uint32_t ext) {
  if (lba + count - 1 > UINT32_MAX) {
    if constexpr (Write)
      return lib.WriteSect64(drive, t.cylinder, t.head, t.sector, count, buffer, lba, ext);
    else
      return lib.ReadSect64(drive, t.cylinder, t.head, t.sector, count, buffer, lba, ext);
  }
  const auto lba32 = static_cast<uint32_t>(lba);
  if constexpr (Write)
    return lib.WriteSect32(drive, t.cylinder, t.head, t.sector, count, buffer, lba32, ext);
  else
    return lib.ReadSect32(drive, t.cylinder, t.head, t.sector, count, buffer, lba32, ext);
}

// Library path: chunks that never cross a track end; a failed chunk of more
// than one sector is retried sector by sector and the transfer ends there.
template <bool Write, typename Buf>
bool TransferLibrary(DiskAccess& access, const DrivePacket& packet, Buf buffer,
                     LibraryChunks chunks = LibraryChunks::Track) {
  SayWait(access);
  SectorLibrary* lib = access.Library();
  if (lib == nullptr) return false;
  DrivePacket w = packet;
  Geometry geometry;
  if (!access.DriveGeometry(packet.drive, geometry)) geometry = Geometry{};
  uint32_t remaining = packet.sectorCount;
  while (remaining > 0) {
    // The library numbers sectors in 32 bits: a chunk that reaches past them
    // is no sector of this disk, and must never wrap round to sector 0. The
    // chunk's place is counted in 64 bits from the packet for that reason.
    const uint64_t sector64 = uint64_t{packet.startSector} + (packet.sectorCount - remaining);
    if (sector64 > UINT32_MAX) return false;
    w.startSector = static_cast<uint32_t>(sector64);
    ChsTriple t;
    const bool haveGeometry = PacketToChs(w, geometry, t);
    // Without a geometry only the base address itself can be given in CHS.
    if (!haveGeometry && w.int13Extensions == 0 && w.startSector != 0) return false;
    uint32_t n = remaining;
    const bool byTrack = chunks == LibraryChunks::Track || w.int13Extensions == 0;
    if (haveGeometry && byTrack) {
      const uint32_t left = geometry.sectorsPerTrack - t.sectorInTrack + 1;
      if (left < n) n = left;
    }
    const uint64_t done = uint64_t{packet.sectorCount - remaining} * kSectorSize;
    const uint64_t lba = sector64 + w.partitionStart;
    if (lba < sector64 || lba > UINT64_MAX - n) return false;
    // CHS reaches the first 1024 cylinders only: a sector past them is never
    // handed over as a triple that would name another one, and fails as the
    // library would fail it.
    const bool reachable = w.int13Extensions != 0 || (t.packed && lba + n - 1 <= UINT32_MAX);
    const uint32_t ok =
        reachable ? MoveByLba<Write>(*lib, w.drive, t, n, buffer + done, lba, w.int13Extensions)
                  : 0;
    if (ok != 0) {
      remaining -= n;
      continue;
    }
    if (n == 1) return false;
    for (uint32_t i = 0; i < n; ++i) {
      DrivePacket one = w;
      one.sectorCount = 1;
      one.startSector = w.startSector + i;
      auto place = buffer + done + uint64_t{i} * kSectorSize;
      if constexpr (Write) {
        TransferLibrary<true>(access, one, place);  // a failing sector is skipped
      } else {
        if (!TransferLibrary<false>(access, one, place))
          std::memset(place, kUnreadableFill, kSectorSize);
      }
    }
    return false;
  }
  return true;
}

template <bool Write, typename Buf>
bool TransferDirect(DiskAccess& access, const DrivePacket& packet, Buf buffer);

template <bool Write, typename Buf>
bool TransferDirectOrLibrary(DiskAccess& access, const DrivePacket& packet, Buf buffer,
                             LibraryChunks chunks = LibraryChunks::Track) {
  return SectorRoads::Library(access) ? TransferLibrary<Write>(access, packet, buffer, chunks)
                                 : TransferDirect<Write>(access, packet, buffer);
}

// Direct path: the whole extent at once; a floppy that moved nothing is
// reopened once (a changed or newly inserted disk); a failed extent of more
// than one sector is retried sector by sector.
template <bool Write, typename Buf>
bool TransferDirect(DiskAccess& access, const DrivePacket& packet, Buf buffer) {
  SayWait(access);
  if (packet.sectorCount == 0) return true;
  // A packet whose extent ends past any byte offset names no place on a disk.
  if (packet.partitionStart > kLastByteSector - packet.startSector - packet.sectorCount)
    return false;
  const uint64_t offset = (packet.partitionStart + packet.startSector) * kSectorSize;
  const uint64_t len = uint64_t{packet.sectorCount} * kSectorSize;
  auto move = [&]() -> int64_t {
    if constexpr (Write)
      return access.DeviceWrite(packet.drive, offset, buffer, len);
    else
      return access.DeviceRead(packet.drive, offset, buffer, len);
  };
  int64_t moved = move();
  if (moved <= 0 && IsFloppy(packet)) {
    if (!access.OpenDrive(packet.drive)) return false;
    moved = move();
  }
  if (moved >= 0 && static_cast<uint64_t>(moved) == len) return true;
  if (packet.sectorCount == 1) return false;
  for (uint32_t i = 0; i < packet.sectorCount; ++i) {
    DrivePacket one = packet;
    one.sectorCount = 1;
    one.startSector = packet.startSector + i;
    auto place = buffer + uint64_t{i} * kSectorSize;
    // A sector past the 32-bit numbers has no packet of its own; it fails
    // rather than wrap round to the partition's first sectors.
    const bool numbered = uint64_t{packet.startSector} + i <= UINT32_MAX;
    if constexpr (Write) {
      if (numbered) TransferDirect<true>(access, one, place);
    } else {
      if (!numbered || !TransferDirect<false>(access, one, place))
        std::memset(place, kUnreadableFill, kSectorSize);
    }
  }
  return false;
}

// A disk, partition or volume node's own sector, at its CHS base or
// partitionStart (startSector plays no part).
template <bool Write, typename Buf>
bool MoveOwnSector(DiskAccess& access, const DrivePacket& packet, Buf buffer) {
  if (SectorRoads::Library(access)) {
    SectorLibrary* lib = access.Library();
    if (lib == nullptr) return false;
    // The CHS base of a node past 32-bit sectors names no sector of it.
    if (packet.int13Extensions == 0 && packet.partitionStart > UINT32_MAX) return false;
    ChsTriple base;
    base.cylinder = packet.cylinder;
    base.head = packet.head;
    base.sector = packet.sector;
    return MoveByLba<Write>(*lib, packet.drive, base, 1, buffer, packet.partitionStart,
                            packet.int13Extensions) != 0;
  }
  // Hard disks are opened by the drive listing and floppies by their
  // expansion; a node shown before either still gets its sector.
  if (!access.DriveOpen(packet.drive) && !access.OpenDrive(packet.drive)) return false;
  if (packet.partitionStart >= kLastByteSector) return false;
  const uint64_t offset = packet.partitionStart * kSectorSize;
  auto move = [&]() -> int64_t {
    if constexpr (Write)
      return access.DeviceWrite(packet.drive, offset, buffer, kSectorSize);
    else
      return access.DeviceRead(packet.drive, offset, buffer, kSectorSize);
  };
  int64_t moved = move();
  if (moved <= 0 && IsFloppy(packet)) {
    // A floppy that moved nothing may have been changed: open it again and
    // retry the same sector once.
    access.CloseDrive(packet.drive);
    if (!access.OpenDrive(packet.drive)) return false;
    moved = move();
  }
  return moved == static_cast<int64_t>(kSectorSize);
}

template <bool Write, typename Buf>
bool MoveNodeSectors(DiskAccess& access, const DrivePacket& node, uint32_t first, Buf buffer,
                     size_t bytes, LibraryChunks chunks = LibraryChunks::Track) {
  const uint64_t count = bytes / kSectorSize;
  if (count == 0 || count > UINT32_MAX) return false;
  if (node.startSector == 0 && first == 0 && count == 1)
    return MoveOwnSector<Write>(access, node, buffer);
  const uint64_t start = uint64_t{node.startSector} + first;
  if (start + count - 1 > UINT32_MAX) return false;
  DrivePacket extent = node;
  extent.startSector = static_cast<uint32_t>(start);
  extent.sectorCount = static_cast<uint32_t>(count);
  if constexpr (Write)
    return TransferDirectOrLibrary<true>(access, extent, buffer);
  else
    return TransferDirectOrLibrary<false>(access, extent, buffer, chunks);
}

}  // namespace

bool ReadNodeSectors(DiskAccess& access, const DrivePacket& node, uint32_t first,
                     std::span<uint8_t> buffer, LibraryChunks chunks) {
  return MoveNodeSectors<false>(access, node, first, buffer.data(), buffer.size(), chunks);
}

bool WriteNodeSectors(DiskAccess& access, const DrivePacket& node, uint32_t first,
                      std::span<const uint8_t> buffer) {
  return MoveNodeSectors<true>(access, node, first, buffer.data(), buffer.size());
}

bool PacketToChs(const DrivePacket& p, const Geometry& g, ChsTriple& out) {
  out = ChsTriple{};
  out.cylinder = p.cylinder;
  out.head = p.head;
  out.sector = p.sector;
  out.sectorInTrack = p.sector & 0x3F;
  if (g.heads == 0 || g.sectorsPerTrack == 0) return false;
  // Counted from the absolute sector, the one the LBA argument names: a
  // partition entry's CHS start may be clamped or made for another geometry,
  // and the triple must never name another sector than the LBA does.
  const uint64_t l = p.partitionStart + p.startSector;
  const uint32_t s = static_cast<uint32_t>(l % g.sectorsPerTrack) + 1;
  const uint64_t t = l / g.sectorsPerTrack;
  const uint64_t cyl = t / g.heads;
  const uint16_t head = static_cast<uint16_t>(t % g.heads);
  out.sectorInTrack = s;
  if (cyl > 1000) {
    // Beyond CHS reach: the library addresses it by LBA.
    out.packed = false;
    // Held at the word's top: a cut-off cylinder would name a low, valid one.
    out.cylinder = static_cast<uint16_t>(std::min<uint64_t>(cyl, 0xFFFF));
    out.sector = static_cast<uint16_t>(s);
    return true;
  }
  out.cylinder = static_cast<uint16_t>(cyl & 0xFF);
  out.head = head;
  out.sector = static_cast<uint16_t>(s | ((cyl >> 2) & 0xC0));
  return true;
}

bool ReadSectors(DiskAccess& access, const DrivePacket& packet, uint8_t* buffer) {
  return TransferDirectOrLibrary<false>(access, packet, buffer);
}

bool WriteSectors(DiskAccess& access, const DrivePacket& packet, const uint8_t* buffer) {
  return TransferDirectOrLibrary<true>(access, packet, buffer);
}

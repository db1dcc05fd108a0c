#include "views/item_sector.h"

namespace {

template <bool Write, typename Buf>
bool MoveItemSector(DiskAccess& access, const DrivePacket& packet, Buf buffer) {
  if (access.useSectorLibrary) {
    SectorLibrary* lib = access.Library();
    if (lib == nullptr) return false;
    uint32_t ok;
    if constexpr (Write) {
      access.NoteWrite(packet.drive, packet.partitionStart, 1);
      ok = lib->WriteSect32(packet.drive, packet.cylinder, packet.head, packet.sector, 1, buffer,
                            packet.partitionStart, packet.int13Extensions);
    } else {
      ok = lib->ReadSect32(packet.drive, packet.cylinder, packet.head, packet.sector, 1, buffer,
                           packet.partitionStart, packet.int13Extensions);
    }
    return ok != 0;
  }
  // Hard disks are opened by the drive listing and floppies by their
  // expansion; a node shown before either still gets its sector.
  if (!access.DriveOpen(packet.drive) && !access.OpenDrive(packet.drive)) return false;
  const uint64_t offset = uint64_t{packet.partitionStart} * kSectorSize;
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

}  // namespace

bool ReadItemSector(DiskAccess& access, const DrivePacket& packet, uint8_t* buffer) {
  return MoveItemSector<false>(access, packet, buffer);
}

bool WriteItemSector(DiskAccess& access, const DrivePacket& packet, const uint8_t* buffer) {
  return MoveItemSector<true>(access, packet, buffer);
}

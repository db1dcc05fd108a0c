// The two stores that hand out packets to tree nodes: the drive table (ten
// top-level packets) and the packet pool (2 MB, forward-only cursor). Packets
// never move while the stores live, so tree items may keep raw pointers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "disk/drive_packet.h"

class PacketStore {
 public:
  static constexpr size_t kDriveSlots = 10;
  static constexpr size_t kPoolBytes = 0x200000;

  // Back to the start of both stores (drive listing and Refresh). Packets
  // handed out before are invalid afterwards.
  void Rewind();

  // The next drive-table slot, zero-filled; nullptr when all ten are taken.
  DrivePacket* TakeDrivePacket();

  // A pool packet, zero-filled; with a name, the name is stored behind it and
  // nameText points at it. nullptr when the pool would pass its end.
  DrivePacket* TakePoolPacket();
  DrivePacket* TakePoolPacket(std::string_view name);

  size_t DrivesTaken() const { return drivesTaken_; }
  size_t PoolBytesUsed() const { return poolUsed_; }

 private:
  struct Slot {
    DrivePacket packet;
    std::string name;
  };
  DrivePacket drives_[kDriveSlots] = {};
  size_t drivesTaken_ = 0;
  // A deque keeps element addresses stable while it grows at the back; slots
  // are reused after a Rewind instead of being freed.
  std::deque<Slot> pool_;
  size_t poolSlotsTaken_ = 0;
  size_t poolUsed_ = 0;
};

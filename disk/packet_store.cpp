#include "disk/packet_store.h"

void PacketStore::Rewind() {
  for (auto& d : drives_) d = DrivePacket{};
  drivesTaken_ = 0;
  poolSlotsTaken_ = 0;
  poolUsed_ = 0;
}

DrivePacket* PacketStore::TakeDrivePacket() {
  if (drivesTaken_ >= kDriveSlots) return nullptr;
  DrivePacket* p = &drives_[drivesTaken_++];
  *p = DrivePacket{};
  return p;
}

DrivePacket* PacketStore::TakePoolPacket() {
  if (kPoolBytes - poolUsed_ < kPacketUnit) return nullptr;
  if (poolSlotsTaken_ == pool_.size()) pool_.emplace_back();
  Slot& slot = pool_[poolSlotsTaken_++];
  slot.packet = DrivePacket{};
  slot.name.clear();
  poolUsed_ += kPacketUnit;
  return &slot.packet;
}

DrivePacket* PacketStore::TakePoolPacket(std::string_view name) {
  // The packet plus its name and terminating NUL, as the pool counts them.
  const size_t need = kPacketUnit + name.size() + 1;
  if (kPoolBytes - poolUsed_ < need) return nullptr;
  DrivePacket* p = TakePoolPacket();
  Slot& slot = pool_[poolSlotsTaken_ - 1];
  slot.name.assign(name);
  poolUsed_ += name.size() + 1;
  p->nameText = slot.name.c_str();
  return p;
}

// The drive table and the packet pool: fixed room, stable addresses, names
// kept behind their packets, and reuse after a rewind.
#include "disk/packet_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

bool IsZero(const DrivePacket& p) {
  DrivePacket zero;
  return std::memcmp(&p, &zero, sizeof p) == 0;
}

TEST(PacketStore, TenDriveSlotsThenNone) {
  PacketStore store;
  std::vector<DrivePacket*> slots;
  for (int i = 0; i < 10; ++i) {
    DrivePacket* p = store.TakeDrivePacket();
    ASSERT_NE(p, nullptr) << i;
    EXPECT_TRUE(IsZero(*p));
    p->drive = static_cast<uint16_t>(0x80 + i);
    p->sectorCount = 1;
    slots.push_back(p);
  }
  EXPECT_EQ(store.TakeDrivePacket(), nullptr);
  EXPECT_EQ(store.DrivesTaken(), 10u);
  EXPECT_EQ(std::set<DrivePacket*>(slots.begin(), slots.end()).size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(slots[i]->drive, 0x80 + i);

  // A new listing writes the table from its start again, zero-filled.
  store.Rewind();
  EXPECT_EQ(store.DrivesTaken(), 0u);
  DrivePacket* first = store.TakeDrivePacket();
  EXPECT_EQ(first, slots[0]);
  EXPECT_TRUE(IsZero(*first));
}

TEST(PacketStore, PoolCountsPacketsAndNamesAndRefusesToOverflow) {
  PacketStore store;
  DrivePacket* named = store.TakePoolPacket("Long File Name Document.txt");
  ASSERT_NE(named, nullptr);
  EXPECT_STREQ(named->nameText, "Long File Name Document.txt");
  EXPECT_EQ(store.PoolBytesUsed(), 58u + 27 + 1);
  DrivePacket* plain = store.TakePoolPacket();
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->nameText, nullptr);
  EXPECT_EQ(store.PoolBytesUsed(), 58u + 28 + 58);

  // Fill the 2 MB pool: it ends where the next packet would pass its end.
  size_t taken = 2;
  std::string longName(200, 'N');
  while (store.PoolBytesUsed() + 58 + 201 <= 0x200000) {
    ASSERT_NE(store.TakePoolPacket(longName), nullptr);
    ++taken;
  }
  // A name that no longer fits is refused while a bare packet still fits.
  const size_t left = 0x200000 - store.PoolBytesUsed();
  ASSERT_GE(left, 58u);
  EXPECT_EQ(store.TakePoolPacket(std::string(left - 58, 'x')), nullptr);
  EXPECT_EQ(store.PoolBytesUsed(), 0x200000 - left);
  while (store.TakePoolPacket() != nullptr) ++taken;
  EXPECT_LT(0x200000 - store.PoolBytesUsed(), 58u);
  EXPECT_EQ(store.TakePoolPacket(), nullptr);
  EXPECT_EQ(store.TakePoolPacket(""), nullptr);

  // Nothing handed out earlier moved or lost its name while the pool grew.
  EXPECT_STREQ(named->nameText, "Long File Name Document.txt");
  EXPECT_GT(taken, 7000u);
}

TEST(PacketStore, RewindReusesThePoolFromItsStart) {
  PacketStore store;
  DrivePacket* a = store.TakePoolPacket("FIRST.TXT");
  DrivePacket* b = store.TakePoolPacket();
  a->kind = NodeKind::DirEntry;
  a->firstCluster = 99;
  b->kind = NodeKind::Fat16;
  store.Rewind();
  EXPECT_EQ(store.PoolBytesUsed(), 0u);
  DrivePacket* a2 = store.TakePoolPacket();
  DrivePacket* b2 = store.TakePoolPacket("SECOND.TXT");
  EXPECT_EQ(a2, a);
  EXPECT_EQ(b2, b);
  EXPECT_TRUE(IsZero(*a2));
  EXPECT_STREQ(b2->nameText, "SECOND.TXT");
  EXPECT_EQ(b2->kind, NodeKind::HardDisk);
}

}  // namespace

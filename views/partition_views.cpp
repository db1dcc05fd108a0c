#include "views/partition_views.h"

#include <cinttypes>
#include <cstdio>
#include <span>
#include <string>

#include "disk/le.h"
#include "views/item_sector.h"
#include "views/list_ops.h"

namespace {

// Partition table sector: four 16-byte entries from byte 446.
constexpr size_t kPartitionEntries = 446;
constexpr size_t kPartitionEntrySize = 16;
constexpr size_t kEntryBoot = 0, kEntryHead = 1, kEntrySector = 2, kEntryCylinder = 3,
                 kEntrySystem = 4, kEntryEndHead = 5, kEntryEndSector = 6,
                 kEntryEndCylinder = 7, kEntryRelative = 8, kEntrySectors = 12;

// FAT boot sector fields.
constexpr size_t kBootOemName = 3, kBootBytesPerSector = 11, kBootSectorsPerCluster = 13,
                 kBootReserved = 14, kBootFats = 16, kBootRootEntries = 17,
                 kBootTotal16 = 19, kBootMedia = 21, kBootSectorsPerFat16 = 22,
                 kBootSectorsPerTrack = 24, kBootHeads = 26, kBootHidden = 28,
                 kBootTotal32 = 32, kBootSectorsPerFat32 = 36;

std::string Number(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

// The node's first sector into pane.sectorBuffer; false when it cannot be read.
bool ReadFirstSector(ViewContext& ctx, const DrivePacket& packet) {
  ListPaneState& pane = ctx.pane;
  if (pane.sectorBuffer.size() < kSectorSize && !TakeBuffer(pane, pane.sectorBuffer, kSectorSize))
    return false;
  return ReadItemSector(ctx.access, packet, pane.sectorBuffer.data());
}

void AddRow(ListPaneState& pane, std::vector<std::string> texts) {
  pane.rows.push_back({pane.rows.size(), std::move(texts)});
}

}  // namespace

void ShowPartitionTable(ViewContext& ctx, const DrivePacket& packet) {
  ListPaneState& pane = ctx.pane;
  ResetList(ctx);
  pane.viewKind = ViewKind::None;
  pane.columns = {{"Partition", 100}, {"Field", 200}, {"Value", 200}};
  if (!ReadFirstSector(ctx, packet)) {
    ctx.Prompt().Message(ctx.access.useSectorLibrary ? "Partition Table inaccessible!"
                                                     : "Partition Table not accessible!");
    return;
  }
  const std::span<const uint8_t> sector(pane.sectorBuffer.data(), kSectorSize);
  for (unsigned p = 1; p <= 4; ++p) {
    const auto e = sector.subspan(kPartitionEntries + (p - 1) * kPartitionEntrySize,
                                  kPartitionEntrySize);
    const std::string first = Number(p);
    AddRow(pane, {first, "Boot Indicator", le8(e, kEntryBoot) == 0x80 ? "Bootable" : "Non-Bootable"});
    AddRow(pane, {"", "Cylinder", Number(le8(e, kEntryCylinder))});
    AddRow(pane, {"", "Head", Number(le8(e, kEntryHead))});
    // The whole byte: cylinder bits 8-9 stay in it.
    AddRow(pane, {"", "Sector", Number(le8(e, kEntrySector))});
    AddRow(pane, {"", "System Indicator", Number(le8(e, kEntrySystem))});
    AddRow(pane, {"", "Ending Cylinder", Number(le8(e, kEntryEndCylinder))});
    AddRow(pane, {"", "Ending Head", Number(le8(e, kEntryEndHead))});
    AddRow(pane, {"", "Ending Sector", Number(le8(e, kEntryEndSector))});
    AddRow(pane, {"", "Number of Sectors", Number(le32(e, kEntrySectors))});
    AddRow(pane, {"", "Relative Sectors", Number(le32(e, kEntryRelative))});
  }
}

void ShowBootRecord(ViewContext& ctx, const DrivePacket& packet) {
  ListPaneState& pane = ctx.pane;
  ResetList(ctx);
  pane.viewKind = ViewKind::None;
  pane.columns = {{"Field", 200}, {"Value", 200}};
  bool read = true;
  if (!ctx.access.useSectorLibrary && IsFloppy(packet)) {
    // The disk in a floppy drive may have been changed since it was opened.
    ctx.access.CloseDrive(packet.drive);
    read = ctx.access.OpenDrive(packet.drive);
  }
  if (!read || !ReadFirstSector(ctx, packet)) {
    ctx.Prompt().Message(ctx.access.useSectorLibrary ? "Boot Record inaccessible!"
                                                     : "Boot Record not accessible!");
    return;
  }
  const std::span<const uint8_t> s(pane.sectorBuffer.data(), kSectorSize);
  std::string oem;
  for (size_t i = 0; i < 8 && s[kBootOemName + i] != 0; ++i)
    oem.push_back(static_cast<char>(s[kBootOemName + i]));
  const uint16_t perFat16 = le16(s, kBootSectorsPerFat16);
  const uint32_t perFat = perFat16 != 0 ? perFat16 : le32(s, kBootSectorsPerFat32);
  const uint16_t total16 = le16(s, kBootTotal16);
  const uint32_t total = total16 != 0 ? total16 : le32(s, kBootTotal32);
  const uint16_t perTrack = le16(s, kBootSectorsPerTrack);
  const uint16_t heads = le16(s, kBootHeads);
  // A blank or foreign first sector has no geometry: no tracks to count.
  const uint64_t trackSize = uint64_t{heads} * perTrack;
  const uint64_t tracks = trackSize != 0 ? total / trackSize : 0;
  char media[8];
  std::snprintf(media, sizeof media, "0x%X", static_cast<unsigned>(le8(s, kBootMedia)));

  AddRow(pane, {"OEM Name", oem});
  AddRow(pane, {"Bytes Per Sector", Number(le16(s, kBootBytesPerSector))});
  AddRow(pane, {"Sectors Per Cluster", Number(le8(s, kBootSectorsPerCluster))});
  AddRow(pane, {"Reserved Sectors", Number(le16(s, kBootReserved))});
  AddRow(pane, {"Number of FATs", Number(le8(s, kBootFats))});
  AddRow(pane, {"Number of Root Directory Entries", Number(le16(s, kBootRootEntries))});
  AddRow(pane, {"Media Descriptor Byte", media});
  AddRow(pane, {"Sectors Per FAT", Number(perFat)});
  AddRow(pane, {"Sectors Per Track", Number(perTrack)});
  AddRow(pane, {"Number of Heads", Number(heads)});
  AddRow(pane, {"Number of Hidden Sectors", Number(le32(s, kBootHidden))});
  AddRow(pane, {"Total Tracks", Number(tracks)});
  AddRow(pane, {"Total Sectors", Number(total)});
}

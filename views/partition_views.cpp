#include "views/partition_views.h"

#include <cinttypes>
#include <cstdio>
#include <span>
#include <string>

#include "disk/le.h"
#include "disk/boot_sector.h"
#include "disk/partition_entry.h"
#include "disk/sector_access.h"
#include "views/list_ops.h"

namespace {

std::string Number(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

// The node's own first sector into pane.sectorBuffer, at the node's address
// whatever its startSector; false when it cannot be read.
bool ReadFirstSector(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  if (pane.sectorBuffer.size() < kSectorSize && !TakeBuffer(pane.budget, pane.sectorBuffer, kSectorSize))
    return false;
  DrivePacket own = packet;
  own.startSector = 0;
  return ReadNodeSectors(ctx.access, own, 0, std::span<uint8_t>(pane.sectorBuffer).first(kSectorSize));
}

void AddRow(ViewPage& pane, std::vector<std::string> texts) {
  pane.rows.push_back({pane.rows.size(), std::move(texts)});
}

}  // namespace

void ShowPartitionTable(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  ResetList(ctx);
  pane.viewKind = ViewKind::None;
  pane.columns = {{"Partition", 100}, {"Field", 200}, {"Value", 200}};
  if (!ReadFirstSector(ctx, packet)) {
    ctx.Prompt().Message(ctx.access.UnreadableText(UnreadablePlace::PartitionTable));
    return;
  }
  const std::span<const uint8_t> sector(pane.sectorBuffer.data(), kSectorSize);
  for (unsigned p = 1; p <= kPartitionEntries; ++p) {
    const auto e = sector.subspan(PartitionEntryOffset(p - 1), kPartitionEntrySize);
    const std::string first = Number(p);
    AddRow(pane, {first, "Boot Indicator", le8(e, kPartBootFlag) == 0x80 ? "Bootable" : "Non-Bootable"});
    AddRow(pane, {"", "Cylinder", Number(le8(e, kPartStartCylinder))});
    AddRow(pane, {"", "Head", Number(le8(e, kPartStartHead))});
    // The whole byte: cylinder bits 8-9 stay in it.
    AddRow(pane, {"", "Sector", Number(le8(e, kPartStartSector))});
    AddRow(pane, {"", "System Indicator", Number(le8(e, kPartType))});
    AddRow(pane, {"", "Ending Cylinder", Number(le8(e, kPartEndCylinder))});
    AddRow(pane, {"", "Ending Head", Number(le8(e, kPartEndHead))});
    AddRow(pane, {"", "Ending Sector", Number(le8(e, kPartEndSector))});
    AddRow(pane, {"", "Number of Sectors", Number(le32(e, kPartSectors))});
    AddRow(pane, {"", "Relative Sectors", Number(le32(e, kPartStartLba))});
  }
}

void ShowBootRecord(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  ResetList(ctx);
  pane.viewKind = ViewKind::None;
  pane.columns = {{"Field", 200}, {"Value", 200}};
  // The disk in a floppy drive may have been changed since it was opened.
  const bool read = !IsFloppy(packet) || ctx.access.ReopenRemovable(packet.drive);
  if (!read || !ReadFirstSector(ctx, packet)) {
    ctx.Prompt().Message(ctx.access.UnreadableText(UnreadablePlace::BootRecord));
    return;
  }
  const std::span<const uint8_t> s(pane.sectorBuffer.data(), kSectorSize);
  std::string oem;
  for (size_t i = 0; i < kBootOemNameLength && s[kBootOemName + i] != 0; ++i)
    oem.push_back(static_cast<char>(s[kBootOemName + i]));
  const uint16_t perFat16 = le16(s, kBootSectorsPerFat16);
  const uint32_t perFat = perFat16 != 0 ? perFat16 : le32(s, kBootSectorsPerFat32);
  const uint16_t total16 = le16(s, kBootTotalSectors16);
  const uint32_t total = total16 != 0 ? total16 : le32(s, kBootTotalSectors32);
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
  AddRow(pane, {"Reserved Sectors", Number(le16(s, kBootReservedSectors))});
  AddRow(pane, {"Number of FATs", Number(le8(s, kBootFatCount))});
  AddRow(pane, {"Number of Root Directory Entries", Number(le16(s, kBootRootEntries))});
  AddRow(pane, {"Media Descriptor Byte", media});
  AddRow(pane, {"Sectors Per FAT", Number(perFat)});
  AddRow(pane, {"Sectors Per Track", Number(perTrack)});
  AddRow(pane, {"Number of Heads", Number(heads)});
  AddRow(pane, {"Number of Hidden Sectors", Number(le32(s, kBootHiddenSectors))});
  AddRow(pane, {"Total Tracks", Number(tracks)});
  AddRow(pane, {"Total Sectors", Number(total)});
}

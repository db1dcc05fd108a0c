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

// The node's own first sector into page.sectorBuffer, at the node's address
// whatever its startSector; false when it cannot be read.
bool ReadFirstSector(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  if (page.sectorBuffer.size() < kSectorSize && !TakeBuffer(page.budget, page.sectorBuffer, kSectorSize))
    return false;
  DrivePacket own = packet;
  own.startSector = 0;
  return ReadNodeSectors(ctx.access, own, 0, std::span<uint8_t>(page.sectorBuffer).first(kSectorSize));
}

void AddRow(ViewPage& page, std::vector<std::string> texts) {
  page.rows.push_back({page.rows.size(), std::move(texts)});
}

}  // namespace

void ShowPartitionTable(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  ResetList(ctx);
  page.viewKind = ViewKind::None;
  page.columns = {{"Partition"}, {"Field"}, {"Value"}};
  if (!ReadFirstSector(ctx, packet)) {
    ctx.Prompt().Message(ctx.access.UnreadableText(UnreadablePlace::PartitionTable));
    return;
  }
  const std::span<const uint8_t> sector(page.sectorBuffer.data(), kSectorSize);
  for (unsigned p = 1; p <= kPartitionEntries; ++p) {
    const auto e = sector.subspan(PartitionEntryOffset(p - 1), kPartitionEntrySize);
    const std::string first = Number(p);
    AddRow(page, {first, "Boot Indicator", le8(e, kPartBootFlag) == 0x80 ? "Bootable" : "Non-Bootable"});
    AddRow(page, {"", "Cylinder", Number(le8(e, kPartStartCylinder))});
    AddRow(page, {"", "Head", Number(le8(e, kPartStartHead))});
    // The whole byte: cylinder bits 8-9 stay in it.
    AddRow(page, {"", "Sector", Number(le8(e, kPartStartSector))});
    AddRow(page, {"", "System Indicator", Number(le8(e, kPartType))});
    AddRow(page, {"", "Ending Cylinder", Number(le8(e, kPartEndCylinder))});
    AddRow(page, {"", "Ending Head", Number(le8(e, kPartEndHead))});
    AddRow(page, {"", "Ending Sector", Number(le8(e, kPartEndSector))});
    AddRow(page, {"", "Number of Sectors", Number(le32(e, kPartSectors))});
    AddRow(page, {"", "Relative Sectors", Number(le32(e, kPartStartLba))});
  }
}

void ShowBootRecord(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  ResetList(ctx);
  page.viewKind = ViewKind::None;
  page.columns = {{"Field"}, {"Value"}};
  // The disk in a floppy drive may have been changed since it was opened.
  const bool read = !IsFloppy(packet) || ctx.access.ReopenRemovable(packet.drive);
  if (!read || !ReadFirstSector(ctx, packet)) {
    ctx.Prompt().Message(ctx.access.UnreadableText(UnreadablePlace::BootRecord));
    return;
  }
  const std::span<const uint8_t> s(page.sectorBuffer.data(), kSectorSize);
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

  AddRow(page, {"OEM Name", oem});
  AddRow(page, {"Bytes Per Sector", Number(le16(s, kBootBytesPerSector))});
  AddRow(page, {"Sectors Per Cluster", Number(le8(s, kBootSectorsPerCluster))});
  AddRow(page, {"Reserved Sectors", Number(le16(s, kBootReservedSectors))});
  AddRow(page, {"Number of FATs", Number(le8(s, kBootFatCount))});
  AddRow(page, {"Number of Root Directory Entries", Number(le16(s, kBootRootEntries))});
  AddRow(page, {"Media Descriptor Byte", media});
  AddRow(page, {"Sectors Per FAT", Number(perFat)});
  AddRow(page, {"Sectors Per Track", Number(perTrack)});
  AddRow(page, {"Number of Heads", Number(heads)});
  AddRow(page, {"Number of Hidden Sectors", Number(le32(s, kBootHiddenSectors))});
  AddRow(page, {"Total Tracks", Number(tracks)});
  AddRow(page, {"Total Sectors", Number(total)});
}

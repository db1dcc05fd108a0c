#include "views/partition_views.h"

#include <cinttypes>
#include <cstdio>
#include <span>
#include <string>

#include <algorithm>

#include "disk/backup_boot_record.h"
#include "disk/boot_sector.h"
#include "disk/le.h"
#include "disk/partition_entry.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"
#include "views/gpt_views.h"
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
  // The one decoding of the four entries, shared with the GPT disk's views.
  FillPage(page, MbrEntriesView(std::span<const uint8_t>(page.sectorBuffer.data(), kSectorSize)));
}

void ShowBootRecord(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  ResetList(ctx);
  page.viewKind = ViewKind::None;
  page.columns = {{"Field"}, {"Value"}};
  // The disk in a floppy drive may have been changed since it was opened.
  const bool reopened = !IsFloppy(packet) || ctx.access.ReopenRemovable(packet.drive);
  const bool read = reopened && ReadFirstSector(ctx, packet);
  // A volume whose sector 0 is unreadable or overwritten is shown by the
  // backup record it was walked by, and says so first.
  std::string note;
  if (reopened && packet.kind == NodeKind::Volume && page.sectorBuffer.size() >= kSectorSize &&
      (!read || !DecodeVolume(std::span<const uint8_t>(page.sectorBuffer).first(kSectorSize),
                              packet.fatType == FatWidth::Fat32 ? kFat32PartitionType : 0))) {
    const DrivePacket own = VolumeNodeOf(packet);
    const SectorReader reader = [&ctx, &own](uint64_t first, std::span<uint8_t> out) {
      return first <= UINT32_MAX &&
             ReadNodeSectors(ctx.access, own, static_cast<uint32_t>(first), out);
    };
    const BootRecordChoice choice = FindBootRecord(
        read ? std::span<const uint8_t>(page.sectorBuffer).first(kSectorSize)
             : std::span<const uint8_t>(),
        reader, packet.fatType == FatWidth::Fat32 ? kFat32PartitionType : 0);
    if (choice.source == BootRecordSource::Backup) {
      std::copy(choice.bytes.begin(), choice.bytes.end(), page.sectorBuffer.begin());
      note = BootRecordNote(choice);
    }
  }
  if (!read && note.empty()) {
    ctx.Prompt().Message(ctx.access.UnreadableText(UnreadablePlace::BootRecord));
    return;
  }
  if (!note.empty()) AddRow(page, {"Note", note});
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

#include "views/gpt_views.h"

#include <cinttypes>
#include <cstdio>

#include "disk/disk_layout.h"
#include "disk/le.h"
#include "disk/partition_entry.h"
#include "views/list_ops.h"

namespace {

std::string Number(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

std::string CrcText(uint32_t stored, const std::optional<uint32_t>& computed) {
  std::string text = Hex32(stored);
  if (computed && *computed != stored) text += " (should be " + Hex32(*computed) + ")";
  return text;
}

// The attribute bits every partition type shares, by name after the value.
std::string AttributesText(uint64_t attributes) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016" PRIX64, attributes);
  std::string names;
  const char* const bits[] = {"Required", "No block IO", "Legacy BIOS bootable"};
  for (unsigned b = 0; b < 3; ++b) {
    if ((attributes >> b & 1) == 0) continue;
    names += names.empty() ? " (" : ", ";
    names += bits[b];
  }
  return names.empty() ? text : text + names + ")";
}

std::string SignatureText(const GptCopy& copy) {
  return copy.header.signature ? "EFI PART" : "";
}

}  // namespace

DecodedView GptHeaderView(const GptCopy& copy) {
  DecodedView view;
  view.columns = {{"Field"}, {"Value"}};
  const GptHeader& h = copy.header;
  const bool read = copy.faults.empty() || copy.faults.front() != GptFault::Unreadable;
  if (read) {
    char revision[16];
    std::snprintf(revision, sizeof revision, "%u.%u", h.revision >> 16, h.revision & 0xFFFF);
    view.rows = {
        {"Signature", SignatureText(copy)},
        {"Revision", revision},
        {"Header Size", Number(h.headerSize)},
        {"Header CRC32", CrcText(h.headerCrc, h.computedHeaderCrc)},
        {"Header LBA", Number(h.myLba)},
        {"Other Header LBA", Number(h.alternateLba)},
        {"First Usable LBA", Number(h.firstUsableLba)},
        {"Last Usable LBA", Number(h.lastUsableLba)},
        {"Disk GUID", GuidText(h.diskGuid)},
        {"Partition Entries LBA", Number(h.entriesLba)},
        {"Number of Partition Entries", Number(h.entryCount)},
        {"Size of Partition Entry", Number(h.entrySize)},
        {"Partition Entries CRC32", CrcText(h.entriesCrc, copy.computedEntriesCrc)},
    };
  }
  for (const GptFault f : copy.faults) view.rows.push_back({"Problem", std::string(GptFaultText(f))});
  return view;
}

DecodedView GptEntriesView(const GptCopy& copy) {
  DecodedView view;
  view.columns = {{"Entry"},    {"Type"},    {"Type GUID"},  {"Unique GUID"}, {"First LBA"},
                  {"Last LBA"}, {"Sectors"}, {"Attributes"}, {"Name"},        {"Problem"}};
  for (const GptEntry& e : copy.entries) {
    std::string problem;
    for (const GptEntryFault f : e.faults) {
      if (!problem.empty()) problem += "; ";
      problem += f == GptEntryFault::Overlaps ? "Overlaps entry " + Number(e.overlapsWith)
                                              : std::string(GptEntryFaultText(f));
    }
    view.rows.push_back({Number(e.number), GptTypeLabel(e.type), GuidText(e.type), GuidText(e.unique),
                         Number(e.firstLba), Number(e.lastLba), Number(e.Sectors()),
                         AttributesText(e.attributes), e.name, problem});
  }
  return view;
}

DecodedView MbrEntriesView(std::span<const uint8_t> sector) {
  DecodedView view;
  view.columns = {{"Partition"}, {"Field"}, {"Value"}};
  if (sector.size() < PartitionEntryOffset(kPartitionEntries)) return view;
  for (unsigned p = 1; p <= kPartitionEntries; ++p) {
    const auto e = sector.subspan(PartitionEntryOffset(p - 1), kPartitionEntrySize);
    view.rows.push_back({Number(p), "Boot Indicator", le8(e, kPartBootFlag) == 0x80 ? "Bootable" : "Non-Bootable"});
    view.rows.push_back({"", "Cylinder", Number(le8(e, kPartStartCylinder))});
    view.rows.push_back({"", "Head", Number(le8(e, kPartStartHead))});
    // The whole byte: cylinder bits 8-9 stay in it.
    view.rows.push_back({"", "Sector", Number(le8(e, kPartStartSector))});
    view.rows.push_back({"", "System Indicator", Number(le8(e, kPartType))});
    view.rows.push_back({"", "Ending Cylinder", Number(le8(e, kPartEndCylinder))});
    view.rows.push_back({"", "Ending Head", Number(le8(e, kPartEndHead))});
    view.rows.push_back({"", "Ending Sector", Number(le8(e, kPartEndSector))});
    view.rows.push_back({"", "Number of Sectors", Number(le32(e, kPartSectors))});
    view.rows.push_back({"", "Relative Sectors", Number(le32(e, kPartStartLba))});
  }
  return view;
}

void FillPage(ViewPage& pane, DecodedView view) {
  pane.columns = std::move(view.columns);
  for (auto& texts : view.rows) pane.rows.push_back({pane.rows.size(), std::move(texts)});
}

namespace {

const GptCopy& ShownCopy(const GptTable& gpt) {
  const GptCopy* used = gpt.Used();
  return used != nullptr ? *used : gpt.primary;
}

}  // namespace

void ShowGptHeader(ViewContext& ctx, const DrivePacket& node) {
  ResetList(ctx);
  ctx.page.viewKind = ViewKind::None;
  const GptTable gpt = ReadDriveGpt(ctx.access, node.drive);
  DecodedView view = GptHeaderView(ShownCopy(gpt));
  const std::string note = GptSourceNote(gpt);
  if (!note.empty()) view.rows.insert(view.rows.begin(), {"Note", note});
  FillPage(ctx.page, std::move(view));
}

void ShowGptEntries(ViewContext& ctx, const DrivePacket& node) {
  ResetList(ctx);
  ctx.page.viewKind = ViewKind::None;
  const GptTable gpt = ReadDriveGpt(ctx.access, node.drive);
  FillPage(ctx.page, GptEntriesView(ShownCopy(gpt)));
}

// The decoded views of a GPT disk's structures, as plain rows of texts: the
// header of either copy, its entry array, and the protective MBR in front of
// them. They read nothing; the caller hands in what ReadGpt found and the
// sector it read.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "disk/gpt.h"
#include "views/view_context.h"
#include "views/view_page.h"

struct DecodedView {
  std::vector<ListColumn> columns;
  std::vector<std::vector<std::string>> rows;  // one text per column
};

// "Field" and "Value" rows of one header, its CRCs with what they should be
// when they are wrong, then one "Problem" row per fault found.
DecodedView GptHeaderView(const GptCopy& copy);

// One row per used entry: number, type name, type GUID, unique GUID, first
// and last LBA, sectors, attributes, name, and what is wrong with it.
DecodedView GptEntriesView(const GptCopy& copy);

// The four entries of an MBR in ten rows each, as the partition table view
// shows them ("Partition", "Field", "Value"): the protective or hybrid MBR of
// a GPT disk.
DecodedView MbrEntriesView(std::span<const uint8_t> sector);

// The pane's columns and rows become view's.
void FillPage(ViewPage& pane, DecodedView view);

// The views of a GPT disk's header and entry-array nodes: the copy in use
// (the primary when neither is), read afresh from the node's drive. The
// header view begins with a "Note" row when the backup is in use or neither
// copy is sound.
void ShowGptHeader(ViewContext& ctx, const DrivePacket& node);
void ShowGptEntries(ViewContext& ctx, const DrivePacket& node);

// The tree selection: shows a node in the page, decoded or as a dump, as
// its kind and the two dump modes choose.
#pragma once
#include "disk/discovery.h"
#include "disk/tree_sink.h"
#include "views/dump_modes.h"
#include "views/view_context.h"

// Resets the page's navigation, copies node into shownPacket and calls the
// view. Raw sector dumping wins over
// sector/cluster dumping; a raw dump runs from the node's first sector to the
// end of its volume (one sector for disks, partitions and volumes).
void ShowNode(ViewContext& ctx, const DrivePacket& node, DumpModes modes);

// The raw dump's extent: one sector for nodes that stand for a single sector
// (disks, partitions, volumes), else the rest of the volume from the node's
// first sector.
uint32_t RawDumpSectorCount(const DrivePacket& node);

// Expands node as the tree does: the node goes into shownPacket, then
// discovery makes its children within the page's budget.
[[nodiscard]] bool ExpandShownNode(ViewContext& ctx, DriveDiscovery& discovery, const DrivePacket& node,
                     TreeSink& sink);

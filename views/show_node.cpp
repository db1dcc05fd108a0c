#include "views/show_node.h"

#include <algorithm>
#include <vector>

#include "views/directory_views.h"
#include "views/fat_views.h"
#include "views/hex_dump.h"
#include "views/list_ops.h"
#include "views/partition_views.h"

namespace {

constexpr const char* kNodeBufferFailed = "Fatal Error!  Not able to allocate a buffer of memory!";
constexpr const char* kFatBufferFailed = "Fatal Error!  Not able to allocate a buffer!";

bool IsFolder(const DrivePacket& p) { return (p.attributes & 0x10) != 0; }

// Releases sectorBuffer and checks `sectors`, a count that comes from the
// disk: never more than the volume holds when its size is known, nor over the
// pane's limit. Every view takes its own memory once it trusts the count (a
// FAT claimed past the disk's end is refused on its last sector first);
// taken here, it would be held before that check, and twice while the view
// takes its own.
bool RetakeSectorBuffer(ListPaneState& pane, const DrivePacket& node, uint64_t sectors) {
  std::vector<uint8_t>().swap(pane.sectorBuffer);
  if (node.totalSectors != 0 && sectors > node.totalSectors) return false;
  return sectors * kSectorSize <= pane.budget.limit;
}

// Files and folders: their views load the first FAT copy into sectorBuffer.
bool PrepareClusterView(ViewContext& ctx, const DrivePacket& node) {
  if (!RetakeSectorBuffer(ctx.pane, node, node.sectorsPerFat)) {
    // Rows of the node shown before would pass for this one's.
    ctx.pane.rows.clear();
    ctx.pane.selectedRows.clear();
    ctx.pane.columns.clear();
    ctx.Prompt().Message(kFatBufferFailed);
    return false;
  }
  std::vector<DirectoryRow>().swap(ctx.pane.rowStore);
  return true;
}

}  // namespace

uint32_t RawDumpSectorCount(const DrivePacket& node) {
  if (node.kind == NodeKind::HardDisk || node.kind == NodeKind::Volume || node.kind == NodeKind::Extended) return 1;
  // A count that would wrap (a volume of unknown size, a node past its
  // volume's claimed end) is kept inside the 32-bit sector numbers.
  if (node.totalSectors == 0) return UINT32_MAX - node.startSector + (node.startSector != 0);
  if (node.totalSectors <= node.startSector) return 1;
  return node.totalSectors - node.startSector;
}

namespace {

void ShowStructure(ViewContext& ctx, const DrivePacket& node) {
  switch (node.kind) {
    case NodeKind::HardDisk:
    case NodeKind::Extended: ShowPartitionTable(ctx, node); break;
    case NodeKind::Volume:
    case NodeKind::Unknown: ShowBootRecord(ctx, node); break;
    case NodeKind::Fat16: ShowFat16Table(ctx, node); break;
    case NodeKind::Fat12: ShowFat12Table(ctx, node); break;
    case NodeKind::Fat32: ShowFat32Table(ctx, node); break;
    case NodeKind::RootDir:
      std::vector<DirectoryRow>().swap(ctx.pane.rowStore);
      ShowRootDirectory(ctx, node);
      break;
    case NodeKind::DirEntry:
      if (!PrepareClusterView(ctx, node)) return;
      if (IsFolder(node))
        ShowSubDirectory(ctx, node);
      else
        ShowFileClusterDump(ctx, node);
      break;
    default: break;
  }
}

void ShowSectorOrClusterDump(ViewContext& ctx, const DrivePacket& node) {
  switch (node.kind) {
    case NodeKind::DirEntry:
      if (!PrepareClusterView(ctx, node)) return;
      if (IsFolder(node))
        ShowFolderClusterDump(ctx, node);
      else
        ShowFileClusterDump(ctx, node);
      break;
    default: ShowSectorDump(ctx, node); break;
  }
}

}  // namespace

void ShowNode(ViewContext& ctx, const DrivePacket& node, DumpModes modes) {
  ListPaneState& pane = ctx.pane;
  pane.viewKind = ViewKind::None;
  pane.fileDumpShown = false;
  ctx.Prompt().SetStatus(0, "");
  // The sector pane names the sector of what is on show: the view that reads
  // one says which, every other leaves it empty, never the last node's.
  ctx.Prompt().SetStatus(1, "");
  pane.pageIndex = 0;
  pane.shownPacket = node;
  pane.selectedPacket = node;
  // Cleared before anything can fail: the old page's flags would let
  // Previous and Next page through this node with the old chain.
  pane.canGoPrevious = false;
  pane.canGoNext = false;
  pane.unreadableSectors.clear();
  // The raw dump holds one sector a page, whatever size the node claims (a
  // damaged boot record's FAT of 65535 sectors must not keep it from showing).
  if (!modes.rawDump && node.sectorCount != 0 &&
      !RetakeSectorBuffer(pane, node, node.sectorCount)) {
    // Rows of the node shown before would pass for this one's.
    pane.rows.clear();
    pane.selectedRows.clear();
    pane.columns.clear();
    ctx.Prompt().Message(kNodeBufferFailed);
    return;
  }

  if (modes.rawDump) {
    DrivePacket whole = node;
    whole.sectorCount = RawDumpSectorCount(node);
    ShowSectorDump(ctx, whole);
  } else if (modes.sectorDump) {
    ShowSectorOrClusterDump(ctx, node);
  } else {
    ShowStructure(ctx, node);
  }
  ctx.Prompt().SetStatus(0, "");
}

bool ExpandShownNode(ViewContext& ctx, DriveDiscovery& discovery, const DrivePacket& node,
                     TreeSink& sink) {
  ctx.pane.shownPacket = node;
  ctx.pane.selectedPacket = node;
  return discovery.ExpandNode(ctx.access, ctx.pane.budget, node, sink);
}

#include "views/show_node.h"

#include <algorithm>
#include <vector>

#include "views/directory_views.h"
#include "views/exfat_views.h"
#include "views/fat_views.h"
#include "views/gpt_views.h"
#include "views/hex_dump.h"
#include "views/list_ops.h"
#include "views/partition_views.h"

namespace {

constexpr const char* kNodeBufferFailed = "Fatal Error!  Not able to allocate a buffer of memory!";

bool IsFolder(const DrivePacket& p) { return (p.attributes & 0x10) != 0; }

bool IsFatCopy(const DrivePacket& p) {
  return p.kind == NodeKind::Fat12 || p.kind == NodeKind::Fat16 || p.kind == NodeKind::Fat32;
}

// Releases sectorBuffer and checks the node's extent, a count that comes from
// the disk: never more than the volume holds when its size is known, and the
// part of it a view holds at once not over the page's limit. A FAT copy is
// held one page at a time, however large the volume. Every view takes its own
// memory once it trusts the count (a FAT claimed past the disk's end is
// refused on its last sector first); taken here, it would be held before that
// check, and twice while the view takes its own.
bool RetakeSectorBuffer(ViewPage& page, const DrivePacket& node) {
  std::vector<uint8_t>().swap(page.sectorBuffer);
  const uint64_t sectors = node.sectorCount;
  if (node.totalSectors != 0 && sectors > node.totalSectors) return false;
  // exFAT nodes are shown a page or a sector at a time, whatever their size.
  const uint64_t held = IsFatCopy(node) || IsExfatKind(node.kind) ? std::min<uint64_t>(sectors, kFatPageSectors)
                                                                   : sectors;
  return held * kSectorSize <= page.budget.limit;
}

// Files and folders read their chains' FAT sectors through the cache, one at
// a time, and take only the buffers their views hold (a cluster, a folder's
// image), each checked where it is taken.
void PrepareClusterView(ViewContext& ctx) {
  std::vector<uint8_t>().swap(ctx.page.sectorBuffer);
  std::vector<DirectoryRow>().swap(ctx.page.rowStore);
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
    case NodeKind::GptHeader: ShowGptHeader(ctx, node); break;
    case NodeKind::GptEntries: ShowGptEntries(ctx, node); break;
    case NodeKind::Fat16: ShowFat16Table(ctx, node); break;
    case NodeKind::Fat12: ShowFat12Table(ctx, node); break;
    case NodeKind::Fat32: ShowFat32Table(ctx, node); break;
    case NodeKind::RootDir:
      std::vector<DirectoryRow>().swap(ctx.page.rowStore);
      ShowRootDirectory(ctx, node);
      break;
    case NodeKind::DirEntry:
      PrepareClusterView(ctx);
      if (IsFolder(node))
        ShowSubDirectory(ctx, node);
      else
        ShowFileClusterDump(ctx, node);
      break;
    default:
      if (IsExfatKind(node.kind)) ShowExfatNode(ctx, node);
      break;
  }
}

void ShowSectorOrClusterDump(ViewContext& ctx, const DrivePacket& node) {
  switch (node.kind) {
    case NodeKind::DirEntry:
      PrepareClusterView(ctx);
      if (IsFolder(node))
        ShowFolderClusterDump(ctx, node);
      else
        ShowFileClusterDump(ctx, node);
      break;
    default:
      // An exFAT file or folder without clusters has no sectors to dump;
      // its extent would name the volume's boot sector.
      if (IsExfatKind(node.kind) && node.kind != NodeKind::ExfatVolume && node.sectorCount == 0) {
        ResetList(ctx);
        break;
      }
      ShowSectorDump(ctx, node);
      break;
  }
}

}  // namespace

void ShowNode(ViewContext& ctx, const DrivePacket& node, DumpModes modes) {
  ViewPage& page = ctx.page;
  page.viewKind = ViewKind::None;
  page.fileDumpShown = false;
  ctx.Prompt().SetStatus(0, "");
  // The sector pane names the sector of what is on show: the view that reads
  // one says which, every other leaves it empty, never the last node's.
  ctx.Prompt().SetStatus(1, "");
  page.pageIndex = 0;
  page.shownPacket = node;
  // Cleared before anything can fail: the old page's flags would let
  // Previous and Next page through this node with the old chain.
  page.canGoPrevious = false;
  page.canGoNext = false;
  page.unreadableSectors.clear();
  // The raw dump holds one sector a page, whatever size the node claims (a
  // damaged boot record's FAT of 65535 sectors must not keep it from showing).
  if (!modes.rawDump && node.sectorCount != 0 &&
      !RetakeSectorBuffer(page, node)) {
    // Rows of the node shown before would pass for this one's.
    page.rows.clear();
    ++page.rowsGeneration;
    page.columns.clear();
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
  ctx.page.shownPacket = node;
  return discovery.ExpandNode(ctx.access, ctx.page.budget, node, sink);
}

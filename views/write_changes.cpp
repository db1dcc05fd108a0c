#include "views/write_changes.h"

#include "disk/sector_access.h"
#include "views/editor_page.h"
#include "views/list_ops.h"

namespace {

bool WriteClusterPage(ViewContext& ctx) {
  ViewPage& pane = ctx.page;
  uint32_t first = 0;
  if (!ClusterPageSector(pane, pane.pageIndex, first)) return false;
  if (pane.sectorBuffer.size() < uint64_t{pane.sectorsPerPage} * kSectorSize) return false;
  DrivePacket copy = pane.shownPacket;
  copy.startSector = first;
  copy.sectorCount = pane.sectorsPerPage;
  return WriteSectors(ctx.access, copy, pane.sectorBuffer.data());
}

bool WriteSectorPage(ViewContext& ctx) {
  ViewPage& pane = ctx.page;
  uint32_t sector = 0;
  if (!SectorPageSector(pane.shownPacket, pane.pageIndex, sector)) return false;
  if (pane.sectorBuffer.size() < kSectorSize) return false;
  DrivePacket copy = pane.shownPacket;
  copy.startSector = sector;
  copy.sectorCount = 1;
  return WriteSectors(ctx.access, copy, pane.sectorBuffer.data());
}

}  // namespace

bool WriteChanges(ViewContext& ctx, DumpModes modes) {
  ViewPage& pane = ctx.page;
  EnterRawKind(pane, modes);
  if (!ctx.Prompt().AskYesNo(kWriteQuestion, {}, PromptIcon::Question)) return false;
  bool written;
  // A page with a sector that did not read holds filler there, not the
  // disk's bytes: writing it would put the filler over the real sector.
  const bool whole = !PageHasUnreadableSector(pane);
  switch (ShownPageKind(pane)) {
    case PageKind::Cluster:
      written = whole && WriteClusterPage(ctx);
      if (!written) ctx.Prompt().Message(kEditorClusterNotAccessible);
      break;
    case PageKind::Sector: {
      // A sector dump lists no rows when its sector could not be read: the
      // buffer then holds no bytes of that sector, only zeros or a fragment,
      // and nobody has seen them.
      const bool onShow = !pane.rows.empty() && whole;
      if (pane.shownPacket.startSector == 0) {
        // The node's own sector (a boot record, a partition table), read at
        // the node's address; it is the item's only sector, so the page is 0.
        written = onShow && pane.sectorBuffer.size() >= kSectorSize &&
                  WriteNodeSectors(ctx.access, pane.shownPacket, 0,
                                   std::span<const uint8_t>(pane.sectorBuffer).first(kSectorSize));
        if (!written) ctx.Prompt().Message(kCriticalSectorNotAccessible);
      } else {
        written = onShow && WriteSectorPage(ctx);
        if (!written) ctx.Prompt().Message(kEditorSectorNotAccessible);
      }
      break;
    }
    default:
      return false;  // decoded views are never written
  }
  ctx.Prompt().SetStatus(0, "");  // the transfer's "Wait...." is over
  if (written) ctx.Prompt().Message(kWriteDone);
  return written;
}

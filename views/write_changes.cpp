#include "views/write_changes.h"

#include "disk/sector_access.h"
#include "views/editor_page.h"
#include "views/list_ops.h"

namespace {

bool WriteClusterPage(ViewContext& ctx) {
  ViewPage& page = ctx.page;
  uint32_t first = 0;
  if (!ClusterPageSector(page, page.pageIndex, first)) return false;
  if (page.sectorBuffer.size() < uint64_t{page.sectorsPerPage} * kSectorSize) return false;
  DrivePacket copy = page.shownPacket;
  copy.startSector = first;
  copy.sectorCount = page.sectorsPerPage;
  return WriteSectors(ctx.access, copy, page.sectorBuffer.data());
}

bool WriteSectorPage(ViewContext& ctx) {
  ViewPage& page = ctx.page;
  uint32_t sector = 0;
  if (!SectorPageSector(page.shownPacket, page.pageIndex, sector)) return false;
  if (page.sectorBuffer.size() < kSectorSize) return false;
  DrivePacket copy = page.shownPacket;
  copy.startSector = sector;
  copy.sectorCount = 1;
  return WriteSectors(ctx.access, copy, page.sectorBuffer.data());
}

}  // namespace

bool WriteChanges(ViewContext& ctx, DumpModes modes) {
  ViewPage& page = ctx.page;
  EnterRawKind(page, modes);
  // Refused before the question, and said every time.
  if (ctx.access.WritesRefused()) {
    ctx.Prompt().Message(kDrivesReadOnly);
    return false;
  }
  if (!ctx.Prompt().AskYesNo(kWriteQuestion, {}, PromptIcon::Question)) return false;
  bool written;
  // A page with a sector that did not read holds filler there, not the
  // disk's bytes: writing it would put the filler over the real sector.
  const bool whole = !PageHasUnreadableSector(page);
  switch (ShownPageKind(page)) {
    case PageKind::Cluster:
      written = whole && WriteClusterPage(ctx);
      if (!written) ctx.Prompt().Message(kEditorClusterNotAccessible);
      break;
    case PageKind::Sector: {
      // A sector dump lists no rows when its sector could not be read: the
      // buffer then holds no bytes of that sector, only zeros or a fragment,
      // and nobody has seen them.
      const bool onShow = !page.rows.empty() && whole;
      if (page.shownPacket.startSector == 0) {
        // The node's own sector (a boot record, a partition table), read at
        // the node's address; it is the item's only sector, so the page is 0.
        written = onShow && page.sectorBuffer.size() >= kSectorSize &&
                  WriteNodeSectors(ctx.access, page.shownPacket, 0,
                                   std::span<const uint8_t>(page.sectorBuffer).first(kSectorSize));
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
  if (written) ctx.Prompt().Message(kWriteDone, {}, PromptIcon::Information);
  return written;
}

#include "views/hex_dump.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <span>
#include <vector>

#include "disk/cluster_place.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/sector_access.h"
#include "views/list_ops.h"

namespace {

constexpr const char* kSectorBufferFailed = "Fatal Error! Not able to allocate a buffer!";
constexpr const char* kFileBufferFailed = "Fatal Error!  Not able to allocate a Buffer!";
constexpr const char* kFolderBufferFailed = "Fatal Error!  Not able to allocate a buffer!";
constexpr const char* kChainBufferFailed =
    "Fatal Error!  Not able to allocate a buffer for FAT Entries!";
constexpr const char* kFatNotAccessible = "FAT not accessible!";
constexpr const char* kClusterNotAccessible = "Cluster not accessible!";

void ReleaseChain(ViewPage& page) {
  std::vector<uint32_t>().swap(page.clusterChain);
  page.chainLength = 0;
}

// Lists the item's cluster chain into page.clusterChain, reading its FAT
// sectors through the cache (FAT 2's where FAT 1's cannot be read). False
// when the dump stops here; the reason has been shown, except for an empty
// chain (an empty file), which stops silently.
bool LoadClusterChain(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  // No memory for the FAT is told as the FAT not being accessible.
  FatReader fat(ctx.access, page.budget, packet);
  const uint32_t length = ChainLength(packet.firstCluster, fat);
  if (fat.Status() != FatCopyLoad::Loaded) {
    ctx.Prompt().Message(kFatNotAccessible);
    return false;
  }
  if (length == 0) return false;
  std::vector<uint32_t> chain;
  if (!TakeClusterList(page.budget, chain, length)) {
    ctx.Prompt().Message(kChainBufferFailed);
    return false;
  }
  ListChain(packet.firstCluster, chain, length, fat);
  page.clusterChain = std::move(chain);
  page.chainLength = length;
  return true;
}

// Steps shared by both cluster dumps once the chain is listed: the page
// buffer and the first cluster. False when the buffer cannot be taken.
bool LoadFirstCluster(ViewContext& ctx, const DrivePacket& packet, const char* bufferMessage) {
  ViewPage& page = ctx.page;
  page.sectorsPerPage = packet.sectorsPerCluster;
  page.pageIndex = 0;
  std::vector<uint8_t>().swap(page.sectorBuffer);  // the FAT goes before the page comes
  if (!DiskSizeFits(page, packet, packet.sectorsPerCluster) ||
      !TakeBuffer(page.budget, page.sectorBuffer, uint64_t{packet.sectorsPerCluster} * kSectorSize)) {
    ctx.Prompt().Message(bufferMessage);
    ReleaseChain(page);
    return false;
  }
  page.viewKind = ViewKind::ClusterDump;
  if (!ReadClusterPage(ctx, packet, page.clusterChain[0]))
    ctx.Prompt().Message(kClusterNotAccessible);
  return true;
}

void ListClusterPage(ViewContext& ctx) {
  ViewPage& page = ctx.page;
  AddCallbackRows(page, uint64_t{page.sectorsPerPage} * kDumpRowsPerSector);
  ctx.Prompt().SetStatus(0, "");
  page.canGoPrevious = false;
  page.canGoNext = page.chainLength != 1;
}

// Reads a page's sectors, from sector `first` of the node's extent, into
// buffer. A failed transfer is gone over one sector at a time (the library
// path reads nothing after a failed chunk), so that every sector that reads is
// shown and only the others are marked.
bool ReadPageSectors(ViewContext& ctx, const DrivePacket& node, uint32_t first, uint32_t count,
                     uint8_t* buffer) {
  ViewPage& page = ctx.page;
  page.unreadableSectors.assign(count, 0);
  if (ReadNodeSectors(ctx.access, node, first,
                      std::span<uint8_t>(buffer, uint64_t{count} * kSectorSize)))
    return true;
  for (uint32_t i = 0; i < count; ++i) {
    const std::span<uint8_t> one(buffer + uint64_t{i} * kSectorSize, kSectorSize);
    if (!ReadNodeSectors(ctx.access, node, first + i, one)) {
      std::fill(one.begin(), one.end(), uint8_t{0});
      page.unreadableSectors[i] = 1;
    }
  }
  return false;
}

}  // namespace

bool ReadClusterPage(ViewContext& ctx, const DrivePacket& packet, uint32_t cluster) {
  ViewPage& page = ctx.page;
  const uint32_t sectors = page.sectorsPerPage;
  const uint64_t first = ClusterFirstSector(packet, cluster, sectors);
  // A chain that points outside the data area (a damaged FAT) is not read.
  bool read = false;
  if (ClusterInsideVolume(packet, cluster, sectors) &&
      page.sectorBuffer.size() >= uint64_t{sectors} * kSectorSize) {
    // Counted from the node's own startSector, the volume's first data sector.
    read = ReadPageSectors(ctx, packet, static_cast<uint32_t>(first - packet.startSector), sectors,
                           page.sectorBuffer.data());
  } else {
    page.unreadableSectors.assign(sectors, 1);
  }
  char status[96];
  std::snprintf(status, sizeof status,
                "Current Cluster Number: 0x%08X, Current Sector Number: %" PRIu64, cluster, first);
  ctx.Prompt().SetStatus(1, status);
  return read;
}

void ShowSectorDump(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  ResetList(ctx);
  AddHexColumns(page);
  page.viewKind = ViewKind::None;
  page.sectorsPerPage = 1;
  if (!TakeBuffer(page.budget, page.sectorBuffer, kSectorSize)) {
    ctx.Prompt().Message(kSectorBufferFailed);
    ReleaseChain(page);
    return;
  }
  page.viewKind = ViewKind::SectorDump;
  // Every dump starts at the extent's first sector, whoever calls it.
  page.pageIndex = 0;
  if (!ReadDumpSector(ctx, packet)) {
    // It has said so and lists no rows; Next still steps past the sector.
  }
  page.pageIndex = 0;
  page.canGoPrevious = false;
  page.canGoNext = packet.sectorCount > 1;
  page.shownPacket = packet;
}

bool ReadDumpSector(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  page.rows.clear();
  ++page.rowsGeneration;
  if (page.sectorBuffer.size() < kSectorSize) page.sectorBuffer.resize(kSectorSize, 0);
  const std::span<uint8_t> sector = std::span<uint8_t>(page.sectorBuffer).first(kSectorSize);
  // An item's sectors count from its startSector; a disk, partition or volume
  // node (startSector 0) has its own sector only.
  const uint32_t index = packet.startSector != 0 ? page.pageIndex : 0;
  // Marked until the sector has read: its bytes are no data before then.
  page.unreadableSectors.assign(1, 1);
  if (!ReadNodeSectors(ctx.access, packet, index, sector)) {
    ctx.Prompt().Message(ctx.access.UnreadableText(
        packet.startSector != 0 ? UnreadablePlace::ItemSector : UnreadablePlace::OwnSector));
    return false;
  }
  page.unreadableSectors[0] = 0;
  DrivePacket copy = packet;
  copy.startSector = static_cast<uint32_t>(packet.startSector + uint64_t{index});
  AddCallbackRows(page, kDumpRowsPerSector);
  char status[48];
  std::snprintf(status, sizeof status, "Current Sector Number: %" PRIu32, copy.startSector);
  ctx.Prompt().SetStatus(1, status);
  return true;
}

void ShowFileClusterDump(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  page.viewKind = ViewKind::None;
  ctx.Prompt().SetStatus(0, kWaitText);
  ResetList(ctx);
  page.fileDumpShown = true;
  AddHexColumns(page);
  page.shownPacket = packet;
  if (!LoadClusterChain(ctx, packet)) return;
  if (!LoadFirstCluster(ctx, packet, kFileBufferFailed)) return;
  ListClusterPage(ctx);
}

void ShowFolderClusterDump(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& page = ctx.page;
  page.viewKind = ViewKind::None;
  // Emptied first, so that a dump that stops early never leaves the rows of
  // the item shown before under this folder.
  ResetList(ctx);
  if (!LoadClusterChain(ctx, packet)) return;
  if (!LoadFirstCluster(ctx, packet, kFolderBufferFailed)) return;
  AddHexColumns(page);
  ListClusterPage(ctx);
}

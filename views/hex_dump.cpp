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

void ReleaseChain(ViewPage& pane) {
  std::vector<uint32_t>().swap(pane.clusterChain);
  pane.chainLength = 0;
}

// Lists the item's cluster chain into pane.clusterChain, reading its FAT
// sectors through the cache (FAT 2's where FAT 1's cannot be read). False
// when the dump stops here; the reason has been shown, except for an empty
// chain (an empty file), which stops silently.
bool LoadClusterChain(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  // No memory for the FAT is told as the FAT not being accessible.
  FatReader fat(ctx.access, pane.budget, packet);
  const uint32_t length = ChainLength(packet.firstCluster, fat);
  if (fat.Status() != FatCopyLoad::Loaded) {
    ctx.Prompt().Message(kFatNotAccessible);
    return false;
  }
  if (length == 0) return false;
  std::vector<uint32_t> chain;
  if (!TakeClusterList(pane.budget, chain, length)) {
    ctx.Prompt().Message(kChainBufferFailed);
    return false;
  }
  ListChain(packet.firstCluster, chain, length, fat);
  pane.clusterChain = std::move(chain);
  pane.chainLength = length;
  return true;
}

// Steps shared by both cluster dumps once the chain is listed: the page
// buffer and the first cluster. False when the buffer cannot be taken.
bool LoadFirstCluster(ViewContext& ctx, const DrivePacket& packet, const char* bufferMessage) {
  ViewPage& pane = ctx.page;
  pane.sectorsPerPage = packet.sectorsPerCluster;
  pane.pageIndex = 0;
  std::vector<uint8_t>().swap(pane.sectorBuffer);  // the FAT goes before the page comes
  if (!DiskSizeFits(pane, packet, packet.sectorsPerCluster) ||
      !TakeBuffer(pane.budget, pane.sectorBuffer, uint64_t{packet.sectorsPerCluster} * kSectorSize)) {
    ctx.Prompt().Message(bufferMessage);
    ReleaseChain(pane);
    return false;
  }
  pane.viewKind = ViewKind::ClusterDump;
  if (!ReadClusterPage(ctx, packet, pane.clusterChain[0]))
    ctx.Prompt().Message(kClusterNotAccessible);
  return true;
}

void ListClusterPage(ViewContext& ctx) {
  ViewPage& pane = ctx.page;
  AddCallbackRows(pane, uint64_t{pane.sectorsPerPage} * kDumpRowsPerSector);
  ctx.Prompt().SetStatus(0, "");
  pane.canGoPrevious = false;
  pane.canGoNext = pane.chainLength != 1;
}

// Reads a page's sectors, from sector `first` of the node's extent, into
// buffer. A failed transfer is gone over one sector at a time (the library
// path reads nothing after a failed chunk), so that every sector that reads is
// shown and only the others are marked.
bool ReadPageSectors(ViewContext& ctx, const DrivePacket& node, uint32_t first, uint32_t count,
                     uint8_t* buffer) {
  ViewPage& pane = ctx.page;
  pane.unreadableSectors.assign(count, 0);
  if (ReadNodeSectors(ctx.access, node, first,
                      std::span<uint8_t>(buffer, uint64_t{count} * kSectorSize)))
    return true;
  for (uint32_t i = 0; i < count; ++i) {
    const std::span<uint8_t> one(buffer + uint64_t{i} * kSectorSize, kSectorSize);
    if (!ReadNodeSectors(ctx.access, node, first + i, one)) {
      std::fill(one.begin(), one.end(), uint8_t{0});
      pane.unreadableSectors[i] = 1;
    }
  }
  return false;
}

}  // namespace

bool ReadClusterPage(ViewContext& ctx, const DrivePacket& packet, uint32_t cluster) {
  ViewPage& pane = ctx.page;
  const uint32_t sectors = pane.sectorsPerPage;
  const uint64_t first = ClusterFirstSector(packet, cluster, sectors);
  // A chain that points outside the data area (a damaged FAT) is not read.
  bool read = false;
  if (ClusterInsideVolume(packet, cluster, sectors) &&
      pane.sectorBuffer.size() >= uint64_t{sectors} * kSectorSize) {
    // Counted from the node's own startSector, the volume's first data sector.
    read = ReadPageSectors(ctx, packet, static_cast<uint32_t>(first - packet.startSector), sectors,
                           pane.sectorBuffer.data());
  } else {
    pane.unreadableSectors.assign(sectors, 1);
  }
  char status[96];
  std::snprintf(status, sizeof status,
                "Current Cluster Number: 0x%08X, Current Sector Number: %" PRIu64, cluster, first);
  ctx.Prompt().SetStatus(1, status);
  return read;
}

void ShowSectorDump(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  ResetList(ctx);
  AddHexColumns(pane, kDumpOffsetWidth);
  pane.viewKind = ViewKind::None;
  pane.sectorsPerPage = 1;
  if (!TakeBuffer(pane.budget, pane.sectorBuffer, kSectorSize)) {
    ctx.Prompt().Message(kSectorBufferFailed);
    ReleaseChain(pane);
    return;
  }
  pane.viewKind = ViewKind::SectorDump;
  // Every dump starts at the extent's first sector, whoever calls it.
  pane.pageIndex = 0;
  if (!ReadDumpSector(ctx, packet)) {
    // It has said so and lists no rows; Next still steps past the sector.
  }
  pane.pageIndex = 0;
  pane.canGoPrevious = false;
  pane.canGoNext = packet.sectorCount > 1;
  pane.shownPacket = packet;
}

bool ReadDumpSector(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  pane.rows.clear();
  ++pane.rowsGeneration;
  if (pane.sectorBuffer.size() < kSectorSize) pane.sectorBuffer.resize(kSectorSize, 0);
  const std::span<uint8_t> page = std::span<uint8_t>(pane.sectorBuffer).first(kSectorSize);
  // An item's sectors count from its startSector; a disk, partition or volume
  // node (startSector 0) has its own sector only.
  const uint32_t index = packet.startSector != 0 ? pane.pageIndex : 0;
  // Marked until the sector has read: its bytes are no data before then.
  pane.unreadableSectors.assign(1, 1);
  if (!ReadNodeSectors(ctx.access, packet, index, page)) {
    ctx.Prompt().Message(ctx.access.UnreadableText(
        packet.startSector != 0 ? UnreadablePlace::ItemSector : UnreadablePlace::OwnSector));
    return false;
  }
  pane.unreadableSectors[0] = 0;
  DrivePacket copy = packet;
  copy.startSector = static_cast<uint32_t>(packet.startSector + uint64_t{index});
  AddCallbackRows(pane, kDumpRowsPerSector);
  char status[48];
  std::snprintf(status, sizeof status, "Current Sector Number: %" PRIu32, copy.startSector);
  ctx.Prompt().SetStatus(1, status);
  return true;
}

void ShowFileClusterDump(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  pane.viewKind = ViewKind::None;
  ctx.Prompt().SetStatus(0, kWaitText);
  ResetList(ctx);
  pane.fileDumpShown = true;
  AddHexColumns(pane, kFileDumpOffsetWidth);
  pane.shownPacket = packet;
  if (!LoadClusterChain(ctx, packet)) return;
  if (!LoadFirstCluster(ctx, packet, kFileBufferFailed)) return;
  ListClusterPage(ctx);
}

void ShowFolderClusterDump(ViewContext& ctx, const DrivePacket& packet) {
  ViewPage& pane = ctx.page;
  pane.viewKind = ViewKind::None;
  // Emptied first, so that a dump that stops early never leaves the rows of
  // the item shown before under this folder.
  ResetList(ctx);
  if (!LoadClusterChain(ctx, packet)) return;
  if (!LoadFirstCluster(ctx, packet, kFolderBufferFailed)) return;
  AddHexColumns(pane, kDumpOffsetWidth);
  ListClusterPage(ctx);
}

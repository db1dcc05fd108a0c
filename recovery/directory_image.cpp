#include "recovery/directory_image.h"

#include <algorithm>
#include <vector>

#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/sector_access.h"
#include "recovery/fat_image.h"
#include "disk/dir_entry.h"
#include "views/directory_views.h"
#include "views/list_ops.h"

namespace {

void ReleaseDirectory(ListPaneState& pane) {
  std::vector<uint8_t>().swap(pane.sectorBuffer);
  std::vector<uint32_t>().swap(pane.clusterChain);
  pane.chainLength = 0;
}

DirectoryLoad LoadRoot(ViewContext& ctx, const DrivePacket& node) {
  ListPaneState& pane = ctx.pane;
  DrivePacket extent = node;
  extent.sectorCount = ListedRootSectors(node);
  if (!TakeBuffer(pane.budget, pane.sectorBuffer, uint64_t{extent.sectorCount} * kSectorSize)) {
    ctx.Prompt().Message(kRootDirNoBuffer);
    return DirectoryLoad::NoMemory;
  }
  bool complete = extent.sectorCount == node.sectorCount;
  if (extent.sectorCount != 0 && !ReadSectors(ctx.access, extent, pane.sectorBuffer.data()))
    complete = false;
  if (!complete) ctx.Prompt().Message(kRootDirNotAccessible);
  return DirectoryLoad::Loaded;
}

DirectoryLoad LoadFolder(ViewContext& ctx, const DrivePacket& node, std::span<const uint8_t> fat) {
  ListPaneState& pane = ctx.pane;
  const uint32_t length = ChainLength(node.firstCluster, node.fatType, fat);
  if (length == 0 || node.sectorsPerCluster == 0) return DirectoryLoad::NoChain;
  const uint64_t clusterBytes = uint64_t{node.sectorsPerCluster} * kSectorSize;
  uint32_t count = FolderClusterLimit(node, length);
  bool complete = count == length;

  // The cluster list first, as the listing takes it.
  if (!TakeClusterList(pane.budget, pane.clusterChain, count)) {
    ReleaseDirectory(pane);
    ctx.Prompt().Message(kFatEntriesNoBuffer);
    return DirectoryLoad::NoMemory;
  }
  if (!TakeBuffer(pane.budget, pane.sectorBuffer, count * clusterBytes)) {
    ReleaseDirectory(pane);
    ctx.Prompt().Message(kRecoveryNoBuffer);
    return DirectoryLoad::NoMemory;
  }
  ListChain(node.firstCluster, node.fatType, pane.clusterChain, count, fat);
  const uint32_t inside = ClustersInsideVolume(node, pane.clusterChain);
  if (inside != count) {
    count = inside;
    complete = false;
    pane.clusterChain.resize(count);
    pane.sectorBuffer.resize(count * clusterBytes);
  }
  pane.chainLength = count;
  // Cluster by cluster, as the listing reads them: one unreadable cluster
  // does not keep the entries of those after it from their rows.
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadClusters(ctx.access, std::span<const uint32_t>(pane.clusterChain).subspan(i, 1), node,
                      1, pane.sectorBuffer.data() + i * clusterBytes))
      complete = false;
  }
  if (!complete) ctx.Prompt().Message(kSubDirNotLoaded);
  return DirectoryLoad::Loaded;
}

}  // namespace

std::optional<ListedDirectory> DirectoryOnShow(const ListPaneState& pane) {
  const DrivePacket& node = pane.selectedPacket;
  if (pane.viewKind == ViewKind::RootDirectory && node.kind == KindRootDir)
    return ListedDirectory{node, true};
  if (pane.viewKind == ViewKind::SubDirectory && node.kind == KindDirEntry &&
      (node.attributes & kAttrFolder) != 0)
    return ListedDirectory{node, false};
  return std::nullopt;
}

const DirectoryRow* RowRecord(const ListPaneState& pane, size_t row) {
  if (row >= pane.rows.size()) return nullptr;
  const uint64_t index = pane.rows[row].value;
  return index < pane.rowStore.size() ? &pane.rowStore[index] : nullptr;
}

DirectoryLoad LoadDirectoryImage(ViewContext& ctx, const ListedDirectory& dir,
                                 std::span<const uint8_t> fat) {
  ReleaseDirectory(ctx.pane);
  return dir.root ? LoadRoot(ctx, dir.node) : LoadFolder(ctx, dir.node, fat);
}

std::optional<size_t> RowEntryOffset(const ListPaneState& pane, const ListedDirectory& dir,
                                     size_t row) {
  const DirectoryRow* record = RowRecord(pane, row);
  if (record == nullptr) return std::nullopt;
  const std::span<const uint8_t> image(pane.sectorBuffer);
  const std::optional<size_t> offset = ListedEntryOffset(image, row, !dir.root);
  if (!offset) return std::nullopt;
  // A sector that could not be read holds nothing but the 0xE5 fill, which
  // the listing shows as deleted rows; written back it would replace the
  // disk's own bytes.
  const size_t first = *offset / kSectorSize * kSectorSize;
  const auto sector = image.subspan(first, std::min<size_t>(kSectorSize, image.size() - first));
  if (std::all_of(sector.begin(), sector.end(), [](uint8_t b) { return b == 0xE5; }))
    return std::nullopt;
  const std::span<const uint8_t> entry = image.subspan(*offset, kDirEntrySize);
  if (le8(entry, kDirAttributes) != record->attributes ||
      DirEntryFirstCluster(entry, dir.node.fatType) != record->firstCluster ||
      le32(entry, kDirSize) != record->size)
    return std::nullopt;
  return offset;
}

bool WriteEntrySector(ViewContext& ctx, const ListedDirectory& dir, size_t offset) {
  const ListPaneState& pane = ctx.pane;
  const size_t sectorOffset = offset / kSectorSize * kSectorSize;
  DrivePacket one = dir.node;
  one.sectorCount = 1;
  uint64_t sector = 0;
  bool placed = sectorOffset + kSectorSize <= pane.sectorBuffer.size();
  if (dir.root) {
    sector = dir.node.startSector + uint64_t{offset / kSectorSize};
  } else {
    const uint64_t clusterBytes = uint64_t{dir.node.sectorsPerCluster} * kSectorSize;
    const uint64_t index = clusterBytes == 0 ? UINT64_MAX : offset / clusterBytes;
    placed = placed && index < pane.clusterChain.size() && pane.clusterChain[index] >= 2;
    if (placed)
      sector = dir.node.startSector +
               uint64_t{pane.clusterChain[index] - 2} * dir.node.sectorsPerCluster +
               (offset % clusterBytes) / kSectorSize;
  }
  placed = placed && sector <= UINT32_MAX;
  one.startSector = static_cast<uint32_t>(sector);
  if (placed && WriteSectors(ctx.access, one, pane.sectorBuffer.data() + sectorOffset)) return true;
  ctx.Prompt().Message(dir.root ? kRootDirNotAccessible : kSubDirNotWritten);
  return false;
}

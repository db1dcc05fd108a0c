#include "recovery/directory_image.h"

#include <algorithm>
#include <utility>

#include "disk/dir_entry.h"
#include "disk/sector_access.h"
#include "disk/fat_copy.h"
#include "recovery/fat_image.h"

std::optional<ListedDirectory> DirectoryOnShow(const ViewPage& pane, const DrivePacket& node) {
  if (pane.viewKind == ViewKind::RootDirectory && node.kind == NodeKind::RootDir)
    return ListedDirectory{node, true};
  if (pane.viewKind == ViewKind::SubDirectory && node.kind == NodeKind::DirEntry &&
      (node.attributes & kAttrFolder) != 0)
    return ListedDirectory{node, false};
  return std::nullopt;
}

const DirectoryRow* RowRecord(const ViewPage& pane, size_t row) {
  if (row >= pane.rows.size()) return nullptr;
  const uint64_t index = pane.rows[row].value;
  return index < pane.rowStore.size() ? &pane.rowStore[index] : nullptr;
}

std::vector<ListedRow> SelectedListedRows(const ViewPage& pane, std::span<const int> selected) {
  std::vector<int> rows(selected.begin(), selected.end());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::vector<ListedRow> listed;
  for (const int row : rows) {
    if (row < 0) continue;
    if (const DirectoryRow* record = RowRecord(pane, static_cast<size_t>(row)))
      listed.push_back({static_cast<size_t>(row), *record});
  }
  return listed;
}

namespace {

DrivePacket DirectoryNode(const ListedDirectory& dir) {
  DrivePacket node = dir.node;
  node.kind = dir.root ? NodeKind::RootDir : NodeKind::DirEntry;
  return node;
}

DirectoryImage Reported(PromptPort& prompt, const ListedDirectory& dir, DirectoryImage image) {
  switch (image.status) {
    case DirectoryImage::Status::NoChain: break;
    case DirectoryImage::Status::NoClusterList: prompt.Message(kFatEntriesNoBuffer); break;
    case DirectoryImage::Status::NoBuffer:
      prompt.Message(dir.root ? kRootDirNoBuffer : kRecoveryNoBuffer);
      break;
    case DirectoryImage::Status::Loaded:
      if (!image.Complete()) prompt.Message(dir.root ? kRootDirNotAccessible : kSubDirNotLoaded);
      break;
  }
  return image;
}

}  // namespace

DirectoryImage LoadListedDirectory(DiskAccess& access, MemoryBudget budget, PromptPort& prompt,
                                   const ListedDirectory& dir, std::span<const uint8_t> fat) {
  return Reported(prompt, dir, LoadDirectory(access, budget, DirectoryNode(dir), fat));
}

DirectoryImage LoadListedDirectory(DiskAccess& access, MemoryBudget budget, PromptPort& prompt,
                                   const ListedDirectory& dir, FatReader& fat) {
  DirectoryImage image;
  if (fat.Status() == FatCopyLoad::Loaded) image = LoadDirectory(access, budget, DirectoryNode(dir), fat);
  // A chain cut short by the FAT is no directory to change.
  switch (fat.Status()) {
    case FatCopyLoad::NoMemory: prompt.Message(kRecoveryNoBuffer); return {};
    case FatCopyLoad::Unreadable: prompt.Message(kFatsUnreadable); return {};
    case FatCopyLoad::Loaded: break;
  }
  return Reported(prompt, dir, std::move(image));
}

std::optional<size_t> RowEntryOffset(const DirectoryImage& image, const ListedDirectory& dir,
                                     const ListedRow& row) {
  if (!image.Loaded()) return std::nullopt;
  const std::span<const uint8_t> bytes(image.bytes);
  const std::optional<size_t> offset = ListedEntryOffset(bytes, row.row, !dir.root);
  if (!offset) return std::nullopt;
  // A sector that could not be read holds nothing but filler, which the
  // listing shows as deleted rows; written back it would replace the disk's
  // own bytes.
  if (!image.SectorRead(*offset)) return std::nullopt;
  const std::span<const uint8_t> entry = bytes.subspan(*offset, kDirEntrySize);
  if (le8(entry, kDirAttributes) != row.record.attributes ||
      DirEntryFirstCluster(entry, dir.node.fatType) != row.record.firstCluster ||
      le32(entry, kDirSize) != row.record.size)
    return std::nullopt;
  return offset;
}

bool WriteEntrySector(DiskAccess& access, PromptPort& prompt, const ListedDirectory& dir,
                      const DirectoryImage& image, size_t offset) {
  const size_t sectorOffset = offset / kSectorSize * kSectorSize;
  const std::optional<uint32_t> index = DirectorySectorIndex(dir.node, image, offset);
  if (index && sectorOffset + kSectorSize <= image.bytes.size() &&
      WriteNodeSectors(access, dir.node, *index,
                       std::span<const uint8_t>(image.bytes).subspan(sectorOffset, kSectorSize)))
    return true;
  prompt.Message(dir.root ? kRootDirNotAccessible : kSubDirNotWritten);
  return false;
}

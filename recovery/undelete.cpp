#include "recovery/undelete.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "disk/fat_codec.h"
#include "disk/le.h"
#include "disk/long_name.h"
#include "disk/memory_budget.h"
#include "recovery/directory_image.h"
#include "recovery/fat_image.h"
#include "disk/dir_entry.h"
#include "views/directory_views.h"

namespace {

// What one cluster after a deleted folder's start is to that folder.
enum class FolderCluster {
  Whole,    // its entries, all deleted: the folder may go on
  Last,     // deleted entries, then never-used ones: the folder's last cluster
  Foreign,  // a live entry, another folder's "." or nothing used: not the folder's
};

// The "." entry of the folder whose first cluster is `cluster`, live or
// deleted: a folder entry with a blank name after its first byte that names
// that cluster.
bool DotEntryOf(std::span<const uint8_t> entry, uint32_t cluster, FatWidth width) {
  if ((entry[kDirAttributes] & kAttrFolder) == 0) return false;
  for (size_t i = 1; i < 11; ++i)
    if (entry[i] != ' ') return false;
  return DirEntryFirstCluster(entry, width) == cluster;
}

// Judges the cluster k of a deleted folder that starts at cluster c from its
// entries. Only the first cluster holds "." (naming c) and ".."; a later
// cluster that starts with a "." of its own is the start of another folder.
FolderCluster JudgeFolderCluster(std::span<const uint8_t> cluster, uint32_t c, uint32_t k,
                                 FatWidth width) {
  const bool first = k == c;
  for (size_t slot = 0; slot * kDirEntrySize + kDirEntrySize <= cluster.size(); ++slot) {
    const std::span<const uint8_t> entry = cluster.subspan(slot * kDirEntrySize, kDirEntrySize);
    const uint8_t lead = entry[0];
    if (lead == kDirEndMark) return slot == 0 && !first ? FolderCluster::Foreign : FolderCluster::Last;
    if (lead == '.') {
      const bool own = first && ((slot == 0 && DotEntryOf(entry, c, width)) ||
                                 (slot == 1 && entry[1] == '.'));
      if (!own) return FolderCluster::Foreign;
      continue;
    }
    if (!IsDeletedMark(lead)) return FolderCluster::Foreign;
    if (slot == 0 && !first && DotEntryOf(entry, k, width)) return FolderCluster::Foreign;
  }
  return FolderCluster::Whole;
}

enum class RowOutcome { Revived, Passed, NotDeleted, Stop };

class UndeleteRun {
 public:
  UndeleteRun(DiskAccess& access, MemoryBudget budget, PromptPort& prompt,
              const ListedDirectory& dir)
      : access_(access), budget_(budget), prompt_(prompt), dir_(dir) {
    data_ = dir.node;
    data_.startSector = dir.node.dataStart;
  }

  // Takes the FAT image and the folder cluster buffer; false (reported) when
  // either cannot be had.
  bool Begin() {
    switch (LoadFatImage(access_, budget_, dir_.node, fat_)) {
      case FatImageLoad::Unreadable: prompt_.Message(kFatsUnreadable); return false;
      case FatImageLoad::NoMemory: prompt_.Message(kRecoveryNoBuffer); return false;
      case FatImageLoad::Loaded: break;
    }
    if (!TakeBuffer(budget_, folderCluster_,
                    uint64_t{dir_.node.sectorsPerCluster} * kSectorSize)) {
      prompt_.Message(kRecoveryNoBuffer);
      return false;
    }
    return true;
  }

  RowOutcome Row(const ListedRow& row) {
    const DirectoryRow* record = &row.record;
    const uint32_t c = record->firstCluster;
    if (!IsDeletedMark(static_cast<uint8_t>(record->dosName[0]))) return RowOutcome::NotDeleted;
    if (c == 0 || c == 0xFFFFFFFF) return RowOutcome::Passed;
    // A start outside the data area names no cluster that could be chained.
    if (c < 2 || c > LastCluster()) return RowOutcome::Passed;
    if (!Free(c)) {
      prompt_.Message(kClusterOccupied);
      return RowOutcome::Passed;
    }
    const uint32_t clusters = (record->attributes & kAttrFolder) != 0
                                  ? FolderClusters(c)
                                  : FileClusters(record->size);

    // The directory is loaded, and the row's entry found, before the chain
    // is made: a row whose entry cannot be revived leaves no chain that no
    // entry owns.
    DirectoryImage image = LoadListedDirectory(access_, budget_, prompt_, dir_, fat_.table);
    switch (image.status) {
      case DirectoryImage::Status::NoClusterList:
      case DirectoryImage::Status::NoBuffer: return RowOutcome::Stop;
      case DirectoryImage::Status::NoChain: return RowOutcome::Passed;
      case DirectoryImage::Status::Loaded: break;
    }
    const std::optional<size_t> offset = RowEntryOffset(image, dir_, row);
    if (!offset || !IsDeletedMark(image.bytes[*offset])) return RowOutcome::Passed;

    const uint32_t taken = RebuildChain(c, clusters);
    if (taken == 0) return RowOutcome::Passed;
    image.bytes[*offset] = kRevivedMark;
    if (!WriteEntrySector(access_, prompt_, dir_, image, *offset)) {
      writeFailed_ = true;
      // The entry stays deleted on disk: a chain left for it would belong to
      // no file. Its clusters were all free before (each was set above).
      for (uint32_t k = 0; k < taken; ++k)
        if (!fat_.Set(c + k, Width(), 0)) break;
      return RowOutcome::Passed;
    }
    fat_.clustersTaken += taken;
    return RowOutcome::Revived;
  }

  FatImageWrite WriteFat() { return WriteFatImage(access_, prompt_, dir_.node, fat_); }
  bool WriteFailed() const { return writeFailed_; }

 private:
  FatWidth Width() const { return dir_.node.fatType; }
  uint64_t ClusterBytes() const { return uint64_t{dir_.node.sectorsPerCluster} * kSectorSize; }
  uint32_t LastCluster() const { return dir_.node.lastCluster; }
  // Only a free entry may be chained; one the table does not hold is not free.
  bool Free(uint32_t c) const { return GetFatEntry(c, Width(), fat_.table).IsFree(); }

  uint32_t FileClusters(uint32_t size) const {
    const uint64_t n = (uint64_t{size} + ClusterBytes() - 1) / ClusterBytes();
    return static_cast<uint32_t>(std::max<uint64_t>(n, 1));
  }

  // A deleted folder's clusters: from c on, every cluster that holds its own
  // "." and ".." (the first) and deleted entries, while the next cluster is
  // free; a cluster whose deleted entries end in never-used ones is the last.
  // A cluster that cannot be read ends the count. A folder is never longer
  // than its 65536 entries.
  uint32_t FolderClusters(uint32_t c) {
    const uint32_t most = FolderClusterLimit(dir_.node, UINT32_MAX);
    uint32_t n = 0;
    for (uint32_t k = c;; ++k) {
      const uint32_t one[1] = {k};
      if (!ReadClusters(access_, one, data_, 1, folderCluster_.data())) {
        prompt_.Message(kDirClusterNotLoadable);
        break;
      }
      const FolderCluster verdict = JudgeFolderCluster(folderCluster_, c, k, Width());
      if (verdict == FolderCluster::Foreign) break;
      ++n;
      if (verdict == FolderCluster::Last) break;
      if (n >= most || k >= LastCluster() || !Free(k + 1)) break;
    }
    return std::max<uint32_t>(n, 1);
  }

  // c, c + 1, ... for at most n clusters, stopping before the first cluster
  // that is in use or past the volume; the last gets the end mark. Returns
  // the clusters taken.
  uint32_t RebuildChain(uint32_t c, uint32_t n) {
    uint32_t a = c;
    uint32_t taken = 1;
    for (; taken < n; ++taken) {
      const uint32_t b = a + 1;
      if (b > LastCluster() || !Free(b) || !fat_.Set(a, Width(), b)) break;
      a = b;
    }
    if (!fat_.Set(a, Width(), kFatEndMark)) return 0;
    return taken;
  }

  DiskAccess& access_;
  MemoryBudget budget_;
  PromptPort& prompt_;
  ListedDirectory dir_;
  bool writeFailed_ = false;
  DrivePacket data_;  // cluster reads: startSector is the first data sector
  FatImage fat_;
  std::vector<uint8_t> folderCluster_;
};

// A row's short name as the list shows it, blanks cut: "ONE.TXT".
std::string RowName(const DirectoryRow& record) {
  std::string name(record.dosName, strnlen(record.dosName, sizeof record.dosName));
  std::string base = name.substr(0, std::min<size_t>(name.size(), kDirNameLength));
  std::string extension = name.size() > kDirNameLength + 1 ? name.substr(kDirNameLength + 1) : "";
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!extension.empty() && extension.back() == ' ') extension.pop_back();
  return OemNameToUtf8(extension.empty() ? base : base + "." + extension);
}

}  // namespace

UndeleteResult UndeleteEntries(DiskAccess& access, MemoryBudget budget,
                               const ListedDirectory& directory, std::span<const ListedRow> rows,
                               PromptPort& prompt) {
  UndeleteResult result;
  if (rows.empty()) {
    prompt.Message(kUndeleteNoRow);
    return result;
  }
  UndeleteRun run(access, budget, prompt, directory);
  if (run.Begin()) {
    result.ran = true;
    prompt.SetStatus(0, kUndeleteStatus);
    std::string live;
    for (const ListedRow& row : rows) {
      const RowOutcome outcome = run.Row(row);
      if (outcome == RowOutcome::Stop) {
        result.stopped = true;
        break;
      }
      if (outcome == RowOutcome::Revived) ++result.revived;
      if (outcome == RowOutcome::NotDeleted) {
        ++result.notDeleted;
        live += (live.empty() ? "" : ", ") + RowName(row.record);
      }
    }
    if (!live.empty()) prompt.Message(kUndeleteNotDeleted + live);
    // The chains of the entries revived on disk go to every FAT copy, also
    // after a stop for want of memory: an entry without its chain would give
    // its clusters to the next file written. Nothing revived, nothing written.
    if (result.revived > 0) result.writeFailed = !run.WriteFat().AllWritten();
    result.writeFailed = result.writeFailed || run.WriteFailed();
    if (result.Succeeded())
      prompt.Message(kUndeleteDone, {}, PromptIcon::Information);
    else if (result.revived == 0)
      prompt.Message(kUndeleteNothing);
  }
  prompt.SetStatus(0, "");
  return result;
}

UndeleteResult Undelete(ViewContext& ctx, const DrivePacket& node, std::span<const int> selected) {
  ViewPage& pane = ctx.page;
  if (pane.fileDumpShown) return {};
  const std::optional<ListedDirectory> dir = DirectoryOnShow(pane, node);
  if (!dir) return {};
  // Said every time, before anything is read: a refused write further on
  // would read like a disk fault.
  if (ctx.access.WritesRefused()) {
    ctx.Prompt().Message(kDrivesReadOnly);
    return {};
  }
  const std::vector<ListedRow> rows = SelectedListedRows(pane, selected);
  const UndeleteResult result = UndeleteEntries(ctx.access, pane.budget, *dir, rows, ctx.Prompt());
  if (!result.ran) return result;
  // The directory was loaded apart from the page on show; the page memory
  // goes so that Write Changes finds nothing to write.
  std::vector<uint8_t>().swap(pane.sectorBuffer);
  std::vector<uint32_t>().swap(pane.clusterChain);
  pane.chainLength = 0;
  return result;
}

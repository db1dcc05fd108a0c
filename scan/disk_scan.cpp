#include "scan/disk_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "disk/backup_boot_record.h"
#include "disk/boot_sector.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/le.h"
#include "disk/raw_road.h"
#include "disk/sector_access.h"
#include "scan/scan_texts.h"
#include "views/format_cell.h"
#include "disk/dir_entry.h"

namespace {

constexpr uint32_t kPlaceholder = 1;        // makes a cluster being filled not free
// Free clusters a bad cluster's data may be moved to before the move is
// given up.
constexpr uint32_t kMoveTries = 8;

// The 12 characters the dialog shows for an entry: name, ".", extension.
std::string EntryName(std::span<const uint8_t> entry) {
  std::string name(reinterpret_cast<const char*>(entry.data()), kDirNameLength);
  name += '.';
  name.append(reinterpret_cast<const char*>(entry.data()) + kDirExtension, kDirExtensionLength);
  return name;
}

// Whether the checks act on an entry (the caller has stopped at 0x00).
bool Checked(std::span<const uint8_t> entry, FatWidth width) {
  const uint8_t first = entry[0];
  const uint8_t attributes = entry[kDirAttributes];
  // 0x05 first is a live name that begins with 0xE5: taken for deleted, its
  // chain would be counted lost and saved again as a .CHK file sharing it.
  if (first == kDirDeletedMark || attributes == kAttrLongNameMask) return false;
  if ((attributes & kAttrVolumeLabel) != 0 || first == '.') return false;
  return DirEntryFirstCluster(entry, width) != 0;
}

bool Descended(std::span<const uint8_t> entry, FatWidth width) {
  return Checked(entry, width) && (entry[kDirAttributes] & kAttrFolder) != 0;
}

}  // namespace

namespace {

// What became of the lost clusters, as the summary says it.
std::string LostFate(const ScanResult& r) {
  const uint32_t saved = std::min(r.lostClustersSaved, r.lostClusters);
  const uint32_t freed = std::min(r.lostClustersFreed, r.lostClusters - saved);
  const uint32_t left = r.lostClusters - saved - freed;
  const std::pair<uint32_t, const char*> parts[] = {
      {saved, kScanLostSaved}, {freed, kScanLostFreed}, {left, kScanLostLeft}};
  std::string mixed;
  int kinds = 0;
  const char* only = kScanLostLeft;
  for (const auto& [count, text] : parts) {
    if (count == 0) continue;
    ++kinds;
    only = text;
    mixed += (mixed.empty() ? "" : ", ") + std::to_string(count) + " " + text;
  }
  return kinds > 1 ? mixed : only;
}

}  // namespace

std::string ScanSummary(const ScanResult& r) {
  const uint32_t left = std::min(r.problemsLeft, r.problemsFound);
  return FormatText(r.stopped ? kScanSummaryStopped : kScanSummaryDone, static_cast<unsigned long>(r.problemsFound),
                    static_cast<unsigned long>(r.problemsFound - left), static_cast<unsigned long>(left),
                    static_cast<unsigned long>(r.lostClusters), LostFate(r).c_str(),
                    static_cast<unsigned long>(r.crossLinks), static_cast<unsigned long>(r.badClusters)) +
         // Said only when a chain was found at fault, so that a sound
         // volume's summary stays as it was.
         (r.circularChains + r.brokenChains + r.badFirstClusters + r.sizeMismatches == 0
              ? std::string()
              : FormatText(kScanSummaryChains, static_cast<unsigned long>(r.circularChains),
                           static_cast<unsigned long>(r.brokenChains),
                           static_cast<unsigned long>(r.badFirstClusters),
                           static_cast<unsigned long>(r.sizeMismatches))) +
         (r.bootRecords + r.reservedEntries + r.dirtyBits + r.fsInfoFaults + r.labelMismatches == 0
              ? std::string()
              : FormatText(kScanSummaryBootArea, static_cast<unsigned long>(r.bootRecords),
                           static_cast<unsigned long>(r.reservedEntries),
                           static_cast<unsigned long>(r.dirtyBits),
                           static_cast<unsigned long>(r.fsInfoFaults),
                           static_cast<unsigned long>(r.labelMismatches))) +
         (r.badShortNames + r.duplicateNames + r.dotEntries + r.folderLoops + r.folderSizes + r.brokenLongNames == 0
              ? std::string()
              : FormatText(kScanSummaryEntries, static_cast<unsigned long>(r.badShortNames),
                           static_cast<unsigned long>(r.duplicateNames),
                           static_cast<unsigned long>(r.dotEntries),
                           static_cast<unsigned long>(r.folderLoops),
                           static_cast<unsigned long>(r.folderSizes),
                           static_cast<unsigned long>(r.brokenLongNames))) +
         (r.lostChains == 0 ? std::string()
                            : FormatText(kScanSummaryLost, static_cast<unsigned long>(r.lostChains),
                                         static_cast<unsigned long>(r.chainsSaved),
                                         static_cast<unsigned long>(r.chainsFreed)));
}

int ScanResult::ExitCode() const {
  if (!scanned) return 8;
  if (problemsFound == 0) return 0;
  return problemsLeft == 0 && !stopped ? 1 : 4;
}

// ---------------------------------------------------------------- helpers

FatEntry DiskScan::Entry(uint32_t c) const { return GetFatEntry(c, layout_.width, fat_); }

void DiskScan::SetEntry(uint32_t c, uint32_t value) {
  const uint32_t old = Entry(c).value;
  if (!SetFatEntry(c, layout_.width, fat_, value)) return;
  if (value == 0) Freed(c);
  ++changes_;
  if (journal_ != nullptr) journal_->push_back({c, old});
}

void DiskScan::UndoFat(const std::vector<FatUndo>& undo) {
  for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
    // Each entry was set before, so it lies inside the table.
    static_cast<void>(SetFatEntry(it->cluster, layout_.width, fat_, it->old));
    if (it->old == 0) Freed(it->cluster);
    --changes_;
  }
}

bool DiskScan::Marked(uint32_t c) const {
  return size_t{c} / 8 < bitmap_.size() && (bitmap_[c / 8] & (0x80 >> (c % 8))) != 0;
}

void DiskScan::Mark(uint32_t c) {
  if (size_t{c} / 8 < bitmap_.size()) bitmap_[c / 8] |= static_cast<uint8_t>(0x80 >> (c % 8));
}

uint32_t DiskScan::Next(uint32_t c) const {
  const uint32_t next = Entry(c).Next();  // 0: free, 1, end of chain, bad mark
  return InVolume(next) ? next : 0;
}

bool DiskScan::ReadCluster(uint32_t c, uint8_t* buffer) {
  // A sector that cannot be read must leave the filler behind, never what
  // the buffer held from the cluster before: that would be copied or moved
  // as this cluster's contents.
  std::memset(buffer, 0xE5, size_t{layout_.sectorsPerCluster} * kSectorSize);
  const uint32_t list[1] = {c};
  return ReadClusters(access_, list, volume_, 1, buffer);
}

bool DiskScan::WriteCluster(uint32_t c, const uint8_t* buffer) {
  const uint32_t list[1] = {c};
  return WriteClusters(access_, list, volume_, 1, buffer);
}

bool DiskScan::WriteVolumeSector(uint64_t sector, const uint8_t* bytes) {
  if (sector > UINT32_MAX) return false;
  return WriteNodeSectors(access_, VolumeNodeOf(volume_), static_cast<uint32_t>(sector),
                          std::span<const uint8_t>(bytes, kSectorSize));
}

bool DiskScan::Ask(const char* text) {
  // Drives open read-only: a Yes could only fail, so the scan reports as a
  // scan answered No does, asking nothing.
  if (access_.WritesRefused()) {
    Say(std::string(text) + " No");
    return false;
  }
  if (options_.autoFix) {
    events_.AutoAnswered(text);
    return true;
  }
  return basePort_.AskYesNo(text, kScanCaption, PromptIcon::Question);
}

void DiskScan::Say(const std::string& text) {
  basePort_.Message(text, kScanCaption, PromptIcon::Exclamation);
}

void DiskScan::Phase(ScanPhase::Kind kind, uint64_t number, uint64_t last) {
  lastPhase_ = kind;
  events_.Phase(ScanPhase{kind, number, last});
}

void DiskScan::Progress(uint64_t done, uint64_t total) {
  const int percent = total == 0 ? 0 : static_cast<int>(std::min<uint64_t>(done, total) * 100 / total);
  if (percent == progressShown_) return;
  progressShown_ = percent;
  events_.Progress(percent);
}

uint32_t DiskScan::FindFreeCluster() {
  // A cluster the walk has found in use is never free, whatever its FAT
  // entry says: a damaged FAT may hold 0 for the root folder's cluster or for
  // the last cluster of a chain already walked.
  if (!holdsFound_) FindDeletedHolds();
  uint32_t c = ::FindFreeCluster(volume_, fat_, freeFrom_);
  while (c >= 2 && (Marked(c) || Held(c))) c = ::FindFreeCluster(volume_, fat_, c + 1);
  if (c < 2) return TakeHeldCluster();
  freeFrom_ = c;
  return c;
}

// ---------------------------------------------------------------- the run

void DiskScan::Reset() {
  result_ = ScanResult{};
  volume_ = DrivePacket{};
  layout_ = VolumeLayout{};
  std::vector<uint8_t>().swap(boot_);
  bootFromBackup_ = 0;
  freeAtLoad_ = 0;
  std::vector<uint8_t>().swap(fat_);
  freeFrom_ = heldFrom_ = 2;
  holdsFound_ = false;
  holds_.clear();
  std::vector<uint8_t>().swap(held_);
  std::vector<uint8_t>().swap(bitmap_);
  root_ = ScanFolder{};
  altered_ = false;
  changes_ = 0;
  folderChanged_ = false;
  pendingOnFat_ = 0;
  journal_ = nullptr;
  entryRepairs_.clear();
  walked_.clear();
  progressShown_ = -1;
  lostCounted_ = false;
  lastPhase_ = ScanPhase::Kind::None;
  surplusCuts_.clear();
  tailHeads_.clear();
}

ScanResult DiskScan::Run(const ScanVolumeEntry& volume, const ScanOptions& options) {
  Reset();
  options_ = options;
  // An exFAT volume is not checked, so there is no write to refuse.
  if (access_.WritesRefused() && volume.packet.kind != NodeKind::ExfatVolume) {
    // Said once a run, before the first finding.
    static_cast<void>(access_.RefuseWrite());
    options_.repairUnasked = false;
  }
  // The scan's writes go to an undo file of their own, so that one undo takes
  // the whole scan back.
  access_.StartUndoFile(volume.packet.drive);
  // Each phase ends the scan by returning false; all go to the common ending.
  [&] {
    if (!ReadBootRecord(volume)) return;
    Phase(ScanPhase::Kind::Fat);
    CompareFatCopies();
    if (Stopped()) return;
    if (!LoadFatImage()) return;
    result_.scanned = true;
    CheckBootArea();
    if (Stopped()) return;
    if (!TakeBitmap()) return;
    if (layout_.width != FatWidth::Fat32) {
      if (!LoadRoot()) return;
    } else {
      MarkRootChain();
    }
    WalkFolders(Check::CrossLinks);
    if (!Stopped()) CheckLabels();
    if (!Stopped()) CountLostClusters();
    if (!Stopped()) KeepLostChains();
    bool writeBack = true;
    if (options_.thorough && !Stopped()) {
      WalkFolders(Check::Surface);
      if (!Stopped()) TestFreeClusters();
      if (layout_.width == FatWidth::Fat32 && !Stopped() && !TestRootChain() && !Stopped()) writeBack = false;
    }
    if (lostCounted_ && !Stopped())
      Say(FormatText(kScanLostClusters, static_cast<unsigned long>(result_.lostClusters)));
    // A stopped scan drops the image: every repair that wrote an entry is
    // already whole on disk, and what waits in the image alone may be lost.
    if (writeBack && !Stopped()) WriteFatImage();
    if (!Stopped()) KeepFsInfoCount();
  }();
  Finish();
  access_.StartUndoFile(volume.packet.drive);
  return result_;
}

void DiskScan::Finish() {
  // Chains freed in the image alone were never freed: a No to the FATs'
  // question or a Stop dropped the image.
  if (!result_.fatWritten) result_.chainsFreed = result_.lostClustersFreed = 0;
  if (Stopped()) {
    result_.stopped = true;
    // What waited for the FAT write-back is dropped with the image.
    result_.problemsLeft += pendingOnFat_;
    pendingOnFat_ = 0;
  }
  // The phase line ends empty, whatever ended the scan.
  if (lastPhase_ != ScanPhase::Kind::None) Phase(ScanPhase::Kind::None);
  events_.Ended();
  std::vector<uint8_t>().swap(fat_);
  freeFrom_ = heldFrom_ = 2;
  holdsFound_ = false;
  holds_.clear();
  std::vector<uint8_t>().swap(held_);
  std::vector<uint8_t>().swap(bitmap_);
  root_ = ScanFolder{};
  walked_.clear();
  // The dialog may close from here on.
  flags_.running = false;
}

bool DiskScan::ReadBootRecord(const ScanVolumeEntry& volume) {
  if (volume.packet.kind == NodeKind::ExfatVolume) {
    Say(kScanExfatNotChecked);
    return false;
  }
  boot_.assign(kSectorSize, 0);
  const DrivePacket node = VolumeNodeOf(volume.packet);
  const bool read = ReadNodeSectors(access_, node, 0, boot_);
  std::optional<VolumeLayout> layout = read ? DecodeVolume(boot_, volume.partitionType) : std::nullopt;
  // A 32-bit volume whose sector 0 is unreadable or no boot record is
  // scanned by its backup, as the tree shows it; the boot area's check
  // offers to put it back.
  if (!layout) {
    const BootRecordChoice choice = FindBootRecord(
        read ? std::span<const uint8_t>(boot_) : std::span<const uint8_t>(),
        [&](uint64_t sector, std::span<uint8_t> out) {
          return sector <= UINT32_MAX && ReadNodeSectors(access_, node, static_cast<uint32_t>(sector), out);
        },
        volume.partitionType);
    if (choice.source == BootRecordSource::Backup) {
      boot_ = choice.bytes;
      layout = choice.layout;
      bootFromBackup_ = choice.sector;
    }
  }
  if (!layout) {
    Say(kScanBootUnreadable);
    return false;
  }
  layout_ = *layout;
  volume_ = VolumePacketOf(volume.packet, layout_);
  // The list's transfer size and the record it found the volume by stay.
  volume_.sectorCount = volume.packet.sectorCount;
  volume_.bootSector = volume.packet.bootSector;
  // The scan's reads and writes also need the FATs' place and the data area.
  volume_.kind = FatCopyKind(layout_.width);
  volume_.reservedSectors = layout_.reservedSectors;
  volume_.sectorsPerFat = layout_.sectorsPerFat;
  volume_.firstCluster = layout_.rootCluster;
  volume_.startSector = layout_.dataStart;
  volume_.dataStart = layout_.dataStart;
  return true;
}

// ---------------------------------------------------------------- FAT copies

void DiskScan::CompareFatCopies() {
  // A volume of one FAT has no second copy: what follows it is the root
  // directory or data, which no comparison should call a differing FAT.
  if (layout_.fatCount < 2) {
    Phase(ScanPhase::Kind::None);
    return;
  }
  // A FAT too large for the working image ends the scan at its load, with
  // that message: comparing first would read every sector a damaged boot
  // record claims (billions), asking at each one that cannot be read.
  if (!options_.budget.Allows(uint64_t{layout_.sectorsPerFat} * kSectorSize)) {
    Phase(ScanPhase::Kind::None);
    return;
  }
  uint8_t first[kSectorSize], second[kSectorSize];
  const uint32_t spf = layout_.sectorsPerFat;
  for (uint32_t s = 0; s < spf; ++s) {
    if (Stopped()) break;
    const uint64_t s1 = uint64_t{layout_.reservedSectors} + s;
    const uint64_t s2 = s1 + spf;
    Phase(ScanPhase::Kind::FatSector, s1);
    Progress(s + 1, spf);
    // A question answered Yes leaves a difference the write-back mends:
    // every copy then gets the image.
    auto question = [&](const std::string& text) {
      ++result_.problemsFound;
      if (!Ask(text.c_str())) {
        ++result_.problemsLeft;
        return false;
      }
      if (!altered_) ++pendingOnFat_;
      altered_ = true;
      return true;
    };
    const DrivePacket node = VolumeNodeOf(volume_);
    if (!ReadNodeSectors(access_, node, static_cast<uint32_t>(s1), first) &&
        !question(FormatText(kScanFatReadError, 1u, static_cast<unsigned long>(s1))))
      return;
    if (!ReadNodeSectors(access_, node, static_cast<uint32_t>(s2), second) &&
        !question(FormatText(kScanFatReadError, 2u, static_cast<unsigned long>(s2))))
      return;
    if (std::memcmp(first, second, kSectorSize) != 0 &&
        !question(FormatText(kScanFatsDiffer, static_cast<unsigned long>(s1),
                         static_cast<unsigned long>(s2))))
      return;
  }
  Phase(ScanPhase::Kind::None);
}

bool DiskScan::LoadFatImage() {
  switch (LoadFatCopy(access_, options_.budget, volume_, fat_, {.secondCopy = layout_.fatCount >= 2})) {
    case FatCopyLoad::Loaded: return true;
    case FatCopyLoad::NoMemory: Say(kScanFatNoMemory); return false;
    case FatCopyLoad::Unreadable: Say(kScanFatCritical); return false;
  }
  return false;
}

bool DiskScan::TakeBitmap() {
  if (!TakeBuffer(options_.budget, bitmap_, (uint64_t{layout_.lastCluster} + 8) / 8)) {
    Say(kScanBitsNoMemory);
    return false;
  }
  return true;
}

void DiskScan::WriteFatImage() {
  if (!altered_ && changes_ == 0) return;
  if (!Ask(kScanFatAltered)) {
    result_.problemsLeft += pendingOnFat_;
    pendingOnFat_ = 0;
    return;
  }
  bool all = true;
  for (uint32_t k = 0; k < layout_.fatCount; ++k) {
    if (!FatCopyInsideVolume(volume_, k) ||
        !WriteNodeSectors(access_, VolumeNodeOf(volume_), FatCopyPacket(volume_, k).startSector,
                          std::span<const uint8_t>(fat_).first(uint64_t{layout_.sectorsPerFat} * kSectorSize))) {
      Say(FormatText(kScanFatNotWritten, static_cast<unsigned>(k + 1)));
      all = false;
    }
  }
  result_.fatWritten = all;
  if (!all) result_.problemsLeft += pendingOnFat_;
  pendingOnFat_ = 0;
  altered_ = false;
  changes_ = 0;
}

// ---------------------------------------------------------------- root

bool DiskScan::LoadRoot() {
  switch (LoadFixedRoot(access_, volume_, layout_, options_.budget, root_)) {
    case FolderLoad::NoMemory: Say(kScanRootNoMemory); return false;
    case FolderLoad::PartlyRead: Say(kScanRootUnreadable); return true;
    default: return true;
  }
}

void DiskScan::MarkRootChain() {
  for (uint32_t c = layout_.rootCluster; InVolume(c) && !Marked(c); c = Next(c)) Mark(c);
}

// ---------------------------------------------------------------- folder walk

void DiskScan::WalkFolders(Check check) {
  walked_.clear();
  // Each level keeps only the first clusters of its sub-folders, in entry
  // order: a folder's image is released before its sub-folders are walked, so
  // a deep tree costs four bytes a folder.
  struct Level {
    uint32_t self = 0;  // the folder's first cluster
    std::vector<uint32_t> subfolders;
    size_t next = 0;
  };
  std::vector<Level> stack;
  auto enter = [&](ScanFolder& folder, bool isRoot, uint32_t self) {
    path_.clear();
    for (const Level& above : stack) path_.push_back(above.self);
    path_.push_back(self);
    if (!CheckFolder(check, folder, isRoot)) return;
    Level level;
    level.self = self;
    for (size_t i = 0; i < folder.entryCount; ++i) {
      const std::span<const uint8_t> entry(folder.bytes.data() + i * 32, 32);
      if (entry[0] == kDirEndMark) break;
      if (Descended(entry, layout_.width))
        level.subfolders.push_back(DirEntryFirstCluster(entry, layout_.width));
    }
    stack.push_back(std::move(level));
  };

  if (layout_.width != FatWidth::Fat32) {
    enter(root_, true, 0);
  } else {
    ScanFolder root;
    walked_.insert(layout_.rootCluster);
    if (LoadClusterFolder(access_, volume_, layout_, fat_, layout_.rootCluster,
                          options_.budget, root) == FolderLoad::NoMemory)
      Say(kScanFolderNoMemory);
    else if (!root.bytes.empty())
      enter(root, false, layout_.rootCluster);
  }
  while (!stack.empty() && !Stopped()) {
    Level& top = stack.back();
    if (top.next >= top.subfolders.size()) {
      stack.pop_back();
      continue;
    }
    const uint32_t first = top.subfolders[top.next++];
    // A folder that contains itself or an ancestor, or that two entries
    // share, is walked once.
    if (!InVolume(first) || !walked_.insert(first).second) continue;
    ScanFolder folder;
    switch (LoadClusterFolder(access_, volume_, layout_, fat_, first, options_.budget,
                              folder)) {
      case FolderLoad::NoMemory: Say(kScanFolderNoMemory); continue;
      case FolderLoad::Empty: continue;
      default: break;
    }
    enter(folder, false, first);
  }
}

bool DiskScan::CheckFolder(Check check, ScanFolder& folder, bool isRoot) {
  entryRepairs_.clear();
  folderChanged_ = false;
  if (check == Check::CrossLinks) CheckEntries(folder);
  const bool checked = check == Check::CrossLinks ? CheckCrossLinks(folder) : SurfaceTest(folder);
  // What the check repaired before a failed fix is still offered for
  // writing; only the descent ends.
  if (folderChanged_) {
    folderChanged_ = false;
    if (isRoot && folder.fixedRoot) {
      WriteFolderBack(folder);
    } else if (Ask(kScanFolderChanged)) {
      WriteFolderBack(folder);
    } else {
      // The entries stay as they are on disk, and so must the FAT: the
      // clusters those repairs took go back to free.
      for (const EntryRepair& r : entryRepairs_) UndoFat(r.undo);
      result_.problemsLeft += static_cast<uint32_t>(entryRepairs_.size());
      pendingOnFat_ -= static_cast<uint32_t>(entryRepairs_.size());
      folder.bytes = folder.loaded;
      entryRepairs_.clear();
      return false;
    }
  }
  entryRepairs_.clear();
  return checked;
}

void DiskScan::WriteFolderBack(ScanFolder& folder) {
  const size_t sectors = folder.bytes.size() / kSectorSize;
  for (size_t k = 0; k < sectors; ++k) {
    uint8_t* now = folder.bytes.data() + k * kSectorSize;
    uint8_t* before = folder.loaded.data() + k * kSectorSize;
    if (std::memcmp(now, before, kSectorSize) == 0) continue;
    const size_t from = k * kSectorSize, to = from + kSectorSize;
    auto inSector = [&](const EntryRepair& r) { return r.entryOffset >= from && r.entryOffset < to; };
    // The chains this sector's entries are to lead into reach every FAT copy
    // before the entries do: a write that stops between the two leaves at
    // most clusters that no entry reaches.
    std::vector<FatUndo> chains, released;
    for (const EntryRepair& r : entryRepairs_) {
      if (!inSector(r)) continue;
      for (const FatUndo& u : r.undo) (u.cluster == r.released ? released : chains).push_back(u);
    }
    // Only sectors that were read hold the disk's entries; a sector that
    // failed holds filler, and writing it would wipe what is there.
    const bool tried = folder.sectorRead[k];
    if (tried && CommitFat(chains) && WriteVolumeSector(folder.FirstSectorOf(k, layout_), now)) {
      std::memcpy(before, now, kSectorSize);
      // A released cluster that keeps its old entry on disk is at worst lost.
      static_cast<void>(CommitFat(released));
      // These repairs are whole on disk; the closing question no longer decides them.
      pendingOnFat_ -= static_cast<uint32_t>(std::count_if(entryRepairs_.begin(), entryRepairs_.end(), inSector));
      std::erase_if(entryRepairs_, inSector);
      continue;
    }
    std::memcpy(now, before, kSectorSize);
    for (auto it = entryRepairs_.rbegin(); it != entryRepairs_.rend(); ++it) {
      if (!inSector(*it)) continue;
      if (tried)
        TakeBack(it->undo);
      else
        UndoFat(it->undo);
      ++result_.problemsLeft;
      --pendingOnFat_;
    }
    std::erase_if(entryRepairs_, inSector);
  }
}

bool DiskScan::CommitFat(const std::vector<FatUndo>& changed) {
  if (changed.empty()) return true;
  // Entries are written in groups of sectors that hold whole entries: three
  // sectors of a 12-bit FAT (1024 entries, none split between two groups),
  // one sector of the others.
  const uint32_t groupSectors = layout_.width == FatWidth::Fat12 ? 3 : 1;
  const uint32_t perGroup = FatEntryCapacity(layout_.width, size_t{groupSectors} * kSectorSize);
  std::vector<uint32_t> groups;
  for (const FatUndo& u : changed) groups.push_back(u.cluster / perGroup);
  std::sort(groups.begin(), groups.end());
  groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
  std::vector<uint8_t> sectors(size_t{groupSectors} * kSectorSize);
  const DrivePacket node = VolumeNodeOf(volume_);
  bool all = true;
  for (uint32_t k = 0; k < layout_.fatCount; ++k) {
    if (!FatCopyInsideVolume(volume_, k)) {
      all = false;
      continue;
    }
    const uint32_t copyStart = FatCopyPacket(volume_, k).startSector;
    for (const uint32_t g : groups) {
      const uint64_t first = uint64_t{g} * groupSectors;
      if (first >= layout_.sectorsPerFat) continue;  // every cluster lies inside the table
      const uint64_t count = std::min<uint64_t>(groupSectors, layout_.sectorsPerFat - first);
      const std::span<uint8_t> group = std::span<uint8_t>(sectors).first(count * kSectorSize);
      std::fill(sectors.begin(), sectors.end(), 0);
      // A group that cannot be read is not written: its other entries are
      // the disk's, and guessing them would change other chains.
      if (!ReadNodeSectors(access_, node, static_cast<uint32_t>(copyStart + first), group)) {
        all = false;
        continue;
      }
      for (const FatUndo& u : changed)
        if (u.cluster / perGroup == g)
          static_cast<void>(SetFatEntry(u.cluster % perGroup, layout_.width, sectors, Entry(u.cluster).value));
      if (!WriteNodeSectors(access_, node, static_cast<uint32_t>(copyStart + first), group)) all = false;
    }
  }
  return all;
}

void DiskScan::TakeBack(const std::vector<FatUndo>& undo) {
  UndoFat(undo);
  // A copy that cannot take the old entries back keeps at most clusters
  // that no entry reaches.
  static_cast<void>(CommitFat(undo));
}

// ---------------------------------------------------------------- cross-links

bool DiskScan::CheckCrossLinks(ScanFolder& folder) {
  for (size_t i = 0; i < folder.entryCount; ++i) {
    const size_t at = i * 32;
    const std::span<uint8_t> entry(folder.bytes.data() + at, 32);
    if (entry[0] == kDirEndMark) break;
    events_.Entry(EntryName(entry));
    if (!Checked(entry, layout_.width) || LeadsBack(entry)) continue;
    const uint32_t first = DirEntryFirstCluster(entry, layout_.width);
    const bool isFile = (entry[kDirAttributes] & kAttrFolder) == 0;
    // A first cluster that starts no chain: outside the volume, or free.
    if (!InVolume(first) || (Entry(first).IsFree() && !Marked(first))) {
      Say(kScanBadFirstCluster);
      ++result_.problemsFound;
      ++result_.problemsLeft;
      ++result_.badFirstClusters;
      continue;
    }
    uint32_t c = first, prev = 0, steps = 0;
    bool isFirst = true, chainSound = true;
    while (!Stopped()) {
      if (!Marked(c)) {
        // A link into a free cluster ends the chain before it; a link that
        // names no cluster of the volume ends it at the cluster holding it.
        // Either way the file keeps every cluster it still reaches.
        const bool intoFree = !isFirst && Entry(c).IsFree();
        if (!intoFree) {
          Mark(c);
          prev = c;
          ++steps;
          const FatEntry e = Entry(c);
          if (e.kind == FatEntryKind::Next && InVolume(e.value)) {
            c = e.value;
            isFirst = false;
            continue;
          }
          if (e.kind != FatEntryKind::Next && e.kind != FatEntryKind::Reserved) break;
        }
        chainSound = false;
        EndBrokenChain(folder, at, prev, steps, intoFree ? kScanChainFree : kScanChainOutside);
        break;
      }
      chainSound = false;
      // A chain that runs back into itself has no tail of its own to copy:
      // it ends where it turned back.
      bool ownLoop = false;
      for (uint32_t k = first, n = 0; !isFirst && n < steps && k != 0; k = Next(k), ++n)
        if (k == c) ownLoop = true;
      ++result_.problemsFound;
      if (ownLoop) {
        ++result_.circularChains;
        if (!Ask(kScanCircular)) {
          ++result_.problemsLeft;
        } else {
          SetEntry(prev, kFatEndMark);
          ++pendingOnFat_;
        }
        break;
      }
      ++result_.crossLinks;
      if (!Ask(kScanCrossLinked)) {
        ++result_.problemsLeft;
        break;
      }
      // A folder entry that leads into this folder or one above it makes a
      // loop of folders: a copy would hold the same entry and need a copy of
      // its own, without end. It is left as it is.
      if (isFirst && (entry[kDirAttributes] & kAttrFolder) != 0 &&
          (std::find(path_.begin(), path_.end(), c) != path_.end() ||
           std::find(folder.clusters.begin(), folder.clusters.end(), c) != folder.clusters.end())) {
        Say(kScanFixFailed);
        ++result_.problemsLeft;
        break;
      }
      const uint32_t length = ChainLength(c, layout_.width, fat_);
      const uint32_t n = FindFreeCluster();
      if (n == 0) {
        Say(kScanNoSpaceCrossLink);
        ++result_.problemsLeft;
        return false;
      }
      std::vector<FatUndo> undo;
      journal_ = &undo;
      if (isFirst) {
        SetDirEntryFirstCluster(entry, n, layout_.width);
        folderChanged_ = true;
      } else {
        SetEntry(prev, n);
      }
      const bool copied = CopyChainTail(c, n, length);
      journal_ = nullptr;
      if (!copied) {
        Say(kScanFixFailed);
        UndoFat(undo);
        if (isFirst) SetDirEntryFirstCluster(entry, first, layout_.width);
        ++result_.problemsLeft;
        return false;
      }
      ++pendingOnFat_;
      if (isFirst) entryRepairs_.push_back({at, std::move(undo)});
      break;
    }
    // A whole chain of a file holds just the clusters its size needs.
    if (chainSound && isFile && !Stopped()) {
      const uint64_t clusterBytes = uint64_t{layout_.sectorsPerCluster} * kSectorSize;
      const uint64_t needed = (uint64_t{le32(entry, kDirSize)} + clusterBytes - 1) / clusterBytes;
      if (needed != steps) {
        ++result_.problemsFound;
        ++result_.sizeMismatches;
        if (needed == 0 || needed > steps) Say(kScanSizeMismatch);
        if (needed == 0 || needed > steps || !CutSurplusTail(first, static_cast<uint32_t>(needed), steps))
          ++result_.problemsLeft;
      }
    }
  }
  events_.Entry("");
  return true;
}

void DiskScan::EndBrokenChain(ScanFolder& folder, size_t at, uint32_t last, uint32_t clusters,
                              const char* question) {
  ++result_.problemsFound;
  ++result_.brokenChains;
  if (!Ask(question)) {
    ++result_.problemsLeft;
    return;
  }
  std::vector<FatUndo> undo;
  journal_ = &undo;
  SetEntry(last, kFatEndMark);
  journal_ = nullptr;
  ++pendingOnFat_;
  // A file's size no larger than what its chain now holds: the entry is
  // written with the chain's new end, after it.
  const std::span<uint8_t> entry(folder.bytes.data() + at, 32);
  const uint64_t holds = uint64_t{clusters} * layout_.sectorsPerCluster * kSectorSize;
  if ((entry[kDirAttributes] & kAttrFolder) == 0 && le32(entry, kDirSize) > holds) {
    putLe32(entry, kDirSize, static_cast<uint32_t>(holds));
    folderChanged_ = true;
    entryRepairs_.push_back({at, std::move(undo)});
  }
}

bool DiskScan::CopyChainTail(uint32_t shared, uint32_t d, uint32_t length) {
  std::vector<uint8_t> buffer;
  if (!TakeBuffer(options_.budget, buffer, uint64_t{layout_.sectorsPerCluster} * kSectorSize))
    return false;
  uint32_t s = shared;
  for (uint32_t i = 0; i < length; ++i) {
    if (!ReadCluster(s, buffer.data())) {
      // What cannot be read is copied as the read left it: the copy holds
      // what could be had.
    }
    if (!WriteCluster(d, buffer.data())) return false;
    SetEntry(d, kPlaceholder);
    Mark(d);
    s = Next(s);
    if (s == 0 || i + 1 == length) {
      SetEntry(d, kFatEndMark);
      return true;
    }
    const uint32_t next = FindFreeCluster();
    if (next == 0) {
      SetEntry(d, kFatEndMark);
      Say(kScanNoSpaceCrossLink);
      return false;
    }
    SetEntry(d, next);
    d = next;
  }
  return true;
}

// ---------------------------------------------------------------- lost clusters

void DiskScan::CountLostClusters() {
  uint32_t lost = 0;
  for (uint32_t c = 2; c <= layout_.lastCluster; ++c) {
    if (Stopped()) return;
    // Taken (a link, an end, the value 1) yet reached from no folder.
    const FatEntryKind kind = Entry(c).kind;
    const bool taken = kind == FatEntryKind::Next || kind == FatEntryKind::End ||
                       kind == FatEntryKind::Reserved;
    if (taken && !Marked(c)) ++lost;
  }
  result_.lostClusters = lost;
  if (lost != 0) {
    // They stay allocated: nothing is freed, chained or saved.
    ++result_.problemsFound;
    ++result_.problemsLeft;
  }
  // Shown as the scan goes on; said once the tests are over, so that it is
  // not taken for the scan's end.
  Phase(ScanPhase::Kind::LostClusters, lost);
  lostCounted_ = true;
}

// ---------------------------------------------------------------- surface tests

bool DiskScan::TakeRunBuffer(std::vector<uint8_t>& buffer) {
  // Runs of up to a megabyte through the raw road, which reads a failed run
  // again sector by sector: a volume streams instead of being asked for a
  // cluster at a time. One cluster when there is no room for more.
  const uint64_t cluster = uint64_t{layout_.sectorsPerCluster} * kSectorSize;
  const uint64_t runClusters = std::max<uint32_t>(1, kRawRunSectors / layout_.sectorsPerCluster);
  if (TakeBuffer(options_.budget, buffer, runClusters * cluster) || TakeBuffer(options_.budget, buffer, cluster))
    return true;
  Say(kScanClusterNoMemory);
  return false;
}

bool DiskScan::SurfaceTest(ScanFolder& folder) {
  std::vector<uint8_t> buffer;
  if (!TakeRunBuffer(buffer)) return false;
  for (size_t i = 0; i < folder.entryCount; ++i) {
    const size_t at = i * 32;
    const std::span<uint8_t> entry(folder.bytes.data() + at, 32);
    if (entry[0] == kDirEndMark || Stopped()) break;
    events_.Entry(EntryName(entry));
    if (!Checked(entry, layout_.width)) continue;
    if (TestChain(DirEntryFirstCluster(entry, layout_.width), &folder, at, buffer) !=
        Move::Moved) {
      events_.Entry("");
      return false;
    }
  }
  events_.Entry("");
  return true;
}

DiskScan::Move DiskScan::MoveBadCluster(uint32_t c, uint32_t prev, bool first, ScanFolder* folder,
                                        size_t entryOffset, std::span<const uint8_t> bytes,
                                        uint32_t& replacement) {
  std::vector<FatUndo> undo;
  journal_ = &undo;
  // Each failed try marks its cluster bad, so the next search passes it
  // over; the tries end when no free cluster is left.
  std::vector<uint8_t> check(bytes.size());
  uint32_t n = 0;
  for (uint32_t tries = 0;; ++tries) {
    n = tries < kMoveTries ? FindFreeCluster() : 0;
    if (n == 0) {
      journal_ = nullptr;
      UndoFat(undo);
      // So many clusters in a row do not fail on their own: the drive
      // refuses writes, and marking its free clusters bad would be wrong.
      Say(tries < kMoveTries ? kScanNoSpaceMove : kScanFixFailed);
      return Move::Failed;
    }
    if (WriteCluster(n, bytes.data()) && ReadCluster(n, check.data())) break;
    SetEntry(n, kFatBadMark);
  }
  // n takes over what c led to; a free c ended the chain, damaged.
  const FatEntry successor = Entry(c);
  uint32_t carried = successor.value;
  switch (successor.kind) {
    case FatEntryKind::Free:
    case FatEntryKind::OutsideTable:
    case FatEntryKind::End: carried = kFatEndMark; break;
    case FatEntryKind::Bad: carried = kFatBadMark; break;
    case FatEntryKind::Next:
    case FatEntryKind::Reserved: break;
  }
  // The chain's owner, or the cluster before, now leads to n.
  const bool rootOwner = first && folder == nullptr;
  if (!first) {
    SetEntry(prev, n);
  } else if (folder != nullptr) {
    SetDirEntryFirstCluster(std::span<uint8_t>(folder->bytes).subspan(entryOffset, 32), n, layout_.width);
    folderChanged_ = true;
  } else {
    // The 32-bit root directory's first cluster lives in the boot record,
    // which is written at once: n's entry reaches every FAT copy before the
    // record names n.
    std::vector<uint8_t> old = boot_;
    putLe32(boot_, kBootRootCluster, (le32(boot_, kBootRootCluster) & 0xF0000000) | n);
    bool asked = false, written = false;
    if (Ask(kScanRelocateRoot)) {
      asked = true;
      SetEntry(n, carried);
      written = CommitFat(undo) && WriteBootRecord(old);
    }
    if (!written) {
      boot_ = old;
      journal_ = nullptr;
      if (asked)
        TakeBack(undo);
      else
        UndoFat(undo);
      return Move::Declined;
    }
    layout_.rootCluster = n;
  }
  SetEntry(c, kFatBadMark);
  SetEntry(n, carried);
  journal_ = nullptr;
  if (rootOwner) {
    // c left the root's chain on disk already: marked bad there now, it is
    // not left a lost cluster leading into the root's clusters.
    static_cast<void>(CommitFat(undo));
  } else {
    ++pendingOnFat_;
  }
  if (first && folder != nullptr) entryRepairs_.push_back({entryOffset, std::move(undo), c});
  replacement = n;
  return Move::Moved;
}

void DiskScan::TestFreeClusters() {
  const uint32_t spc = layout_.sectorsPerCluster;
  std::vector<uint8_t> buffer;
  if (!TakeRunBuffer(buffer)) return;
  const auto runClusters = static_cast<uint32_t>(buffer.size() / (uint64_t{spc} * kSectorSize));
  const uint32_t last = layout_.lastCluster;
  std::vector<uint64_t> unreadable;
  for (uint32_t c = 2; c <= last && !Stopped();) {
    if (!Entry(c).IsFree()) {
      ++c;
      continue;
    }
    uint32_t n = 1;
    while (n < runClusters && c + n <= last && Entry(c + n).IsFree()) ++n;
    Phase(ScanPhase::Kind::FreeCluster, c, last);
    Progress(c, last);
    unreadable.clear();
    const std::span<uint8_t> run = std::span<uint8_t>(buffer).first(uint64_t{n} * spc * kSectorSize);
    if (!ReadRawSectors(access_, volume_, uint64_t{c - 2} * spc, run, unreadable)) {
      uint32_t reported = 0;
      for (const uint64_t sector : unreadable) {
        const auto bad = static_cast<uint32_t>(2 + sector / spc);
        if (bad == reported) continue;
        reported = bad;
        Phase(ScanPhase::Kind::FreeCluster, bad, last);  // the phase line names the cluster at fault
        Say(FormatText(kScanBadFreeCluster, static_cast<unsigned long>(bad)));
        ++result_.problemsFound;
        ++result_.badClusters;
        SetEntry(bad, kFatBadMark);
        ++pendingOnFat_;
      }
    }
    c += n;
  }
  Phase(ScanPhase::Kind::None);
}

DiskScan::Move DiskScan::TestChain(uint32_t first, ScanFolder* folder, size_t entryOffset,
                                   std::vector<uint8_t>& buffer) {
  const uint32_t spc = layout_.sectorsPerCluster;
  const size_t clusterBytes = size_t{spc} * kSectorSize;
  const auto runMost = static_cast<uint32_t>(buffer.size() / clusterBytes);
  uint32_t c = first, prev = 0;
  const uint32_t length = ChainLength(c, layout_.width, fat_);
  std::vector<uint64_t> unreadable;
  for (uint32_t steps = 0; steps < length && InVolume(c);) {
    if (Stopped()) return Move::Moved;
    // The chain's clusters that follow each other on the disk are read as
    // one run.
    uint32_t n = 1;
    while (n < runMost && steps + n < length && Next(c + n - 1) == c + n) ++n;
    Phase(ScanPhase::Kind::FileCluster, c);
    // A file's progress is its place on the volume, the root's its own chain.
    if (folder != nullptr)
      Progress(c, layout_.lastCluster);
    else
      Progress(steps + n, length);
    unreadable.clear();
    const std::span<uint8_t> run = std::span<uint8_t>(buffer).first(n * clusterBytes);
    const bool whole = ReadRawSectors(access_, volume_, uint64_t{c - 2} * spc, run, unreadable);
    size_t u = 0;  // the first unreadable sector not before cluster k
    uint32_t successor = 0;
    for (uint32_t i = 0; i < n; ++i, ++steps) {
      const uint32_t k = c + i;
      successor = Next(k);  // read before a move takes k's entry over
      while (u < unreadable.size() && unreadable[u] < uint64_t{k - 2} * spc) ++u;
      if (whole || u == unreadable.size() || unreadable[u] >= uint64_t{k - 1} * spc) {
        prev = k;
        continue;
      }
      Phase(ScanPhase::Kind::FileCluster, k);  // the phase line names the cluster at fault
      Say(kScanBadCluster);
      ++result_.problemsFound;
      ++result_.badClusters;
      uint32_t replacement = 0;
      if (!options_.repairUnasked) {
        ++result_.problemsLeft;
        prev = k;
        continue;
      }
      // What could be read of k goes to its replacement; its failed sectors
      // keep the road's filler.
      const Move move = MoveBadCluster(k, prev, steps == 0, folder, entryOffset,
                                       std::span<const uint8_t>(run).subspan(i * clusterBytes, clusterBytes),
                                       replacement);
      if (move != Move::Moved) {
        ++result_.problemsLeft;
        return move;
      }
      prev = replacement;
    }
    c = successor;
  }
  return Move::Moved;
}

bool DiskScan::TestRootChain() {
  if (!InVolume(layout_.rootCluster)) return true;
  std::vector<uint8_t> buffer;
  if (!TakeRunBuffer(buffer)) return false;
  // A move the person declined leaves the root as it is and the scan goes on.
  const Move move = TestChain(layout_.rootCluster, nullptr, 0, buffer);
  return move != Move::Failed && !Stopped();
}

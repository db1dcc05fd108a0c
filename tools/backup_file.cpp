#include "tools/backup_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <unordered_set>

#include "disk/dir_entry.h"
#include "disk/fat_codec.h"
#include "disk/le.h"
#include "disk/memory_budget.h"
#include "disk/sector_access.h"
#include "recovery/entry_names.h"

namespace {

// A floppy's tree is small; these bound a damaged one's.
constexpr size_t kMostDirectories = 4096;
constexpr size_t kMostEntries = 65536;
constexpr uint8_t kBackupAttributes = kAttrReadOnly | kAttrArchive;

}  // namespace

BackupFile::BackupFile(DiskAccess& access, const DrivePacket& root, std::vector<uint8_t> fat)
    : access_(access), root_(root), fat_(std::move(fat)), fatLoaded_(fat_) {
  // The highest data cluster: within the floppy's sectors and the table.
  const uint32_t capacity = FatEntryCapacity(root_.fatType, fat_.size());
  uint64_t last = capacity >= 1 ? capacity - 1 : 0;
  if (root_.sectorsPerCluster != 0 && root_.totalSectors > root_.dataStart)
    last = std::min<uint64_t>(last, 1 + (root_.totalSectors - root_.dataStart) / root_.sectorsPerCluster);
  else
    last = 0;
  lastCluster_ = static_cast<uint32_t>(last);
}

bool BackupFile::Load(const DrivePacket& node, int owner) {
  DirectoryImage image = LoadDirectory(access_, MemoryBudget{}, node, fat_);
  if (!image.Loaded()) return false;
  Directory d;
  d.node = node;
  d.loaded = image.bytes;
  d.image = std::move(image);
  d.owner = owner;
  directories_.push_back(std::move(d));
  return true;
}

bool BackupFile::Survey() {
  directories_.clear();
  entries_.clear();
  backupEntry_ = -1;
  if (!Load(root_, -1)) return false;
  struct Pending {
    size_t directory;
    std::string path;
  };
  std::vector<Pending> pending = {{0, ""}};
  std::unordered_set<uint32_t> visited;
  for (size_t q = 0; q < pending.size() && entries_.size() < kMostEntries; ++q) {
    const size_t d = pending[q].directory;
    const std::string path = pending[q].path;
    const int parent = directories_[d].owner;
    // Copied: loading a folder below may move the directory list.
    const std::vector<uint8_t> bytes = directories_[d].image.bytes;
    const std::span<const uint8_t> dir(bytes);
    for (size_t at = 0; at + kDirEntrySize <= dir.size() && entries_.size() < kMostEntries;
         at += kDirEntrySize) {
      const auto e = dir.subspan(at, kDirEntrySize);
      if (e[kDirName] == kDirEndMark) break;
      // A sector that did not read holds filler, no entries.
      if (!directories_[d].image.SectorRead(at)) continue;
      const uint8_t attributes = e[kDirAttributes];
      if (IsDeletedMark(e[kDirName]) || IsLongNameEntry(attributes) ||
          (attributes & kAttrVolumeLabel) != 0 || e[kDirName] == '.')
        continue;
      Entry entry;
      entry.directory = d;
      entry.offset = at;
      entry.folder = (attributes & kAttrFolder) != 0;
      entry.parent = parent;
      entry.path = path + "/" + LiveEntryName(dir, at / kDirEntrySize).text;
      const uint32_t first = DirEntryFirstCluster(e, root_.fatType);
      if (first >= 2 && first <= lastCluster_) {
        const uint32_t length = std::min(ChainLength(first, root_.fatType, fat_), lastCluster_);
        entry.chain.assign(length, 0);
        static_cast<void>(ListChain(first, root_.fatType, entry.chain, length, fat_));
        const auto outside = std::find_if(entry.chain.begin(), entry.chain.end(),
                                          [this](uint32_t c) { return c < 2 || c > lastCluster_; });
        entry.chain.erase(outside, entry.chain.end());
      }
      const int index = static_cast<int>(entries_.size());
      if (d == 0 && !entry.folder && std::memcmp(e.data(), kBackupFileName, 11) == 0)
        backupEntry_ = index;
      entries_.push_back(entry);
      // A folder that two entries share, or that holds itself, is read once.
      if (!entry.folder || entry.chain.empty() || !visited.insert(first).second ||
          directories_.size() >= kMostDirectories)
        continue;
      DrivePacket folder = root_;
      folder.kind = NodeKind::DirEntry;
      folder.attributes = kAttrFolder;
      folder.firstCluster = first;
      folder.startSector = root_.dataStart;
      folder.sectorCount = 0;
      if (Load(folder, index)) pending.push_back({directories_.size() - 1, entry.path});
    }
  }
  return true;
}

bool BackupFile::UnderLost(int i, const std::vector<bool>& lost) const {
  for (int at = i; at >= 0; at = entries_[static_cast<size_t>(at)].parent)
    if (lost[static_cast<size_t>(at)]) return true;
  return false;
}

std::vector<bool> BackupFile::Lost(std::span<const uint32_t> slots) const {
  const std::set<uint32_t> taken(slots.begin(), slots.end());
  std::vector<bool> lost(entries_.size(), false);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (static_cast<int>(i) == backupEntry_) continue;
    lost[i] = std::any_of(entries_[i].chain.begin(), entries_[i].chain.end(),
                          [&](uint32_t c) { return taken.count(c) != 0; });
  }
  return lost;
}

std::vector<std::string> BackupFile::Overwritten(std::span<const uint32_t> slots) const {
  const std::vector<bool> lost = Lost(slots);
  std::vector<std::string> paths;
  for (size_t i = 0; i < entries_.size(); ++i) {
    // A folder stands for all it holds.
    const int parent = entries_[i].parent;
    if (!lost[i] || (parent >= 0 && UnderLost(parent, lost))) continue;
    paths.push_back(entries_[i].path + (entries_[i].folder ? "/" : ""));
  }
  return paths;
}

int BackupFile::RootSlot(const std::vector<bool>& gone) const {
  if (backupEntry_ >= 0) return static_cast<int>(entries_[static_cast<size_t>(backupEntry_)].offset / kDirEntrySize);
  const Directory& root = directories_.front();
  const std::vector<uint8_t>& bytes = root.image.bytes;
  for (size_t at = 0; at + kDirEntrySize <= bytes.size(); at += kDirEntrySize) {
    if (!root.image.SectorRead(at)) continue;
    if (IsDeletedMark(bytes[at])) return static_cast<int>(at / kDirEntrySize);
    if (bytes[at] == kDirEndMark) {
      // The end mark moves one entry on, so nothing past it comes into view;
      // the last entry of the root needs no mark after it.
      const size_t next = at + kDirEntrySize;
      if (next + kDirEntrySize <= bytes.size() && !root.image.SectorRead(next)) break;
      return static_cast<int>(at / kDirEntrySize);
    }
  }
  for (size_t i = 0; i < entries_.size(); ++i)
    if (gone[i] && entries_[i].directory == 0) return static_cast<int>(entries_[i].offset / kDirEntrySize);
  return -1;
}

bool BackupFile::RootHasRoom(std::span<const uint32_t> slots) const {
  return !directories_.empty() && RootSlot(Lost(slots)) >= 0;
}

BackupFileWrite BackupFile::Commit(std::span<const uint32_t> slots, std::time_t when) {
  if (slots.empty() || directories_.empty()) return BackupFileWrite::WriteFailed;
  const FatWidth width = root_.fatType;
  std::vector<bool> gone = Lost(slots);
  for (size_t i = 0; i < entries_.size(); ++i) gone[i] = UnderLost(static_cast<int>(i), gone);

  // Clusters the files that stay hold are never freed, even where a damaged
  // FAT makes another chain run through them.
  std::set<uint32_t> kept;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!gone[i] && static_cast<int>(i) != backupEntry_) kept.insert(entries_[i].chain.begin(), entries_[i].chain.end());
  const std::set<uint32_t> taken(slots.begin(), slots.end());
  auto release = [&](const Entry& e) {
    for (const uint32_t c : e.chain)
      if (!taken.count(c) && !kept.count(c)) static_cast<void>(SetFatEntry(c, width, fat_, 0));
  };
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!gone[i]) continue;
    release(entries_[i]);
    // The entry goes from a directory that stays, its long-name pieces with it.
    const Entry& e = entries_[i];
    if (e.parent >= 0 && gone[static_cast<size_t>(e.parent)]) continue;
    std::vector<uint8_t>& bytes = directories_[e.directory].image.bytes;
    const size_t index = e.offset / kDirEntrySize;
    const std::optional<size_t> pieces =
        OwnLongNamePieces(bytes, index, ShortNameChecksum(std::span<const uint8_t>(bytes).subspan(e.offset, 11)));
    for (size_t p = pieces.value_or(index); p < index; ++p)
      if (directories_[e.directory].image.SectorRead(p * kDirEntrySize)) bytes[p * kDirEntrySize] = kDirDeletedMark;
    bytes[e.offset] = kDirDeletedMark;
  }

  if (backupEntry_ >= 0) release(entries_[static_cast<size_t>(backupEntry_)]);
  const int slot = RootSlot(gone);
  if (slot < 0) return BackupFileWrite::RootFull;
  std::vector<uint8_t>& rootBytes = directories_.front().image.bytes;
  const size_t at = static_cast<size_t>(slot) * kDirEntrySize;
  if (rootBytes[at] == kDirEndMark && at + 2 * kDirEntrySize <= rootBytes.size())
    rootBytes[at + kDirEntrySize] = kDirEndMark;

  for (size_t i = 0; i < slots.size(); ++i)
    static_cast<void>(SetFatEntry(slots[i], width, fat_, i + 1 < slots.size() ? slots[i + 1] : kFatEndMark));

  const std::span<uint8_t> e = std::span<uint8_t>(rootBytes).subspan(at, kDirEntrySize);
  std::fill(e.begin(), e.end(), uint8_t{0});
  std::memcpy(e.data() + kDirName, kBackupFileName, 11);
  putLe8(e, kDirAttributes, kBackupAttributes);
  StampDirEntry(e, when);
  putLe16(e, kDirClusterLow, static_cast<uint16_t>(slots.front()));
  putLe32(e, kDirSize, static_cast<uint32_t>(slots.size() * uint64_t{root_.sectorsPerCluster} * kSectorSize));
  return WriteChanges() ? BackupFileWrite::Written : BackupFileWrite::WriteFailed;
}

bool BackupFile::WriteChanges() {
  bool all = true;
  // The directories first (only the sectors that changed: a folder that is
  // gone has none), then every copy of the FAT.
  for (Directory& d : directories_) {
    for (size_t at = 0; at + kSectorSize <= d.image.bytes.size(); at += kSectorSize) {
      if (std::memcmp(d.image.bytes.data() + at, d.loaded.data() + at, kSectorSize) == 0) continue;
      const std::optional<uint32_t> sector = DirectorySectorIndex(d.node, d.image, at);
      if (!sector || !WriteNodeSectors(access_, d.node, *sector,
                                       std::span<const uint8_t>(d.image.bytes).subspan(at, kSectorSize))) {
        all = false;
        continue;
      }
      std::memcpy(d.loaded.data() + at, d.image.bytes.data() + at, kSectorSize);
    }
  }
  // The FAT sectors that changed, in every copy.
  if (uint64_t{root_.sectorsPerFat} * kSectorSize > fat_.size() || fatLoaded_.size() != fat_.size()) return false;
  for (uint32_t k = 0; k < root_.sectorsPerFat; ++k) {
    const size_t at = size_t{k} * kSectorSize;
    if (std::memcmp(fat_.data() + at, fatLoaded_.data() + at, kSectorSize) == 0) continue;
    for (uint32_t copy = 0; copy < root_.fatCount; ++copy) {
      DrivePacket p = root_;
      p.startSector = root_.reservedSectors + copy * root_.sectorsPerFat + k;
      p.sectorCount = 1;
      if (!WriteSectors(access_, p, fat_.data() + at)) all = false;
    }
  }
  return all;
}

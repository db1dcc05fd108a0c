// Lost chains: clusters in use that no entry reaches, and the clusters cut
// off past a file's size. None is freed unasked: they become FILEnnnn.CHK
// files in a new folder FOUND.nnn of the root, as DOS kept them, or are
// freed when the person chose that.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "disk/dir_entry.h"
#include "disk/fat_codec.h"
#include "disk/le.h"
#include "disk/memory_budget.h"
#include "scan/disk_scan.h"
#include "scan/scan_texts.h"
#include "views/format_cell.h"

namespace {

// FILE0000 ... FILE9999: the rest stay lost for a later scan.
constexpr uint32_t kMostChkFiles = 10000;
constexpr unsigned kMostFoundFolders = 1000;

void PutName(std::span<uint8_t> entry, const char* name11) {
  std::memcpy(entry.data() + kDirName, name11, kDirNameLength + kDirExtensionLength);
}

// The root's free entry for the new folder: an end-marked one first, so no
// deleted file loses its entry; -1 when every entry is taken.
long FreeSlot(const ScanFolder& root) {
  long deleted = -1;
  for (size_t i = 0; i < root.entryCount; ++i) {
    const size_t at = i * kDirEntrySize;
    if (!root.sectorRead[at / kSectorSize]) continue;
    const uint8_t first = root.bytes[at];
    if (first == kDirEndMark) return static_cast<long>(i);
    if (first == kDirDeletedMark && deleted < 0) deleted = static_cast<long>(i);
  }
  return deleted;
}

// The lowest FOUND.nnn the root does not hold; -1 when all are taken.
int FoundNumber(const ScanFolder& root) {
  std::vector<bool> taken(kMostFoundFolders);
  for (size_t i = 0; i < root.entryCount; ++i) {
    const uint8_t* e = root.bytes.data() + i * kDirEntrySize;
    if (e[0] == kDirEndMark) break;
    unsigned n = 0;
    if (std::memcmp(e, "FOUND   ", 8) == 0 && std::sscanf(reinterpret_cast<const char*>(e) + 8, "%3u", &n) == 1 &&
        n < kMostFoundFolders)
      taken[n] = true;
  }
  const auto free = std::find(taken.begin(), taken.end(), false);
  return free == taken.end() ? -1 : static_cast<int>(free - taken.begin());
}

}  // namespace

void DiskScan::Unmark(uint32_t c) {
  if (size_t{c} / 8 < bitmap_.size()) bitmap_[c / 8] &= static_cast<uint8_t>(~(0x80 >> (c % 8)));
}

bool DiskScan::CutSurplusTail(uint32_t first, uint32_t needed, uint32_t length) {
  if (!Ask(kScanSurplusTail)) return false;
  uint32_t last = first;
  for (uint32_t i = 1; i < needed; ++i) last = Next(last);
  const uint32_t tail = Next(last);
  journal_ = &surplusCuts_;
  SetEntry(last, kFatEndMark);
  journal_ = nullptr;
  // The chain was whole and this file's alone: its tail is now reached by
  // nothing, and the lost chains take it up.
  uint32_t c = tail;
  for (uint32_t i = needed; i < length && c != 0; ++i, c = Next(c)) Unmark(c);
  tailHeads_.insert(tail);
  ++pendingOnFat_;
  return true;
}

std::vector<DiskScan::LostChain> DiskScan::FindLostChains() {
  std::vector<LostChain> chains;
  const uint32_t last = layout_.lastCluster;
  auto lost = [&](uint32_t c) {
    const FatEntryKind kind = Entry(c).kind;
    return InVolume(c) && !Marked(c) &&
           (kind == FatEntryKind::Next || kind == FatEntryKind::End || kind == FatEntryKind::Reserved);
  };
  // A head is a lost cluster no other lost cluster leads to.
  std::vector<uint8_t> led;
  if (!TakeBuffer(options_.budget, led, (uint64_t{last} + 8) / 8)) return chains;
  for (uint32_t c = 2; c <= last; ++c)
    if (const uint32_t n = Next(c); n != 0 && lost(c) && lost(n)) led[n / 8] |= static_cast<uint8_t>(0x80 >> (n % 8));
  auto follow = [&](uint32_t head) {
    LostChain chain{head, 0, tailHeads_.contains(head)};
    // Each cluster joins one chain: a chain that meets another one, or
    // itself, ends before it.
    for (uint32_t c = head; c != 0 && lost(c); c = Next(c)) {
      Mark(c);
      ++chain.length;
    }
    chains.push_back(chain);
  };
  for (uint32_t c = 2; c <= last && !Stopped(); ++c)
    if (lost(c) && (led[c / 8] & (0x80 >> (c % 8))) == 0) follow(c);
  // What is left runs in circles: each circle starts where it is met first.
  for (uint32_t c = 2; c <= last && !Stopped(); ++c)
    if (lost(c)) follow(c);
  return chains;
}

void DiskScan::KeepLostChains() {
  if (result_.lostClusters == 0) return;
  const std::vector<LostChain> all = FindLostChains();
  if (Stopped()) return;
  result_.lostChains = static_cast<uint32_t>(all.size());
  std::vector<LostChain> save, free;
  for (const LostChain& chain : all) (options_.freeLost && !chain.tail ? free : save).push_back(chain);
  bool kept = true;
  if (!free.empty()) {
    if (Ask(FormatText(kScanFreeLost, static_cast<unsigned long>(free.size())).c_str()))
      FreeChains(free);
    else
      kept = false;
  }
  if (!save.empty() && !Stopped()) kept = SaveChains(save) && kept;
  // The lost clusters were one problem left; it is mended when every chain is
  // saved or freed.
  if (kept && !Stopped()) --result_.problemsLeft;
}

void DiskScan::FreeChains(const std::vector<LostChain>& chains) {
  for (const LostChain& chain : chains) {
    uint32_t c = chain.head;
    for (uint32_t i = 0; i < chain.length; ++i) {
      const uint32_t next = Next(c);
      SetEntry(c, 0);
      c = next;
    }
  }
  result_.chainsFreed += static_cast<uint32_t>(chains.size());
  for (const LostChain& chain : chains) result_.lostClustersFreed += chain.length;
  // Nothing points at them: the closing write-back decides.
  ++pendingOnFat_;
}

bool DiskScan::SaveChains(const std::vector<LostChain>& all) {
  const uint64_t clusterBytes = uint64_t{layout_.sectorsPerCluster} * kSectorSize;
  std::vector<LostChain> chains;
  for (const LostChain& chain : all)
    if (chains.size() < kMostChkFiles && chain.length * clusterBytes <= UINT32_MAX) chains.push_back(chain);

  ScanFolder fat32Root;
  ScanFolder* root = &root_;
  if (layout_.width == FatWidth::Fat32) {
    root = &fat32Root;
    if (LoadClusterFolder(access_, volume_, layout_, fat_, layout_.rootCluster, options_.budget, fat32Root) ==
        FolderLoad::NoMemory) {
      Say(kScanFolderNoMemory);
      return false;
    }
  }
  const long slot = FreeSlot(*root);
  const int number = FoundNumber(*root);
  if (slot < 0 || number < 0 || chains.empty()) {
    Say(kScanRootFull);
    return false;
  }

  // The folder: ".", "..", then one entry a chain.
  const uint64_t folderBytes = (chains.size() + 2) * kDirEntrySize;
  const uint32_t folderClusters = static_cast<uint32_t>((folderBytes + clusterBytes - 1) / clusterBytes);
  std::vector<uint8_t> folder;
  if (!TakeBuffer(options_.budget, folder, uint64_t{folderClusters} * clusterBytes)) {
    Say(kScanFolderNoMemory);
    return false;
  }
  std::vector<FatUndo> undo = surplusCuts_;
  journal_ = &undo;
  for (const LostChain& chain : chains) {
    // A chain that ran into another one, or into a file's cluster, ends here.
    uint32_t c = chain.head;
    for (uint32_t i = 1; i < chain.length; ++i) c = Next(c);
    if (Entry(c).kind != FatEntryKind::End) SetEntry(c, kFatEndMark);
  }
  std::vector<uint32_t> own;
  for (uint32_t i = 0; i < folderClusters; ++i) {
    const uint32_t n = FindFreeCluster();
    if (n == 0) break;
    SetEntry(n, kFatEndMark);
    Mark(n);
    if (!own.empty()) SetEntry(own.back(), n);
    own.push_back(n);
  }
  journal_ = nullptr;
  auto giveUp = [&](const char* text) {
    if (text != nullptr) Say(text);
    UndoFat(std::vector<FatUndo>(undo.begin() + static_cast<ptrdiff_t>(surplusCuts_.size()), undo.end()));
    for (const uint32_t n : own) Unmark(n);
    return false;
  };
  if (own.size() < folderClusters) return giveUp(kScanNoSpaceLost);
  char folderName[24];
  std::snprintf(folderName, sizeof folderName, "FOUND.%03d", number);
  if (!Ask(FormatText(kScanSaveLost, static_cast<unsigned long>(chains.size()), folderName).c_str()))
    return giveUp(nullptr);

  const std::time_t now = FileDateNow();
  auto entryAt = [&](size_t i) { return std::span<uint8_t>(folder).subspan(i * kDirEntrySize, kDirEntrySize); };
  PutName(entryAt(0), ".          ");
  PutName(entryAt(1), "..         ");
  for (size_t i = 0; i < 2; ++i) {
    putLe8(entryAt(i), kDirAttributes, kAttrFolder);
    StampDirEntry(entryAt(i), now);
  }
  SetDirEntryFirstCluster(entryAt(0), own.front(), layout_.width);
  for (size_t k = 0; k < chains.size(); ++k) {
    const std::span<uint8_t> e = entryAt(k + 2);
    char name[12];
    std::snprintf(name, sizeof name, "FILE%04uCHK", static_cast<unsigned>(k));
    PutName(e, name);
    putLe8(e, kDirAttributes, kAttrArchive);
    StampDirEntry(e, now);
    SetDirEntryFirstCluster(e, chains[k].head, layout_.width);
    putLe32(e, kDirSize, static_cast<uint32_t>(chains[k].length * clusterBytes));
  }
  for (size_t i = 0; i < own.size(); ++i)
    if (!WriteCluster(own[i], folder.data() + i * clusterBytes)) return giveUp(kScanFixFailed);

  // The root's entry last, after every FAT copy holds the chains' ends, the
  // folder's chain and the tails' cuts (WriteFolderBack's order).
  const size_t at = static_cast<size_t>(slot) * kDirEntrySize;
  const std::span<uint8_t> e = std::span<uint8_t>(root->bytes).subspan(at, kDirEntrySize);
  const bool atEnd = e[0] == kDirEndMark;
  std::fill(e.begin(), e.end(), uint8_t{0});
  char name[24];
  std::snprintf(name, sizeof name, "FOUND   %03d", number);
  PutName(e, name);
  putLe8(e, kDirAttributes, kAttrFolder);
  StampDirEntry(e, now);
  SetDirEntryFirstCluster(e, own.front(), layout_.width);
  // The end mark moves one entry on, so nothing past it comes into view.
  if (atEnd && at + 2 * kDirEntrySize <= root->bytes.size()) root->bytes[at + kDirEntrySize] = kDirEndMark;
  const std::vector<uint8_t> wanted(e.begin(), e.end());
  entryRepairs_.clear();
  entryRepairs_.push_back({at, std::move(undo)});
  ++pendingOnFat_;
  WriteFolderBack(*root);
  entryRepairs_.clear();
  if (!std::equal(wanted.begin(), wanted.end(), root->loaded.begin() + static_cast<ptrdiff_t>(at))) {
    // Taken back whole, the cuts with it: the tails are still the files'.
    for (const uint32_t n : own) Unmark(n);
    result_.problemsLeft += static_cast<uint32_t>(surplusCuts_.size());
    pendingOnFat_ -= static_cast<uint32_t>(surplusCuts_.size());
    surplusCuts_.clear();
    return false;
  }
  // The cuts reached the disk with the save: the closing question no longer decides them.
  pendingOnFat_ -= static_cast<uint32_t>(surplusCuts_.size());
  surplusCuts_.clear();
  result_.chainsSaved += static_cast<uint32_t>(chains.size());
  for (const LostChain& chain : chains) result_.lostClustersSaved += chain.length;
  return chains.size() == all.size();
}

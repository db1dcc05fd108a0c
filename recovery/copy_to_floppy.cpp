#include "recovery/copy_to_floppy.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "disk/boot_sector.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/le.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"
#include "recovery/directory_image.h"
#include "recovery/undelete.h"
#include "disk/dir_entry.h"
#include "disk/memory_budget.h"

namespace {

constexpr FatWidth kFat12 = FatWidth::Fat12;
constexpr uint32_t kBadMark = 0xFF7;
constexpr uint32_t kChainEnd = 0xFFF;

// The source file: its clusters' bytes, in chain order, at least its size.
struct SourceFile {
  DirectoryRow row;
  std::vector<uint8_t> bytes;
};

// The floppy's layout from its boot sector: fixed FAT12 with one sector per
// cluster and two FATs, so data sector i is cluster i + 2.
struct FloppyLayout {
  DrivePacket packet;        // drive 0 from its first sector; startSector per transfer
  uint16_t reserved = 0;
  uint16_t sectorsPerFat = 0;
  uint32_t rootStart = 0;    // R
  uint32_t dataStart = 0;    // F
  uint32_t dataSectors = 0;  // D: clusters 2 to the layout's last cluster
  uint16_t totalSectors = 0;
  std::array<char, 11> label{};  // the boot sector's volume label; empty: none
};

bool Take(std::vector<uint8_t>& buffer, uint64_t bytes) {
  try {
    buffer.assign(bytes, 0);
    return true;
  } catch (const std::bad_alloc&) {
    buffer.clear();
    return false;
  }
}

class CopyRun {
 public:
  explicit CopyRun(ViewContext& ctx) : ctx_(ctx), prompt_(ctx.Prompt()) {}

  CopyToFloppyResult Run(const ListedDirectory& dir, const DirectoryRow& row) {
    if ((row.attributes & kAttrFolder) != 0) {
      prompt_.Message(kCtfFolderRow);
      return result_;
    }
    // Without its writes the run would take every floppy cluster for bad.
    if (ctx_.access.WritesRefused()) {
      prompt_.Message(kDrivesReadOnly);
      return result_;
    }
    SourceFile file;
    file.row = row;
    if (!ReadSource(dir, file)) return result_;
    FloppyLayout floppy;
    if (!PrepareFloppy(floppy)) return result_;
    WriteFloppy(floppy, file);
    return result_;
  }

 private:
  // Steps 1-4: the FAT, the chain and the file's clusters.
  bool ReadSource(const ListedDirectory& dir, SourceFile& file) {
    const DrivePacket& v = dir.node;
    // The file's chain needs only the FAT sectors it lies in, read through
    // the cache: a large volume's FAT is never held for one small file.
    FatReader fat(ctx_.access, ctx_.page.budget, v);
    auto fatFailed = [&] {
      switch (fat.Status()) {
        case FatCopyLoad::NoMemory: prompt_.Message(kCtfNoFatBuffer); return true;
        case FatCopyLoad::Unreadable: prompt_.Message(kCtfFatUnreadable); return true;
        case FatCopyLoad::Loaded: break;
      }
      return false;
    };
    if (fatFailed()) return false;
    const uint32_t start = file.row.firstCluster;
    const uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * kSectorSize;
    if (start == 0 || clusterBytes == 0) return false;  // an empty file: nothing to copy
    const bool deleted = IsDeletedMark(static_cast<uint8_t>(file.row.dosName[0]));
    std::vector<uint32_t> chain;
    if (deleted) {
      // As Undelete would chain it: from its start cluster on, one cluster
      // after another while they are free, for as many as its size needs.
      const uint32_t last = v.lastCluster;
      if (start < 2 || start > last) return false;
      const uint64_t wanted = std::max<uint64_t>(1, (uint64_t{file.row.size} + clusterBytes - 1) / clusterBytes);
      if (!TakeClusterList(ctx_.page.budget, chain, 1)) {
        prompt_.Message(kCtfNoListBuffer);
        return false;
      }
      chain[0] = start;
      for (uint32_t c = start + 1; chain.size() < wanted && c <= last; ++c) {
        if (!GetFatEntry(c, fat).IsFree()) break;
        chain.push_back(c);
      }
      if (fatFailed()) return false;
    } else {
      const uint32_t len = ChainLength(start, fat);
      if (fatFailed() || len == 0) return false;
      if (!TakeClusterList(ctx_.page.budget, chain, len)) {
        prompt_.Message(kCtfNoListBuffer);
        return false;
      }
      (void)ListChain(start, chain, len, fat);
      if (fatFailed()) return false;
    }

    // The image holds the chain's clusters, and never less than the size the
    // entry claims: a chain cut short gives zeros, not bytes from past it.
    const uint64_t bytes = std::max<uint64_t>(chain.size() * clusterBytes,
                                              (uint64_t{file.row.size} + kSectorSize - 1) /
                                                  kSectorSize * kSectorSize);
    if (!ctx_.page.budget.Allows(bytes) || !Take(file.bytes, bytes)) {
      prompt_.Message(kCtfNoFileBuffer);
      return false;
    }
    DrivePacket data = v;
    data.startSector = v.dataStart;
    for (size_t i = 0; i < chain.size(); ++i) {
      const uint32_t one[1] = {chain[i]};
      if (!ReadClusters(ctx_.access, one, data, 1, file.bytes.data() + i * clusterBytes)) {
        prompt_.Message(kCtfClusterUnreadable);
        result_.unreadableClusters.push_back(chain[i]);
      }
    }
    return true;
  }

  // Steps 5-7: the floppy's boot record, its layout and a readable FAT.
  bool PrepareFloppy(FloppyLayout& f) {
    std::array<uint8_t, kSectorSize> boot{};
    if (!ReadFloppyBoot(boot.data())) {
      prompt_.Message(kCtfBootUnreadable);
      return false;
    }
    const std::span<const uint8_t> b(boot);
    const std::optional<VolumeLayout> layout = DecodeVolume(b);
    // Only the floppies the layout fits: every data sector a cluster, a
    // second FAT to keep in step, 12-bit entries, a fixed root, and tracks to
    // address the sectors by.
    const bool fits = layout && layout->width == FatWidth::Fat12 && layout->bytesPerSector == kSectorSize &&
                      layout->sectorsPerCluster == 1 && layout->fatCount == 2 &&
                      layout->sectorsPerFat <= UINT16_MAX && layout->totalSectors <= UINT16_MAX &&
                      layout->rootSectors != 0 && layout->heads != 0 && layout->sectorsPerTrack != 0 &&
                      layout->totalSectors > layout->dataStart;
    if (!fits) {
      prompt_.Message(kCtfNotFat12Floppy);
      return false;
    }
    f.reserved = layout->reservedSectors;
    f.sectorsPerFat = static_cast<uint16_t>(layout->sectorsPerFat);
    f.totalSectors = static_cast<uint16_t>(layout->totalSectors);
    f.rootStart = layout->rootStart;
    f.dataStart = layout->dataStart;
    const uint16_t heads = layout->heads;
    const uint16_t sectorsPerTrack = layout->sectorsPerTrack;
    // An extended boot record (signature 0x29) names the volume; "NO NAME"
    // is no label.
    if (le8(b, kBootExtendedSignature) == 0x29) {
      std::memcpy(f.label.data(), boot.data() + kBootVolumeLabel, 11);
      if (std::string_view(f.label.data(), 11) == "NO NAME    " || f.label[0] == 0 || f.label[0] == ' ')
        f.label.fill(0);
    }
    // Data sector i is cluster i + 2, up to the last cluster the FAT can
    // chain (a FAT too small for every data sector holds no more).
    f.dataSectors = layout->lastCluster - 1;
    f.packet = DrivePacket{};
    f.packet.drive = 0;
    f.packet.sector = 1;
    f.packet.fatType = kFat12;
    f.packet.heads = heads;
    f.packet.sectorsPerTrack = sectorsPerTrack;
    f.packet.sectorsPerCluster = 1;
    f.packet.sectorsPerFat = f.sectorsPerFat;
    f.packet.reservedSectors = f.reserved;
    f.packet.totalSectors = f.totalSectors;
    f.packet.lastCluster = layout->lastCluster;

    if (!Take(newFat_, size_t{f.sectorsPerFat} * kSectorSize) ||
        !Take(scratch_, size_t{f.sectorsPerFat} * kSectorSize)) {
      prompt_.Message(kCtfNoFloppyFat);
      return false;
    }
    if (!Take(block_, size_t{kCopyBlockSectors} * kSectorSize)) {
      prompt_.Message(kCtfNoBlockBuffer);
      return false;
    }
    // A floppy whose FAT cannot be read in either copy is not written at all.
    if (!Transfer(f, f.reserved, f.sectorsPerFat, scratch_.data(), nullptr) &&
        !Transfer(f, f.reserved + f.sectorsPerFat, f.sectorsPerFat, scratch_.data(), nullptr)) {
      prompt_.Message(kCtfBothFatsBad);
      return false;
    }
    return true;
  }

  bool ReadFloppyBoot(uint8_t* boot) {
    DiskAccess& access = ctx_.access;
    prompt_.SetStatus(0, kWaitText);
    if (access.FloppyCount() == 0) return false;
    // Cylinder 0, head 0, sector 1 on the library path, as floppies are addressed.
    const Geometry first{1, 1, 1};
    return access.ReadAbsolute(0, 0, 1, boot, &first);
  }

  bool Transfer(const FloppyLayout& f, uint32_t sector, uint32_t count, uint8_t* into,
                const uint8_t* from) {
    DrivePacket p = f.packet;
    p.startSector = sector;
    p.sectorCount = count;
    return from != nullptr ? WriteSectors(ctx_.access, p, from) : ReadSectors(ctx_.access, p, into);
  }

  // Read, write, read again: a sector that fails any of the three is bad.
  bool TestWrite(const FloppyLayout& f, uint32_t sector, uint32_t count, const uint8_t* from) {
    return Transfer(f, sector, count, block_.data(), nullptr) && Transfer(f, sector, count, nullptr, from) &&
           Transfer(f, sector, count, block_.data(), nullptr);
  }

  // Steps 8-14.
  void WriteFloppy(const FloppyLayout& f, const SourceFile& file) {
    const uint32_t size = file.row.size;
    const uint32_t sectors = static_cast<uint32_t>((uint64_t{size} + kSectorSize - 1) / kSectorSize);
    const uint32_t d = f.dataSectors;
    result_.floppyWritten = true;
    uint32_t i = 0;
    uint32_t written = 0;  // source sectors that found a place
    for (uint64_t o = 0; o < size; o += uint64_t{kCopyBlockSectors} * kSectorSize) {
      if (i >= d) {
        result_.full = true;
        break;
      }
      const uint32_t first = static_cast<uint32_t>(o / kSectorSize);
      const uint32_t k = std::min(kCopyBlockSectors, sectors - first);
      char percent[16];
      std::snprintf(percent, sizeof percent, "%u%%", static_cast<unsigned>(o * 100 / size));
      prompt_.SetStatus(1, percent);
      const uint8_t* source = file.bytes.data() + o;
      if (i + k <= d && TestWrite(f, f.dataStart + i, k, source)) {
        i += k;
        written += k;
        continue;
      }
      for (uint32_t j = 0; j < k; ++j) {
        for (;;) {
          if (i >= d) {
            result_.full = true;  // this source sector has no place left
            break;
          }
          if (TestWrite(f, f.dataStart + i, 1, source + j * kSectorSize)) {
            ++written;
            break;
          }
          (void)SetFatEntry(i + 2, kFat12, newFat_, kBadMark);
          result_.badClusters.push_back(i + 2);
          ++i;
        }
        ++i;
      }
    }
    if (result_.full) prompt_.Message(kCtfFloppyFull);

    // The chain: the free clusters from the lowest, one per sector written.
    // Data sectors were filled in ascending order past exactly the clusters
    // marked bad, so this chain runs through the file's sectors in order; it
    // ends where the free clusters do (entries 0 and 1 are never touched).
    // Data sector i is cluster i + 2: the d data sectors are clusters 2 to d + 1.
    const DrivePacket& volume = f.packet;
    std::vector<uint32_t> chain;
    for (uint32_t n = 0; n < written; ++n) {
      const uint32_t c = FindFreeCluster(volume, newFat_);
      if (c < 2) break;
      (void)SetFatEntry(c, kFat12, newFat_, 1);  // taken, linked below
      chain.push_back(c);
    }
    for (size_t n = 0; n + 1 < chain.size(); ++n) (void)SetFatEntry(chain[n], kFat12, newFat_, chain[n + 1]);
    if (!chain.empty()) (void)SetFatEntry(chain.back(), kFat12, newFat_, kChainEnd);
    newFat_[0] = 0xF0;
    newFat_[1] = 0xFF;
    newFat_[2] = 0xFF;
    result_.firstCluster = chain.empty() ? 0 : chain.front();
    result_.chainClusters = static_cast<uint32_t>(chain.size());
    // A file cut short by a full floppy says no more than its chain holds.
    result_.size = static_cast<uint32_t>(std::min<uint64_t>(size, uint64_t{result_.chainClusters} * kSectorSize));

    for (uint32_t copy = 0; copy < 2; ++copy) {
      const uint32_t at = f.reserved + copy * f.sectorsPerFat;
      if (!Transfer(f, at, f.sectorsPerFat, scratch_.data(), nullptr) ||
          !Transfer(f, at, f.sectorsPerFat, nullptr, newFat_.data()) ||
          !Transfer(f, at, f.sectorsPerFat, scratch_.data(), nullptr)) {
        prompt_.Message(copy == 0 ? kCtfFat1NotWritten : kCtfFat2NotWritten);
        ++result_.failedWrites;
      }
    }

    // Every sector of the root directory: the new entry first, the rest zero,
    // so no old entry survives to claim the clusters the file now holds.
    std::vector<uint8_t> root;
    const uint32_t rootSectors = f.dataStart - f.rootStart;
    if (rootSectors == 0 || !Take(root, size_t{rootSectors} * kSectorSize)) {
      prompt_.Message(kCtfRootNotWritten);
      ++result_.failedWrites;
      return;
    }
    const DirectoryRow& r = file.row;
    std::span<uint8_t> e(root.data(), kDirEntrySize);
    std::memcpy(e.data() + kDirName, r.dosName, kDirNameLength);
    std::memcpy(e.data() + kDirExtension, r.dosName + 9, kDirExtensionLength);
    // A deleted row's lost first character gets Undelete's mark: the copy is
    // a live file that Rename After Recovery can name.
    if (IsDeletedMark(e[0])) e[0] = kRevivedMark;
    putLe8(e, kDirAttributes, r.attributes);
    putLe8(e, 15, static_cast<uint8_t>(r.modifiedTime));
    putLe16(e, kDirCreatedDate, r.createdDate);
    putLe16(e, kDirAccessedDate, r.accessedDate);
    putLe16(e, kDirModifiedTime, r.modifiedTime);
    putLe16(e, kDirModifiedDate, r.modifiedDate);
    putLe16(e, kDirClusterLow, static_cast<uint16_t>(result_.firstCluster));
    putLe32(e, kDirSize, result_.size);
    // The volume's label lives in its boot sector and in the root: a root
    // without it would disagree with the boot sector, so it follows the file.
    if (f.label[0] != 0) {
      std::span<uint8_t> label(root.data() + kDirEntrySize, kDirEntrySize);
      std::memcpy(label.data(), f.label.data(), 11);
      putLe8(label, kDirAttributes, kAttrVolumeLabel);
    }
    if (!Transfer(f, f.rootStart, rootSectors, nullptr, root.data())) {
      prompt_.Message(kCtfRootNotWritten);
      ++result_.failedWrites;
    }
  }

  ViewContext& ctx_;
  PromptPort& prompt_;
  std::vector<uint8_t> newFat_, scratch_, block_;
  CopyToFloppyResult result_;
};

}  // namespace

CopyToFloppyResult CopyToFloppy(ViewContext& ctx, const DrivePacket& node,
                                std::span<const int> rows) {
  ViewPage& pane = ctx.page;
  if (pane.fileDumpShown || rows.empty()) return {};
  const std::optional<ListedDirectory> dir = DirectoryOnShow(pane, node);
  if (!dir) return {};
  const int first = *std::min_element(rows.begin(), rows.end());
  const DirectoryRow* row = first < 0 ? nullptr : RowRecord(pane, static_cast<size_t>(first));
  if (row == nullptr) return {};
  const DirectoryRow copy = *row;  // the listing may be rebuilt by what follows
  CopyToFloppyResult result = CopyRun(ctx).Run(*dir, copy);
  // The percentage ends with the run, wherever it stopped.
  ctx.Prompt().SetStatus(0, "");
  ctx.Prompt().SetStatus(1, "");
  return result;
}

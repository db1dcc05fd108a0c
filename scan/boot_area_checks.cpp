// The scan's checks of a FAT volume's boot area: the boot record against the
// backup a 32-bit volume keeps, the reserved entries FAT[0] and FAT[1], the
// dirty bits, the FSInfo sector and the volume label. Changes to FAT[0] and
// FAT[1] wait in the image for the closing FAT question like the other FAT
// repairs; a changed boot record or FSInfo sector is written at once (every
// write goes through the drive's undo journal).
#include <cstring>

#include "disk/boot_sector.h"
#include "disk/dir_entry.h"
#include "disk/fat_reserved.h"
#include "disk/le.h"
#include "disk/sector_access.h"
#include "scan/disk_scan.h"
#include "scan/scan_texts.h"
#include "views/format_cell.h"

namespace {

// FAT[1]'s flags on 16- and 32-bit volumes: set, the volume was unmounted
// cleanly / met no disk error.
uint32_t CleanBit(FatWidth width) { return width == FatWidth::Fat32 ? 0x08000000 : width == FatWidth::Fat16 ? 0x8000 : 0; }
uint32_t NoErrorBit(FatWidth width) { return width == FatWidth::Fat32 ? 0x04000000 : width == FatWidth::Fat16 ? 0x4000 : 0; }
uint32_t AllOnes(FatWidth width) { return width == FatWidth::Fat32 ? 0x0FFFFFFF : width == FatWidth::Fat16 ? 0xFFFF : 0xFFF; }

// Where the extended block's state and label lie; 0 when the record has no
// extended block (its signature 0x28 or 0x29 missing).
size_t ExtendedField(std::span<const uint8_t> boot, FatWidth width, size_t field16, size_t field32) {
  const bool wide = width == FatWidth::Fat32;
  const uint8_t signature = le8(boot, wide ? kBootExtendedSignature32 : kBootExtendedSignature);
  if (signature != 0x28 && signature != 0x29) return 0;
  return wide ? field32 : field16;
}

// A label as the messages show it: blanks at its end dropped, bytes that are
// no printable ASCII shown as '?'.
std::string LabelText(const uint8_t* label) {
  std::string text(reinterpret_cast<const char*>(label), kBootVolumeLabelLength);
  for (char& ch : text)
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E) ch = '?';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

constexpr const char kNoLabel[] = "NO NAME    ";  // what a record says when the root has no label

}  // namespace

bool DiskScan::AskFix(const std::string& text, uint32_t ScanResult::*count) {
  ++result_.problemsFound;
  ++(result_.*count);
  if (Ask(text.c_str())) return true;
  ++result_.problemsLeft;
  return false;
}

bool DiskScan::WriteBootRecord(std::span<const uint8_t> old) {
  // A volume read by its backup (sector 0 left damaged) keeps its record there.
  if (bootFromBackup_ != 0) return WriteVolumeSector(bootFromBackup_, boot_.data());
  if (!WriteVolumeSector(0, boot_.data())) return false;
  const uint16_t backup = layout_.width == FatWidth::Fat32 ? le16(boot_, kBootBackupSector) : 0;
  if (backup == 0 || backup >= layout_.reservedSectors) return true;
  // A backup that was the record's copy stays its copy.
  uint8_t sector[kSectorSize];
  if (ReadNodeSectors(access_, VolumeNodeOf(volume_), backup, sector) &&
      std::memcmp(sector, old.data(), kSectorSize) == 0 && !WriteVolumeSector(backup, boot_.data()))
    ++result_.problemsLeft;
  return true;
}

void DiskScan::CheckBootArea() {
  const FatWidth width = layout_.width;
  const DrivePacket node = VolumeNodeOf(volume_);
  const uint16_t backup = width == FatWidth::Fat32 ? le16(boot_, kBootBackupSector) : 0;
  // The sectors of the boot area the backup copies, FSInfo's left out: its
  // counts change with every write and no system keeps its copy current.
  auto backedUp = [&](uint32_t k) {
    return backup != 0 && backup + k < layout_.reservedSectors && k != layout_.fsInfoSector &&
           backup + k != layout_.fsInfoSector;
  };
  auto fail = [&] {
    Say(kScanFixFailed);
    ++result_.problemsLeft;
  };

  if (bootFromBackup_ != 0 &&
      AskFix(FormatText(kScanBootFromBackup, static_cast<unsigned long>(bootFromBackup_)),
             &ScanResult::bootRecords)) {
    // Sector 2 goes back with it where it differs from its copy.
    bool written = WriteVolumeSector(0, boot_.data());
    uint8_t copy[kSectorSize], now[kSectorSize];
    if (written && backedUp(2) && ReadNodeSectors(access_, node, bootFromBackup_ + 2, copy) &&
        !(ReadNodeSectors(access_, node, 2, now) && std::memcmp(copy, now, kSectorSize) == 0))
      written = WriteVolumeSector(2, copy);
    if (written)
      bootFromBackup_ = 0;
    else
      fail();
  }

  // FAT[0] holds the media byte with every other bit set.
  const uint8_t media = le8(boot_, kBootMedia);
  const uint32_t fat0 = (AllOnes(width) & ~0xFFu) | media;
  if (ReservedFatEntry(0, width, fat_).value_or(fat0) != fat0 &&
      AskFix(kScanMediaMismatch, &ScanResult::reservedEntries)) {
    SetEntry(0, fat0);
    ++pendingOnFat_;
  }
  // FAT[1] is an end-of-chain mark; 16- and 32-bit volumes keep two flags in
  // its top bits.
  const uint32_t flags = CleanBit(width) | NoErrorBit(width);
  uint32_t fat1 = ReservedFatEntry(1, width, fat_).value_or(AllOnes(width));
  if (!IsFatChainEnd(fat1 | flags, width) && AskFix(kScanFat1NotEnd, &ScanResult::reservedEntries)) {
    fat1 = AllOnes(width);
    SetEntry(1, fat1);
    ++pendingOnFat_;
  }
  const bool fat1Mark = IsFatChainEnd(fat1 | flags, width);
  // Not unmounted cleanly: Linux sets a bit of the record's state byte,
  // other systems clear FAT[1]'s clean bit. Both are made clean, as fsck.fat
  // does after a check.
  const size_t state = ExtendedField(boot_, width, kBootState16, kBootState32);
  const bool stateDirty = state != 0 && (le8(boot_, state) & kBootStateDirty) != 0;
  const bool fatDirty = fat1Mark && CleanBit(width) != 0 && (fat1 & CleanBit(width)) == 0;
  if ((stateDirty || fatDirty) && AskFix(kScanDirty, &ScanResult::dirtyBits)) {
    bool written = true;
    if (stateDirty) {
      const std::vector<uint8_t> old = boot_;
      boot_[state] = static_cast<uint8_t>(boot_[state] & ~kBootStateDirty);
      written = WriteBootRecord(old);
      if (!written) boot_ = old;
    }
    if (fatDirty) {
      fat1 |= CleanBit(width);
      SetEntry(1, fat1);
      ++pendingOnFat_;
    }
    if (!written) fail();
  }
  if (fat1Mark && NoErrorBit(width) != 0 && (fat1 & NoErrorBit(width)) == 0 &&
      AskFix(kScanErrorBit, &ScanResult::dirtyBits)) {
    SetEntry(1, fat1 | NoErrorBit(width));
    ++pendingOnFat_;
  }

  CheckFsInfo();

  // A sound sector 0 whose backup differs: the backup is brought up to it.
  if (bootFromBackup_ != 0 || backup == 0) return;
  std::vector<uint32_t> stale;
  for (const uint32_t k : {0u, 2u}) {
    if (!backedUp(k)) continue;
    uint8_t record[kSectorSize], copy[kSectorSize];
    if (k == 0)
      std::memcpy(record, boot_.data(), kSectorSize);
    else if (!ReadNodeSectors(access_, node, k, record))
      continue;
    if (!ReadNodeSectors(access_, node, backup + k, copy)) continue;
    // The dirty bit is the record's alone: set while mounted, never copied.
    if (k == 0 && state != 0) {
      record[state] &= static_cast<uint8_t>(~kBootStateDirty);
      copy[state] &= static_cast<uint8_t>(~kBootStateDirty);
    }
    if (std::memcmp(record, copy, kSectorSize) != 0) stale.push_back(k);
  }
  if (stale.empty() ||
      !AskFix(FormatText(kScanBackupStale, static_cast<unsigned long>(backup)), &ScanResult::bootRecords))
    return;
  for (const uint32_t k : stale) {
    uint8_t record[kSectorSize];
    const bool read = k == 0 ? (std::memcpy(record, boot_.data(), kSectorSize), true)
                             : ReadNodeSectors(access_, node, k, record);
    if (!read || !WriteVolumeSector(backup + k, record)) {
      fail();
      return;
    }
  }
}

uint16_t DiskScan::FsInfoSector() const {
  const uint16_t at = layout_.fsInfoSector;
  const bool kept = layout_.width == FatWidth::Fat32 && at != 0 && at < layout_.reservedSectors &&
                    at != le16(boot_, kBootBackupSector);
  return kept ? at : 0;
}

uint32_t DiskScan::FreeInImage(uint32_t* first) const {
  uint32_t free = 0;
  if (first != nullptr) *first = kFsInfoUnknown;
  for (uint32_t c = 2; c <= layout_.lastCluster; ++c) {
    if (!Entry(c).IsFree()) continue;
    if (free++ == 0 && first != nullptr) *first = c;
  }
  return free;
}

void DiskScan::CheckFsInfo() {
  const uint16_t at = FsInfoSector();
  uint8_t sector[kSectorSize];
  if (at == 0 || !ReadNodeSectors(access_, VolumeNodeOf(volume_), at, sector)) return;
  const std::span<uint8_t> info(sector);
  uint32_t firstFree = 0;
  const uint32_t free = freeAtLoad_ = FreeInImage(&firstFree);
  const bool signed_ = le32(info, kFsInfoLeadSignature) == kFsInfoLeadValue &&
                       le32(info, kFsInfoStructSignature) == kFsInfoStructValue &&
                       le32(info, kFsInfoTrailSignature) == kFsInfoTrailValue;
  const uint32_t count = le32(info, kFsInfoFreeCount), next = le32(info, kFsInfoNextFree);
  bool fix = false;
  if (!signed_) {
    fix = AskFix(kScanFsInfoSignatures, &ScanResult::fsInfoFaults);
  } else {
    // A count not kept (all ones) is no fault: systems count anew.
    if (count != kFsInfoUnknown && count != free)
      fix = AskFix(FormatText(kScanFsInfoFree, static_cast<unsigned long>(count), static_cast<unsigned long>(free)),
                   &ScanResult::fsInfoFaults);
    if (next != kFsInfoUnknown && !InVolume(next) &&
        AskFix(FormatText(kScanFsInfoNext, static_cast<unsigned long>(next)), &ScanResult::fsInfoFaults))
      fix = true;
  }
  if (!fix) return;
  putLe32(info, kFsInfoLeadSignature, kFsInfoLeadValue);
  putLe32(info, kFsInfoStructSignature, kFsInfoStructValue);
  putLe32(info, kFsInfoTrailSignature, kFsInfoTrailValue);
  putLe32(info, kFsInfoFreeCount, free);
  if (!signed_ || !InVolume(next)) putLe32(info, kFsInfoNextFree, firstFree);
  if (!WriteVolumeSector(at, sector)) {
    Say(kScanFixFailed);
    ++result_.problemsLeft;
  }
}

void DiskScan::KeepFsInfoCount() {
  // Only a FAT on disk that is the image gives the count; the scan's own
  // repairs move it by what they took or gave back, whatever it was before.
  const uint16_t at = FsInfoSector();
  if (at == 0 || !result_.fatWritten) return;
  uint8_t sector[kSectorSize];
  if (!ReadNodeSectors(access_, VolumeNodeOf(volume_), at, sector)) return;
  const std::span<uint8_t> info(sector);
  const uint32_t count = le32(info, kFsInfoFreeCount);
  if (le32(info, kFsInfoLeadSignature) != kFsInfoLeadValue || le32(info, kFsInfoTrailSignature) != kFsInfoTrailValue ||
      count == kFsInfoUnknown)
    return;
  const int64_t moved = int64_t{FreeInImage(nullptr)} - freeAtLoad_;
  if (moved == 0 || int64_t{count} + moved < 0) return;
  putLe32(info, kFsInfoFreeCount, static_cast<uint32_t>(int64_t{count} + moved));
  // A count left stale is a hint only: nothing is lost by it.
  static_cast<void>(WriteVolumeSector(at, sector));
}

void DiskScan::CheckLabels() {
  const size_t field = ExtendedField(boot_, layout_.width, kBootVolumeLabel, kBootVolumeLabel32);
  if (field == 0) return;
  ScanFolder loaded;
  const ScanFolder* root = &root_;
  if (layout_.width == FatWidth::Fat32) {
    if (LoadClusterFolder(access_, volume_, layout_, fat_, layout_.rootCluster, options_.budget, loaded) !=
        FolderLoad::Loaded)
      return;
    root = &loaded;
  } else if (root_.bytes.empty()) {
    return;
  }
  // The root's label: its first entry marked so that is no long-name piece.
  const uint8_t* label = reinterpret_cast<const uint8_t*>(kNoLabel);
  for (size_t i = 0; i < root->entryCount && (i + 1) * 32 <= root->bytes.size(); ++i) {
    const uint8_t* entry = root->bytes.data() + i * 32;
    if (entry[0] == kDirEndMark) break;
    const uint8_t attributes = entry[kDirAttributes];
    if (IsDeletedMark(entry[0]) || attributes == kAttrLongNameMask || (attributes & kAttrVolumeLabel) == 0) continue;
    label = entry;
    break;
  }
  if (std::memcmp(boot_.data() + field, label, kBootVolumeLabelLength) == 0) return;
  if (!AskFix(FormatText(kScanLabelsDiffer, LabelText(boot_.data() + field).c_str(), LabelText(label).c_str()),
              &ScanResult::labelMismatches))
    return;
  const std::vector<uint8_t> old = boot_;
  std::memcpy(boot_.data() + field, label, kBootVolumeLabelLength);
  if (!WriteBootRecord(old)) {
    boot_ = old;
    Say(kScanFixFailed);
    ++result_.problemsLeft;
  }
}

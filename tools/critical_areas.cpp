#include "tools/critical_areas.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <set>

#include "disk/boot_sector.h"
#include "disk/drive_map.h"
#include "disk/fat_codec.h"
#include "disk/first_sector.h"
#include "disk/le.h"
#include "disk/partition_entry.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"
#include "tools/backup_file.h"

namespace {

using Sector = std::array<uint8_t, kSectorSize>;

// The first sector of the hard disk: cylinder 0, head 0, sector 1.
constexpr DiskSectorAddress kMbrAddress{0, 1, 0, 0, true};

// The backup floppy: its boot sector's layout, one FAT copy, and the slots
// in the first sector of clusters 2, 3, ... past the clusters marked bad.
class BackupFloppy {
 public:
  BackupFloppy(DiskAccess& access, uint16_t drive) : access_(access), drive_(drive) {}

  // Reads the boot sector and a FAT copy; the failure's message otherwise.
  const char* Load() {
    SectorLibrary* lib = access_.Library();
    Sector& boot = boot_;
    if (lib == nullptr || lib->ReadSect32(drive_, 0, 0, 1, 1, boot.data(), 0, 0) == 0)
      return kFloppyBootUnreadable;
    const std::span<const uint8_t> b(boot);
    const uint16_t bytesPerSector = le16(b, kBootBytesPerSector);
    sectorsPerCluster_ = le8(b, kBootSectorsPerCluster);
    const uint16_t reserved = le16(b, kBootReservedSectors);
    const uint8_t fats = le8(b, kBootFatCount);
    const uint16_t rootEntries = le16(b, kBootRootEntries);
    const uint16_t sectorsPerFat = le16(b, kBootSectorsPerFat16);
    const uint16_t sectorsPerTrack = le16(b, kBootSectorsPerTrack);
    const uint16_t heads = le16(b, kBootHeads);
    total_ = le16(b, kBootTotalSectors16);
    if (total_ == 0) total_ = le32(b, kBootTotalSectors32);
    // Without these there is no cluster to place a slot in and no track to
    // address a transfer by.
    if (bytesPerSector == 0 || sectorsPerCluster_ == 0 || sectorsPerTrack == 0 || heads == 0)
      return kFloppyNoLayout;

    dataStart_ = reserved + uint32_t{fats} * sectorsPerFat + rootEntries / 16u;
    const uint64_t clusters =
        (uint64_t{total_} * bytesPerSector) / (uint64_t{sectorsPerCluster_} * bytesPerSector);
    // The backup floppy's own rule, kept so that every floppy written so far
    // is read with the slots it was written with.
    width_ = static_cast<uint32_t>(clusters) < 4096 ? FatWidth::Fat12 : FatWidth::Fat16;

    packet_ = DrivePacket{};
    packet_.drive = drive_;
    packet_.sector = 1;
    packet_.heads = heads;
    packet_.sectorsPerTrack = sectorsPerTrack;
    packet_.sectorsPerCluster = sectorsPerCluster_;

    // A FAT that does not lie on the floppy is no FAT to read: its size comes
    // from the boot sector and is checked before the memory is taken.
    if (sectorsPerFat == 0 || uint64_t{reserved} + sectorsPerFat > total_) return kFloppyFatUnreadable;
    fat_.assign(size_t{sectorsPerFat} * kSectorSize, 0);
    DrivePacket copy = packet_;
    copy.startSector = reserved;
    copy.sectorCount = sectorsPerFat;
    if (ReadSectors(access_, copy, fat_.data())) return nullptr;
    copy.startSector = uint32_t{reserved} + sectorsPerFat;
    if (fats >= 2 && uint64_t{copy.startSector} + sectorsPerFat <= total_) {
      std::fill(fat_.begin(), fat_.end(), 0);
      if (ReadSectors(access_, copy, fat_.data())) return nullptr;
    }
    return kFloppyFatUnreadable;
  }

  // The floppy's root directory as a node of its file system, for the
  // backup's own file; nullopt when the boot sector describes no FAT volume
  // that can be walked, or one whose layout differs from the slots' own.
  std::optional<DrivePacket> RootNode() const {
    const std::optional<VolumeLayout> layout = DecodeVolume(boot_);
    if (!layout || layout->width != width_ || layout->dataStart != dataStart_ ||
        layout->sectorsPerCluster != sectorsPerCluster_ || layout->rootSectors == 0)
      return std::nullopt;
    DrivePacket volume = packet_;
    volume.totalSectors = total_;
    volume.fatCount = layout->fatCount;
    return RootFolderNode(volume, *layout);
  }
  const std::vector<uint8_t>& Fat() const { return fat_; }

  // The slot after cluster k: k + 1, then past every cluster marked bad.
  uint32_t Next(uint32_t k) const {
    uint32_t next = k + 1;
    SkipBadEntries(fat_, next, width_);
    return next;
  }

  // The first sector of cluster k; false when it lies past the floppy.
  bool SlotPacket(uint32_t k, DrivePacket& out) const {
    const uint64_t sector = dataStart_ + uint64_t{k - 2} * sectorsPerCluster_;
    if (k < 2 || sector >= total_) return false;
    out = packet_;
    out.startSector = static_cast<uint32_t>(sector);
    out.sectorCount = 1;
    return true;
  }

  bool SlotFits(uint32_t k) const {
    DrivePacket p;
    return SlotPacket(k, p);
  }

  bool ReadSlot(uint32_t k, uint8_t* buffer) const {
    DrivePacket p;
    return SlotPacket(k, p) && ReadSectors(access_, p, buffer);
  }
  bool WriteSlot(uint32_t k, const uint8_t* buffer) const {
    DrivePacket p;
    return SlotPacket(k, p) && WriteSectors(access_, p, buffer);
  }

 private:
  DiskAccess& access_;
  uint16_t drive_;
  DrivePacket packet_;
  uint32_t sectorsPerCluster_ = 0;
  uint32_t dataStart_ = 0;
  uint32_t total_ = 0;
  FatWidth width_ = FatWidth::Fat12;
  std::vector<uint8_t> fat_;
  Sector boot_{};
};

// One hard disk through the sector library, one sector at a time.
class HardDisk {
 public:
  HardDisk(DiskAccess& access, uint16_t drive)
      : lib_(access.Library()), drive_(drive), ext_(access.Int13Extensions(drive)) {}

  // The geometry that judges the entries' CHS bytes: the one the disk's
  // master boot record implies.
  void UseGeometryOf(std::span<const uint8_t> mbr) {
    const Geometry g = GeometryFromMbr(mbr.data(), 0);
    heads_ = g.heads;
    sectorsPerTrack_ = g.sectorsPerTrack;
  }
  uint16_t Heads() const { return heads_; }
  uint16_t SectorsPerTrack() const { return sectorsPerTrack_; }

  bool Read(const DiskSectorAddress& at, uint8_t* buffer) { return Transfer(at, buffer, nullptr); }
  bool Write(const DiskSectorAddress& at, const uint8_t* buffer) {
    return Transfer(at, nullptr, buffer);
  }

 private:
  // Reads into `into`, or writes `from`.
  bool Transfer(const DiskSectorAddress& at, uint8_t* into, const uint8_t* from) {
    if (lib_ == nullptr) return false;
    uint32_t cylinder = at.cylinder, head = at.head, sector = at.sector, ext = ext_;
    // A logical drive's chain may reach past 32-bit sectors: only the LBA
    // reaches there, by the library's 64-bit entry points.
    if (at.lba > UINT32_MAX) {
      if (ext == 0) return false;
      return (from != nullptr
                  ? lib_->WriteSect64(drive_, cylinder, head, sector, 1, from, at.lba, ext)
                  : lib_->ReadSect64(drive_, cylinder, head, sector, 1, into, at.lba, ext)) != 0;
    }
    if (!at.chsMatches && ext == 0) {
      // The stored CHS names another sector (saturated past cylinder 1023):
      // without the extensions the LBA is reached through its own CHS, when
      // it has one.
      if (heads_ == 0 || sectorsPerTrack_ == 0) return false;
      const uint64_t track = at.lba / sectorsPerTrack_;
      const uint64_t c = track / heads_;
      if (c > 1023) return false;
      cylinder = static_cast<uint32_t>(c & 0xFF);
      head = static_cast<uint32_t>(track % heads_);
      sector = static_cast<uint32_t>(at.lba % sectorsPerTrack_ + 1) | static_cast<uint32_t>((c >> 2) & 0xC0);
    }
    // Where the CHS matches, both name the same sector and the library may
    // take either; where it does not, only the LBA is passed as the address.
    const auto lba = static_cast<uint32_t>(at.lba);
    return (from != nullptr ? lib_->WriteSect32(drive_, cylinder, head, sector, 1, from, lba, ext)
                            : lib_->ReadSect32(drive_, cylinder, head, sector, 1, into, lba, ext)) != 0;
  }

  SectorLibrary* lib_;
  uint16_t drive_;
  uint32_t ext_;
  uint16_t heads_ = 255;
  uint16_t sectorsPerTrack_ = 63;
};

// The messages and the end of one run: each ends it, with the status pane
// and the progress text cleared.
class Run {
 public:
  Run(DiskAccess& access, CriticalAreaEvents* events) : prompt_(access.Prompt()), events_(events) {}
  void Progress(const char* text) {
    if (events_ != nullptr) events_->Progress(text);
  }
  CriticalAreaResult& End(const char* message, bool completed) {
    result.completed = completed;
    result.message = message;
    prompt_.Message(message, {}, completed ? PromptIcon::Information : PromptIcon::Exclamation);
    prompt_.SetStatus(0, "");
    Progress("");
    return result;
  }
  CriticalAreaResult result;

 private:
  PromptPort& prompt_;
  CriticalAreaEvents* events_;
};

// A chain whose link leads back to a table already met would repeat for ever:
// it ends there, as at a table without a link.
bool SeenBefore(std::set<uint64_t>& seen, uint64_t lba) { return !seen.insert(lba).second; }

}  // namespace

bool IsBackupFatType(uint8_t type) {
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E: case 0x0F: return true;
    default: return false;
  }
}

bool IsBackupExtendedType(uint8_t type) { return type == 0x05 || type == 0x0F; }

namespace {
int FindEntry(std::span<const uint8_t> table, bool (*match)(uint8_t)) {
  for (size_t i = 0; i < kPartitionEntries; ++i)
    if (match(le8(table, PartitionEntryOffset(i) + kPartType))) return static_cast<int>(i);
  return -1;
}
}  // namespace

int FindFatEntry(std::span<const uint8_t> table) { return FindEntry(table, IsBackupFatType); }
int FindExtendedEntry(std::span<const uint8_t> table) {
  return FindEntry(table, IsBackupExtendedType);
}

DiskSectorAddress EntryAddress(std::span<const uint8_t> table, int index, bool isMbr,
                               uint64_t tableLba, uint64_t extendedBase, uint16_t heads,
                               uint16_t sectorsPerTrack) {
  const size_t e = PartitionEntryOffset(static_cast<size_t>(index));
  DiskSectorAddress a;
  a.head = le8(table, e + kPartStartHead);
  a.sector = le8(table, e + kPartStartSector);
  a.cylinder = le8(table, e + kPartStartCylinder);
  const uint32_t stored = le32(table, e + kPartStartLba);
  if (isMbr)
    a.lba = stored;
  else
    a.lba = (IsBackupExtendedType(le8(table, e + kPartType)) ? extendedBase : tableLba) + stored;
  const uint32_t s = a.sector & 0x3Fu;
  const uint32_t c = a.cylinder | ((a.sector & 0xC0u) << 2);
  a.chsMatches = heads != 0 && sectorsPerTrack != 0 && s >= 1 && s <= sectorsPerTrack &&
                 a.head < heads &&
                 (uint64_t{c} * heads + a.head) * sectorsPerTrack + (s - 1) == a.lba;
  return a;
}

bool OpenCriticalAreaDrives(DiskAccess& access, CriticalAreaTool tool, CriticalAreaDrives& out) {
  const bool backup = tool == CriticalAreaTool::Backup;
  PromptPort& prompt = access.Prompt();
  out = {};
  if (!access.Capabilities().biosTransfers) {
    prompt.Message(backup ? kBackupDirectRefused : kRestoreDirectRefused);
    return false;
  }
  out.floppies = access.FloppyCount();
  if (out.floppies == 0) {
    prompt.Message(backup ? kNoFloppyToBackupTo : kNoFloppyToRestoreFrom);
    return false;
  }
  SectorLibrary* lib = access.Library();
  Sector probe{};
  while (out.hardDisks < 0x80 &&
         lib->ReadSect32(kFirstHardDisk + out.hardDisks, 0, 0, 1, 1, probe.data(), 0, 0) != 0)
    ++out.hardDisks;
  if (out.hardDisks == 0) {
    prompt.Message(backup ? kNoHardDiskToBackup : kNoHardDiskToRestore);
    return false;
  }
  return true;
}

CriticalAreaResult BackupCriticalAreas(DiskAccess& access, const BackupOptions& options,
                                       CriticalAreaEvents* events) {
  Run run(access, events);
  if (!access.Capabilities().biosTransfers)
    return run.End(kBackupDirectRefused, false);
  // Every step writes the floppy: refused before anything is read.
  if (access.WritesRefused()) return run.End(kDrivesReadOnly, false);
  BackupFloppy floppy(access, options.floppy);
  if (const char* failure = floppy.Load()) return run.End(failure, false);
  const std::optional<DrivePacket> floppyRoot = floppy.RootNode();
  if (!floppyRoot) return run.End(kFloppyNoLayout, false);

  HardDisk disk(access, options.hardDisk);
  Sector table{}, boot{}, readBack{};
  if (!disk.Read(kMbrAddress, table.data())) return run.End(kTableUnreadable, false);
  // Only an MBR's entries name what the floppy's slots hold: a GPT's
  // protective entry or a boot record's code bytes would be saved as tables.
  switch (ClassifyFirstSector(table, access.DiskSectors(options.hardDisk)).kind) {
    case FirstSectorKind::ProtectiveMbr: return run.End(kBackupGptRefused, false);
    case FirstSectorKind::FatBootRecord:
    case FirstSectorKind::ExfatBootRecord: return run.End(kBackupWholeDiskRefused, false);
    default: break;
  }
  disk.UseGeometryOf(table);
  const int firstFat = FindFatEntry(table);
  if (firstFat < 0) return run.End(kNoFatPartition, false);
  // The master boot record's entries count from the disk's start; the chain's
  // links from the extended partition its extended entry names.
  const int mbrExtended = FindExtendedEntry(table);
  const uint64_t extendedBase =
      mbrExtended < 0 ? 0 : le32(table, PartitionEntryOffset(size_t(mbrExtended)) + kPartStartLba);
  const DiskSectorAddress firstBoot =
      EntryAddress(table, firstFat, true, 0, extendedBase, disk.Heads(), disk.SectorsPerTrack());
  if (!disk.Read(firstBoot, boot.data())) return run.End(kBootRecordUnreadable, false);
  if (!disk.Read(kMbrAddress, table.data())) return run.End(kTableUnreadable, false);

  // Everything saved is read before the floppy is touched: per table of the
  // chain, the table and its FAT boot record, in slot order.
  struct Saved {
    Sector bytes;
    CriticalAreaResult::Slot slot;
  };
  std::vector<Saved> saved;
  std::vector<uint32_t> slots;
  std::set<uint64_t> seen{0};
  uint64_t tableLba = 0;
  bool isMbr = true;
  for (uint32_t k = 2;;) {
    // The slots: cluster 2, then past every cluster marked bad. A chain that
    // needs more than the floppy holds ends the run before anything is written.
    if (!floppy.SlotFits(k)) return run.End(kBackupWriteFailed, false);
    slots.push_back(k);
    saved.push_back({table, {k, tableLba, false, false}});
    const int fat = FindFatEntry(table);
    DiskSectorAddress bootAt;
    if (fat >= 0) {
      bootAt = EntryAddress(table, fat, isMbr, tableLba, extendedBase, disk.Heads(),
                            disk.SectorsPerTrack());
      if (!disk.Read(bootAt, boot.data())) return run.End(kBootRecordUnreadable, false);
    } else {
      // A table without a FAT entry keeps its slot, zero-filled.
      boot.fill(0);
    }
    k = floppy.Next(k);
    if (!floppy.SlotFits(k)) return run.End(kBackupWriteFailed, false);
    slots.push_back(k);
    saved.push_back({boot, {k, fat >= 0 ? bootAt.lba : 0, true, fat < 0}});
    k = floppy.Next(k);

    const int link = FindExtendedEntry(table);
    if (link < 0) break;
    const DiskSectorAddress next = EntryAddress(table, link, isMbr, tableLba, extendedBase,
                                                disk.Heads(), disk.SectorsPerTrack());
    if (SeenBefore(seen, next.lba)) break;
    if (!disk.Read(next, table.data())) return run.End(kTableUnreadable, false);
    tableLba = next.lba;
    isMbr = false;
  }

  // The slots become CRITICAL.BAK's. Files that lie there now are named and
  // kept unless the person lets them go; the file's own clusters (an
  // earlier backup) are overwritten without a question.
  BackupFile file(access, *floppyRoot, floppy.Fat());
  if (!file.Survey()) return run.End(kFloppyRootUnreadable, false);
  if (!file.RootHasRoom(slots)) return run.End(kFloppyRootFull, false);
  const std::vector<std::string> lost = file.Overwritten(slots);
  if (!lost.empty() &&
      !access.Prompt().AskYesNoDefaultNo(BackupOverwriteQuestion(slots, lost), {}, PromptIcon::Exclamation))
    return run.End(kBackupFilesKept, false);

  for (const Saved& s : saved) {
    run.Progress(s.slot.bootRecord ? kProgressBootRecord : kProgressTable);
    if (!floppy.WriteSlot(s.slot.cluster, s.bytes.data())) return run.End(kBackupWriteFailed, false);
    if (options.verify) {
      readBack.fill(0);
      if (!floppy.ReadSlot(s.slot.cluster, readBack.data()) || readBack != s.bytes)
        return run.End(kFloppyDataError, false);
    }
    run.result.saved.push_back(s.slot);
  }
  switch (file.Commit(slots, FileDateNow())) {
    case BackupFileWrite::Written: break;
    case BackupFileWrite::RootFull: return run.End(kFloppyRootFull, false);
    case BackupFileWrite::WriteFailed: return run.End(kBackupWriteFailed, false);
  }
  return run.End(kBackupDone, true);
}

std::string BackupOverwriteQuestion(std::span<const uint32_t> slots, std::span<const std::string> lost) {
  std::string text = kBackupOverwriteLead;
  text += std::to_string(slots.empty() ? 0 : slots.front()) + " to " +
          std::to_string(slots.empty() ? 0 : slots.back()) +
          ", where these files and folders are now. They would be lost:";
  constexpr size_t kMostNamed = 20;
  for (size_t i = 0; i < lost.size() && i < kMostNamed; ++i) {
    text += "\n" + lost[i];
    if (!lost[i].empty() && lost[i].back() == '/') text += " (with all it holds)";
  }
  if (lost.size() > kMostNamed) text += "\nand " + std::to_string(lost.size() - kMostNamed) + " more";
  text += "\n";
  text += kBackupOverwriteAsk;
  return text;
}

CriticalAreaResult RestoreCriticalAreas(DiskAccess& access, const RestoreOptions& options,
                                        CriticalAreaEvents* events) {
  Run run(access, events);
  if (!access.Capabilities().biosTransfers)
    return run.End(kRestoreDirectRefused, false);
  if (access.WritesRefused()) return run.End(kDrivesReadOnly, false);
  BackupFloppy floppy(access, options.floppy);
  if (const char* failure = floppy.Load()) return run.End(failure, false);
  // A floppy that holds no backup would write its first cluster over the
  // master boot record. Backups made before CRITICAL.BAK have none: theirs
  // is known by the saved table's signature.
  {
    bool saved = false;
    if (const std::optional<DrivePacket> root = floppy.RootNode()) {
      BackupFile file(access, *root, floppy.Fat());
      saved = file.Survey() && file.Exists();
    }
    Sector first{};
    if (!saved) {
      if (!floppy.ReadSlot(2, first.data())) return run.End(kRestoreSlotUnreadable, false);
      if (first[510] != 0x55 || first[511] != 0xAA) return run.End(kRestoreNoBackup, false);
    }
  }

  HardDisk disk(access, options.hardDisk);
  Sector table{}, boot{}, scratch{};
  if (!disk.Read(kMbrAddress, scratch.data())) return run.End(kTableUnreadable, false);
  if (ClassifyFirstSector(scratch, access.DiskSectors(options.hardDisk)).kind ==
      FirstSectorKind::ProtectiveMbr)
    return run.End(kRestoreGptRefused, false);

  std::set<uint64_t> seen{0};
  DiskSectorAddress target = kMbrAddress;
  bool isMbr = true;
  uint64_t extendedBase = 0;
  uint32_t k = 2;
  for (;;) {
    run.Progress(kProgressTable);
    if (!floppy.ReadSlot(k, table.data())) return run.End(kRestoreSlotUnreadable, false);
    if (isMbr) {
      // Every place comes from the saved tables, judged by the geometry the
      // saved master boot record implies: the one on the disk may be gone.
      disk.UseGeometryOf(table);
      const int ext = FindExtendedEntry(table);
      extendedBase = ext < 0 ? 0 : le32(table, PartitionEntryOffset(size_t(ext)) + kPartStartLba);
    }
    run.result.saved.push_back({k, target.lba, false, false});
    if (!disk.Read(target, scratch.data())) return run.End(kTableUnreadable, false);
    if (options.partitionTables) {
      if (!disk.Write(target, table.data())) return run.End(kTableUnreadable, false);
      run.result.written.push_back(target.lba);
    }

    run.Progress(kProgressBootRecord);
    const int fat = FindFatEntry(table);
    DiskSectorAddress bootAt;
    if (fat >= 0) {
      bootAt = EntryAddress(table, fat, isMbr, target.lba, extendedBase, disk.Heads(),
                            disk.SectorsPerTrack());
      if (!disk.Read(bootAt, scratch.data())) return run.End(kBootRecordUnreadable, false);
    }
    k = floppy.Next(k);
    if (!floppy.ReadSlot(k, boot.data())) return run.End(kRestoreSlotUnreadable, false);
    run.result.saved.push_back({k, fat >= 0 ? bootAt.lba : 0, true, fat < 0});
    if (options.bootRecords && fat >= 0) {
      if (!disk.Write(bootAt, boot.data())) return run.End(kBootRecordUnwritable, false);
      run.result.written.push_back(bootAt.lba);
    }

    const int link = FindExtendedEntry(table);
    k = floppy.Next(k);
    if (link < 0) return run.End(kRestoreDone, true);
    const DiskSectorAddress next = EntryAddress(table, link, isMbr, target.lba, extendedBase,
                                                disk.Heads(), disk.SectorsPerTrack());
    if (SeenBefore(seen, next.lba)) return run.End(kRestoreDone, true);
    target = next;
    isMbr = false;
  }
}

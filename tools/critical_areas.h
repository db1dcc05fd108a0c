// Backup and restore of a hard disk's critical areas: its master boot record,
// every extended boot record of the chain, and one FAT boot record per table,
// saved raw into the data area of a FAT floppy (the backup floppy layout) and
// written back from there. Both run on the sector-library path only.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"


inline constexpr const char* kBackupDirectRefused =
    "Sorry Backup not possible with --direct, only through libsect32.so!";
inline constexpr const char* kRestoreDirectRefused =
    "Sorry Restore not possible with --direct, only through libsect32.so!";
inline constexpr const char* kNoFloppyToBackupTo = "No Floppy drives to backup to!";
inline constexpr const char* kNoFloppyToRestoreFrom = "No Floppy drives to restore from!";
inline constexpr const char* kNoHardDiskToBackup = "No Hard drives to backup from!";
inline constexpr const char* kNoHardDiskToRestore = "No Hard drives to be restored!";

inline constexpr const char* kFloppyBootUnreadable = "Floppy disk boot sector not accessible!";
inline constexpr const char* kFloppyNoLayout =
    "Floppy disk boot sector gives no FAT layout (0 bytes per sector, sectors per cluster, "
    "sectors per track or heads)!";
inline constexpr const char* kFloppyFatUnreadable = "Floppy disk FAT not accessible!";
inline constexpr const char* kTableUnreadable = "Hard disk Partition Table not accessible!";
inline constexpr const char* kNoFatPartition = "No known FAT partitions present, cannot backup";
inline constexpr const char* kBackupGptRefused =
    "Backup saves the partition tables of MBR disks only: this is a GPT disk.";
inline constexpr const char* kBackupWholeDiskRefused =
    "Backup saves the partition tables of MBR disks only: this disk is one volume without a "
    "partition table.";
inline constexpr const char* kRestoreGptRefused =
    "Restore writes the partition tables of MBR disks only: this is a GPT disk, whose "
    "protective MBR it would overwrite.";
inline constexpr const char* kBootRecordUnreadable = "Hard disk boot record not accessible!";
inline constexpr const char* kBootRecordUnwritable = "Hard disk Boot Record not accessible!";
inline constexpr const char* kBackupWriteFailed = "Backup failed on the floppy!";
inline constexpr const char* kFloppyDataError = "Data Error on the floppy!";
inline constexpr const char* kRestoreSlotUnreadable = "Restore failed in the floppy!";
inline constexpr const char* kBackupDone = "Backup completed successfully!";
inline constexpr const char* kRestoreDone = "Restore completed successfully!";
// The backup keeps its slots in a file of the floppy, CRITICAL.BAK.
inline constexpr const char* kFloppyRootUnreadable = "Floppy disk root directory not accessible!";
inline constexpr const char* kFloppyRootFull =
    "The floppy's root directory has no free entry for CRITICAL.BAK: nothing was written.";
// The question before slots that hold files are written over: the lead, the
// clusters, the files and folders one a line, then the ask. No by default.
inline constexpr const char* kBackupOverwriteLead = "The backup goes into the floppy's clusters ";
inline constexpr const char* kBackupOverwriteAsk = "Overwrite them?";
inline constexpr const char* kBackupFilesKept = "Backup not made: the floppy's files are kept.";
inline constexpr const char* kRestoreNoBackup =
    "The floppy holds no backup of critical areas: nothing was restored.";
inline constexpr const char* kProgressTable = "Partition Table....";
inline constexpr const char* kProgressBootRecord = "Boot Record....";

// The drives a backup or restore dialog lists: floppies 0 .. floppies - 1 and
// hard disks 0x80 .. 0x80 + hardDisks - 1 (probed until the first that cannot
// be read).
struct CriticalAreaDrives {
  uint32_t floppies = 0;
  uint32_t hardDisks = 0;
};

enum class CriticalAreaTool { Backup, Restore };

// The checks of opening either dialog: the direct path is refused, then a
// machine without floppies or without a readable first hard disk. False after
// the refusal's message; the dialog then closes.
[[nodiscard]] bool OpenCriticalAreaDrives(DiskAccess& access, CriticalAreaTool tool,
                                          CriticalAreaDrives& out);

struct BackupOptions {
  uint16_t floppy = 0;     // BIOS number of the floppy written
  uint16_t hardDisk = 0x80;  // BIOS number of the hard disk saved
  bool verify = false;     // read every written slot back and compare it
};

struct RestoreOptions {
  uint16_t floppy = 0;
  uint16_t hardDisk = 0x80;
  bool partitionTables = true;  // write the master and extended boot records
  bool bootRecords = true;      // write the FAT boot records
};

// What a run did. Every slot written or read is listed, in order, with the
// hard-disk sector it holds; written lists the hard-disk sectors a restore
// wrote.
struct CriticalAreaResult {
  bool completed = false;
  std::string message;  // the last message shown (success or the failure)
  struct Slot {
    uint32_t cluster = 0;    // floppy cluster whose first sector holds it
    uint64_t diskSector = 0;  // absolute LBA on the hard disk (0 for an empty boot slot)
    bool bootRecord = false;  // a boot-record slot (else a partition table)
    bool empty = false;       // a table without a FAT entry: zero-filled / passed over
  };
  std::vector<Slot> saved;
  std::vector<uint64_t> written;
};

// What a running backup or restore tells its front end: the progress line,
// "Partition Table...." or "Boot Record....", and "" when the run ends.
class CriticalAreaEvents {
 public:
  virtual ~CriticalAreaEvents() = default;
  virtual void Progress(std::string_view /*text*/) {}
};

// The backup: the master boot record into cluster 2, then per table its FAT
// boot record and the next extended boot record into the following slots
// (past clusters marked bad). Everything saved is read first; when the slots
// hold files or folders of the floppy, the person is asked (No by default)
// before they are overwritten. The slots then belong to CRITICAL.BAK in the
// floppy's root (an earlier one is overwritten without a question), and the
// files that were in them are removed, so the floppy stays a consistent FAT
// volume. Every failure is reported and ends the run; slots already written
// stay written.
[[nodiscard]] CriticalAreaResult BackupCriticalAreas(DiskAccess& access,
                                                     const BackupOptions& options,
                                                     CriticalAreaEvents* events = nullptr);

// The question asked before slots (their clusters) that hold the files and
// folders `lost` (a folder ending in "/") are written over.
std::string BackupOverwriteQuestion(std::span<const uint32_t> slots, std::span<const std::string> lost);

// The restore: follows the chain of the saved tables, writing each table back
// to the place its saved parent names and each boot record to the place its
// saved table names, as the two groups are asked for. A floppy without
// CRITICAL.BAK whose first slot holds no partition table (no 0x55AA) holds
// no backup: it is refused before anything is written.
[[nodiscard]] CriticalAreaResult RestoreCriticalAreas(DiskAccess& access,
                                                      const RestoreOptions& options,
                                                      CriticalAreaEvents* events = nullptr);

// Where a partition entry's first sector lies on the hard disk: the CHS bytes
// as the entry stores them and the absolute LBA its LBA field gives. The CHS
// counts only where it names the same sector under the drive's geometry;
// past cylinder 1023 the bytes are saturated and the LBA is the address.
struct DiskSectorAddress {
  uint8_t head = 0;
  uint8_t sector = 1;    // bits 0-5 the sector, bits 6-7 cylinder bits 8-9
  uint8_t cylinder = 0;  // cylinder bits 0-7
  uint64_t lba = 0;
  bool chsMatches = true;
};

// The partition types the backup saves a boot record of, and the links of
// the extended chain.
bool IsBackupFatType(uint8_t type);
bool IsBackupExtendedType(uint8_t type);
// The first entry of a table whose type is a FAT (resp. extended) type; -1
// when there is none.
int FindFatEntry(std::span<const uint8_t> table);
int FindExtendedEntry(std::span<const uint8_t> table);
// The first sector of entry `index` of the table at absolute sector
// tableLba: in the master boot record (isMbr) the LBA as stored; in an
// extended boot record links count from extendedBase and every other entry
// from the record itself. heads and sectorsPerTrack judge the CHS bytes.
DiskSectorAddress EntryAddress(std::span<const uint8_t> table, int index, bool isMbr,
                               uint64_t tableLba, uint64_t extendedBase, uint16_t heads,
                               uint16_t sectorsPerTrack);

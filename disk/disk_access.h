// The disk access binding: which path the program uses (the sector library or
// the direct device path), the drives behind the BIOS numbers, the floppy and
// hard-disk counts and whether the drives are ready. One instance, owned by
// main() and passed by reference to everything that moves sectors.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "disk/drive_map.h"
#include "disk/fat_cache.h"
#include "disk/prompt_port.h"
#include "disk/sector_library.h"

// What the bound path offers the commands above it.
struct DiskCapabilities {
  // Transfers by BIOS drive number with a caller's own CHS triple or LBA and
  // extensions flag: the sector library is loaded. Backup and restore work
  // only so.
  bool biosTransfers = false;
  // A removable drive is reopened to see a changed disk (the direct path).
  bool reopensRemovable = false;
};

// The places a view reads whose failure each path words its own way.
enum class UnreadablePlace {
  PartitionTable,  // a partition table view
  BootRecord,      // a boot record view
  OwnSector,       // the dump of a disk, partition or volume node's own sector
  ItemSector,      // the dump of a sector within an item's extent
};

class DiskAccess {
 public:
  explicit DiskAccess(PromptPort& prompt) : prompt_(prompt) {}
  ~DiskAccess();
  DiskAccess(const DiskAccess&) = delete;
  DiskAccess& operator=(const DiskAccess&) = delete;

  PromptPort& Prompt() const { return prompt_; }

  // Path and counts, as the binding set them.
  uint32_t FloppyCount() const { return floppyCount_; }
  uint32_t HardDiskCount() const { return hardDiskCount_; }
  bool DrivesReady() const { return drivesReady_; }
  const std::string& ProgramFolder() const { return programFolder_; }
  // The drive map the binding was made from (the files behind the drives).
  const DriveMapConfig& Drives() const { return drives_; }
  // Set by the binding and the drive listing (and by test rigs binding by hand).
  void SetFloppyCount(uint32_t count) { floppyCount_ = count; }
  void SetHardDiskCount(uint32_t count) { hardDiskCount_ = count; }
  void SetDrivesReady(bool ready) { drivesReady_ = ready; }
  void SetDrives(DriveMapConfig drives) { drives_ = std::move(drives); }
  void SetProgramFolder(std::string folder) { programFolder_ = std::move(folder); }

  // What the bound path can do, for the commands that depend on it.
  DiskCapabilities Capabilities() const;

  // Whole sectors of a drive by absolute number, on whichever path is bound.
  // With `chs` the library is addressed by cylinder, head and sector of that
  // geometry (a floppy laid out as its boot record says); without it by the
  // drive's extensions flag: LBA, else CHS of the drive's geometry. On the
  // direct path the drive is opened first when it is not open. False unless
  // every sector moved.
  [[nodiscard]] bool ReadAbsolute(uint16_t drive, uint64_t sector, uint32_t count, uint8_t* buffer,
                                  const Geometry* chs = nullptr);
  [[nodiscard]] bool WriteAbsolute(uint16_t drive, uint64_t sector, uint32_t count,
                                   const uint8_t* buffer, const Geometry* chs = nullptr);
  // A removable drive's disk may have been changed: on the direct path it is
  // only seen through a new handle, so the drive is closed and opened again
  // (false when it will not open). The library sees the disk as it is: true.
  [[nodiscard]] bool ReopenRemovable(uint16_t drive);
  // Lets go of a removable drive's handle after a command that asks for the
  // next disk (direct path only), so the next one is opened afresh.
  void ReleaseRemovable(uint16_t drive);
  // The message for a sector a view could not read. The paths word some of
  // them differently.
  const char* UnreadableText(UnreadablePlace place) const;

  // Binding helpers: the direct path over a device map, the library path over
  // any SectorLibrary (the loaded libsect32.so or an in-process engine).
  void UseDirect(DeviceMap map);
  void UseLibrary(SectorLibrary* library, std::unique_ptr<SectorLibrary> owned = nullptr);
  // The bound library as every caller must use it: its writes pass NoteWrite
  // first. Null when no library is bound.
  SectorLibrary* Library() { return library_ != nullptr ? &watched_ : nullptr; }
  DeviceMap& Devices() { return devices_; }

  // Device layer of the direct path: the handle table is the device map; a
  // drive's handle is "open" while its device is.
  [[nodiscard]] bool OpenDrive(uint16_t drive);
  void CloseDrive(uint16_t drive);
  bool DriveOpen(uint16_t drive) const;
  // Bytes moved, or -1; fails on a drive that is not open.
  [[nodiscard]] int64_t DeviceRead(uint16_t drive, uint64_t offset, uint8_t* buffer, size_t len);
  [[nodiscard]] int64_t DeviceWrite(uint16_t drive, uint64_t offset, const uint8_t* buffer, size_t len);

  // Whether hard disk `drive` (0x80 + n) exists: on the library path its first
  // sector reads; on the direct path its device opens (and stays open).
  bool HardDiskExists(uint16_t drive);
  // The drive's CHS geometry: decided once, when the drive map was built (on
  // the library path by the library, which is asked), and the only one any
  // CHS triple is made with. False when the drive has none.
  [[nodiscard]] bool DriveGeometry(uint16_t drive, Geometry& out) const;
  // The extensions flag for a drive: the library's answer, 0 on the direct path.
  uint32_t Int13Extensions(uint16_t drive);
  // How many 512-byte sectors a hard disk holds: the device's size on the
  // direct path; on the library path the size of the file or device the
  // drive map names, else the product of the drive's geometry. 0 when not
  // known. The backup GPT header lies at the last of them.
  uint64_t DiskSectors(uint16_t drive);

  // The FAT sectors read so far, kept for later readers; every write through
  // this access drops the ones it reaches.
  FatCache& Fats() { return fats_; }
  // Drops the kept FAT sectors a write of count sectors from absolute sector
  // first reaches. Both roads to a drive call it for every write: DeviceWrite
  // on the direct path and Library()'s WriteSect32 on the library path, so no
  // command has to remember it.
  void NoteWrite(uint16_t drive, uint64_t first, uint64_t count) {
    fats_.Forget(drive, first, count);
  }

  // Whether this run writes nothing (--read-only, or an undo folder that
  // could not be made). Commands that would only half run without their
  // writes ask first and refuse with kDrivesReadOnly.
  bool WritesRefused() const { return drives_.readOnly; }
  // The check of both roads to a drive (DeviceWrite and Library()'s
  // WriteSect32): true when the write must not be tried. The first refusal of
  // the run says why (any thread may write: the flag is atomic).
  bool RefuseWrite() {
    if (!WritesRefused()) return false;
    if (!readOnlySaid_.exchange(true)) prompt_.Message(kDrivesReadOnlyText);
    return true;
  }
  static constexpr const char* kDrivesReadOnlyText =
      "The drives are open read-only: nothing is written to them.";

  // The drive's next write starts an undo file of its own, on either path:
  // a command that must be undone as one (a scan) calls it before its first
  // write and after its last.
  void StartUndoFile(uint16_t drive);

  // Whether the drive's sectors may be read from several threads at once, on
  // the bound path (a raw scan then keeps two reads in flight).
  bool ParallelReads(uint16_t drive) const;

  // Closes every handle and unloads the library (closing the main window).
  void Release();

 private:
  // The sector transfers (disk/sector_access.cpp) choose their road by it.
  friend struct SectorRoads;

  template <bool Write, typename Buf>
  bool MoveAbsolute(uint16_t drive, uint64_t sector, uint32_t count, Buf buffer,
                    const Geometry* chs);

  PromptPort& prompt_;
  std::atomic<bool> readOnlySaid_{false};
  bool useSectorLibrary_ = true;
  uint32_t floppyCount_ = 0;
  uint32_t hardDiskCount_ = 0;
  bool drivesReady_ = false;
  std::string programFolder_;
  DriveMapConfig drives_;
  // Library() hands this out: it forwards to library_ and notes each write.
  class WatchedLibrary final : public SectorLibrary {
   public:
    explicit WatchedLibrary(DiskAccess& access) : access_(access) {}
    uint32_t ReadSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                        uint32_t count, void* buffer, uint32_t lba, uint32_t ext) override;
    uint32_t WriteSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                         uint32_t count, const void* buffer, uint32_t lba, uint32_t ext) override;
    uint32_t ReadSect64(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                        uint32_t count, void* buffer, uint64_t lba, uint32_t ext) override;
    uint32_t WriteSect64(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                         uint32_t count, const void* buffer, uint64_t lba, uint32_t ext) override;
    uint32_t CheckInt13Extension32(uint32_t drive) override;
    uint32_t FloppyCount() override;
    bool DriveGeometry(uint32_t drive, Geometry& out) override;

   private:
    DiskAccess& access_;
  };

  DeviceMap devices_;
  FatCache fats_;
  SectorLibrary* library_ = nullptr;
  WatchedLibrary watched_{*this};
  std::unique_ptr<SectorLibrary> ownedLibrary_;
};

struct BindOptions {
  DriveMapConfig drives;
  std::string programFolder;  // with its trailing '/'
  std::string libraryFile = "libsect32.so";
};

// The start-up binding. On the library path it loads libsect32.so from the
// program folder, looks up its five transfer and test entry points (each missing piece is
// reported and ends the binding with drivesReady false), hands it the drive
// map and asks for the floppy count. On the direct path (options.drives.direct)
// it builds the handle table from the drive map. True when the drives are
// ready and should be listed. With the undo journal on and writing allowed,
// its folder is made first; when it cannot be, that is said and the drives
// are opened read-only.
[[nodiscard]] bool BindDiskAccess(DiskAccess& access, const BindOptions& options);

// The folder of the program named by a command line: a program path in double
// quotes is taken from within them, and everything after its last '/' is cut
// (the folder keeps its trailing '/'); empty when there is no '/'.
std::string ProgramFolderFromCommandLine(const std::string& commandLine);
// The running program's folder (from /proc/self/exe, else argv0).
std::string RunningProgramFolder(const char* argv0);

// The message texts of the binding.
inline constexpr const char* kDrivesReadOnly = DiskAccess::kDrivesReadOnlyText;
inline constexpr const char* kLibraryNotFound = "libsect32.so not found";
inline constexpr const char* kReadSectMissing = "ReadSect32 Function not accessible!";
inline constexpr const char* kWriteSectMissing = "WriteSect32 Function not accessible!";
inline constexpr const char* kReadSect64Missing = "ReadSect64 Function not accessible!";
inline constexpr const char* kWriteSect64Missing = "WriteSect64 Function not accessible!";
inline constexpr const char* kCheckExtMissing = "DllCheckInt13Extension Function not accessible!";
inline constexpr const char* kDriverOpenFailed = "Unable to open libsect32.so drive map";
inline std::string UndoDirUnusableText(const std::string& dir, const std::string& why) {
  return "The undo folder " + dir + " cannot be used (" + why +
         "): the drives are opened read-only. Name another folder with --undo-dir, or write "
         "without undo with --no-undo.";
}

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

class DiskAccess {
 public:
  explicit DiskAccess(PromptPort& prompt) : prompt_(prompt) {}
  ~DiskAccess();
  DiskAccess(const DiskAccess&) = delete;
  DiskAccess& operator=(const DiskAccess&) = delete;

  PromptPort& Prompt() const { return prompt_; }

  // Path and counts, as the binding set them.
  bool useSectorLibrary = true;
  uint32_t floppyCount = 0;
  uint32_t hardDiskCount = 0;  // set by the drive listing
  bool drivesReady = false;
  std::string programFolder;
  // The drive map the binding was made from (the files behind the drives).
  DriveMapConfig drives;

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
  bool WritesRefused() const { return drives.readOnly; }
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

  // Closes every handle and unloads the library (closing the main window).
  void Release();

 private:
  PromptPort& prompt_;
  std::atomic<bool> readOnlySaid_{false};
  // Library() hands this out: it forwards to library_ and notes each write.
  class WatchedLibrary final : public SectorLibrary {
   public:
    explicit WatchedLibrary(DiskAccess& access) : access_(access) {}
    uint32_t ReadSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                        uint32_t count, void* buffer, uint32_t lba, uint32_t ext) override;
    uint32_t WriteSect32(uint32_t drive, uint32_t cylinder, uint32_t head, uint32_t sector,
                         uint32_t count, const void* buffer, uint32_t lba, uint32_t ext) override;
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
// program folder, looks up its three entry points (each missing piece is
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
inline constexpr const char* kCheckExtMissing = "DllCheckInt13Extension Function not accessible!";
inline constexpr const char* kDriverOpenFailed = "Unable to open libsect32.so drive map";
inline std::string UndoDirUnusableText(const std::string& dir, const std::string& why) {
  return "The undo folder " + dir + " cannot be used (" + why +
         "): the drives are opened read-only. Name another folder with --undo-dir, or write "
         "without undo with --no-undo.";
}

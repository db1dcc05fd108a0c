// Disk Copy: a floppy read into memory once (in large runs through the raw
// road, a reader ahead, taken track by track), then written onto
// as many targets as the person brings, one after another, each optionally
// read back and compared. The work runs on a worker thread; it speaks only
// through the prompt port and the control's progress and end calls.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"


inline constexpr const char* kCopyBootUnreadable = "Boot Record not accessible!!";
inline constexpr const char* kCopyNoGeometry =
    "Boot Record gives no disk geometry (0 heads or 0 sectors per track)!!";
inline constexpr const char* kCopyNoMemory = "Could not allocate main memory!";
inline constexpr const char* kCopyReadFailure = "Disk failure during read operation!!";
inline constexpr const char* kCopyWriteFailure = "Disk failure during write operation!!";
inline constexpr const char* kCopyNoVerifyMemory = "Could not allocate Verify memory!";
inline constexpr const char* kCopyCompareFailed = "Compare failed!!";
inline constexpr const char* kCopyStopQuestion = "Stop Operation?";
// After the read pass, when sectors of the source stayed unreadable (their
// number): the copies get filler bytes there, never passed off as data.
inline constexpr const char* kCopyUnreadableSectors =
    "%u sectors of the source could not be read: the copies hold filler bytes (E5) in their place!";
// After a target's write pass, when sectors of it could not be written even
// one by one (their number): that target is no whole copy.
inline constexpr const char* kCopyUnwrittenSectors =
    "%u sectors of the target could not be written: it is not a whole copy!";
inline constexpr const char* kCopyInsertTarget = "Insert the target disk in drive and press OK";
inline constexpr const char* kCopyAnother = "Copy over!  Write to another disk?";
inline constexpr const char* kCopyInProgress =
    "Disk Copying in progress!  Press X again after it ends!!";
inline constexpr const char* kCopyTargetIsSource =
    "The target is the source disk's own image: it is not written!";
inline constexpr const char* kCopyTargetNotOpened = "The target image cannot be opened!";
// A target that is another drive open in the program: the path, then the
// drive ("Hard Disk", 1).
inline constexpr const char* kCopyTargetIsOpenDrive =
    "The target %s is %s %u, open in this program: it is not written!";

struct DiskCopyOptions {
  uint16_t floppy = 0;  // BIOS number of the source floppy
  bool verify = false;
};

// The source's geometry, from its boot sector: total sectors T (16-bit at
// 19), sectors per track P (24), heads H (26); L = T / (H * P) cylinders are
// copied, L * H * P sectors.
struct DiskCopyGeometry {
  uint32_t totalSectors = 0;
  uint16_t sectorsPerTrack = 0;
  uint16_t heads = 0;
  uint32_t cylinders = 0;
};

// What the dialog or the CLI hands the worker.
struct DiskCopyControl {
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  // When set, the targets are image files: each call gives the next one's
  // path, or nothing (no more targets), in place of asking for a disk to be
  // inserted in the drive.
  std::function<std::optional<std::string>()> nextImage;
  // The progress bar: its position within 0 .. range.
  std::function<void(uint32_t position, uint32_t range)> progress;
  // The copy is over, whatever ended it (the bar told 0 just before): what
  // started it may act again.
  std::function<void()> ended;
};

struct DiskCopyResult {
  bool readPassDone = false;
  uint32_t targetsWritten = 0;  // targets whose write pass ran to its end
  // Tracks whose whole-track transfer or compare failed (the answers may
  // still have gone on: a target can then lack sectors).
  uint32_t failedTracks = 0;
  // Tracks whose whole-track transfer failed and was answered Ignore: only
  // the sectors the sector-wise pass moved are in place.
  uint32_t ignoredTracks = 0;
  // Source sectors that could not be read, each tried on its own: the
  // targets hold kRawUnreadableFill there.
  uint32_t unreadableSectors = 0;
  // Target sectors that could not be written, each tried on its own, over
  // all targets.
  uint32_t unwrittenSectors = 0;
  bool stopped = false;  // "Stop Operation?" answered Yes, or out of memory
};

// Starting a copy: reads the source's boot sector (through the path the
// program runs on) and takes its geometry. False, after the message, when
// the sector cannot be read or gives no geometry: nothing is started.
[[nodiscard]] bool StartDiskCopy(DiskAccess& access, const DiskCopyOptions& options,
                                 DiskCopyGeometry& geometry);

// The worker: the read pass, then the target loop until the person wants no
// more targets. Sets control.running while it runs and tells control.ended
// at its end.
[[nodiscard]] DiskCopyResult RunDiskCopy(DiskAccess& access, const DiskCopyOptions& options,
                                         const DiskCopyGeometry& geometry,
                                         DiskCopyControl& control);

// Why path may not be a target: it is the source floppy's own image, or the
// image or device of another drive the program has open (whose disk would
// be overwritten under it). Empty when it may be written.
std::string DiskCopyTargetRefusal(const DiskAccess& access, uint16_t sourceFloppy,
                                  const std::string& path);

// Whether floppy drive n is an image file (a regular file), whose targets are
// then image files too.
bool FloppyIsImageFile(const DiskAccess& access, uint16_t floppy);

#include "tools/disk_copy.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "disk/boot_sector.h"
#include "disk/device.h"
#include "disk/guarded_device.h"
#include "disk/undo_journal.h"
#include "disk/le.h"
#include "disk/raw_road.h"

namespace {

// Whole tracks and single sectors of one disk, by cylinder, head and sector
// (1-based) within the source's geometry.
class TrackIo {
 public:
  virtual ~TrackIo() = default;
  virtual bool Read(uint32_t c, uint32_t h, uint32_t s, uint32_t count, uint8_t* into) = 0;
  virtual bool Write(uint32_t c, uint32_t h, uint32_t s, uint32_t count, const uint8_t* from) = 0;
};

// The floppy drive itself, on the path the program runs on: the library by
// CHS (as every floppy is addressed), or the device at byte offsets.
class DriveTrackIo final : public TrackIo {
 public:
  DriveTrackIo(DiskAccess& access, uint16_t drive, const DiskCopyGeometry& g)
      : access_(access), drive_(drive), g_(g) {}
  bool Read(uint32_t c, uint32_t h, uint32_t s, uint32_t count, uint8_t* into) override {
    return Move(c, h, s, count, into, nullptr);
  }
  bool Write(uint32_t c, uint32_t h, uint32_t s, uint32_t count, const uint8_t* from) override {
    return Move(c, h, s, count, nullptr, from);
  }

 private:
  bool Move(uint32_t c, uint32_t h, uint32_t s, uint32_t count, uint8_t* into, const uint8_t* from) {
    const Geometry chs{g_.cylinders, g_.heads, g_.sectorsPerTrack};
    const uint64_t sector = (uint64_t{c} * g_.heads + h) * g_.sectorsPerTrack + (s - 1);
    return from != nullptr ? access_.WriteAbsolute(drive_, sector, count, from, &chs)
                           : access_.ReadAbsolute(drive_, sector, count, into, &chs);
  }

  DiskAccess& access_;
  uint16_t drive_;
  DiskCopyGeometry g_;
};

// A target image file, laid out as the source's tracks.
class FileTrackIo final : public TrackIo {
 public:
  FileTrackIo(Device& device, const DiskCopyGeometry& g) : device_(device), g_(g) {}
  bool Read(uint32_t c, uint32_t h, uint32_t s, uint32_t count, uint8_t* into) override {
    const uint64_t len = uint64_t{count} * kSectorSize;
    return device_.ReadAt(Offset(c, h, s), into, len) == static_cast<int64_t>(len);
  }
  bool Write(uint32_t c, uint32_t h, uint32_t s, uint32_t count, const uint8_t* from) override {
    const uint64_t len = uint64_t{count} * kSectorSize;
    return device_.WriteAt(Offset(c, h, s), from, len) == static_cast<int64_t>(len);
  }

 private:
  uint64_t Offset(uint32_t c, uint32_t h, uint32_t s) const {
    return ((uint64_t{c} * g_.heads + h) * g_.sectorsPerTrack + (s - 1)) * kSectorSize;
  }
  Device& device_;
  DiskCopyGeometry g_;
};

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

class CopyRun {
 public:
  CopyRun(DiskAccess& access, const DiskCopyOptions& options, const DiskCopyGeometry& g,
          DiskCopyControl& control)
      : access_(access), prompt_(access.Prompt()), options_(options), g_(g), control_(control) {}

  DiskCopyResult Run() {
    const uint64_t bytes = uint64_t{g_.totalSectors} * kSectorSize;
    try {
      image_.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
      prompt_.Message(kCopyNoMemory);
      result_.stopped = true;
      return result_;
    }
    const uint64_t trackBytes = uint64_t{g_.sectorsPerTrack} * kSectorSize;
    Progress(0);

    {
      // The source streams in large runs; a track is a piece of them.
      const DrivePacket drive = SourceNode();
      RawReader source(access_, drive, 0, uint64_t{g_.cylinders} * g_.heads * g_.sectorsPerTrack);
      for (uint32_t c = 0; c < g_.cylinders; ++c) {
        for (uint32_t h = 0; h < g_.heads; ++h) {
          if (!SourceTrack(source, drive, c, h, image_.data() + TrackIndex(c, h) * trackBytes) &&
              StopAsked())
            return result_;
        }
        Step();
      }
    }
    result_.readPassDone = true;
    if (result_.unreadableSectors > 0) {
      char text[160];
      std::snprintf(text, sizeof text, kCopyUnreadableSectors, static_cast<unsigned>(result_.unreadableSectors));
      prompt_.Message(text);
    }
    Progress(0);

    for (;;) {
      std::unique_ptr<Device> file;
      std::unique_ptr<TrackIo> target;
      if (control_.nextImage) {
        const std::optional<std::string> path = control_.nextImage();
        if (!path) return result_;
        target = OpenImage(*path, file);
      } else {
        prompt_.Message(kCopyInsertTarget, {}, PromptIcon::Information);
        // A changed disk is only seen through a handle opened after it.
        if (!access_.ReopenRemovable(options_.floppy))
          prompt_.Message(kCopyBootUnreadable);
        else
          target = std::make_unique<DriveTrackIo>(access_, options_.floppy, g_);
      }
      if (target) {
        bool whole = true;
        for (uint32_t c = 0; c < g_.cylinders && whole; ++c) {
          for (uint32_t h = 0; h < g_.heads; ++h) {
            if (!TrackWrite(*target, c, h, image_.data() + TrackIndex(c, h) * trackBytes) &&
                StopAsked()) {
              whole = false;
              break;
            }
          }
          if (whole) Step();
        }
        if (!control_.nextImage) access_.ReleaseRemovable(options_.floppy);
        if (unwritten_ > 0) {
          // This target lacks those sectors: said before the next is asked for.
          result_.unwrittenSectors += unwritten_;
          char text[160];
          std::snprintf(text, sizeof text, kCopyUnwrittenSectors, static_cast<unsigned>(unwritten_));
          prompt_.Message(text);
          unwritten_ = 0;
        }
        if (!whole) return result_;
        ++result_.targetsWritten;
      }
      if (!prompt_.AskYesNo(kCopyAnother)) return result_;
    }
  }

 private:
  uint64_t TrackIndex(uint32_t c, uint32_t h) const { return uint64_t{c} * g_.heads + h; }

  void Progress(uint32_t position) {
    position_ = position;
    if (control_.progress) control_.progress(position_, g_.cylinders);
  }
  // One step a cylinder; past the end the bar starts over, as it is not set
  // back between targets.
  void Step() { Progress(position_ >= g_.cylinders ? 1 : position_ + 1); }

  // "Stop Operation?": Yes ends the copy; No clears the stop flag and the
  // copy goes on with the next track.
  bool StopAsked() {
    ++result_.failedTracks;
    if (prompt_.AskYesNo(kCopyStopQuestion)) {
      result_.stopped = true;
      return true;
    }
    control_.stop = false;
    return false;
  }

  // The whole-track transfer, asked about until it moves, is given up or
  // ignored; then, unless given up, the sector-wise pass, whose sectors
  // that would not move it counts in failedSectors. False when the track
  // failed.
  bool TrackTransfer(TrackIo& io, uint32_t c, uint32_t h, uint8_t* into, const uint8_t* from,
                     uint32_t& failedSectors) {
    const uint32_t p = g_.sectorsPerTrack;
    if (control_.stop) return false;
    for (;;) {
      const bool moved = from != nullptr ? io.Write(c, h, 1, p, from) : io.Read(c, h, 1, p, into);
      if (moved) break;
      const PromptAnswer a =
          prompt_.AskAbortRetryIgnore(from != nullptr ? kCopyWriteFailure : kCopyReadFailure);
      if (a == PromptAnswer::Abort) return false;
      if (a == PromptAnswer::Ignore) {
        ++result_.ignoredTracks;
        break;
      }
      if (control_.stop) return false;
    }
    // The sector-wise pass recovers every sector that can still be moved;
    // the ones that cannot are counted, never passed off as moved.
    failedSectors = 0;
    for (uint32_t s = 1; s <= p; ++s) {
      const uint64_t at = uint64_t{s - 1} * kSectorSize;
      const bool moved = from != nullptr ? io.Write(c, h, s, 1, from + at) : io.Read(c, h, s, 1, into + at);
      if (!moved) ++failedSectors;
    }
    return true;
  }

  // The source floppy as one extent from its sector 0.
  DrivePacket SourceNode() const {
    DrivePacket drive;
    drive.drive = options_.floppy;
    drive.kind = NodeKind::Volume;
    drive.sector = 1;
    drive.sectorCount = g_.cylinders * g_.heads * g_.sectorsPerTrack;
    return drive;
  }

  // A source track from the runs read ahead, its unreadable sectors already
  // tried one by one. While some stay unreadable: Abort gives the track up,
  // Retry reads it again, Ignore keeps the filler in their place and counts
  // them. False when the track is given up.
  bool SourceTrack(RawReader& reader, const DrivePacket& drive, uint32_t c, uint32_t h, uint8_t* into) {
    if (control_.stop) return false;
    const uint64_t first = TrackIndex(c, h) * g_.sectorsPerTrack;
    const std::span<uint8_t> track(into, size_t{g_.sectorsPerTrack} * kSectorSize);
    std::vector<uint64_t> unreadable;
    bool whole = reader.Read(first, track, unreadable);
    // The track's bytes reach the targets whatever the answer (a track given
    // up too, when the copy goes on): its unreadable sectors are counted.
    while (!whole) {
      const PromptAnswer a = prompt_.AskAbortRetryIgnore(kCopyReadFailure);
      if (a == PromptAnswer::Abort || (a != PromptAnswer::Ignore && control_.stop)) {
        result_.unreadableSectors += static_cast<uint32_t>(unreadable.size());
        return false;
      }
      if (a == PromptAnswer::Ignore) {
        ++result_.ignoredTracks;
        result_.unreadableSectors += static_cast<uint32_t>(unreadable.size());
        break;
      }
      unreadable.clear();
      whole = ReadRawSectors(access_, drive, first, track, unreadable);
    }
    return true;
  }

  // A read-back: false also when a sector would not read, whatever the
  // buffer then holds (it may equal the source by chance).
  bool TrackRead(TrackIo& io, uint32_t c, uint32_t h, uint8_t* into) {
    uint32_t failed = 0;
    return TrackTransfer(io, c, h, into, nullptr, failed) && failed == 0;
  }

  bool TrackWrite(TrackIo& io, uint32_t c, uint32_t h, const uint8_t* from) {
    uint32_t failed = 0;
    if (!TrackTransfer(io, c, h, nullptr, from, failed)) return false;
    unwritten_ += failed;
    if (!options_.verify) return true;
    std::vector<uint8_t> back;
    try {
      back.assign(size_t{g_.sectorsPerTrack} * kSectorSize, 0);
    } catch (const std::bad_alloc&) {
      prompt_.Message(kCopyNoVerifyMemory);
      return false;
    }
    if (!TrackRead(io, c, h, back.data()) || !std::equal(back.begin(), back.end(), from)) {
      prompt_.Message(kCopyCompareFailed);
      return false;
    }
    return true;
  }

  std::unique_ptr<TrackIo> OpenImage(const std::string& path, std::unique_ptr<Device>& file) {
    if (const std::string refusal = DiskCopyTargetRefusal(access_, options_.floppy, path); !refusal.empty()) {
      prompt_.Message(refusal);
      return nullptr;
    }
    // A new image is made the source's size; a smaller one grows to it.
    struct stat st {};
    const uint64_t bytes = uint64_t{g_.totalSectors} * kSectorSize;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists || (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) < bytes)) {
      FILE* f = std::fopen(path.c_str(), exists ? "r+b" : "wb");
      const bool sized = f != nullptr && ::ftruncate(::fileno(f), static_cast<off_t>(bytes)) == 0;
      if (f != nullptr) std::fclose(f);
      if (!sized) {
        prompt_.Message(kCopyTargetNotOpened);
        return nullptr;
      }
    }
    // An image that held something keeps an undo file of what is written
    // over it, as every drive's writes do; a new one held nothing.
    const DriveMapConfig& drives = access_.Drives();
    std::unique_ptr<UndoJournal> journal;
    if (exists && drives.undo)
      journal = std::make_unique<UndoJournal>(drives.undoDir.empty() ? DefaultUndoDir() : drives.undoDir, path);
    file = std::make_unique<GuardedDevice>(std::make_unique<FileDevice>(path, false), nullptr,
                                           std::move(journal));
    if (!file->Open() || !file->Writable()) {
      prompt_.Message(kCopyTargetNotOpened);
      return nullptr;
    }
    return std::make_unique<FileTrackIo>(*file, g_);
  }

  DiskAccess& access_;
  PromptPort& prompt_;
  DiskCopyOptions options_;
  DiskCopyGeometry g_;
  DiskCopyControl& control_;
  std::vector<uint8_t> image_;
  uint32_t position_ = 0;
  uint32_t unwritten_ = 0;  // the current target's sectors that would not be written
  DiskCopyResult result_;
};

}  // namespace

std::string DiskCopyTargetRefusal(const DiskAccess& access, uint16_t sourceFloppy,
                                  const std::string& path) {
  const DriveMapConfig& drives = access.Drives();
  if (sourceFloppy < drives.floppies.size() && SameFile(path, drives.floppies[sourceFloppy]))
    return kCopyTargetIsSource;
  auto refuse = [&](const char* kind, size_t n) {
    char text[512];
    std::snprintf(text, sizeof text, kCopyTargetIsOpenDrive, path.c_str(), kind, static_cast<unsigned>(n + 1));
    return std::string(text);
  };
  for (size_t i = 0; i < drives.floppies.size(); ++i)
    if (SameFile(path, drives.floppies[i])) return refuse("Floppy Disk", i);
  for (size_t i = 0; i < drives.disks.size(); ++i)
    if (SameFile(path, drives.disks[i])) return refuse("Hard Disk", i);
  return {};
}

bool FloppyIsImageFile(const DiskAccess& access, uint16_t floppy) {
  const auto& floppies = access.Drives().floppies;
  if (floppy >= floppies.size()) return false;
  struct stat st {};
  return ::stat(floppies[floppy].c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool StartDiskCopy(DiskAccess& access, const DiskCopyOptions& options, DiskCopyGeometry& geometry) {
  PromptPort& prompt = access.Prompt();
  // The targets, drive or image files, are written: nothing to start.
  if (access.WritesRefused()) {
    prompt.Message(kDrivesReadOnly);
    return false;
  }
  std::array<uint8_t, kSectorSize> boot{};
  // A disk changed since the drive was opened is seen through a new handle.
  const Geometry first{1, 1, 1};
  const bool read = access.ReopenRemovable(options.floppy) &&
                    access.ReadAbsolute(options.floppy, 0, 1, boot.data(), &first);
  if (!read) {
    prompt.Message(kCopyBootUnreadable);
    return false;
  }
  const std::span<const uint8_t> b(boot);
  geometry = DiskCopyGeometry{};
  geometry.totalSectors = le16(b, kBootTotalSectors16);
  geometry.sectorsPerTrack = le16(b, kBootSectorsPerTrack);
  geometry.heads = le16(b, kBootHeads);
  if (geometry.sectorsPerTrack == 0 || geometry.heads == 0) {
    prompt.Message(kCopyNoGeometry);
    return false;
  }
  geometry.cylinders = geometry.totalSectors / (uint32_t{geometry.heads} * geometry.sectorsPerTrack);
  return true;
}

DiskCopyResult RunDiskCopy(DiskAccess& access, const DiskCopyOptions& options,
                           const DiskCopyGeometry& geometry, DiskCopyControl& control) {
  control.running = true;
  control.stop = false;
  DiskCopyResult result = CopyRun(access, options, geometry, control).Run();
  // Back to idle, whatever ended the copy.
  if (control.progress) control.progress(0, geometry.cylinders);
  if (control.ended) control.ended();
  control.running = false;
  return result;
}

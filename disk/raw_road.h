// The one road for raw scans (the raw search, carving and the lost-folder
// search): sectors of a node's extent read in large runs, each run handed on
// with the sectors that could not be read, so that no scan ever takes the
// filler bytes of a failed sector for data.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"

// A run of a megabyte: large enough that a disk streams, small enough to keep
// a reader ahead of the work without holding much.
inline constexpr uint32_t kRawRunSectors = 2048;

// What an unreadable sector's bytes are left as (the program shows failed
// sectors so everywhere); never data.
inline constexpr uint8_t kRawUnreadableFill = 0xE5;

// Reads buffer.size() / 512 sectors from sector `first` of node's extent
// (startSector onwards). The whole run is asked for at once (the bound path
// cuts it as it must); when that fails, every sector is read again on its own
// and the ones that still fail are appended to unreadable (numbers counted as
// `first` is) with their bytes set to kRawUnreadableFill. Sectors past 32-bit
// numbers are unreadable. True when every sector was read.
[[nodiscard]] bool ReadRawSectors(DiskAccess& access, const DrivePacket& node, uint64_t first,
                                  std::span<uint8_t> buffer, std::vector<uint64_t>& unreadable);

// The memory of runs read ahead: one block for all of them, in huge pages
// where the system gives them. A fresh megabyte in small pages costs 256
// page faults, which the first runs of a cold scan would otherwise wait on,
// and the copies into it as many page-table walks. Run i starts i * runBytes
// into a block aligned to 2 MiB: runs of a megabyte or more start on a page,
// so a drive may read them past the page cache.
class RunMemory {
 public:
  static constexpr size_t kHugePage = size_t{2} << 20;
  RunMemory(size_t runs, size_t runBytes);
  ~RunMemory();
  RunMemory(const RunMemory&) = delete;
  RunMemory& operator=(const RunMemory&) = delete;
  uint8_t* Run(size_t i) const { return block_ + i * runBytes_; }

 private:
  size_t runBytes_;
  uint8_t* block_ = nullptr;
};

// How many threads a raw scan of the drive reads with: two where the drive
// may be read from several threads at once (the second read in flight keeps
// a disk read past the page cache streaming), else one.
size_t RawReaders(const DiskAccess& access, uint16_t drive);

// One run as a scan gets it.
struct RawRun {
  uint64_t first = 0;                     // its first sector, counted as the range is
  std::span<const uint8_t> bytes;         // whole sectors
  std::span<const uint64_t> unreadable;   // its sectors that could not be read, in order
  bool whole = true;                      // every sector read (unreadable is empty)
  uint64_t Sectors() const { return bytes.size() / kSectorSize; }
  // Whether bytes [from, from + length) of the run touch a sector that could
  // not be read.
  bool TouchesUnreadable(uint64_t from, uint64_t length) const;
};

struct RawRoadOptions {
  uint32_t runSectors = kRawRunSectors;   // at least 1
  const std::atomic<bool>* stop = nullptr;  // polled before each run
};

struct RawRoadTotals {
  uint64_t sectorsRead = 0;         // handed on, unreadable ones included
  uint64_t unreadableSectors = 0;
  bool stopped = false;
};

// Reads sectors [first, first + count) of node's extent in runs and hands
// each to visit, in order; visit answers false to end the reading there.
// Reader threads read up to seven runs ahead of visit (two readers where the
// drive allows reads from several threads, so that two reads are in flight);
// visit runs on the caller's thread.
RawRoadTotals ForEachRawRun(DiskAccess& access, const DrivePacket& node, uint64_t first,
                            uint64_t count, const RawRoadOptions& options,
                            const std::function<bool(const RawRun&)>& visit);

// Sectors [first, first + count) of node's extent read ahead in runs on
// reader threads (as ForEachRawRun reads them), served to a scan that asks for them in smaller pieces, in
// order (a piece may begin again inside the one before, as the search's
// overlapping blocks do). What the scan gets is what ReadRawSectors gives.
class RawReader {
 public:
  RawReader(DiskAccess& access, const DrivePacket& node, uint64_t first, uint64_t count,
            const RawRoadOptions& options = {});
  ~RawReader();
  RawReader(const RawReader&) = delete;
  RawReader& operator=(const RawReader&) = delete;
  // As ReadRawSectors: buffer.size() / 512 sectors from sector `from`, at or
  // after the previous piece's start. Sectors outside the range (or not read
  // because of a stop) come as unreadable.
  [[nodiscard]] bool Read(uint64_t from, std::span<uint8_t> buffer, std::vector<uint64_t>& unreadable);
  // As Read, without the copy where one run read ahead holds the whole
  // piece: the bytes are then that run's, good until the next call. Else they
  // are copied into buffer (and the span is buffer). whole as Read answers.
  [[nodiscard]] std::span<const uint8_t> View(uint64_t from, std::span<uint8_t> buffer,
                                              std::vector<uint64_t>& unreadable, bool& whole);
  // Sectors read from the disk so far, and of them unreadable.
  uint64_t SectorsRead() const { return sectorsRead_; }

 private:
  struct Ahead;
  // Lets go of the runs wholly before sector from and takes the runs up to
  // sector to (or the end) from the reader.
  void Hold(uint64_t from, uint64_t to);
  std::unique_ptr<Ahead> ahead_;
  uint64_t sectorsRead_ = 0;
};

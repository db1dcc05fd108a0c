// The data area of a FAT volume as the rescue readers see it below the file
// system: clusters by number, read in large runs, with the sectors that could
// not be read named so that no reader ever takes their bytes for data.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"

// What the readers need to know of a volume: nothing of its FAT or folders.
struct ClusterGeometry {
  uint32_t clusterBytes = 0;  // a power of two, 512 ... 2 MiB
  uint32_t lastCluster = 0;   // the highest data cluster; clusters run 2 ... lastCluster
  FatWidth fatType = FatWidth::None;  // a 32-bit FAT's entries carry a high cluster word
  uint32_t rootCluster = 0;   // the root folder's cluster on a 32-bit FAT volume, else 0

  bool Valid() const;
  bool InRange(uint32_t cluster) const { return cluster >= 2 && cluster <= lastCluster; }
  uint64_t Clusters() const { return lastCluster >= 2 ? uint64_t{lastCluster} - 1 : 0; }
  uint64_t DataBytes() const { return Clusters() * clusterBytes; }
};

// Bytes [offset, offset + length) of a buffer.
struct ByteRange {
  uint64_t offset = 0;
  uint64_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

class ClusterSource {
 public:
  virtual ~ClusterSource() = default;
  // Reads count clusters from first into out (count * clusterBytes bytes).
  // The parts that could not be read go to unreadable as ranges of out, in
  // order and apart (it is cleared first); their bytes are left unspecified.
  // True when everything was read.
  [[nodiscard]] virtual bool Read(uint32_t first, uint32_t count, std::span<uint8_t> out,
                                  std::vector<ByteRange>& unreadable) = 0;
  // How many threads may call Read at once (for other runs).
  virtual size_t Readers() const { return 1; }
};

// Clusters held in memory from cluster 2 on, with ranges (offsets into data)
// that read as unreadable: the tests', the fuzzers' and the benchmark's source.
class MemoryClusterSource final : public ClusterSource {
 public:
  MemoryClusterSource(std::span<const uint8_t> data, const ClusterGeometry& geometry,
                      std::vector<ByteRange> unreadable = {});
  [[nodiscard]] bool Read(uint32_t first, uint32_t count, std::span<uint8_t> out,
                          std::vector<ByteRange>& unreadable) override;
  uint64_t clustersRead = 0;

 private:
  std::span<const uint8_t> data_;
  ClusterGeometry geometry_;
  std::vector<ByteRange> bad_;  // sorted by offset
};

// The clusters of a FAT volume on a drive, read through the raw road: a run
// of clusters is one read, and a failed one names its unreadable sectors.
class DiskClusterSource final : public ClusterSource {
 public:
  // volume: any node of the volume (its root directory, say); the packet
  // carries the volume's address, first data sector and cluster size.
  DiskClusterSource(DiskAccess& access, const DrivePacket& volume);
  [[nodiscard]] bool Read(uint32_t first, uint32_t count, std::span<uint8_t> out,
                          std::vector<ByteRange>& unreadable) override;
  size_t Readers() const override;

 private:
  DiskAccess& access_;
  DrivePacket volume_;  // addressed from the volume's sector 0
};

// One run of consecutive clusters as the readers get it.
struct ClusterRun {
  uint32_t first = 0;
  uint32_t count = 0;
  std::span<const uint8_t> bytes;           // count * clusterBytes
  std::span<const ByteRange> unreadable;    // ranges of bytes
  bool whole = true;                        // every byte read (unreadable is empty)
};

struct ClusterRunOptions {
  uint64_t runBytes = 8u << 20;  // read at most this much at a time (at least one cluster)
  // Clusters to leave out (what live files and known deleted files hold);
  // none when empty. A run never spans a left-out cluster.
  std::function<bool(uint32_t)> skip;
  const std::atomic<bool>* stop = nullptr;  // polled before each read
  // After each run: the highest cluster handled so far.
  std::function<void(uint32_t cluster)> progress;
};

struct ClusterRunTotals {
  uint64_t clustersRead = 0;
  uint64_t unreadableBytes = 0;
  uint32_t unreadableSectors = 0;  // 512-byte sectors, counted from the ranges
  bool stopped = false;
};

// Reads the data area from cluster 2 to the last in runs of consecutive
// clusters, in order, and hands each run to visit.
ClusterRunTotals ForEachClusterRun(ClusterSource& source, const ClusterGeometry& geometry,
                                   const ClusterRunOptions& options,
                                   const std::function<void(const ClusterRun&)>& visit);

// The ranges that fall in bytes [from, from + length) of a run, made
// relative to from.
std::vector<ByteRange> UnreadableIn(std::span<const ByteRange> ranges, uint64_t from,
                                    uint64_t length);

// The clusters of a run that unreadable ranges touch, in order.
std::vector<uint32_t> ClustersTouched(const ClusterRun& run, uint32_t clusterBytes);

// An exFAT volume read through an ExfatReader: FAT entries and cluster
// chains, a stream's clusters (through the FAT, or one run for NoFatChain),
// a folder's bytes and entry sets, the allocation bitmap and the up-case
// table. Every walk is bounded by the volume's cluster count and every size
// from the disk is checked before anything is taken for it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "disk/exfat_boot.h"
#include "disk/exfat_dir.h"
#include "disk/exfat_reader.h"
#include "disk/exfat_upcase.h"

// FAT entry values.
inline constexpr uint32_t kExfatFatFree = 0;
inline constexpr uint32_t kExfatFatBad = 0xFFFFFFF7;
inline constexpr uint32_t kExfatFatEnd = 0xFFFFFFFF;
// A folder holds at most 256 MiB of entries.
inline constexpr uint64_t kExfatMaxDirectoryBytes = uint64_t{256} << 20;

// How a chain walk ended.
enum class ExfatChainEnd {
  End,         // the end mark (or, for a run, its last cluster)
  Free,        // a cluster's entry says free
  Bad,         // a cluster's entry says bad
  OutOfRange,  // a cluster number outside 2 .. cluster count + 1 (or a reserved value)
  Loop,        // the chain came back to a cluster it had been through
  TooLong,     // more clusters than the limit, without a loop
  Unreadable,  // a FAT sector could not be read
};
const char* ExfatChainEndText(ExfatChainEnd end);

// A stretch of consecutive clusters.
struct ExfatRun {
  uint32_t first = 0;
  uint32_t count = 0;
};

// A chain as runs: a file of few fragments costs a few runs however long it is.
struct ExfatChain {
  std::vector<ExfatRun> runs;   // in order; a Free/Bad/OutOfRange walk's last cluster is the one whose entry ended it
  uint64_t clusterTotal = 0;    // clusters in the runs
  ExfatChainEnd end = ExfatChainEnd::End;
  uint32_t endValue = 0;        // the FAT value (or cluster number) that ended the walk
  uint64_t clustersNeeded = 0;  // for a stream of known length: what its length takes

  // A stream of known length has all its clusters (and not fewer).
  bool Complete() const { return clusterTotal >= clustersNeeded; }
  void Append(uint32_t c);
  // Every cluster in order: for short chains (views, tests).
  std::vector<uint32_t> Clusters() const;
};

// Where a file's, a folder's or a metadata file's bytes are.
struct ExfatStream {
  uint32_t firstCluster = 0;
  uint64_t dataLength = 0;
  bool noFatChain = false;
  bool lengthKnown = true;  // the root folder's is not: it runs to its chain's end
};
// The stream of a file set (from its stream extension), or of a bitmap or
// up-case entry (always through the FAT).
ExfatStream ExfatStreamOf(const ExfatEntrySet& set);

class ExfatVolume {
 public:
  // boot should be a sound one (ChooseExfatBootRegion); one whose shifts or
  // FAT count are out of range gives a volume of no clusters. The reader
  // reads the volume from its first sector.
  ExfatVolume(ExfatReader& reader, const ExfatBootSector& boot);

  const ExfatBootSector& Boot() const { return boot_; }
  uint64_t BytesPerCluster() const { return boot_.BytesPerCluster(); }
  bool ClusterInHeap(uint32_t c) const {
    return c >= kExfatFirstCluster && c - kExfatFirstCluster < boot_.clusterCount;
  }
  // The checks that need the volume's sizes (up-case table left out).
  ExfatSetContext Context(const ExfatUpcase* upcase = nullptr) const;

  // Entry c of FAT fat (0 or 1; the active one by default). nullopt when its
  // sector cannot be read or c is past the FAT.
  [[nodiscard]] std::optional<uint32_t> FatEntry(uint32_t c);
  [[nodiscard]] std::optional<uint32_t> FatEntry(uint32_t c, uint32_t fat);

  // The chain from first through the active FAT, at most maxClusters long
  // (and never longer than the cluster count).
  ExfatChain WalkChain(uint32_t first, uint64_t maxClusters);

  // A stream's clusters: one run for NoFatChain, else its FAT chain, as many
  // as its length takes (an unknown length: to the chain's end, at most a
  // folder's largest size).
  ExfatChain StreamClusters(const ExfatStream& stream);

  // Cluster c whole into out (BytesPerCluster bytes).
  [[nodiscard]] bool ReadCluster(uint32_t c, std::span<uint8_t> out);
  // The first sectors of cluster c: out a whole number of 512-byte sectors, at most a cluster.
  [[nodiscard]] bool ReadClusterStart(uint32_t c, std::span<uint8_t> out);

 private:
  ExfatReader& reader_;
  ExfatBootSector boot_;
  uint64_t cachedUnit_ = UINT64_MAX;
  std::vector<uint8_t> cache_;
};

// A folder's bytes and sets.
struct ExfatDirectory {
  ExfatChain chain;                 // the clusters the folder has
  std::vector<uint32_t> clustersRead;   // in order, up to the one with the end mark
  std::vector<bool> readable;           // for each of clustersRead: it could be read
  std::vector<uint32_t> unreadable;     // the ones that could not be
  bool tooLarge = false;            // longer than a folder may be: cut at 256 MiB
  std::vector<uint8_t> bytes;       // clustersRead's bytes (an unreadable one's are zero)
  // Sets of every readable stretch: a set never runs across an unreadable
  // cluster. firstEntry counts from the folder's first entry.
  std::vector<ExfatEntrySet> sets;
  bool endSeen = false;
};

// Reads the folder whose stream is given, cluster by cluster up to the one
// that holds its end-of-directory entry, and decodes its sets.
ExfatDirectory ReadExfatDirectory(ExfatVolume& volume, const ExfatStream& stream,
                                  const ExfatSetContext& context);
// Adds cluster c's bytes (zeros when it could not be read) to dir's, sets not
// decoded; true when it was read and holds an end-of-directory entry.
bool AppendExfatDirectoryCluster(ExfatDirectory& dir, uint32_t c, std::span<const uint8_t> bytes, bool readable);
// The sets again, with another context (the up-case table once it is known).
void DecodeExfatDirectory(ExfatDirectory& dir, const ExfatSetContext& context);

// The allocation bitmap: one bit a cluster, cluster 2 first.
class ExfatBitmap {
 public:
  ExfatBitmap() = default;
  // bits may be shorter than the clusters need: the clusters it does not
  // cover count as in use, never as free.
  ExfatBitmap(std::vector<uint8_t> bits, uint32_t clusterCount);

  bool InUse(uint32_t c) const;
  uint32_t ClusterCount() const { return clusterCount_; }
  uint64_t UsedCount() const;

  struct Run {
    uint32_t first = 0;
    uint32_t count = 0;
    bool used = false;
  };
  // Runs of used and free clusters from cluster from on, at most maxRuns.
  std::vector<Run> Runs(uint32_t from, size_t maxRuns) const;

 private:
  std::vector<uint8_t> bits_;
  uint32_t clusterCount_ = 0;
};

enum class ExfatMetaProblem {
  RootIncomplete,          // the root folder's chain or clusters are damaged
  BitmapMissing,
  BitmapTooShort,
  BitmapUnreadable,
  UpcaseMissing,
  UpcaseTooLarge,
  UpcaseUnreadable,
  UpcaseChecksumMismatch,
};
const char* ExfatMetaProblemText(ExfatMetaProblem problem);

// What a volume's root folder says of the volume, and what it points to.
struct ExfatMetadata {
  ExfatDirectory root;  // decoded with the up-case table when it loaded
  std::optional<ExfatEntrySet> bitmapEntry;  // the active one
  std::optional<ExfatEntrySet> upcaseEntry;
  std::optional<ExfatEntrySet> labelEntry;
  std::optional<ExfatEntrySet> guidEntry;
  std::optional<ExfatBitmap> bitmap;
  std::optional<ExfatUpcase> upcase;  // only when its checksum holds
  uint32_t upcaseComputedChecksum = 0;
  std::vector<ExfatMetaProblem> problems;

  std::string Label() const;  // UTF-8, empty without a label
};

ExfatMetadata LoadExfatMetadata(ExfatVolume& volume);

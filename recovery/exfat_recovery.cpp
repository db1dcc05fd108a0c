#include "recovery/exfat_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <unordered_set>

#include "disk/exfat_node.h"
#include "disk/sector_access.h"
#include "recovery/carving.h"
#include "recovery/undelete.h"

namespace {

constexpr const char* kNoVolume = "Neither exFAT boot region is sound!";
constexpr const char* kFolderUnreadable = "folder not fully read";
// Folders inside folders: deeper than this is a damaged volume's loop.
constexpr int kMostDepth = 128;

struct Opened {
  std::unique_ptr<ExfatOpened> exfat;
  ExfatMetadata meta;
  ExfatVolume& Volume() { return *exfat->volume; }
  const ExfatBitmap* Bitmap() const { return meta.bitmap ? &*meta.bitmap : nullptr; }
  ExfatSetContext Context() { return Volume().Context(meta.upcase ? &*meta.upcase : nullptr); }
  // A folder's sets; a deleted one's as far as they can be found.
  ExfatDirectory ReadFolder(const ExfatStream& stream, bool deleted) {
    if (deleted) return ReadExfatDeletedFolder(Volume(), Bitmap(), stream, Context(), claims);
    ExfatDirectory dir = ReadExfatDirectory(Volume(), stream, Context());
    claims.Note(dir);
    return dir;
  }
  ExfatFolderClaims claims;  // of the folders read so far
};

bool Open(DiskAccess& access, const DrivePacket& node, Opened& out, std::string& error) {
  out.exfat = OpenExfat(access, node);
  if (!out.exfat->volume) {
    error = kNoVolume;
    return false;
  }
  out.meta = LoadExfatMetadata(out.Volume());
  return true;
}

ExfatStream RootStream(const ExfatVolume& volume) {
  ExfatStream s;
  s.firstCluster = volume.Boot().rootCluster;
  s.lengthKnown = false;
  return s;
}

class DeletedWalk {
 public:
  DeletedWalk(Opened& card, ExfatDeletedResult& result) : card_(card), result_(result) {}

  void Folder(const ExfatStream& stream, const std::string& prefix, bool inDeleted, int depth) {
    if (depth > kMostDepth || !visited_.insert(stream.firstCluster).second) return;
    const ExfatDirectory dir = card_.ReadFolder(stream, inDeleted);
    if (!dir.unreadable.empty()) result_.problems.push_back((prefix.empty() ? "/" : prefix) + ": " + kFolderUnreadable);
    for (const ExfatEntrySet& s : dir.sets) {
      // A set cut before its name (the rest of its folder not found) has no path of its own.
      if (s.kind != ExfatEntryKind::File || !s.hasStream || s.nameUnits.empty()) continue;
      // In a deleted folder only what was deleted with it is its own.
      if (inDeleted && !s.deleted) continue;
      const std::string path = prefix + "/" + s.name;
      if (s.deleted || inDeleted) Add(s, path, inDeleted);
      if (s.IsDirectory()) Folder(ExfatStreamOf(s), path, inDeleted || s.deleted, depth + 1);
    }
  }

 private:
  void Add(const ExfatEntrySet& s, const std::string& path, bool inDeleted) {
    ExfatDeletedFile f;
    f.path = path;
    f.folder = s.IsDirectory();
    f.size = s.DataLength();
    f.startCluster = s.FirstCluster();
    f.noFatChain = s.NoFatChain();
    f.inDeletedFolder = inDeleted;
    const ExfatRecoveryPlan plan = PlanExfatStream(card_.Volume(), card_.Bitmap(), ExfatStreamOf(s), true);
    f.clusters = plan.needed;
    f.overwritten = plan.overwritten;
    f.state = plan.lost ? DeletedState::Lost
              : plan.overwritten == 0 ? DeletedState::Intact : DeletedState::PartlyOverwritten;
    f.set = s;
    result_.files.push_back(std::move(f));
  }

  Opened& card_;
  ExfatDeletedResult& result_;
  std::unordered_set<uint32_t> visited_;
};

class Copier {
 public:
  Copier(Opened& card, CopyOutResult& result, bool skipAllocated, const std::atomic<bool>* stop = nullptr,
         CopyOutEvents* events = nullptr)
      : card_(card), result_(result), skipAllocated_(skipAllocated), stop_(stop), events_(events) {
    buffer_.resize(card.Volume().BytesPerCluster());
  }

  void Set(const ExfatEntrySet& s, const std::string& into, int depth, bool inDeleted) {
    if (stop_ != nullptr && stop_->load()) {
      result_.stopped = true;
      return;
    }
    if (s.IsDirectory())
      Folder(s, into, depth, inDeleted || s.deleted);
    else
      File(s, into, inDeleted || s.deleted);
  }

 private:
  void Problem(const std::string& path, const std::string& what) { result_.problems.push_back(path + ": " + what); }

  void Folder(const ExfatEntrySet& s, const std::string& into, int depth, bool deleted) {
    int fd = -1;
    std::string why;
    const std::string path = CreateHostEntry(into, s.name, true, fd, why);
    if (path.empty()) {
      Problem(into + "/" + SafeHostName(s.name), why);
      return;
    }
    ++result_.foldersMade;
    result_.written.push_back(path);
    if (depth > kMostDepth || !visited_.insert(s.FirstCluster()).second) return;
    const ExfatDirectory dir = card_.ReadFolder(ExfatStreamOf(s), deleted);
    if (!dir.unreadable.empty()) Problem(path, kFolderUnreadable);
    for (const ExfatEntrySet& child : dir.sets)
      if (child.kind == ExfatEntryKind::File && child.hasStream && child.deleted == deleted)
        Set(child, path, depth + 1, deleted);
  }

  void File(const ExfatEntrySet& s, const std::string& into, bool deleted) {
    const ExfatRecoveryPlan plan =
        PlanExfatStream(card_.Volume(), card_.Bitmap(), ExfatStreamOf(s), deleted, skipAllocated_);
    CopiedFile done;
    done.size = s.DataLength();
    if (plan.lost || (plan.clusters.empty() && plan.needed != 0)) {
      ++result_.filesFailed;
      Problem(into + "/" + SafeHostName(s.name), "its first cluster is lost or in use");
      Done(done);
      return;
    }
    int fd = -1;
    std::string why;
    const std::string path = CreateHostEntry(into, s.name, false, fd, why);
    if (path.empty()) {
      ++result_.filesFailed;
      Problem(into + "/" + SafeHostName(s.name), why);
      Done(done);
      return;
    }
    done.path = path;
    const uint64_t size = s.DataLength();
    // Past the valid data length the file holds zeros, whatever the clusters do.
    const uint64_t valid = std::min(size, s.stream.validDataLength);
    const uint64_t bytes = card_.Volume().BytesPerCluster();
    uint64_t at = 0;
    bool written = true;
    for (const uint32_t c : plan.clusters) {
      if (at >= size) break;
      const uint64_t length = std::min(bytes, size - at);
      if (!card_.Volume().ReadCluster(c, buffer_)) result_.unreadable.push_back({path, at, at + length});
      for (uint64_t i = 0; i < length; ++i)
        if (at + i >= valid) buffer_[i] = 0;
      if (!WriteAllToHost(fd, std::span<const uint8_t>(buffer_).first(length))) {
        Problem(path, std::strerror(errno));
        written = false;
        break;
      }
      at += length;
    }
    ::close(fd);
    const auto when = s.primary.modified.UnixSeconds();
    if (when) {
      const struct timespec times[2] = {{*when, 0}, {*when, 0}};
      ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    result_.written.push_back(path);
    done.bytesCopied = at;
    if (written && at >= size) {
      ++result_.filesWhole;
      done.outcome = CopyOutcome::Whole;
    } else {
      ++result_.filesPartial;
      done.outcome = CopyOutcome::Partial;
      if (written)
        Problem(path, "copied " + std::to_string(at) + " of " + std::to_string(size) +
                          " bytes (its next cluster is in use or not on its chain)");
    }
    Done(done);
  }

  void Done(const CopiedFile& file) {
    if (events_ != nullptr) events_->FileDone(file);
  }

  Opened& card_;
  CopyOutResult& result_;
  bool skipAllocated_;
  const std::atomic<bool>* stop_;
  CopyOutEvents* events_;
  std::vector<uint8_t> buffer_;
  std::unordered_set<uint32_t> visited_;
};

}  // namespace

std::string ExfatDeletedStateText(const ExfatDeletedFile& file) {
  DeletedFile f;
  f.state = file.state;
  f.overwritten = static_cast<uint32_t>(std::min<uint64_t>(file.overwritten, UINT32_MAX));
  return DeletedStateText(f);
}

ExfatRecoveryPlan PlanExfatStream(ExfatVolume& volume, const ExfatBitmap* bitmap, const ExfatStream& stream,
                                  bool deleted, bool skipAllocated) {
  ExfatRecoveryPlan plan;
  const uint64_t bytes = volume.BytesPerCluster();
  plan.needed = (stream.dataLength + bytes - 1) / bytes;
  if (plan.needed == 0) return plan;
  if (!volume.ClusterInHeap(stream.firstCluster)) {
    plan.lost = true;
    plan.overwritten = plan.needed;
    return plan;
  }
  std::vector<uint32_t> clusters;
  if (!deleted) {
    clusters = volume.StreamClusters(stream).Clusters();
  } else if (stream.noFatChain) {
    const uint64_t inHeap =
        std::min<uint64_t>(plan.needed, uint64_t{volume.Boot().clusterCount} + kExfatFirstCluster - stream.firstCluster);
    for (uint64_t k = 0; k < inHeap; ++k) clusters.push_back(stream.firstCluster + static_cast<uint32_t>(k));
  } else {
    // The chain the file left in the FAT; a free entry on the way ends it.
    const ExfatChain chain = volume.WalkChain(stream.firstCluster, plan.needed);
    clusters = chain.Clusters();
    if (chain.end == ExfatChainEnd::Free && bitmap != nullptr && !clusters.empty()) {
      // Freed with the file: the clusters on from its end, as on FAT.
      const uint64_t end = uint64_t{volume.Boot().clusterCount} + kExfatFirstCluster;
      const size_t known = clusters.size();
      for (uint64_t c = uint64_t{clusters.back()} + 1; clusters.size() < plan.needed && c < end; ++c)
        if (!skipAllocated || !bitmap->InUse(static_cast<uint32_t>(c))) clusters.push_back(static_cast<uint32_t>(c));
      plan.guessed = clusters.size() - known;
    }
  }
  if (clusters.size() > plan.needed) clusters.resize(plan.needed);
  plan.overwritten = plan.needed - clusters.size();
  if (!deleted) {
    plan.clusters = std::move(clusters);
    return plan;
  }
  // Without a bitmap no cluster can be shown free: each counts as in use.
  bool usable = true;
  for (const uint32_t c : clusters) {
    const bool inUse = bitmap == nullptr || bitmap->InUse(c);
    plan.overwritten += inUse;
    usable = usable && !inUse;
    if (usable) plan.clusters.push_back(c);
  }
  return plan;
}

namespace {

// Every entry up to the end of the directory is of a type a folder other than
// the root holds, live or deleted.
bool HoldsEntries(std::span<const uint8_t> cluster) {
  for (size_t at = 0; at + kExfatEntrySize <= cluster.size(); at += kExfatEntrySize) {
    switch (DecodeExfatEntry(cluster.subspan(at, kExfatEntrySize)).kind) {
      case ExfatEntryKind::EndOfDirectory:
        return true;
      case ExfatEntryKind::File:
      case ExfatEntryKind::StreamExtension:
      case ExfatEntryKind::FileName:
      case ExfatEntryKind::TexFatPadding:
      case ExfatEntryKind::VendorExtension:
      case ExfatEntryKind::VendorAllocation:
        break;
      default:
        return false;
    }
  }
  return true;
}

// A folder read cluster by cluster, its sets followed as they come: where the
// last one is cut by the end of what was read.
class FolderReader {
 public:
  FolderReader(ExfatVolume& volume, const ExfatSetContext& context)
      : volume_(volume), context_(context), cluster_(volume.BytesPerCluster()) {}

  // Cluster c read on after the others; false when it holds no entries (it
  // is then left out) or would not complete the set cut at the end.
  bool Take(uint32_t c) {
    const bool ok = volume_.ReadCluster(c, cluster_);
    if (!ok && cut_) return false;
    if (ok && (!HoldsEntries(cluster_) || (cut_ && !Completes(cluster_)))) return false;
    ended_ = AppendExfatDirectoryCluster(dir_, c, cluster_, ok);
    read_.insert(c);
    if (!ok) next_ = dir_.bytes.size() / kExfatEntrySize;  // sets start again past it
    Follow();
    return true;
  }
  // The folder's next cluster past those its stream gives, among the free
  // ones from after the last read (round to it while a set is cut): where a
  // set is cut, the one whose first entries complete it with its checksum
  // holding; where the last cluster ends on a whole set, the first after it
  // that starts with a whole deleted file set and is no other folder's.
  bool TakeNext(const ExfatBitmap& bitmap, const ExfatFolderClaims& claims) {
    // A set takes at most 19 entries: two sectors hold what one needs.
    std::vector<uint8_t> head(std::min<size_t>(2 * kExfatUnit, cluster_.size()));
    const uint64_t end = uint64_t{kExfatFirstCluster} + bitmap.ClusterCount();
    const uint64_t after = uint64_t{dir_.clustersRead.back()} + 1;
    const bool cut = cut_;
    const std::pair<uint64_t, uint64_t> spans[] = {{after, end}, {kExfatFirstCluster, cut ? after : 0}};
    for (const auto& [from, to] : spans) {
      // Free runs only: the bitmap's, a few hundred at a time.
      for (uint64_t c = from; c < to;) {
        const std::vector<ExfatBitmap::Run> runs = bitmap.Runs(static_cast<uint32_t>(c), 256);
        if (runs.empty()) break;
        for (const ExfatBitmap::Run& run : runs) {
          const uint64_t stop = std::min<uint64_t>(uint64_t{run.first} + run.count, to);
          for (uint64_t k = run.first; !run.used && k < stop; ++k) {
            const auto candidate = static_cast<uint32_t>(k);
            if (read_.count(candidate) || claims.read.count(candidate) || claims.firstClusters.count(candidate) ||
                !volume_.ReadClusterStart(candidate, head))
              continue;
            const bool fits = cut ? (head[0] & (kExfatInUse | kExfatSecondary)) == kExfatSecondary && Completes(head)
                                  : head[0] == (kExfatTypeFile & ~kExfatInUse) && Whole(head);
            if (fits && Take(candidate)) return true;
          }
          c = uint64_t{run.first} + run.count;
          if (c >= to) break;
        }
      }
    }
    return false;
  }
  void Claim(ExfatFolderClaims& claims) const { claims.read.insert(read_.begin(), read_.end()); }
  bool Ended() const { return ended_; }
  bool Read() const { return !dir_.clustersRead.empty(); }
  uint64_t Bytes() const { return dir_.bytes.size(); }
  ExfatDirectory Finish() {
    DecodeExfatDirectory(dir_, context_);
    return std::move(dir_);
  }

 private:
  // The set cut at the end with more's first entries after it is whole and
  // its checksum holds.
  bool Completes(std::span<const uint8_t> more) const {
    std::vector<uint8_t> joined(dir_.bytes.begin() + static_cast<std::ptrdiff_t>(next_ * kExfatEntrySize),
                                dir_.bytes.end());
    joined.insert(joined.end(), more.begin(), more.end());
    return Whole(joined);
  }
  // The set at the start of bytes is all there and its checksum holds.
  bool Whole(std::span<const uint8_t> bytes) const {
    const ExfatEntrySet set = DecodeExfatEntrySet(bytes, 0, context_);
    return set.checksumChecked && !set.Has(ExfatSetProblem::Truncated) &&
           !set.Has(ExfatSetProblem::SecondaryMissing) && !set.Has(ExfatSetProblem::ChecksumMismatch);
  }
  // Sets on from next_ while they lie whole in what was read.
  void Follow() {
    cut_ = false;
    const size_t entries = dir_.bytes.size() / kExfatEntrySize;
    while (next_ < entries && !ended_) {
      if (dir_.bytes[next_ * kExfatEntrySize] == kExfatEndOfDirectory) return;
      const ExfatEntrySet set = DecodeExfatEntrySet(dir_.bytes, next_, context_);
      if (set.Has(ExfatSetProblem::Truncated)) {
        cut_ = true;
        return;
      }
      next_ += std::max<size_t>(set.entryCount, 1);
    }
  }

  ExfatVolume& volume_;
  const ExfatSetContext& context_;
  std::vector<uint8_t> cluster_;
  ExfatDirectory dir_;
  std::unordered_set<uint32_t> read_;
  size_t next_ = 0;  // entry where the first set not yet whole starts
  bool ended_ = false;
  bool cut_ = false;
};

}  // namespace

ExfatDirectory ReadExfatDeletedFolder(ExfatVolume& volume, const ExfatBitmap* bitmap, const ExfatStream& stream,
                                      const ExfatSetContext& context, ExfatFolderClaims& claims) {
  FolderReader reader(volume, context);
  const ExfatRecoveryPlan plan = PlanExfatStream(volume, bitmap, stream, true);
  for (const uint32_t c : plan.clusters)
    if (reader.Bytes() >= kExfatMaxDirectoryBytes || reader.Ended() || !reader.Take(c)) break;
  while (bitmap != nullptr && reader.Read() && !reader.Ended() && reader.Bytes() < kExfatMaxDirectoryBytes)
    if (!reader.TakeNext(*bitmap, claims)) break;
  reader.Claim(claims);
  ExfatDirectory dir = reader.Finish();
  claims.Note(dir);
  return dir;
}

void ExfatFolderClaims::Note(const ExfatDirectory& dir) {
  for (const ExfatEntrySet& s : dir.sets)
    if (s.kind == ExfatEntryKind::File && s.hasStream && s.IsDirectory()) firstClusters.insert(s.FirstCluster());
}

ExfatDeletedResult FindExfatDeleted(DiskAccess& access, const DrivePacket& node) {
  ExfatDeletedResult result;
  Opened card;
  if (!Open(access, node, card, result.error)) return result;
  result.opened = true;
  DeletedWalk walk(card, result);
  walk.Folder(RootStream(card.Volume()), "", false, 0);
  return result;
}

CopyOutResult ExfatCopyOut(DiskAccess& access, const DrivePacket& dir, std::span<const int> rows,
                           const CopyOutOptions& options) {
  CopyOutResult result;
  Opened card;
  if (!Open(access, dir, card, result.error)) return result;
  if (std::string why; !MakeTargetFolder(options.targetFolder, why)) {
    result.error = why;
    return result;
  }
  const ExfatDirectory listing = ReadExfatDirectory(card.Volume(), ExfatNodeStream(dir), card.Context());
  card.claims.Note(listing);
  std::vector<const ExfatEntrySet*> sets;
  for (const int row : rows) {
    const auto r = static_cast<size_t>(row);
    if (row < 0 || r >= listing.sets.size() || listing.sets[r].kind != ExfatEntryKind::File ||
        !listing.sets[r].hasStream) {
      result.error = "Row " + std::to_string(row + 1) + " is no file or folder";
      return result;
    }
    sets.push_back(&listing.sets[r]);
  }
  if (rows.empty())
    for (const ExfatEntrySet& s : listing.sets)
      if (s.kind == ExfatEntryKind::File && s.hasStream && !s.deleted) sets.push_back(&s);
  result.opened = true;
  Copier copier(card, result, options.skipAllocated);
  for (const ExfatEntrySet* s : sets) copier.Set(*s, options.targetFolder, 0, false);
  return result;
}

CopyOutResult ExfatCopyDeleted(DiskAccess& access, const DrivePacket& node, std::span<const ExfatDeletedFile> files,
                               const CopyOutOptions& options, const std::atomic<bool>* stop,
                               CopyOutEvents* events) {
  CopyOutResult result;
  Opened card;
  if (!Open(access, node, card, result.error)) return result;
  if (std::string why; !MakeTargetFolder(options.targetFolder, why)) {
    result.error = why;
    return result;
  }
  result.opened = true;
  for (const ExfatDeletedFile& f : files)
    if (f.folder) card.claims.firstClusters.insert(f.startCluster);
  Copier copier(card, result, options.skipAllocated, stop, events);
  for (const ExfatDeletedFile& f : files) copier.Set(f.set, options.targetFolder, 0, true);
  return result;
}

namespace {

// The cluster heap for the carver, a cluster a read; a cluster that cannot be
// read is named whole.
class ExfatClusterSource final : public ClusterSource {
 public:
  explicit ExfatClusterSource(ExfatVolume& volume) : volume_(volume) {}
  [[nodiscard]] bool Read(uint32_t first, uint32_t count, std::span<uint8_t> out,
                          std::vector<ByteRange>& unreadable) override {
    unreadable.clear();
    const uint64_t bytes = volume_.BytesPerCluster();
    for (uint32_t k = 0; k < count; ++k)
      if (!volume_.ReadCluster(first + k, out.subspan(k * bytes, bytes))) unreadable.push_back({k * bytes, bytes});
    return unreadable.empty();
  }

 private:
  ExfatVolume& volume_;
};

// A carved file's clusters, on from its first, into folder; what came of it.
RescuedFile CopyCarved(ExfatVolume& volume, const CarvedFile& c, const std::string& folder,
                       std::vector<std::string>& problems) {
  RescuedFile out;
  out.kind = RescueKind::Carved;
  out.size = c.length;
  out.judgement = c.endFound ? "end found" : "end not found";
  int fd = -1;
  std::string why;
  out.hostPath = CreateHostEntry(folder, CarvedFileName(c), false, fd, why);
  if (out.hostPath.empty()) {
    problems.push_back(folder + "/" + CarvedFileName(c) + ": " + why);
    return out;
  }
  std::vector<uint8_t> buffer(volume.BytesPerCluster());
  bool written = true;
  uint64_t at = 0;
  for (uint32_t cluster = c.firstCluster; at < c.length && written; ++cluster) {
    const uint64_t length = std::min<uint64_t>(buffer.size(), c.length - at);
    if (!volume.ReadCluster(cluster, buffer)) out.unreadableBytes += length;
    written = WriteAllToHost(fd, std::span<const uint8_t>(buffer).first(length));
    at += length;
  }
  ::close(fd);
  if (!written) problems.push_back(out.hostPath + ": " + std::strerror(errno));
  out.whole = written && out.unreadableBytes == 0;
  return out;
}

}  // namespace

RescueResult ExfatRescue(DiskAccess& access, const DrivePacket& node, const RescueScanOptions& options,
                         const std::string& targetFolder, const std::atomic<bool>* stop) {
  RescueResult result;
  const ExfatDeletedResult found = FindExfatDeleted(access, node);
  Opened card;
  if (!found.opened || !Open(access, node, card, result.error)) {
    if (result.error.empty()) result.error = found.error;
    return result;
  }
  if (!MakeTargetFolder(targetFolder, result.error)) return result;
  result.error.clear();
  result.opened = true;
  result.problems = found.problems;
  ExfatVolume& volume = card.Volume();

  // Each deleted file on its own, into the folders of its path: the files of
  // a deleted folder are listed with it. What came of each is heard back.
  struct Heard final : CopyOutEvents {
    std::vector<CopiedFile> files;
    void FileDone(const CopiedFile& file) override { files.push_back(file); }
  } heard;
  CopyOutResult copied;
  Copier copier(card, copied, false, stop, &heard);
  std::vector<bool> claimed(uint64_t{volume.Boot().clusterCount} + kExfatFirstCluster, false);
  for (const ExfatDeletedFile& f : found.files) {
    for (const uint32_t c : PlanExfatStream(volume, card.Bitmap(), ExfatStreamOf(f.set), true).clusters)
      claimed[c] = true;
    // A folder is made with nothing left in it too.
    const std::string below = HostFolderOf(f.path + (f.folder ? "/." : ""));
    const std::string into = below.empty() ? targetFolder : targetFolder + "/" + below;
    if (std::string why; !MakeTargetFolder(into, why)) {
      result.problems.push_back(why);
      continue;
    }
    if (f.folder) continue;
    heard.files.clear();
    copier.Set(f.set, into, 0, true);
    if (copied.stopped) break;
    RescuedFile out;
    out.size = f.size;
    out.judgement = ExfatDeletedStateText(f);
    if (!heard.files.empty()) {
      out.hostPath = heard.files.front().path;
      out.whole = heard.files.front().outcome == CopyOutcome::Whole;
    }
    if (!out.hostPath.empty()) ++result.deleted;
    result.files.push_back(std::move(out));
  }
  for (const UnreadableRange& r : copied.unreadable) {
    result.unreadableSectors += (r.to - r.from + 511) / 512;
    for (RescuedFile& f : result.files)
      if (f.hostPath == r.file) {
        f.unreadableBytes += r.to - r.from;
        f.whole = false;
      }
  }
  for (const std::string& p : copied.problems) result.problems.push_back(p);
  result.stopped = copied.stopped;
  if (!options.carve || result.stopped) return result;

  // Carving: the free clusters of the bitmap no deleted file is read from.
  ClusterGeometry g;
  g.clusterBytes = static_cast<uint32_t>(std::min<uint64_t>(volume.BytesPerCluster(), UINT32_MAX));
  g.lastCluster = volume.Boot().clusterCount + kExfatFirstCluster - 1;
  g.fatType = FatWidth::Fat32;
  const ExfatBitmap* bitmap = card.Bitmap();
  if (bitmap == nullptr || !g.Valid()) {
    result.problems.push_back(bitmap == nullptr ? "Allocation bitmap not accessible!: nothing carved"
                                                : "Clusters too large or too many to carve: nothing carved");
    return result;
  }
  ExfatClusterSource source(volume);
  const std::vector<CarvedFile> carved = CarveDataArea(
      source, g, [&](uint32_t c) { return bitmap->InUse(c) || claimed[c]; }, {}, stop);
  if (stop != nullptr && stop->load()) result.stopped = true;
  const std::string folder = targetFolder + "/" + kCarvedLabel;
  if (!carved.empty() && !MakeTargetFolder(folder, result.error)) {
    result.opened = false;
    return result;
  }
  for (const CarvedFile& c : carved) {
    RescuedFile out = CopyCarved(volume, c, folder, result.problems);
    result.unreadableSectors += (out.unreadableBytes + 511) / 512;
    if (!out.hostPath.empty()) ++result.carved;
    result.files.push_back(std::move(out));
  }
  return result;
}

namespace {

// Whole 512-byte units of the volume, read once, changed, written in order.
class UnitEdits {
 public:
  UnitEdits(DiskAccess& access, const DrivePacket& node) : access_(access), volume_(VolumeNodeOf(node)) {}
  // The unit's bytes to change; nullptr when it cannot be read.
  uint8_t* Unit(uint64_t unit) {
    auto it = units_.find(unit);
    if (it != units_.end()) return it->second.data();
    std::vector<uint8_t> bytes(kExfatUnit);
    if (unit > UINT32_MAX || !ReadNodeSectors(access_, volume_, static_cast<uint32_t>(unit), bytes)) return nullptr;
    return units_.emplace(unit, std::move(bytes)).first->second.data();
  }
  void Put(uint64_t unit, std::span<const uint8_t> bytes) {
    units_[unit].assign(bytes.begin(), bytes.begin() + kExfatUnit);
  }
  [[nodiscard]] bool WriteAll() {
    bool ok = true;
    for (const auto& [unit, bytes] : units_)
      ok = WriteNodeSectors(access_, volume_, static_cast<uint32_t>(unit), bytes) && ok;
    units_.clear();
    return ok;
  }

 private:
  DiskAccess& access_;
  DrivePacket volume_;
  std::map<uint64_t, std::vector<uint8_t>> units_;
};

std::u16string Upcased(const std::u16string& units, const ExfatUpcase* upcase) {
  std::u16string out = units;
  if (upcase != nullptr)
    for (char16_t& u : out) u = upcase->Upcase(u);
  return out;
}

}  // namespace

ExfatUndeleteResult ExfatUndelete(DiskAccess& access, const DrivePacket& dir, std::span<const int> rows) {
  ExfatUndeleteResult result;
  PromptPort& prompt = access.Prompt();
  Opened card;
  std::string error;
  if (!Open(access, dir, card, error)) {
    prompt.Message(error);
    return result;
  }
  ExfatVolume& volume = card.Volume();
  if (!card.meta.bitmap || !card.meta.bitmapEntry) {
    prompt.Message("Allocation bitmap not accessible!");
    return result;
  }
  ExfatDirectory listing = ReadExfatDirectory(volume, ExfatNodeStream(dir), card.Context());
  const ExfatChain bitmapChain = volume.StreamClusters(ExfatStreamOf(*card.meta.bitmapEntry));
  const std::vector<uint32_t> bitmapClusters = bitmapChain.Clusters();
  const ExfatUpcase* upcase = card.meta.upcase ? &*card.meta.upcase : nullptr;
  result.ran = true;
  std::unordered_set<uint32_t> claimed;  // by rows revived in this run
  const uint64_t bpc = volume.BytesPerCluster();
  for (const int row : rows) {
    const auto r = static_cast<size_t>(row);
    const auto refuse = [&](const std::string& why) {
      ++result.refused;
      prompt.Message("Row " + std::to_string(row + 1) + ": " + why);
    };
    if (row < 0 || r >= listing.sets.size()) {
      refuse("no such row");
      continue;
    }
    ExfatEntrySet& set = listing.sets[r];
    if (set.kind != ExfatEntryKind::File || !set.deleted || !set.hasStream) {
      refuse(std::string(kUndeleteNotDeleted) + set.name);
      continue;
    }
    if (!set.problems.empty()) {
      refuse(std::string("its entry set is damaged: ") + ExfatSetProblemText(set.problems.front()));
      continue;
    }
    const std::u16string name = Upcased(set.nameUnits, upcase);
    const bool taken = std::any_of(listing.sets.begin(), listing.sets.end(), [&](const ExfatEntrySet& s) {
      return s.kind == ExfatEntryKind::File && !s.deleted && Upcased(s.nameUnits, upcase) == name;
    });
    if (taken) {
      refuse("a file of its name is in the folder: " + set.name);
      continue;
    }
    const ExfatRecoveryPlan plan = PlanExfatStream(volume, card.Bitmap(), ExfatStreamOf(set), true);
    const bool clash = std::any_of(plan.clusters.begin(), plan.clusters.end(),
                                   [&](uint32_t c) { return claimed.count(c) != 0; });
    if (plan.lost || !plan.Complete() || plan.overwritten != 0 || clash) {
      refuse(kClusterOccupied);
      continue;
    }
    // Clusters found on from a freed chain have no FAT chain to come back
    // with: a live set over them would read FAT entries that are free.
    if (plan.guessed != 0) {
      refuse("its FAT chain was freed: copy it out instead");
      continue;
    }
    // The bitmap first: its bits for the file's clusters.
    UnitEdits edits(access, dir);
    bool readable = true;
    for (const uint32_t c : plan.clusters) {
      const uint64_t byte = (c - kExfatFirstCluster) / 8;
      const uint64_t index = byte / bpc;
      uint8_t* unit = index < bitmapClusters.size()
                          ? edits.Unit(volume.Boot().UnitOfCluster(bitmapClusters[index]) + byte % bpc / kExfatUnit)
                          : nullptr;
      if (unit == nullptr) {
        readable = false;
        break;
      }
      unit[byte % kExfatUnit] |= static_cast<uint8_t>(1u << ((c - kExfatFirstCluster) % 8));
    }
    if (!readable) {
      refuse("Allocation bitmap not accessible!");
      continue;
    }
    // A chained file's FAT entries that were freed with it link it again:
    // a live set over a chain that ends in a free entry is a broken chain.
    const ExfatBootSector& boot = volume.Boot();
    const uint64_t fat = boot.UnitOfSector(uint64_t{boot.fatOffset} + uint64_t{boot.ActiveFat()} * boot.fatLength);
    for (size_t k = 0; !set.NoFatChain() && readable && k < plan.clusters.size(); ++k) {
      const uint32_t c = plan.clusters[k];
      if (volume.FatEntry(c).value_or(1) != kExfatFatFree) continue;
      const uint32_t next = k + 1 < plan.clusters.size() ? plan.clusters[k + 1] : kExfatFatEnd;
      uint8_t* unit = edits.Unit(fat + uint64_t{c} * 4 / kExfatUnit);
      readable = unit != nullptr;
      for (size_t b = 0; readable && b < 4; ++b) unit[c * 4 % kExfatUnit + b] = static_cast<uint8_t>(next >> (8 * b));
    }
    if (!readable) {
      refuse("FAT not accessible!");
      continue;
    }
    if (!edits.WriteAll()) {
      result.writeFailed = true;
      prompt.Message("The allocation bitmap or the FAT could not be written: " + set.name + " was left deleted.");
      continue;
    }
    // Then the entries: in-use bits back, and the checksum of the live set.
    const auto entries = std::span<uint8_t>(listing.bytes).subspan(set.firstEntry * kExfatEntrySize,
                                                                   set.entryCount * kExfatEntrySize);
    for (size_t e = 0; e < set.entryCount; ++e) entries[e * kExfatEntrySize] |= kExfatInUse;
    const uint16_t sum = ExfatSetChecksum(entries, true);
    entries[kExfatSetChecksum] = static_cast<uint8_t>(sum);
    entries[kExfatSetChecksum + 1] = static_cast<uint8_t>(sum >> 8);
    const uint64_t from = set.firstEntry * kExfatEntrySize / kExfatUnit;
    const uint64_t to = ((set.firstEntry + set.entryCount) * kExfatEntrySize - 1) / kExfatUnit;
    for (uint64_t u = from; u <= to; ++u) {
      const uint64_t at = u * kExfatUnit;
      edits.Put(volume.Boot().UnitOfCluster(listing.clustersRead[at / bpc]) + at % bpc / kExfatUnit,
                std::span<const uint8_t>(listing.bytes).subspan(at, kExfatUnit));
    }
    if (!edits.WriteAll()) {
      result.writeFailed = true;
      prompt.Message("The entries of " + set.name + " could not all be written.");
      continue;
    }
    set.deleted = false;
    claimed.insert(plan.clusters.begin(), plan.clusters.end());
    ++result.revived;
  }
  prompt.Message(result.revived > 0 && !result.writeFailed ? kUndeleteDone : kUndeleteNothing);
  return result;
}


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
    const ExfatDirectory dir = ReadExfatDirectory(card_.Volume(), stream, card_.Context());
    if (!dir.unreadable.empty()) result_.problems.push_back((prefix.empty() ? "/" : prefix) + ": " + kFolderUnreadable);
    for (const ExfatEntrySet& s : dir.sets) {
      if (s.kind != ExfatEntryKind::File || !s.hasStream) continue;
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
    result_.files.push_back(std::move(f));
  }

  Opened& card_;
  ExfatDeletedResult& result_;
  std::unordered_set<uint32_t> visited_;
};

class Copier {
 public:
  Copier(Opened& card, CopyOutResult& result) : card_(card), result_(result) {
    buffer_.resize(card.Volume().BytesPerCluster());
  }

  void Set(const ExfatEntrySet& s, const std::string& into, int depth, bool inDeleted) {
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
    const ExfatDirectory dir = ReadExfatDirectory(card_.Volume(), ExfatStreamOf(s), card_.Context());
    if (!dir.unreadable.empty()) Problem(path, kFolderUnreadable);
    for (const ExfatEntrySet& child : dir.sets)
      if (child.kind == ExfatEntryKind::File && child.hasStream && child.deleted == deleted)
        Set(child, path, depth + 1, deleted);
  }

  void File(const ExfatEntrySet& s, const std::string& into, bool deleted) {
    const ExfatRecoveryPlan plan = PlanExfatStream(card_.Volume(), card_.Bitmap(), ExfatStreamOf(s), deleted);
    if (plan.lost || (plan.clusters.empty() && plan.needed != 0)) {
      ++result_.filesFailed;
      Problem(into + "/" + SafeHostName(s.name), "its first cluster is lost or in use");
      return;
    }
    int fd = -1;
    std::string why;
    const std::string path = CreateHostEntry(into, s.name, false, fd, why);
    if (path.empty()) {
      ++result_.filesFailed;
      Problem(into + "/" + SafeHostName(s.name), why);
      return;
    }
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
    if (written && at >= size) {
      ++result_.filesWhole;
    } else {
      ++result_.filesPartial;
      if (written)
        Problem(path, "copied " + std::to_string(at) + " of " + std::to_string(size) +
                          " bytes (its next cluster is in use or not on its chain)");
    }
  }

  Opened& card_;
  CopyOutResult& result_;
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
                                  bool deleted) {
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
    clusters = volume.WalkChain(stream.firstCluster, plan.needed).Clusters();
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
  Copier copier(card, result);
  for (const ExfatEntrySet* s : sets) copier.Set(*s, options.targetFolder, 0, false);
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
    if (!edits.WriteAll()) {
      result.writeFailed = true;
      prompt.Message("The allocation bitmap could not be written: " + set.name + " was left deleted.");
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


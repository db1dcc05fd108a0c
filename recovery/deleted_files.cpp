#include "recovery/deleted_files.h"

#include <algorithm>
#include <deque>
#include <unordered_set>

#include "disk/le.h"
#include "recovery/entry_names.h"
#include "disk/dir_entry.h"

namespace {

// At most this many folders are walked: a damaged volume may chain folders
// into each other without end; the visited set stops loops, this the rest.
constexpr uint32_t kMostFolders = 1u << 20;

// Whether 32 bytes can be a directory entry of a folder: the end mark, a
// deleted or long-name entry, or a short entry of printable name bytes and
// known attribute bits.
bool LooksLikeEntry(std::span<const uint8_t> e) {
  const uint8_t first = le8(e, kDirName);
  const uint8_t attributes = le8(e, kDirAttributes);
  if (first == kDirEndMark) return true;
  if (IsLongNameEntry(attributes)) return (attributes & 0xC0) == 0;
  if ((attributes & 0xC0) != 0) return false;
  for (size_t i = IsDeletedMark(first) ? 1 : 0; i < 11; ++i)
    if (le8(e, i) < 0x20) return false;
  return true;
}

bool ClusterLooksLikeFolder(std::span<const uint8_t> bytes) {
  for (size_t at = 0; at + kDirEntrySize <= bytes.size(); at += kDirEntrySize)
    if (!LooksLikeEntry(bytes.subspan(at, kDirEntrySize))) return false;
  return true;
}

bool HasEndMark(std::span<const uint8_t> bytes) {
  for (size_t at = 0; at + kDirEntrySize <= bytes.size(); at += kDirEntrySize)
    if (bytes[at] == kDirEndMark) return true;
  return false;
}

bool IsDotEntry(std::span<const uint8_t> e, const char* name11) {
  return std::equal(name11, name11 + 11, e.begin()) && (le8(e, kDirAttributes) & kAttrFolder);
}

struct FolderToWalk {
  uint32_t cluster = 0;  // 0: the fixed root
  std::string path;      // "" for the root, else "/A/B"
  bool deleted = false;
  size_t record = SIZE_MAX;  // the deleted folder's own entry in the result
};

class Walk {
 public:
  Walk(VolumeReader& volume, FindDeletedResult& result) : volume_(volume), result_(result) {
    claimed_.assign(uint64_t{volume.LastCluster()} + 1, false);
  }

  void Run(const std::atomic<bool>* stop, FindDeletedEvents* events) {
    const DrivePacket& root = volume_.Root();
    live_.push_back({volume_.FixedRoot() ? 0u : root.firstCluster, "", false});
    if (!volume_.FixedRoot()) {
      visited_.insert(root.firstCluster);
      Claim(root.firstCluster);
    }
    // Every live folder first: the clusters live files claim decide the
    // judgements and which deleted folders can still be read.
    while (!live_.empty() || !deleted_.empty()) {
      if (stop && stop->load()) {
        result_.stopped = true;
        break;
      }
      if (result_.foldersWalked >= kMostFolders) break;
      FolderToWalk folder;
      if (!live_.empty()) {
        folder = std::move(live_.front());
        live_.pop_front();
      } else {
        folder = std::move(deleted_.front());
        deleted_.pop_front();
      }
      WalkFolder(folder);
      ++result_.foldersWalked;
      if (events)
        events->Progress(result_.foldersWalked,
                         result_.foldersWalked + static_cast<uint32_t>(live_.size() + deleted_.size()));
    }
    for (DeletedFile& f : result_.files) {
      Judge(f);
      if (events) events->RowFound(f);
    }
    result_.liveClusters = claimed_;
  }

 private:
  bool Allocated(uint32_t c) const {
    return !volume_.InRange(c) || !volume_.Entry(c).IsFree() || claimed_[c];
  }

  // Marks a live chain's clusters; a cluster met again ends the walk (a
  // cross link: the rest was marked already), so the volume is walked once.
  void Claim(uint32_t first) {
    for (uint32_t c = first, n = 0; volume_.InRange(c) && !claimed_[c] && n <= volume_.LastCluster();
         ++n) {
      claimed_[c] = true;
      c = volume_.Entry(c).Next();
    }
  }

  void WalkFolder(const FolderToWalk& folder) {
    std::vector<uint8_t> dir;
    bool complete = true;
    if (folder.deleted) {
      if (folder.cluster == 0 || !visited_.insert(folder.cluster).second) return;
      const std::vector<uint32_t> clusters = ReadDeletedFolder(volume_, folder.cluster, dir);
      if (clusters.empty()) return;  // its first cluster holds no folder now
      if (folder.record < result_.files.size())
        result_.files[folder.record].clusters = static_cast<uint32_t>(clusters.size());
    } else if (folder.cluster == 0) {
      complete = volume_.ReadRootDirectory(dir);
    } else {
      complete = volume_.ReadFolder(folder.cluster, dir);
    }
    if (!complete)
      result_.problems.push_back((folder.path.empty() ? "/" : folder.path) +
                                 ": not fully readable");
    Entries(folder, dir);
  }

  void Entries(const FolderToWalk& folder, std::span<const uint8_t> dir) {
    const FatWidth width = volume_.Width();
    const size_t entries = dir.size() / kDirEntrySize;
    for (size_t i = 0; i < entries; ++i) {
      const auto e = dir.subspan(i * kDirEntrySize, kDirEntrySize);
      const uint8_t first = le8(e, kDirName);
      const uint8_t attributes = le8(e, kDirAttributes);
      if (IsLongNameEntry(attributes)) continue;
      if (first == kDirEndMark) break;
      if ((attributes & kAttrVolumeLabel) != 0) continue;
      if (IsDotEntry(e, ".          ") || IsDotEntry(e, "..         ")) continue;
      const bool folderEntry = (attributes & kAttrFolder) != 0;
      const uint32_t cluster = DirEntryFirstCluster(e, width);
      if (!IsDeletedMark(first)) {
        // Inside a deleted folder a live-looking entry is no file of the
        // volume: its chain was freed with the folder.
        if (folder.deleted) continue;
        Claim(cluster);
        if (folderEntry && volume_.InRange(cluster) && visited_.insert(cluster).second)
          live_.push_back({cluster, folder.path + "/" + LiveEntryName(dir, i).text, false});
        continue;
      }
      if (!PlausibleDeletedName(e)) continue;
      const EntryName name = DeletedEntryName(dir, i);
      DeletedFile f;
      f.name = name.text;
      f.longName = name.longName;
      f.path = folder.path + "/" + name.text;
      f.folder = folderEntry;
      f.attributes = attributes;
      f.size = le32(e, kDirSize);
      f.startCluster = cluster;
      f.modifiedDate = le16(e, kDirModifiedDate);
      f.modifiedTime = le16(e, kDirModifiedTime);
      f.inDeletedFolder = folder.deleted;
      result_.files.push_back(f);
      if (folderEntry && volume_.InRange(cluster))
        deleted_.push_back({cluster, f.path, true, result_.files.size() - 1});
    }
  }

  void Judge(DeletedFile& f) const {
    const uint32_t c = f.startCluster;
    if (!volume_.InRange(c)) {
      f.state = DeletedState::Lost;
      f.clusters = f.overwritten = 0;
      return;
    }
    if (f.folder) {
      // A folder that was read counts its clusters; one whose first cluster
      // no longer holds a folder has lost that cluster to something else.
      if (f.clusters == 0) {
        f.clusters = 1;
        f.overwritten = 1;
      } else {
        f.overwritten = 0;
        for (uint32_t k = 0; k < f.clusters; ++k) f.overwritten += Allocated(c + k) ? 1 : 0;
      }
      f.state = f.overwritten == 0 ? DeletedState::Intact : DeletedState::PartlyOverwritten;
      return;
    }
    const RunJudgement run =
        JudgeFileRun(c, f.size, volume_.ClusterBytes(), volume_.LastCluster(),
                     [this](uint32_t k) { return Allocated(k); });
    f.state = run.state;
    f.clusters = run.clusters;
    f.overwritten = run.overwritten;
  }

  VolumeReader& volume_;
  FindDeletedResult& result_;
  std::vector<bool> claimed_;
  std::unordered_set<uint32_t> visited_;
  std::deque<FolderToWalk> live_;
  std::deque<FolderToWalk> deleted_;
};

}  // namespace

RunJudgement JudgeFileRun(uint32_t startCluster, uint32_t size, uint32_t clusterBytes,
                          uint32_t lastCluster, const std::function<bool(uint32_t)>& allocated) {
  RunJudgement run;
  if (startCluster < 2 || startCluster > lastCluster || clusterBytes == 0) return run;
  const uint64_t n = std::max<uint64_t>(1, (uint64_t{size} + clusterBytes - 1) / clusterBytes);
  run.clusters = static_cast<uint32_t>(n);
  // Clusters past the volume's end are gone as surely as reused ones.
  const uint64_t inside = std::min<uint64_t>(n, uint64_t{lastCluster} - startCluster + 1);
  uint64_t taken = n - inside;
  for (uint64_t k = 0; k < inside; ++k)
    taken += allocated(startCluster + static_cast<uint32_t>(k)) ? 1 : 0;
  run.overwritten = static_cast<uint32_t>(taken);
  run.state = taken == 0 ? DeletedState::Intact : DeletedState::PartlyOverwritten;
  return run;
}

std::string DeletedStateText(const DeletedFile& file) {
  switch (file.state) {
    case DeletedState::Intact: return "intact";
    case DeletedState::Lost: return "lost";
    case DeletedState::PartlyOverwritten: break;
  }
  return "partly overwritten (" + std::to_string(file.overwritten) +
         (file.overwritten == 1 ? " cluster)" : " clusters)");
}

std::vector<uint32_t> ReadDeletedFolder(VolumeReader& volume, uint32_t first,
                                        std::vector<uint8_t>& out) {
  out.clear();
  std::vector<uint32_t> clusters;
  const uint32_t bytes = volume.ClusterBytes();
  if (!volume.InRange(first) || bytes == 0) return clusters;
  std::vector<uint8_t> cluster(bytes);
  if (!volume.ReadCluster(first, cluster.data())) return clusters;
  const std::span<const uint8_t> head(cluster);
  const auto dot = head.subspan(0, kDirEntrySize);
  const auto dotDot = head.subspan(kDirEntrySize, kDirEntrySize);
  if (!IsDotEntry(dot, ".          ") || !IsDotEntry(dotDot, "..         ") ||
      DirEntryFirstCluster(dot, volume.Width()) != first)
    return clusters;
  const uint32_t most = volume.FolderClusterMost();
  for (uint32_t c = first;;) {
    clusters.push_back(c);
    out.insert(out.end(), cluster.begin(), cluster.end());
    if (HasEndMark(cluster) || clusters.size() >= most) break;
    ++c;
    if (!volume.InRange(c) || !volume.Entry(c).IsFree()) break;
    if (!volume.ReadCluster(c, cluster.data()) || !ClusterLooksLikeFolder(cluster)) break;
  }
  return clusters;
}

bool FindDeletedAllowed(const DrivePacket& node) {
  switch (node.kind) {
    case NodeKind::Volume:
    case NodeKind::Fat12:
    case NodeKind::Fat16:
    case NodeKind::Fat32:
    case NodeKind::RootDir:
    case NodeKind::DirEntry: return true;
    default: return IsExfatKind(node.kind);
  }
}

FindDeletedResult FindDeletedFiles(DiskAccess& access, const DrivePacket& root,
                                   const std::atomic<bool>* stop, FindDeletedEvents* events) {
  FindDeletedResult result;
  if (root.kind != NodeKind::RootDir && !(root.kind == NodeKind::DirEntry && (root.attributes & kAttrFolder))) {
    result.error = kFindDeletedNoVolume;
    return result;
  }
  VolumeReader volume(access, root);
  switch (volume.Load()) {
    case VolumeReader::Open::Ready: break;
    case VolumeReader::Open::NoMemory: result.error = kFindDeletedNoMemory; return result;
    case VolumeReader::Open::NotFat: result.error = kFindDeletedNoVolume; return result;
    case VolumeReader::Open::FatUnreadable: result.error = kFindDeletedFatUnreadable; return result;
  }
  result.opened = true;
  Walk walk(volume, result);
  walk.Run(stop, events);
  access.Prompt().SetStatus(0, "");
  return result;
}

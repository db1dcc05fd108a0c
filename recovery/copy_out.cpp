#include "recovery/copy_out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <unordered_set>

#include "disk/le.h"
#include "recovery/carving.h"
#include "recovery/entry_names.h"
#include "recovery/volume_reader.h"
#include "disk/dir_entry.h"

namespace {

// Enough for any name a person keeps twice; past it the copy says so.
constexpr int kMostSuffixes = 10000;
// Folders inside folders: deeper than this is a damaged volume's loop.
constexpr int kMostDepth = 128;
// A deleted file's structure is checked in memory up to this size; a larger
// one is written both ways.
constexpr uint64_t kMostCheckedBytes = 256ull << 20;

// A file's name with suffix before its extension ("a (2).txt").
std::string Suffixed(const std::string& name, const std::string& suffix, bool folder = false) {
  const size_t dot = folder ? std::string::npos : name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string WithSuffix(const std::string& name, int n, bool folder) {
  return n == 1 ? name : Suffixed(name, " (" + std::to_string(n) + ")", folder);
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// The entry's modified time as the host's local time (FAT keeps local time).
void SetModifiedTime(const std::string& path, uint16_t date, uint16_t time) {
  if (date == 0) return;
  std::tm tm{};
  tm.tm_year = 80 + (date >> 9);
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday == 0) return;
  const std::time_t when = std::mktime(&tm);
  if (when == static_cast<std::time_t>(-1)) return;
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

class Copier {
 public:
  Copier(VolumeReader& volume, const CopyOutOptions& options, CopyOutResult& result,
         const std::atomic<bool>* stop, CopyOutEvents* events)
      : volume_(volume), options_(options), result_(result), stop_(stop), events_(events) {}

  void Items(std::span<const CopyOutItem> items, const std::string& into, int depth) {
    for (const CopyOutItem& item : items) {
      if (stop_ && stop_->load()) {
        result_.stopped = true;
        return;
      }
      if (item.folder)
        Folder(item, into, depth);
      else
        File(item, into);
    }
  }

 private:
  void Problem(const std::string& path, const std::string& what) {
    result_.problems.push_back(path + ": " + what);
  }

  // Creates the file or folder under a name nobody has taken; the host path,
  // empty (said) when it cannot be made.
  std::string Create(const std::string& into, const std::string& name, bool folder, int& fd) {
    std::string why;
    std::string path = CreateHostEntry(into, name, folder, fd, why);
    if (path.empty()) Problem(into + "/" + SafeHostName(name), why);
    return path;
  }

  // Where a file's bytes are read from: its clusters in order, and why they
  // give fewer bytes than its size when they do.
  struct Reading {
    std::vector<uint32_t> clusters;
    std::string shortWhy;
    uint32_t liveMet = 0;  // the first cluster a live file holds that the run met
  };
  enum class Choice { Stopped, Around, Both };

  void File(const CopyOutItem& item, const std::string& into) {
    if (!item.deleted) {
      Write(item, into, item.name, LiveReading(item), nullptr);
      return;
    }
    if (options_.skipAllocated) {
      Write(item, into, item.name, DeletedReading(item, true), nullptr);
      return;
    }
    const Reading stopped = DeletedReading(item, false);
    Reading around;
    // A run that starts in a live cluster has nothing of its own to go on.
    if (stopped.liveMet != 0 && !stopped.clusters.empty()) around = DeletedReading(item, true);
    if (around.clusters.size() <= stopped.clusters.size()) {
      Write(item, into, item.name, stopped, nullptr);
      return;
    }
    switch (Choose(item, stopped, around)) {
      case Choice::Around: Write(item, into, item.name, around, kReadAroundChecked); break;
      case Choice::Stopped: Write(item, into, item.name, stopped, kStoppedChecked); break;
      case Choice::Both:
        Write(item, into, item.name, stopped, nullptr);
        Write(item, into, Suffixed(item.name, kAroundLiveSuffix), around, kReadAroundToo);
        break;
    }
  }

  // Which reading of a deleted file its own structure vouches for: Both when
  // its format has none to check (text, unknown), it is too large to hold for
  // the check, a sector of it failed, or not exactly one reading checks out.
  Choice Choose(const CopyOutItem& item, const Reading& stopped, const Reading& around) {
    const uint64_t bytes = volume_.ClusterBytes();
    if (item.size > kMostCheckedBytes) return Choice::Both;
    std::vector<uint8_t> data(around.clusters.size() * bytes);
    for (size_t i = 0; i < around.clusters.size(); ++i)
      if (!volume_.ReadCluster(around.clusters[i], data.data() + i * bytes)) return Choice::Both;
    data.resize(std::min<uint64_t>(data.size(), item.size));
    const std::optional<CarvedType> type = CarvedTypeOfHeader(data);
    if (!type || *type == CarvedType::Text) return Choice::Both;
    const std::span<const uint8_t> all(data);
    const bool aroundChecks = data.size() == item.size && CheckStructure(*type, all).ChecksOut();
    const bool stoppedChecks =
        CheckStructure(*type, all.first(std::min<size_t>(data.size(), stopped.clusters.size() * bytes)))
            .ChecksOut();
    // An MP3 stream cut between frames is a whole stream: a short reading of
    // one proves nothing.
    if (stoppedChecks && !aroundChecks && *type != CarvedType::Mp3) return Choice::Stopped;
    if (aroundChecks && !stoppedChecks) return Choice::Around;
    return Choice::Both;
  }

  // Copies a file's bytes as reading gives them into a new host file name.
  void Write(const CopyOutItem& item, const std::string& into, const std::string& name,
             const Reading& reading, const char* note) {
    CopiedFile done;
    done.size = item.size;
    int fd = -1;
    const std::string path = Create(into, name, false, fd);
    if (path.empty()) {
      Done(done);
      return;
    }
    const size_t unreadableBefore = result_.unreadable.size();
    const uint64_t bytes = volume_.ClusterBytes();
    const uint64_t size = item.size;
    buffer_.assign(bytes, 0);
    uint64_t copied = 0;
    bool ok = true;
    for (uint32_t c : reading.clusters) {
      if (copied >= size) break;
      if (!PutCluster(c, copied, size, path, fd)) {
        ok = false;
        break;
      }
      copied += std::min(bytes, size - copied);
    }
    if (ok && copied < size) Short(path, copied, size, reading.shortWhy);
    if (::close(fd) != 0 && ok) {
      Problem(path, std::strerror(errno));
      ok = false;
    }
    if (copied == 0 && item.size != 0) {
      // Nothing of it could be had: an empty file would pass for it.
      ::unlink(path.c_str());
      Done(done);
      return;
    }
    result_.written.push_back(path);
    if (note) result_.readings.push_back({path, note});
    SetModifiedTime(path, item.modifiedDate, item.modifiedTime);
    done.path = path;
    done.bytesCopied = copied;
    done.outcome = ok && copied == item.size && result_.unreadable.size() == unreadableBefore
                       ? CopyOutcome::Whole
                       : CopyOutcome::Partial;
    Done(done);
  }

  void Done(const CopiedFile& done) {
    switch (done.outcome) {
      case CopyOutcome::Whole: ++result_.filesWhole; break;
      case CopyOutcome::Partial: ++result_.filesPartial; break;
      case CopyOutcome::Failed: ++result_.filesFailed; break;
    }
    if (events_) events_->FileDone(done);
  }

  // Writes the part of cluster c that belongs at byte `at` of the file;
  // unreadable sectors are written as read and listed.
  bool PutCluster(uint32_t c, uint64_t at, uint64_t size, const std::string& path, int fd) {
    std::vector<uint32_t> failed;
    if (!volume_.ReadCluster(c, buffer_.data(), &failed)) {
      for (uint32_t s : failed) {
        const uint64_t from = at + uint64_t{s} * kSectorSize;
        const uint64_t to = std::min(size, from + kSectorSize);
        if (from >= to) continue;
        auto& list = result_.unreadable;
        if (!list.empty() && list.back().file == path && list.back().to == from)
          list.back().to = to;
        else
          list.push_back({path, from, to});
      }
    }
    const uint64_t length = std::min<uint64_t>(volume_.ClusterBytes(), size - at);
    if (WriteAll(fd, buffer_.data(), static_cast<size_t>(length))) return true;
    Problem(path, std::strerror(errno));
    return false;
  }

  void Short(const std::string& path, uint64_t copied, uint64_t size, const std::string& why) {
    Problem(path, "copied " + std::to_string(copied) + " of " + std::to_string(size) +
                      " bytes (" + why + ")");
  }

  Reading LiveReading(const CopyOutItem& item) {
    const uint64_t bytes = volume_.ClusterBytes();
    const uint64_t needed = (uint64_t{item.size} + bytes - 1) / bytes;
    Reading r;
    if (needed != 0) r.clusters = volume_.Chain(item.firstCluster, static_cast<uint32_t>(needed));
    r.shortWhy = "its cluster chain ends";
    return r;
  }

  // As undelete chains it: cluster after cluster from the start while they
  // are free; around steps over the ones live files hold instead of stopping.
  Reading DeletedReading(const CopyOutItem& item, bool around) {
    const uint64_t bytes = volume_.ClusterBytes();
    const uint64_t needed = (uint64_t{item.size} + bytes - 1) / bytes;
    Reading r;
    uint32_t c = item.firstCluster;
    for (uint32_t steps = 0; r.clusters.size() < needed && steps <= volume_.LastCluster(); ++steps, ++c) {
      if (!volume_.InRange(c)) {
        r.shortWhy = "the volume ends at cluster " + std::to_string(c);
        return r;
      }
      if (!volume_.Entry(c).IsFree()) {
        if (r.liveMet == 0) r.liveMet = c;
        if (around) continue;
        r.shortWhy = "cluster " + std::to_string(c) + " is in use";
        return r;
      }
      r.clusters.push_back(c);
    }
    r.shortWhy = "no more free clusters";
    return r;
  }

  void Folder(const CopyOutItem& item, const std::string& into, int depth) {
    if (depth >= kMostDepth) {
      Problem(into + "/" + SafeHostName(item.name), "folders nest too deep");
      return;
    }
    std::vector<uint8_t> dir;
    if (item.deleted) {
      if (!visited_.insert(item.firstCluster).second) return;
      if (ReadDeletedFolder(volume_, item.firstCluster, dir).empty()) {
        Problem(into + "/" + SafeHostName(item.name), "its first cluster holds no folder now");
        return;
      }
    } else {
      if (!volume_.InRange(item.firstCluster) || !visited_.insert(item.firstCluster).second) return;
      if (!volume_.ReadFolder(item.firstCluster, dir))
        Problem(into + "/" + SafeHostName(item.name), "folder not fully readable");
    }
    int unused = -1;
    const std::string path = Create(into, item.name, true, unused);
    if (path.empty()) return;
    result_.written.push_back(path);
    ++result_.foldersMade;
    // A live folder gives its live entries, a deleted one its deleted ones.
    std::vector<CopyOutItem> children;
    const size_t entries = dir.size() / kDirEntrySize;
    for (size_t i = 0; i < entries; ++i) {
      const auto e = std::span<const uint8_t>(dir).subspan(i * kDirEntrySize, kDirEntrySize);
      const ListedEntry use = ClassifyListedEntry(e, true);
      if (use == ListedEntry::End) break;
      if (use == ListedEntry::Skip || (le8(e, kDirAttributes) & kAttrVolumeLabel) != 0) continue;
      const bool deleted = IsDeletedMark(le8(e, kDirName));
      if (deleted != item.deleted || (deleted && !PlausibleDeletedName(e))) continue;
      children.push_back(EntryItem(dir, i, volume_.Width()));
    }
    Items(children, path, depth + 1);
    SetModifiedTime(path, item.modifiedDate, item.modifiedTime);
  }

 public:
  static CopyOutItem EntryItem(std::span<const uint8_t> dir, size_t index, FatWidth width) {
    const auto e = dir.subspan(index * kDirEntrySize, kDirEntrySize);
    CopyOutItem item;
    item.deleted = IsDeletedMark(le8(e, kDirName));
    item.name = (item.deleted ? DeletedEntryName(dir, index) : LiveEntryName(dir, index)).text;
    item.folder = (le8(e, kDirAttributes) & kAttrFolder) != 0;
    item.firstCluster = DirEntryFirstCluster(e, width);
    item.size = item.folder ? 0 : le32(e, kDirSize);
    item.modifiedDate = le16(e, kDirModifiedDate);
    item.modifiedTime = le16(e, kDirModifiedTime);
    return item;
  }

 private:
  VolumeReader& volume_;
  const CopyOutOptions& options_;
  CopyOutResult& result_;
  const std::atomic<bool>* stop_;
  CopyOutEvents* events_;
  std::vector<uint8_t> buffer_;
  std::unordered_set<uint32_t> visited_;
};

}  // namespace

std::string CreateHostEntry(const std::string& into, const std::string& name, bool folder, int& fd,
                            std::string& why) {
  const std::string safe = SafeHostName(name);
  for (int n = 1; n <= kMostSuffixes; ++n) {
    const std::string path = into + "/" + WithSuffix(safe, n, folder);
    if (folder) {
      if (::mkdir(path.c_str(), 0755) == 0) return path;
    } else {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd >= 0) return path;
    }
    if (errno != EEXIST) {
      why = std::strerror(errno);
      return {};
    }
  }
  why = "no free name";
  return {};
}

bool WriteAllToHost(int fd, std::span<const uint8_t> bytes) { return WriteAll(fd, bytes.data(), bytes.size()); }

std::string OpenError(VolumeReader::Open open) {
  switch (open) {
    case VolumeReader::Open::Ready: return {};
    case VolumeReader::Open::NoMemory: return kFindDeletedNoMemory;
    case VolumeReader::Open::NotFat: return kFindDeletedNoVolume;
    case VolumeReader::Open::FatUnreadable: return kFindDeletedFatUnreadable;
  }
  return {};
}

bool IsDirectoryNode(const DrivePacket& node) {
  return node.kind == NodeKind::RootDir || (node.kind == NodeKind::DirEntry && (node.attributes & kAttrFolder));
}


std::string SafeHostName(const std::string& name) {
  if (name.empty() || name == ".") return "_";
  if (name == "..") return "__";
  std::string safe = name;
  for (char& c : safe)
    if (c == '/' || c == '\0') c = '_';
  return safe;
}

CopyOutItem ItemOfDeleted(const DeletedFile& file) {
  CopyOutItem item;
  item.name = file.name;
  item.folder = file.folder;
  item.deleted = true;
  item.firstCluster = file.startCluster;
  item.size = file.folder ? 0 : file.size;
  item.modifiedDate = file.modifiedDate;
  item.modifiedTime = file.modifiedTime;
  return item;
}

std::optional<std::vector<CopyOutItem>> ItemsOfDirectory(DiskAccess& access,
                                                         const DrivePacket& dir,
                                                         std::span<const int> rows) {
  if (!IsDirectoryNode(dir)) return std::nullopt;
  VolumeReader volume(access, dir);
  if (volume.Load() != VolumeReader::Open::Ready) return std::nullopt;
  std::vector<uint8_t> bytes;
  // A partly read directory still gives the entries that were read.
  const bool fixedRoot = dir.kind == NodeKind::RootDir;
  const bool whole =
      fixedRoot ? volume.ReadRootDirectory(bytes) : volume.ReadFolder(dir.firstCluster, bytes);
  if (!whole && bytes.empty()) return std::nullopt;
  const std::span<const uint8_t> image(bytes);
  std::vector<CopyOutItem> items;
  if (!rows.empty()) {
    for (const int row : rows) {
      const std::optional<size_t> offset =
          row < 0 ? std::nullopt : ListedEntryOffset(image, static_cast<size_t>(row), !fixedRoot);
      if (!offset) return std::nullopt;
      items.push_back(Copier::EntryItem(image, *offset / kDirEntrySize, dir.fatType));
    }
    return items;
  }
  for (size_t at = 0; image.size() - at >= kDirEntrySize; at += kDirEntrySize) {
    const auto e = image.subspan(at, kDirEntrySize);
    const ListedEntry use = ClassifyListedEntry(e, true);
    if (use == ListedEntry::End) break;
    if (use == ListedEntry::Skip || IsDeletedMark(le8(e, kDirName)) ||
        (le8(e, kDirAttributes) & kAttrVolumeLabel) != 0)
      continue;
    items.push_back(Copier::EntryItem(image, at / kDirEntrySize, dir.fatType));
  }
  return items;
}

CopyOutResult CopyOut(DiskAccess& access, const DrivePacket& volumeNode,
                      std::span<const CopyOutItem> items, const CopyOutOptions& options,
                      const std::atomic<bool>* stop, CopyOutEvents* events) {
  CopyOutResult result;
  if (!IsDirectoryNode(volumeNode)) {
    result.error = kFindDeletedNoVolume;
    return result;
  }
  VolumeReader volume(access, volumeNode);
  result.error = OpenError(volume.Load());
  if (!result.error.empty()) return result;
  if (std::string why; !MakeTargetFolder(options.targetFolder, why)) {
    result.error = why;
    return result;
  }
  result.opened = true;
  Copier copier(volume, options, result, stop, events);
  copier.Items(items, options.targetFolder, 0);
  access.Prompt().SetStatus(0, "");
  return result;
}

bool MakeTargetFolder(const std::string& folder, std::string& why) {
  struct stat target{};
  if (::stat(folder.c_str(), &target) == 0) {
    if (S_ISDIR(target.st_mode)) return true;
    why = "Not a folder: " + folder;
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    why = "Cannot make the folder " + folder + ": " + ec.message();
    return false;
  }
  return true;
}

std::string CopyOutSummary(const CopyOutResult& result, const std::string& folder) {
  return std::to_string(result.filesWhole) + " files copied whole, " +
         std::to_string(result.filesPartial) + " in part, " + std::to_string(result.filesFailed) +
         " not copied; " + std::to_string(result.foldersMade) + " folders made in " + folder +
         (result.stopped ? " (stopped)" : "");
}

bool CopyOutAllowed(const ViewPage& pane, const DrivePacket& node, std::span<const int> rows) {
  // An exFAT folder's listing is decoded: a row an entry set.
  const bool listing = (pane.viewKind == ViewKind::RootDirectory && node.kind == NodeKind::RootDir) ||
                       (pane.viewKind == ViewKind::SubDirectory && IsDirectoryNode(node)) ||
                       (pane.viewKind == ViewKind::None && node.kind == NodeKind::ExfatDir);
  return listing && !pane.fileDumpShown && !rows.empty();
}

std::vector<std::string> CopyOutReport(const CopyOutResult& result, bool readings) {
  std::vector<std::string> lines = result.problems;
  for (const UnreadableRange& r : result.unreadable)
    lines.push_back(r.file + ": bytes " + std::to_string(r.from) + "-" + std::to_string(r.to - 1) +
                    " unreadable");
  if (readings)
    for (const ReadingNote& r : result.readings) lines.push_back(r.file + ": " + r.text);
  return lines;
}

bool CopiedWhole(const CopyOutResult& result, const std::string& path) {
  const std::string named = path + ": ";
  for (const std::string& p : result.problems)
    if (p.compare(0, named.size(), named) == 0) return false;
  for (const UnreadableRange& r : result.unreadable)
    if (r.file == path) return false;
  return true;
}

std::string ReadingOf(const CopyOutResult& result, const std::string& path) {
  for (const ReadingNote& r : result.readings)
    if (r.file == path) return r.text;
  return {};
}

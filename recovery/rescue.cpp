#include "recovery/rescue.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "disk/dir_entry.h"
#include "recovery/cluster_source.h"
#include "recovery/volume_reader.h"

std::string HostFolderOf(const std::string& path) {
  std::string folder;
  size_t at = 0;
  const size_t lastSlash = path.rfind('/');
  while (lastSlash != std::string::npos && at < lastSlash) {
    size_t next = path.find('/', at);
    if (next == std::string::npos || next > lastSlash) next = lastSlash;
    if (next > at) {
      if (!folder.empty()) folder += '/';
      folder += SafeHostName(path.substr(at, next - at));
    }
    at = next + 1;
  }
  return folder;
}

namespace {

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "/" + b;
}

// Makes a folder and the ones above it; true when it is there.
bool MakeFolders(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

const char* RescueKindText(RescueKind kind) {
  switch (kind) {
    case RescueKind::Deleted: return "deleted";
    case RescueKind::LostFolder: return "lost folder";
    case RescueKind::Carved: return "carved";
  }
  return "";
}

RescueFindings FindRescuable(DiskAccess& access, const DrivePacket& root,
                             const RescueScanOptions& options, const std::atomic<bool>* stop,
                             const RescueProgress& progress, FindDeletedEvents* walkEvents) {
  RescueFindings found;
  if (!IsDirectoryNode(root)) {
    found.error = kFindDeletedNoVolume;
    return found;
  }
  // The walk's progress is the rescue's first phase.
  struct WalkProgress final : FindDeletedEvents {
    const RescueProgress& progress;
    FindDeletedEvents* events;
    WalkProgress(const RescueProgress& p, FindDeletedEvents* e) : progress(p), events(e) {}
    void Progress(uint32_t walked, uint32_t known) override {
      if (progress) progress(RescuePhase::Deleted, walked, known);
    }
    void RowFound(const DeletedFile& file) override {
      if (events) events->RowFound(file);
    }
  } walkProgress(progress, walkEvents);
  FindDeletedResult listed = FindDeletedFiles(access, root, stop, &walkProgress);
  if (!listed.opened) {
    found.error = listed.error;
    return found;
  }
  found.problems = std::move(listed.problems);
  found.deleted = std::move(listed.files);
  found.foldersWalked = listed.foldersWalked;
  found.stopped = listed.stopped;
  VolumeReader volume(access, root);
  found.error = OpenError(volume.Load());
  if (!found.error.empty()) return found;
  ClusterGeometry g;
  g.clusterBytes = volume.ClusterBytes();
  g.lastCluster = volume.LastCluster();
  g.fatType = volume.Width();
  g.rootCluster = volume.FixedRoot() ? 0 : root.firstCluster;
  if (!g.Valid()) {
    found.error = kFindDeletedNoVolume;
    return found;
  }
  found.opened = true;
  found.clusterBytes = g.clusterBytes;
  if (found.stopped) return found;

  // What the live folders reach, and what the deleted files listed would be
  // read from (as Copy Out reads them: on from the start while free): neither
  // is searched again, and a lost file's run that meets them was overwritten.
  std::vector<bool> taken = std::move(listed.liveClusters);
  taken.resize(uint64_t{g.lastCluster} + 1, false);
  const std::vector<bool> live = taken;
  auto free = [&](uint32_t c) { return g.InRange(c) && !live[c] && volume.Entry(c).IsFree(); };
  for (const DeletedFile& f : found.deleted) {
    if (f.state == DeletedState::Lost || !g.InRange(f.startCluster)) continue;
    const uint64_t n = f.folder ? f.clusters
                                : std::max<uint64_t>(1, (uint64_t{f.size} + g.clusterBytes - 1) /
                                                            g.clusterBytes);
    for (uint64_t k = 0; k < n; ++k) {
      const uint64_t c = uint64_t{f.startCluster} + k;
      if (c > g.lastCluster || !free(static_cast<uint32_t>(c))) break;
      taken[c] = true;
    }
  }
  auto isTaken = [&](uint32_t c) { return c > g.lastCluster || taken[c]; };

  DiskClusterSource source(access, root);
  LostFolderScanner scanner(g);
  std::optional<Carver> carver;
  if (options.carve) carver.emplace(g);
  ClusterRunOptions runs;
  runs.skip = isTaken;
  runs.stop = stop;
  runs.progress = [&](uint32_t c) {
    if (progress) progress(RescuePhase::DataArea, c, g.lastCluster);
  };
  const ClusterRunTotals totals = ForEachClusterRun(source, g, runs, [&](const ClusterRun& run) {
    scanner.Feed(run);
    if (carver) carver->Feed(run);
  });
  found.unreadableSectors = totals.unreadableSectors;
  found.stopped = totals.stopped;

  LostFolderInputs inputs;
  inputs.taken = isTaken;
  inputs.reached = isTaken;
  // A lost root leaves its folders chained in the FAT.
  inputs.fatEntry = [&](uint32_t c) { return volume.Entry(c).value; };
  found.lost = scanner.Build(inputs);
  if (carver) {
    found.carved = carver->Finish();
    // What a deleted or lost-folder file holds is that file's, not a carving.
    std::vector<bool> claimed = taken;
    // Copy Out also reads a deleted file around the live clusters its run
    // meets: what lies after them is that reading's, or a file's tail would
    // come back a second time as a carving of its own.
    for (const DeletedFile& f : found.deleted) {
      if (f.folder || f.state == DeletedState::Lost || !g.InRange(f.startCluster)) continue;
      const uint64_t n = std::max<uint64_t>(1, (uint64_t{f.size} + g.clusterBytes - 1) / g.clusterBytes);
      uint64_t got = 0;
      for (uint64_t c = f.startCluster; got < n && c <= g.lastCluster; ++c) {
        if (!free(static_cast<uint32_t>(c))) continue;
        claimed[c] = true;
        ++got;
      }
    }
    for (const LostFolder& f : found.lost.folders)
      for (uint32_t c : f.clusters) claimed[c] = true;
    for (const LostEntry& e : found.lost.entries) {
      if (e.file.folder || e.file.state == DeletedState::Lost) continue;
      for (uint64_t k = 0; k < e.file.clusters; ++k) {
        const uint64_t c = uint64_t{e.file.startCluster} + k;
        if (c > g.lastCluster || isTaken(static_cast<uint32_t>(c))) break;
        claimed[c] = true;
      }
    }
    DropClaimedCarvings(found.carved, g.clusterBytes,
                        [&](uint32_t c) { return c > g.lastCluster || claimed[c]; });
  }
  return found;
}

std::string CarvedFileName(const CarvedFile& file) {
  char name[32];
  std::snprintf(name, sizeof name, "c%07u.", static_cast<unsigned>(file.firstCluster));
  return name + file.extension;
}

std::vector<RescueFile> RescueFiles(const RescueFindings& findings,
                                    std::vector<std::string>* folders) {
  std::vector<RescueFile> files;
  if (folders) folders->clear();
  for (const DeletedFile& f : findings.deleted) {
    if (f.folder) continue;
    files.push_back({RescueKind::Deleted, HostFolderOf(f.path), ItemOfDeleted(f), DeletedStateText(f)});
  }
  // Each lost folder's place on the host, parents first as the forest has them.
  const LostFolderForest& forest = findings.lost;
  std::vector<std::string> place(forest.folders.size());
  for (size_t i = 0; i < forest.folders.size(); ++i) {
    const LostFolder& f = forest.folders[i];
    const std::string above = f.parent < i ? place[f.parent] : std::string(kLostFoldersLabel);
    place[i] = above + "/" + SafeHostName(f.name);
    if (folders) folders->push_back(place[i]);
  }
  for (const LostEntry& e : forest.entries) {
    if (e.file.folder || e.folder >= place.size()) continue;
    RescueFile r{RescueKind::LostFolder, place[e.folder], ItemOfDeleted(e.file),
                 DeletedStateText(e.file)};
    files.push_back(std::move(r));
  }
  for (const CarvedFile& c : findings.carved) {
    CopyOutItem item;
    item.name = CarvedFileName(c);
    item.deleted = true;
    item.firstCluster = c.firstCluster;
    item.size = static_cast<uint32_t>(std::min<uint64_t>(c.length, UINT32_MAX));
    files.push_back({RescueKind::Carved, kCarvedLabel, item, c.endFound ? "end found" : "end not found"});
  }
  return files;
}

bool RescueResult::Complete() const {
  // A sector that could not be read may have held what was not found.
  if (!opened || stopped || !problems.empty() || unreadableSectors > 0) return false;
  for (const RescuedFile& f : files)
    if (!f.whole) return false;
  return true;
}

RescueResult CopyRescued(DiskAccess& access, const DrivePacket& root,
                         const std::vector<RescueFile>& files, const std::vector<std::string>& folders,
                         const std::string& targetFolder, const std::atomic<bool>* stop,
                         const RescueProgress& progress) {
  RescueResult result;
  if (!MakeFolders(targetFolder)) {
    result.error = "Cannot make " + targetFolder + ": " + std::strerror(errno);
    return result;
  }
  result.opened = true;
  for (const std::string& f : folders)
    if (!MakeFolders(Join(targetFolder, f)))
      result.problems.push_back(Join(targetFolder, f) + ": " + std::strerror(errno));
  uint64_t done = 0;
  for (const RescueFile& file : files) {
    if (stop && stop->load()) {
      result.stopped = true;
      break;
    }
    RescuedFile out;
    out.kind = file.kind;
    out.size = file.item.size;
    out.judgement = file.judgement;
    const std::string into = Join(targetFolder, file.folder);
    if (!MakeFolders(into)) {
      result.problems.push_back(into + ": " + std::strerror(errno));
      result.files.push_back(out);
      continue;
    }
    CopyOutOptions copy;
    copy.targetFolder = into;
    const CopyOutResult one = CopyOut(access, root, std::span<const CopyOutItem>(&file.item, 1), copy);
    if (!one.opened) {
      result.problems.push_back(into + "/" + SafeHostName(file.item.name) + ": " + one.error);
      result.files.push_back(out);
      continue;
    }
    // A deleted file read both ways around a live cluster gives two; their
    // unreadable sectors are the same ones.
    uint64_t unreadableSectors = 0;
    for (const std::string& path : one.written) {
      RescuedFile made = out;
      made.hostPath = path;
      const std::string reading = ReadingOf(one, path);
      if (!reading.empty()) made.judgement += ", " + reading;
      uint64_t sectors = 0;
      for (const UnreadableRange& r : one.unreadable) {
        if (r.file != path) continue;
        made.unreadableBytes += r.to - r.from;
        sectors += (r.to - r.from + 511) / 512;
      }
      unreadableSectors = std::max(unreadableSectors, sectors);
      made.whole = CopiedWhole(one, path);
      switch (file.kind) {
        case RescueKind::Deleted: ++result.deleted; break;
        case RescueKind::LostFolder: ++result.lost; break;
        case RescueKind::Carved: ++result.carved; break;
      }
      result.files.push_back(std::move(made));
    }
    if (one.written.empty()) result.files.push_back(out);
    // The data-area pass counted the sectors of lost and carved files.
    if (file.kind == RescueKind::Deleted) result.unreadableSectors += unreadableSectors;
    // Each file's line says how it was read.
    for (const std::string& line : CopyOutReport(one, false)) result.problems.push_back(line);
    if (progress) progress(RescuePhase::Copy, ++done, files.size());
  }
  return result;
}

RescueResult Rescue(DiskAccess& access, const DrivePacket& root, const RescueScanOptions& options,
                    const std::string& targetFolder, const std::atomic<bool>* stop,
                    const RescueProgress& progress) {
  const RescueFindings found = FindRescuable(access, root, options, stop, progress);
  if (!found.opened) {
    RescueResult result;
    result.error = found.error;
    return result;
  }
  std::vector<std::string> folders;
  const std::vector<RescueFile> files = RescueFiles(found, &folders);
  RescueResult result = CopyRescued(access, root, files, folders, targetFolder, stop, progress);
  result.unreadableSectors += found.unreadableSectors;
  result.stopped = result.stopped || found.stopped;
  return result;
}

std::string RescueLine(const RescuedFile& file) {
  std::string line = file.hostPath + "\t" + RescueKindText(file.kind) + "\t" +
                     std::to_string(file.size) + "\t" + file.judgement;
  if (file.unreadableBytes > 0)
    line += ", " + std::to_string(file.unreadableBytes) + " bytes unreadable";
  return line;
}

std::string RescueSummary(const RescueResult& result, const std::string& folder) {
  const uint32_t total = result.deleted + result.lost + result.carved;
  return std::to_string(total) + " files rescued to " + folder + ": " +
         std::to_string(result.deleted) + " deleted, " + std::to_string(result.lost) +
         " from lost folders, " + std::to_string(result.carved) + " carved; " +
         std::to_string(result.unreadableSectors) + " unreadable sectors" +
         (result.stopped ? " (stopped)" : "");
}

// Rescue: what a FAT volume still holds of files that no live folder lists -
// its deleted files, the files of lost folders (after a quick format or a
// lost root) and, on request, files carved from free clusters by their
// structure - found in one pass over the data area and copied into a folder
// of the host. The volume is only read.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "recovery/carving.h"
#include "recovery/copy_out.h"
#include "recovery/deleted_files.h"
#include "recovery/lost_folders.h"

inline constexpr const char* kRescueCaption = "Rescue";
inline constexpr const char* kCarvedLabel = "Carved";

enum class RescueKind : uint8_t { Deleted, LostFolder, Carved };
// "deleted", "lost folder", "carved".
const char* RescueKindText(RescueKind kind);

enum class RescuePhase : uint8_t { Deleted, DataArea, Copy };
// Deleted: folders walked of those known; DataArea: the cluster reached of
// the last; Copy: files copied of those found.
using RescueProgress = std::function<void(RescuePhase phase, uint64_t done, uint64_t total)>;

struct RescueScanOptions {
  bool carve = true;  // carving takes the longest: the window asks for it
};

// What one look over the volume found.
struct RescueFindings {
  bool opened = false;  // the volume could be read; else error says why
  std::string error;
  std::vector<DeletedFile> deleted;  // as Find Deleted Files lists them
  LostFolderForest lost;
  std::vector<CarvedFile> carved;    // by first cluster, none claimed by another file
  uint32_t clusterBytes = 0;
  uint64_t unreadableSectors = 0;    // met in the data area's free and lost clusters
  std::vector<std::string> problems;  // folders Find Deleted Files could not read whole
  uint32_t foldersWalked = 0;         // by Find Deleted Files
  bool stopped = false;
};

// walkEvents (when given) hears each deleted file as soon as the walk of the
// live folders ends, before the longer pass over the data area.
[[nodiscard]] RescueFindings FindRescuable(DiskAccess& access, const DrivePacket& root,
                                           const RescueScanOptions& options,
                                           const std::atomic<bool>* stop = nullptr,
                                           const RescueProgress& progress = {},
                                           FindDeletedEvents* walkEvents = nullptr);

// A file to copy and where it goes: folder is relative to the target folder
// ("" the target itself, "Lost Folders/DCIM", "Carved"), each part a name the
// host takes.
struct RescueFile {
  RescueKind kind = RescueKind::Deleted;
  std::string folder;
  CopyOutItem item;
  std::string judgement;  // "intact", "partly overwritten (N clusters)", "lost", "end found", "end not found"
};

// Every file the findings hold, in order: deleted, lost folders', carved.
// folders gets every folder to make, parents first (lost folders with
// nothing left in them too).
std::vector<RescueFile> RescueFiles(const RescueFindings& findings,
                                    std::vector<std::string>* folders = nullptr);

// A path of the volume ("/A/B/c.txt") as folders of the host below the
// target ("A/B"): each part made a name the host takes, the last (the file's
// own name) left out.
std::string HostFolderOf(const std::string& path);

// "c0012345.png": a carved file's name, by first cluster and type.
std::string CarvedFileName(const CarvedFile& file);

struct RescuedFile {
  RescueKind kind = RescueKind::Deleted;
  std::string hostPath;   // empty when it could not be made
  uint64_t size = 0;
  std::string judgement;
  uint64_t unreadableBytes = 0;  // bytes written as the failed read left them
  bool whole = false;            // written, every byte read
};

struct RescueResult {
  bool opened = false;
  std::string error;
  std::vector<RescuedFile> files;
  std::vector<std::string> problems;  // as Copy Out reports them: short copies, unreadable bytes
  uint64_t unreadableSectors = 0;     // of the data area's pass and of the files copied
  uint32_t deleted = 0, lost = 0, carved = 0;  // files written of each kind
  bool stopped = false;
  bool Complete() const;  // opened, not stopped, every file written whole
};

// Copies files into targetFolder (made when missing, with its parents),
// each into its folder. Nothing is written to the volume.
[[nodiscard]] RescueResult CopyRescued(DiskAccess& access, const DrivePacket& root,
                                       const std::vector<RescueFile>& files,
                                       const std::vector<std::string>& folders,
                                       const std::string& targetFolder,
                                       const std::atomic<bool>* stop = nullptr,
                                       const RescueProgress& progress = {});

// Both, as gleaner-cli rescue runs them.
[[nodiscard]] RescueResult Rescue(DiskAccess& access, const DrivePacket& root,
                                  const RescueScanOptions& options, const std::string& targetFolder,
                                  const std::atomic<bool>* stop = nullptr,
                                  const RescueProgress& progress = {});

// "PATH\tKIND\tSIZE\tJUDGEMENT", the judgement followed by ", N bytes
// unreadable" where some were.
std::string RescueLine(const RescuedFile& file);
// "N files rescued to DIR: D deleted, L from lost folders, C carved; U
// unreadable sectors", with " (stopped)" when it was.
std::string RescueSummary(const RescueResult& result, const std::string& folder);

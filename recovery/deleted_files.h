// Find Deleted Files: walks a whole FAT volume - its live folders and, where
// their first cluster still holds a folder, its deleted ones - and lists every
// deleted file and folder with a judgement of what undelete or a copy-out
// would get back. Reads only.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "recovery/find_deleted_events.h"
#include "recovery/volume_reader.h"

inline constexpr const char* kFindDeletedCaption = "Find Deleted Files";
inline constexpr const char* kFindDeletedFatUnreadable = "FAT not accessible!";
inline constexpr const char* kFindDeletedNoMemory = "Fatal Error!  Not able to allocate a buffer!";
inline constexpr const char* kFindDeletedNoVolume = "No FAT volume selected!";

enum class DeletedState { Intact, PartlyOverwritten, Lost };

struct DeletedFile {
  std::string path;        // from the root: "/DOCS/report.txt" (UTF-8)
  std::string name;        // the last part of path
  bool longName = false;   // name is the recovered long name
  bool folder = false;
  uint8_t attributes = 0;
  uint32_t size = 0;
  uint32_t startCluster = 0;
  uint16_t modifiedDate = 0;
  uint16_t modifiedTime = 0;
  bool inDeletedFolder = false;
  DeletedState state = DeletedState::Lost;
  uint32_t clusters = 0;     // clusters undelete would chain
  uint32_t overwritten = 0;  // of them, allocated now (or past the volume)
};

// What undelete or a copy-out would get back of a file whose clusters run on
// from its start cluster: size / cluster bytes of them (at least one), each
// overwritten when allocated(cluster) says a live file holds it now, or when
// it lies past the volume's last cluster. A start cluster outside the volume
// is lost. Find Deleted Files and the lost-folder search judge alike.
struct RunJudgement {
  DeletedState state = DeletedState::Lost;
  uint32_t clusters = 0;
  uint32_t overwritten = 0;
};
RunJudgement JudgeFileRun(uint32_t startCluster, uint32_t size, uint32_t clusterBytes,
                          uint32_t lastCluster, const std::function<bool(uint32_t)>& allocated);

// "intact", "partly overwritten (N clusters)" ("1 cluster"), "lost".
std::string DeletedStateText(const DeletedFile& file);

struct FindDeletedResult {
  bool opened = false;           // the volume could be read; else error says why
  std::string error;
  std::vector<DeletedFile> files;  // in walk order: folder by folder, entry order
  std::vector<std::string> problems;  // folders not fully read: "path: text"
  uint32_t foldersWalked = 0;
  bool stopped = false;
  // By cluster number: the clusters the live folders' chains reach (the
  // root's, the folders' and their files'), as far as the walk went.
  std::vector<bool> liveClusters;
};

// root: the volume's root-directory node (as VolumeReader takes it). stop is
// polled before each folder; a stopped walk returns what it found. events
// (when given) hears the progress and every file found. The first status
// pane is emptied at the end: the reads' "Wait...." is over.
[[nodiscard]] FindDeletedResult FindDeletedFiles(DiskAccess& access, const DrivePacket& root,
                                                 const std::atomic<bool>* stop = nullptr,
                                                 FindDeletedEvents* events = nullptr);

// Whether the node selected in the tree lies in a volume whose deleted files
// can be looked for: a partition or floppy, its FAT copies, root or folders,
// or any node of an exFAT volume.
bool FindDeletedAllowed(const DrivePacket& node);

// The clusters of a deleted folder from its first cluster: that cluster when
// it still holds a folder ("." naming it, then ".."), and the clusters right
// after it while they are free, the one before ended without an end mark,
// and they look like directory entries. Empty when the first cluster holds
// no folder. out gets their bytes.
std::vector<uint32_t> ReadDeletedFolder(VolumeReader& volume, uint32_t first,
                                        std::vector<uint8_t>& out);

// Copy Out To Folder: copies files and folders of a FAT volume - live ones,
// and deleted ones as undelete would chain them - into a folder of the host.
// The volume is only read, so it works on a drive opened read-only; nothing
// on the host is overwritten: a name that exists gets " (2)", " (3)", ...
#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "recovery/copy_out_events.h"
#include "recovery/deleted_files.h"
#include "recovery/volume_reader.h"
#include "views/view_page.h"

inline constexpr const char* kCopyOutCaption = "Copy Out To Folder";

// One file or folder to copy: an entry of a directory of the volume.
struct CopyOutItem {
  std::string name;  // UTF-8: the long name, else the short name ("_" for a lost first character)
  bool folder = false;
  bool deleted = false;
  uint32_t firstCluster = 0;
  uint32_t size = 0;
  uint16_t modifiedDate = 0;  // FAT date and time of the entry; 0: not set
  uint16_t modifiedTime = 0;
};

struct CopyOutOptions {
  // The host folder copied into; made (with the folders above it) when it
  // does not exist yet.
  std::string targetFolder;
  // A deleted file's clusters run on from its start cluster. When they meet
  // one a live file holds now, the file was either overwritten there or
  // written around it: by default both readings are tried (see
  // kReadAroundChecked); with this, only the one that skips such clusters
  // and takes the next free ones.
  bool skipAllocated = false;
};

// How a deleted file whose clusters met a live one was read. When its
// structure can be checked (the carved formats), the reading that checks out
// is kept; otherwise both are written, the one that steps over the live
// clusters as "NAME (around live clusters).EXT".
inline constexpr const char* kReadAroundChecked = "read around the live clusters: its structure checks out";
inline constexpr const char* kStoppedChecked = "stopped at the live cluster: its structure checks out";
inline constexpr const char* kReadAroundToo =
    "also read around the live clusters: which reading is right cannot be told";
inline constexpr const char* kAroundLiveSuffix = " (around live clusters)";

struct ReadingNote {
  std::string file;  // host path
  std::string text;  // one of the texts above
};

// A byte range of a copied file that came from sectors that could not be
// read: the bytes are as the read left them.
struct UnreadableRange {
  std::string file;  // host path
  uint64_t from = 0;  // bytes [from, to)
  uint64_t to = 0;
};

struct CopyOutResult {
  bool opened = false;  // the volume could be read; else error says why
  std::string error;
  // Files by what came of them (see CopyOutcome): a file of which no byte
  // could be copied is not left on the host.
  uint32_t filesWhole = 0;
  uint32_t filesPartial = 0;
  uint32_t filesFailed = 0;
  uint32_t foldersMade = 0;
  std::vector<std::string> written;  // host paths of the files and folders made, in order
  std::vector<UnreadableRange> unreadable;
  std::vector<std::string> problems;  // "host path: what" for short copies and failures
  std::vector<ReadingNote> readings;  // deleted files whose clusters met a live one
  bool stopped = false;
  bool Complete() const { return opened && problems.empty() && unreadable.empty() && !stopped; }
};

// volumeNode: the root-directory node or any folder node of the volume. stop
// is polled before each file or folder; events (when given) hears each file
// done. The first status pane is emptied at the end.
// A root folder or a folder's entry: what Copy Out and rescue start from.
bool IsDirectoryNode(const DrivePacket& node);

// The message for a volume that could not be opened for reading; empty when it was.
std::string OpenError(VolumeReader::Open open);

[[nodiscard]] CopyOutResult CopyOut(DiskAccess& access, const DrivePacket& volumeNode,
                                    std::span<const CopyOutItem> items,
                                    const CopyOutOptions& options,
                                    const std::atomic<bool>* stop = nullptr,
                                    CopyOutEvents* events = nullptr);

// The item of a deleted file or folder the finder listed.
CopyOutItem ItemOfDeleted(const DeletedFile& file);

// The items of entries of the directory node dir (root or folder): the
// entries listing rows `rows` show (counted from 0, as the directory listing
// counts them), or, with no rows, every live file and folder in it. nullopt
// when the directory cannot be read or a row is not there.
[[nodiscard]] std::optional<std::vector<CopyOutItem>> ItemsOfDirectory(DiskAccess& access,
                                                                      const DrivePacket& dir,
                                                                      std::span<const int> rows);

// The folder a copy goes into: made, with the folders above it, when it does
// not exist. False with the reason ("Not a folder: X", "Cannot make the
// folder X: why") otherwise.
[[nodiscard]] bool MakeTargetFolder(const std::string& folder, std::string& why);

// A name the host takes: "/" and NUL become "_", "." and ".." become "_" and
// "__", an empty name "_".
std::string SafeHostName(const std::string& name);

// Makes the file (opened for writing into fd) or folder name in the host
// folder into, under the first of name, "name (2)", ... nobody has taken; its
// path, or empty with why.
[[nodiscard]] std::string CreateHostEntry(const std::string& into, const std::string& name, bool folder,
                                          int& fd, std::string& why);
// Every byte into fd; false (errno set) when the host refused one.
[[nodiscard]] bool WriteAllToHost(int fd, std::span<const uint8_t> bytes);

// "W files copied whole, P in part, F not copied; M folders made in FOLDER",
// with " (stopped)" when it was.
std::string CopyOutSummary(const CopyOutResult& result, const std::string& folder);

// Whether Copy Out To Folder can act on the page on show: rows are selected
// in a root directory or folder listing of node, the node selected in the
// tree (not while a file dump is on show).
bool CopyOutAllowed(const ViewPage& pane, const DrivePacket& node, std::span<const int> rows);

// The report lines of a copy: one a problem, then one an unreadable range
// ("FILE: bytes FROM-TO unreadable", TO inclusive), then one a reading
// ("FILE: READING") unless left out.
std::vector<std::string> CopyOutReport(const CopyOutResult& result, bool readings = true);

// Whether the host file at path was copied whole: no problem or unreadable
// range names it.
bool CopiedWhole(const CopyOutResult& result, const std::string& path);
// The reading note of the host file at path; empty when it has none.
std::string ReadingOf(const CopyOutResult& result, const std::string& path);

// Lost folders: the folders of a FAT volume that no folder reaches any more
// (after a quick format wrote a new, empty root and FAT, or when the root was
// lost), found in one pass over the data area by what their clusters hold,
// linked through their ".." entries into the trees they formed, with every
// file and folder they still name. Reads only; works over plain inputs so
// that the same code runs over a disk, an image or memory.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "recovery/cluster_source.h"
#include "recovery/deleted_files.h"

inline constexpr const char* kLostFoldersLabel = "Lost Folders";

// What one cluster holds, by its 32-byte entries.
enum class FolderClusterKind {
  None,          // no folder: some entry does not decode as a sound one
  Head,          // a folder's first cluster: "." naming this cluster, then ".."
  Continuation,  // sound entries, no "." and "..": a later cluster of some folder
};

struct FolderClusterJudgement {
  FolderClusterKind kind = FolderClusterKind::None;
  uint32_t parent = 0;      // Head: the cluster ".." names (0: the root)
  bool ended = false;       // an end mark (byte 0 of 0) stands in the cluster
  uint32_t entries = 0;     // sound entries before the end: short ones and long-name pieces
  uint32_t shortEntries = 0;  // of them, short entries other than "." and ".."
  uint32_t unknownSlots = 0;  // entries in sectors that could not be read
  // What links a cluster to the one before it in its folder: a first entry
  // that is a long-name piece not marked last (its name began there), or a
  // first entry that is a live short entry (the pieces before it may end
  // the cluster before); leadChecksum is the checksum either carries.
  uint8_t leadOrdinal = 0;
  bool leadShort = false;
  uint8_t leadChecksum = 0;
  // And to the one after it: live pieces ending the cluster, whose short
  // entry comes next; tailOrdinal is the last one's ordinal (0: none).
  uint8_t tailOrdinal = 0;
  uint8_t tailChecksum = 0;
  bool tailUnknown = false;  // the last entry could not be read: nothing links it
};

// Judges one cluster's bytes. Every entry before the end mark must be a sound
// one - a short entry of name bytes a short name may hold, known attribute
// bits, valid times and dates (the modification date set), a start cluster
// inside the volume (0 only for an empty file) and a size that fits it, or a
// long-name piece with a sound ordinal, its zero type and cluster words and a
// name that ends in zero and 0xFFFF padding; a live run of pieces must carry
// the checksum of the short entry it stands in front of - and every entry
// after the end mark must start with 0. Entries inside unreadable ranges are
// neither sound nor unsound; a head needs its first two readable.
FolderClusterJudgement JudgeFolderCluster(std::span<const uint8_t> bytes, uint32_t cluster,
                                          const ClusterGeometry& geometry,
                                          std::span<const ByteRange> unreadable = {});

// A file or folder that a lost folder names.
struct LostEntry {
  DeletedFile file;         // path from the "Lost Folders" node; judged as Find Deleted Files does
  bool deleted = false;     // the entry is marked deleted (file.inDeletedFolder: a folder above is)
  uint16_t createdDate = 0;
  uint16_t accessedDate = 0;
  size_t folder = 0;        // the lost folder (index in LostFolderForest::folders) that names it
  size_t subfolder = SIZE_MAX;  // a folder entry whose folder was found: its index
};

struct LostFolder {
  uint32_t firstCluster = 0;      // the cluster "." names, or the first continuation cluster
  std::vector<uint32_t> clusters;  // the clusters its entries came from, in order
  bool headFound = true;          // false: continuation clusters whose first cluster is gone
  uint32_t parentCluster = 0;     // what ".." names (0: the root)
  size_t parent = SIZE_MAX;       // the lost folder above it; SIZE_MAX: a child of "Lost Folders"
  std::string name;               // from the entry that names it, else "Folder at cluster N"
  bool named = false;             // name came from an entry
  bool longName = false;
  bool deleted = false;           // the entry that names it is deleted
  std::string path;               // "/NAME/SUB" from the "Lost Folders" node
  std::vector<size_t> entries;    // its files and folders (indexes in LostFolderForest::entries)
  std::vector<uint32_t> unreadableClusters;  // clusters of it with unreadable sectors
};

struct LostFolderForest {
  std::vector<LostFolder> folders;  // parents before their children
  std::vector<LostEntry> entries;   // folder by folder, in entry order
  std::vector<size_t> tops;         // the folders right under "Lost Folders"
};

// What the volume's live structure says, given by the caller.
struct LostFolderInputs {
  // The cluster holds data of a file or folder that a live folder, or a
  // deleted entry already listed, reaches: it is no lost folder's, and a lost
  // file's run that meets it was overwritten (the live FAT's view).
  std::function<bool(uint32_t)> taken;
  // A folder whose first cluster this is is listed already (a live folder or
  // Find Deleted Files reaches it): it and what hangs below it stay out.
  std::function<bool(uint32_t)> reached;
  // The live FAT's entry of a cluster (0: free), when the FAT still chains
  // some lost folders; empty when it knows none (after a format).
  std::function<uint32_t(uint32_t)> fatEntry;
};

// Collects the folder clusters of the runs it is fed (the data area in
// cluster order, as ForEachClusterRun reads it; the same runs may go to the
// carver in the same pass) and builds the forest from them. Only the entries
// of folder clusters are kept, never the rest of the data.
class LostFolderScanner {
 public:
  explicit LostFolderScanner(const ClusterGeometry& geometry);
  void Feed(const ClusterRun& run);
  LostFolderForest Build(const LostFolderInputs& inputs) const;

  size_t FolderClustersSeen() const { return clusters_.size(); }

  // A folder holds at most 65536 entries.
  static constexpr uint32_t kMostFolderBytes = 65536 * 32;

 private:
  struct Seen {
    FolderClusterJudgement judgement;
    std::vector<uint8_t> bytes;  // up to and with the end mark; unreadable entries blanked
    uint32_t reach = 0;          // the highest cluster its live files' runs take
  };
  ClusterGeometry geometry_;
  std::map<uint32_t, Seen> clusters_;
  std::map<uint32_t, bool> unreadable_;  // clusters fed with unreadable sectors: true when wholly so
};

// One pass over the data area (clusters the taken predicate leaves) for lost
// folders alone.
LostFolderForest FindLostFolders(ClusterSource& source, const ClusterGeometry& geometry,
                                 const LostFolderInputs& inputs,
                                 const std::atomic<bool>* stop = nullptr);

// "Folder at cluster N".
std::string LostFolderFallbackName(uint32_t cluster);

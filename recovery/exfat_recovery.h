// Deleted files and Copy Out on exFAT volumes. A deleted file keeps its whole
// entry set with the in-use bits cleared: its name, length, first cluster and
// whether it had a FAT chain. A contiguous file (NoFatChain) comes back from
// its run; a fragmented one through the FAT chain it left, while its clusters
// are free in the allocation bitmap. Reads only.
#pragma once
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/exfat_volume.h"
#include "recovery/copy_out.h"
#include "recovery/deleted_files.h"
#include "recovery/rescue.h"

struct ExfatDeletedFile {
  std::string path;  // from the root: "/Old/Inner/o2.bin" (UTF-8)
  bool folder = false;
  uint64_t size = 0;
  uint32_t startCluster = 0;
  bool noFatChain = false;
  bool inDeletedFolder = false;
  DeletedState state = DeletedState::Lost;
  uint64_t clusters = 0;     // clusters its length takes
  uint64_t overwritten = 0;  // of them, in use now, past the heap or not on its chain
  ExfatEntrySet set;         // its entries as read: what a copy of it starts from
};
// As DeletedStateText says it: "intact", "partly overwritten (N clusters)", "lost".
std::string ExfatDeletedStateText(const ExfatDeletedFile& file);

struct ExfatDeletedResult {
  bool opened = false;  // the volume could be read; else error says why
  std::string error;
  std::vector<ExfatDeletedFile> files;  // folder by folder, in entry order
  std::vector<std::string> problems;    // "path: text" for folders not fully read
};

// Every deleted file and folder of the exFAT volume node lies in (any node of
// it), and everything inside a deleted folder, judged against the bitmap.
[[nodiscard]] ExfatDeletedResult FindExfatDeleted(DiskAccess& access, const DrivePacket& node);

// The clusters a file's bytes would be read from, in order: a live file's
// chain, or a deleted one's run or left chain up to the first cluster that is
// in use now (or missing). complete: all its length takes. A driver that frees
// a deleted file's chain leaves only its first cluster known: the rest is
// taken as on FAT, the clusters on from there (one in use ends the file and
// counts overwritten), or with skipAllocated the free ones on from there.
struct ExfatRecoveryPlan {
  std::vector<uint32_t> clusters;
  uint64_t needed = 0;
  uint64_t overwritten = 0;
  uint64_t guessed = 0;  // of the clusters, those taken on from a freed chain's end
  bool lost = false;  // its first cluster lies outside the heap
  bool Complete() const { return clusters.size() >= needed; }
};
ExfatRecoveryPlan PlanExfatStream(ExfatVolume& volume, const ExfatBitmap* bitmap, const ExfatStream& stream,
                                  bool deleted, bool skipAllocated = false);

// What a walk knows of the folders it has read: the first clusters of the
// folders their sets name and the clusters read as deleted folders'. None of
// them is taken as another deleted folder's next cluster.
struct ExfatFolderClaims {
  std::unordered_set<uint32_t> firstClusters;
  std::unordered_set<uint32_t> read;
  void Note(const ExfatDirectory& dir);  // the folders dir's sets name
};

// A deleted folder's bytes and sets. Its clusters are taken as a deleted
// file's are (its run, or the chain it left and on from its end while free).
// A driver that shrinks a folder as its files go and frees its chain leaves
// nothing to say where its later clusters lie, so past them the folder reads
// on through free clusters no other folder has: where its last set is cut at
// a cluster's end, the one whose first entries complete it with its checksum
// holding; where it ends on a whole set, the first after it that starts with
// a whole deleted file set. Reading stops at a cluster that does not hold
// directory entries, and at a folder's largest size. claims gains its
// clusters and its folders.
ExfatDirectory ReadExfatDeletedFolder(ExfatVolume& volume, const ExfatBitmap* bitmap, const ExfatStream& stream,
                                      const ExfatSetContext& context, ExfatFolderClaims& claims);

// Copies rows of the exFAT folder node dir (as its listing counts its entry
// sets, from 0; every live file and folder with none) into options'
// folder, folders with what they hold (a deleted folder: its deleted
// files); options.skipAllocated as PlanExfatStream takes it. error names a row (as typed, from 1) that is not a file or folder set.
[[nodiscard]] CopyOutResult ExfatCopyOut(DiskAccess& access, const DrivePacket& dir, std::span<const int> rows,
                                         const CopyOutOptions& options);

// Copies files and folders FindExfatDeleted listed into options' folder, each
// by its own name, a folder with the deleted files it holds: what Find Deleted
// Files copies of the rows chosen. stop is polled before each file or folder;
// events hears each file done.
[[nodiscard]] CopyOutResult ExfatCopyDeleted(DiskAccess& access, const DrivePacket& node,
                                             std::span<const ExfatDeletedFile> files,
                                             const CopyOutOptions& options,
                                             const std::atomic<bool>* stop = nullptr,
                                             CopyOutEvents* events = nullptr);

// Rescue of an exFAT volume (node: any node of it) into targetFolder: every
// deleted file under its path ("Old/Inner/o2.bin"), a deleted folder's files
// with it, and, with options.carve, files carved from the clusters the
// allocation bitmap shows free that no deleted file would be read from, under
// "Carved". Nothing is written to the volume.
[[nodiscard]] RescueResult ExfatRescue(DiskAccess& access, const DrivePacket& node,
                                       const RescueScanOptions& options, const std::string& targetFolder,
                                       const std::atomic<bool>* stop = nullptr);

// Undelete in place: rows of the exFAT folder node dir (as its listing counts
// them, from 0) that are deleted file or folder sets whose clusters are all
// still free get their in-use bits and set checksum back, their clusters
// marked in the allocation bitmap (a FAT chain, where the file had one, is
// still in the FAT, or the file is not intact; its entries a driver freed at
// the chain's end are linked again). The bitmap is written before
// the entries, so that a run cut short never leaves a live file on free
// clusters. Every write goes through the drive's undo journal. A row that
// cannot come back whole is named and left alone.
struct ExfatUndeleteResult {
  bool ran = false;
  uint32_t revived = 0;
  uint32_t refused = 0;
  bool writeFailed = false;
  bool Succeeded() const { return ran && revived > 0 && refused == 0 && !writeFailed; }
};
[[nodiscard]] ExfatUndeleteResult ExfatUndelete(DiskAccess& access, const DrivePacket& dir,
                                                std::span<const int> rows);


// Scan Disk for Errors: the check and repair of one FAT volume. It compares
// the FAT copies, loads FAT 1 as the working image, walks every folder to find
// cross-linked files (giving the file met second its own copy of the shared
// tail), counts lost clusters and, in the thorough test, reads every cluster of
// every file and folder and every free cluster, moving data off unreadable
// clusters and marking them bad. FAT changes collect in the image and reach
// the disk after the closing question, except those of a repair that changes
// a directory entry or the boot record: that repair is written whole, in an
// order a crash or a refused write cannot turn into damage (data clusters,
// then its FAT entries in every copy, then the entry), and taken back when a
// step fails.
//
// One DiskScan belongs to the thread that runs it; only the running and stop
// flags are shared with the dialog that started it.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/fat_codec.h"
#include "disk/memory_budget.h"
#include "disk/volume_layout.h"
#include "disk/prompt_port.h"
#include "scan/scan_events.h"
#include "scan/scan_layout.h"
#include "scan/scan_volumes.h"

// The flags the scan's dialog and its worker share.
struct ScanFlags {
  std::atomic<bool> running{false};  // set by the dialog, cleared by the worker last of all
  std::atomic<bool> stop{false};     // set by Stop and by a close attempt
};

struct ScanOptions {
  bool thorough = false;  // the surface tests after the first walk
  // Every Yes/No question is answered Yes without being shown; its text is
  // told as AutoAnswered instead.
  bool autoFix = false;
  // Whether the repairs that ask nothing (moving data off a bad cluster) may
  // write. A check that must leave the disk as it is (gleaner-cli's --no)
  // turns them off: the bad cluster is reported and left.
  bool repairUnasked = true;
  // What one buffer sized from the disk may take.
  MemoryBudget budget{};
  // Lost chains are freed (after their own question) instead of saved as
  // files; the clusters cut off past a file's size are saved all the same.
  bool freeLost = false;
};

struct ScanResult {
  bool scanned = false;      // the boot record and a FAT copy could be read
  bool stopped = false;      // the stop flag ended it
  uint32_t problemsFound = 0;
  uint32_t problemsLeft = 0;  // found and not repaired: a No, a failed repair, lost clusters
  uint32_t lostClusters = 0;
  uint32_t crossLinks = 0;
  uint32_t badClusters = 0;  // unreadable clusters found (file, folder and free ones)
  uint32_t circularChains = 0;    // chains that run back into themselves
  uint32_t brokenChains = 0;      // links into a free cluster or to no cluster of the volume
  uint32_t badFirstClusters = 0;  // entries whose first cluster starts no chain
  uint32_t sizeMismatches = 0;    // files whose chain is longer or shorter than their size
  bool fatWritten = false;   // the image reached every FAT copy
  // Lost chains (counted from their heads, surplus tails cut off files
  // included) and what became of them.
  uint32_t lostChains = 0;
  uint32_t chainsSaved = 0;  // as FILEnnnn.CHK in FOUND.nnn of the root
  uint32_t chainsFreed = 0;   // only once the FAT copies hold it
  uint32_t lostClustersSaved = 0;  // of lostClusters, in the .CHK files
  uint32_t lostClustersFreed = 0;  // of lostClusters, freed on every FAT copy

  // The boot area.
  uint32_t bootRecords = 0;      // a damaged sector 0 read by its backup, or a stale backup
  uint32_t reservedEntries = 0;  // FAT[0]'s media byte, FAT[1]'s end-of-chain mark
  uint32_t dirtyBits = 0;        // not unmounted cleanly, disk errors met
  uint32_t fsInfoFaults = 0;     // signatures, free count, next-free hint
  uint32_t labelMismatches = 0;  // the boot record's label against the root's

  // Directory entries.
  uint32_t badShortNames = 0;    // bytes a short name cannot hold, lower case, blanks
  uint32_t duplicateNames = 0;   // a short name twice in one folder
  uint32_t dotEntries = 0;       // a folder's "." or ".." missing or leading elsewhere
  uint32_t folderLoops = 0;      // folder entries leading to their own folder or the root
  uint32_t folderSizes = 0;      // folder entries with a size other than 0
  uint32_t brokenLongNames = 0;  // long-name sets out of order, of another checksum, or without their short entry

  // fsck's codes: 0 nothing wrong found, 1 all found repaired, 4 problems
  // left, 8 not scanned.
  int ExitCode() const;
};

// The one message a scan that read its volume ends with (the window and
// gleaner-cli show it once the scan is over): what it found, what it
// repaired and what it left, worded for a scan stopped before its end too.
std::string ScanSummary(const ScanResult& result);

class DiskScan {
 public:
  DiskScan(DiskAccess& access, PromptPort& port, ScanFlags& flags, ScanEvents& events)
      : access_(access), basePort_(port), flags_(flags), events_(events) {}
  DiskScan(const DiskScan&) = delete;
  DiskScan& operator=(const DiskScan&) = delete;

  // Scans the volume and ends as every scan ends: Ended() told and the
  // running flag cleared.
  [[nodiscard]] ScanResult Run(const ScanVolumeEntry& volume, const ScanOptions& options);

  // The lowest free cluster of the volume under scan in the working image
  // that no deleted file still holds; when every free cluster is held, the
  // lowest held one, saying which deleted file it overwrites. 0 when there
  // is none.
  uint32_t FindFreeCluster();

 private:
  struct FatUndo {
    uint32_t cluster;
    uint32_t old;  // the entry as it was stored
  };
  // A repair that changed a directory entry: its FAT changes hold only when
  // the entry reaches the disk.
  struct EntryRepair {
    size_t entryOffset;
    std::vector<FatUndo> undo;
    // A cluster the entry leaves (a bad one moved from): its new entry may
    // reach the disk only after the entry no longer leads to it.
    uint32_t released = 0;
  };
  enum class Check { CrossLinks, Surface };

  void Reset();
  [[nodiscard]] bool ReadBootRecord(const ScanVolumeEntry& volume);
  void CompareFatCopies();
  [[nodiscard]] bool LoadFatImage();
  bool TakeBitmap();
  [[nodiscard]] bool LoadRoot();
  void MarkRootChain();
  void WalkFolders(Check check);
  [[nodiscard]] bool CheckFolder(Check check, ScanFolder& folder, bool isRoot);
  [[nodiscard]] bool CheckCrossLinks(ScanFolder& folder);
  // Ends a chain whose link at last leads to no cluster in use (question
  // asks), and brings a file's size down to the clusters it keeps.
  void EndBrokenChain(ScanFolder& folder, size_t at, uint32_t last, uint32_t clusters,
                      const char* question);
  [[nodiscard]] bool CopyChainTail(uint32_t shared, uint32_t first, uint32_t length);
  // The surface tests' buffer: a raw-road run of whole clusters, at least
  // one; false (said) when not even a cluster's room can be had.
  [[nodiscard]] bool TakeRunBuffer(std::vector<uint8_t>& buffer);
  [[nodiscard]] bool SurfaceTest(ScanFolder& folder);
  enum class Move { Moved, Failed, Declined };
  // Reads every cluster of the chain from first, in runs of the clusters
  // that follow each other on the disk (buffer, from TakeRunBuffer): a
  // file's or folder's, whose entry lies at entryOffset of folder, or
  // (folder null) the 32-bit root's.
  // A cluster that fails is reported and, when the options allow, moved.
  // Moved: the chain was read to its end (or the scan was stopped).
  [[nodiscard]] Move TestChain(uint32_t first, ScanFolder* folder, size_t entryOffset,
                 std::vector<uint8_t>& buffer);
  [[nodiscard]] Move MoveBadCluster(uint32_t c, uint32_t prev, bool first, ScanFolder* folder,
                      size_t entryOffset, std::span<const uint8_t> bytes, uint32_t& replacement);
  // Writes the folder's changed sectors, each after the FAT entries of the
  // repairs it holds; one that fails (or never read) gets the disk's bytes
  // back and its repairs are taken back and counted as left.
  void WriteFolderBack(ScanFolder& folder);
  // Writes the image's entries of these clusters into every FAT copy, the
  // copies' other entries left as they are. False when a copy could not be
  // read or written.
  [[nodiscard]] bool CommitFat(const std::vector<FatUndo>& changed);
  // Undoes a repair in the image and puts its entries back on disk as they
  // were (a step of it may have reached a copy before another failed).
  void TakeBack(const std::vector<FatUndo>& undo);
  void CountLostClusters();

  // Lost chains and surplus tails (scan/lost_chains.cpp).
  struct LostChain {
    uint32_t head;
    uint32_t length;
    bool tail;  // the clusters past a file's size: saved, never freed
  };
  // Asks to cut a sound chain after the clusters the file's size needs; the
  // rest is left to KeepLostChains. False: left as it is.
  bool CutSurplusTail(uint32_t first, uint32_t needed, uint32_t length);
  // Gathers the lost chains and saves them as files in a new folder of the
  // root, or (freeLost) frees those that are not surplus tails.
  void KeepLostChains();
  [[nodiscard]] std::vector<LostChain> FindLostChains();
  void FreeChains(const std::vector<LostChain>& chains);
  // The whole save: the folder's clusters, every FAT copy, then the root's
  // entry. False when nothing of it holds.
  [[nodiscard]] bool SaveChains(const std::vector<LostChain>& chains);
  void Unmark(uint32_t c);
  void TestFreeClusters();
  [[nodiscard]] bool TestRootChain();  // false: the scan ends
  void WriteFatImage();
  void Finish();

  // The boot area's checks (boot_area_checks.cpp).
  // The record read by its backup, FAT[0] and FAT[1], the dirty bits, a
  // stale backup; after the FAT image is loaded.
  void CheckBootArea();
  void CheckFsInfo();      // against the image as loaded
  void KeepFsInfoCount();  // after the write-back: the count moved by the scan's repairs
  void CheckLabels();      // after the walk
  uint16_t FsInfoSector() const;  // 0: the volume keeps none
  uint32_t FreeInImage(uint32_t* first) const;  // free clusters; first: the lowest
  // Counts a finding and asks; false (counted as left) for a No.
  bool AskFix(const std::string& text, uint32_t ScanResult::*count);
  // Writes boot_ to sector 0 and, when the backup still held old (the
  // record before the change), to the backup too. False when sector 0 was
  // not written; a backup left behind is counted as left.
  [[nodiscard]] bool WriteBootRecord(std::span<const uint8_t> old);

  // The checks of a folder's entries (entry_checks.cpp), before its chains
  // are walked. Each repair changes only the folder's bytes; it holds when
  // WriteFolderBack writes them.
  void CheckEntries(ScanFolder& folder);
  void CheckLongNames(ScanFolder& folder);
  void CheckDotEntries(ScanFolder& folder);
  void CheckFolderEntries(ScanFolder& folder);  // sizes, and entries that lead back
  void CheckShortNames(ScanFolder& folder);
  // A folder entry (not "." or "..") whose first cluster is the folder's own
  // or the root's: a loop of folders that no chain check can mend.
  bool LeadsBack(std::span<const uint8_t> entry) const;
  void EntryRepaired(size_t at);

  // Free clusters that deleted files still hold (deleted_holds.cpp): found
  // once, when a repair first needs a free cluster, and taken last.
  struct DeletedHold {
    uint32_t first;
    uint32_t count;
    std::string path;
    bool named = false;  // its overwriting has been said
  };
  void FindDeletedHolds();
  bool Held(uint32_t c) const { return size_t{c} / 8 < held_.size() && (held_[c / 8] & (0x80 >> (c % 8))) != 0; }
  uint32_t TakeHeldCluster();
  void Freed(uint32_t c) {
    freeFrom_ = std::min(freeFrom_, c);
    heldFrom_ = std::min(heldFrom_, c);
  }

  // FAT and bitmap access on the working image.
  FatEntry Entry(uint32_t c) const;
  void SetEntry(uint32_t c, uint32_t value);
  void UndoFat(const std::vector<FatUndo>& undo);
  bool InVolume(uint32_t c) const { return c >= 2 && c <= layout_.lastCluster; }
  bool Marked(uint32_t c) const;
  void Mark(uint32_t c);
  // The next cluster of a chain, or 0 where it ends (free, end, bad mark, or
  // a number outside the volume).
  uint32_t Next(uint32_t c) const;
  [[nodiscard]] bool ReadCluster(uint32_t c, uint8_t* buffer);
  [[nodiscard]] bool WriteCluster(uint32_t c, const uint8_t* buffer);
  [[nodiscard]] bool WriteVolumeSector(uint64_t sector, const uint8_t* bytes);
  bool Stopped() const { return flags_.stop.load(); }
  bool Ask(const char* text);
  void Say(const std::string& text);
  void Phase(ScanPhase::Kind kind, uint64_t number = 0, uint64_t last = 0);
  void Progress(uint64_t done, uint64_t total);

  DiskAccess& access_;
  PromptPort& basePort_;
  ScanFlags& flags_;
  ScanEvents& events_;
  ScanOptions options_;
  ScanResult result_;

  DrivePacket volume_;  // the volume under scan; startSector is its first data sector
  VolumeLayout layout_;
  std::vector<uint8_t> boot_;
  uint64_t bootFromBackup_ = 0;  // the backup sector boot_ was read from; 0: sector 0
  uint32_t freeAtLoad_ = 0;      // free clusters in the image as loaded
  bool holdsFound_ = false;
  std::vector<DeletedHold> holds_;
  std::vector<uint8_t> held_;    // free clusters a deleted file holds, most significant bit first
  uint32_t heldFrom_ = 2;        // no cluster below this one is free, whether held or not
  std::vector<uint8_t> fat_;     // the working image
  // No cluster below this one is free and unheld in the working image: each search for
  // a free cluster starts here, so a long tail copied cluster by cluster
  // reads the table once rather than once a cluster. Lowered by every entry
  // set to 0.
  uint32_t freeFrom_ = 2;
  std::vector<uint8_t> bitmap_;  // clusters reached from the folders, most significant bit first
  ScanFolder root_;              // the fixed root of a 12/16-bit volume
  bool altered_ = false;         // the copies differ: the write-back makes them equal
  int64_t changes_ = 0;          // entry writes to the image not undone
  bool folderChanged_ = false;   // the folder being checked has changed entries
  uint32_t pendingOnFat_ = 0;    // repairs that hold only when the image is written
  std::vector<FatUndo>* journal_ = nullptr;  // FAT changes of the repair under way
  std::vector<EntryRepair> entryRepairs_;    // of the folder being checked
  std::unordered_set<uint32_t> walked_;      // folders walked in this walk
  // First clusters of the folder being checked and of the folders above it
  // (0 for a fixed root).
  std::vector<uint32_t> path_;
  int progressShown_ = -1;
  bool lostCounted_ = false;
  std::vector<FatUndo> surplusCuts_;       // the image's cuts of surplus tails
  std::unordered_set<uint32_t> tailHeads_;  // first clusters of the tails cut off
  ScanPhase::Kind lastPhase_ = ScanPhase::Kind::None;
};

// The undo journal: before a sector of a drive changes, its old bytes go to an
// undo file and are made durable (write-ahead), so that every write the
// program makes can be taken back with `gleaner-cli undo FILE`.
//
// File layout, integers little-endian:
//   header  "GLUNDO01" (8 bytes), creation time in Unix seconds (8)
//   record  "GLUR" (4), record length in bytes with checksum (4), sequence
//           number from 0 (8), drive size in bytes (8), sector (8), old byte
//           count N, 1-512 (2), drive path length P (2), the drive's absolute
//           path (P), the old bytes (N), SHA-256 of the new bytes (32), and
//           the first 8 bytes of SHA-256 of everything before in the record.
// A record carries the drive's identity whole, so that any whole record can be
// used on its own after a crash cut the file short.
#pragma once
#include <compare>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "disk/sha256.h"

// $XDG_STATE_HOME/gleaner/undo, or ~/.local/state/gleaner/undo.
std::string DefaultUndoDir();

// An undo file's name: the local time it was made, a sequence number from
// 001 among the files of one drive made in that second, and the drive's file
// name, "20261209-074429-001-disk.img.undo". Names sort in the order the
// files were made, so `ls`, a shell's globs and Undo Writes agree.
std::string UndoFileName(std::time_t when, uint32_t sequence, const std::string& drive);
inline constexpr uint32_t kUndoSequenceMost = 999;

// The parts of an undo file's name that order it, for this naming and the
// one before it (YYYYMMDD-HHMMSS-DRIVE.undo, then -2, -3, ... before
// ".undo", which sorted out of order). nullopt for another name.
struct UndoNameOrder {
  std::string stamp;  // "YYYYMMDD-HHMMSS"
  uint32_t sequence = 1;
  std::string drive;
  auto operator<=>(const UndoNameOrder& other) const {
    if (auto c = stamp <=> other.stamp; c != 0) return c;
    return sequence <=> other.sequence;
  }
};
std::optional<UndoNameOrder> ParseUndoFileName(const std::string& name);
// Makes dir when it is missing; false with the reason when undo files cannot
// be made in it.
[[nodiscard]] bool PrepareUndoDir(const std::string& dir, std::string& why);

struct UndoRecord {
  uint64_t sequence = 0;
  std::string drivePath;
  uint64_t driveSize = 0;
  uint64_t sector = 0;
  std::vector<uint8_t> oldBytes;
  Sha256Digest newHash{};
};

// The writer: one per drive and run, its file made at the first write.
class UndoJournal {
 public:
  // drivePath is made absolute here.
  UndoJournal(std::string dir, const std::string& drivePath);
  ~UndoJournal();
  UndoJournal(const UndoJournal&) = delete;
  UndoJournal& operator=(const UndoJournal&) = delete;

  // Records the sectors from firstSector that a write is about to change:
  // old holds their bytes now, fresh what they are to hold (same length, at
  // most the drive's end). Returns once the records are on disk; false when
  // they could not be written, and then the write must not happen. After a
  // failure the journal takes no more records: one that failed part-way
  // would otherwise stand between whole ones.
  [[nodiscard]] bool Record(uint64_t driveSize, uint64_t firstSector, std::span<const uint8_t> old,
                            std::span<const uint8_t> fresh);

  // Ends the current undo file: the next record starts a file of its own, so
  // that a command's writes (a whole scan) are undone as one. A journal that
  // failed stays failed.
  void StartNewFile();

  // The file last written to; empty until the first record.
  const std::string& File() const { return file_; }
  const std::string& Error() const { return error_; }
  uint64_t Records() const { return sequence_; }

 private:
  [[nodiscard]] bool Create();
  std::string dir_;
  std::string drivePath_;
  std::string file_;
  std::string error_;
  int fd_ = -1;
  bool broken_ = false;
  uint64_t sequence_ = 0;
  // Test hook: GLEANER_UNDO_TEST_KILL_AFTER=N kills the process with SIGKILL
  // once N records are durable, before the write they guard.
  uint64_t killAfter_ = 0;
};

// A journal read back.
struct UndoJournalContents {
  enum class Tail { Clean, Torn, Damaged };
  std::string error;  // non-empty when the file is no undo journal or cannot be read
  int64_t created = 0;
  std::vector<UndoRecord> records;  // the whole records, in the order written
  // Torn: the last record is cut short or corrupt (a crash while it was being
  // written), nothing after it. Damaged: a bad record with more data after it.
  Tail tail = Tail::Clean;
  uint64_t badOffset = 0;  // where the bad record begins
};

UndoJournalContents ReadUndoJournal(const std::string& path);

// Undo Writes: puts back, newest first, the old bytes an undo journal kept
// of every sector the program wrote. A sector that no longer holds what the
// program wrote there (something else changed it since) is left alone and
// said; a record a crash cut short at the journal's end is ignored.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "disk/fat_cache.h"
#include "disk/prompt_port.h"

struct UndoWritesOptions {
  std::string journal;
  bool dryRun = false;    // only say what would be restored
  bool readOnly = false;  // --read-only: nothing may be written
  // The restore's own writes are journalled too, so that it can be undone.
  bool undo = false;
  std::string undoDir{};
  // The window's kept FAT sectors. The undo writes the drives' files through
  // devices of its own, which no access watches: its first write empties them.
  FatCache* keptFats = nullptr;
};

enum class UndoSectorState {
  Restored,
  WouldRestore,  // dry run
  AsBefore,      // already holds its old bytes (the write never happened)
  ChangedSince,  // something else changed it after the program wrote it
  NotWritten,    // the drive refused the write, or could not be written at all
  Unreadable,
};

struct UndoSectorOutcome {
  std::string drive;
  uint64_t sector = 0;
  UndoSectorState state = UndoSectorState::Unreadable;
};

struct UndoWritesResult {
  std::vector<UndoSectorOutcome> sectors;  // newest record first
  // Every whole record of the journal was restored (or already as before),
  // and no part of the journal was lost but a record cut short at its end.
  bool complete = false;
  // Sectors by what came of them (a sector written twice counts twice).
  size_t restored = 0;
  size_t asBefore = 0;
  size_t leftAlone = 0;  // changed since the program wrote them
};

// The text a sector's state is printed with.
const char* UndoSectorStateText(UndoSectorState state);

// Messages go to prompt: one a drive that cannot be used, then one summary
// of every sector (restored, already as before, left alone because changed
// since, naming the later undo file that changed them when there is one,
// unreadable, not written). See the result for each sector.
[[nodiscard]] UndoWritesResult UndoWrites(const UndoWritesOptions& options, PromptPort& prompt);

// An undo file of the journal folder, for choosing one.
struct UndoFileInfo {
  std::string file;
  std::string drive;  // the drive its records are for
  int64_t created = 0;
  uint64_t sectors = 0;  // whole records
};
// The undo files in dir whose records are for one of drives (absolute paths;
// every drive when empty), newest first.
std::vector<UndoFileInfo> ListUndoFiles(const std::string& dir, const std::vector<std::string>& drives);
// The question before a chosen file is put back.
std::string UndoQuestionText(const UndoFileInfo& file);

// What a running Find Deleted Files tells whoever shows it: its progress as
// it walks the folders, then each deleted file or folder found, judged, in
// walk order. The window turns them into its dialog's bar and rows,
// gleaner-cli prints the rows at the end, tests record them. Every call comes
// from the thread that runs the search.
#pragma once
#include <cstdint>

struct DeletedFile;

class FindDeletedEvents {
 public:
  virtual ~FindDeletedEvents() = default;
  // Folders walked so far and folders known (walked and still to walk).
  virtual void Progress(uint32_t /*walked*/, uint32_t /*known*/) {}
  // A deleted file or folder and its judgement; told once the walk is over,
  // since the judgements need every live file's clusters.
  virtual void RowFound(const DeletedFile& /*file*/) {}
};

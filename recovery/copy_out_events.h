// What a running Copy Out To Folder tells whoever shows it: each file as it
// is done, with what came of it. The window turns it into its dialog's bar,
// gleaner-cli prints nothing of it (it lists the files at the end), tests
// record it. Every call comes from the thread that runs the copy.
#pragma once
#include <cstdint>
#include <string>

// What came of one file: every byte copied, some of them (the rest could not
// be had: unreadable sectors are copied as read and count as copied, a chain
// that ends early or clusters in use do not), or none (no file is left).
enum class CopyOutcome { Whole, Partial, Failed };

struct CopiedFile {
  std::string path;  // the host path made; empty when none could be made
  CopyOutcome outcome = CopyOutcome::Failed;
  uint64_t bytesCopied = 0;
  uint64_t size = 0;  // the size the entry gives
};

class CopyOutEvents {
 public:
  virtual ~CopyOutEvents() = default;
  // A file is done (files and the files in folders, in the order copied).
  virtual void FileDone(const CopiedFile& /*file*/) {}
};

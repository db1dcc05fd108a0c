// Rename After Recovery: gives one entry of the directory listing on show a
// new 8.3 short name, as typed, and writes it to the disk at once. Meant for
// the entries Undelete revived with "!" for their first character, but any
// row of a root-directory or folder listing may be renamed.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "recovery/directory_image.h"
#include "views/view_context.h"

inline constexpr int kCommandRenameAfterRecovery = 32808;
inline constexpr const char* kOnlyOneFile = "Only one file can be selected!";

// The two texts of the rename dialog, UTF-8 as typed.
struct ShortNameInput {
  std::string name;       // at most 8 characters are used
  std::string extension;  // at most 3
};

// Runs the dialog: fills the texts and answers true for OK, false for Cancel.
using AskShortName = std::function<bool(ShortNameInput&)>;

struct RenameResult {
  bool written = false;          // every sector changed is on the disk (the entry's first)
  bool directoryLoaded = false;  // the directory was loaded again (directory below)
  DirectoryImage directory;      // as written
};

// Gives row of directory the name: bytes 0-7 of its entry get the name and
// 8-10 the extension, each padded with blanks, without a change of case or a
// check of the characters; nothing else of the entry changes, except that a
// revived entry ("!" first) whose new short name has the checksum its deleted
// long-name entries carry gets those entries back, and with them its long
// name. Only the sectors of those entries are written, the entry's first.
[[nodiscard]] RenameResult RenameEntry(DiskAccess& access, MemoryBudget budget,
                                       const ListedDirectory& directory, const ListedRow& row,
                                       const ShortNameInput& name, PromptPort& prompt);

// The command on the list pane: the one selected row of a root-directory or
// folder listing of the selected node; nothing for any other view. With
// another number of rows selected it says "Only one file can be selected!"
// before any dialog. The rows on show are not rebuilt; the pane's
// sectorBuffer and clusterChain keep the directory as written.
[[nodiscard]] RenameResult RenameAfterRecovery(ViewContext& ctx, const AskShortName& ask);

// A typed text as short-name bytes: at most maxChars characters, each in code
// page 437 as the listing shows short names (ASCII unchanged); a character
// that page lacks, or bytes that are no UTF-8, become '?'.
std::string TypedTextToOem(std::string_view utf8, size_t maxChars);

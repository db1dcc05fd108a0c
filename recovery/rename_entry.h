// Rename After Recovery: gives one entry of the directory listing on show a
// new 8.3 short name, as typed, and writes it to the disk at once. Meant for
// the entries Undelete revived with "!" for their first character, but any
// live row of a root-directory or folder listing may be renamed. A name the
// volume would not accept is refused with a message that names the problem.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "recovery/directory_image.h"
#include "views/view_context.h"

inline constexpr const char* kOnlyOneFile = "Only one file can be selected!";

// The refusals; the ones ending in ": " are followed by the character, the
// typed name (NAME.EXT) or the byte.
inline constexpr const char* kRenameDeletedRow =
    "The entry is still deleted: undelete it before giving it a name.";
inline constexpr const char* kRenameEmptyName = "The name is empty.";
inline constexpr const char* kRenameDotName =
    "The names . and .. belong to a folder's own entries.";
inline constexpr const char* kRenameBadNameCharacter =
    "The name contains a character a short name cannot hold: ";
inline constexpr const char* kRenameBadExtensionCharacter =
    "The extension contains a character a short name cannot hold: ";
inline constexpr const char* kRenameNameInnerSpace =
    "The name has a space before another character: a short name may only end in spaces.";
inline constexpr const char* kRenameExtensionInnerSpace =
    "The extension has a space before another character: a short name may only end in spaces.";
inline constexpr const char* kRenameDeletedMarkFirst =
    "The name cannot begin with σ: its byte (0xE5) marks a deleted entry.";
inline constexpr const char* kRenameNameTaken = "Another entry of this directory is already named ";

// The two texts of the rename dialog, UTF-8 as typed.
struct ShortNameInput {
  std::string name;       // at most 8 characters are used
  std::string extension;  // at most 3
};

// What keeps a typed name from being stored, said as the refusal's message;
// nullopt when it may be.
using ShortNameCheck = std::function<std::optional<std::string>(const ShortNameInput&)>;

// Runs the dialog: fills the texts and answers true for OK, false for Cancel.
// The dialog holds a name the check refuses (showing its message) until it
// is corrected or the person cancels.
using AskShortName = std::function<bool(ShortNameInput&, const ShortNameCheck&)>;

struct RenameResult {
  bool refused = false;          // the row or the name was refused (said), nothing written
  bool written = false;          // every sector changed is on the disk (the entry's first)
  bool directoryLoaded = false;  // the directory was loaded again (directory below)
  DirectoryImage directory;      // as written
};

// Gives row of directory the name: bytes 0-7 of its entry get the name and
// 8-10 the extension, each padded with blanks, in code page 437 and without a
// change of case. Refused (said, nothing read or written) are a row that is
// still deleted, an empty name, "." and "..", a character a short name cannot
// hold, a space before another character, and a first byte of 0xE5; refused
// after the directory is read, a name that another live entry of the
// directory has (letters compared without case). Nothing else of the entry
// changes. Its long name stays valid: live long-name entries that belong to
// it get the new short name's checksum, and a revived entry ("!" first) whose
// new short name has the checksum its deleted long-name entries carry gets
// those entries back, and with them its long name. Only the sectors of the
// entries changed are written, the entry's first.
[[nodiscard]] RenameResult RenameEntry(DiskAccess& access, MemoryBudget budget,
                                       const ListedDirectory& directory, const ListedRow& row,
                                       const ShortNameInput& name, PromptPort& prompt);

// The command on the page on show: the one row selected (rows) of a
// root-directory or folder listing of node, the node selected in the tree;
// nothing for any other view. With another number of rows it says "Only one
// file can be selected!" before any dialog. The dialog is given a check that
// refuses what RenameEntry would refuse of the name, with the listing on show
// standing in for the directory (the disk is still checked after). The rows on show are not
// rebuilt; the page's sectorBuffer and clusterChain keep the directory as
// written.
[[nodiscard]] RenameResult RenameAfterRecovery(ViewContext& ctx, const DrivePacket& node,
                                               std::span<const int> rows, const AskShortName& ask);

// What keeps the typed name from being stored (the message of the refusal);
// nullopt when it may be.
std::optional<std::string> ShortNameRefusal(const ShortNameInput& name);

// A typed text as short-name bytes: at most maxChars characters, each in code
// page 437 as the listing shows short names (ASCII unchanged); a character
// that page lacks, or bytes that are no UTF-8, become '?'.
std::string TypedTextToOem(std::string_view utf8, size_t maxChars);

// Undelete: brings back deleted files and folders of a directory listing.
// Each gets a chain over consecutive free clusters from its recorded start
// cluster, and its entry gets "!" in place of the lost first character of its
// short name (Rename After Recovery gives it its name back, and its long name
// when the new short name fits its deleted long-name entries, which Undelete
// leaves deleted). The disk is changed at once.
#pragma once
#include <cstdint>
#include <span>

#include "disk/long_name.h"
#include "recovery/directory_image.h"
#include "views/view_context.h"


inline constexpr const char* kUndeleteStatus = "Undeleting: Wait....";
inline constexpr const char* kUndeleteDone = "File(s) undeletion completed!";
inline constexpr const char* kClusterOccupied =
    "File Cluster already occupied by another file!!  Undelete not possible!";
inline constexpr const char* kDirClusterNotLoadable = "Directory cluster not loadable!";
inline constexpr const char* kUndeleteNoRow =
    "No row is selected: select the deleted files to undelete.";
// Followed by the short names of the rows, ", " between them.
inline constexpr const char* kUndeleteNotDeleted = "Not a deleted entry, left as it is: ";
inline constexpr const char* kUndeleteNothing = "No file was undeleted.";

struct UndeleteResult {
  bool ran = false;          // the FAT image was read and the rows were tried
  uint32_t revived = 0;      // entries brought back (entry and chain on disk)
  uint32_t notDeleted = 0;   // rows that are no deleted entry (left alone)
  bool writeFailed = false;  // an entry sector, a FAT copy or the FSInfo sector was not written
  bool stopped = false;      // memory ran out part way
  // Everything asked was done: something came back and every write landed.
  bool Succeeded() const { return ran && revived > 0 && !writeFailed && !stopped; }
};

// Undeletes rows of directory, in ascending row order. The FAT image is read
// once and, when an entry came back, written once to every FAT copy the
// volume's boot record gives. "File(s) undeletion completed!" closes a run in
// which an entry came back and every write landed, "No file was undeleted."
// one in which none did; a failed write is said as it happens. Rows that are
// no deleted entry are named in one message; no rows at all is said too.
[[nodiscard]] UndeleteResult UndeleteEntries(DiskAccess& access, MemoryBudget budget,
                                             const ListedDirectory& directory,
                                             std::span<const ListedRow> rows, PromptPort& prompt);

// The command on the page on show: rows (row numbers) of a root-directory or
// folder listing of node, the node selected in the tree; nothing for any
// other view or while a file cluster dump is on show. After a run the rows
// on show are not rebuilt, and the page's sectorBuffer and clusterChain are
// left empty, so that Write Changes finds nothing to write until the
// listing is read again.
[[nodiscard]] UndeleteResult Undelete(ViewContext& ctx, const DrivePacket& node,
                                      std::span<const int> rows);

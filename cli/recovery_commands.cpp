#include "cli/recovery_commands.h"

#include <algorithm>

#include "cli/tree_session.h"
#include "recovery/copy_to_floppy.h"
#include "recovery/exfat_recovery.h"
#include "recovery/rename_entry.h"
#include "recovery/undelete.h"
#include "views/show_node.h"

namespace {

// The tree down to one directory node, shown in the list pane.
class DirectorySession {
 public:
  explicit DirectorySession(DiskAccess& access) : tree_(access), page(tree_.page), ctx(tree_.ctx) {}

  // Shows the node of nodePath; false (said on err) when it is not there or
  // is no directory listing.
  bool Show(const std::string& nodePath, std::ostream& err) {
    const std::optional<TreeNode> found = tree_.Find(nodePath);
    if (!found) {
      err << "gleaner-cli: no node " << nodePath << '\n';
      return false;
    }
    node = *found->packet;
    ShowNode(ctx, node, {});
    if (page.viewKind != ViewKind::RootDirectory && page.viewKind != ViewKind::SubDirectory) {
      err << "gleaner-cli: " << nodePath << " is no root directory or folder\n";
      return false;
    }
    return true;
  }

  // Selects rows by number from 1; false (said on err) for a row not listed.
  bool Select(const std::vector<size_t>& rows, const std::string& nodePath, std::ostream& err) {
    selectedRows.clear();
    for (const size_t row : rows) {
      if (row > page.rows.size()) {
        err << "gleaner-cli: " << nodePath << " has no row " << row << '\n';
        return false;
      }
      selectedRows.push_back(static_cast<int>(row - 1));
    }
    std::sort(selectedRows.begin(), selectedRows.end());
    selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
    return true;
  }

 private:
  TreeSession tree_;  // before the two references below, which point into it

 public:
  ViewPage& page;
  ViewContext& ctx;
  DrivePacket node;               // the directory shown
  std::vector<int> selectedRows;  // row numbers from 0, ascending
};

}  // namespace

int RunRecoveryCommand(const std::string& command, const RowArgs& args, const BindOptions& options,
                       DiskAccess& access, std::ostream& out, std::ostream& err) {
  const bool rename = command == "rename";
  const bool copy = command == "copy-to-floppy";
  const std::string& nodePath = args.node;
  if (!BindDiskAccess(access, options)) return 1;
  if (command == "undelete") {
    // An exFAT folder's rows are its entry sets; they come back in place.
    TreeSession tree(access);
    const std::optional<TreeNode> found = tree.Find(nodePath);
    if (found && found->packet->kind == NodeKind::ExfatDir) {
      std::vector<int> rows;
      for (const size_t row : args.rows) rows.push_back(static_cast<int>(row) - 1);
      return ExfatUndelete(access, *found->packet, rows).Succeeded() ? 0 : 1;
    }
  }
  DirectorySession session(access);
  if (!session.Show(nodePath, err) || !session.Select(args.rows, nodePath, err)) return 1;
  if (copy) {
    const CopyToFloppyResult r = CopyToFloppy(session.ctx, session.node, session.selectedRows);
    if (!r.floppyWritten) return 1;
    out << "first cluster\t" << r.firstCluster << "\nclusters\t" << r.chainClusters << "\nsize\t"
        << r.size << "\nbad clusters\t";
    for (size_t i = 0; i < r.badClusters.size(); ++i) out << (i ? " " : "") << r.badClusters[i];
    out << "\nunreadable source clusters\t";
    for (size_t i = 0; i < r.unreadableClusters.size(); ++i) out << (i ? " " : "") << r.unreadableClusters[i];
    out << '\n';
    // A copy with zeros where the file could not be read is not the file.
    return r.Whole() ? 0 : 1;
  }
  // 1 when a write failed or nothing was done: a script must not take a
  // failed recovery for a done one.
  if (rename) {
    const RenameResult result =
        RenameAfterRecovery(session.ctx, session.node, session.selectedRows, [&](ShortNameInput& input, const ShortNameCheck&) {
          // The core refuses a bad name itself, with its message on stderr.
          input = args.name;
          return true;
        });
    return result.written ? 0 : 1;
  }
  return Undelete(session.ctx, session.node, session.selectedRows).Succeeded() ? 0 : 1;
}

#include "cli/recovery_commands.h"

#include <algorithm>

#include "cli/tree_session.h"
#include "recovery/copy_to_floppy.h"
#include "recovery/rename_entry.h"
#include "recovery/undelete.h"
#include "views/show_node.h"

namespace {

// The number of characters of a UTF-8 text.
size_t CharacterCount(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

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

// A row number from 1; 0 when the text is none.
size_t RowNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return 0;
  size_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  return n;
}

bool IsRecoveryCommand(const std::string& command) {
  return command == "undelete" || command == "rename" || command == "copy-to-floppy";
}

int RunRecoveryCommand(const std::string& command, const std::vector<std::string>& args,
                       const BindOptions& options, DiskAccess& access, std::ostream& out,
                       std::ostream& err,
                       const std::function<int(const std::string&)>& usageError) {
  const bool rename = command == "rename";
  const bool copy = command == "copy-to-floppy";
  if (args.empty()) return usageError(command + " needs a NODE");
  const std::string& nodePath = args[0];
  std::vector<size_t> rows;
  ShortNameInput typed;
  if (rename) {
    if (args.size() < 3 || args.size() > 4) return usageError("rename needs NODE ROW NAME [EXT]");
    rows.push_back(RowNumber(args[1]));
    typed.name = args[2];
    typed.extension = args.size() == 4 ? args[3] : std::string();
    if (CharacterCount(typed.name) > 8) return usageError("NAME has more than 8 characters");
    if (CharacterCount(typed.extension) > 3) return usageError("EXT has more than 3 characters");
  } else if (copy) {
    if (args.size() != 2) return usageError("copy-to-floppy needs NODE and one ROW");
    rows.push_back(RowNumber(args[1]));
  } else {
    if (args.size() < 2) return usageError("undelete needs NODE and a ROW");
    for (size_t i = 1; i < args.size(); ++i) rows.push_back(RowNumber(args[i]));
  }
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i] == 0) return usageError("ROW must be a row number from 1: " + args[1 + i]);

  if (!BindDiskAccess(access, options)) return 1;
  DirectorySession session(access);
  if (!session.Show(nodePath, err) || !session.Select(rows, nodePath, err)) return 1;
  if (copy) {
    const CopyToFloppyResult r = CopyToFloppy(session.ctx, session.node, session.selectedRows);
    if (!r.floppyWritten) return 1;
    out << "first cluster\t" << r.firstCluster << "\nclusters\t" << r.chainClusters << "\nsize\t"
        << r.size << "\nbad clusters\t";
    for (size_t i = 0; i < r.badClusters.size(); ++i) out << (i ? " " : "") << r.badClusters[i];
    out << '\n';
    return r.full || r.failedWrites != 0 ? 1 : 0;
  }
  // 1 when a write failed or nothing was done: a script must not take a
  // failed recovery for a done one.
  if (rename) {
    const RenameResult result =
        RenameAfterRecovery(session.ctx, session.node, session.selectedRows, [&](ShortNameInput& input) {
          input = typed;
          return true;
        });
    return result.written ? 0 : 1;
  }
  return Undelete(session.ctx, session.node, session.selectedRows).Succeeded() ? 0 : 1;
}

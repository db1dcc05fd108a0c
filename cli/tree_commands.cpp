#include "cli/tree_commands.h"

#include <vector>

#include "cli/cell_text.h"
#include "cli/node_path.h"
#include "cli/tree_session.h"
#include "views/format_cell.h"
#include "views/show_node.h"


int PrintTree(DiskAccess& access, std::ostream& out, std::ostream& err) {
  TreeSession session(access);
  const std::vector<TreeNode> tops = session.ListDrives();
  if (tops.empty()) {
    err << "gleaner-cli: no drive found\n";
    return 1;
  }
  // An explicit stack: folders may nest deeper than the call stack would go.
  struct Pending {
    TreeNode node;
    size_t depth;
  };
  std::vector<Pending> stack;
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) stack.push_back({*it, 0});
  // Lines go out in blocks: a volume of many files prints many short lines.
  std::string lines;
  while (!stack.empty()) {
    const Pending next = stack.back();
    stack.pop_back();
    lines.append(2 * next.depth, ' ').append(SafeCellText(TreeLabel(next.node))) += '\n';
    if (lines.size() >= 64 * 1024) {
      out << lines;
      lines.clear();
    }
    const std::vector<TreeNode> children = session.Expand(next.node);
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      stack.push_back({*it, next.depth + 1});
  }
  out << lines;
  return 0;
}

int PrintShownNode(DiskAccess& access, const std::string& nodePath, DumpModes modes,
                   std::ostream& out, std::ostream& err,
                   const std::function<PageOutcome(ViewContext&)>& beforePrint) {
  TreeSession session(access);
  const std::optional<TreeNode> found = session.Find(nodePath);
  if (!found) {
    err << "gleaner-cli: no node " << nodePath << '\n';
    return 1;
  }

  ShowNode(session.ctx, *found->packet, modes);
  const PageOutcome outcome = beforePrint ? beforePrint(session.ctx) : PageOutcome::Print;
  if (outcome == PageOutcome::Refused) return 1;
  PrintPage(session.page, out);
  return outcome == PageOutcome::Print ? 0 : 1;
}

void PrintPage(const ViewPage& pane, std::ostream& out) {
  for (size_t c = 0; c < pane.columns.size(); ++c)
    out << (c ? "\t" : "") << SafeCellText(pane.columns[c].title);
  out << '\n';
  for (size_t r = 0; r < pane.rows.size(); ++r) {
    for (size_t c = 0; c < pane.columns.size(); ++c)
      out << (c ? "\t" : "") << SafeCellText(FormatCell(pane, r, static_cast<int>(c)));
    out << '\n';
  }
}

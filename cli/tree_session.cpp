#include "cli/tree_session.h"

#include "cli/node_path.h"
#include "views/show_node.h"

namespace {

class CollectSink final : public TreeSink {
 public:
  void AddNode(const TreeNode& node) override { nodes.push_back(node); }
  std::vector<TreeNode> nodes;
};

}  // namespace

std::vector<TreeNode> TreeSession::ListDrives() {
  CollectSink sink;
  discovery.ListDrives(access, sink);
  return sink.nodes;
}

std::vector<TreeNode> TreeSession::Expand(const TreeNode& node) {
  CollectSink sink;
  // A refused expansion (a floppy that cannot be opened) has said why.
  if (node.hasChildren && !ExpandShownNode(ctx, discovery, *node.packet, sink)) return {};
  return sink.nodes;
}

std::optional<TreeNode> TreeSession::Find(const std::string& nodePath) {
  const std::vector<std::string> labels = SplitNodePath(nodePath);
  std::vector<TreeNode> level = ListDrives();
  for (size_t i = 0; i < labels.size(); ++i) {
    const int index = FindSibling(level, labels[i]);
    if (index < 0) return std::nullopt;
    const TreeNode node = level[static_cast<size_t>(index)];
    if (i + 1 == labels.size()) return node;
    level = Expand(node);
  }
  return std::nullopt;
}

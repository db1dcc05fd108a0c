#include "cli/node_path.h"

#include "cli/cell_text.h"
#include "disk/discovery.h"

std::string TreeLabel(const TreeNode& node) {
  if (node.labelByCallback && node.packet != nullptr) return NodeLabel(*node.packet);
  return node.label;
}

std::vector<std::string> SplitNodePath(const std::string& path) {
  std::vector<std::string> labels;
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    const std::string label = path.substr(start, slash == std::string::npos ? std::string::npos
                                                                            : slash - start);
    if (label.empty()) return {};
    labels.push_back(label);
    if (slash == std::string::npos) return labels;
    start = slash + 1;
  }
}

namespace {

// A label as given, or as tree prints it.
bool LabelIs(const TreeNode& node, const std::string& name) {
  const std::string label = TreeLabel(node);
  return label == name || SafeCellText(label) == name;
}

}  // namespace

int FindSibling(const std::vector<TreeNode>& siblings, const std::string& name) {
  for (size_t i = 0; i < siblings.size(); ++i)
    if (LabelIs(siblings[i], name)) return static_cast<int>(i);

  const size_t hash = name.rfind('#');
  if (hash == std::string::npos || hash + 1 == name.size() || name[hash + 1] == '0') return -1;
  unsigned long n = 0;
  for (size_t i = hash + 1; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 1000000) return -1;
    n = n * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  const std::string label = name.substr(0, hash);
  for (size_t i = 0; i < siblings.size(); ++i)
    if (LabelIs(siblings[i], label) && --n == 0) return static_cast<int>(i);
  return -1;
}

// The nodes of a fuzz drive's tree, breadth first, at most `most` of them.
#pragma once
#include <cstddef>
#include <deque>
#include <vector>

#include "cli/tree_session.h"

inline std::vector<TreeNode> WalkTree(TreeSession& session, size_t most) {
  std::vector<TreeNode> nodes;
  std::deque<TreeNode> todo;
  for (const TreeNode& n : session.ListDrives()) todo.push_back(n);
  while (!todo.empty() && nodes.size() < most) {
    const TreeNode node = todo.front();
    todo.pop_front();
    if (node.packet == nullptr) continue;
    nodes.push_back(node);
    for (const TreeNode& child : session.Expand(node)) todo.push_back(child);
  }
  return nodes;
}

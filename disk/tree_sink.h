// Where the drive listing and a node's expansion put the nodes they make: the
// Qt tree inserts items, the CLI and the tests collect them. Nodes arrive in
// the order they are made; each goes after the one added before it.
#pragma once
#include <string>

#include "disk/drive_packet.h"

struct TreeNode {
  std::string label;            // the node's own text; empty for files and folders
  bool labelByCallback = false;  // files and folders: the tree asks NodeLabel
  bool hasChildren = false;     // the node can be expanded
  DrivePacket* packet = nullptr;  // in the packet stores; lives until the next listing
};

class TreeSink {
 public:
  virtual ~TreeSink() = default;
  virtual void AddNode(const TreeNode& node) = 0;
};

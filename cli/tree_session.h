// The tree's state for one gleaner-cli command: the packet stores, the
// discovery and the list pane, with the drive listing, node expansion and
// the walk down a node path that tree, show, undelete and rename share.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "disk/discovery.h"
#include "disk/disk_access.h"
#include "disk/packet_store.h"
#include "disk/tree_sink.h"
#include "views/view_page.h"
#include "views/view_context.h"

class TreeSession {
 public:
  explicit TreeSession(DiskAccess& access) : access(access) {}
  TreeSession(const TreeSession&) = delete;
  TreeSession& operator=(const TreeSession&) = delete;

  std::vector<TreeNode> ListDrives();
  // The children of node, made by its expansion (none when it has none).
  std::vector<TreeNode> Expand(const TreeNode& node);
  // Walks the labels of nodePath (node_path.h) from a new drive listing,
  // expanding on the way; the node, or nothing when it is not there.
  std::optional<TreeNode> Find(const std::string& nodePath);

  DiskAccess& access;
  PacketStore store;
  DriveDiscovery discovery{store};
  ViewPage page;
  ViewContext ctx{access, page};
};

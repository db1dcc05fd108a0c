#include "cli/deleted_commands.h"

#include <optional>

#include "cli/node_path.h"
#include "cli/tree_session.h"
#include "recovery/copy_out.h"
#include "recovery/deleted_files.h"
#include "recovery/exfat_recovery.h"
#include "recovery/rescue.h"
#include "disk/dir_entry.h"

namespace {

bool IsDirectory(const DrivePacket& p) {
  return p.kind == NodeKind::RootDir || (p.kind == NodeKind::DirEntry && (p.attributes & kAttrFolder));
}

// The root directory of the volume VOLUME names: the node itself when it is
// a root directory, else its child "Root Directory".
std::optional<DrivePacket> VolumeRoot(TreeSession& tree, const std::string& path,
                                      std::ostream& err) {
  const std::optional<TreeNode> found = tree.Find(path);
  if (!found) {
    err << "gleaner-cli: no node " << path << '\n';
    return std::nullopt;
  }
  if (found->packet->kind == NodeKind::RootDir || TreeLabel(*found) == "Root Directory")
    return *found->packet;
  for (const TreeNode& child : tree.Expand(*found))
    if (TreeLabel(child) == "Root Directory") return *child.packet;
  err << "gleaner-cli: " << path << " is no FAT volume\n";
  return std::nullopt;
}

// One line a file: state, size, start cluster, path ("/" after a folder);
// the problems to standard error. FAT and exFAT finders report alike.
template <class Result, class StateText>
int PrintDeleted(const Result& result, StateText stateText, std::ostream& out, std::ostream& err) {
  if (!result.opened) {
    err << result.error << '\n';
    return 1;
  }
  for (const auto& f : result.files)
    out << stateText(f) << '\t' << f.size << '\t' << f.startCluster << '\t' << f.path
        << (f.folder ? "/" : "") << '\n';
  for (const std::string& p : result.problems) err << p << '\n';
  return result.files.empty() ? 1 : 0;
}

int Deleted(const DeletedArgs& args, DiskAccess& access, std::ostream& out, std::ostream& err) {
  TreeSession tree(access);
  const std::optional<DrivePacket> root = VolumeRoot(tree, args.node, err);
  if (!root) return 1;
  if (root->kind == NodeKind::ExfatDir)
    return PrintDeleted(FindExfatDeleted(access, *root), ExfatDeletedStateText, out, err);
  return PrintDeleted(FindDeletedFiles(access, *root), DeletedStateText, out, err);
}

int Extract(const DeletedArgs& args, DiskAccess& access, std::ostream& out, std::ostream& err) {
  const std::string& node = args.node;
  TreeSession tree(access);
  const std::optional<TreeNode> found = tree.Find(node);
  if (!found) {
    err << "gleaner-cli: no node " << node << '\n';
    return 1;
  }
  const DrivePacket dir = *found->packet;
  const bool exfat = dir.kind == NodeKind::ExfatDir;
  if (!IsDirectory(dir) && !exfat) {
    err << "gleaner-cli: " << node << " is no root directory or folder\n";
    return 1;
  }
  std::optional<std::vector<CopyOutItem>> items;
  if (!exfat) items = ItemsOfDirectory(access, dir, args.rows);
  if (!exfat && !items) {
    err << "gleaner-cli: " << node << " cannot be read or has not every row given\n";
    return 1;
  }
  const CopyOutResult result =
      exfat ? ExfatCopyOut(access, dir, args.rows, args.copy) : CopyOut(access, dir, *items, args.copy);
  if (!result.opened) {
    err << result.error << '\n';
    return 1;
  }
  for (const std::string& path : result.written) out << path << '\n';
  for (const std::string& line : CopyOutReport(result)) err << line << '\n';
  // What came of the files, when not all came whole.
  if (!result.Complete()) err << CopyOutSummary(result, args.copy.targetFolder) << '\n';
  return result.Complete() ? 0 : 1;
}

}  // namespace

int RunRescueCommand(const RescueArgs& args, BindOptions options, DiskAccess& access,
                     std::ostream& out, std::ostream& err) {
  // Rescue reads the source and writes only to the host folder, whatever
  // the drive flags say.
  options.drives.readOnly = true;
  if (!BindDiskAccess(access, options)) return 1;
  TreeSession tree(access);
  const std::optional<DrivePacket> root = VolumeRoot(tree, args.node, err);
  if (!root) return 1;
  RescueScanOptions scan;
  scan.carve = !args.noCarve;
  const RescueResult result = root->kind == NodeKind::ExfatDir
                                  ? ExfatRescue(access, *root, scan, args.targetFolder)
                                  : Rescue(access, *root, scan, args.targetFolder);
  if (!result.opened) {
    err << result.error << '\n';
    return 1;
  }
  for (const RescuedFile& f : result.files)
    if (!f.hostPath.empty()) out << RescueLine(f) << '\n';
  for (const std::string& p : result.problems) err << p << '\n';
  out << RescueSummary(result, args.targetFolder) << '\n';
  return result.files.empty() || !result.Complete() ? 1 : 0;
}

int RunDeletedCommand(const std::string& command, const DeletedArgs& args, BindOptions options,
                      DiskAccess& access, std::ostream& out, std::ostream& err) {
  // Both only read: no drive is opened for writing.
  options.drives.readOnly = true;
  if (!BindDiskAccess(access, options)) return 1;
  return command == "deleted" ? Deleted(args, access, out, err) : Extract(args, access, out, err);
}

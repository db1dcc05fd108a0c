// The free clusters that deleted files still hold: a repair that needs free
// clusters (a copied cross-link tail, a moved bad cluster) takes them last,
// so that what Find Deleted Files and undelete would get back stays there
// while other free space is left.
#include "disk/dir_entry.h"
#include "recovery/deleted_files.h"
#include "scan/disk_scan.h"
#include "scan/scan_texts.h"
#include "views/format_cell.h"

void DiskScan::FindDeletedHolds() {
  holdsFound_ = true;
  // The root node the volume's walk starts from, as the tree makes it.
  DrivePacket root = RootFolderNode(volume_, layout_);
  root.bootSector = static_cast<uint16_t>(bootFromBackup_);
  const FindDeletedResult found = FindDeletedFiles(access_, root, &flags_.stop);
  // Without room for the map the free clusters are taken in order, as before.
  if (!found.opened || !TakeBuffer(options_.budget, held_, (uint64_t{layout_.lastCluster} + 8) / 8)) return;
  for (const DeletedFile& file : found.files) {
    if (file.state == DeletedState::Lost || !InVolume(file.startCluster)) continue;
    // Undelete chains the clusters that follow the first one.
    const uint32_t count = std::min(file.clusters, layout_.lastCluster - file.startCluster + 1);
    bool holds = false;
    for (uint32_t c = file.startCluster; c - file.startCluster < count; ++c) {
      if (!Entry(c).IsFree() || Marked(c)) continue;
      held_[c / 8] |= static_cast<uint8_t>(0x80 >> (c % 8));
      holds = true;
    }
    if (holds) holds_.push_back({file.startCluster, count, file.path});
  }
}

uint32_t DiskScan::TakeHeldCluster() {
  uint32_t c = ::FindFreeCluster(volume_, fat_, heldFrom_);
  while (c >= 2 && Marked(c)) c = ::FindFreeCluster(volume_, fat_, c + 1);
  if (c < 2) return 0;
  heldFrom_ = c;
  for (DeletedHold& hold : holds_) {
    if (hold.named || c < hold.first || c - hold.first >= hold.count) continue;
    hold.named = true;
    Say(FormatText(kScanOverwritesDeleted, hold.path.c_str()));
  }
  return c;
}

#include "disk/discovery.h"

#include <cstdio>

namespace {

constexpr const char* kDriveTableFull = "Drive Packet memory not enough";
constexpr const char* kPoolFull = "Packets memory not enough";

// Extended boot records and folders are the nodes whose children can lead
// back to themselves.
bool IsContainer(const DrivePacket& p) {
  return p.kind == NodeKind::Extended || p.kind == NodeKind::ExfatDir ||
         (p.kind == NodeKind::DirEntry && (p.attributes & 0x10) != 0);
}

bool SamePlace(const DrivePacket& a, const DrivePacket& b) {
  return a.drive == b.drive && a.kind == b.kind && a.partitionStart == b.partitionStart &&
         (a.kind == NodeKind::Extended || a.firstCluster == b.firstCluster);
}

// A hash of the place; equal keys are confirmed with SamePlace.
uint64_t PlaceKey(const DrivePacket& p) {
  uint64_t h = p.drive;
  h = h * 1000003u ^ static_cast<uint16_t>(p.kind);
  h = h * 1000003u ^ p.partitionStart;
  if (p.kind != NodeKind::Extended) h = h * 1000003u ^ p.firstCluster;
  return h;
}

}  // namespace

const char* NodeLabel(const DrivePacket& node) {
  return node.nameText != nullptr ? node.nameText : "";
}

const char* PartitionTypeLabel(uint8_t type) {
  switch (type) {
    case 0x01: return "12-Bit FAT Disk";
    case 0x04:
    case 0x06:
    case 0x0E: return "16-Bit FAT Disk";
    case 0x0B:
    case 0x0C: return "32-Bit FAT Disk";
    case 0x05: return "Extended DOS Partition";
    case 0x0F: return "Extended 32-bit Partition";
    default: return nullptr;
  }
}

void DriveDiscovery::ListDrives(DiskAccess& access, TreeSink& sink) {
  PromptPort& prompt = access.Prompt();
  store_.Rewind();
  // The disks may have changed since the last listing (Refresh).
  access.Fats().Clear();
  origins_.clear();
  places_.clear();
  lastHardDisk_ = nullptr;
  prompt.SetStatus(0, kWaitText);

  access.SetHardDiskCount(0);
  char label[32];
  for (uint32_t n = 0; n < access.FloppyCount() && n < kFirstHardDisk; ++n) {
    DrivePacket* p = store_.TakeDrivePacket();
    if (p == nullptr) {
      prompt.Message(kDriveTableFull);
      prompt.SetStatus(0, "");
      return;
    }
    p->drive = static_cast<uint16_t>(n);
    p->sector = 1;
    p->sectorCount = 1;
    p->kind = NodeKind::Volume;
    origins_[p] = {};
    std::snprintf(label, sizeof label, "Floppy Disk %lu", static_cast<unsigned long>(n + 1));
    Add(sink, p, label, true);
  }

  for (uint32_t d = kFirstHardDisk; d <= 0xFF && access.HardDiskExists(static_cast<uint16_t>(d));
       ++d) {
    DrivePacket* p = store_.TakeDrivePacket();
    if (p == nullptr) {
      prompt.Message(kDriveTableFull);
      break;
    }
    p->drive = static_cast<uint16_t>(d);
    p->sector = 1;
    p->sectorCount = 1;
    p->kind = NodeKind::HardDisk;
    p->int13Extensions = access.Int13Extensions(static_cast<uint16_t>(d));
    origins_[p] = {};
    std::snprintf(label, sizeof label, "Hard Disk %lu", static_cast<unsigned long>(d - 127));
    Add(sink, p, label, true);
    access.SetHardDiskCount(access.HardDiskCount() + 1);
    lastHardDisk_ = p;
  }
  prompt.SetStatus(0, "");
}

bool DriveDiscovery::ExpandNode(DiskAccess& access, MemoryBudget budget, const DrivePacket& node,
                                TreeSink& sink) {
  Walk ctx{access, budget, {}};
  ctx.Prompt().SetStatus(0, "");
  bool allowed = true;
  switch (node.kind) {
    case NodeKind::HardDisk: ExpandPartitionTable(ctx, node, sink, false); break;
    case NodeKind::Extended: ExpandPartitionTable(ctx, node, sink, true); break;
    case NodeKind::Volume: allowed = ExpandVolume(ctx, node, sink); break;
    case NodeKind::RootDir: ExpandRootDirectory(ctx, node, sink); break;
    case NodeKind::DirEntry: ExpandFolder(ctx, node, sink); break;
    case NodeKind::ExfatVolume: ExpandExfatVolume(ctx, node, sink); break;
    case NodeKind::ExfatDir: ExpandExfatFolder(ctx, node, sink); break;
    default: break;
  }
  ctx.Prompt().SetStatus(0, ctx.status);
  return allowed;
}

DrivePacket* DriveDiscovery::TakeChild(Walk& ctx, const DrivePacket& parent,
                                       const char* name, bool mayHaveChildren) {
  DrivePacket* p = name != nullptr ? store_.TakePoolPacket(name) : store_.TakePoolPacket();
  if (p == nullptr) {
    ctx.Prompt().Message(kPoolFull);
    return nullptr;
  }
  if (!mayHaveChildren) return p;
  // Only packets of the stores are remembered as parents: a caller's copy
  // would be gone before its children are expanded.
  Origin origin;
  if (origins_.count(&parent) != 0) origin.parent = &parent;
  origins_[p] = origin;
  return p;
}

DrivePacket* DriveDiscovery::TakeChildOf(Walk& ctx, const DrivePacket& parent, Shared shared,
                                         const char* name, bool mayHaveChildren) {
  DrivePacket* p = TakeChild(ctx, parent, name, mayHaveChildren);
  if (p == nullptr) return nullptr;
  const char* text = p->nameText;
  *p = DrivePacket{};
  p->nameText = text;
  p->drive = parent.drive;
  p->int13Extensions = parent.int13Extensions;
  if (shared == Shared::Drive) return p;
  p->cylinder = parent.cylinder;
  p->head = parent.head;
  p->sector = parent.sector;
  p->partitionStart = parent.partitionStart;
  p->totalSectors = parent.totalSectors;
  if (shared == Shared::Volume) return p;
  p->heads = parent.heads;
  p->sectorsPerTrack = parent.sectorsPerTrack;
  p->sectorsPerCluster = parent.sectorsPerCluster;
  p->reservedSectors = parent.reservedSectors;
  p->sectorsPerFat = parent.sectorsPerFat;
  p->fatCount = parent.fatCount;
  p->dataStart = parent.dataStart;
  p->fatType = parent.fatType;
  p->lastCluster = parent.lastCluster;
  return p;
}

void DriveDiscovery::Add(TreeSink& sink, DrivePacket* packet, std::string label,
                         bool hasChildren, bool labelByCallback) {
  TreeNode node;
  node.labelByCallback = labelByCallback;
  node.label = std::move(label);
  node.hasChildren = hasChildren;
  node.packet = packet;
  sink.AddNode(node);
}

void DriveDiscovery::Count(const DrivePacket& node) {
  if (IsContainer(node)) ++places_[PlaceKey(node)];
}

bool DriveDiscovery::RepeatsAncestor(const DrivePacket& node) const {
  if (!IsContainer(node)) return false;
  // Most places have one node only; only a shared place needs the walk up.
  const auto count = places_.find(PlaceKey(node));
  if (count == places_.end() || count->second < 2) return false;
  auto at = origins_.find(&node);
  while (at != origins_.end() && at->second.parent != nullptr) {
    const DrivePacket* up = at->second.parent;
    if (IsContainer(*up) && SamePlace(*up, node)) return true;
    at = origins_.find(up);
  }
  return false;
}

// The children of a master or extended boot record: one node per used entry
// of its partition table.
#include <vector>

#include "disk/discovery.h"
#include "disk/le.h"
#include "disk/partition_entry.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"

namespace {

constexpr const char* kBufferFailed = "Fatal Error!  Not able to allocate a Buffer!";
constexpr const char* kTableUnreadable = "Partition table not accessible!";
constexpr const char* kExtendedUnreadable = "Extended partition not accessible!";
constexpr const char* kUnknownLabel = "Unknown";

}  // namespace

// Logical drives count from their own extended boot record and links from
// the start of the extended partition. Both come from where the node itself
// was made (its own partitionStart and its chain's base), never from the
// order in which the person happened to expand nodes.
void DriveDiscovery::ExpandPartitionTable(Walk& ctx, const DrivePacket& node,
                                          TreeSink& sink, bool extended) {
  uint32_t base = node.partitionStart;
  if (extended) {
    if (RepeatsAncestor(node)) return;  // a chain that links back: nothing new below
    const auto origin = origins_.find(&node);
    if (origin != origins_.end()) base = origin->second.extendedBase;
  }

  std::vector<uint8_t> buffer;
  if (!TakeBuffer(ctx.budget, buffer, uint64_t{node.sectorCount} * kSectorSize) ||
      buffer.size() < kSectorSize) {
    ctx.Prompt().Message(kBufferFailed);
    return;
  }
  ctx.Prompt().SetStatus(0, kWaitText);
  if (!ReadNodeSectors(ctx.access, node, 0, std::span<uint8_t>(buffer).first(kSectorSize))) {
    ctx.Prompt().Message(extended ? kExtendedUnreadable : kTableUnreadable);
    return;
  }

  const std::span<const uint8_t> sector(buffer.data(), kSectorSize);
  for (size_t i = 0; i < kPartitionEntries; ++i) {
    const size_t e = PartitionEntryOffset(i);
    const uint8_t type = le8(sector, e + kPartType);
    if (type == 0) continue;
    const uint32_t lba = le32(sector, e + kPartStartLba);
    const bool isExtended = IsExtendedPartitionType(type);
    uint64_t start = lba;
    if (extended) start = uint64_t{isExtended ? base : node.partitionStart} + lba;
    // A start past 32-bit sector numbers cannot be addressed; wrapping it
    // would put the node on another partition's sectors.
    if (start > UINT32_MAX) continue;

    DrivePacket* p = TakeChild(ctx, node);
    if (p == nullptr) return;
    p->drive = node.drive;
    p->int13Extensions = node.int13Extensions;
    p->cylinder = le8(sector, e + kPartStartCylinder);
    p->head = le8(sector, e + kPartStartHead);
    p->sector = le8(sector, e + kPartStartSector);
    p->sectorCount = 1;
    // The partition type's word on the width, for the boot record's decoding.
    p->fatType = IsFat32PartitionType(type) ? FatWidth::Fat32 : FatWidth::None;
    p->partitionStart = static_cast<uint32_t>(start);

    const char* label = PartitionTypeLabel(type);
    bool hasChildren = true;
    if (isExtended) {
      p->kind = NodeKind::Extended;
      origins_[p].extendedBase = extended ? base : lba;
      Count(*p);
    } else if (label != nullptr) {
      p->kind = NodeKind::Volume;
    } else if (extended) {
      // An unknown type inside the chain is still offered as a volume.
      p->kind = NodeKind::Volume;
      label = kUnknownLabel;
    } else {
      p->kind = NodeKind::Unknown;
      p->startSector = 1;
      label = kUnknownLabel;
      hasChildren = false;
    }
    Add(sink, p, label, hasChildren);
  }
}

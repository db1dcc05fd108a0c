// The children of a master or extended boot record: one node per used entry
// of its partition table.
#include <cstdio>
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
// Shared by exFAT and NTFS: the boot sector decides.
constexpr uint8_t kExfatPartitionType = 0x07;

std::string VolumeLabel(const DiskVolume& v) {
  return v.note.empty() ? v.label : v.label + " - " + v.note;
}

// An exFAT volume node: its own sector is the boot sector; its size bounds
// the volume when it fits the packet.
void SetExfatVolume(DrivePacket& p, const DiskVolume& v) {
  p.kind = NodeKind::ExfatVolume;
  p.fatType = FatWidth::None;
  p.totalSectors = v.sectors <= UINT32_MAX ? static_cast<uint32_t>(v.sectors) : 0;
}

}  // namespace

// Logical drives count from their own extended boot record and links from
// the start of the extended partition. Both come from where the node itself
// was made (its own partitionStart and its chain's base), never from the
// order in which the person happened to expand nodes.
void DriveDiscovery::ExpandPartitionTable(Walk& ctx, const DrivePacket& node,
                                          TreeSink& sink, bool extended) {
  uint64_t base = node.partitionStart;
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
  // What the disk's own sector 0 is decides how it is walked: a GPT, a volume
  // of the whole disk, or the partition table read below.
  if (!extended && node.partitionStart == 0) {
    const DiskLayout layout = ReadDiskLayout(ctx.access, node.drive, sector);
    if (layout.scheme != DiskScheme::Mbr) {
      ExpandDiskLayout(ctx, node, layout, sink);
      return;
    }
  }
  for (size_t i = 0; i < kPartitionEntries; ++i) {
    const size_t e = PartitionEntryOffset(i);
    const uint8_t type = le8(sector, e + kPartType);
    if (type == 0) continue;
    const uint32_t lba = le32(sector, e + kPartStartLba);
    const bool isExtended = IsExtendedPartitionType(type);
    uint64_t start = lba;
    // Sums of two 32-bit numbers: a logical drive of a disk past 2 TiB may
    // start past sector 2^32, and is read there by 64-bit sector numbers.
    if (extended) start = uint64_t{isExtended ? base : node.partitionStart} + lba;

    DrivePacket* p = TakeChildOf(ctx, node, Shared::Drive);
    if (p == nullptr) return;
    p->cylinder = le8(sector, e + kPartStartCylinder);
    p->head = le8(sector, e + kPartStartHead);
    p->sector = le8(sector, e + kPartStartSector);
    p->sectorCount = 1;
    // The partition type's word on the width, for the boot record's decoding.
    p->fatType = IsFat32PartitionType(type) ? FatWidth::Fat32 : FatWidth::None;
    p->partitionStart = start;

    const char* label = PartitionTypeLabel(type);
    bool hasChildren = true;
    DiskVolume exfat;
    exfat.start = start;
    exfat.sectors = le32(sector, e + kPartSectors);
    if (type == kExfatPartitionType && ProbeExfatVolume(ctx.access, node.drive, exfat)) {
      SetExfatVolume(*p, exfat);
      Add(sink, p, VolumeLabel(exfat), true);
      continue;
    }
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

namespace {

constexpr const char* kGptEntriesLabel = "GPT Partition Entries";
// Formatted with the partition's number.
constexpr const char* kPartitionTooFar =
    "GPT partition %u holds more than 4294967296 sectors and cannot be read by this version.";

}  // namespace

void DriveDiscovery::ExpandDiskLayout(Walk& ctx, const DrivePacket& node, const DiskLayout& layout,
                                      TreeSink& sink) {
  // Every child lies on the drive and counts its sectors from the disk's start
  // unless it is a partition of its own.
  const auto child = [&](bool mayHaveChildren) {
    DrivePacket* p = TakeChildOf(ctx, node, Shared::Drive, nullptr, mayHaveChildren);
    if (p == nullptr) return p;
    p->sectorCount = 1;
    return p;
  };

  if (layout.scheme == DiskScheme::Gpt) {
    const GptCopy* used = layout.gpt.Used();
    DrivePacket* header = child(false);
    if (header == nullptr) return;
    header->kind = NodeKind::GptHeader;
    const uint64_t headerLba = used != nullptr ? used->header.lba : 1;
    header->startSector = headerLba <= UINT32_MAX ? static_cast<uint32_t>(headerLba) : 1;
    Add(sink, header, GptHeaderLabel(layout.gpt), false);
    ctx.status = GptSourceNote(layout.gpt);

    DrivePacket* entries = child(false);
    if (entries == nullptr) return;
    entries->kind = NodeKind::GptEntries;
    entries->startSector = 2;
    if (used != nullptr) {
      const uint64_t sectors = (used->header.EntryArrayBytes() + kSectorSize - 1) / kSectorSize;
      if (used->header.entriesLba + sectors - 1 <= UINT32_MAX && sectors != 0) {
        entries->startSector = static_cast<uint32_t>(used->header.entriesLba);
        entries->sectorCount = static_cast<uint32_t>(sectors);
      }
    }
    Add(sink, entries, kGptEntriesLabel, false);
  }

  char text[128];
  for (const DiskVolume& v : layout.volumes) {
    if (!v.addressable) {
      // Its sectors cannot be named in the packets' 32-bit numbers from its
      // start: wrapping one would show another of its sectors.
      std::snprintf(text, sizeof text, kPartitionTooFar, static_cast<unsigned>(v.number));
      ctx.Prompt().Message(text);
      continue;
    }
    DrivePacket* p = child(v.fat || v.exfat);
    if (p == nullptr) return;
    p->partitionStart = v.start;
    if (v.start == 0) p->sector = 1;
    if (v.fat) {
      p->kind = NodeKind::Volume;
      // The boot record's width, as a 32-bit FAT partition type would say it.
      p->fatType = v.width == FatWidth::Fat32 ? FatWidth::Fat32 : FatWidth::None;
      p->bootSector = v.bootSector;
      Add(sink, p, VolumeLabel(v), true);
    } else if (v.exfat) {
      SetExfatVolume(*p, v);
      Add(sink, p, VolumeLabel(v), true);
    } else {
      p->kind = NodeKind::Unknown;
      p->startSector = 1;
      Add(sink, p, v.label, false);
    }
  }
}

// The children of a volume's boot record: one node per FAT copy and the root
// directory, with the volume's parameters in their packets.
#include <cstdio>
#include <vector>

#include "disk/dir_entry.h"
#include "disk/discovery.h"
#include "disk/sector_access.h"
#include "disk/volume_layout.h"

namespace {

constexpr const char* kBufferFailed = "Fatal Error!  Not able to allocate a Buffer!";
constexpr const char* kDriveUnreachable = "Drive not accessible!";
constexpr const char* kBootUnreadable = "Boot Record not accessible!";
// Formatted with the boot record's bytes per sector.
constexpr const char* kSectorSizeUnsupported = "Sector size of %u bytes is not supported!";

}  // namespace

bool DriveDiscovery::ExpandVolume(Walk& ctx, const DrivePacket& node, TreeSink& sink) {
  DiskAccess& access = ctx.access;
  std::vector<uint8_t> buffer;
  if (!TakeBuffer(ctx.budget, buffer, uint64_t{node.sectorCount} * kSectorSize) ||
      buffer.size() < kSectorSize) {
    ctx.Prompt().Message(kBufferFailed);
    return true;
  }
  // A floppy is opened afresh each time: the disk may have been changed.
  if (IsFloppy(node)) {
    if (!access.ReopenRemovable(node.drive)) {
      ctx.Prompt().Message(kDriveUnreachable);
      return false;
    }
  }
  ctx.Prompt().SetStatus(0, kWaitText);
  if (!ReadNodeSectors(access, node, 0, std::span<uint8_t>(buffer).first(kSectorSize))) {
    ctx.Prompt().Message(kBootUnreadable);
    return true;
  }

  // The partition entry said whether the volume is a 32-bit FAT one.
  const std::optional<VolumeLayout> layout =
      DecodeVolume(std::span<const uint8_t>(buffer).first(kSectorSize),
                   node.fatType == FatWidth::Fat32 ? kFat32PartitionType : 0);
  // A record that fails its checks describes no FAT volume to walk.
  if (!layout) return true;
  // Every place below is counted in 512-byte sectors: a volume of larger
  // sectors would be listed from the wrong sectors (an empty root at best).
  if (layout->bytesPerSector != kSectorSize) {
    char text[64];
    std::snprintf(text, sizeof text, kSectorSizeUnsupported,
                  static_cast<unsigned>(layout->bytesPerSector));
    ctx.Prompt().Message(text);
    return true;
  }
  const FatWidth fatKind = layout->width;
  const uint32_t fatSectors = layout->sectorsPerFat;

  DrivePacket volume;
  volume.drive = node.drive;
  volume.cylinder = node.cylinder;
  volume.head = node.head;
  volume.sector = node.sector;
  volume.int13Extensions = node.int13Extensions;
  volume.fatType = fatKind;
  volume.heads = layout->heads;
  volume.sectorsPerTrack = layout->sectorsPerTrack;
  volume.sectorsPerCluster = layout->sectorsPerCluster;
  volume.totalSectors = layout->totalSectors;
  volume.fatCount = layout->fatCount;
  volume.partitionStart = node.partitionStart;
  volume.lastCluster = layout->lastCluster;

  char label[16];
  for (uint32_t i = 0; i < layout->fatCount; ++i) {
    DrivePacket* p = TakeChild(ctx, node);
    if (p == nullptr) return true;
    *p = volume;
    p->kind = FatCopyKind(fatKind);
    p->sectorCount = fatSectors;
    p->startSector = layout->FatCopyStart(i);
    std::snprintf(label, sizeof label, "FAT %u", static_cast<unsigned>(i + 1));
    Add(sink, p, label, false);
  }

  DrivePacket* root = TakeChild(ctx, node);
  if (root == nullptr) return true;
  *root = volume;
  root->reservedSectors = layout->reservedSectors;
  root->sectorsPerFat = fatSectors;
  root->dataStart = layout->dataStart;
  if (fatKind == FatWidth::Fat32) {
    // The root is a folder in the data area: its clusters count from there.
    root->kind = NodeKind::DirEntry;
    root->sectorCount = 0;
    root->attributes = kAttrFolder;
    root->firstCluster = layout->rootCluster;
    root->startSector = layout->dataStart;
  } else {
    root->kind = NodeKind::RootDir;
    root->startSector = layout->rootStart;
    root->sectorCount = layout->rootSectors;
  }
  Count(*root);
  Add(sink, root, "Root Directory", true);
  return true;
}

// The children of a volume's boot record: one node per FAT copy and the root
// directory, with the volume's parameters in their packets.
#include <cstdio>
#include <vector>

#include "disk/backup_boot_record.h"
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
  const std::span<uint8_t> sector0 = std::span<uint8_t>(buffer).first(kSectorSize);
  const bool readable = ReadNodeSectors(access, node, 0, sector0);

  // The partition entry said whether the volume is a 32-bit FAT one.
  const uint8_t typeHint = node.fatType == FatWidth::Fat32 ? kFat32PartitionType : 0;
  std::optional<VolumeLayout> layout;
  if (readable) layout = DecodeVolume(sector0, typeHint);
  uint16_t bootSector = 0;
  if (!layout) {
    // Sector 0 unreadable or overwritten: a 32-bit FAT volume keeps a copy of
    // its boot record in its reserved sectors, read here and never written.
    const DrivePacket own = VolumeNodeOf(node);
    const SectorReader read = [&access, &own](uint64_t first, std::span<uint8_t> out) {
      return first <= UINT32_MAX && ReadNodeSectors(access, own, static_cast<uint32_t>(first), out);
    };
    const BootRecordChoice choice = FindBootRecord(
        readable ? std::span<const uint8_t>(sector0) : std::span<const uint8_t>(), read, typeHint);
    if (choice.source == BootRecordSource::Backup) {
      layout = choice.layout;
      bootSector = static_cast<uint16_t>(choice.sector);
      ctx.status = BootRecordNote(choice);
    } else if (!readable) {
      ctx.Prompt().Message(kBootUnreadable);
    }
  }
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

  DrivePacket volume = VolumePacketOf(node, *layout);
  volume.bootSector = bootSector;

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
  *root = RootFolderNode(volume, *layout);
  Count(*root);
  Add(sink, root, "Root Directory", true);
  return true;
}

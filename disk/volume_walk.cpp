// The children of a volume's boot record: one node per FAT copy and the root
// directory, with the volume's parameters in their packets.
#include <cstdio>
#include <vector>

#include "disk/boot_sector.h"
#include "disk/discovery.h"
#include "disk/le.h"
#include "views/list_ops.h"

namespace {

constexpr const char* kBufferFailed = "Fatal Error!  Not able to allocate a Buffer!";
constexpr const char* kDriveUnreachable = "Drive not accessible!";
constexpr const char* kBootUnreadable = "Boot Record not accessible!";
// Formatted with the boot record's bytes per sector.
constexpr const char* kSectorSizeUnsupported = "Sector size of %u bytes is not supported!";

// A volume of fewer clusters than this has a 12-bit FAT.
constexpr uint32_t kFat16MinClusters = 4096;

}  // namespace

bool DriveDiscovery::ExpandVolume(ViewContext& ctx, const DrivePacket& node, TreeSink& sink) {
  DiskAccess& access = ctx.access;
  std::vector<uint8_t> buffer;
  if (!TakeBuffer(ctx.pane, buffer, uint64_t{node.sectorCount} * kSectorSize) ||
      buffer.size() < kSectorSize) {
    ctx.Prompt().Message(kBufferFailed);
    return true;
  }
  if (!access.useSectorLibrary && IsFloppy(node)) {
    // A floppy is opened afresh each time: the disk may have been changed.
    access.CloseDrive(node.drive);
    if (!access.OpenDrive(node.drive)) {
      ctx.Prompt().Message(kDriveUnreachable);
      return false;
    }
  }
  if (!ReadNodeSectors(access, node, buffer.data())) {
    ctx.Prompt().Message(kBootUnreadable);
    return true;
  }

  const std::span<const uint8_t> boot(buffer.data(), kSectorSize);
  const uint16_t bytesPerSector = le16(boot, kBootBytesPerSector);
  const uint8_t sectorsPerCluster = le8(boot, kBootSectorsPerCluster);
  const uint16_t reserved = le16(boot, kBootReservedSectors);
  const uint8_t fatCount = le8(boot, kBootFatCount);
  const uint16_t rootEntries = le16(boot, kBootRootEntries);
  const uint16_t total16 = le16(boot, kBootTotalSectors16);
  const uint32_t totalSectors = total16 != 0 ? total16 : le32(boot, kBootTotalSectors32);
  const uint16_t sectorsPerTrack = le16(boot, kBootSectorsPerTrack);
  const uint16_t heads = le16(boot, kBootHeads);

  // Without a sector or cluster size the record describes no FAT volume.
  if (bytesPerSector == 0 || sectorsPerCluster == 0) return true;
  // Every place below is counted in 512-byte sectors: a volume of larger
  // sectors would be listed from the wrong sectors (an empty root at best).
  if (bytesPerSector != kSectorSize) {
    char text[64];
    std::snprintf(text, sizeof text, kSectorSizeUnsupported, static_cast<unsigned>(bytesPerSector));
    ctx.Prompt().Message(text);
    return true;
  }

  // Clusters are counted as total sectors / sectors per cluster: the bytes
  // per sector cancel, and multiplying them in first overflows 32 bits on
  // large 16-bit FAT volumes.
  uint16_t fatKind = KindFat32;
  if (node.fatType != KindFat32)
    fatKind = totalSectors / sectorsPerCluster < kFat16MinClusters ? KindFat12 : KindFat16;
  const uint32_t fatSectors =
      fatKind == KindFat32 ? le32(boot, kBootSectorsPerFat32) : le16(boot, kBootSectorsPerFat16);

  // Every start must be a 32-bit sector number; a record whose FATs reach
  // past that describes no volume that can be addressed.
  const uint64_t rootStart = reserved + uint64_t{fatCount} * fatSectors;
  const uint32_t rootSectors = fatKind == KindFat32 ? 0 : rootEntries * 32u / kSectorSize;
  if (rootStart + rootSectors > UINT32_MAX) return true;

  DrivePacket volume;
  volume.drive = node.drive;
  volume.cylinder = node.cylinder;
  volume.head = node.head;
  volume.sector = node.sector;
  volume.int13Extensions = node.int13Extensions;
  volume.fatType = fatKind;
  volume.heads = heads;
  volume.sectorsPerTrack = sectorsPerTrack;
  volume.sectorsPerCluster = sectorsPerCluster;
  volume.totalSectors = totalSectors;
  volume.partitionStart = node.partitionStart;

  char label[16];
  for (uint32_t i = 0; i < fatCount; ++i) {
    DrivePacket* p = TakeChild(ctx, node);
    if (p == nullptr) return true;
    *p = volume;
    p->kind = fatKind;
    p->sectorCount = fatSectors;
    p->startSector = reserved + i * fatSectors;
    std::snprintf(label, sizeof label, "FAT %u", static_cast<unsigned>(i + 1));
    Add(sink, p, label, false);
  }

  DrivePacket* root = TakeChild(ctx, node);
  if (root == nullptr) return true;
  *root = volume;
  root->reservedSectors = reserved;
  root->sectorsPerFat = fatSectors;
  root->startSector = static_cast<uint32_t>(rootStart);
  if (fatKind == KindFat32) {
    root->kind = KindDirEntry;
    root->sectorCount = 0;
    root->attributes = 0x10;
    root->firstCluster = le32(boot, kBootRootCluster);
    root->dataStart = root->startSector;
  } else {
    root->kind = KindRootDir;
    root->sectorCount = rootSectors;
    root->dataStart = root->startSector + rootSectors;
  }
  Count(*root);
  Add(sink, root, "Root Directory", true);
  return true;
}

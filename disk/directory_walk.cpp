// The children of a directory: one node per live file and folder, named by
// its long name where it has one.
#include <algorithm>
#include <new>
#include <vector>

#include "disk/discovery.h"
#include "disk/fat_codec.h"
#include "disk/le.h"
#include "disk/sector_access.h"
#include "views/dir_entry.h"
#include "views/list_ops.h"
#include "views/long_name.h"

namespace {

constexpr const char* kRootBufferFailed =
    "Fatal Error!  Not able to allocate a Buffer for Root Directory!";
constexpr const char* kRootUnreadable = "Root Directory not fully accessible!";
constexpr const char* kFatBufferFailed = "Fatal Error!  Not able to allocate a Buffer For FAT!";
constexpr const char* kFatUnreadable = "FAT not accessible!";
constexpr const char* kListFailed = "Fatal Error!  Not able to allocate a Buffer for FAT Entries!";
constexpr const char* kFolderBufferFailed = "Fatal Error! Not able to allocate a Buffer!";
constexpr const char* kFolderUnreadable = "Not able to load the sub-directory";

// A directory holds at most 65536 entries; clusters past them are no part
// of it, whatever its chain says.
constexpr uint64_t kMaxDirectoryBytes = 65536 * kDirEntrySize;
// FAT tables above this size are first checked to lie on the disk.
constexpr uint32_t kProbeAboveSectors = 128;

// The sectors of one FAT copy that can hold entries of this volume: no more
// than its clusters (as the total sector count bounds them) and the width
// can number. What lies beyond is never a link of the volume.
uint32_t UsableFatSectors(const DrivePacket& folder) {
  uint64_t entries = uint64_t{folder.totalSectors} / folder.sectorsPerCluster + 2;
  uint64_t bytes = 0;
  switch (folder.fatType) {
    case KindFat12: bytes = (std::min<uint64_t>(entries, 0x1000) * 3 + 1) / 2; break;
    case KindFat16: bytes = std::min<uint64_t>(entries, 0x10000) * 2; break;
    case KindFat32: bytes = std::min<uint64_t>(entries, 0x10000000) * 4; break;
    default: return 0;
  }
  const uint64_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
  return static_cast<uint32_t>(std::min<uint64_t>(sectors, folder.sectorsPerFat));
}

bool ReadableSector(DiskAccess& access, const DrivePacket& node, uint64_t sector) {
  if (sector > UINT32_MAX) return false;
  DrivePacket one = node;
  one.startSector = static_cast<uint32_t>(sector);
  one.sectorCount = 1;
  uint8_t probe[kSectorSize];
  return ReadSectors(access, one, probe);
}

}  // namespace

void DriveDiscovery::ExpandRootDirectory(ViewContext& ctx, const DrivePacket& node,
                                         TreeSink& sink) {
  std::vector<uint8_t> dir;
  if (!TakeBuffer(ctx.pane, dir, uint64_t{node.sectorCount} * kSectorSize)) {
    ctx.Prompt().Message(kRootBufferFailed);
    return;
  }
  if (!ReadSectors(ctx.access, node, dir.data())) ctx.Prompt().Message(kRootUnreadable);
  WalkEntries(ctx, node, dir, true, sink);
}

void DriveDiscovery::ExpandFolder(ViewContext& ctx, const DrivePacket& node, TreeSink& sink) {
  if ((node.attributes & kAttrFolder) == 0 || node.sectorsPerCluster == 0) return;
  if (RepeatsAncestor(node)) return;  // its own or an ancestor's entries again

  DiskAccess& access = ctx.access;
  const uint32_t fatSectors = UsableFatSectors(node);
  const uint64_t secondCopy = uint64_t{node.reservedSectors} + node.sectorsPerFat;
  // A FAT that the boot record makes larger than the disk is refused before
  // its memory is taken: its last sector must read in one of the copies.
  if (fatSectors > kProbeAboveSectors &&
      !ReadableSector(access, node, uint64_t{node.reservedSectors} + fatSectors - 1) &&
      !ReadableSector(access, node, secondCopy + fatSectors - 1)) {
    ctx.Prompt().Message(kFatUnreadable);
    return;
  }
  std::vector<uint8_t> fat;
  if (!TakeBuffer(ctx.pane, fat, uint64_t{fatSectors} * kSectorSize)) {
    ctx.Prompt().Message(kFatBufferFailed);
    return;
  }
  DrivePacket copy = node;
  copy.startSector = node.reservedSectors;
  copy.sectorCount = fatSectors;
  if (!ReadSectors(access, copy, fat.data())) {
    bool read = false;
    if (secondCopy <= UINT32_MAX) {
      copy.startSector = static_cast<uint32_t>(secondCopy);
      read = ReadSectors(access, copy, fat.data());
    }
    if (!read) {
      ctx.Prompt().Message(kFatUnreadable);
      return;
    }
  }

  const uint32_t length = ChainLength(node.firstCluster, node.fatType, fat);
  if (length == 0) return;
  const uint64_t clusterBytes = uint64_t{node.sectorsPerCluster} * kSectorSize;
  const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(
      length, (kMaxDirectoryBytes + clusterBytes - 1) / clusterBytes));
  std::vector<uint32_t> chain;
  try {
    if (uint64_t{count} * sizeof(uint32_t) > ctx.pane.memoryLimit) throw std::bad_alloc();
    chain.assign(count, 0);
  } catch (const std::exception&) {
    ctx.Prompt().Message(kListFailed);
    return;
  }
  ListChain(node.firstCluster, node.fatType, chain, count, fat);
  std::vector<uint8_t>().swap(fat);

  std::vector<uint8_t> dir;
  if (!TakeBuffer(ctx.pane, dir, clusterBytes * count)) {
    ctx.Prompt().Message(kFolderBufferFailed);
    return;
  }
  if (!ReadClusters(access, chain, node, count, dir.data())) {
    ctx.Prompt().Message(kFolderUnreadable);
    return;
  }
  WalkEntries(ctx, node, dir, false, sink);
}

void DriveDiscovery::WalkEntries(ViewContext& ctx, const DrivePacket& node,
                                 std::span<const uint8_t> dir, bool rootWalk, TreeSink& sink) {
  const size_t entries = dir.size() / kDirEntrySize;
  std::string name;
  for (size_t i = 0; i < entries; ++i) {
    const auto entry = dir.subspan(i * kDirEntrySize, kDirEntrySize);
    const uint8_t first = le8(entry, kDirName);
    const uint8_t attributes = le8(entry, kDirAttributes);
    if (IsLongNameEntry(attributes) || IsDeletedMark(first)) continue;
    // A volume label is no file, in the root of any width (the 32-bit root
    // is walked as a folder) and wherever else one turns up.
    if ((attributes & kAttrVolumeLabel) != 0) continue;
    if (!rootWalk && (attributes & kAttrFolder) != 0 && first == '.') continue;
    if (first == kDirEndMark) break;

    name.clear();
    if (i > 0) AssembleLongName(dir, i, name);
    if (name.empty()) {
      name.assign(reinterpret_cast<const char*>(entry.data()) + kDirName, kDirNameLength);
      name += '.';
      name.append(reinterpret_cast<const char*>(entry.data()) + kDirExtension,
                  kDirExtensionLength);
    }

    DrivePacket* p = TakeChild(ctx, node, name.c_str());
    if (p == nullptr) return;
    const char* text = p->nameText;
    *p = DrivePacket{};
    p->drive = node.drive;
    p->cylinder = node.cylinder;
    p->head = node.head;
    p->sector = node.sector;
    p->int13Extensions = node.int13Extensions;
    p->heads = node.heads;
    p->sectorsPerTrack = node.sectorsPerTrack;
    p->sectorsPerCluster = node.sectorsPerCluster;
    p->reservedSectors = node.reservedSectors;
    p->sectorsPerFat = node.sectorsPerFat;
    p->dataStart = node.dataStart;
    p->fatType = node.fatType;
    p->totalSectors = node.totalSectors;
    p->partitionStart = node.partitionStart;
    p->kind = KindDirEntry;
    p->sectorCount = 0;
    p->startSector = node.startSector + node.sectorCount;
    p->firstCluster = DirEntryFirstCluster(entry, node.fatType);
    p->attributes = attributes;
    p->nameText = text;
    const bool folder = (attributes & kAttrFolder) != 0;
    if (folder) Count(*p);
    Add(sink, p, std::string(), folder, true);
  }
}

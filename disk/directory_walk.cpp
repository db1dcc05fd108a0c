// The children of a directory: one node per live file and folder, named by
// its long name where it has one.
#include <vector>

#include "disk/dir_entry.h"
#include "disk/directory_loader.h"
#include "disk/discovery.h"
#include "disk/fat_copy.h"
#include "disk/le.h"
#include "disk/long_name.h"

namespace {

constexpr const char* kRootBufferFailed =
    "Fatal Error!  Not able to allocate a Buffer for Root Directory!";
constexpr const char* kRootUnreadable = "Root Directory not fully accessible!";
constexpr const char* kFatBufferFailed = "Fatal Error!  Not able to allocate a Buffer For FAT!";
constexpr const char* kFatUnreadable = "FAT not accessible!";
constexpr const char* kListFailed = "Fatal Error!  Not able to allocate a Buffer for FAT Entries!";
constexpr const char* kFolderBufferFailed = "Fatal Error! Not able to allocate a Buffer!";
constexpr const char* kFolderUnreadable = "Not able to load the sub-directory";

}  // namespace

void DriveDiscovery::ExpandRootDirectory(Walk& ctx, const DrivePacket& node,
                                         TreeSink& sink) {
  const DirectoryImage dir = LoadDirectory(ctx.access, ctx.budget, node, {});
  if (!dir.Loaded()) {
    ctx.Prompt().Message(kRootBufferFailed);
    return;
  }
  if (!dir.Complete()) ctx.Prompt().Message(kRootUnreadable);
  WalkEntries(ctx, node, dir.bytes, true, sink);
}

void DriveDiscovery::ExpandFolder(Walk& ctx, const DrivePacket& node, TreeSink& sink) {
  if ((node.attributes & kAttrFolder) == 0 || node.sectorsPerCluster == 0) return;
  if (RepeatsAncestor(node)) return;  // its own or an ancestor's entries again

  // The walk reads only the FAT sectors its chain lies in, and only those
  // that can link this volume's clusters; the cache keeps them for the next
  // folder and the listing.
  FatReader fat(ctx.access, ctx.budget, node, {.usableSectorsOnly = true});
  const DirectoryImage dir = LoadDirectory(ctx.access, ctx.budget, node, fat);
  switch (fat.Status()) {
    case FatCopyLoad::NoMemory: ctx.Prompt().Message(kFatBufferFailed); return;
    case FatCopyLoad::Unreadable: ctx.Prompt().Message(kFatUnreadable); return;
    case FatCopyLoad::Loaded: break;
  }
  switch (dir.status) {
    case DirectoryImage::Status::NoChain: return;
    case DirectoryImage::Status::NoClusterList: ctx.Prompt().Message(kListFailed); return;
    case DirectoryImage::Status::NoBuffer: ctx.Prompt().Message(kFolderBufferFailed); return;
    case DirectoryImage::Status::Loaded: break;
  }
  // A cut chain ends the folder silently; a cluster that cannot be read
  // leaves its entries unknown, and none are made up from the fill.
  if (!dir.AllRead()) {
    ctx.Prompt().Message(kFolderUnreadable);
    return;
  }
  WalkEntries(ctx, node, dir.bytes, false, sink);
}

void DriveDiscovery::WalkEntries(Walk& ctx, const DrivePacket& node,
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
      // Decoded as the listing decodes it, so tree and list name a file alike.
      std::string stored(reinterpret_cast<const char*>(entry.data()) + kDirName, kDirNameLength);
      stored += '.';
      stored.append(reinterpret_cast<const char*>(entry.data()) + kDirExtension,
                    kDirExtensionLength);
      name = OemNameToUtf8(stored);
    }

    DrivePacket* p = TakeChildOf(ctx, node, Shared::FatVolume, name.c_str(), (attributes & kAttrFolder) != 0);
    if (p == nullptr) return;
    p->kind = NodeKind::DirEntry;
    p->sectorCount = 0;
    p->startSector = node.startSector + node.sectorCount;
    p->firstCluster = DirEntryFirstCluster(entry, node.fatType);
    p->attributes = attributes;
    const bool folder = (attributes & kAttrFolder) != 0;
    if (folder) Count(*p);
    Add(sink, p, std::string(), folder, true);
  }
}

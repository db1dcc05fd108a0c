// The children of an exFAT volume and of its folders.
#include <algorithm>
#include <cstdio>

#include "disk/discovery.h"
#include "disk/exfat_node.h"

namespace {

constexpr const char* kNoBootRegion = "Neither exFAT boot region is sound!";
constexpr const char* kFolderUnreadable = "Not able to load the sub-directory";

uint32_t ClampUnits(uint64_t units) { return units <= UINT32_MAX ? static_cast<uint32_t>(units) : 0; }

// The extent a node's sector dump shows: its first run of clusters, as far
// as its length goes (a stream of unknown length: the run).
void SetExtent(DrivePacket& p, ExfatVolume& volume, const ExfatStream& stream) {
  const ExfatBootSector& boot = volume.Boot();
  if (!volume.ClusterInHeap(stream.firstCluster)) return;
  ExfatRun run{stream.firstCluster, 1};
  if (stream.noFatChain) {
    run.count = static_cast<uint32_t>(
        std::min<uint64_t>((stream.dataLength + volume.BytesPerCluster() - 1) / volume.BytesPerCluster(),
                           boot.clusterCount + uint64_t{kExfatFirstCluster} - stream.firstCluster));
  } else {
    const ExfatChain chain = volume.StreamClusters(stream);
    if (!chain.runs.empty()) run = chain.runs.front();
  }
  uint64_t units = uint64_t{run.count} * boot.UnitsPerCluster();
  if (stream.lengthKnown) units = std::min(units, (stream.dataLength + kExfatUnit - 1) / kExfatUnit);
  const uint64_t first = boot.UnitOfCluster(run.first);
  if (first > UINT32_MAX || units == 0) return;
  p.startSector = static_cast<uint32_t>(first);
  p.sectorCount = ClampUnits(std::min<uint64_t>(units, UINT32_MAX - first + 1));
}

// The volume a node lies in; the person is told when neither boot region is sound.
std::unique_ptr<ExfatOpened> OpenWithWait(DiskAccess& access, const DrivePacket& node) {
  access.Prompt().SetStatus(0, kWaitText);
  auto opened = OpenExfat(access, node);
  if (!opened->volume) access.Prompt().Message(kNoBootRegion);
  return opened;
}

void SetStream(DrivePacket& p, const ExfatStream& stream) {
  p.firstCluster = stream.firstCluster;
  p.dataLength = stream.dataLength;
  p.exfatFlags = static_cast<uint8_t>((stream.noFatChain ? kExfatNodeNoFatChain : 0) |
                                      (stream.lengthKnown ? 0 : kExfatNodeRoot));
}

}  // namespace

DrivePacket* DriveDiscovery::TakeExfatChild(Walk& ctx, const DrivePacket& parent, NodeKind kind,
                                            const char* name) {
  const bool container = kind == NodeKind::ExfatDir;
  DrivePacket* p = TakeChildOf(ctx, parent, Shared::Volume, name, container);
  if (p != nullptr) p->kind = kind;
  return p;
}

void DriveDiscovery::ExpandExfatVolume(Walk& ctx, const DrivePacket& node, TreeSink& sink) {
  const auto opened = OpenWithWait(ctx.access, node);
  if (!opened->volume) return;
  ExfatVolume& volume = *opened->volume;
  const ExfatBootSector& boot = volume.Boot();
  ctx.status = ExfatBootNote(opened->choice);

  const bool backup = opened->choice.source == ExfatBootSource::Backup;
  const ExfatBootRegion& region = backup ? opened->choice.backup : opened->choice.main;
  if (DrivePacket* p = TakeExfatChild(ctx, node, NodeKind::ExfatBoot)) {
    p->startSector = ClampUnits(region.firstUnit);
    p->sectorCount = ClampUnits(boot.UnitOfSector(kExfatBootRegionSectors));
    Add(sink, p, backup ? "Backup Boot Region" : "Boot Region", false);
  } else {
    return;
  }
  char label[16];
  for (uint32_t i = 0; i < boot.numberOfFats && i < 2; ++i) {
    DrivePacket* p = TakeExfatChild(ctx, node, NodeKind::ExfatFat);
    if (p == nullptr) return;
    p->startSector = ClampUnits(boot.UnitOfSector(uint64_t{boot.fatOffset} + uint64_t{i} * boot.fatLength));
    p->sectorCount = ClampUnits(boot.UnitOfSector(boot.fatLength));
    p->firstCluster = i;  // which FAT
    std::snprintf(label, sizeof label, "FAT %u", static_cast<unsigned>(i + 1));
    Add(sink, p, label, false);
  }

  const ExfatMetadata meta = LoadExfatMetadata(volume);
  const std::pair<const std::optional<ExfatEntrySet>*, std::pair<NodeKind, const char*>> metaFiles[] = {
      {&meta.bitmapEntry, {NodeKind::ExfatBitmap, "Allocation Bitmap"}},
      {&meta.upcaseEntry, {NodeKind::ExfatUpcase, "Up-case Table"}},
  };
  for (const auto& [entry, what] : metaFiles) {
    if (!entry->has_value()) continue;
    DrivePacket* p = TakeExfatChild(ctx, node, what.first);
    if (p == nullptr) return;
    const ExfatStream stream = ExfatStreamOf(**entry);
    SetStream(*p, stream);
    SetExtent(*p, volume, stream);
    Add(sink, p, what.second, false);
  }

  DrivePacket* root = TakeExfatChild(ctx, node, NodeKind::ExfatDir);
  if (root == nullptr) return;
  ExfatStream stream;
  stream.firstCluster = boot.rootCluster;
  stream.lengthKnown = false;
  SetStream(*root, stream);
  SetExtent(*root, volume, stream);
  root->attributes = kExfatAttrDirectory;
  Count(*root);
  Add(sink, root, "Root Directory", true);
}

void DriveDiscovery::ExpandExfatFolder(Walk& ctx, const DrivePacket& node, TreeSink& sink) {
  if (RepeatsAncestor(node)) return;  // its own or an ancestor's entries again
  const auto opened = OpenWithWait(ctx.access, node);
  if (!opened->volume) return;
  ExfatVolume& volume = *opened->volume;
  const ExfatDirectory dir = ReadExfatDirectory(volume, ExfatNodeStream(node), volume.Context());
  // Sets are decoded only from clusters that were read: what could be read
  // is listed, and the person is told that the rest could not.
  if (!dir.unreadable.empty()) ctx.Prompt().Message(kFolderUnreadable);
  for (const ExfatEntrySet& set : dir.sets) {
    if (set.kind != ExfatEntryKind::File || set.deleted || !set.hasStream) continue;
    const bool folder = set.IsDirectory();
    DrivePacket* p = TakeExfatChild(ctx, node, folder ? NodeKind::ExfatDir : NodeKind::ExfatFile,
                                    set.name.c_str());
    if (p == nullptr) return;
    const ExfatStream stream = ExfatStreamOf(set);
    SetStream(*p, stream);
    p->attributes = set.primary.attributes;
    // A file of many fragments is dumped cluster by cluster; the tree walks
    // no FAT chain for it.
    if (stream.noFatChain || folder) SetExtent(*p, volume, stream);
    else if (volume.ClusterInHeap(stream.firstCluster) && stream.dataLength != 0) {
      const uint64_t first = volume.Boot().UnitOfCluster(stream.firstCluster);
      if (first <= UINT32_MAX) {
        p->startSector = static_cast<uint32_t>(first);
        p->sectorCount = ClampUnits(std::min<uint64_t>(volume.Boot().UnitsPerCluster(),
                                                       (stream.dataLength + kExfatUnit - 1) / kExfatUnit));
      }
    }
    if (folder) Count(*p);
    Add(sink, p, std::string(), folder, true);
  }
}

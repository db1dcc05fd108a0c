#include "recovery/volume_reader.h"

#include <algorithm>

#include "disk/cluster_place.h"
#include "disk/dir_entry.h"
#include "disk/directory_extent.h"
#include "disk/directory_loader.h"
#include "disk/fat_codec.h"
#include "disk/fat_copy.h"
#include "disk/sector_access.h"

VolumeReader::VolumeReader(DiskAccess& access, const DrivePacket& root)
    : access_(access), root_(root) {
  data_ = root;
  data_.startSector = root.dataStart;
}

VolumeReader::Open VolumeReader::Load() {
  if (Width() == FatWidth::None || root_.sectorsPerCluster == 0) return Open::NotFat;
  fat_.emplace(access_, limits_, root_, FatCopyRule{.usableSectorsOnly = true});
  switch (fat_->Status()) {
    case FatCopyLoad::NoMemory: return Open::NoMemory;
    case FatCopyLoad::Unreadable: return Open::FatUnreadable;
    case FatCopyLoad::Loaded: break;
  }
  // The table's two ends must read: a FAT that cannot be had at all, or that
  // the boot record makes larger than the disk, is no FAT to walk.
  uint8_t probe[1];
  if (fat_->Bytes() == 0 || !fat_->Get(0, probe, 1) || !fat_->Get(fat_->Bytes() - 1, probe, 1))
    return Open::FatUnreadable;
  lastCluster_ = root_.lastCluster >= 2 ? root_.lastCluster : 0;
  return Open::Ready;
}

FatEntry VolumeReader::Entry(uint32_t cluster) {
  if (!fat_) return {};
  const FatEntry entry = GetFatEntry(cluster, *fat_);
  // Once a FAT sector has read in neither copy, an entry that reads as free
  // (or could not be read) may be one of its: it counts as bad, so no walk
  // takes it as free space.
  if ((entry.IsFree() || entry.kind == FatEntryKind::OutsideTable) &&
      fat_->Status() != FatCopyLoad::Loaded)
    return {FatEntryKind::Bad, FatBadValue(Width())};
  return entry;
}

std::vector<uint32_t> VolumeReader::Chain(uint32_t first, uint32_t most) {
  std::vector<uint32_t> chain;
  if (!fat_ || !InRange(first) || most == 0) return chain;
  const uint32_t length = std::min(ChainLength(first, *fat_), most);
  if (!TakeClusterList(limits_, chain, length)) return {};
  ListChain(first, chain, length, *fat_);
  // The chain ends where it leaves the volume.
  const auto out = std::find_if(chain.begin(), chain.end(),
                                [this](uint32_t c) { return !InRange(c); });
  chain.erase(out, chain.end());
  return chain;
}

bool VolumeReader::ReadCluster(uint32_t cluster, uint8_t* out,
                               std::vector<uint32_t>* failedSectors) {
  if (failedSectors) failedSectors->clear();
  const uint32_t one[1] = {cluster};
  if (InRange(cluster) && ReadClusters(access_, one, data_, 1, out)) return true;
  if (!InRange(cluster)) {
    std::fill_n(out, ClusterBytes(), uint8_t{0});
    if (failedSectors)
      for (uint32_t s = 0; s < root_.sectorsPerCluster; ++s) failedSectors->push_back(s);
    return false;
  }
  // Sector by sector, to say which ones failed; each keeps what the read left.
  const uint64_t first = ClusterFirstSector(data_, cluster, root_.sectorsPerCluster) - data_.startSector;
  for (uint32_t s = 0; s < root_.sectorsPerCluster; ++s) {
    const std::span<uint8_t> place(out + uint64_t{s} * kSectorSize, kSectorSize);
    if (ReadNodeSectors(access_, data_, static_cast<uint32_t>(first + s), place)) continue;
    // A one-sector read that fails leaves the buffer as it was; the program
    // shows an unreadable sector as 0xE5 bytes everywhere else.
    std::fill(place.begin(), place.end(), uint8_t{0xE5});
    if (failedSectors) failedSectors->push_back(s);
  }
  return false;
}

bool VolumeReader::ReadRootDirectory(std::vector<uint8_t>& out) {
  return LoadDirectoryBytes(root_, out);
}

uint32_t VolumeReader::FolderClusterMost() const { return FolderClusterLimit(root_, UINT32_MAX); }

bool VolumeReader::ReadFolder(uint32_t first, std::vector<uint8_t>& out) {
  DrivePacket folder = root_;
  folder.kind = NodeKind::DirEntry;
  folder.attributes = kAttrFolder;
  folder.firstCluster = first;
  folder.startSector = root_.dataStart;
  folder.sectorCount = 0;
  return LoadDirectoryBytes(folder, out);
}

bool VolumeReader::LoadDirectoryBytes(const DrivePacket& directory, std::vector<uint8_t>& out) {
  if (!fat_) return false;
  DirectoryImage image = LoadDirectory(access_, limits_, directory, *fat_);
  out = std::move(image.bytes);
  return image.Complete();
}

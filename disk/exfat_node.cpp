#include "disk/exfat_node.h"

#include "disk/sector_access.h"

ExfatNodeReader::ExfatNodeReader(DiskAccess& access, const DrivePacket& node)
    : access_(access), volume_(VolumeNodeOf(node)) {}

bool ExfatNodeReader::Read(uint64_t first, std::span<uint8_t> out) {
  if (first > UINT32_MAX) return false;
  return ReadNodeSectors(access_, volume_, static_cast<uint32_t>(first), out);
}

std::string ExfatBootNote(const ExfatBootChoice& choice) {
  if (choice.source != ExfatBootSource::Backup) return {};
  return "Boot region read from its backup at sector " + std::to_string(kExfatBackupRegion);
}

std::unique_ptr<ExfatOpened> OpenExfat(DiskAccess& access, const DrivePacket& node) {
  auto opened = std::make_unique<ExfatOpened>(access, node);
  opened->choice = ChooseExfatBootRegion(opened->reader, node.totalSectors);
  if (const ExfatBootSector* boot = opened->choice.Boot()) opened->volume.emplace(opened->reader, *boot);
  return opened;
}

ExfatStream ExfatNodeStream(const DrivePacket& node) {
  ExfatStream stream;
  stream.firstCluster = node.firstCluster;
  stream.dataLength = node.dataLength;
  stream.noFatChain = (node.exfatFlags & kExfatNodeNoFatChain) != 0;
  stream.lengthKnown = (node.exfatFlags & kExfatNodeRoot) == 0;
  return stream;
}

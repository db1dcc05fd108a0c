#include "disk/exfat_boot.h"

#include <algorithm>
#include <cstring>

#include "disk/le.h"

ExfatBootSector DecodeExfatBootSector(std::span<const uint8_t> s) {
  ExfatBootSector b;
  for (size_t i = 0; i < b.jumpBoot.size(); ++i) b.jumpBoot[i] = le8(s, kExfatJumpBoot + i);
  for (size_t i = 0; i < 8; ++i)
    b.fileSystemName.push_back(static_cast<char>(le8(s, kExfatFileSystemName + i)));
  b.mustBeZeroClear = true;
  for (size_t i = 0; i < kExfatMustBeZeroLength; ++i)
    if (le8(s, kExfatMustBeZero + i) != 0) b.mustBeZeroClear = false;
  b.partitionOffset = uint64_t{le32(s, kExfatPartitionOffset)} |
                      uint64_t{le32(s, kExfatPartitionOffset + 4)} << 32;
  b.volumeLength = uint64_t{le32(s, kExfatVolumeLength)} |
                   uint64_t{le32(s, kExfatVolumeLength + 4)} << 32;
  b.fatOffset = le32(s, kExfatFatOffset);
  b.fatLength = le32(s, kExfatFatLength);
  b.clusterHeapOffset = le32(s, kExfatClusterHeapOffset);
  b.clusterCount = le32(s, kExfatClusterCount);
  b.rootCluster = le32(s, kExfatRootCluster);
  b.volumeSerial = le32(s, kExfatVolumeSerial);
  b.revision = le16(s, kExfatRevision);
  b.volumeFlags = le16(s, kExfatVolumeFlags);
  b.bytesPerSectorShift = le8(s, kExfatBytesPerSectorShift);
  b.sectorsPerClusterShift = le8(s, kExfatSectorsPerClusterShift);
  b.numberOfFats = le8(s, kExfatNumberOfFats);
  b.driveSelect = le8(s, kExfatDriveSelect);
  b.percentInUse = le8(s, kExfatPercentInUse);
  b.bootSignature = le16(s, kExfatBootSignature);
  return b;
}

bool HasExfatName(std::span<const uint8_t> sector) {
  return sector.size() >= kExfatFileSystemName + 8 &&
         std::memcmp(sector.data() + kExfatFileSystemName, kExfatName, 8) == 0;
}

bool IsFatal(ExfatBootProblem problem) {
  switch (problem) {
    case ExfatBootProblem::VolumeBeyondContainer:
    case ExfatBootProblem::RevisionUnknown:
    case ExfatBootProblem::PercentInUseOutOfRange:
    case ExfatBootProblem::ExtendedSignatureMissing:
    case ExfatBootProblem::ActiveFatMissing:
      return false;
    default:
      return true;
  }
}

const char* ExfatBootProblemText(ExfatBootProblem problem) {
  switch (problem) {
    case ExfatBootProblem::Unreadable: return "Boot region not readable";
    case ExfatBootProblem::NoSignature: return "Boot signature is not 55 AA";
    case ExfatBootProblem::NotExfat: return "File system name is not \"EXFAT   \"";
    case ExfatBootProblem::MustBeZeroNotZero: return "Bytes 11-63 are not zero";
    case ExfatBootProblem::SectorShiftOutOfRange: return "Bytes per sector not 512 to 4096";
    case ExfatBootProblem::ClusterShiftOutOfRange: return "Cluster larger than 32 MB";
    case ExfatBootProblem::FatCountOutOfRange: return "Number of FATs not 1 or 2";
    case ExfatBootProblem::VolumeTooSmall: return "Volume smaller than 1 MB";
    case ExfatBootProblem::FatOffsetTooSmall: return "FAT starts inside the boot regions";
    case ExfatBootProblem::FatTooShort: return "FAT too short for the cluster count";
    case ExfatBootProblem::FatsOverlapHeap: return "FAT runs into the cluster heap";
    case ExfatBootProblem::HeapBeyondVolume: return "Cluster heap runs past the volume";
    case ExfatBootProblem::ClusterCountTooLarge: return "Cluster count too large";
    case ExfatBootProblem::RootClusterOutOfRange: return "Root directory cluster out of range";
    case ExfatBootProblem::ChecksumMismatch: return "Boot checksum wrong";
    case ExfatBootProblem::VolumeBeyondContainer: return "Volume runs past the partition";
    case ExfatBootProblem::RevisionUnknown: return "Unknown file system revision";
    case ExfatBootProblem::PercentInUseOutOfRange: return "Percent in use above 100";
    case ExfatBootProblem::ExtendedSignatureMissing: return "Extended boot signature missing";
    case ExfatBootProblem::ActiveFatMissing: return "Active FAT is a second FAT that is not there";
  }
  return "";
}

std::vector<ExfatBootProblem> CheckExfatBootSector(const ExfatBootSector& b,
                                                   uint64_t containerUnits) {
  using P = ExfatBootProblem;
  std::vector<P> problems;
  if (b.bootSignature != kExfatSignature) problems.push_back(P::NoSignature);
  if (b.fileSystemName != kExfatName) {
    // Not exFAT at all: what the other fields hold means nothing.
    problems.push_back(P::NotExfat);
    return problems;
  }
  if (!b.mustBeZeroClear) problems.push_back(P::MustBeZeroNotZero);
  const bool sectorShiftOk = b.bytesPerSectorShift >= kExfatMinSectorShift &&
                             b.bytesPerSectorShift <= kExfatMaxSectorShift;
  if (!sectorShiftOk) problems.push_back(P::SectorShiftOutOfRange);
  const bool clusterShiftOk =
      sectorShiftOk && b.sectorsPerClusterShift <= kExfatMaxClusterShift - b.bytesPerSectorShift;
  if (sectorShiftOk && !clusterShiftOk) problems.push_back(P::ClusterShiftOutOfRange);
  const bool fatCountOk = b.numberOfFats == 1 || b.numberOfFats == 2;
  if (!fatCountOk) problems.push_back(P::FatCountOutOfRange);
  if (b.RevisionMajor() != 1) problems.push_back(P::RevisionUnknown);
  if (b.percentInUse > 100 && b.percentInUse != 0xFF) problems.push_back(P::PercentInUseOutOfRange);
  if ((b.volumeFlags & kExfatActiveFat) && b.numberOfFats == 1) problems.push_back(P::ActiveFatMissing);
  if (!clusterShiftOk) return problems;

  // From here every size is in volume sectors, in 64 bits: no field can
  // overflow a sum of two of them.
  const uint64_t minSectors = (uint64_t{1} << 20) >> b.bytesPerSectorShift;
  if (b.volumeLength < minSectors) problems.push_back(P::VolumeTooSmall);
  if (containerUnits != 0 &&
      b.volumeLength > (containerUnits >> (b.bytesPerSectorShift - kExfatMinSectorShift)))
    problems.push_back(P::VolumeBeyondContainer);
  if (b.fatOffset < 2 * kExfatBootRegionSectors) problems.push_back(P::FatOffsetTooSmall);
  const uint64_t fatBytesNeeded = (uint64_t{b.clusterCount} + 2) * 4;
  if (uint64_t{b.fatLength} << b.bytesPerSectorShift < fatBytesNeeded)
    problems.push_back(P::FatTooShort);
  if (fatCountOk &&
      uint64_t{b.fatOffset} + uint64_t{b.fatLength} * b.numberOfFats > b.clusterHeapOffset)
    problems.push_back(P::FatsOverlapHeap);
  if (b.clusterCount > kExfatMaxClusterCount) problems.push_back(P::ClusterCountTooLarge);
  const uint64_t heapEnd =
      uint64_t{b.clusterHeapOffset} + (uint64_t{b.clusterCount} << b.sectorsPerClusterShift);
  if (heapEnd > b.volumeLength) problems.push_back(P::HeapBeyondVolume);
  if (b.rootCluster < kExfatFirstCluster || b.rootCluster - kExfatFirstCluster >= b.clusterCount)
    problems.push_back(P::RootClusterOutOfRange);
  return problems;
}

uint32_t ExfatBootChecksum(std::span<const uint8_t> region, uint32_t bytesPerSector) {
  const size_t length = std::min<size_t>(region.size(), size_t{bytesPerSector} * kExfatChecksumSector);
  uint32_t sum = 0;
  for (size_t i = 0; i < length; ++i) {
    if (i == kExfatVolumeFlags || i == kExfatVolumeFlags + 1 || i == kExfatPercentInUse) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  return sum;
}

bool ExfatBootRegion::Sound() const {
  return read && std::none_of(problems.begin(), problems.end(),
                              [](ExfatBootProblem p) { return IsFatal(p); });
}

const ExfatBootSector* ExfatBootChoice::Boot() const {
  switch (source) {
    case ExfatBootSource::Main: return &main.boot;
    case ExfatBootSource::Backup: return &backup.boot;
    case ExfatBootSource::None: break;
  }
  return nullptr;
}

namespace {

bool ShiftInRange(uint8_t shift) {
  return shift >= kExfatMinSectorShift && shift <= kExfatMaxSectorShift;
}

// Checks the region whose sector 0 is at reader unit firstUnit; its bytes
// (12 sectors) go to bytes when they could be read.
ExfatBootRegion CheckRegion(ExfatReader& reader, uint64_t firstUnit, uint64_t containerUnits,
                            std::vector<uint8_t>& bytes) {
  ExfatBootRegion r;
  r.firstUnit = firstUnit;
  bytes.assign(kExfatUnit, 0);
  if (!reader.Read(firstUnit, bytes)) {
    r.problems.push_back(ExfatBootProblem::Unreadable);
    return r;
  }
  r.read = true;
  r.boot = DecodeExfatBootSector(bytes);
  r.problems = CheckExfatBootSector(r.boot, containerUnits);
  if (!ShiftInRange(r.boot.bytesPerSectorShift) || r.boot.fileSystemName != kExfatName) return r;

  const uint32_t bps = r.boot.BytesPerSector();
  bytes.assign(size_t{bps} * kExfatBootRegionSectors, 0);
  if (!reader.Read(firstUnit, bytes)) {
    r.problems.push_back(ExfatBootProblem::Unreadable);
    bytes.clear();
    return r;
  }
  r.computedChecksum = ExfatBootChecksum(bytes, bps);
  const std::span<const uint8_t> checksums(bytes.data() + size_t{bps} * kExfatChecksumSector, bps);
  r.storedChecksum = le32(checksums, 0);
  bool match = true;
  for (size_t at = 0; at < bps; at += 4)
    if (le32(checksums, at) != r.computedChecksum) match = false;
  if (!match) r.problems.push_back(ExfatBootProblem::ChecksumMismatch);
  for (uint32_t s = 1; s <= 8; ++s) {
    if (le32(bytes, size_t{bps} * (s + 1) - 4) != kExfatExtendedSignature) {
      r.problems.push_back(ExfatBootProblem::ExtendedSignatureMissing);
      break;
    }
  }
  return r;
}

// Equal but for the flags and percent in use, which only the main region keeps.
bool SameRegion(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (i == kExfatVolumeFlags || i == kExfatVolumeFlags + 1 || i == kExfatPercentInUse) continue;
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

ExfatBootChoice ChooseExfatBootRegion(ExfatReader& reader, uint64_t containerUnits) {
  ExfatBootChoice choice;
  std::vector<uint8_t> mainBytes, backupBytes;
  choice.main = CheckRegion(reader, 0, containerUnits, mainBytes);

  // The main region's sector size first, then every other one: the backup
  // starts at sector 12 of its own size.
  std::vector<uint8_t> shifts;
  if (choice.main.read && ShiftInRange(choice.main.boot.bytesPerSectorShift))
    shifts.push_back(choice.main.boot.bytesPerSectorShift);
  for (uint8_t s = kExfatMinSectorShift; s <= kExfatMaxSectorShift; ++s)
    if (std::find(shifts.begin(), shifts.end(), s) == shifts.end()) shifts.push_back(s);
  bool found = false;
  for (uint8_t s : shifts) {
    const uint64_t unit = uint64_t{kExfatBackupRegion} << (s - kExfatMinSectorShift);
    std::vector<uint8_t> bytes;
    ExfatBootRegion candidate = CheckRegion(reader, unit, containerUnits, bytes);
    const bool fits = candidate.read && candidate.boot.fileSystemName == kExfatName &&
                      candidate.boot.bytesPerSectorShift == s;
    // Without a fitting one, what the first place holds is what is told.
    if (fits || s == shifts.front()) {
      choice.backup = std::move(candidate);
      backupBytes = std::move(bytes);
    }
    if (fits) {
      found = true;
      break;
    }
  }
  if (!found && choice.backup.read && choice.backup.problems.empty())
    choice.backup.problems.push_back(ExfatBootProblem::NotExfat);

  if (choice.main.Sound()) {
    choice.source = ExfatBootSource::Main;
    choice.backupMatchesMain = choice.backup.Sound() && SameRegion(mainBytes, backupBytes);
  } else if (found && choice.backup.Sound()) {
    choice.source = ExfatBootSource::Backup;
  }
  return choice;
}

// The exFAT boot region: the boot sector's fields, their checks, the region's
// checksum, and the choice between the main region (sectors 0-11) and its
// backup (sectors 12-23). Sector numbers here are the volume's own sectors
// (2^BytesPerSectorShift bytes) unless they are said to be reader units.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "disk/exfat_reader.h"

// Boot sector offsets.
inline constexpr size_t kExfatJumpBoot = 0;             // 3 bytes, EB 76 90
inline constexpr size_t kExfatFileSystemName = 3;       // 8 bytes, "EXFAT   "
inline constexpr size_t kExfatMustBeZero = 11;          // 53 bytes where a FAT BPB would be
inline constexpr size_t kExfatMustBeZeroLength = 53;
inline constexpr size_t kExfatPartitionOffset = 64;     // u64, sectors from the disk's start
inline constexpr size_t kExfatVolumeLength = 72;        // u64, sectors
inline constexpr size_t kExfatFatOffset = 80;           // u32, sectors
inline constexpr size_t kExfatFatLength = 84;           // u32, sectors of one FAT
inline constexpr size_t kExfatClusterHeapOffset = 88;   // u32, sectors
inline constexpr size_t kExfatClusterCount = 92;        // u32
inline constexpr size_t kExfatRootCluster = 96;         // u32
inline constexpr size_t kExfatVolumeSerial = 100;       // u32
inline constexpr size_t kExfatRevision = 104;           // u16, major.minor in the high.low byte
inline constexpr size_t kExfatVolumeFlags = 106;        // u16
inline constexpr size_t kExfatBytesPerSectorShift = 108;
inline constexpr size_t kExfatSectorsPerClusterShift = 109;
inline constexpr size_t kExfatNumberOfFats = 110;
inline constexpr size_t kExfatDriveSelect = 111;
inline constexpr size_t kExfatPercentInUse = 112;
inline constexpr size_t kExfatBootCode = 120;           // 390 bytes
inline constexpr size_t kExfatBootSignature = 510;      // u16, 0xAA55

inline constexpr char kExfatName[] = "EXFAT   ";
inline constexpr uint16_t kExfatSignature = 0xAA55;
inline constexpr uint32_t kExfatExtendedSignature = 0xAA550000;  // last 4 bytes of sectors 1-8

// Volume flags.
inline constexpr uint16_t kExfatActiveFat = 0x0001;     // set: the second FAT is the active one
inline constexpr uint16_t kExfatVolumeDirty = 0x0002;
inline constexpr uint16_t kExfatMediaFailure = 0x0004;
inline constexpr uint16_t kExfatClearToZero = 0x0008;

// The boot region: 12 sectors; sector 11 repeats the checksum of sectors 0-10.
inline constexpr uint32_t kExfatBootRegionSectors = 12;
inline constexpr uint32_t kExfatChecksumSector = 11;
inline constexpr uint32_t kExfatBackupRegion = 12;     // first sector of the backup region
inline constexpr uint8_t kExfatMinSectorShift = 9;     // 512 bytes
inline constexpr uint8_t kExfatMaxSectorShift = 12;    // 4096 bytes
inline constexpr uint8_t kExfatMaxClusterShift = 25;   // 32 MiB, sector and cluster shifts together
inline constexpr uint32_t kExfatMaxClusterCount = 0xFFFFFFF5;  // 2^32 - 11
inline constexpr uint32_t kExfatFirstCluster = 2;

struct ExfatBootSector {
  std::array<uint8_t, 3> jumpBoot{};
  std::string fileSystemName;  // the 8 bytes as stored
  bool mustBeZeroClear = false;
  uint64_t partitionOffset = 0;
  uint64_t volumeLength = 0;
  uint32_t fatOffset = 0;
  uint32_t fatLength = 0;
  uint32_t clusterHeapOffset = 0;
  uint32_t clusterCount = 0;
  uint32_t rootCluster = 0;
  uint32_t volumeSerial = 0;
  uint16_t revision = 0;
  uint16_t volumeFlags = 0;
  uint8_t bytesPerSectorShift = 0;
  uint8_t sectorsPerClusterShift = 0;
  uint8_t numberOfFats = 0;
  uint8_t driveSelect = 0;
  uint8_t percentInUse = 0;
  uint16_t bootSignature = 0;

  // Only meaningful once the shifts passed the checks.
  uint32_t BytesPerSector() const { return uint32_t{1} << bytesPerSectorShift; }
  uint64_t BytesPerCluster() const {
    return uint64_t{1} << (bytesPerSectorShift + sectorsPerClusterShift);
  }
  // The reader unit (512 bytes) where a volume sector starts.
  uint64_t UnitOfSector(uint64_t sector) const {
    return sector << (bytesPerSectorShift - kExfatMinSectorShift);
  }
  uint32_t UnitsPerCluster() const {
    return uint32_t{1} << (bytesPerSectorShift - kExfatMinSectorShift + sectorsPerClusterShift);
  }
  // The reader unit where cluster c (2 .. clusterCount + 1) starts.
  uint64_t UnitOfCluster(uint32_t c) const {
    return UnitOfSector(clusterHeapOffset) + uint64_t{c - kExfatFirstCluster} * UnitsPerCluster();
  }
  // The FAT that is read: the second only on a volume of two whose flag says so.
  uint32_t ActiveFat() const { return (volumeFlags & kExfatActiveFat) && numberOfFats == 2 ? 1 : 0; }
  bool VolumeDirty() const { return volumeFlags & kExfatVolumeDirty; }
  bool MediaFailure() const { return volumeFlags & kExfatMediaFailure; }
  bool ClearToZero() const { return volumeFlags & kExfatClearToZero; }
  uint8_t RevisionMajor() const { return static_cast<uint8_t>(revision >> 8); }
  uint8_t RevisionMinor() const { return static_cast<uint8_t>(revision); }
};

// Every field of a boot sector (sector holds at least its first 512 bytes;
// fewer read as zero). Decoding checks nothing.
ExfatBootSector DecodeExfatBootSector(std::span<const uint8_t> sector);

// "EXFAT   " at byte 3: what tells an exFAT volume from NTFS under type 0x07.
bool HasExfatName(std::span<const uint8_t> sector);

// What is wrong with a boot region. The fatal ones make it unusable; the
// others are told but the region is used.
enum class ExfatBootProblem {
  Unreadable,              // fatal
  NoSignature,             // fatal
  NotExfat,                // fatal
  MustBeZeroNotZero,       // fatal
  SectorShiftOutOfRange,   // fatal
  ClusterShiftOutOfRange,  // fatal
  FatCountOutOfRange,      // fatal
  VolumeTooSmall,          // fatal
  FatOffsetTooSmall,       // fatal
  FatTooShort,             // fatal
  FatsOverlapHeap,         // fatal
  HeapBeyondVolume,        // fatal
  ClusterCountTooLarge,    // fatal
  RootClusterOutOfRange,   // fatal
  ChecksumMismatch,        // fatal
  VolumeBeyondContainer,   // the partition or image ends before the volume does
  RevisionUnknown,         // major revision other than 1
  PercentInUseOutOfRange,
  ExtendedSignatureMissing,
  ActiveFatMissing,        // the flag names a second FAT that is not there
};
bool IsFatal(ExfatBootProblem problem);
// A line for the views and the CLI.
const char* ExfatBootProblemText(ExfatBootProblem problem);

// The field checks of one boot sector. containerUnits is the partition's or
// image's size in reader units (0: not known, the volume length is then not
// checked against it).
std::vector<ExfatBootProblem> CheckExfatBootSector(const ExfatBootSector& boot,
                                                   uint64_t containerUnits);

// The boot checksum over sectors 0-10 of a region (11 sectors of
// bytesPerSector), skipping VolumeFlags and PercentInUse of sector 0, which
// change while the volume is in use. region may hold more; it must hold 11.
uint32_t ExfatBootChecksum(std::span<const uint8_t> region, uint32_t bytesPerSector);

struct ExfatBootRegion {
  uint64_t firstUnit = 0;  // reader unit of its sector 0
  bool read = false;       // its boot sector could be read
  ExfatBootSector boot;
  uint32_t storedChecksum = 0;    // sector 11's first value
  uint32_t computedChecksum = 0;
  std::vector<ExfatBootProblem> problems;

  bool Sound() const;  // read, and no fatal problem
};

enum class ExfatBootSource { Main, Backup, None };

struct ExfatBootChoice {
  ExfatBootSource source = ExfatBootSource::None;
  ExfatBootRegion main;
  ExfatBootRegion backup;  // checked whether or not it was needed
  // The backup's sectors equal the main region's (only when both are sound).
  bool backupMatchesMain = false;

  // The boot sector in use; nullptr when both regions are unusable.
  const ExfatBootSector* Boot() const;
};

// Checks the main region and the backup and takes the main one when it is
// sound, else the backup when that is. The backup is looked for at sector 12
// of the sector size its own boot sector gives, so a main region damaged in
// its very sector size still finds it.
ExfatBootChoice ChooseExfatBootRegion(ExfatReader& reader, uint64_t containerUnits);

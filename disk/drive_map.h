// The drive map: which image file or block device stands behind each BIOS
// drive number (floppies 0, 1, ...; hard disks 0x80, 0x81, ...), taken from the
// program's arguments or, with none, from the block devices of the system.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "disk/device.h"

struct DriveMapConfig {
  std::vector<std::string> floppies;  // BIOS order: 0, 1, ...
  std::vector<std::string> disks;     // BIOS order: 0x80, 0x81, ...
  bool readOnly = false;
  bool direct = false;  // the direct device path instead of the sector library
  // GNU ddrescue mapfiles by BIOS drive number (--mapfile after a drive).
  std::map<uint16_t, std::string> mapfiles;
  // The undo journal of every write: on for the programs unless --no-undo
  // (ParseDriveArgs), off for a config made in code; its folder (--undo-dir),
  // DefaultUndoDir() when empty.
  bool undo = false;
  std::string undoDir;

  // One line per drive, "<hex drive> <path>", "map <hex drive> <path>" per
  // mapfile, "undo <folder>" when journalling, and "readonly" when set: the
  // form in which the program hands its map to the sector library.
  std::string Serialize() const;
  static bool Deserialize(const std::string& text, DriveMapConfig& out);
};

struct DriveArgsResult {
  DriveMapConfig config;
  std::vector<std::string> rest;  // arguments that are not drive arguments
  bool namedDrives = false;       // at least one drive was given
  std::string error;              // non-empty on a usage error
};

// Takes --floppy FILE, --disk FILE, --read-only, --direct, --undo-dir DIR,
// --no-undo and bare FILEs (a
// floppy when it is a /dev/fd* device or a regular file of a standard floppy
// size) out of args, and --mapfile FILE after a drive: the mapfile is read and
// parsed here, so that one that is unreadable or malformed is a usage error
// naming its file and line before any drive is opened. The first argument
// that is not an existing file and not an option ends the drive arguments,
// and so does one isCommand takes for a command word (a folder or file that
// happens to be called "scan" in the working folder is not a drive then);
// everything from there is in `rest`.
[[nodiscard]] DriveArgsResult ParseDriveArgs(
    const std::vector<std::string>& args,
    const std::function<bool(const std::string&)>& isCommand = {});

// Why path cannot serve as a drive, as "Cannot open PATH: REASON" (a missing
// file, a folder, an empty file, no permission); empty when it can be opened
// for reading. A block device is taken as it opens: a drive without a disk in
// it is still a drive.
std::string DriveOpenProblem(const std::string& path);
// Takes the drives that cannot be opened out of config (the others keep their
// order) and returns one DriveOpenProblem text for each.
std::vector<std::string> DropUnopenableDrives(DriveMapConfig& config);

// True for /dev/fd* and regular files of 160, 180, 320, 360, 720, 1200, 1440
// or 2880 KiB.
bool LooksLikeFloppy(const std::string& path);

// The block devices under sysBlock ("/sys/block") that can be opened, as floppies
// (fd*) and hard disks (whole sd*, vd*, nvme*n*, mmcblk* disks, then loop*
// devices with a backing file), each group in natural order (sdb before sdaa).
DriveMapConfig ScanSystemDrives(const std::string& sysBlock = "/sys/block",
                                const std::string& devDir = "/dev");

// Geometry for CHS addressing: standard floppy geometries by size; a block
// device's reported geometry; what the MBR's partition entries imply; else
// 255 heads and 63 sectors per track.
Geometry FloppyGeometryForSize(uint64_t bytes);
// A floppy's geometry from its boot record (sectors per track at 0x18, heads at
// 0x1A) when those fill the image in whole cylinders, as on formats of more
// sectors per track than the standard ones; else the standard one by size.
Geometry FloppyGeometry(const uint8_t* bootSector, uint64_t bytes);
Geometry GeometryFromMbr(const uint8_t* sector, uint64_t diskBytes);

// Devices by BIOS drive number.
class DeviceMap {
 public:
  void Add(uint16_t drive, std::unique_ptr<Device> device);
  Device* Find(uint16_t drive) const;
  // The drive's next write starts an undo file of its own (nothing when the
  // drive keeps no journal).
  void StartUndoFile(uint16_t drive) const;
  uint32_t FloppyCount() const;    // floppies numbered 0, 1, ... without a gap
  uint32_t HardDiskCount() const;  // hard disks numbered 0x80, 0x81, ... without a gap
  void CloseAll();

 private:
  std::map<uint16_t, std::unique_ptr<Device>> devices_;
};

// FileDevices for every drive of the config, each behind a GuardedDevice that
// applies its mapfile and keeps its undo journal, with their geometries set. A mapfile that can no longer
// be read leaves every sector of its drive failing. The devices are opened
// once to learn their size and geometry and left closed.
DeviceMap BuildDeviceMap(const DriveMapConfig& config);

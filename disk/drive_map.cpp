#include "disk/drive_map.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <span>
#include <sstream>
#include <cstring>

#include "disk/boot_sector.h"
#include "disk/drive_packet.h"
#include "disk/guarded_device.h"
#include "disk/le.h"
#include "disk/rescue_map.h"
#include "disk/undo_journal.h"

namespace fs = std::filesystem;

std::string DriveMapConfig::Serialize() const {
  std::ostringstream out;
  if (readOnly) out << "readonly\n";
  char num[24];
  for (size_t i = 0; i < floppies.size(); ++i) {
    std::snprintf(num, sizeof num, "%02zx", i);
    out << num << ' ' << floppies[i] << '\n';
  }
  for (size_t i = 0; i < disks.size(); ++i) {
    std::snprintf(num, sizeof num, "%02zx", 0x80 + i);
    out << num << ' ' << disks[i] << '\n';
  }
  for (const auto& [drive, path] : mapfiles) {
    std::snprintf(num, sizeof num, "%02x", drive);
    out << "map " << num << ' ' << path << '\n';
  }
  if (undo) out << "undo " << (undoDir.empty() ? DefaultUndoDir() : undoDir) << '\n';
  return out.str();
}

bool DriveMapConfig::Deserialize(const std::string& text, DriveMapConfig& out) {
  out = DriveMapConfig{};
  std::istringstream in(text);
  std::string line;
  std::map<unsigned long, std::string> drives;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line == "readonly") {
      out.readOnly = true;
      continue;
    }
    if (line.rfind("undo ", 0) == 0) {
      out.undo = true;
      out.undoDir = line.substr(5);
      continue;
    }
    if (line.rfind("map ", 0) == 0) {
      const std::string rest = line.substr(4);
      const auto sp = rest.find(' ');
      if (sp == std::string::npos || sp == 0) return false;
      char* end = nullptr;
      const std::string num = rest.substr(0, sp);
      const unsigned long d = std::strtoul(num.c_str(), &end, 16);
      if (*end != '\0' || d > 0xFF) return false;
      out.mapfiles[static_cast<uint16_t>(d)] = rest.substr(sp + 1);
      continue;
    }
    const auto space = line.find(' ');
    if (space == std::string::npos || space == 0) return false;
    char* end = nullptr;
    const std::string num = line.substr(0, space);
    unsigned long d = std::strtoul(num.c_str(), &end, 16);
    if (*end != '\0' || d > 0xFF) return false;
    drives[d] = line.substr(space + 1);
  }
  for (const auto& [d, path] : drives) {
    if (d < 0x80) {
      if (d != out.floppies.size()) return false;
      out.floppies.push_back(path);
    } else {
      if (d - 0x80 != out.disks.size()) return false;
      out.disks.push_back(path);
    }
  }
  return true;
}

std::string DriveOpenProblem(const std::string& path) {
  auto problem = [&](const char* reason) { return "Cannot open " + path + ": " + reason; };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return problem(std::strerror(errno));
  // A folder opens for reading on Linux, but holds no sectors.
  if (S_ISDIR(st.st_mode)) return problem(std::strerror(EISDIR));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return problem(std::strerror(errno));
  ::close(fd);
  if (S_ISREG(st.st_mode) && st.st_size < 512) return problem("it holds no whole sector");
  return {};
}

std::vector<std::string> DropUnopenableDrives(DriveMapConfig& config) {
  std::vector<std::string> problems;
  std::map<uint16_t, std::string> mapfiles;
  // The drives after a dropped one take the BIOS numbers up; a drive's
  // mapfile goes with its drive, never to the one that takes its number.
  auto keep = [&](std::vector<std::string>& paths, uint16_t base) {
    std::vector<std::string> kept;
    for (size_t i = 0; i < paths.size(); ++i) {
      std::string problem = DriveOpenProblem(paths[i]);
      if (!problem.empty()) {
        problems.push_back(std::move(problem));
        continue;
      }
      const auto map = config.mapfiles.find(static_cast<uint16_t>(base + i));
      if (map != config.mapfiles.end())
        mapfiles[static_cast<uint16_t>(base + kept.size())] = map->second;
      kept.push_back(paths[i]);
    }
    paths = std::move(kept);
  };
  keep(config.floppies, 0);
  keep(config.disks, kFirstHardDisk);
  config.mapfiles = std::move(mapfiles);
  return problems;
}

namespace {

bool StandardFloppySize(uint64_t bytes) {
  static constexpr std::array<uint64_t, 8> kKiB = {160, 180, 320, 360, 720, 1200, 1440, 2880};
  return std::any_of(kKiB.begin(), kKiB.end(), [&](uint64_t k) { return bytes == k * 1024; });
}

}  // namespace

bool LooksLikeFloppy(const std::string& path) {
  if (path.rfind("/dev/fd", 0) == 0) return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return StandardFloppySize(static_cast<uint64_t>(st.st_size));
}

DriveArgsResult ParseDriveArgs(const std::vector<std::string>& args,
                               const std::function<bool(const std::string&)>& isCommand) {
  DriveArgsResult r;
  r.config.undo = true;
  // The drive named last, which a --mapfile belongs to.
  std::optional<uint16_t> lastDrive;
  auto addDrive = [&](bool floppy, const std::string& path) {
    auto& list = floppy ? r.config.floppies : r.config.disks;
    lastDrive = static_cast<uint16_t>((floppy ? 0 : 0x80) + list.size());
    list.push_back(path);
    r.namedDrives = true;
  };
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--floppy" || a == "--disk") {
      if (i + 1 >= args.size()) {
        r.error = a + " needs a file";
        return r;
      }
      addDrive(a == "--floppy", args[++i]);
    } else if (a == "--mapfile") {
      if (i + 1 >= args.size()) {
        r.error = "--mapfile needs a file";
        return r;
      }
      const std::string& file = args[++i];
      if (!lastDrive) {
        r.error = "--mapfile " + file + " must follow the drive it belongs to";
        return r;
      }
      if (r.config.mapfiles.count(*lastDrive)) {
        r.error = "--mapfile " + file + ": the drive before it has a mapfile already";
        return r;
      }
      RescueMapLoad load = LoadRescueMap(file);
      if (!load.map) {
        r.error = load.error;
        return r;
      }
      r.config.mapfiles[*lastDrive] = file;
    } else if (a == "--read-only") {
      r.config.readOnly = true;
    } else if (a == "--no-undo") {
      r.config.undo = false;
    } else if (a == "--undo-dir") {
      if (i + 1 >= args.size()) {
        r.error = "--undo-dir needs a folder";
        return r;
      }
      r.config.undoDir = args[++i];
    } else if (a == "--direct") {
      r.config.direct = true;
    } else if (isCommand && isCommand(a)) {
      break;
    } else if (std::error_code ec; !a.empty() && a[0] != '-' && fs::exists(a, ec)) {
      // The overload without an error code throws on a name the system
      // refuses (too long, say): that is simply not a drive.
      addDrive(LooksLikeFloppy(a), a);
    } else {
      break;
    }
  }
  r.rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (r.config.undoDir.empty()) r.config.undoDir = DefaultUndoDir();
  std::error_code ec;
  const fs::path abs = fs::absolute(r.config.undoDir, ec);
  if (!ec) r.config.undoDir = abs.lexically_normal().string();
  return r;
}

namespace {

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  return s;
}

// Whole disks only: partitions (sda1, nvme0n1p1, mmcblk0p1) and the eMMC's
// boot and rpmb areas are not drives of their own.
bool IsDiskName(const std::string& n) {
  static const std::regex kDisk("(sd|vd|hd|xvd)[a-z]+|nvme[0-9]+n[0-9]+|mmcblk[0-9]+");
  return std::regex_match(n, kDisk);
}

bool CanOpen(const std::string& dev) {
  FileDevice d(dev, true);
  return d.Open();
}

// sdb before sdaa, nvme2n1 before nvme10n1.
void SortNatural(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
}

}  // namespace

DriveMapConfig ScanSystemDrives(const std::string& sysBlock, const std::string& devDir) {
  std::vector<std::string> floppies, disks, loops;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(sysBlock, ec)) {
    const std::string n = e.path().filename().string();
    if (fs::exists(e.path() / "partition", ec)) continue;
    static const std::regex kFloppy("fd[0-9]+"), kLoop("loop[0-9]+");
    if (std::regex_match(n, kFloppy)) {
      floppies.push_back(n);
    } else if (std::regex_match(n, kLoop)) {
      if (!ReadLine(e.path() / "loop" / "backing_file").empty()) loops.push_back(n);
    } else if (IsDiskName(n)) {
      disks.push_back(n);
    }
  }
  SortNatural(floppies);
  SortNatural(disks);
  SortNatural(loops);
  // Real disks take the first BIOS numbers; loop devices (often many, made by
  // package managers) come after them.
  disks.insert(disks.end(), loops.begin(), loops.end());
  DriveMapConfig c;
  for (const auto& n : floppies)
    if (CanOpen(devDir + "/" + n)) c.floppies.push_back(devDir + "/" + n);
  for (const auto& n : disks)
    if (CanOpen(devDir + "/" + n)) c.disks.push_back(devDir + "/" + n);
  return c;
}

Geometry FloppyGeometryForSize(uint64_t bytes) {
  struct Std {
    uint64_t kib;
    Geometry g;
  };
  static constexpr Std kStd[] = {
      {160, {40, 1, 8}},   {180, {40, 1, 9}},   {320, {40, 2, 8}},    {360, {40, 2, 9}},
      {720, {80, 2, 9}},   {1200, {80, 2, 15}}, {1440, {80, 2, 18}}, {2880, {80, 2, 36}},
  };
  for (const auto& s : kStd)
    if (bytes == s.kib * 1024) return s.g;
  // Not a standard size: a 1.44 MB layout of as many cylinders as fit.
  Geometry g{0, 2, 18};
  g.cylinders = static_cast<uint32_t>(bytes / 512 / (2 * 18));
  return g;
}

namespace {

// One CHS address of a partition entry with the LBA it stands for.
struct ChsPoint {
  uint32_t lba, cylinder, head, sector;
};

// Whether heads x spt turns every point's CHS into its LBA. Returns the heads
// the points force (0 when none has a cylinder above 0) through `heads`.
bool FitsSectorsPerTrack(const std::vector<ChsPoint>& points, uint32_t spt, uint32_t& heads) {
  heads = 0;
  uint32_t minHeads = 1;
  for (const auto& p : points) {
    if (p.sector > spt || p.lba < p.sector - 1) return false;
    const uint32_t track = p.lba - (p.sector - 1);
    if (track % spt != 0) return false;
    const uint32_t t = track / spt;  // cylinder * heads + head
    if (t < p.head) return false;
    minHeads = std::max(minHeads, p.head + 1);
    if (p.cylinder == 0) {
      if (t != p.head) return false;
      continue;
    }
    if ((t - p.head) % p.cylinder != 0) return false;
    const uint32_t h = (t - p.head) / p.cylinder;
    if (heads != 0 && h != heads) return false;
    heads = h;
  }
  if (heads == 0) heads = 255;
  return heads >= minHeads && heads <= 255;
}

}  // namespace

Geometry FloppyGeometry(const uint8_t* bootSector, uint64_t bytes) {
  if (bootSector != nullptr) {
    std::span<const uint8_t> s(bootSector, 512);
    const uint16_t spt = le16(s, kBootSectorsPerTrack);
    const uint16_t heads = le16(s, kBootHeads);
    if (le16(s, kBootBytesPerSector) == 512 && spt >= 1 && spt <= 63 && heads >= 1 &&
        heads <= 2) {
      // A standard size keeps its own geometry unless the record fills it in
      // whole cylinders. Any other size has no geometry but its record's
      // (mkfs.fat leaves a part cylinder at the end unused), within the
      // cylinders a floppy drive has.
      const uint64_t cylinderBytes = uint64_t{spt} * heads * 512;
      const uint64_t cylinders = (bytes + cylinderBytes - 1) / cylinderBytes;
      if (bytes != 0 && cylinders <= 84 &&
          (!StandardFloppySize(bytes) || bytes % cylinderBytes == 0))
        return Geometry{static_cast<uint32_t>(cylinders), heads, spt};
    }
  }
  return FloppyGeometryForSize(bytes);
}

Geometry GeometryFromMbr(const uint8_t* sector, uint64_t diskBytes) {
  Geometry g{0, 255, 63};
  if (sector != nullptr) {
    std::span<const uint8_t> s(sector, 512);
    if (le16(s, 0x1FE) == 0xAA55) {
      // Partitions are aligned as their tool chose (often to 1 MiB, not to a
      // cylinder), so the geometry is the one under which every CHS address
      // of the table names the same sector as its LBA. Addresses at the CHS
      // limit say nothing and are left out.
      std::vector<ChsPoint> points;
      for (int i = 0; i < 4; ++i) {
        const size_t e = 0x1BE + 16 * i;
        const uint32_t start = le32(s, e + 8), size = le32(s, e + 12);
        if (le8(s, e + 4) == 0 || size == 0) continue;
        auto add = [&](size_t chs, uint32_t lba) {
          const uint32_t head = le8(s, chs), sec = le8(s, chs + 1) & 0x3Fu;
          const uint32_t cyl = le8(s, chs + 2) | ((le8(s, chs + 1) & 0xC0u) << 2);
          if (sec == 0 || cyl >= 1023) return;
          points.push_back({lba, cyl, head, sec});
        };
        add(e + 1, start);
        add(e + 5, start + size - 1);
      }
      if (!points.empty()) {
        for (uint32_t spt = 63; spt >= 1; --spt) {
          uint32_t heads = 0;
          if (FitsSectorsPerTrack(points, spt, heads)) {
            g.heads = static_cast<uint16_t>(heads);
            g.sectorsPerTrack = static_cast<uint16_t>(spt);
            break;
          }
        }
      }
    }
  }
  g.cylinders = static_cast<uint32_t>(diskBytes / 512 / (uint64_t{g.heads} * g.sectorsPerTrack));
  return g;
}

void DeviceMap::Add(uint16_t drive, std::unique_ptr<Device> device) {
  devices_[drive] = std::move(device);
}

Device* DeviceMap::Find(uint16_t drive) const {
  auto it = devices_.find(drive);
  return it == devices_.end() ? nullptr : it->second.get();
}

void DeviceMap::StartUndoFile(uint16_t drive) const {
  auto* guarded = dynamic_cast<GuardedDevice*>(Find(drive));
  if (guarded != nullptr && guarded->Journal() != nullptr) guarded->Journal()->StartNewFile();
}

uint32_t DeviceMap::FloppyCount() const {
  uint32_t n = 0;
  while (n < 0x80 && devices_.count(static_cast<uint16_t>(n))) ++n;
  return n;
}

uint32_t DeviceMap::HardDiskCount() const {
  uint32_t n = 0;
  while (n < 0x80 && devices_.count(static_cast<uint16_t>(0x80 + n))) ++n;
  return n;
}

void DeviceMap::CloseAll() {
  for (auto& [d, dev] : devices_) dev->Close();
}

DeviceMap BuildDeviceMap(const DriveMapConfig& config) {
  DeviceMap map;
  auto add = [&](uint16_t drive, const std::string& path, bool floppy) {
    std::shared_ptr<const RescueMap> rescue;
    if (auto it = config.mapfiles.find(drive); it != config.mapfiles.end()) {
      RescueMapLoad load = LoadRescueMap(it->second);
      // Checked when the arguments were taken; a mapfile gone bad since then
      // cannot say which sectors are sound, so none is.
      rescue = load.map ? std::make_shared<const RescueMap>(std::move(*load.map))
                        : std::make_shared<const RescueMap>();
    }
    auto file = std::make_unique<FileDevice>(path, config.readOnly);
    FileDevice& fileRef = *file;
    std::unique_ptr<UndoJournal> journal;
    if (config.undo && !config.readOnly)
      journal = std::make_unique<UndoJournal>(config.undoDir.empty() ? DefaultUndoDir() : config.undoDir, path);
    auto dev = std::make_unique<GuardedDevice>(std::move(file), std::move(rescue), std::move(journal));
    if (dev->Open()) {
      Geometry g;
      if (floppy) {
        uint8_t boot[512] = {};
        const bool haveBoot = dev->ReadAt(0, boot, sizeof boot) == 512;
        g = FloppyGeometry(haveBoot ? boot : nullptr, dev->Size());
      } else if (!fileRef.QueryBlockGeometry(g)) {
        uint8_t mbr[512] = {};
        const bool haveMbr = dev->ReadAt(0, mbr, sizeof mbr) == 512;
        g = GeometryFromMbr(haveMbr ? mbr : nullptr, dev->Size());
      }
      dev->geometry = g;
      dev->Close();
    } else if (floppy) {
      dev->geometry = FloppyGeometryForSize(1440 * 1024);
    } else {
      dev->geometry = GeometryFromMbr(nullptr, 0);
    }
    map.Add(drive, std::move(dev));
  };
  for (size_t i = 0; i < config.floppies.size() && i < 0x80; ++i)
    add(static_cast<uint16_t>(i), config.floppies[i], true);
  for (size_t i = 0; i < config.disks.size() && i < 0x80; ++i)
    add(static_cast<uint16_t>(0x80 + i), config.disks[i], false);
  return map;
}

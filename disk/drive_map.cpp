#include "disk/drive_map.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>

#include "disk/le.h"

namespace fs = std::filesystem;

std::string DriveMapConfig::Serialize() const {
  std::ostringstream out;
  if (readOnly) out << "readonly\n";
  char num[16];
  for (size_t i = 0; i < floppies.size(); ++i) {
    std::snprintf(num, sizeof num, "%02zx", i);
    out << num << ' ' << floppies[i] << '\n';
  }
  for (size_t i = 0; i < disks.size(); ++i) {
    std::snprintf(num, sizeof num, "%02zx", 0x80 + i);
    out << num << ' ' << disks[i] << '\n';
  }
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

bool LooksLikeFloppy(const std::string& path) {
  if (path.rfind("/dev/fd", 0) == 0) return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  static constexpr std::array<uint64_t, 8> kKiB = {160, 180, 320, 360, 720, 1200, 1440, 2880};
  const auto size = static_cast<uint64_t>(st.st_size);
  return std::any_of(kKiB.begin(), kKiB.end(), [&](uint64_t k) { return size == k * 1024; });
}

DriveArgsResult ParseDriveArgs(const std::vector<std::string>& args) {
  DriveArgsResult r;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--floppy" || a == "--disk") {
      if (i + 1 >= args.size()) {
        r.error = a + " needs a file";
        return r;
      }
      (a == "--floppy" ? r.config.floppies : r.config.disks).push_back(args[++i]);
      r.namedDrives = true;
    } else if (a == "--read-only") {
      r.config.readOnly = true;
    } else if (a == "--direct") {
      r.config.direct = true;
    } else if (!a.empty() && a[0] != '-' && fs::exists(a)) {
      (LooksLikeFloppy(a) ? r.config.floppies : r.config.disks).push_back(a);
      r.namedDrives = true;
    } else {
      break;
    }
  }
  r.rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  return r;
}

namespace {

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  return s;
}

bool IsDiskName(const std::string& n) {
  auto starts = [&](const char* p) { return n.rfind(p, 0) == 0; };
  if (starts("sd") || starts("vd") || starts("mmcblk") || starts("hd") || starts("xvd"))
    return true;
  if (starts("nvme")) return n.find('n', 4) != std::string::npos;
  return false;
}

bool CanOpen(const std::string& dev) {
  FileDevice d(dev, true);
  return d.Open();
}

}  // namespace

DriveMapConfig ScanSystemDrives(const std::string& sysBlock, const std::string& devDir) {
  DriveMapConfig c;
  std::vector<std::string> floppies, disks;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(sysBlock, ec)) {
    const std::string n = e.path().filename().string();
    const std::string dev = devDir + "/" + n;
    if (n.rfind("fd", 0) == 0) {
      if (CanOpen(dev)) floppies.push_back(dev);
    } else if (n.rfind("loop", 0) == 0) {
      if (!ReadLine(e.path() / "loop" / "backing_file").empty() && CanOpen(dev))
        disks.push_back(dev);
    } else if (IsDiskName(n)) {
      if (CanOpen(dev)) disks.push_back(dev);
    }
  }
  std::sort(floppies.begin(), floppies.end());
  std::sort(disks.begin(), disks.end());
  c.floppies = floppies;
  c.disks = disks;
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

Geometry GeometryFromMbr(const uint8_t* sector, uint64_t diskBytes) {
  Geometry g{0, 255, 63};
  if (sector != nullptr) {
    std::span<const uint8_t> s(sector, 512);
    if (le16(s, 0x1FE) == 0xAA55) {
      uint16_t heads = 0, spt = 0;
      for (int i = 0; i < 4; ++i) {
        const size_t e = 0x1BE + 16 * i;
        if (le8(s, e + 4) == 0) continue;
        // The end address of a partition that ends on a cylinder boundary
        // names the last head and the last sector of a track.
        heads = std::max<uint16_t>(heads, static_cast<uint16_t>(le8(s, e + 5) + 1));
        spt = std::max<uint16_t>(spt, static_cast<uint16_t>(le8(s, e + 6) & 0x3F));
      }
      if (heads > 0 && spt > 0) {
        g.heads = heads;
        g.sectorsPerTrack = spt;
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
    auto dev = std::make_unique<FileDevice>(path, config.readOnly);
    if (dev->Open()) {
      Geometry g;
      if (floppy) {
        g = FloppyGeometryForSize(dev->Size());
      } else if (!dev->QueryBlockGeometry(g)) {
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

// The texts a person or a script hands the program: a ddrescue mapfile, the
// drive map the sector library is given, and drive arguments. Parsing must
// never crash, and a parsed map must answer within what it was asked.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>
#include <string>
#include <string_view>
#include <vector>

#include "disk/drive_map.h"
#include "disk/rescue_map.h"

namespace {

// A private folder the drive arguments are taken relative to, holding a
// floppy image, a disk image and a mapfile: the parser then meets real files
// and never the build folder's images (large) or anything else of the host.
std::string WorkFolder() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("gleaner-fuzz-args-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir.string();
}

// Made on first use and removed at exit (kept on the heap so that it is
// still there when the exit handler runs).
const std::string& Folder() {
  static const std::string* const folder = [] {
    namespace fs = std::filesystem;
    auto* dir = new std::string(WorkFolder());
    std::ofstream(*dir + "/floppy.img").close();
    fs::resize_file(*dir + "/floppy.img", 1474560);
    std::ofstream(*dir + "/disk.img").close();
    fs::resize_file(*dir + "/disk.img", 4 << 20);
    std::ofstream(*dir + "/floppy.map") << "0x0 +\n0x0 0x100000 +\n0x100000 0x200 -\n";
    return dir;
  }();
  static const bool removeAtExit = std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(*folder, ec);
  }) == 0;
  (void)removeAtExit;
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const RescueMapLoad load = ParseRescueMap(text, "fuzz.map");
  if (load.map.has_value() == !load.error.empty()) std::abort();
  if (load.map) {
    uint64_t previousEnd = 0;
    for (const auto& block : load.map->blocks) {
      if (block.pos < previousEnd) std::abort();  // ascending, not overlapping
      previousEnd = block.pos + block.size;
    }
    for (size_t i = 0; i + 8 <= size && i < 64; i += 8) {
      uint64_t offset = 0;
      for (int b = 0; b < 8; ++b) offset |= uint64_t{data[i + b]} << (8 * b);
      const uint64_t len = offset % (1u << 20);
      if (load.map->FinishedRun(offset, len) > len) std::abort();
    }
  }

  DriveMapConfig config;
  (void)DriveMapConfig::Deserialize(std::string(text), config);

  // Drive arguments, one a line. Paths that could reach outside the work
  // folder (absolute, or climbing) are left out: the parser opens files.
  std::vector<std::string> args;
  size_t start = 0;
  while (start <= text.size() && args.size() < 32) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string arg(text.substr(start, end - start));
    if (!arg.empty() && arg[0] == '/') arg = "drive.img";
    if (arg.find("..") != std::string::npos) arg = "drive.img";
    if (!arg.empty() && arg[0] != '-') arg = Folder() + "/" + arg;
    args.push_back(arg);
    start = end + 1;
  }
  (void)ParseDriveArgs(args);
  return 0;
}

// libsect32.so's entry points while the drives are opened again from another
// thread: a transfer that is running keeps the drives it started on, so it
// finishes with their bytes and never touches a freed engine or device.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "disk/drive_map.h"
#include "disk/sector_library.h"
#include "fixtures/image_builder.h"

namespace {

// A 1.44 MB floppy image whose every byte is `fill`.
std::string FilledFloppy(const TempDir& dir, const char* name, uint8_t fill) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(WriteFileBytes(path, std::vector<uint8_t>(1474560, fill)));
  return path;
}

std::string MapOf(const std::string& floppy) {
  DriveMapConfig config;
  config.floppies = {floppy};
  config.readOnly = true;
  return config.Serialize();
}

TEST(Sect32Exports, ReadsOnAWorkerThreadOutliveReopeningTheDrives) {
  TempDir dir;
  const std::string a = MapOf(FilledFloppy(dir, "a.img", 0xAA));
  const std::string b = MapOf(FilledFloppy(dir, "b.img", 0xBB));
  void* lib = ::dlopen(GLEANER_BIN_DIR "/libsect32.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  auto open = reinterpret_cast<Sect32OpenDrivesFn>(::dlsym(lib, "Sect32OpenDrives"));
  auto read = reinterpret_cast<ReadSect32Fn>(::dlsym(lib, "ReadSect32"));
  ASSERT_NE(open, nullptr);
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(open(a.c_str()), 1u);

  // Whole-disk reads (2880 sectors by LBA) while the drives are swapped
  // between the two images for as long as the reads go on: each read gives
  // one image's bytes whole.
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, torn{0};
  std::thread worker([&] {
    std::vector<uint8_t> track(2880 * 512);
    while (!done) {
      if (read(0, 0, 0, 1, 2880, track.data(), 0, 1) == 0) continue;
      const uint8_t first = track[0];
      for (uint8_t byte : track)
        if (byte != first || (first != 0xAA && first != 0xBB)) {
          ++torn;
          break;
        }
      ++reads;
    }
  });
  for (int i = 0; reads < 100; ++i) EXPECT_EQ(open((i % 2 != 0 ? a : b).c_str()), 1u);
  done = true;
  worker.join();
  EXPECT_EQ(torn, 0);
  ::dlclose(lib);
}

}  // namespace

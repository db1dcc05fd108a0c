// An image file's reads: a stream (a megabyte or more, suitably aligned) not
// held by the page cache is read past it, and every read gives the file's
// bytes, whichever way it went: cached, cold, with a write still pending in
// the cache, and running past the image's end.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "disk/device.h"
#include "fixtures/fault_device.h"
#include "fixtures/image_builder.h"

namespace {

constexpr size_t kMiB = size_t{1} << 20;
// Three megabytes and three sectors: a stream at its end comes back short.
constexpr uint64_t kImageBytes = 3 * kMiB + 3 * 512;

enum class Road { PastCache, ThroughCache, Either };

struct StreamCase {
  const char* name;
  uint64_t offset;
  size_t length;
  size_t memoryShift;   // bytes past a page boundary the caller's memory starts
  bool cachedBefore;    // the range was read through the cache first
  int64_t writtenSector = -1;  // written through the device first (pending in the cache)
  Road road = Road::Either;    // where the read's pages are left
};

// Pages of [offset, offset + length) the page cache holds.
size_t ResidentPages(int fd, uint64_t offset, size_t length) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t span = static_cast<size_t>(offset % page) + length;
  void* map = ::mmap(nullptr, span, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset / page * page));
  std::vector<unsigned char> in((span + page - 1) / page);
  const bool known = map != MAP_FAILED && ::mincore(map, span, in.data()) == 0;
  if (map != MAP_FAILED) ::munmap(map, span);
  return known ? static_cast<size_t>(std::count_if(in.begin(), in.end(), [](unsigned char c) { return c & 1; }))
               : SIZE_MAX;
}

class FileDeviceStream : public testing::TestWithParam<StreamCase> {};

TEST_P(FileDeviceStream, GivesTheFileBytesWhicheverWayItReads) {
  const StreamCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("disk.img");
  std::vector<uint8_t> want = PatternDisk(static_cast<uint32_t>(kImageBytes / 512));
  ASSERT_TRUE(WriteFileBytes(path, want));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  // Cold: the file's pages written out and dropped from the cache.
  ASSERT_EQ(::fdatasync(fd), 0);
  ASSERT_EQ(::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
  FileDevice dev(path, false);
  ASSERT_TRUE(dev.Open());
  if (ResidentPages(fd, 0, kImageBytes) != 0 || !dev.StreamsPastCache()) {
    ::close(fd);
    GTEST_SKIP() << "the file system keeps its files in memory or reads only through the cache";
  }
  if (c.cachedBefore) {
    std::vector<uint8_t> warm(c.length);
    ASSERT_GT(::pread(fd, warm.data(), warm.size(), static_cast<off_t>(c.offset)), 0);
  }
  if (c.writtenSector >= 0) {
    const std::vector<uint8_t> sector(512, 0x5A);
    ASSERT_EQ(dev.WriteAt(uint64_t(c.writtenSector) * 512, sector.data(), 512), 512);
    std::fill_n(want.begin() + c.writtenSector * 512, 512, uint8_t{0x5A});
  }

  auto memory = std::unique_ptr<uint8_t, decltype(&std::free)>(
      static_cast<uint8_t*>(std::aligned_alloc(kMiB, 4 * kMiB)), &std::free);
  ASSERT_NE(memory, nullptr);
  uint8_t* buffer = memory.get() + c.memoryShift;
  const int64_t moved = dev.ReadAt(c.offset, buffer, c.length);
  const size_t expect = static_cast<size_t>(std::min<uint64_t>(c.length, kImageBytes - c.offset));
  ASSERT_EQ(moved, static_cast<int64_t>(expect));
  for (size_t i = 0; i < expect; i += 512)
    ASSERT_TRUE(std::equal(buffer + i, buffer + i + 512, want.begin() + static_cast<ptrdiff_t>(c.offset + i)))
        << "sector " << (c.offset + i) / 512;

  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t resident = ResidentPages(fd, c.offset, c.length);
  if (c.road == Road::PastCache) EXPECT_LE(resident, c.writtenSector >= 0 ? 1u : 0u);
  if (c.road == Road::ThroughCache) EXPECT_EQ(resident, (c.offset % page + c.length + page - 1) / page);
  ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileDeviceStream,
    testing::Values(
        StreamCase{"ColdRunPastCache", kMiB, kMiB, 0, false, -1, Road::PastCache},
        StreamCase{"CachedRun", kMiB, kMiB, 0, true, -1, Road::ThroughCache},
        // The written sector is written out before the read past the cache.
        StreamCase{"PendingWriteSeen", 0, 2 * kMiB, 0, false, 700, Road::PastCache},
        StreamCase{"RunPastTheEnd", 2 * kMiB, 2 * kMiB, 0, false, -1, Road::Either},
        StreamCase{"UnalignedMemory", kMiB, kMiB, 1, false, -1, Road::ThroughCache},
        StreamCase{"UnalignedOffset", kMiB + 100, kMiB, 0, false, -1, Road::ThroughCache},
        StreamCase{"SmallRead", kMiB, 64 * 1024, 0, false, -1, Road::ThroughCache}),
    [](const testing::TestParamInfo<StreamCase>& i) { return std::string(i.param.name); });

}  // namespace

#include "disk/device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// cachestat(2), Linux 6.5 onwards: how much of a range the page cache
// holds, asked without starting any read. The number is the same on every
// architecture.
constexpr long kCachestat = 451;
struct CacheRange {
  uint64_t offset;
  uint64_t length;
};
struct CacheCount {
  uint64_t cached;
  uint64_t dirty;
  uint64_t writeback;
  uint64_t evicted;
  uint64_t recentlyEvicted;
};

// Whether the cache holds every page of [offset, offset + len). False when
// the kernel cannot say.
bool WhollyCached(int fd, uint64_t offset, size_t len) {
  const long page = ::sysconf(_SC_PAGESIZE);
  const uint64_t p = page > 0 ? static_cast<uint64_t>(page) : 4096;
  const uint64_t from = offset / p * p;
  const uint64_t pages = (offset + len + p - 1) / p - from / p;
  CacheRange range{offset, len};
  CacheCount count{};
  if (::syscall(kCachestat, fd, &range, &count, 0) == 0) return count.cached >= pages;
  // Before cachestat: the pages of a mapping of the range (mapping them
  // reads nothing; mincore only looks).
  const size_t span = static_cast<size_t>(pages * p);
  void* map = ::mmap(nullptr, span, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(from));
  if (map == MAP_FAILED) return false;
  std::vector<unsigned char> resident(static_cast<size_t>(pages));
  bool whole = ::mincore(map, span, resident.data()) == 0;
  for (size_t i = 0; whole && i < resident.size(); ++i) whole = (resident[i] & 1) != 0;
  ::munmap(map, span);
  return whole;
}

}  // namespace

bool FileDevice::Open() {
  Close();
  writable_ = false;
  if (!readOnly_) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ >= 0) writable_ = true;
  }
  if (fd_ < 0) fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st {};
  size_ = 0;
  bool block = false;
  if (::fstat(fd_, &st) == 0) {
    block = S_ISBLK(st.st_mode);
    if (block) {
      uint64_t bytes = 0;
      if (::ioctl(fd_, BLKGETSIZE64, &bytes) == 0) size_ = bytes;
    } else {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  OpenDirect(block);
  return true;
}

void FileDevice::OpenDirect(bool block) {
  directAlign_ = 0;
  memoryAlign_ = 0;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return;  // the file system reads only through the cache
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN) != 0) {
    // The file system says; 0 is its "no direct reads".
    directAlign_ = sx.stx_dio_offset_align;
    memoryAlign_ = sx.stx_dio_mem_align;
  } else {
    // An older kernel: a block device's logical sectors, else a page, are
    // what direct reads have always been able to rely on.
    int logical = 0;
    directAlign_ = block && ::ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0
                       ? static_cast<uint32_t>(logical)
                       : 4096;
    memoryAlign_ = 4096;
  }
  if (directAlign_ == 0 || memoryAlign_ == 0) {
    ::close(fd);
    directAlign_ = memoryAlign_ = 0;
    return;
  }
  directFd_ = fd;
}

void FileDevice::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (directFd_ >= 0) ::close(directFd_);
  directFd_ = -1;
}

bool FileDevice::SuitsDirect(uint64_t offset, const uint8_t* buffer, size_t len) const {
  return directFd_ >= 0 && len >= kStreamBytes && offset % directAlign_ == 0 &&
         len % directAlign_ == 0 && reinterpret_cast<uintptr_t>(buffer) % memoryAlign_ == 0;
}

size_t FileDevice::ReadStream(uint64_t offset, uint8_t* buffer, size_t len) {
  // What the cache holds whole is read from it (a search run again over the
  // same volume), by the caller.
  if (WhollyCached(fd_, offset, len)) return 0;
  size_t done = 0;
  while (done < len) {
    const ssize_t n = ::pread(directFd_, buffer + done, len - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the end of the image, or a read the caller tries again
    done += static_cast<size_t>(n);
    // A short read stops at the end of the image or at a bad block: what
    // follows is read through the cache, by the caller.
    if (done % directAlign_ != 0) break;
  }
  return done;
}

int64_t FileDevice::ReadAt(uint64_t offset, uint8_t* buffer, size_t len) {
  if (fd_ < 0) return -1;
  size_t done = 0;
  if (SuitsDirect(offset, buffer, len)) done = ReadStream(offset, buffer, len);
  while (done < len) {
    ssize_t n = ::pread(fd_, buffer + done, len - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of the image or an error: report what moved
    done += static_cast<size_t>(n);
  }
  if (done == 0 && len != 0) return -1;
  return static_cast<int64_t>(done);
}

int64_t FileDevice::WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) {
  if (fd_ < 0 || !writable_) return -1;
  // A write never grows an image: past its end the disk has no sectors.
  if (offset >= size_) return -1;
  if (len > size_ - offset) len = static_cast<size_t>(size_ - offset);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd_, buffer + done, len - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done == 0 && len != 0) return -1;
  return static_cast<int64_t>(done);
}

bool FileDevice::QueryBlockGeometry(Geometry& out) const {
  if (fd_ < 0) return false;
  struct hd_geometry g {};
  if (::ioctl(fd_, HDIO_GETGEO, &g) != 0 || g.heads == 0 || g.sectors == 0) return false;
  out.heads = g.heads;
  out.sectorsPerTrack = g.sectors;
  out.cylinders = static_cast<uint32_t>(size_ / 512 / (g.heads * g.sectors));
  return true;
}

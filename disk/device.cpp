#include "disk/device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
  if (::fstat(fd_, &st) == 0) {
    if (S_ISBLK(st.st_mode)) {
      uint64_t bytes = 0;
      if (::ioctl(fd_, BLKGETSIZE64, &bytes) == 0) size_ = bytes;
    } else {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  return true;
}

void FileDevice::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int64_t FileDevice::ReadAt(uint64_t offset, uint8_t* buffer, size_t len) {
  if (fd_ < 0) return -1;
  size_t done = 0;
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

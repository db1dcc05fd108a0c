// One drive's bytes: an image file or a block device, addressed by byte offset.
// This is the Linux device layer under both access paths.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct Geometry {
  uint32_t cylinders = 0;
  uint16_t heads = 0;
  uint16_t sectorsPerTrack = 0;
};

class Device {
 public:
  virtual ~Device() = default;

  // Opens (or reopens) the drive; false when it cannot be opened.
  [[nodiscard]] virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Bytes moved, from 0 to len; -1 when the drive is not open or failed
  // before any byte moved.
  [[nodiscard]] virtual int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) = 0;
  [[nodiscard]] virtual int64_t WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) = 0;
  // Size in bytes as last seen (0 when unknown).
  virtual uint64_t Size() const = 0;
  // The image file or block device behind the drive; empty when none.
  virtual std::string Path() const { return {}; }
  // Whether writes can succeed at all (false when opened read-only).
  virtual bool Writable() const { return true; }
  // Whether reads may be made from several threads at once (a reading road
  // then keeps more than one read in flight). A device that answers false
  // is read by one thread at a time.
  virtual bool ParallelReads() const { return false; }

  Geometry geometry;
};

// An image file or block device through pread/pwrite. Opened read-write
// unless readOnly, or when writing is not permitted: writes then fail like
// those of a failing disk.
//
// A read of kStreamBytes or more whose offset, length and memory suit direct
// I/O is taken for a stream (a raw scan's run): what the page cache holds of
// it comes from there, and the rest is read past the cache, straight into the
// caller's memory. That spares the copy out of the cache, and a scan of a
// whole disk does not push out what the cache held. Either way the bytes are
// the same: a read past the cache first writes back what is pending for
// those bytes. Where the file system refuses direct reads they go through the
// cache as any other.
class FileDevice final : public Device {
 public:
  FileDevice(std::string path, bool readOnly) : path_(std::move(path)), readOnly_(readOnly) {}
  ~FileDevice() override { Close(); }
  FileDevice(const FileDevice&) = delete;
  FileDevice& operator=(const FileDevice&) = delete;

  [[nodiscard]] bool Open() override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  [[nodiscard]] int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) override;
  [[nodiscard]] int64_t WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) override;
  uint64_t Size() const override { return size_; }

  std::string Path() const override { return path_; }
  bool Writable() const override { return writable_; }
  bool ParallelReads() const override { return true; }
  // The block device's own geometry (HDIO_GETGEO), when it reports one.
  [[nodiscard]] bool QueryBlockGeometry(Geometry& out) const;

  static constexpr size_t kStreamBytes = size_t{1} << 20;
  // Whether reads of streams go past the page cache (the file system allows
  // direct reads of this file).
  bool StreamsPastCache() const { return directFd_ >= 0; }

 private:
  // Reads len bytes at offset past the page cache, unless the cache holds
  // them all. The bytes moved (0 when the cache holds them, or the direct
  // read fails): the caller reads the rest through the cache.
  size_t ReadStream(uint64_t offset, uint8_t* buffer, size_t len);
  bool SuitsDirect(uint64_t offset, const uint8_t* buffer, size_t len) const;
  void OpenDirect(bool block);
  std::string path_;
  bool readOnly_;
  bool writable_ = false;
  int fd_ = -1;
  int directFd_ = -1;       // the same file opened for direct reads, or -1
  uint32_t directAlign_ = 0;  // what their offsets and lengths are multiples of
  uint32_t memoryAlign_ = 0;  // what their memory is aligned to
  uint64_t size_ = 0;
};

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

  Geometry geometry;
};

// An image file or block device through pread/pwrite. Opened read-write
// unless readOnly, or when writing is not permitted: writes then fail like
// those of a failing disk.
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
  // The block device's own geometry (HDIO_GETGEO), when it reports one.
  [[nodiscard]] bool QueryBlockGeometry(Geometry& out) const;

 private:
  std::string path_;
  bool readOnly_;
  bool writable_ = false;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// How the exFAT readers get at a volume's bytes: whole 512-byte sectors
// counted from the volume's first sector. The volume's own sector size (512 to
// 4096 bytes) is a multiple of that, so every boot region, FAT sector and
// cluster the readers ask for starts and ends on one of these sectors. The
// program feeds it its own read road; the tests and the fuzz target an image
// held in memory.
#pragma once
#include <cstdint>
#include <span>

inline constexpr uint32_t kExfatUnit = 512;  // bytes of one sector of the reader

class ExfatReader {
 public:
  virtual ~ExfatReader() = default;
  // Fills out (a whole number of 512-byte sectors) from sector first of the
  // volume on. false when any of them could not be read; out's bytes are then
  // not to be decoded.
  [[nodiscard]] virtual bool Read(uint64_t first, std::span<uint8_t> out) = 0;
};

// A volume held in memory (an image file read whole, a test's bytes): the
// sectors past its end cannot be read.
class ExfatSpanReader final : public ExfatReader {
 public:
  explicit ExfatSpanReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  [[nodiscard]] bool Read(uint64_t first, std::span<uint8_t> out) override;

 private:
  std::span<const uint8_t> bytes_;
};

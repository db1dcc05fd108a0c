#include "disk/exfat_reader.h"

#include <cstring>

bool ExfatSpanReader::Read(uint64_t first, std::span<uint8_t> out) {
  if (first > bytes_.size() / kExfatUnit) return false;
  const uint64_t at = first * kExfatUnit;
  if (bytes_.size() - at < out.size()) return false;
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + at, out.size());
  return true;
}

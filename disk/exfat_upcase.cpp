#include "disk/exfat_upcase.h"

#include "disk/le.h"

uint32_t ExfatUpcaseChecksum(std::span<const uint8_t> table) {
  uint32_t sum = 0;
  for (uint8_t b : table) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b;
  return sum;
}

ExfatUpcase::ExfatUpcase() : map_(65536) {
  for (size_t i = 0; i < map_.size(); ++i) map_[i] = static_cast<char16_t>(i);
}

ExfatUpcase ExfatUpcase::FromTable(std::span<const uint8_t> table) {
  ExfatUpcase up;
  const size_t units = table.size() / 2;
  size_t character = 0;
  for (size_t i = 0; i < units && character < up.map_.size(); ++i) {
    const uint16_t value = le16(table, 2 * i);
    // 0xFFFF as the last unit is the mapping of the last character, not a run.
    if (value == 0xFFFF && i + 1 < units) {
      character += le16(table, 2 * (i + 1));
      ++i;
      continue;
    }
    up.map_[character++] = static_cast<char16_t>(value);
  }
  up.mapped_ = character < up.map_.size() ? character : up.map_.size();
  return up;
}

// The exFAT up-case table: how a volume compares names without case, and
// what its name hashes are computed over. Stored either whole (one UTF-16
// unit per character) or compressed, where 0xFFFF followed by a count means
// that many characters map to themselves.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// An up-case table longer than every character mapped once cannot be sound.
inline constexpr uint64_t kExfatUpcaseMaxBytes = 2 * 65536;

// The table's checksum over its bytes (the up-case entry's TableChecksum).
uint32_t ExfatUpcaseChecksum(std::span<const uint8_t> table);

class ExfatUpcase {
 public:
  // Every character to itself (before a table is loaded).
  ExfatUpcase();
  // The table from its stored bytes, compressed or not; an odd last byte is
  // left out. Characters past its end map to themselves.
  static ExfatUpcase FromTable(std::span<const uint8_t> table);

  char16_t Upcase(char16_t unit) const { return map_[unit]; }
  // Characters that the table maps (not the ones past its end).
  size_t Mapped() const { return mapped_; }

 private:
  std::vector<char16_t> map_;  // 65536 units
  size_t mapped_ = 0;
};

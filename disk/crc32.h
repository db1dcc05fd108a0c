// CRC-32 of the IEEE 802.3 polynomial (reflected 0xEDB88320, as zlib and the
// GPT headers use it).
#pragma once
#include <cstdint>
#include <span>

// The CRC of bytes following data whose CRC was `previous` (0 to start):
// Crc32(b, Crc32(a)) is the CRC of a followed by b.
[[nodiscard]] uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t previous = 0);

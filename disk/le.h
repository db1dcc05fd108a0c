// Little-endian field access over byte spans. Every on-disk integer goes through
// these; reading or writing outside the span is refused (reads give 0).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

inline uint8_t le8(std::span<const uint8_t> s, size_t off) {
  return off < s.size() ? s[off] : 0;
}

inline uint16_t le16(std::span<const uint8_t> s, size_t off) {
  if (off > s.size() || s.size() - off < 2) return 0;
  return static_cast<uint16_t>(s[off] | (s[off + 1] << 8));
}

inline uint32_t le32(std::span<const uint8_t> s, size_t off) {
  if (off > s.size() || s.size() - off < 4) return 0;
  return static_cast<uint32_t>(s[off]) | (static_cast<uint32_t>(s[off + 1]) << 8) |
         (static_cast<uint32_t>(s[off + 2]) << 16) | (static_cast<uint32_t>(s[off + 3]) << 24);
}

inline uint64_t le64(std::span<const uint8_t> s, size_t off) {
  if (off > s.size() || s.size() - off < 8) return 0;
  return static_cast<uint64_t>(le32(s, off)) | (static_cast<uint64_t>(le32(s, off + 4)) << 32);
}

inline bool putLe8(std::span<uint8_t> s, size_t off, uint8_t v) {
  if (off >= s.size()) return false;
  s[off] = v;
  return true;
}

inline bool putLe16(std::span<uint8_t> s, size_t off, uint16_t v) {
  if (off > s.size() || s.size() - off < 2) return false;
  s[off] = static_cast<uint8_t>(v);
  s[off + 1] = static_cast<uint8_t>(v >> 8);
  return true;
}

inline bool putLe32(std::span<uint8_t> s, size_t off, uint32_t v) {
  if (off > s.size() || s.size() - off < 4) return false;
  for (int i = 0; i < 4; ++i) s[off + i] = static_cast<uint8_t>(v >> (8 * i));
  return true;
}

inline bool putLe64(std::span<uint8_t> s, size_t off, uint64_t v) {
  if (off > s.size() || s.size() - off < 8) return false;
  for (int i = 0; i < 8; ++i) s[off + i] = static_cast<uint8_t>(v >> (8 * i));
  return true;
}

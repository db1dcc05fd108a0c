// Finding a byte pattern in a block of sectors. The result is the first
// position, from the lowest offset up, where the pattern's first byte stands
// and the following bytes agree with the rest of the pattern; that is what a
// scan for the first byte with a compare at each candidate gives, found here
// with wide compares of the pattern's first and last byte, so that a block
// full of the first byte (a zero-filled disk searched for 00 01) costs no
// more than any other.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr size_t kNoMatch = static_cast<size_t>(-1);

// The first start h < starts at which block[h .. h + pattern.size()) equals
// pattern, or kNoMatch. Starts near the end compare into the bytes after
// `starts`; block must hold them: block.size() >= starts + pattern.size() - 1
// (otherwise only starts whose pattern fits inside block are tried). An empty
// pattern matches nowhere.
size_t FindPattern(std::span<const uint8_t> block, size_t starts, std::span<const uint8_t> pattern);

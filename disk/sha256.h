// SHA-256 of a byte span: the undo journal's fingerprint of what a write put
// on a sector, and its record checksum.
#pragma once
#include <array>
#include <cstdint>
#include <span>

using Sha256Digest = std::array<uint8_t, 32>;

Sha256Digest Sha256(std::span<const uint8_t> data);

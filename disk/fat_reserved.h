// The two reserved entries at the head of a FAT: FAT[0] holds the media byte
// with every other bit set, FAT[1] an end-of-chain mark whose top two bits on
// 16- and 32-bit volumes say the volume was unmounted cleanly and met no
// disk error. GetFatEntry names no cluster below 2; these are read here.
#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "disk/drive_packet.h"

// The entry at index (0 or 1) as stored (32-bit: its low 28 bits); nullopt
// when the table does not hold it.
std::optional<uint32_t> ReservedFatEntry(uint32_t index, FatWidth width, std::span<const uint8_t> table);

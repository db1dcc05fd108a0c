// How a decoder that needs more than one sector reads them: the caller binds
// it to a drive, an image or a test buffer.
#pragma once
#include <cstdint>
#include <functional>
#include <span>

// Fills out (a whole number of sectors) from firstSector on, sectors counted
// from the start of what the decoder reads (the disk, or the volume). False
// when any of them could not be read; out's bytes are then no data.
using SectorReader = std::function<bool(uint64_t firstSector, std::span<uint8_t> out)>;

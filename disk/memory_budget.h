// How much one operation may take for a buffer whose size comes from disk
// data (sectors per FAT, cluster counts, chain lengths). A damaged boot record
// must give the operation's own "not able to allocate" message, never a huge
// allocation. A plain value: a worker thread takes its own copy.
#pragma once
#include <cstdint>
#include <vector>

// A whole FAT copy of the largest 32-bit FAT fits.
inline constexpr uint64_t kDefaultMemoryLimit = uint64_t{1} << 30;

struct MemoryBudget {
  uint64_t limit = kDefaultMemoryLimit;  // bytes one buffer may take (tests lower it)

  bool Allows(uint64_t bytes) const { return bytes <= limit; }
};

// Replaces buffer by `bytes` zero bytes in a fresh block. False (buffer
// emptied) when bytes is over the budget or the allocation fails.
[[nodiscard]] bool TakeBuffer(MemoryBudget budget, std::vector<uint8_t>& buffer, uint64_t bytes);

// Replaces list by count zero entries, for the clusters of a chain walked
// from a loaded copy. False (list empty) when they are over the budget or
// cannot be had: a chain's length comes from the disk too.
[[nodiscard]] bool TakeClusterList(MemoryBudget budget, std::vector<uint32_t>& list,
                                   uint32_t count);

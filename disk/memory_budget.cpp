#include "disk/memory_budget.h"

#include <new>
#include <stdexcept>

bool TakeBuffer(MemoryBudget budget, std::vector<uint8_t>& buffer, uint64_t bytes) {
  buffer.clear();
  if (!budget.Allows(bytes)) {
    buffer.shrink_to_fit();
    return false;
  }
  try {
    // A fresh block: the old one is released rather than kept at its size.
    std::vector<uint8_t>(static_cast<size_t>(bytes), 0).swap(buffer);
  } catch (const std::bad_alloc&) {
    std::vector<uint8_t>().swap(buffer);
    return false;
  } catch (const std::length_error&) {
    std::vector<uint8_t>().swap(buffer);
    return false;
  }
  return true;
}

bool TakeClusterList(MemoryBudget budget, std::vector<uint32_t>& list, uint32_t count) {
  std::vector<uint32_t>().swap(list);
  if (!budget.Allows(uint64_t{count} * sizeof(uint32_t))) return false;
  try {
    list.assign(count, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

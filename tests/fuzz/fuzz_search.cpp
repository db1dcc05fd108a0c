// Raw search: the fast matcher against the plain first-byte scan it stands
// for (they must agree on every block and pattern), then the whole search
// over nodes of a hostile drive with a pattern taken from the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "fixtures/silent_prompt.h"
#include "fuzz_walk.h"
#include "sparse_image.h"
#include "tools/byte_matcher.h"
#include "tools/raw_search.h"

namespace {

// The scan for the pattern's first byte with a compare at each candidate.
size_t PlainScan(std::span<const uint8_t> block, size_t starts, std::span<const uint8_t> pattern) {
  if (pattern.empty()) return kNoMatch;
  for (size_t h = 0; h < starts; ++h) {
    if (h + pattern.size() > block.size()) break;
    if (block[h] == pattern[0] && std::memcmp(&block[h], pattern.data(), pattern.size()) == 0)
      return h;
  }
  return kNoMatch;
}

// The search reads whole extents; a hostile volume may claim terabytes of
// zeros, so each search here covers at most this many sectors.
constexpr uint64_t kSectorsMost = 600;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  // The matcher: the input's tail is the block, a few bytes of its head the
  // pattern, so that patterns and blocks share bytes.
  const size_t patternLength = 1 + data[0] % 16;
  if (size > patternLength + 1) {
    const std::span<const uint8_t> pattern(data + 1, patternLength);
    const std::span<const uint8_t> block(data + 1 + patternLength, size - 1 - patternLength);
    const size_t starts = block.size() - std::min<size_t>(block.size(), data[1] % 8);
    if (FindPattern(block, starts, pattern) != PlainScan(block, starts, pattern)) std::abort();
  }

  SilentPrompt prompt;
  FuzzDisk disk;
  if (!BindFuzzDisk({data, size}, prompt, disk)) return 0;
  DiskAccess& access = disk.Access();
  TreeSession session(access);
  RawSearchOptions options;
  options.mode = (data[2] & 1) ? SearchMode::Text : SearchMode::Hex;
  options.text = "Hello";
  options.hexBytes = {"E5", "2E"};
  int searched = 0;
  for (const TreeNode& node : WalkTree(session, 48)) {
    if (node.packet->startSector == 0 || searched >= 6) continue;
    options.start = std::to_string(node.packet->startSector);
    auto job = PrepareRawSearch(prompt, *node.packet, options);
    if (!job) continue;
    job->end = std::min<uint64_t>(job->end, uint64_t{job->start} + kSectorsMost);
    SearchFlags flags;
    SearchEvents quiet;
    const SearchResult result = SearchSectors(access, *job, flags, quiet);
    if (result.status == SearchStatus::Found) {
      if (result.hit.offset >= 512) std::abort();
      ShowSearchHit(session.page, prompt, *job, result.hit);
    }
    ++searched;
  }
  return 0;
}

// A GNU ddrescue mapfile: which byte ranges of a rescued image were read from
// the dying disk (status '+') and which were not (untried '?', untrimmed '*',
// unscraped '/', bad '-'). A drive given one fails every sector that is not
// wholly inside finished blocks, as the disk itself did.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RescueMap {
  struct Block {
    uint64_t pos = 0;
    uint64_t size = 0;
    char status = '?';
  };
  uint64_t currentPos = 0;
  char currentStatus = '?';
  std::vector<Block> blocks;  // ascending, not overlapping; gaps are untried

  // Bytes from offset, at most len, that lie in finished blocks without a
  // break. Anything the map does not cover counts as untried.
  uint64_t FinishedRun(uint64_t offset, uint64_t len) const;
};

struct RescueMapLoad {
  std::optional<RescueMap> map;
  std::string error;  // "FILE:LINE: why" or "FILE: why" when map is empty
};

// Parses mapfile text as ddrescue reads it: '#' comment lines and blank lines
// anywhere; the current position line "POS STATUS [PASS]" first; then block
// lines "POS SIZE STATUS". Numbers as C reads them: 0x hex, 0 octal, decimal.
// name is the file name the errors give.
[[nodiscard]] RescueMapLoad ParseRescueMap(std::string_view text, const std::string& name);
// Reads and parses the mapfile at path.
[[nodiscard]] RescueMapLoad LoadRescueMap(const std::string& path);

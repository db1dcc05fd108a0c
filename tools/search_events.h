// What a running raw search tells whoever shows it: the window turns these
// into its dialog's progress line, bar and button states, gleaner-cli
// --progress into lines on standard error, tests record them. Every call but
// Started comes from the thread that runs the search.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "disk/drive_packet.h"

enum class SearchMode { Hex, Text };

// Where the pattern was found: the sector that holds its first byte.
struct SearchHit {
  uint32_t sector = 0;  // from the volume's first sector, as the status text gives it
  uint32_t index = 0;   // from the node's first sector: the dump's page
  uint32_t offset = 0;  // of the first byte in the sector, 0-511
  std::array<uint8_t, kSectorSize> bytes{};
  uint32_t Row() const { return offset / 16; }
};

class SearchEvents {
 public:
  virtual ~SearchEvents() = default;
  // A search is about to run: only Stop can act on it.
  virtual void Started() {}
  // A block searched: steps done so far (one a block, the bar's position)
  // and the progress line, "%lu of %lu, %u%% Completed". Told when the
  // percentage changes, else at most a few times a second.
  virtual void Progress(uint32_t /*steps*/, std::string_view /*text*/) {}
  // A block that could not be read is searched as the read left it; the
  // line says so: "Sector %lu not accessible!".
  virtual void Unreadable(uint64_t /*sector*/, std::string_view /*text*/) {}
  // The pattern was found, before the result message: the front end shows
  // the hit's sector (see ShowSearchHit) and returns when it has.
  virtual void Hit(const SearchHit& /*hit*/) {}
  // The search is over (after its result message): the bar back to 0 and
  // the input of the given mode open again.
  virtual void Ended(SearchMode /*mode*/) {}
};

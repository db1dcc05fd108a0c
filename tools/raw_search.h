// Raw search: the first occurrence of 1 to 16 bytes typed in hexadecimal, or
// of a text, in the raw sectors of a tree node's volume, from a start sector
// up to the volume's end. The window's "Search Bytes" dialog and
// gleaner-cli search are front ends over these functions:
//
//   SearchOpenAllowed -> SearchInitialStart (the start's first text)
//   Search pressed:   PrepareRawSearch -> BeginSearch -> RunSearchWorker on a
//                     worker thread, whose Hit event the front end handles
//                     where its list lives (ShowSearchHit).
//
// The worker tells its progress, unreadable blocks, hit and end to the
// search's event sink and its result message to the prompt port. It reads
// the disk through the binding and never touches a view itself.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_packet.h"
#include "disk/prompt_port.h"
#include "views/dump_modes.h"
#include "views/view_page.h"
#include "tools/search_events.h"

inline constexpr size_t kSearchMaxHexBytes = 16;
inline constexpr size_t kSearchMaxTextBytes = 89;

// A block is read 100 sectors at a time; starts are looked for in its first
// 99, so consecutive blocks overlap by one sector and a pattern that runs
// from one block's 99th sector into its 100th is still found.
inline constexpr uint32_t kSearchBlockSectors = 100;
inline constexpr uint32_t kSearchStepSectors = 99;

// Messages.
inline constexpr const char* kSearchNeedsRawMode =
    "You can only search in Raw Sector Dumping Mode!  Select it from Action menu!";
inline constexpr const char* kSearchFromTopLevel = "You cannot search from this level!!  Try a child level!";
inline constexpr const char* kSearchTotalSectors = "Total sec: %lu";
inline constexpr const char* kSearchOutOfRange = "Sector number cannot be greater than %lu or less than %lu";
inline constexpr const char* kSearchNoHexBytes = "Enter some Hexa bytes!";
inline constexpr const char* kSearchNoString = "Enter some search string!";
inline constexpr const char* kSearchNoBuffer = "Unable to allocate buffer";
inline constexpr const char* kSearchInterrupted = "Search Interrupted by user!";
inline constexpr const char* kSearchNotFound = "Search String not found!";
inline constexpr const char* kSearchFound = "Search String Found!";
inline constexpr const char* kSearchInProgress = "Search in progress!  Press X again after it ends now!!";
inline constexpr const char* kSearchProgress = "%lu of %lu, %u%% Completed";
inline constexpr const char* kSearchSectorNotAccessible = "Sector %lu not accessible!";
// After the result message's own words when sectors could not be read.
inline constexpr const char* kSearchUnreadableSectors = "%lu sectors could not be read and were not searched.";
inline constexpr const char* kSearchUnreadableSector = "1 sector could not be read and was not searched.";
// Input that would otherwise be taken as something the person did not type.
inline constexpr const char* kSearchNotHex = "Byte %u is not a hexadecimal number: %s";
inline constexpr const char* kSearchTooManyBytes = "At most 16 Hexa bytes can be searched for!";
inline constexpr const char* kSearchTextTooLong = "The search string is longer than 89 characters!";
inline constexpr const char* kSearchNotAnsi = "The search string holds a character Windows-1252 does not have: %s";

// What the person typed, as plain texts: the window's boxes and gleaner-cli's
// arguments both give them so.
struct RawSearchOptions {
  SearchMode mode = SearchMode::Hex;
  // The pattern's bytes in order, one hexadecimal text each; the pattern ends
  // at the first empty one. More than 16 texts are refused.
  std::vector<std::string> hexBytes;
  std::string text;   // UTF-8; searched for as the bytes of Windows-1252
  std::string start;  // the start sector, decimal
};

// A search ready to run: a private copy of the node, the pattern, the start.
struct SearchJob {
  DrivePacket node;
  SearchMode mode = SearchMode::Hex;
  std::vector<uint8_t> pattern;
  uint32_t start = 0;
  // The sector after the last one searched, 64-bit: 2^32 - 1 for a partition
  // of unknown type or a volume whose size is not known (no upper bound).
  uint64_t end = 0;
};

// Shared between the front end and the worker: set by Stop and the close
// guards, read by the worker before each block; running while it lives.
struct SearchFlags {
  std::atomic<bool> running{false};
  std::atomic<bool> stop{false};
};

enum class SearchStatus { Found, NotFound, Interrupted, NoBuffer };

struct SearchResult {
  SearchStatus status = SearchStatus::NotFound;
  SearchHit hit;
  // Sectors that could not be read before the search ended: never matched.
  uint64_t unreadableSectors = 0;
};

enum class SearchRefusal { None, Range, Pattern };

// Opening the dialog: raw sector dumping must be on and the node must have
// sectors of its own (startSector not 0); otherwise says why and answers false.
bool SearchOpenAllowed(PromptPort& prompt, DumpModes modes, const DrivePacket& node);

// The start box's first text: the sector the dump shows, as "%lu".
std::string SearchInitialStart(const ViewPage& pane, const DrivePacket& node);

// Search pressed: "Total sec: %lu", then the start sector's range and the
// pattern, each refused with its message. Nothing is read. refusal (when
// given) tells a refused range from a refused pattern.
[[nodiscard]] std::optional<SearchJob> PrepareRawSearch(PromptPort& prompt, const DrivePacket& node,
                                          const RawSearchOptions& options,
                                          SearchRefusal* refusal = nullptr);

// The pattern alone, with the messages of a refused one: the byte texts up
// to the first empty one (each one's low 8 bits), or the text as Windows-1252.
std::optional<std::vector<uint8_t>> BuildSearchPattern(PromptPort& prompt, const RawSearchOptions& options);

// UTF-8 to Windows-1252, one byte a character. Text that is not UTF-8 is
// taken byte for byte. False, with the first character it lacks in `missing`,
// when Windows-1252 has no byte for a character.
bool AnsiFromUtf8(std::string_view utf8, std::string& ansi, std::string* missing = nullptr);

// Progress bar steps of a search (one a block), for the bar's range.
uint32_t SearchProgressSteps(const SearchJob& job);

// Clears the stop flag, sets running and tells Started. The front end then
// starts the worker.
void BeginSearch(SearchEvents& events, SearchFlags& flags);

// The search itself: blocks of 100 sectors read through the binding, its
// progress and unreadable blocks told to events as they come. A block that
// cannot be read is searched as the read left it.
[[nodiscard]] SearchResult SearchSectors(DiskAccess& access, const SearchJob& job,
                                         const SearchFlags& flags, SearchEvents& events);

// The result message: "Search String Found!" and the like, followed after two
// blanks by the count of unreadable sectors when there were some.
std::string SearchResultMessage(const SearchResult& result);

// The worker thread's whole run: the search; on a hit events.Hit (the front
// end puts the hit where its list lives, see ShowSearchHit); the result
// message through prompt; Ended; then running is cleared. Returns the result
// for the caller to report.
[[nodiscard]] SearchResult RunSearchWorker(DiskAccess& access, const SearchJob& job, SearchFlags& flags,
                                           PromptPort& prompt, SearchEvents& events);

// A hit into the page, on the thread that owns it: the raw sector dump of the
// job's node at the hit's sector, its 32 rows (the window selects hit.Row()),
// Previous and Next as the page's place allows, and "Current Sector Number:
// %lu" in the second status pane.
void ShowSearchHit(ViewPage& pane, PromptPort& prompt, const SearchJob& job, const SearchHit& hit);

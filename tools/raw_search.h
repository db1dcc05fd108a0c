// Raw search: the first occurrence of 1 to 16 bytes typed in hexadecimal, or
// of a text, in the raw sectors of a tree node's volume, from a start sector
// up to the volume's end. The window's "Search Bytes" dialog and
// gleaner-cli search are front ends over these functions:
//
//   SearchOpenAllowed -> SearchInitialStart (the start box's first text)
//   Search pressed:   PrepareRawSearch -> BeginSearch -> RunSearchWorker on a
//                     worker thread, whose showHit the front end runs where
//                     the list pane lives (ShowSearchHit).
//
// The worker speaks only through the prompt port it is given: the progress
// text and bar, the result message and the controls' enabled states. It reads
// the disk through the binding and never touches the list pane itself.
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
#include "views/list_pane_state.h"

inline constexpr int kCommandSearch = 32784;
inline constexpr int kSearchDialogResource = 149;
inline constexpr const char* kSearchDialogTitle = "Search Bytes";

// Controls of the dialog, by id.
inline constexpr int kSearchHexRadio = 1022;
inline constexpr int kSearchStringRadio = 1024;
// The 16 byte boxes, pattern bytes 1 to 16 in order.
inline constexpr std::array<int, 16> kSearchByteBoxes = {1026, 1027, 1028, 1029, 1030, 1031,
                                                         1032, 1033, 1034, 1035, 1036, 1037,
                                                         1038, 1039, 1040, 1016};
inline constexpr int kSearchStringBox = 1041;
inline constexpr int kSearchStartBox = 1015;
inline constexpr int kSearchProgressText = 1042;
inline constexpr int kSearchProgressBar = 1023;
inline constexpr int kSearchButton = 1043;
inline constexpr int kSearchStopButton = 1025;
inline constexpr int kSearchCloseButton = 3;

inline constexpr int kSearchByteBoxMaxChars = 9;
inline constexpr int kSearchTextMaxChars = 89;
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
// Input that would otherwise be taken as something the person did not type.
inline constexpr const char* kSearchNotHex = "Byte %u is not a hexadecimal number: %s";
inline constexpr const char* kSearchTooManyBytes = "At most 16 Hexa bytes can be searched for!";
inline constexpr const char* kSearchTextTooLong = "The search string is longer than 89 characters!";
inline constexpr const char* kSearchNotAnsi = "The search string holds a character Windows-1252 does not have: %s";

enum class SearchMode { Hex, Text };

// What the dialog's boxes (or gleaner-cli's arguments) hold, as typed.
struct RawSearchOptions {
  SearchMode mode = SearchMode::Hex;
  // The 16 byte boxes in pattern order; the pattern ends at the first empty one.
  std::array<std::string, kSearchMaxHexBytes> hexBytes;
  // More byte texts than boxes (gleaner-cli --hex with more than 16).
  bool tooManyHexBytes = false;
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

// Where the pattern was found: the sector that holds its first byte.
struct SearchHit {
  uint32_t sector = 0;  // from the volume's first sector, as the status text gives it
  uint32_t index = 0;   // from the node's first sector: the dump's page
  uint32_t offset = 0;  // of the first byte in the sector, 0-511
  std::array<uint8_t, kSectorSize> bytes{};
  uint32_t Row() const { return offset / 16; }
};

struct SearchResult {
  SearchStatus status = SearchStatus::NotFound;
  SearchHit hit;
};

enum class SearchRefusal { None, Range, Pattern };

// Opening the dialog: raw sector dumping must be on and the node must have
// sectors of its own (startSector not 0); otherwise says why and answers false.
bool SearchOpenAllowed(PromptPort& prompt, DumpModes modes, const DrivePacket& node);

// The start box's first text: the sector the dump shows, as "%lu".
std::string SearchInitialStart(const ListPaneState& pane, const DrivePacket& node);

// Search pressed: "Total sec: %lu", then the start sector's range and the
// pattern, each refused with its message. Nothing is read. refusal (when
// given) tells a refused range from a refused pattern.
[[nodiscard]] std::optional<SearchJob> PrepareRawSearch(PromptPort& prompt, const DrivePacket& node,
                                          const RawSearchOptions& options,
                                          SearchRefusal* refusal = nullptr);

// The pattern alone, with the messages of a refused one: the byte boxes up to
// the first empty one (each box's low 8 bits), or the text as Windows-1252.
std::optional<std::vector<uint8_t>> BuildSearchPattern(PromptPort& prompt, const RawSearchOptions& options);

// UTF-8 to Windows-1252, one byte a character. Text that is not UTF-8 is
// taken byte for byte. False, with the first character it lacks in `missing`,
// when Windows-1252 has no byte for a character.
bool AnsiFromUtf8(std::string_view utf8, std::string& ansi, std::string* missing = nullptr);

// Progress bar steps of a search (one a block), for the bar's range.
uint32_t SearchProgressSteps(const SearchJob& job);

// The controls while a search runs (only Stop enabled) and when it is over
// (the selected kind of pattern box, both radio buttons, the start box,
// Search and Close enabled; Stop disabled).
void SetSearchControlsRunning(PromptPort& prompt);
void SetSearchControlsIdle(PromptPort& prompt, SearchMode mode);

// Clears the stop flag, sets running and the controls for a running search.
// The front end then starts the worker.
void BeginSearch(PromptPort& prompt, SearchFlags& flags);

// The search itself: blocks of 100 sectors read through the binding, the
// progress text (control 1042) and bar (1023, its position in steps as
// decimal text) told through prompt as they change. A block that cannot be
// read is searched as the read left it.
[[nodiscard]] SearchResult SearchSectors(DiskAccess& access, const SearchJob& job,
                                         const SearchFlags& flags, PromptPort& prompt);

// The worker thread's whole run: the search; on a hit showHit (the front end
// puts the hit into the list pane where the pane lives, see ShowSearchHit);
// the result message; the progress bar back to 0 and the controls idle; then
// running is cleared. Returns the result for the caller to report.
[[nodiscard]] SearchResult RunSearchWorker(DiskAccess& access, const SearchJob& job, SearchFlags& flags,
                             PromptPort& prompt,
                             const std::function<void(const SearchHit&)>& showHit);

// A hit into the list pane, on the thread that owns it: the raw sector dump of
// the job's node at the hit's sector, its 32 rows with the hit's row selected,
// Previous and Next as the page's place allows, and "Current Sector Number:
// %lu" in the second status pane.
void ShowSearchHit(ListPaneState& pane, PromptPort& prompt, const SearchJob& job, const SearchHit& hit);

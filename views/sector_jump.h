// Go to a Sector: in raw sector mode, jump to any sector at or after the
// first sector of the item on show (past the volume's end too).
//
// The front end runs: GoToSectorAllowed; the dialog "Goto a Specific Sector"
// with GoToSectorInitialText in its box; on OK, GoToSector with the box text.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "views/dump_modes.h"
#include "views/view_context.h"

inline constexpr const char* kJumpNeedsRawMode = "This feature works only in the Raw Sector Dump mode!";
inline constexpr const char* kJumpFromTopLevel =
    "You cannot goto a sector from this level.  Choose a child item and try";
// Formatted with the item's first sector.
inline constexpr const char* kJumpBelowItem = "Sector number is below the current selected item of %lu";

// Formatted with the volume's last sector.
inline constexpr const char* kJumpPastVolume =
    "Sector number is past the end of the volume at %lu";

// Raw sector mode is on and the item on show has sectors of its own
// (startSector not 0); otherwise says why not and answers false.
bool GoToSectorAllowed(ViewContext& ctx, DumpModes modes);

// The box's first text: the item's first sector.
std::string GoToSectorInitialText(const ViewPage& page);

// Reads a sector number the way "%lu" does: leading blanks, an optional '+',
// then decimal digits up to the first other character. False (sector as it
// was) when there is no number, for a '-' sign and past 32 bits.
bool ParseSectorEntry(std::string_view entry, uint32_t& sector);

// Jumps to the sector the entry names; jumpTarget keeps the last number read
// and may be shared between uses. Nothing happens for a text that is not a
// number, while GoToSectorAllowed would refuse, or without a sector dump on
// show. A number below the item's first sector is refused with its message; a
// sector whose number leaves 32 bits shows "Sector not accessible!". Both
// change nothing else. True when the page moved to the sector.
[[nodiscard]] bool GoToSector(ViewContext& ctx, DumpModes modes, std::string_view entry, uint32_t& jumpTarget);

// Editing the 16 bytes of one dump row in memory, and the list's row menu.
//
// The front end's double-click runs: CanEditRows; nothing more when no row
// has the focus; RowBytes of the focused row into the dialog "Enter Bytes to
// Change" (its box k shows HexByteBoxText of byte k); on OK,
// ParseHexByteBox of each box over its byte, then SetRowBytes. The change
// stays in memory until Write Changes; stepping away discards it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "views/dump_modes.h"
#include "views/view_context.h"

inline constexpr const char* kEditingNeedsDumpMode =
    "Editing is possible only in Sector/Cluster dumping modes\n"
    "Select 'Action->Sector/Cluster Dumping or Raw Sector Dumping' from main menu";


using RowBytesArray = std::array<uint8_t, 16>;

// Says the editing message and answers false unless a dump mode is on; also
// false, silently, when no hex page is on show (no bytes to edit).
bool CanEditRows(ViewContext& ctx, DumpModes modes);

// Bytes 16 * row ... 16 * row + 15 of sectorBuffer; bytes past the buffer
// read as 0.
RowBytesArray RowBytes(const ViewPage& page, size_t row);
// Puts the bytes into the row (the window then selects it, which repaints
// it). False, with nothing changed, when the row does not lie wholly in
// sectorBuffer or lies in a sector that could not be read.
bool SetRowBytes(ViewPage& page, size_t row, const RowBytesArray& bytes);

// A byte box's first text: "%02X".
std::string HexByteBoxText(uint8_t byte);
// Reads a box as "%X" does: leading blanks, an optional '+', an optional "0x",
// hexadecimal digits of either case up to the first other character ("7" is
// 0x07, "ab" is 0xAB). False, byte as it was, when the box holds no
// hexadecimal number or one that does not fit a byte.
bool ParseHexByteBox(std::string_view text, uint8_t& byte);

// The row menu (right-click in the list). No part of the program handles
// these commands: the entries are shown enabled and choosing one does nothing.
struct MenuItem {
  int id;
  const char* text;
};
inline constexpr std::array<MenuItem, 6> kRowMenuItems = {{
    {32800, "&Copy"},
    {32799, "&Paste"},
    {32798, "&Safe Paste"},
    {32801, "&Delete"},
    {32803, "S&afe Delete"},
    {32804, "D&oomed Delete"},
}};

// The texts of directory entry names: long file names assembled from the
// long-name entries in front of a short entry, and short names made readable.
// Texts are UTF-8, as the list, the tree and the CLI take them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The long name of the short entry at entryIndex (32-byte entries) of dir,
// from the long-name entries in front of it, as UTF-8; empty when there is
// none. The walk goes back one piece at a time until the piece marked last
// (0x40, which a deleted piece's 0xE5 also carries), and stops early at the
// first entry of dir, at an entry that is not a long-name entry, after 20
// pieces, or at a zero or 0xFFFF character; what was gathered so far stays.
// It never reads outside dir. Returns text.size() (bytes), 0 for no name.
size_t AssembleLongName(std::span<const uint8_t> dir, size_t entryIndex, std::string& text);

// Appends UCS-2/UTF-16 code units as UTF-8: a surrogate pair gives one
// character, a lone surrogate U+FFFD.
void AppendUtf16AsUtf8(std::span<const uint16_t> units, std::string& text);

// Short-name bytes as UTF-8: names are stored in the OEM code page, taken to
// be 437 (Linux's default for FAT); bytes below 0x80 stay as they are, so a
// deleted entry's 0xE5 reads as U+03C3 (sigma).
std::string OemNameToUtf8(std::string_view bytes);

// One byte as the ANSI character (Windows-1252) a hex dump's character column
// shows, as UTF-8: bytes 0x80-0x9F as 1252 has them (its five unassigned ones
// as U+25A1, the box a missing glyph is drawn as), the rest as Latin-1.
std::string AnsiByteToUtf8(uint8_t byte);

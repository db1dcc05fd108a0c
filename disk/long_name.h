// The texts of directory entry names: long file names assembled from the
// long-name entries in front of a short entry, and short names made readable.
// Texts are UTF-8, as the list, the tree and the CLI take them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The long name of the short entry at entryIndex (32-byte entries) of dir,
// from the long-name entries in front of it, as UTF-8; empty when there is
// none. The walk goes back one piece at a time until the piece marked last
// (0x40), and stops early at the first entry of dir, at an entry that is not
// a long-name entry or is a deleted piece (FindDeletedLongName gathers
// those), after 20 pieces, or at a zero or 0xFFFF character; what was
// gathered so far stays.
// It never reads outside dir. Returns text.size() (bytes), 0 for no name.
size_t AssembleLongName(std::span<const uint8_t> dir, size_t entryIndex, std::string& text);

// The first character Undelete gives a revived entry ("!"), until Rename
// gives it its name back; its deleted long-name pieces still hold that name.
inline constexpr uint8_t kRevivedMark = 0x21;

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

// Whether a short name may hold byte b anywhere: no control, no DEL and none
// of " * + , . / : ; < = > ? [ \ ] |. Blanks count as allowed here (they may
// only pad); lower case is allowed (kept as typed).
bool ShortNameByte(uint8_t b);

// A long-name piece that is no deleted one (its ordinal byte is not 0xE5).
bool IsLiveLongNamePiece(std::span<const uint8_t> entry);

// The checksum long-name pieces carry of their short entry's 11 name bytes.
uint8_t ShortNameChecksum(std::span<const uint8_t> name11);

// The run of live long-name pieces right in front of the short entry at
// index of dir that carry checksum, nearest first: how many there are (0 to
// 20), whatever their ordinals. Never reaches past the start of dir; 0 when
// index lies outside it.
size_t LongNamePieceRun(std::span<const uint8_t> dir, size_t index, uint8_t checksum);

// The entry's own long name within that run: ordinals 1, 2, ... up from the
// entry to the piece marked last. The entry index of that piece (the one
// farthest back); nullopt when the run holds no such set.
std::optional<size_t> OwnLongNamePieces(std::span<const uint8_t> dir, size_t index,
                                        uint8_t checksum);

// The deleted long-name pieces in front of the (deleted or revived) short
// entry at index of dir: the run of deleted pieces (ordinal 0xE5) carrying
// one checksum, cut after the piece that ends the name.
struct DeletedLongName {
  size_t first = 0;    // entry index of the piece farthest back (the name's last piece)
  size_t count = 0;    // pieces, 1 to 20
  uint8_t checksum = 0;
  std::string text;    // UTF-8
  // The first short-name byte that the checksum asks for (the byte the
  // deletion overwrote), when it is one a short name may begin with.
  std::optional<uint8_t> firstByte;
};
std::optional<DeletedLongName> FindDeletedLongName(std::span<const uint8_t> dir, size_t index);

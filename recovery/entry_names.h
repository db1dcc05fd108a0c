// The names of directory entries as the recovery commands give them to the
// person and to the host: a live entry's long name or short name, and a
// deleted entry's long name where its deleted long-name pieces still belong to
// it, else its short name with "_" for the lost first character.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "disk/long_name.h"


// Gives the deleted long-name pieces in front of the live short entry at
// index their ordinals back (1 nearest the entry, the last one marked 0x40)
// when they carry the checksum of the entry's short name as it stands now.
// The index of the first piece revived; nullopt (nothing changed) when there
// are no such pieces.
std::optional<size_t> ReviveLongNamePieces(std::span<uint8_t> dir, size_t index);

// The short name as NAME.EXT (blanks cut, no point without an extension),
// lower case where the entry's case flags say so, through code page 437;
// a deleted entry's lost first character reads "_".
std::string ShortNameOf(std::span<const uint8_t> entry, bool deleted);

// A deleted entry keeps its name; one whose name bytes after the mark hold
// controls (a zeroed slot marked deleted) is no file.
bool PlausibleDeletedName(std::span<const uint8_t> entry);

struct EntryName {
  std::string text;       // UTF-8
  bool longName = false;  // the long name was recovered
};
// A live entry: its long name where it has one, else its short name.
EntryName LiveEntryName(std::span<const uint8_t> dir, size_t index);
// A deleted entry: its long name when deleted pieces in front of it carry the
// checksum of its short name with a first character a short name may have,
// else its short name with "_".
EntryName DeletedEntryName(std::span<const uint8_t> dir, size_t index);

// Cell texts made safe for a terminal: a dump or a name read from a disk must
// not drive it.
#pragma once
#include <string>
#include <string_view>

// Always UTF-8. Control bytes (0x00-0x1F, 0x7F) and the C1 controls
// U+0080-U+009F written as UTF-8 become "."; a byte past 0x7F that is not
// part of a well-formed UTF-8 sequence is written as its ANSI character, as
// the window shows it. Well-formed UTF-8 of any other character stands.
std::string SafeCellText(std::string_view text);

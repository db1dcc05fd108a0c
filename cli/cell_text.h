// Cell texts made safe for a terminal: a dump or a name read from a disk must
// not drive it.
#pragma once
#include <string>
#include <string_view>

// Control bytes (0x00-0x1F, 0x7F) become "."; so do bytes 0x80-0x9F that
// are not part of a well-formed UTF-8 sequence (a hex dump's character cell,
// a short name in an OEM code page) and the C1 controls U+0080-U+009F
// written as UTF-8. Well-formed UTF-8 of any other character (long names)
// and every other byte stand as they are.
std::string SafeCellText(std::string_view text);

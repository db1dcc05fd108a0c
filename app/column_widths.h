// How wide the list draws each column, in pixels, by what is on show: the
// views give the titles, the window the widths (a column may still grow to
// fit its title or a text in view in the font in use).
#pragma once
#include <cstddef>

#include "views/view_page.h"

// The width of column `column` of the page on show.
int ColumnWidth(const ViewPage& page, size_t column);

// Whether the page's columns are a hexadecimal dump's 34: the offset, 16
// bytes, a spacer and 16 characters.
bool HexDumpColumns(const ViewPage& page);

// The text of one cell of the list, made when the list paints it: the hex
// layout of the dumps, the entries of the FAT tables, the directory rows, or a
// row's own fixed text. Never longer than kDisplayTextMax.
#pragma once
#include <cstddef>
#include <string>

#include "views/view_page.h"

// Empty for a row or column the list does not have, and for every call-back
// cell while the view kind is None.
std::string FormatCell(const ViewPage& page, size_t row, int column);

// printf into a string: the one formatter of the texts the views and the
// commands build from numbers (at most 255 characters).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

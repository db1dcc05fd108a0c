#include "cli/cell_text.h"

#include "disk/long_name.h"

namespace {

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

// Length of the well-formed UTF-8 sequence of two or more bytes at text[i]
// (RFC 3629), and its code point; 0 when there is none.
size_t Utf8Sequence(std::string_view text, size_t i, uint32_t& codePoint) {
  auto at = [&](size_t k) -> unsigned char {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
  };
  const unsigned char c = at(0);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (InRange(c, 0xC2, 0xDF)) {
    length = 2;
  } else if (InRange(c, 0xE0, 0xEF)) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (InRange(c, 0xF0, 0xF4)) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (!InRange(at(1), low, high)) return 0;
  for (size_t k = 2; k < length; ++k)
    if (!InRange(at(k), 0x80, 0xBF)) return 0;
  codePoint = c & (0xFFu >> (length + 1));
  for (size_t k = 1; k < length; ++k) codePoint = (codePoint << 6) | (at(k) & 0x3Fu);
  return length;
}

}  // namespace

std::string SafeCellText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    // Most labels are plain printable ASCII: taken a run at a time.
    size_t end = i;
    while (end < text.size() && InRange(static_cast<unsigned char>(text[end]), 0x20, 0x7E)) ++end;
    if (end != i) {
      out.append(text.substr(i, end - i));
      i = end;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {  // a control byte
      out += '.';
      ++i;
      continue;
    }
    uint32_t codePoint = 0;
    const size_t length = Utf8Sequence(text, i, codePoint);
    if (length != 0) {
      if (codePoint <= 0x9F)
        out += '.';
      else
        out.append(text.substr(i, length));
      i += length;
      continue;
    }
    // A lone byte past 0x7F is no UTF-8: it is printed as the ANSI character
    // the window shows for it, never raw.
    out += AnsiByteToUtf8(c);
    ++i;
  }
  return out;
}

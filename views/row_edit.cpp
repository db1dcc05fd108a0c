#include "views/row_edit.h"

#include <algorithm>
#include <cstdio>

#include "views/editor_page.h"
#include "views/list_ops.h"

bool CanEditRows(ViewContext& ctx, DumpModes modes) {
  if (!modes.sectorDump && !modes.rawDump) {
    ctx.Prompt().Message(kEditingNeedsDumpMode);
    return false;
  }
  return ShownPageKind(ctx.page) != PageKind::None;
}

RowBytesArray RowBytes(const ViewPage& page, size_t row) {
  RowBytesArray bytes{};
  const std::vector<uint8_t>& buffer = page.sectorBuffer;
  if (row > buffer.size() / kBytesPerDumpRow) return bytes;  // also keeps row * 16 from wrapping
  const size_t first = row * kBytesPerDumpRow;
  for (size_t k = 0; k < bytes.size() && first + k < buffer.size(); ++k) bytes[k] = buffer[first + k];
  return bytes;
}

bool SetRowBytes(ViewPage& page, size_t row, const RowBytesArray& bytes) {
  std::vector<uint8_t>& buffer = page.sectorBuffer;
  if (row >= buffer.size() / kBytesPerDumpRow) return false;
  // A sector that did not read holds no bytes of the disk to change.
  if (ByteUnreadable(page, uint64_t{row} * kBytesPerDumpRow)) return false;
  std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<ptrdiff_t>(row * kBytesPerDumpRow));
  return true;
}

std::string HexByteBoxText(uint8_t byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

bool ParseHexByteBox(std::string_view text, uint8_t& byte) {
  auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  // "0x" is a prefix only when a digit follows; "0x" alone reads as 0.
  if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      hexValue(text[i + 2]) >= 0)
    i += 2;
  unsigned value = 0;
  size_t digits = 0;
  for (; i < text.size() && hexValue(text[i]) >= 0; ++i, ++digits) {
    value = value * 16 + static_cast<unsigned>(hexValue(text[i]));
    if (value > 0xFF) return false;
  }
  if (digits == 0) return false;
  byte = static_cast<uint8_t>(value);
  return true;
}

// Desktop entry files (the freedesktop.org format): setup writes the menu
// entries with this and reads each one back to check it; uninstall reads the
// main entry to see which folder the installation lives in.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace install {

struct DesktopEntry {
  std::string type = "Application";
  std::string name;
  std::string comment;
  std::vector<std::string> exec;  // the command's arguments, unquoted
  std::string icon;
  std::string categories;
};

// The file's text, or nothing when a value cannot be written in the format
// (control characters, text that is not UTF-8).
[[nodiscard]] std::optional<std::string> FormatDesktopEntry(const DesktopEntry& entry);

// Writes the entry; false when it cannot be formatted or written whole.
[[nodiscard]] bool WriteDesktopEntry(const std::filesystem::path& file, const DesktopEntry& entry);

// The entry's main group, or nothing when the file cannot be read or does not
// parse (no [Desktop Entry] group first, a line that is neither a key nor a
// comment, a key given twice, an Exec line with an open quote).
[[nodiscard]] std::optional<DesktopEntry> ReadDesktopEntry(const std::filesystem::path& file);
[[nodiscard]] std::optional<DesktopEntry> ParseDesktopEntry(const std::string& text);

}  // namespace install

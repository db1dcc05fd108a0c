#include "setup/desktop_entry.h"

#include <fstream>
#include <map>
#include <sstream>

namespace install {

namespace {

bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t more = 0;
    char32_t cp = 0;
    if (c < 0x80) {
      more = 0;
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      more = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (more > 0 && i + more >= s.size()) return false;
    for (size_t k = 1; k <= more; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

bool Writable(const std::string& value) {
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) return false;
  }
  return ValidUtf8(value);
}

// A value of type string: only the backslash needs its escape here, since
// control characters are refused before.
std::string EscapeValue(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string UnescapeValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += value[i]; break;
    }
  }
  return out;
}

// One argument of the Exec key: quoted when it holds a character the format
// reserves, with ", `, $ and \ escaped inside the quotes; % doubled always.
std::string QuoteArgument(const std::string& arg) {
  static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  const bool quote = arg.empty() || arg.find_first_of(kReserved) != std::string::npos;
  std::string out;
  if (quote) out += '"';
  for (const char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  if (quote) out += '"';
  return out;
}

std::optional<std::vector<std::string>> SplitExec(const std::string& command) {
  std::vector<std::string> args;
  std::string arg;
  bool inArg = false;
  bool quoted = false;
  for (size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == '%' && i + 1 < command.size() && command[i + 1] == '%') {
      arg += '%';
      inArg = true;
      ++i;
    } else if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < command.size() &&
                 std::string_view("\"`$\\").find(command[i + 1]) != std::string_view::npos) {
        arg += command[++i];
      } else {
        arg += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (inArg) args.push_back(arg);
      arg.clear();
      inArg = false;
    } else if (c == '"') {
      quoted = true;
      inArg = true;
    } else {
      arg += c;
      inArg = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inArg) args.push_back(arg);
  return args;
}

}  // namespace

std::optional<std::string> FormatDesktopEntry(const DesktopEntry& entry) {
  std::string exec;
  for (const std::string& arg : entry.exec) {
    if (!Writable(arg)) return std::nullopt;
    exec += (exec.empty() ? "" : " ") + QuoteArgument(arg);
  }
  for (const std::string* v : {&entry.type, &entry.name, &entry.comment, &entry.icon,
                               &entry.categories}) {
    if (!Writable(*v)) return std::nullopt;
  }
  std::string text = "[Desktop Entry]\n";
  text += "Type=" + entry.type + "\n";
  text += "Version=1.0\n";
  text += "Name=" + EscapeValue(entry.name) + "\n";
  if (!entry.comment.empty()) text += "Comment=" + EscapeValue(entry.comment) + "\n";
  text += "Exec=" + EscapeValue(exec) + "\n";
  if (!entry.icon.empty()) text += "Icon=" + EscapeValue(entry.icon) + "\n";
  text += "Terminal=false\n";
  if (!entry.categories.empty()) text += "Categories=" + EscapeValue(entry.categories) + "\n";
  return text;
}

bool WriteDesktopEntry(const std::filesystem::path& file, const DesktopEntry& entry) {
  const std::optional<std::string> text = FormatDesktopEntry(entry);
  if (!text) return false;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << *text;
  out.close();
  return !out.fail();
}

std::optional<DesktopEntry> ParseDesktopEntry(const std::string& text) {
  std::istringstream in(text);
  std::map<std::string, std::string> keys;
  bool inMain = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (inMain) break;  // later groups (actions) are not ours to check
      if (line != "[Desktop Entry]") return std::nullopt;
      inMain = true;
      continue;
    }
    if (!inMain) return std::nullopt;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    size_t start = eq + 1;
    while (start < line.size() && line[start] == ' ') ++start;
    if (key.empty()) return std::nullopt;
    if (!keys.emplace(key, line.substr(start)).second) return std::nullopt;
  }
  if (!inMain) return std::nullopt;
  DesktopEntry entry;
  const auto value = [&](const char* key) {
    const auto it = keys.find(key);
    return it == keys.end() ? std::string() : UnescapeValue(it->second);
  };
  entry.type = value("Type");
  entry.name = value("Name");
  entry.comment = value("Comment");
  entry.icon = value("Icon");
  entry.categories = value("Categories");
  if (entry.type.empty() || entry.name.empty()) return std::nullopt;
  std::optional<std::vector<std::string>> exec = SplitExec(value("Exec"));
  if (!exec) return std::nullopt;
  entry.exec = std::move(*exec);
  return entry;
}

std::optional<DesktopEntry> ReadDesktopEntry(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return ParseDesktopEntry(text.str());
}

}  // namespace install

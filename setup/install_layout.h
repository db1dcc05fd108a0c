// The install layout that setup makes and uninstall takes apart again: the
// program files in the target folder, the menu group "Gleaner 2001" in the
// XDG applications folder and its three desktop entries. Both programs read
// their names from here so the two can never drift apart.
#pragma once
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace install {

namespace fs = std::filesystem;

// Every text meant for the person (a message box, or a line on standard error).
using MessageSink = std::function<void(const std::string&)>;

inline constexpr const char* kGroupName = "Gleaner 2001";

// The files setup copies from its own folder, in this order.
inline constexpr std::array<const char*, 6> kProgramFiles = {
    "gleaner", "libsect32.so", "Gleaner.html", "gleaner-cli", "uninstall", "gleaner.svg"};

// The files uninstall deletes from its own folder, in this order; it cannot
// delete itself.
inline constexpr std::array<const char*, 5> kRemovedFiles = {
    "gleaner", "libsect32.so", "Gleaner.html", "gleaner-cli", "gleaner.svg"};

inline constexpr const char* kIconFile = "gleaner.svg";

struct MenuEntry {
  const char* file;        // in the group folder, with its leading slash
  const char* name;        // the entry's Name
  const char* comment;
  const char* target;      // the installed file it runs or opens
  bool opensDocument;      // through xdg-open rather than run
  const char* categories;
};

inline constexpr std::array<MenuEntry, 3> kMenuEntries = {{
    {"/Gleaner.desktop", "Gleaner 2001", "Inspect disks and recover files from FAT volumes",
     "gleaner", false, "System;Filesystem;"},
    {"/Help.desktop", "Gleaner Help", "The Gleaner user guide", "Gleaner.html", true,
     "System;Documentation;"},
    {"/UnInstall.desktop", "Gleaner UnInstall", "Remove Gleaner 2001 from this account",
     "uninstall", false, "System;"},
}};

// What the installer and the uninstaller take from the environment, passed in
// so tests can give each run its own home.
struct Environment {
  std::string home;         // $HOME, or the account's home folder
  std::string xdgDataHome;  // $XDG_DATA_HOME, possibly empty
  bool root = false;

  static Environment FromProcess();
};

// The XDG applications folder: $XDG_DATA_HOME/applications, or
// ~/.local/share/applications when XDG_DATA_HOME is unset or not absolute.
// Empty when there is no home to put it in.
[[nodiscard]] std::optional<fs::path> ProgramsFolder(const Environment& env);

// The target folder offered first: ~/.local/opt/Gleaner, /opt/Gleaner for root.
[[nodiscard]] std::string InitialTargetPath(const Environment& env);

// The folder of the running program, from the kernel's link to it (never from
// the command line's text); the current folder when that cannot be read.
[[nodiscard]] fs::path OwnFolder();

}  // namespace install

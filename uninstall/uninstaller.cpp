#include "uninstall/uninstaller.h"

#include <unistd.h>

#include <fstream>
#include <system_error>

#include "setup/desktop_entry.h"
#include "setup/installer.h"

namespace install {

namespace {

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

// The presence test: the main entry can be read, and the program it runs is
// this folder's gleaner.
bool InstalledHere(const fs::path& group, const fs::path& ownFolder) {
  const fs::path mainEntry = group.string() + kMenuEntries[0].file;
  if (!std::ifstream(mainEntry)) return false;
  const std::optional<DesktopEntry> entry = ReadDesktopEntry(mainEntry);
  if (!entry || entry->exec.empty()) return false;
  const fs::path program = entry->exec.front();
  return program.filename() == kMenuEntries[0].target &&
         SameFolder(program.parent_path(), ownFolder);
}

}  // namespace

UninstallResult Uninstall(const fs::path& ownFolder, const std::optional<fs::path>& programsFolder,
                          const MessageSink& message) {
  UninstallResult result;
  const fs::path group = programsFolder ? *programsFolder / kGroupName : fs::path();
  if (!programsFolder || !InstalledHere(group, ownFolder)) {
    message(kNotFound);
    return result;
  }
  result.found = true;
  result.complete = true;
  for (const char* name : kRemovedFiles) {
    if (::unlink((ownFolder / name).c_str()) != 0) {
      message(WithName(kCouldNotDelete, name));
      result.complete = false;
    }
  }
  for (const MenuEntry& entry : kMenuEntries) {
    if (::unlink((group.string() + entry.file).c_str()) != 0) {
      message(WithName(kCouldNotDelete, entry.file));
      result.complete = false;
    }
  }
  // Only an empty group goes: whatever else someone put there stays.
  ::rmdir(group.c_str());
  message(result.complete ? kUninstallCompleted : kUninstallNotSuccessful);
  return result;
}

}  // namespace install

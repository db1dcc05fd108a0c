// uninstall's work, without a window: finds the installation by its main menu
// entry, deletes the program files from uninstall's own folder and the menu
// group, and reports each failure and the outcome.
#pragma once
#include <filesystem>
#include <optional>

#include "setup/install_layout.h"

namespace install {

inline constexpr const char* kNotFound = "Gleaner 2001 not found!";
inline constexpr const char* kCouldNotDelete = "%s could not be deleted!";
inline constexpr const char* kUninstallCompleted =
    "UnInstall of Gleaner completed.  Some elements could not be removed!";
inline constexpr const char* kUninstallNotSuccessful = "UnInstall of Gleaner not successful!";

struct UninstallResult {
  bool found = false;     // the main entry was there and names this folder's gleaner
  bool complete = false;  // every file and entry was deleted
};

// Deletes the installation whose program files are in `ownFolder`. Nothing is
// deleted unless the group's main entry exists and runs the gleaner of
// `ownFolder`: an uninstall started from anywhere else (a build folder, a
// second copy) must not delete the files beside it. uninstall itself and the
// target folder stay.
[[nodiscard]] UninstallResult Uninstall(const fs::path& ownFolder,
                                        const std::optional<fs::path>& programsFolder,
                                        const MessageSink& message);

}  // namespace install

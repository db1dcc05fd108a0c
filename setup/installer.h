// setup's work, without a window: validating and creating the target folder,
// copying the program files from setup's own folder, and making the menu
// group with its three entries. The dialog and the batch mode both call it.
#pragma once
#include <filesystem>
#include <optional>
#include <string>

#include "setup/install_layout.h"

namespace install {

inline constexpr const char* kEnterValidPath = "Enter a valid path";
inline constexpr const char* kCouldNotCopy = "%s could not be copied!";
inline constexpr const char* kAlreadyInstalled = "Gleaner already installed!";
inline constexpr const char* kSetupSuccess = "Setup Success!";
inline constexpr const char* kSetupNotSuccess = "Setup not Success!";

// "%s could not be copied!" and its like, with the name put in.
[[nodiscard]] std::string WithName(const char* text, const std::string& name);

// Checks the typed path and walks it folder by folder from `base` (or from
// the root for a path starting with "/"), entering each folder or creating it.
// A leading "~" stands for `home`. Returns the target folder's full path, or
// nothing when the path is not valid: empty, two slashes in a row, "::", or a
// folder that can be neither entered nor created. Folders created on the way
// stay when a later one fails.
[[nodiscard]] std::optional<fs::path> EnterTargetFolder(const std::string& text,
                                                        const fs::path& base,
                                                        const std::string& home);

struct InstallRequest {
  fs::path target;                       // from EnterTargetFolder
  fs::path sourceFolder;                 // where the program files are
  std::optional<fs::path> programsFolder;  // the XDG applications folder
};

// Copies the program files into the target (each failure named, the rest still
// copied), then, when all went well, makes the menu group and its entries,
// reading each entry back to check it. Ends with "Setup Success!" or "Setup not
// Success!"; true for the first.
[[nodiscard]] bool Install(const InstallRequest& request, const MessageSink& message);

// The whole run without the dialog: the path as typed (the initial path when
// empty), then Install. The exit status: 0 for "Setup Success!", else 1.
[[nodiscard]] int RunSetupBatch(const std::optional<std::string>& targetText,
                                const Environment& env, const fs::path& sourceFolder,
                                const MessageSink& message);

}  // namespace install

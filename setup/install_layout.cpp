#include "setup/install_layout.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace install {

Environment Environment::FromProcess() {
  Environment env;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    env.home = home;
  } else if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_dir != nullptr) {
    env.home = pw->pw_dir;
  }
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr) env.xdgDataHome = data;
  env.root = ::geteuid() == 0;
  return env;
}

std::optional<fs::path> ProgramsFolder(const Environment& env) {
  // A relative XDG_DATA_HOME is ignored, as the XDG base-directory rules say.
  if (!env.xdgDataHome.empty() && env.xdgDataHome.front() == '/') {
    return fs::path(env.xdgDataHome) / "applications";
  }
  if (env.home.empty()) return std::nullopt;
  return fs::path(env.home) / ".local" / "share" / "applications";
}

std::string InitialTargetPath(const Environment& env) {
  if (env.root || env.home.empty()) return "/opt/Gleaner";
  std::string home = env.home;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return (home == "/" ? "" : home) + "/.local/opt/Gleaner";
}

fs::path OwnFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return exe.parent_path();
  fs::path here = fs::current_path(ec);
  return ec ? fs::path(".") : here;
}

}  // namespace install

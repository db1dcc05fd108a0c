#include "setup/installer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "setup/desktop_entry.h"

namespace install {

namespace {

bool IsEnterableFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies through a temporary file beside the destination and renames it into
// place: an old copy is never left half overwritten, and a program that is
// running from the old copy keeps running.
bool CopyProgramFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  // Installing into setup's own folder: the file is already where it belongs,
  // and copying it onto itself would empty it.
  if (fs::equivalent(from, to, ec) && !ec) return true;

  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  std::string temp = (to.parent_path() / ("." + to.filename().string() + ".setup-XXXXXX")).string();
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  std::vector<char> buf(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  ok = ok && ::fchmod(out, st.st_mode & 0777) == 0;
  ok = ok && ::fsync(out) == 0;
  ok = (::close(out) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), to.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

// Reads an entry back the way a menu would: it parses, says what was written,
// and what it runs or opens is there (and runs).
bool EntryChecks(const fs::path& file, const DesktopEntry& written, const MenuEntry& layout,
                 const fs::path& target) {
  const std::optional<DesktopEntry> read = ReadDesktopEntry(file);
  if (!read || read->type != "Application" || read->name != written.name ||
      read->exec != written.exec) {
    return false;
  }
  std::error_code ec;
  if (!fs::is_regular_file(target, ec)) return false;
  return ::access(target.c_str(), layout.opensDocument ? R_OK : X_OK) == 0;
}

void MakeMenuGroup(const fs::path& target, const fs::path& programs, bool& success,
                   const MessageSink& message) {
  std::error_code ec;
  fs::create_directories(programs, ec);
  if (ec) {
    success = false;
    return;
  }
  const fs::path group = programs / kGroupName;
  if (::mkdir(group.c_str(), 0755) != 0) {
    if (errno == EEXIST) message(kAlreadyInstalled);
    success = false;
    return;
  }
  for (const MenuEntry& layout : kMenuEntries) {
    const fs::path file = group.string() + layout.file;
    const fs::path installed = target / layout.target;
    DesktopEntry entry;
    entry.name = layout.name;
    entry.comment = layout.comment;
    entry.exec = layout.opensDocument
                     ? std::vector<std::string>{"xdg-open", installed.string()}
                     : std::vector<std::string>{installed.string()};
    entry.icon = (target / kIconFile).string();
    entry.categories = layout.categories;
    if (!WriteDesktopEntry(file, entry) || !EntryChecks(file, entry, layout, installed)) {
      success = false;
    }
  }
}

}  // namespace

std::string WithName(const char* text, const std::string& name) {
  std::string out = text;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, name);
  return out;
}

std::optional<fs::path> EnterTargetFolder(const std::string& text, const fs::path& base,
                                          const std::string& home) {
  if (text.empty() || text.find("//") != std::string::npos ||
      text.find("::") != std::string::npos) {
    return std::nullopt;
  }
  std::string rest = text;
  fs::path current = base;
  if (rest.front() == '/') {
    current = "/";
    rest.erase(0, 1);
  } else if ((rest == "~" || rest.starts_with("~/")) && !home.empty()) {
    current = home;
    rest.erase(0, rest == "~" ? 1 : 2);
  }
  if (!IsEnterableFolder(current)) return std::nullopt;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string component = rest.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    const fs::path next = current / component;
    if (!IsEnterableFolder(next)) {
      if (::mkdir(next.c_str(), 0755) != 0 || !IsEnterableFolder(next)) return std::nullopt;
    }
    current = next;
  }
  std::error_code ec;
  fs::path full = fs::canonical(current, ec);
  if (ec) return std::nullopt;
  return full;
}

bool Install(const InstallRequest& request, const MessageSink& message) {
  bool success = true;
  for (const char* name : kProgramFiles) {
    if (!CopyProgramFile(request.sourceFolder / name, request.target / name)) {
      message(WithName(kCouldNotCopy, name));
      success = false;
    }
  }
  if (success) {
    if (request.programsFolder) {
      MakeMenuGroup(request.target, *request.programsFolder, success, message);
    } else {
      success = false;
    }
  }
  message(success ? kSetupSuccess : kSetupNotSuccess);
  return success;
}

int RunSetupBatch(const std::optional<std::string>& targetText, const Environment& env,
                  const fs::path& sourceFolder, const MessageSink& message) {
  std::error_code ec;
  fs::path base = fs::current_path(ec);
  if (ec) base = "/";
  const std::optional<fs::path> target =
      EnterTargetFolder(targetText.value_or(InitialTargetPath(env)), base, env.home);
  if (!target) {
    message(kEnterValidPath);
    return 1;
  }
  InstallRequest request;
  request.target = *target;
  request.sourceFolder = sourceFolder;
  request.programsFolder = ProgramsFolder(env);
  return Install(request, message) ? 0 : 1;
}

}  // namespace install

// setup and uninstall as a person's scripts run them: the built programs in
// batch mode under a home of their own, installing from the build folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "fixtures/image_builder.h"
#include "setup/desktop_entry.h"
#include "setup/install_layout.h"
#include "setup/installer.h"
#include "uninstall/uninstaller.h"

namespace fs = std::filesystem;
using namespace install;

namespace {

const fs::path kBin = GLEANER_BIN_DIR;

// A home, a data folder and a working folder of their own for each test.
class Account {
 public:
  Account() {
    fs::create_directories(Home());
    fs::create_directories(Work());
  }
  fs::path Root() const { return fs::canonical(tmp_.Path()); }
  fs::path Home() const { return fs::path(tmp_.Path()) / "home"; }
  fs::path Work() const { return fs::path(tmp_.Path()) / "work"; }
  fs::path Data() const { return fs::path(tmp_.Path()) / "data"; }
  fs::path Group() const { return Data() / "applications" / kGroupName; }

  struct Run {
    int status;
    std::string err;
  };
  // Runs a program in the working folder; what it says on standard error.
  Run Start(const fs::path& program, const std::string& args) const {
    std::string err;
    const int status = RunCommand(
        "cd " + ShellQuote(Work()) + " && HOME=" + ShellQuote(Home()) +
            " XDG_DATA_HOME=" + ShellQuote(Data()) + " " + ShellQuote(program) + " " + args +
            " 2>&1 >/dev/null",
        &err);
    return {status, err};
  }
  Run Setup(const fs::path& target, const fs::path& from = kBin) const {
    return Start(from / "setup", "--batch --target " + ShellQuote(target));
  }

 private:
  TempDir tmp_;
};

bool Built() { return fs::exists(kBin / "setup") && fs::exists(kBin / "uninstall"); }

std::string Text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// A copy of the build's program files in a folder of its own, less `without`.
fs::path CopyOfBuild(const fs::path& dir, const std::string& without = "") {
  fs::create_directories(dir);
  for (const char* name : kProgramFiles) {
    if (name != without) fs::copy_file(kBin / name, dir / name);
  }
  fs::copy_file(kBin / "setup", dir / "setup");
  return dir;
}

// Starts the program a menu entry runs, offscreen, on a floppy image, and
// waits until it has mapped the sector library; true when that library is
// the one at `library`. A program that ends first (or cannot find the
// library, and so never maps it) fails the check.
bool StartsAndLoads(const std::vector<std::string>& exec, const std::string& image,
                    const fs::path& library) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<char*> argv;
    std::string floppy = "--floppy";
    std::vector<std::string> args = exec;
    args.push_back(floppy);
    args.push_back(image);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  bool loaded = false;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
      if (line.ends_with(" " + library.string())) loaded = true;
    }
    if (loaded) break;
    ::usleep(20000);
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return loaded;
}

}  // namespace

TEST(SetupBatch, InstallsTheProgramFilesAndCheckedMenuEntries) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  const fs::path target = me.Home() / "Apps" / "Gleaner";
  const Account::Run run = me.Setup(me.Home().string() + "/Apps/Gleaner/");
  EXPECT_EQ(run.err, "Setup Success!\n");
  EXPECT_EQ(run.status, 0);

  EXPECT_EQ(Names(target), std::set<std::string>(kProgramFiles.begin(), kProgramFiles.end()));
  for (const char* name : kProgramFiles) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFileBytes(target / name), ReadFileBytes(kBin / name));
  }
  for (const char* name : {"gleaner", "gleaner-cli", "uninstall", "libsect32.so"}) {
    EXPECT_EQ(::access((target / name).c_str(), X_OK), 0) << name;
  }

  const fs::path real = fs::canonical(target);
  EXPECT_EQ(Names(me.Group()),
            (std::set<std::string>{"Gleaner.desktop", "Help.desktop", "UnInstall.desktop"}));
  const std::vector<std::vector<std::string>> runs = {
      {(real / "gleaner").string()},
      {"xdg-open", (real / "Gleaner.html").string()},
      {(real / "uninstall").string()}};
  for (size_t i = 0; i < kMenuEntries.size(); ++i) {
    const fs::path file = me.Group().string() + kMenuEntries[i].file;
    SCOPED_TRACE(file);
    std::string said;
    EXPECT_EQ(RunCommand("desktop-file-validate " + ShellQuote(file), &said), 0);
    EXPECT_EQ(said, "");
    const std::optional<DesktopEntry> entry = ReadDesktopEntry(file);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, kMenuEntries[i].name);
    EXPECT_EQ(entry->exec, runs[i]);
    EXPECT_EQ(entry->icon, (real / "gleaner.svg").string());
  }
  EXPECT_EQ(ReadDesktopEntry(me.Group() / "Help.desktop")->name, "Gleaner Help");
  EXPECT_EQ(ReadDesktopEntry(me.Group() / "UnInstall.desktop")->name, "Gleaner UnInstall");

  // What the main entry runs starts and loads the sector library beside it;
  // so does the installed gleaner-cli.
  const std::string image = me.Work() / "floppy.img";
  MakeSampleFloppy(image);
  EXPECT_TRUE(StartsAndLoads(runs[0], image, real / "libsect32.so"));
  std::string out;
  EXPECT_EQ(RunCommand(ShellQuote(real / "gleaner-cli") + " --floppy " + ShellQuote(image) +
                           " drives",
                       &out),
            0)
      << out;
}

TEST(SetupBatch, SecondInstallOverwritesFilesAndLeavesTheEntries) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  const fs::path target = me.Home() / "Gleaner";
  ASSERT_EQ(me.Setup(target).status, 0);
  std::ofstream(target / "Gleaner.html") << "an older guide";
  std::ofstream(me.Group() / "Gleaner.desktop", std::ios::app) << "# kept by hand\n";
  const std::string entry = Text(me.Group() / "Gleaner.desktop");

  const Account::Run again = me.Setup(target);
  EXPECT_EQ(again.err, "Gleaner already installed!\nSetup not Success!\n");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(ReadFileBytes(target / "Gleaner.html"), ReadFileBytes(kBin / "Gleaner.html"));
  EXPECT_EQ(Text(me.Group() / "Gleaner.desktop"), entry);
  EXPECT_EQ(Names(me.Group()).size(), 3u);
  // No temporary copy left behind.
  EXPECT_EQ(Names(target).size(), kProgramFiles.size());
}

TEST(SetupBatch, MissingProgramFileIsNamedAndNoGroupIsMade) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  const fs::path source = CopyOfBuild(me.Root() / "source", "Gleaner.html");
  const fs::path target = me.Home() / "Gleaner";
  const Account::Run run = me.Setup(target, source);
  EXPECT_EQ(run.err, "Gleaner.html could not be copied!\nSetup not Success!\n");
  EXPECT_EQ(run.status, 1);
  std::set<std::string> rest(kProgramFiles.begin(), kProgramFiles.end());
  rest.erase("Gleaner.html");
  EXPECT_EQ(Names(target), rest);
  EXPECT_FALSE(fs::exists(me.Group()));

  // Two missing, each named in copy order.
  fs::remove(source / "gleaner");
  EXPECT_EQ(me.Setup(me.Home() / "Other", source).err,
            "gleaner could not be copied!\nGleaner.html could not be copied!\n"
            "Setup not Success!\n");
}

TEST(SetupBatch, InstallingIntoItsOwnFolderKeepsTheFiles) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  const fs::path source = CopyOfBuild(me.Root() / "source");
  const Account::Run run = me.Setup(source, source);
  EXPECT_EQ(run.err, "Setup Success!\n");
  for (const char* name : kProgramFiles) {
    EXPECT_EQ(ReadFileBytes(source / name), ReadFileBytes(kBin / name)) << name;
  }
}

TEST(SetupBatch, InvalidPathsCreateNothing) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  std::ofstream(me.Work() / "plain") << "a file";
  for (const char* path : {"a//b", "a::b", "", "plain/Gleaner"}) {
    SCOPED_TRACE(path);
    const Account::Run run = me.Setup(path);
    EXPECT_EQ(run.err, "Enter a valid path\n");
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_EQ(Names(me.Work()), std::set<std::string>{"plain"});
  EXPECT_FALSE(fs::exists(me.Data()));
  // A relative path lands in the working folder; its trailing slash is fine.
  EXPECT_EQ(me.Setup("rel/Gleaner/").err, "Setup Success!\n");
  EXPECT_TRUE(fs::exists(me.Work() / "rel" / "Gleaner" / "gleaner"));
  // Unknown options are a usage error.
  EXPECT_EQ(me.Start(kBin / "setup", "--batch --frobnicate").status, 2);
}

TEST(UninstallBatch, RemovesWhatSetupInstalled) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  const fs::path target = me.Home() / "Gleaner";
  ASSERT_EQ(me.Setup(target).status, 0);

  const Account::Run run = me.Start(target / "uninstall", "--batch");
  EXPECT_EQ(run.err, "UnInstall of Gleaner completed.  Some elements could not be removed!\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Names(target), std::set<std::string>{"uninstall"});
  EXPECT_FALSE(fs::exists(me.Group()));
  EXPECT_TRUE(fs::is_directory(me.Data() / "applications"));

  const Account::Run again = me.Start(target / "uninstall", "--batch");
  EXPECT_EQ(again.err, "Gleaner 2001 not found!\n");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(Names(target), std::set<std::string>{"uninstall"});
}

TEST(UninstallBatch, NamesWhatIsAlreadyGoneAndKeepsForeignFiles) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  const fs::path target = me.Home() / "Gleaner";
  ASSERT_EQ(me.Setup(target).status, 0);
  fs::remove(target / "gleaner-cli");
  fs::remove(me.Group() / "Help.desktop");
  std::ofstream(me.Group() / "notes.txt") << "mine";

  const Account::Run run = me.Start(target / "uninstall", "--batch");
  EXPECT_EQ(run.err,
            "gleaner-cli could not be deleted!\n"
            "/Help.desktop could not be deleted!\n"
            "UnInstall of Gleaner not successful!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Names(target), std::set<std::string>{"uninstall"});
  // The group holds something setup did not put there: it stays, with it.
  EXPECT_EQ(Names(me.Group()), std::set<std::string>{"notes.txt"});
}

TEST(UninstallBatch, DeletesNothingBesideAnotherCopy) {
  if (!Built()) GTEST_SKIP() << "setup is built with the Qt programs";
  Account me;
  const fs::path target = me.Home() / "Gleaner";
  ASSERT_EQ(me.Setup(target).status, 0);
  // An uninstall that is not the installed one (here: a copy of the build)
  // finds no installation of its own folder and leaves both alone.
  const fs::path other = CopyOfBuild(me.Root() / "other");
  const Account::Run run = me.Start(other / "uninstall", "--batch");
  EXPECT_EQ(run.err, "Gleaner 2001 not found!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Names(other).size(), kProgramFiles.size() + 1);
  EXPECT_EQ(Names(target).size(), kProgramFiles.size());
  EXPECT_EQ(Names(me.Group()).size(), 3u);
}

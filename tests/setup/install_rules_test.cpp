// The installer's rules without running a program: the target path walk,
// the desktop entry format, and where the menu group goes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fixtures/image_builder.h"
#include "setup/desktop_entry.h"
#include "setup/install_layout.h"
#include "setup/installer.h"

namespace fs = std::filesystem;
using namespace install;

namespace {

size_t Entries(const fs::path& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

TEST(TargetPath, RefusedPathsCreateNothing) {
  TempDir tmp;
  const fs::path base = tmp.Path();
  for (const char* text : {"a//b", "a::b", "", "x/::", "dir//"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(EnterTargetFolder(text, base, tmp.Path()));
  }
  EXPECT_EQ(Entries(base), 0u);
  // A component that is a file can be neither entered nor created; the
  // folders before it stay.
  std::ofstream(tmp.File("plain")) << "x";
  EXPECT_FALSE(EnterTargetFolder("plain/inside", base, ""));
  EXPECT_FALSE(EnterTargetFolder("made/../plain/inside", base, ""));
  EXPECT_TRUE(fs::is_directory(tmp.File("made")));
  EXPECT_FALSE(fs::exists(tmp.File("inside")));
}

TEST(TargetPath, WalksAndCreatesEveryFolder) {
  TempDir tmp;
  const fs::path base = fs::canonical(tmp.Path());
  // Relative components resolve inside the one before; a trailing slash is fine.
  EXPECT_EQ(EnterTargetFolder("one/two/", base, ""), base / "one" / "two");
  EXPECT_EQ(EnterTargetFolder("one/two/../three", base, ""), base / "one" / "three");
  // An absolute path starts at the root, whatever the base.
  EXPECT_EQ(EnterTargetFolder((base / "abs" / "Gleaner").string(), "/nonexistent", ""),
            base / "abs" / "Gleaner");
  // "~" is the home folder.
  fs::create_directory(base / "home");
  EXPECT_EQ(EnterTargetFolder("~/.local/opt/Gleaner", base, (base / "home").string()),
            base / "home" / ".local" / "opt" / "Gleaner");
  EXPECT_EQ(EnterTargetFolder("/", base, ""), fs::path("/"));
  // Names with spaces and other characters a shell would mind are plain folders here.
  EXPECT_EQ(EnterTargetFolder("My Programs/$HOME's \"copy\"", base, ""),
            base / "My Programs" / "$HOME's \"copy\"");
}

TEST(MenuFolder, FollowsXdgDataHome) {
  Environment env;
  env.home = "/home/ann";
  EXPECT_EQ(ProgramsFolder(env), fs::path("/home/ann/.local/share/applications"));
  env.xdgDataHome = "/data/ann";
  EXPECT_EQ(ProgramsFolder(env), fs::path("/data/ann/applications"));
  env.xdgDataHome = "relative/data";  // not absolute: ignored, as the XDG rules say
  EXPECT_EQ(ProgramsFolder(env), fs::path("/home/ann/.local/share/applications"));
  env.home.clear();
  EXPECT_FALSE(ProgramsFolder(env));

  env.home = "/home/ann/";
  EXPECT_EQ(InitialTargetPath(env), "/home/ann/.local/opt/Gleaner");
  env.root = true;
  EXPECT_EQ(InitialTargetPath(env), "/opt/Gleaner");
}

TEST(DesktopEntryFormat, ExecArgumentsSurviveQuotingAndReadBack) {
  DesktopEntry entry;
  entry.name = "Gleaner 2001";
  entry.exec = {"/opt/My Apps/a\"b$c\\d%e`f", "plain", "100%"};
  entry.icon = "/opt/My Apps/gleaner.svg";
  entry.categories = "System;";
  const std::optional<std::string> text = FormatDesktopEntry(entry);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Version=1.0\n"
            "Name=Gleaner 2001\n"
            "Exec=\"/opt/My Apps/a\\\\\"b\\\\$c\\\\\\\\d%%e\\\\`f\" plain 100%%\n"
            "Icon=/opt/My Apps/gleaner.svg\n"
            "Terminal=false\n"
            "Categories=System;\n");
  const std::optional<DesktopEntry> back = ParseDesktopEntry(*text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->exec, entry.exec);
  EXPECT_EQ(back->name, entry.name);
  EXPECT_EQ(back->icon, entry.icon);

  // The validator agrees with the quoting.
  TempDir tmp;
  ASSERT_TRUE(WriteDesktopEntry(tmp.File("odd.desktop"), entry));
  std::string said;
  EXPECT_EQ(RunCommand("desktop-file-validate " + ShellQuote(tmp.File("odd.desktop")), &said), 0)
      << said;
  EXPECT_EQ(said, "");
}

TEST(DesktopEntryFormat, UnwritableValuesAndBrokenFilesAreRefused) {
  DesktopEntry entry;
  entry.name = "Gleaner 2001";
  entry.exec = {"/opt/line\nbreak/gleaner"};
  EXPECT_FALSE(FormatDesktopEntry(entry));
  entry.exec = {"/opt/\xff\xfe/gleaner"};  // not UTF-8
  EXPECT_FALSE(FormatDesktopEntry(entry));
  entry.exec = {"/opt/caf\xc3\xa9/gleaner"};
  EXPECT_TRUE(FormatDesktopEntry(entry));
  TempDir tmp;
  entry.exec = {"/opt/\t/gleaner"};
  EXPECT_FALSE(WriteDesktopEntry(tmp.File("x.desktop"), entry));
  EXPECT_FALSE(fs::exists(tmp.File("x.desktop")));

  EXPECT_FALSE(ParseDesktopEntry("Type=Application\nName=x\n"));           // no group
  EXPECT_FALSE(ParseDesktopEntry("[Other]\nType=Application\nName=x\n"));  // wrong group first
  EXPECT_FALSE(ParseDesktopEntry("[Desktop Entry]\nType=Application\nName=x\nName=y\n"));
  EXPECT_FALSE(ParseDesktopEntry("[Desktop Entry]\nType=Application\nName=x\nExec=\"/a b\n"));
  EXPECT_FALSE(ParseDesktopEntry("[Desktop Entry]\nType=Application\nName=x\nno key here\n"));
  const std::optional<DesktopEntry> ok = ParseDesktopEntry(
      "# made by hand\n[Desktop Entry]\nType = Application\nName=x\nName[de]=y\n"
      "Exec=\\s/a  \"b c\"\n[Desktop Action New]\nName=z\n");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->name, "x");
  EXPECT_EQ(ok->exec, (std::vector<std::string>{"/a", "b c"}));
  EXPECT_FALSE(ReadDesktopEntry(tmp.File("missing.desktop")));
}

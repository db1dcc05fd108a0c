// setup: installs Gleaner from its own folder into a folder the person picks
// and adds the "Gleaner 2001" menu group. With --batch it runs without a
// window for scripts: the messages go to standard error, one a line.
#include <QApplication>
#include <QFile>
#include <cstdio>
#include <algorithm>
#include <vector>
#include <optional>
#include <string>

#include "setup/install_layout.h"
#include "setup/installer.h"
#include "setup/setup_dialog.h"

namespace {

constexpr const char* kUsage =
    "usage: setup [--batch] [--target FOLDER]\n"
    "\n"
    "  --target FOLDER   the folder to install into (default ~/.local/opt/Gleaner,\n"
    "                    /opt/Gleaner for root)\n"
    "  --batch           install without the dialog; messages go to standard error,\n"
    "                    exit status 0 when setup succeeded, 1 otherwise\n";

// Our own options; false on one we do not know.
bool ParseOptions(const std::vector<std::string>& args, bool& batch,
                  std::optional<std::string>& target) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--batch") {
      batch = true;
    } else if (args[i] == "--target" && i + 1 < args.size()) {
      target = args[++i];
    } else {
      std::fprintf(stderr, "setup: unknown argument: %s\n%s", args[i].c_str(), kUsage);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  bool batch = false;
  std::optional<std::string> target;
  const install::Environment env = install::Environment::FromProcess();
  if (std::find(args.begin(), args.end(), "--batch") != args.end()) {
    // No QApplication here: batch mode needs no display.
    if (!ParseOptions(args, batch, target)) return 2;
    return install::RunSetupBatch(target, env, install::OwnFolder(), [](const std::string& text) {
      std::fprintf(stderr, "%s\n", text.c_str());
    });
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Gleaner Setup"));
  // Qt has taken its own options (-platform and the like) out by now.
  args.clear();
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    args.push_back(QFile::encodeName(arguments[i]).toStdString());
  }
  if (!ParseOptions(args, batch, target)) return 2;
  const QString initial = QFile::decodeName(target.value_or(install::InitialTargetPath(env)).c_str());
  SetupDialog dialog(env, install::OwnFolder(), initial);
  dialog.exec();
  return 0;
}

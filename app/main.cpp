// gleaner: the Qt main program. Takes the drive arguments, binds disk access
// and opens the main window on the drives.
#include <QApplication>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/app_icon.h"
#include "app/app_state.h"
#include "app/dialog_runner.h"
#include "app/main_window.h"
#include "app/qt_prompt_port.h"
#include "disk/disk_access.h"
#include "disk/drive_args_help.h"

namespace {

// The drive arguments' lines are gleaner-cli's too.
std::string Usage() {
  return std::string(
             "usage: gleaner [DRIVE [--mapfile MAP]]... [--read-only] [--direct]\n"
             "               [--undo-dir DIR | --no-undo]\n"
             "  where DRIVE is --floppy FILE, --disk FILE or FILE\n"
             "\n") +
         kDriveArgsHelp;
}

}  // namespace

int main(int argc, char** argv) {
  // --help answers before Qt starts: it must work where there is no display.
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
      std::fputs(Usage().c_str(), stdout);
      return 0;
    }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Gleaner"));
  QApplication::setWindowIcon(AppIcon());

  // Qt has taken its own options out of the arguments by now.
  std::vector<std::string> args;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("--help") || arguments[i] == QLatin1String("-h")) {
      std::fputs(Usage().c_str(), stdout);
      return 0;
    }
    args.push_back(arguments[i].toLocal8Bit().toStdString());
  }
  DriveArgsResult parsed = ParseDriveArgs(args);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "gleaner: %s\n%s", parsed.error.c_str(), Usage().c_str());
    return 2;
  }
  if (!parsed.rest.empty()) {
    std::fprintf(stderr, "gleaner: no such drive or file: %s\n%s", parsed.rest.front().c_str(),
                 Usage().c_str());
    return 2;
  }
  if (!parsed.namedDrives) {
    DriveMapConfig system = ScanSystemDrives();
    parsed.config.floppies = system.floppies;
    parsed.config.disks = system.disks;
  }

  QtPromptPort prompt;
  AppState state(prompt);
  DialogRunner dialogs;
  MainWindow window(state, dialogs);
  prompt.SetOwner(&window);
  prompt.SetStatusLabels(window.StatusPane(0), window.StatusPane(1));
  prompt.SetIdleText(0, kIdleStatus);
  window.UseSettings(DefaultSettingsFile());
  window.show();

  BindOptions options;
  options.drives = parsed.config;
  options.programFolder = RunningProgramFolder(argv[0]);
  window.Start(options);
  return app.exec();
}

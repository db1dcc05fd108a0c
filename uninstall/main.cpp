// uninstall: removes the Gleaner installation it belongs to (the program
// files beside it and the "Gleaner 2001" menu group) and reports in one
// message box. With --batch the messages go to standard error instead.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "setup/install_layout.h"
#include "uninstall/uninstaller.h"

int main(int argc, char** argv) {
  bool batch = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--batch") == 0) {
      batch = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(
          "usage: uninstall [--batch]\n"
          "\n"
          "  Removes the Gleaner installed in this program's folder and its menu group.\n"
          "  --batch   without message boxes; messages go to standard error,\n"
          "            exit status 0 when everything was removed, 1 otherwise\n",
          stdout);
      return 0;
    }
  }

  const install::Environment env = install::Environment::FromProcess();
  std::vector<std::string> messages;
  const install::UninstallResult result =
      install::Uninstall(install::OwnFolder(), install::ProgramsFolder(env),
                         [&](const std::string& text) {
                           if (batch) std::fprintf(stderr, "%s\n", text.c_str());
                           messages.push_back(text);
                         });
  if (batch) return result.found && result.complete ? 0 : 1;

  QApplication app(argc, argv);
  for (const std::string& text : messages) {
    QMessageBox box(text == install::kUninstallCompleted ? QMessageBox::Information : QMessageBox::Warning,
                    QStringLiteral("UNINSTALL"),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
  }
  return 0;
}

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTreeWidget>

#include "app/qt_prompt_port.h"
#include "disk/disk_access.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  DriveArgsResult parsed = ParseDriveArgs(args);
  if (!parsed.namedDrives) {
    DriveMapConfig sys = ScanSystemDrives();
    sys.readOnly = parsed.config.readOnly;
    sys.direct = parsed.config.direct;
    parsed.config = sys;
  }

  QMainWindow window;
  auto* splitter = new QSplitter(&window);
  splitter->addWidget(new QTreeWidget(splitter));
  splitter->addWidget(new QTableView(splitter));
  window.setCentralWidget(splitter);
  auto* first = new QLabel(&window);
  first->setFixedWidth(200);
  auto* second = new QLabel(&window);
  window.statusBar()->addWidget(first);
  window.statusBar()->addWidget(second, 1);

  QtPromptPort prompt(&window);
  prompt.SetStatusLabels(first, second);
  DiskAccess access(prompt);
  BindOptions options;
  options.drives = parsed.config;
  options.programFolder = RunningProgramFolder(argv[0]);
  BindDiskAccess(access, options);

  window.resize(900, 600);
  window.show();
  const int rc = app.exec();
  access.Release();
  return rc;
}

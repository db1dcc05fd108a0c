#include "app/main_window.h"

#include <algorithm>

#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "app/app_icon.h"
#include "app/command_table.h"
#include "app/dialog_runner.h"
#include "app/help_window.h"
#include "app/list_pane.h"
#include "app/tree_pane.h"
#include "disk/disk_access.h"
#include "views/editor_page.h"
#include "views/list_ops.h"
#include "recovery/directory_image.h"
#include "recovery/copy_out.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The dialogs of these commands come with their own parts of the program;
// until one is plugged in (SetOperation) its command stays disabled.
// The panes' widths before the person drags the splitter.
constexpr int kFirstTreeWidth = 300;
constexpr int kFirstListWidth = 980;
const QString kTreeWidthKey = QStringLiteral("window/treeWidth");

bool IsOperation(int id) {
  switch (id) {
    case kCmdDiskCopy:
    case kCmdSearch:
    case kCmdScan:
    case kCmdUndelete:
    case kCmdBackup:
    case kCmdRestore:
    case kCmdRename:
    case kCmdCopyToFloppy:
    case kCmdFindDeleted:
    case kCmdCopyOut:
      return true;
    default:
      return false;
  }
}

}  // namespace

MainWindow::MainWindow(AppState& state, DialogRunner& dialogs, QWidget* parent)
    : QMainWindow(parent), state_(state), dialogs_(dialogs) {
  setWindowTitle(QString::fromLatin1(kFrameCaption));
  setWindowIcon(AppIcon());

  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setChildrenCollapsible(false);
  tree_ = new TreePane(state_, splitter_);
  list_ = new ListPane(state_.pane, splitter_);
  tree_->setMinimumWidth(100);
  list_->setMinimumWidth(100);
  splitter_->addWidget(tree_);
  splitter_->addWidget(list_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({kFirstTreeWidth, kFirstListWidth});
  setCentralWidget(splitter_);

  BuildActions();
  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  BuildAccelerators();
  SetOperation(kCmdUndelete, [this] { OnUndelete(); });
  SetOperation(kCmdRename, [this] { OnRename(); });
  SetOperation(kCmdScan, [this] {
    dialogs_.ScanDisk(this, state_.access, tree_->SelectedPacket());
    // Its repairs write the FATs: what is on show is read again.
    ReadAgainAfterWrite(QString::fromLatin1(kStatusToolDone).arg(QStringLiteral("Scan Disks for Errors")));
  });
  SetOperation(kCmdBackup, [this] { OnCriticalAreas(true); });
  SetOperation(kCmdRestore, [this] { OnCriticalAreas(false); });
  SetOperation(kCmdDiskCopy, [this] { OnDiskCopy(); });
  SetOperation(kCmdCopyToFloppy, [this] { OnCopyToFloppy(); });
  SetOperation(kCmdSearch, [this] { OnSearch(); });
  SetOperation(kCmdFindDeleted, [this] { OnFindDeleted(); });
  SetOperation(kCmdCopyOut, [this] { OnCopyOut(); });

  connect(tree_, &TreePane::NodeShown, this, &MainWindow::AfterNodeShown);
  connect(tree_, &TreePane::NodeExpanded, this, &MainWindow::UpdateCommands);
  connect(tree_, &TreePane::NodeMenuRequested, this, &MainWindow::ShowNodeMenu);
  connect(list_, &ListPane::RowDoubleClicked, this, &MainWindow::EditRow);
  connect(list_, &ListPane::MenuRequested, this, &MainWindow::ShowRowMenu);

  // Never larger than the screen's free area (a high scale factor makes the
  // usual size run off the screen).
  QSize size(1280, 800);
  if (QScreen* shown = screen()) size = size.boundedTo(shown->availableGeometry().size());
  resize(size);
  UpdateCommands();
}

MainWindow::~MainWindow() {
  SaveSettings();
  ReleaseAll();
  if (help_) delete help_.data();
}

QString DefaultSettingsFile() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QStringLiteral("/gleaner/gleaner.conf");
}


void MainWindow::UseSettings(const QString& path) {
  settingsFile_ = path;
  const QSettings settings(settingsFile_, QSettings::IniFormat);
  bool ok = false;
  const int width = settings.value(kTreeWidthKey).toInt(&ok);
  // A width from a hand-edited or foreign file is held to the panes' minimums.
  if (ok && width >= tree_->minimumWidth()) {
    // Out of the same total as the first layout's: the window is not laid
    // out yet, and the splitter keeps the tree's width while the list
    // takes what the window has over.
    const int total = kFirstTreeWidth + kFirstListWidth;
    const int tree = std::min(width, total - list_->minimumWidth());
    splitter_->setSizes({tree, total - tree});
  }
  connect(splitter_, &QSplitter::splitterMoved, this, &MainWindow::SaveSettings, Qt::UniqueConnection);
}

void MainWindow::SaveSettings() const {
  if (settingsFile_.isEmpty()) return;
  QSettings settings(settingsFile_, QSettings::IniFormat);
  settings.setValue(kTreeWidthKey, splitter_->sizes().value(0));
}

QAction* MainWindow::MakeAction(int id, const QString& text, bool checkable) {
  auto* action = new QAction(text, this);
  action->setCheckable(checkable);
  action->setStatusTip(Q(StatusTipOf(id)));
  const std::string tip = ToolTipOf(id);
  if (!tip.empty()) action->setToolTip(Q(tip));
  action->setData(id);
  connect(action, &QAction::triggered, this, [this, id] { Dispatch(id); });
  actions_[id] = action;
  return action;
}

void MainWindow::BuildActions() {
  QStyle* s = style();
  MakeAction(kCmdExit, QStringLiteral("E&xit"));
  MakeAction(kCmdToggleToolBar, QStringLiteral("&Toolbar"), true);
  MakeAction(kCmdToggleStatusBar, QStringLiteral("&Status Bar"), true);
  MakeAction(kCmdRefresh, QStringLiteral("R&efresh Disks\tF5"));
  MakeAction(kCmdGoToSector, QStringLiteral("&Go to a Sector\tCtrl+G"));
  MakeAction(kCmdSectorDump, QStringLiteral("&Sector/Cluster Dumping\tCtrl+F4"), true);
  MakeAction(kCmdRawDump, QStringLiteral("Raw Sector &Dumping\tF4"), true);
  MakeAction(kCmdWriteChanges, QStringLiteral("&Write Changes"));
  MakeAction(kCmdDiskCopy, QStringLiteral("&Disk Copy\tF9"));
  MakeAction(kCmdSearch, QStringLiteral("&Search Raw Disk\tF3"));
  MakeAction(kCmdUndelete, QStringLiteral("&Undelete\tAlt+F7"));
  MakeAction(kCmdBackup, QStringLiteral("&Backup Critical Areas\tF2"));
  MakeAction(kCmdRestore, QStringLiteral("&Restore Critical Areas\tCtrl+F2"));
  MakeAction(kCmdRename, QStringLiteral("&Rename After Recovery of Deleted Files"));
  MakeAction(kCmdScan, QStringLiteral("S&can Disks for Errors\tCtrl+F6"));
  MakeAction(kCmdCopyToFloppy, QStringLiteral("Copy File to &Floppy"));
  MakeAction(kCmdFindDeleted, QString::fromUtf8("&Find Deleted Files\u2026"));
  MakeAction(kCmdCopyOut, QString::fromUtf8("Copy &Out To Folder\u2026"));
  MakeAction(kCmdUndoWrites, QStringLiteral("Undo &Writes\u2026"));
  MakeAction(kCmdUsage, QStringLiteral("&Usage\tF1"));
  MakeAction(kCmdAbout, QStringLiteral("&About Gleaner..."))
      ->setIcon(s->standardIcon(QStyle::SP_MessageBoxQuestion));
  // Toolbar only.
  MakeAction(kCmdViewDetails, QStringLiteral("&Details"), true)
      ->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
  MakeAction(kCmdPrevious, QStringLiteral("Previous Sector/Cluster"))
      ->setIcon(s->standardIcon(QStyle::SP_ArrowLeft));
  MakeAction(kCmdNext, QStringLiteral("Next Sector/Cluster"))
      ->setIcon(s->standardIcon(QStyle::SP_ArrowRight));
  actions_[kCmdExit]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  // The page keys page a dump; while there is nothing to page the actions are
  // disabled and the keys go to the pane as usual.
  actions_[kCmdNext]->setShortcut(QKeySequence(Qt::Key_PageDown));
  actions_[kCmdPrevious]->setShortcut(QKeySequence(Qt::Key_PageUp));
  actions_[kCmdToggleToolBar]->setChecked(true);
  actions_[kCmdToggleStatusBar]->setChecked(true);
  // The list is a report list, the one style a table view has.
  actions_[kCmdViewDetails]->setChecked(true);
}

void MainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();
  auto add = [&](QMenu* menu, std::initializer_list<int> ids) {
    for (int id : ids) {
      if (id == 0)
        menu->addSeparator();
      else
        menu->addAction(actions_.at(id));
    }
    connect(menu, &QMenu::aboutToShow, this, &MainWindow::UpdateCommands);
  };
  add(bar->addMenu(QStringLiteral("&File")), {kCmdExit});
  add(bar->addMenu(QStringLiteral("&View")), {kCmdToggleToolBar, kCmdToggleStatusBar});
  add(bar->addMenu(QStringLiteral("&Action")),
      {kCmdRefresh, kCmdGoToSector, 0, kCmdSectorDump, kCmdRawDump});
  add(bar->addMenu(QStringLiteral("&Changes")), {kCmdWriteChanges});
  add(bar->addMenu(QStringLiteral("&Operations")),
      {kCmdDiskCopy, 0, kCmdSearch, kCmdUndelete, kCmdScan, 0, kCmdBackup, kCmdRestore, 0,
       kCmdRename, kCmdCopyToFloppy, 0, kCmdFindDeleted, kCmdCopyOut, 0, kCmdUndoWrites});
  add(bar->addMenu(QStringLiteral("&Help")), {kCmdUsage, 0, kCmdAbout});
}

void MainWindow::BuildToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Standard"));
  toolBar_->setObjectName(QStringLiteral("mainToolBar"));
  toolBar_->setIconSize(QSize(20, 20));
  toolBar_->setMovable(true);
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  toolBar_->addAction(actions_.at(kCmdViewDetails));
  toolBar_->addSeparator();
  toolBar_->addAction(actions_.at(kCmdPrevious));
  toolBar_->addAction(actions_.at(kCmdNext));
  toolBar_->addSeparator();
  toolBar_->addAction(actions_.at(kCmdAbout));
  connect(toolBar_, &QToolBar::visibilityChanged, this, &MainWindow::UpdateCommands);
}

void MainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  status_[0] = new QLabel(QString::fromLatin1(kIdleStatus), bar);
  status_[0]->setObjectName(QStringLiteral("statusPane0"));
  // 200 pixels, and wider while a longer text ("Restore Drives done: read
  // again from the disk") needs it: a status cut short says something else.
  status_[0]->setMinimumWidth(200);
  status_[1] = new QLabel(bar);
  status_[1]->setObjectName(QStringLiteral("statusPane1"));
  for (QLabel* label : status_) {
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setIndent(3);
  }
  bar->addWidget(status_[0]);
  bar->addWidget(status_[1], 1);
  // Fly-by help takes the bar while a menu item or button is under the
  // mouse; afterwards the first pane says the program is idle.
  connect(bar, &QStatusBar::messageChanged, this, [this](const QString& message) {
    if (message.isEmpty()) status_[0]->setText(QString::fromLatin1(kIdleStatus));
  });
}

void MainWindow::BuildAccelerators() {
  QList<QKeySequence> taken;
  for (const Accelerator& acc : Accelerators()) {
    const QKeySequence key(QString::fromLatin1(acc.keys), QKeySequence::PortableText);
    // A key listed twice belongs to its first entry.
    if (taken.contains(key)) continue;
    taken << key;
    auto* action = new QAction(this);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setObjectName(QStringLiteral("accelerator %1").arg(acc.keys));
    const int id = acc.id;
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    addAction(action);
  }
}

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::SetOperation(int id, std::function<void()> run) {
  if (!IsOperation(id)) return;
  operations_[id] = std::move(run);
  UpdateCommands();
}

bool MainWindow::CommandEnabled(int id) const {
  if (state_.access.WritesRefused() &&
      std::find(std::begin(kWritingCommands), std::end(kWritingCommands), id) != std::end(kWritingCommands))
    return false;
  const bool ready = state_.access.DrivesReady();
  // Commands that act on a drive need one to act on.
  const bool drive = ready && state_.access.FloppyCount() + state_.access.HardDiskCount() > 0;
  switch (id) {
    case kCmdPrevious: return state_.pane.canGoPrevious;
    case kCmdNext: return state_.pane.canGoNext;
    case kCmdRefresh:
      return ready;
    case kCmdSectorDump:
    case kCmdRawDump:
    case kCmdGoToSector:
      return drive;
    case kCmdWriteChanges:
      // Only a page of bytes that all read can be written.
      return drive && ShownPageKind(state_.pane) != PageKind::None && !state_.pane.rows.empty() &&
             !PageHasUnreadableSector(state_.pane);
    case kCmdBackup:
    case kCmdRestore:
    case kCmdDiskCopy:
    case kCmdSearch:
    case kCmdScan:
    case kCmdUndelete:
    case kCmdRename:
      return drive && operations_.count(id) != 0;
    case kCmdCopyToFloppy:
      // A file of a listing to copy: a root directory or folder on show with
      // a row selected.
      return drive && operations_.count(id) != 0 && !state_.pane.fileDumpShown &&
             !state_.pane.SelectedRows().empty() &&
             DirectoryOnShow(state_.pane, state_.pane.selectedPacket).has_value();
    case kCmdFindDeleted:
      return drive && operations_.count(id) != 0 && FindDeletedAllowed(state_.pane.selectedPacket);
    case kCmdCopyOut:
      return drive && operations_.count(id) != 0 && CopyOutAllowed(state_.pane, state_.pane.selectedPacket, state_.pane.SelectedRows());
    case kCmdUndoWrites:
    case kCmdUsage:
    case kCmdAbout:
    case kCmdExit:
    case kCmdToggleToolBar:
    case kCmdToggleStatusBar:
    case kCmdViewDetails:
    case kCmdNextPane:
    case kCmdPreviousPane:
      return true;
    default:
      // No handler (the accelerators of cut, paste, undo, ... and the icon
      // styles, which a table view does not have).
      return false;
  }
}

void MainWindow::UpdateCommands() {
  for (auto& [id, action] : actions_) action->setEnabled(CommandEnabled(id));
  // The commands that write are off under --read-only, and their tips say why.
  const bool readOnly = state_.access.WritesRefused();
  for (const int id : kWritingCommands) {
    const auto it = actions_.find(id);
    if (it == actions_.end()) continue;
    if (!writingTips_.contains(id)) writingTips_.insert(id, it->second->statusTip());
    it->second->setStatusTip(readOnly ? QString::fromLatin1(kDrivesReadOnly) : writingTips_.value(id));
  }
  actions_[kCmdSectorDump]->setChecked(state_.modes.sectorDump);
  actions_[kCmdRawDump]->setChecked(state_.modes.rawDump);
  actions_[kCmdToggleToolBar]->setChecked(!toolBar_->isHidden());
  actions_[kCmdToggleStatusBar]->setChecked(!statusBar()->isHidden());
  actions_[kCmdViewDetails]->setChecked(true);
}

void MainWindow::RunCommand(int id) {
  UpdateCommands();
  if (!CommandEnabled(id)) return;
  if (QAction* action = Action(id)) {
    // As the menu item or button would: a check mark flips, then it runs.
    action->trigger();
    return;
  }
  Dispatch(id);
}

void MainWindow::Dispatch(int id) {
  if (!CommandEnabled(id)) {
    UpdateCommands();
    return;
  }
  switch (id) {
    case kCmdPrevious: OnPrevious(); break;
    case kCmdNext: OnNext(); break;
    case kCmdRefresh: OnRefresh(); break;
    case kCmdSectorDump:
    case kCmdRawDump: OnDumpModeChanged(); break;
    case kCmdWriteChanges: OnWriteChanges(); break;
    case kCmdGoToSector: OnGoToSector(); break;
    case kCmdUsage: OnUsage(); break;
    case kCmdAbout: dialogs_.ShowAbout(this); break;
    case kCmdUndoWrites: OnUndoWrites(); break;
    case kCmdExit: close(); break;
    case kCmdToggleToolBar: toolBar_->setVisible(actions_[kCmdToggleToolBar]->isChecked()); break;
    case kCmdToggleStatusBar:
      statusBar()->setVisible(actions_[kCmdToggleStatusBar]->isChecked());
      break;
    case kCmdViewDetails: break;  // already the list's style
    case kCmdNextPane:
    case kCmdPreviousPane: OnSwitchPane(); break;
    default:
      if (auto it = operations_.find(id); it != operations_.end()) {
        it->second();
        list_->Reload();
      }
      break;
  }
  UpdateCommands();
}

bool MainWindow::Start(const BindOptions& options) {
  programFolder_ = options.programFolder;
  bound_ = options;
  // Say it where it is always in sight: nothing can be written, or what is
  // written now cannot be undone.
  const bool undoOff = !options.drives.undo && !options.drives.readOnly;
  setWindowTitle(QString::fromLatin1(kFrameCaption) +
                 (options.drives.readOnly ? QStringLiteral(" [read-only]") : QString()) +
                 (undoOff ? QString::fromLatin1(kUndoOffCaption) : QString()));
  const bool ready = BindDiskAccess(state_.access, options);
  if (ready) tree_->ListDrives();
  UpdateCommands();
  return ready;
}

void MainWindow::AfterNodeShown() {
  list_->Reload();
  UpdateCommands();
}

void MainWindow::ReleaseAll() {
  if (released_) return;
  released_ = true;
  tree_->ClearNodes();
  ListPaneState& pane = state_.pane;
  pane.viewKind = ViewKind::None;
  pane.sectorBuffer = {};
  pane.clusterChain = {};
  pane.chainLength = 0;
  pane.rowStore = {};
  pane.rows = {};
  pane.columns = {};
  pane.Select({});
  pane.canGoPrevious = pane.canGoNext = false;
  list_->Reload();
  state_.store.Rewind();
  state_.access.Release();
  state_.access.SetDrivesReady(false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (help_) help_->close();
  ReleaseAll();
  event->accept();
}

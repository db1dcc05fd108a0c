// The main window: the splitter with the tree pane and the list pane, the
// menu, the toolbar, the accelerators and the two-part status bar. Every menu
// item, button and key names a command id; RunCommand runs one as they do,
// and a disabled command does nothing.
#pragma once
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <optional>

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/help_window.h"
#include "disk/disk_access.h"

class DialogRunner;
class ListPane;
class QLabel;
class QSplitter;
class QToolBar;
class TreePane;

inline constexpr const char* kFrameCaption = "Gleaner 1.0 - Disk Inspection and FAT Recovery for Linux";
inline constexpr const char* kIdleStatus = "Ready";
// What the first status pane says after a command that wrote.
inline constexpr const char* kStatusUndeleted = "Undeleted: %1 file(s)";
inline constexpr const char* kStatusUndeleteFailed = "Undelete: a write failed";
inline constexpr const char* kStatusNothingUndeleted = "Nothing undeleted";
inline constexpr const char* kStatusRenamed = "Renamed to %1";
inline constexpr const char* kStatusRenameRefused = "Rename refused";
inline constexpr const char* kStatusRenameFailed = "Rename: a write failed";
inline constexpr const char* kStatusChangesWritten = "Changes written";
inline constexpr const char* kStatusCopiedToFloppy = "Copied to the floppy";
inline constexpr const char* kStatusCopyToFloppyFailed = "Copy to floppy: not all written";
inline constexpr const char* kStatusWritesUndone = "Writes undone";
// The commands that write to the drives: off under --read-only.
inline constexpr int kWritingCommands[] = {kCmdWriteChanges, kCmdBackup,  kCmdRestore,
                                           kCmdUndelete,     kCmdRename,  kCmdCopyToFloppy};
inline constexpr const char* kStatusWritesPartlyUndone = "Undo: %1 put back, %2 left";
inline constexpr const char* kStatusToolDone = "%1 done: read again from the disk";
// Ends the title while writes keep no undo files (--no-undo).
inline constexpr const char* kUndoOffCaption = " (undo off)";

// Where the window keeps its layout between runs: $XDG_CONFIG_HOME/gleaner/
// gleaner.conf, else ~/.config/gleaner/gleaner.conf.
QString DefaultSettingsFile();

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow(AppState& state, DialogRunner& dialogs, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The tree's first update: binds disk access and lists the drives. True
  // when the drives are ready.
  bool Start(const BindOptions& options);

  // Keeps the tree pane's width in the settings file path: taken from it now,
  // written when the person drags the splitter and when the window goes.
  // Without it (the tests' windows) no file is read or written.
  void UseSettings(const QString& path);

  // Runs a command as its menu item, button or key would; nothing while it is
  // disabled or when nothing handles it.
  void RunCommand(int id);
  bool CommandEnabled(int id) const;
  // The menu or toolbar action of a command; nullptr for one without.
  QAction* Action(int id) const;
  // Plugs a dialog of the Operations commands in; the command is enabled from
  // then on (Backup and Restore only while the drives are ready).
  void SetOperation(int id, std::function<void()> run);
  // Brings enabled states and check marks up to date.
  void UpdateCommands();

  // The list's double-click on a row and the two right-click menus.
  void EditRow(int row);
  void ShowRowMenu(const QPoint& globalPos);
  void ShowNodeMenu(const DrivePacket& packet, const QPoint& globalPos);

  TreePane* Tree() const { return tree_; }
  ListPane* List() const { return list_; }
  QSplitter* Splitter() const { return splitter_; }
  QToolBar* ToolBar() const { return toolBar_; }
  QLabel* StatusPane(int pane) const { return pane == 0 ? status_[0] : status_[1]; }
  HelpWindow* Help() const { return help_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildActions();
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void BuildAccelerators();
  QAction* MakeAction(int id, const QString& text, bool checkable = false);

  // Runs a command whose action (if any) has fired.
  void Dispatch(int id);
  void AfterNodeShown();
  void ReleaseAll();
  void SaveSettings() const;

  // The handlers.
  void OnRefresh();
  void OnDumpModeChanged();
  void OnPrevious();
  void OnNext();
  void OnWriteChanges();
  void OnGoToSector();
  void OnUsage();
  void OnSwitchPane();
  void OnUndelete();
  void OnRename();
  void OnCriticalAreas(bool backup);
  void OnDiskCopy();
  void OnCopyToFloppy();
  // Runs a tool's dialog modally with its controls lent to the prompt port.
  void RunToolDialog(QDialog& dialog, const std::map<int, QWidget*>& controls);
  void OnSearch();
  void OnFindDeleted();
  void OnCopyOut();
  // The root directory of the volume the selected tree node belongs to.
  std::optional<DrivePacket> SelectedVolumeRoot();
  void OnUndoWrites();
  // After a command that wrote: the selected node's children in the tree
  // and the list are read again from the disk, and the first status pane
  // says what was done. The node is shown again (its selected rows kept),
  // or, with pageOnly, the page on show is read again where it is.
  void ReadAgainAfterWrite(const QString& done, bool pageOnly = false);

  AppState& state_;
  DialogRunner& dialogs_;
  TreePane* tree_ = nullptr;
  ListPane* list_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QString settingsFile_;
  QToolBar* toolBar_ = nullptr;
  QLabel* status_[2] = {nullptr, nullptr};
  QPointer<HelpWindow> help_;
  std::map<int, QAction*> actions_;
  // The status tips of the writing commands, which --read-only replaces.
  QHash<int, QString> writingTips_;
  std::map<int, std::function<void()>> operations_;
  std::string programFolder_;
  BindOptions bound_;
  bool released_ = false;
};

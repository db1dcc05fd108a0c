// How the window asks the person for input: the byte dialog, the sector jump,
// the new short name of a recovered entry, the raw search, the About box
// and pop-up menus. The default runs the real modal dialogs;
// tests put a scripted runner in its place so nothing blocks.
#pragma once
#include <QPoint>
#include <QString>

#include "app/byte_dialog.h"
#include "recovery/rename_entry.h"
#include "tools/undo_writes.h"

class DiskAccess;
class ListPane;
class QAction;
class QDialog;
class QMenu;
class QWidget;
struct AppState;
struct DrivePacket;

class DialogRunner {
 public:
  virtual ~DialogRunner() = default;
  // "Enter Bytes to Change" with texts in its boxes; on OK the boxes' texts
  // are put back into texts. False on Cancel.
  virtual bool EditBytes(QWidget* parent, ByteBoxTexts& texts);
  // "Goto a Specific Sector" with text in its box; on OK the box's text is
  // put back. False on Cancel.
  virtual bool AskSector(QWidget* parent, QString& text);
  virtual void ShowAbout(QWidget* parent);
  // Rename After Recovery's dialog; on OK input holds the typed name and
  // extension, one check takes. False on Cancel.
  virtual bool AskShortName(QWidget* parent, ShortNameInput& input, const ShortNameCheck& check);
  // Scan Disk for Errors over the drives of access, until the person closes
  // it; the volume of selected (the tree's node, if any) is chosen at the start.
  virtual void ScanDisk(QWidget* parent, DiskAccess& access, const DrivePacket* selected);
  // A tool's modal dialog (backup, restore, disk copy), prepared and ready.
  virtual void RunModal(QDialog& dialog);
  // A file to write a floppy image to (disk copy's target); empty on Cancel.
  virtual QString AskTargetImage(QWidget* parent, const QString& caption);
  // "Search Bytes" on node, modal; a hit goes into the list pane.
  virtual void RunSearch(QWidget* parent, AppState& state, ListPane& list, const DrivePacket& node);
  // A folder of the host to copy into; empty on Cancel.
  virtual QString AskFolder(QWidget* parent, const QString& caption);
  // Find Deleted Files over the volume whose root directory is root.
  virtual void FindDeleted(QWidget* parent, DiskAccess& access, const DrivePacket& root);
  // Undo Writes…: the file chosen from files (an index), or -1 on Cancel.
  virtual int ChooseUndoFile(QWidget* parent, const std::vector<UndoFileInfo>& files);
  // A pop-up menu at a screen position; the chosen action or nullptr.
  virtual QAction* PopupMenu(QMenu& menu, const QPoint& globalPos);
};

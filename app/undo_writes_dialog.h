// Undo Writes…: the undo files of the drives on show, newest first, each with
// its time, its drive and the number of sectors it keeps. The dialog only
// chooses one; the window asks Yes/No and the core puts the sectors back.
#pragma once
#include <QDialog>
#include <vector>

#include "tools/undo_writes.h"

class QTreeWidget;
class QPushButton;

inline constexpr const char* kUndoDialogTitle = "Undo Writes";

class UndoWritesDialog : public QDialog {
  Q_OBJECT
 public:
  UndoWritesDialog(const std::vector<UndoFileInfo>& files, QWidget* parent = nullptr);

  // The row chosen, or -1.
  int Chosen() const;
  QTreeWidget* List() const { return list_; }
  QPushButton* UndoButton() const { return undo_; }

  // One row's texts: time (local, "YYYY-MM-DD HH:MM:SS"), drive, sector count,
  // file name.
  static QStringList RowTexts(const UndoFileInfo& file);

 private:
  QTreeWidget* list_ = nullptr;
  QPushButton* undo_ = nullptr;
};

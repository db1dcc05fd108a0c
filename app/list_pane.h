// The right pane: a report-style list over the list-pane state. Columns are
// titled and sized as the views give them; the selection is mirrored into
// the state's selected rows, which the recovery commands read.
#pragma once
#include <QKeyEvent>
#include <QTableView>

#include "app/list_model.h"
#include "app/list_pane_state.h"

class ListPane : public QTableView {
  Q_OBJECT
 public:
  explicit ListPane(ListPaneState& pane, QWidget* parent = nullptr);

  ListModel* Model() const { return model_; }
  // The pane's content was replaced: rows, columns, widths and selection.
  void Reload();
  // The page on show changed in place (paging, a jump, an edit): cells and
  // selection; falls back to Reload when the rows or columns differ.
  void Repaint();
  // Makes row the current row (keyboard focus) and shows it.
  void FocusRow(int row);
  // The texts of a row as painted (for the tests and the CLI's likeness).
  QStringList RowTexts(int row) const;

 signals:
  // A double-click on a row (never on the empty area below the rows), or
  // Enter on the current row.
  void RowDoubleClicked(int row);
  void MenuRequested(const QPoint& globalPos);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
 public:
  // Shift+F10 or the Menu key: the keyboard's way to a context menu.
  static bool IsContextMenuKey(const QKeyEvent& event) {
    return event.key() == Qt::Key_Menu ||
           (event.key() == Qt::Key_F10 && (event.modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier);
  }
 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void ApplyColumnWidths();
  void SelectionToView();
  void SelectionFromView();

  ListPaneState& pane_;
  ListModel* model_ = nullptr;
  bool syncing_ = false;
};

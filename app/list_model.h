// The list pane's table model: its rows, columns and titles are the list-pane
// state's, and every cell's text is asked of FormatCell when the view paints
// it, so a dump of any size costs nothing until it is shown.
#pragma once
#include <QAbstractTableModel>
#include <string_view>

#include "app/list_pane_state.h"

class ListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ListModel(const ListPaneState& pane, QObject* parent = nullptr)
      : QAbstractTableModel(parent), pane_(pane) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The pane's content was replaced: new rows and columns.
  void Reload();
  // The pane's cells changed in place (a page stepped, a row edited); the
  // rows and columns are those already shown.
  void CellsChanged(int firstRow, int lastRow);
  // Whether the view's shape (row count, column titles) is the pane's.
  bool ShapeMatches() const;

 private:
  const ListPaneState& pane_;
  // The shape the view was last told about.
  int shownRows_ = 0;
  int shownColumns_ = 0;
};

// A cell text as the list shows it: UTF-8 when it is valid UTF-8 (long file
// names), otherwise each byte as its Windows ANSI (1252) character (the
// character half of a dump, short names with bytes past 0x7F); control
// characters as their symbols (U+2400 block).
QString CellText(std::string_view text);

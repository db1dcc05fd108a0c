#include "app/list_pane.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <algorithm>

#include "app/column_widths.h"

ListPane::ListPane(ListPaneState& pane, QWidget* parent) : QTableView(parent), pane_(pane) {
  model_ = new ListModel(pane_, this);
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setTextElideMode(Qt::ElideRight);
  setCornerButtonEnabled(false);
  setTabKeyNavigation(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  // Report rows are one line of text high.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  QHeaderView* header = horizontalHeader();
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setMinimumSectionSize(4);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { SelectionFromView(); });
}

namespace {

bool IsHexDump(const ListPaneState& pane) {
  return (pane.viewKind == ViewKind::ClusterDump || pane.viewKind == ViewKind::SectorDump ||
          pane.viewKind == ViewKind::RawSectorDump) &&
         HexDumpColumns(pane);
}

// The widest character a byte of a dump can show as, with the cell's margins.
int ByteGlyphWidth(const QWidget* view) {
  const QFontMetrics metrics(view->font());
  int widest = 0;
  for (int b = 1; b < 256; ++b)
    widest = qMax(widest, metrics.horizontalAdvance(CellText(std::string(1, static_cast<char>(b)))));
  const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
  return widest + 2 * margin;
}

}  // namespace

void ListPane::ApplyColumnWidths() {
  QHeaderView* header = horizontalHeader();
  // Rows out of view are not measured; in a dump any byte may come into view.
  const int byteColumn = IsHexDump(pane_) ? ByteGlyphWidth(this) : 0;
  for (size_t c = 0; c < pane_.columns.size() && static_cast<int>(c) < header->count(); ++c) {
    const int column = static_cast<int>(c);
    // The window's width for the column, unless this font needs more for the
    // title or for a text in view: the widths were chosen for a smaller
    // system font.
    const int needed = qMax(header->sectionSizeHint(column), sizeHintForColumn(column));
    const int character = column >= 18 ? byteColumn : 0;
    header->resizeSection(column, std::max({ColumnWidth(pane_, c), needed, character}));
  }
}

void ListPane::Reload() {
  syncing_ = true;
  model_->Reload();
  ApplyColumnWidths();
  scrollToTop();
  syncing_ = false;
  SelectionToView();
}

void ListPane::Repaint() {
  if (!model_->ShapeMatches()) {
    Reload();
    return;
  }
  model_->CellsChanged(0, model_->rowCount() - 1);
  SelectionToView();
}

void ListPane::SelectionToView() {
  syncing_ = true;
  QItemSelection selection;
  const int rows = model_->rowCount();
  const int columns = model_->columnCount();
  if (columns > 0)
    for (int row : pane_.SelectedRows())
      if (row >= 0 && row < rows) selection.select(model_->index(row, 0), model_->index(row, columns - 1));
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  syncing_ = false;
  SelectionFromView();
}

void ListPane::SelectionFromView() {
  if (syncing_) return;
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  pane_.Select(std::move(rows));
}

void ListPane::FocusRow(int row) {
  if (row < 0 || row >= model_->rowCount() || model_->columnCount() == 0) return;
  const QModelIndex index = model_->index(row, 0);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  scrollTo(index);
}

QStringList ListPane::RowTexts(int row) const {
  QStringList texts;
  for (int c = 0; c < model_->columnCount(); ++c)
    texts << model_->data(model_->index(row, c)).toString();
  return texts;
}

void ListPane::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && index.isValid()) emit RowDoubleClicked(index.row());
}

void ListPane::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      currentIndex().isValid()) {
    emit RowDoubleClicked(currentIndex().row());
    event->accept();
    return;
  }
  // Shift+F10 and the Menu key open the menu at the current row.
  if (IsContextMenuKey(*event)) {
    const QRect row = visualRect(currentIndex());
    emit MenuRequested(viewport()->mapToGlobal(row.isValid() ? row.center() : QPoint(0, 0)));
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void ListPane::contextMenuEvent(QContextMenuEvent* event) {
  emit MenuRequested(event->globalPos());
  event->accept();
}

#include "app/list_model.h"

#include <QUtf8StringView>
#include <climits>

#include "views/format_cell.h"
#include "disk/long_name.h"

namespace {

// Control characters would move or break the text of a one-line cell; each
// is shown as its own symbol (U+2401 for 0x01, ..., U+2421 for 0x7F).
void ShowControls(QString& text) {
  for (QChar& c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20)
      c = QChar(char16_t(0x2400 + u));
    else if (u == 0x7F)
      c = QChar(char16_t(0x2421));
  }
}

}  // namespace

QString CellText(std::string_view text) {
  QString out;
  const QUtf8StringView utf8(text.data(), static_cast<qsizetype>(text.size()));
  if (utf8.isValidUtf8()) {
    out = utf8.toString();
  } else {
    // Cells are UTF-8; a text that is not is taken byte by byte as ANSI.
    for (char ch : text) out += QString::fromStdString(AnsiByteToUtf8(static_cast<uint8_t>(ch)));
  }
  ShowControls(out);
  return out;
}

namespace {

int Clamp(size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }
}  // namespace

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shownRows_;
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shownColumns_;
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shownRows_ || index.column() >= shownColumns_)
    return {};
  switch (role) {
    case Qt::DisplayRole:
      return CellText(FormatCell(pane_, static_cast<size_t>(index.row()), index.column()));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (section < 0 || section >= shownColumns_ || static_cast<size_t>(section) >= pane_.columns.size())
    return {};
  switch (role) {
    case Qt::DisplayRole:
      return CellText(pane_.columns[static_cast<size_t>(section)].title);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
      return {};
  }
}

void ListModel::Reload() {
  beginResetModel();
  shownRows_ = Clamp(pane_.rows.size());
  shownColumns_ = Clamp(pane_.columns.size());
  endResetModel();
}

bool ListModel::ShapeMatches() const {
  return shownRows_ == Clamp(pane_.rows.size()) && shownColumns_ == Clamp(pane_.columns.size());
}

void ListModel::CellsChanged(int firstRow, int lastRow) {
  if (!ShapeMatches()) {
    Reload();
    return;
  }
  if (shownRows_ == 0 || shownColumns_ == 0) return;
  firstRow = qBound(0, firstRow, shownRows_ - 1);
  lastRow = qBound(firstRow, lastRow, shownRows_ - 1);
  emit dataChanged(index(firstRow, 0), index(lastRow, shownColumns_ - 1), {Qt::DisplayRole});
  emit headerDataChanged(Qt::Horizontal, 0, shownColumns_ - 1);
}

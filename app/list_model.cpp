#include "app/list_model.h"

#include <QUtf8StringView>
#include <climits>

#include "views/format_cell.h"

namespace {

// Windows-1252 for 0x80-0x9F, the bytes where it differs from Latin-1; its
// five unassigned bytes show as the box a missing glyph is drawn as.
constexpr char16_t kAnsiHigh[32] = {
    0x20AC, 0x25A1, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x25A1, 0x017D, 0x25A1, 0x25A1, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x25A1, 0x017E, 0x0178};

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
    // Single bytes: the character half of a dump, short names past 0x7F.
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char ch : text) {
      const auto b = static_cast<unsigned char>(ch);
      out += (b >= 0x80 && b < 0xA0) ? QChar(kAnsiHigh[b - 0x80]) : QChar(char16_t(b));
    }
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

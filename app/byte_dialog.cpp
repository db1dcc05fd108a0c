#include "app/byte_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "views/row_edit.h"

ByteDialog::ByteDialog(const ByteBoxTexts& texts, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kByteDialogTitle));
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const int boxWidth = QFontMetrics(fixed).horizontalAdvance(QStringLiteral("WW")) + 14;
  for (int k = 0; k < 16; ++k) {
    auto* box = new QLineEdit(texts[static_cast<size_t>(k)], this);
    const int id = kByteBoxFirstId + k;
    box->setObjectName(QString::number(id));
    box->setProperty("controlId", id);
    box->setMaxLength(kByteBoxMaxChars);
    box->setFont(fixed);
    box->setFixedWidth(boxWidth);
    box->setAlignment(Qt::AlignCenter);
    box->setAccessibleName(QStringLiteral("Byte %1").arg(k, 2, 16, QLatin1Char('0')).toUpper());
    boxes_[static_cast<size_t>(k)] = box;
    // Byte k sits in row k / 8; a small gap after the fourth box of a row
    // keeps the halves apart as a dump row shows them.
    const int column = (k % 8) + ((k % 8) >= 4 ? 1 : 0);
    grid->addWidget(box, k / 8, column);
  }
  grid->setColumnMinimumWidth(4, 6);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(6);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  boxes_[0]->setFocus();
  boxes_[0]->selectAll();
}

ByteBoxTexts ByteDialog::Texts() const {
  ByteBoxTexts texts;
  for (size_t k = 0; k < boxes_.size(); ++k) texts[k] = boxes_[k]->text();
  return texts;
}

QLineEdit* ByteDialog::Box(int controlId) const {
  const int k = controlId - kByteBoxFirstId;
  if (k < 0 || k >= 16) return nullptr;
  return boxes_[static_cast<size_t>(k)];
}

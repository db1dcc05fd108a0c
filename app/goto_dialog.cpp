#include "app/goto_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "views/sector_jump.h"

GotoDialog::GotoDialog(const QString& text, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kJumpDialogTitle));
  auto* label = new QLabel(QString::fromLatin1(kJumpDialogLabel), this);
  box_ = new QLineEdit(this);
  box_->setObjectName(QString::number(kJumpBoxId));
  box_->setProperty("controlId", kJumpBoxId);
  // The limit is on typing; a first sector with more digits than the limit
  // (a volume past 476 GiB) is still shown whole, never cut to a wrong number.
  box_->setMaxLength(qMax(kJumpBoxMaxChars, static_cast<int>(text.size())));
  box_->setText(text);
  box_->selectAll();
  label->setBuddy(box_);

  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(box_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addSpacing(6);
  layout->addWidget(buttons);
  box_->setMinimumWidth(box_->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 16);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString GotoDialog::Text() const { return box_->text(); }

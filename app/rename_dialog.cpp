#include "app/rename_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* Box(QWidget* parent, int id, int maxChars) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::number(id));
  box->setProperty("controlId", id);
  box->setMaxLength(maxChars);
  box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QString(maxChars + 1, QChar('W'))));
  return box;
}

}  // namespace

RenameDialog::RenameDialog(QWidget* parent, ShortNameCheck check)
    : QDialog(parent), check_(std::move(check)) {
  setObjectName(QStringLiteral("153"));
  setWindowTitle(QStringLiteral("Rename After Recovery"));
  name_ = Box(this, kRenameNameId, 8);
  extension_ = Box(this, kRenameExtensionId, 3);

  auto* form = new QFormLayout;
  form->addRow(new QLabel(QStringLiteral("DOS File Name"), this), name_);
  form->addRow(new QLabel(QStringLiteral("Extension"), this), extension_);
  // Wide enough for the longest refusal on two lines.
  refusal_ = new QLabel(this);
  refusal_->setObjectName(QStringLiteral("refusal"));
  refusal_->setWordWrap(true);
  refusal_->setFixedWidth(refusal_->fontMetrics().horizontalAdvance(QString(48, QChar('n'))));
  refusal_->hide();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setText(QStringLiteral("OK"));
  ok->setProperty("controlId", 1);
  ok->setDefault(true);
  QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
  cancel->setText(QStringLiteral("Cancel"));
  cancel->setProperty("controlId", 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(refusal_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  name_->setFocus();
}

ShortNameInput RenameDialog::Input() const {
  return {name_->text().toStdString(), extension_->text().toStdString()};
}

void RenameDialog::accept() {
  if (check_) {
    if (const std::optional<std::string> refusal = check_(Input())) {
      // The name stays in its boxes to be corrected.
      refusal_->setText(QString::fromStdString(*refusal));
      refusal_->show();
      name_->setFocus();
      return;
    }
  }
  QDialog::accept();
}

AskShortName RenameDialog::Asker(QWidget* parent) {
  return [parent](ShortNameInput& input, const ShortNameCheck& check) {
    RenameDialog dialog(parent, check);
    // The entry's present name, to be changed rather than typed anew.
    dialog.NameBox()->setText(QString::fromStdString(input.name));
    dialog.ExtensionBox()->setText(QString::fromStdString(input.extension));
    dialog.NameBox()->selectAll();
    if (dialog.exec() != QDialog::Accepted) return false;
    input = dialog.Input();
    return true;
  };
}

#include "app/undo_writes_dialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

UndoWritesDialog::UndoWritesDialog(const std::vector<UndoFileInfo>& files, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kUndoDialogTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      files.empty() ? QStringLiteral("No undo files of the drives on show.")
                    : QStringLiteral("Choose the undo file to put back, newest first:"),
      this));
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Drive"), QStringLiteral("Sectors"),
                          QStringLiteral("Undo File")});
  for (const UndoFileInfo& f : files) list_->addTopLevelItem(new QTreeWidgetItem(RowTexts(f)));
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  if (!files.empty()) list_->setCurrentItem(list_->topLevelItem(0));
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  undo_ = buttons->addButton(QStringLiteral("&Undo"), QDialogButtonBox::AcceptRole);
  undo_->setEnabled(!files.empty());
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
  layout->addWidget(buttons);
  resize(720, 320);
}

int UndoWritesDialog::Chosen() const {
  QTreeWidgetItem* item = list_->currentItem();
  return item != nullptr ? list_->indexOfTopLevelItem(item) : -1;
}

QStringList UndoWritesDialog::RowTexts(const UndoFileInfo& f) {
  return {QDateTime::fromSecsSinceEpoch(f.created).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
          QString::fromStdString(f.drive), QString::number(f.sectors),
          QFileInfo(QString::fromStdString(f.file)).fileName()};
}

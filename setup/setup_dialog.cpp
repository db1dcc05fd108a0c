#include "setup/setup_dialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/installer.h"

SetupDialog::SetupDialog(install::Environment env, install::fs::path sourceFolder,
                         QString initialPath, install::MessageSink message, QWidget* parent)
    : QDialog(parent), env_(std::move(env)), source_(std::move(sourceFolder)),
      message_(std::move(message)) {
  setWindowTitle(QStringLiteral("Enter Setup Folder for Gleaner 2001"));
  target_ = new QLineEdit(initialPath, this);
  target_->setMinimumWidth(320);
  auto* browse = new QPushButton(QStringLiteral("&Browse"), this);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);

  auto* label = new QLabel(QStringLiteral("&Folder:"), this);
  label->setBuddy(target_);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(target_, 1);
  row->addWidget(browse);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  connect(browse, &QPushButton::clicked, this, &SetupDialog::Browse);
  connect(ok_, &QPushButton::clicked, this, &SetupDialog::Ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SetupDialog::Show(const std::string& text) {
  if (message_) {
    message_(text);
    return;
  }
  // Success is news, not a warning.
  QMessageBox box(text == install::kSetupSuccess ? QMessageBox::Information : QMessageBox::Warning,
                  QStringLiteral("SETUP"), QString::fromStdString(text), QMessageBox::Ok, this);
  box.exec();
}

void SetupDialog::Browse() {
  const QString folder = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select Folder"), target_->text(), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) target_->setText(QDir::toNativeSeparators(folder));
}

void SetupDialog::Ok() {
  const install::MessageSink show = [this](const std::string& text) { Show(text); };
  const std::string typed = QFile::encodeName(target_->text()).toStdString();
  const std::optional<install::fs::path> target =
      install::EnterTargetFolder(typed, QFile::encodeName(QDir::currentPath()).toStdString(),
                                 env_.home);
  if (!target) {
    show(install::kEnterValidPath);
    return;
  }
  // The message boxes below run their own event loop: no second OK meanwhile.
  ok_->setEnabled(false);
  install::InstallRequest request;
  request.target = *target;
  request.sourceFolder = source_;
  request.programsFolder = install::ProgramsFolder(env_);
  installed_ = install::Install(request, show);
  accept();
}

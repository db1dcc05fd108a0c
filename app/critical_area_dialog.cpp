#include "app/critical_area_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/control_ids.h"
#include "app/control_tag.h"

CriticalAreaDialog::CriticalAreaDialog(DiskAccess& access, CriticalAreaTool tool, QWidget* parent)
    : QDialog(parent), access_(access), tool_(tool) {
  const bool backup = tool == CriticalAreaTool::Backup;
  setObjectName(backup ? QStringLiteral("131") : QStringLiteral("132"));
  setWindowTitle(backup ? QStringLiteral("Backup Drives") : QStringLiteral("Restore Drives"));

  floppies_ = Tagged(new QComboBox(this), 1001);
  hardDisks_ = Tagged(new QComboBox(this), 1002);
  progress_ = Tagged(new QLabel(this), backup ? kBackupProgressId : kRestoreProgressId);
  progress_->setMinimumWidth(220);
  run_ = Tagged(new QPushButton(backup ? QStringLiteral("&Backup") : QStringLiteral("&Restore"), this),
                backup ? 1004 : 1006);
  close_ = Tagged(new QPushButton(QStringLiteral("&Close"), this), 1005);
  run_->setDefault(true);
  run_->setAutoDefault(true);
  close_->setAutoDefault(false);

  auto* form = new QVBoxLayout;
  form->addWidget(new QLabel(backup ? QStringLiteral("Select Destination Floppy Drive:")
                                    : QStringLiteral("Select Source Floppy Drive:"),
                             this));
  form->addWidget(floppies_);
  if (backup) {
    verify_ = Tagged(new QCheckBox(QStringLiteral("&Verify while backup"), this), 1014);
    form->addWidget(verify_);
  }
  form->addWidget(new QLabel(backup ? QStringLiteral("Select Source Hard Drive:")
                                    : QStringLiteral("Select Destination Hard Drive:"),
                             this));
  form->addWidget(hardDisks_);
  if (!backup) {
    auto* group = new QGroupBox(QStringLiteral("Restore Areas"), this);
    tables_ = Tagged(new QCheckBox(QStringLiteral("&Partition Table"), group), 1013);
    bootRecords_ = Tagged(new QCheckBox(QStringLiteral("&Boot Records"), group), 1017);
    tables_->setChecked(true);
    bootRecords_->setChecked(true);
    auto* g = new QVBoxLayout(group);
    g->addWidget(tables_);
    g->addWidget(bootRecords_);
    form->addWidget(group);
  }
  form->addWidget(progress_);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(run_);
  buttons->addWidget(close_);
  buttons->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(form, 1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(run_, &QPushButton::clicked, this, &CriticalAreaDialog::OnRun);
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);
}

bool CriticalAreaDialog::Prepare() {
  CriticalAreaDrives drives;
  if (!OpenCriticalAreaDrives(access_, tool_, drives)) return false;
  floppies_->clear();
  hardDisks_->clear();
  for (uint32_t i = 1; i <= drives.floppies; ++i)
    floppies_->addItem(QStringLiteral("Floppy Disk %1").arg(i));
  for (uint32_t i = 1; i <= drives.hardDisks; ++i)
    hardDisks_->addItem(QStringLiteral("Hard Disk %1").arg(i));
  floppies_->setCurrentIndex(0);
  hardDisks_->setCurrentIndex(0);
  return true;
}

std::map<int, QWidget*> CriticalAreaDialog::Controls() const {
  return {{progress_->property("controlId").toInt(), progress_}};
}

void CriticalAreaDialog::Events::Progress(std::string_view text) {
  dialog_.progress_->setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

void CriticalAreaDialog::OnRun() {
  if (floppies_->currentIndex() < 0 || hardDisks_->currentIndex() < 0) return;
  const auto floppy = static_cast<uint16_t>(floppies_->currentIndex());
  const auto disk = static_cast<uint16_t>(kFirstHardDisk + hardDisks_->currentIndex());
  // The run holds the dialog until it ends, as a handler does.
  if (tool_ == CriticalAreaTool::Backup) {
    BackupOptions o;
    o.floppy = floppy;
    o.hardDisk = disk;
    o.verify = verify_->isChecked();
    Events events(*this);
    last_ = BackupCriticalAreas(access_, o, &events);
  } else {
    RestoreOptions o;
    o.floppy = floppy;
    o.hardDisk = disk;
    o.partitionTables = tables_->isChecked();
    o.bootRecords = bootRecords_->isChecked();
    Events events(*this);
    last_ = RestoreCriticalAreas(access_, o, &events);
  }
}

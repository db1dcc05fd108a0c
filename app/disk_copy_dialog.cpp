#include "app/disk_copy_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>

#include "app/control_ids.h"
#include "app/control_tag.h"

DiskCopyDialog::DiskCopyDialog(DiskAccess& access, std::function<QString(QWidget*)> askTargetImage,
                               QWidget* parent)
    : QDialog(parent), access_(access), askTargetImage_(std::move(askTargetImage)) {
  setObjectName(QStringLiteral("102"));
  setWindowTitle(QStringLiteral("Copy Floppy Disk"));
  drives_ = Tagged(new QComboBox(this), kCopyDriveListId);
  for (uint32_t i = 1; i <= access_.FloppyCount(); ++i)
    drives_->addItem(QStringLiteral("Floppy Disk %1").arg(i));
  drives_->setCurrentIndex(drives_->count() > 0 ? 0 : -1);
  verify_ = Tagged(new QCheckBox(QStringLiteral("&Verify Write"), this), kCopyVerifyId);
  copy_ = Tagged(new QPushButton(QStringLiteral("&Copy"), this), kCopyButtonId);
  stop_ = Tagged(new QPushButton(QStringLiteral("&Stop Copy"), this), kCopyStopId);
  progress_ = Tagged(new QProgressBar(this), kCopyProgressId);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  copy_->setDefault(true);
  stop_->setEnabled(false);

  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Disk:"), this), 0, 0);
  layout->addWidget(drives_, 0, 1);
  layout->addWidget(copy_, 0, 2);
  layout->addWidget(verify_, 1, 1);
  layout->addWidget(stop_, 1, 2);
  layout->addWidget(progress_, 2, 0, 1, 3);
  progress_->setMinimumWidth(300);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(copy_, &QPushButton::clicked, this, &DiskCopyDialog::OnCopy);
  connect(stop_, &QPushButton::clicked, this, [this] { control_.stop = true; });
}

DiskCopyDialog::~DiskCopyDialog() {
  if (!worker_.joinable()) return;
  // Only reached when the program goes away mid-copy: the worker is asked to
  // stop, and its questions still find an event loop until it has ended.
  control_.stop = true;
  while (control_.running) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  worker_.join();
}

std::map<int, QWidget*> DiskCopyDialog::Controls() const {
  return {{kCopyDriveListId, drives_},
          {kCopyVerifyId, verify_},
          {kCopyButtonId, copy_},
          {kCopyStopId, stop_},
          {kCopyProgressId, progress_}};
}

void DiskCopyDialog::SetIdle(bool idle) {
  drives_->setEnabled(idle);
  copy_->setEnabled(idle);
  verify_->setEnabled(idle);
  stop_->setEnabled(!idle);
}

void DiskCopyDialog::OnCopy() {
  if (control_.running || worker_.joinable() || drives_->currentIndex() < 0) return;
  DiskCopyOptions options;
  options.floppy = static_cast<uint16_t>(drives_->currentIndex());
  options.verify = verify_->isChecked();
  DiskCopyGeometry geometry;
  if (!StartDiskCopy(access_, options, geometry)) return;
  SetIdle(false);
  progress_->setValue(0);

  control_.nextImage = nullptr;
  if (FloppyIsImageFile(access_, options.floppy)) {
    // An image file stands for the drive: the person picks each target
    // image where a real drive would want a new disk.
    control_.nextImage = [this]() -> std::optional<std::string> {
      QString path;
      QMetaObject::invokeMethod(
          this, [this, &path] { path = askTargetImage_ ? askTargetImage_(this) : QString(); },
          Qt::BlockingQueuedConnection);
      if (path.isEmpty()) return std::nullopt;
      return path.toLocal8Bit().toStdString();
    };
  }
  control_.progress = [this](uint32_t position, uint32_t range) {
    QMetaObject::invokeMethod(
        progress_,
        [bar = progress_, position, range] {
          bar->setRange(0, static_cast<int>(std::max<uint32_t>(range, 1)));
          bar->setValue(static_cast<int>(position));
        },
        Qt::QueuedConnection);
  };
  control_.ended = [this] {
    QMetaObject::invokeMethod(this, [this] { SetIdle(true); }, Qt::QueuedConnection);
  };
  control_.running = true;
  control_.stop = false;
  worker_ = std::thread([this, options, geometry] {
    last_ = RunDiskCopy(access_, options, geometry, control_);
    QMetaObject::invokeMethod(this, [this] { OnWorkerEnded(); }, Qt::QueuedConnection);
  });
}

void DiskCopyDialog::OnWorkerEnded() {
  if (worker_.joinable()) worker_.join();
  SetIdle(true);
  progress_->setValue(0);
  emit CopyEnded();
}

bool DiskCopyDialog::GuardRunning() {
  if (!control_.running && !worker_.joinable()) return false;
  access_.Prompt().Message(kCopyInProgress);
  control_.stop = true;
  return true;
}

void DiskCopyDialog::reject() {
  if (GuardRunning()) return;
  QDialog::reject();
}

void DiskCopyDialog::closeEvent(QCloseEvent* event) {
  if (GuardRunning()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

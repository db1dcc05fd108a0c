// Dialog 102 "Copy Floppy Disk": the floppy, Verify Write, Copy, Stop Copy
// and a progress bar of one step a cylinder. Copy starts the core's disk copy
// on a worker thread; the dialog will not close while it runs.
#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <thread>

#include "tools/disk_copy.h"

class QCheckBox;
class QComboBox;
class QProgressBar;
class QPushButton;

class DiskCopyDialog : public QDialog {
  Q_OBJECT
 public:
  // askTargetImage: the file dialog that picks a target image, run on the
  // UI thread with the dialog as parent; an empty path is Cancel.
  DiskCopyDialog(DiskAccess& access, std::function<QString(QWidget*)> askTargetImage,
                 QWidget* parent = nullptr);
  ~DiskCopyDialog() override;

  // The controls the worker speaks to by id.
  std::map<int, QWidget*> Controls() const;
  bool Running() const { return control_.running; }
  const DiskCopyResult& LastResult() const { return last_; }

  QComboBox* Drives() const { return drives_; }
  QCheckBox* Verify() const { return verify_; }
  QPushButton* CopyButton() const { return copy_; }
  QPushButton* StopButton() const { return stop_; }
  QProgressBar* Progress() const { return progress_; }

 signals:
  void CopyEnded();

 public slots:
  void reject() override;  // Esc and Cancel: the close guard

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnCopy();
  void OnWorkerEnded();
  void SetIdle(bool idle);
  // While a copy runs: says so, asks it to stop, and keeps the dialog open.
  bool GuardRunning();

  DiskAccess& access_;
  std::function<QString(QWidget*)> askTargetImage_;
  QComboBox* drives_ = nullptr;
  QCheckBox* verify_ = nullptr;
  QPushButton* copy_ = nullptr;
  QPushButton* stop_ = nullptr;
  QProgressBar* progress_ = nullptr;
  DiskCopyControl control_;
  DiskCopyResult last_;
  std::thread worker_;
};

#include "app/scan_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QVBoxLayout>

#include <cstdio>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "recovery/deleted_files.h"
#include "scan/scan_texts.h"

ScanDialog::ScanDialog(DiskAccess& access, QWidget* parent, const DrivePacket* selected)
    : QDialog(parent), access_(access), port_(this) {
  setWindowTitle(QString::fromLatin1(kScanCaption));

  drives_ = new QComboBox(this);
  auto* driveLabel = new QLabel(QStringLiteral("Drive Select:"), this);
  driveLabel->setBuddy(drives_);
  auto* type = new QGroupBox(QStringLiteral("Type of Test"), this);
  standard_ = new QRadioButton(QStringLiteral("&Standard     (Scan only Files && Folders)"), type);
  thorough_ = new QRadioButton(QStringLiteral("Thorough    (Scan Entire disk)"), type);
  auto* typeLayout = new QVBoxLayout(type);
  typeLayout->addWidget(standard_);
  typeLayout->addWidget(thorough_);
  autoFix_ = new QCheckBox(QStringLiteral("Automatically Fix Errors"), this);
  phase_ = new QLabel(QStringLiteral("Scanning:"), this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  entry_ = new QLabel(this);
  // The entry line shows names as stored, blanks included.
  entry_->setTextFormat(Qt::PlainText);
  phase_->setTextFormat(Qt::PlainText);
  phase_->setMinimumWidth(360);
  scan_ = new QPushButton(QStringLiteral("&Scan"), this);
  stop_ = new QPushButton(QStringLiteral("S&top"), this);
  close_ = new QPushButton(QStringLiteral("&Close"), this);
  scan_->setDefault(true);
  stop_->setEnabled(false);

  auto* driveRow = new QHBoxLayout;
  driveRow->addWidget(driveLabel);
  driveRow->addWidget(drives_, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(scan_);
  buttons->addWidget(stop_);
  buttons->addWidget(close_);
  buttons->addStretch();
  auto* left = new QVBoxLayout;
  left->addLayout(driveRow);
  left->addWidget(type);
  left->addWidget(autoFix_);
  left->addWidget(phase_);
  left->addWidget(progress_);
  left->addWidget(entry_);
  auto* all = new QHBoxLayout(this);
  all->addLayout(left, 1);
  all->addLayout(buttons);

  port_.SetDialogControls({{kScanDriveList, drives_},
                           {kScanStandard, standard_},
                           {kScanThorough, thorough_},
                           {kScanAutoFix, autoFix_},
                           {kScanPhase, phase_},
                           {kScanProgress, progress_},
                           {kScanEntryName, entry_},
                           {kScanButton, scan_},
                           {kScanStop, stop_},
                           {kScanClose, close_}});
  connect(scan_, &QPushButton::clicked, this, &ScanDialog::OnScan);
  connect(stop_, &QPushButton::clicked, this, &ScanDialog::OnStop);
  connect(close_, &QPushButton::clicked, this, &ScanDialog::reject);

  // Open: Standard checked, the volumes listed, the selected node's volume
  // chosen, else the first one.
  standard_->setChecked(true);
  volumes_ = ListScanVolumes(access_, port_);
  for (const ScanVolumeEntry& v : volumes_) drives_->addItem(QString::fromStdString(v.text));
  const int chosen = selected != nullptr ? ScanVolumeIndexOf(volumes_, *selected) : -1;
  if (!volumes_.empty()) drives_->setCurrentIndex(chosen >= 0 ? chosen : 0);
}

int ScanVolumeIndexOf(const std::vector<ScanVolumeEntry>& volumes, const DrivePacket& node) {
  // A volume or what lies in it, as Find Deleted takes them; not a drive, an
  // extended partition, a GPT structure or an unread partition.
  if (!FindDeletedAllowed(node)) return -1;
  // A volume is known by its drive and where it starts; every node below it
  // carries the same two.
  for (size_t i = 0; i < volumes.size(); ++i)
    if (volumes[i].packet.drive == node.drive && volumes[i].packet.partitionStart == node.partitionStart)
      return static_cast<int>(i);
  return -1;
}

std::string ScanPhaseText(const ScanPhase& phase) {
  char text[96];
  const auto n = static_cast<unsigned long>(phase.number);
  switch (phase.kind) {
    case ScanPhase::Kind::None: return {};
    case ScanPhase::Kind::Fat: return kScanFatPhase;
    case ScanPhase::Kind::FatSector: std::snprintf(text, sizeof text, kScanFatSector, n); break;
    case ScanPhase::Kind::FileCluster: std::snprintf(text, sizeof text, kScanFileCluster, n); break;
    case ScanPhase::Kind::LostClusters: std::snprintf(text, sizeof text, kScanLostCount, n); break;
    case ScanPhase::Kind::FreeCluster:
      std::snprintf(text, sizeof text, kScanFreeCluster, n, static_cast<unsigned long>(phase.last));
      break;
  }
  return text;
}

void ScanDialog::Events::Phase(const ScanPhase& phase) {
  port_.SetControlText(kScanPhase, ScanPhaseText(phase));
  // Said once a phase, not once a cluster: each is a wait for this thread.
  const int kind = static_cast<int>(phase.kind);
  if (kind == lastKind_) return;
  lastKind_ = kind;
  ScanDialog* dialog = &dialog_;
  if (QThread::currentThread() == dialog->thread()) {
    emit dialog->PhaseShown(kind);
    return;
  }
  QMetaObject::invokeMethod(dialog, [dialog, kind] { emit dialog->PhaseShown(kind); },
                            Qt::BlockingQueuedConnection);
}

void ScanDialog::Events::AutoAnswered(std::string_view question) {
  port_.SetControlText(kScanPhase, question);
}

void ScanDialog::Events::Progress(int percent) { port_.SetControlPercent(kScanProgress, percent); }

void ScanDialog::Events::Entry(std::string_view name) { port_.SetControlText(kScanEntryName, name); }

void ScanDialog::Events::Ended() {
  lastKind_ = -1;  // the next scan says its phases anew
  for (const int id : {kScanDriveList, kScanAutoFix, kScanButton, kScanClose, kScanStandard,
                       kScanThorough})
    port_.EnableControl(id, true);
  port_.EnableControl(kScanStop, false);
}

ScanDialog::~ScanDialog() {
  if (!worker_.joinable()) return;
  // The dialog goes while its worker lives (its owner is closing): stop it,
  // and keep carrying its calls to this thread until it has ended.
  flags_.stop = true;
  while (flags_.running) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(1);
  }
  worker_.join();
}

void ScanDialog::OnScan() {
  const int index = drives_->currentIndex();
  if (flags_.running) return;
  if (worker_.joinable()) worker_.join();  // ended; its notice is still on the way
  // Nothing listed or nothing chosen: no volume to read.
  if (index < 0 || static_cast<size_t>(index) >= volumes_.size()) return;
  for (QWidget* w : std::initializer_list<QWidget*>{drives_, autoFix_, scan_, close_, standard_,
                                                    thorough_})
    w->setEnabled(false);
  stop_->setEnabled(true);
  progress_->setValue(0);
  ScanOptions options;
  options.thorough = !standard_->isChecked();
  options.autoFix = autoFix_->isChecked();
  const ScanVolumeEntry volume = volumes_[static_cast<size_t>(index)];
  flags_.stop = false;
  flags_.running = true;
  worker_ = std::thread([this, volume, options] {
    DiskScan scan(access_, port_, flags_, events_);
    const ScanResult result = scan.Run(volume, options);
    // The dialog joins the worker on its own thread.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          last_ = result;
          OnWorkerEnded();
        },
        Qt::QueuedConnection);
  });
}

void ScanDialog::OnStop() { flags_.stop = true; }

void ScanDialog::OnWorkerEnded() {
  if (flags_.running) return;  // a newer scan already runs
  if (worker_.joinable()) worker_.join();
  // Every scan that read its volume ends with what it found, repaired and left.
  if (last_.scanned || last_.stopped) port_.Message(ScanSummary(last_), kScanCaption, PromptIcon::Information);
  emit ScanEnded();
}

bool ScanDialog::RefuseCloseWhileRunning() {
  if (!flags_.running) return false;
  port_.Message(kScanCannotClose, kScanCaption, PromptIcon::Exclamation);
  flags_.stop = true;
  return true;
}

void ScanDialog::reject() {
  if (RefuseCloseWhileRunning()) return;
  QDialog::reject();
}

// "Scan Disk for Errors": the volume list, the type of test, Automatically
// Fix Errors, the phase and entry lines, the progress bar and the Scan, Stop
// and Close buttons. Scan runs the core's DiskScan on a worker thread that
// speaks only through the dialog's prompt port and the scan's events, shown in
// the controls through the same port: its calls are carried to this thread,
// and a question holds the worker until it is answered.
#pragma once
#include <QDialog>
#include <memory>
#include <thread>
#include <vector>

#include "app/qt_prompt_port.h"
#include "disk/disk_access.h"
#include "scan/disk_scan.h"
#include "scan/scan_volumes.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

// The phase line's text for what the scan is doing.
std::string ScanPhaseText(const ScanPhase& phase);

// The entry of volumes that holds the tree node (a volume, one of its FAT
// copies, its root, a folder or file); -1 for a drive, a partition table or a
// node of no listed volume.
int ScanVolumeIndexOf(const std::vector<ScanVolumeEntry>& volumes, const DrivePacket& node);

class ScanDialog : public QDialog {
  Q_OBJECT
 public:
  // selected: the tree's node, whose volume is chosen at the start (else the first).
  explicit ScanDialog(DiskAccess& access, QWidget* parent = nullptr,
                      const DrivePacket* selected = nullptr);
  ~ScanDialog() override;

  QComboBox* DriveList() const { return drives_; }
  QRadioButton* Standard() const { return standard_; }
  QRadioButton* Thorough() const { return thorough_; }
  QCheckBox* AutoFix() const { return autoFix_; }
  QLabel* PhaseLine() const { return phase_; }
  QLabel* EntryLine() const { return entry_; }
  QProgressBar* Progress() const { return progress_; }
  QPushButton* ScanButton() const { return scan_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* CloseButton() const { return close_; }

  bool Running() const { return flags_.running.load(); }
  // What the last scan found; valid once it has ended.
  const ScanResult& LastResult() const { return last_; }

 signals:
  // The worker has ended and the dialog is idle again.
  void ScanEnded();
  // The phase line shows a new phase (a ScanPhase::Kind); the worker waits
  // until the receivers have run, so a Stop pressed here ends that phase.
  void PhaseShown(int kind);

 public slots:
  void OnScan();
  void OnStop();
  // The caption's X, Escape and Close: refused while the worker runs.
  void reject() override;

 private:
  // The scan's events, shown in this dialog's controls through its port.
  class Events final : public ScanEvents {
   public:
    Events(QtPromptPort& port, ScanDialog& dialog) : port_(port), dialog_(dialog) {}
    void Phase(const ScanPhase& phase) override;
    void AutoAnswered(std::string_view question) override;
    void Progress(int percent) override;
    void Entry(std::string_view name) override;
    void Ended() override;

   private:
    QtPromptPort& port_;
    ScanDialog& dialog_;
    int lastKind_ = -1;  // the worker's own
  };

  bool RefuseCloseWhileRunning();
  void OnWorkerEnded();

  DiskAccess& access_;
  QtPromptPort port_;
  Events events_{port_, *this};
  ScanFlags flags_;
  std::vector<ScanVolumeEntry> volumes_;
  std::thread worker_;
  ScanResult last_;

  QComboBox* drives_ = nullptr;
  QRadioButton* standard_ = nullptr;
  QRadioButton* thorough_ = nullptr;
  QCheckBox* autoFix_ = nullptr;
  QLabel* phase_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* entry_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* close_ = nullptr;
};

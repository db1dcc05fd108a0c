// Find Deleted Files: a table of every deleted file and folder of a volume,
// of the files of its lost folders and, when asked for, of files carved from
// its free clusters, each with the judgement of what can come back, found on
// a worker thread with progress and Stop, and a button that copies the
// selected ones out to a folder of the host (on the worker too), as
// gleaner-cli's extract and rescue do. On an exFAT volume it lists and copies
// the deleted entry sets, judged against the allocation bitmap. The worker never touches a widget: it
// hands its progress and results to the dialog through queued calls.
#pragma once
#include <QDialog>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "disk/disk_access.h"
#include "recovery/copy_out.h"
#include "recovery/deleted_files.h"
#include "recovery/exfat_recovery.h"
#include "recovery/rescue.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

// Asks for the host folder to copy into; empty for Cancel.
using AskFolder = std::function<QString(QWidget* parent)>;

class FindDeletedDialog : public QDialog {
  Q_OBJECT
 public:
  enum Column { StateColumn, SizeColumn, ClusterColumn, FoundColumn, PathColumn };

  FindDeletedDialog(DiskAccess& access, const DrivePacket& root, AskFolder askFolder,
                    QWidget* parent = nullptr);
  ~FindDeletedDialog() override;

  // Find (also when the dialog is first shown), Stop, and Copy Out of the
  // selected rows.
  void StartFind();
  void StopWork();
  void CopySelected();
  // A find or copy is running on the worker.
  bool Running() const { return worker_.joinable(); }

  const std::vector<DeletedFile>& Files() const { return files_; }
  // On an exFAT volume the rows are these (Files() stays empty).
  const std::vector<ExfatDeletedFile>& ExfatFiles() const { return exfatFiles_; }
  // The lost folders' and carved files listed, as rescue copies them.
  const std::vector<RescueFile>& Rescued() const { return rescued_; }
  QTableView* Table() const { return table_; }
  QPushButton* FindButton() const { return find_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* CopyButton() const { return copy_; }
  QCheckBox* SkipAllocatedBox() const { return skipAllocated_; }
  QCheckBox* CarveBox() const { return carve_; }
  QProgressBar* Progress() const { return progress_; }
  QLabel* StatusLabel() const { return status_; }
  QPlainTextEdit* Report() const { return report_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // Refused while the worker runs: Stop is pressed and the dialog closes when
  // the worker has ended.
  void reject() override;

 private:
  // The find's and the copy's events, carried to this dialog's thread.
  class FindEvents final : public FindDeletedEvents {
   public:
    explicit FindEvents(FindDeletedDialog& dialog) : dialog_(dialog) {}
    void RowFound(const DeletedFile& file) override;

   private:
    FindDeletedDialog& dialog_;
  };
  class CopyEvents final : public CopyOutEvents {
   public:
    CopyEvents(FindDeletedDialog& dialog, int total) : dialog_(dialog), total_(total) {}
    void FileDone(const CopiedFile& file) override;

   private:
    FindDeletedDialog& dialog_;
    int total_;
    int done_ = 0;
  };

  // What a copy of the selected rows made: Copy Out's result for the
  // deleted rows, rescue's for the others.
  struct Copied {
    std::optional<CopyOutResult> deleted;
    std::optional<RescueResult> rescued;
  };

  void AddRow(const DeletedFile& file);
  void AddExfatRow(const ExfatDeletedFile& file);
  // A row of a deleted file: index into files_ or exfatFiles_.
  void AppendDeletedRow(size_t index, DeletedState state, uint64_t overwritten, const std::string& stateText,
                        uint64_t size, uint32_t startCluster, const std::string& path);
  void StartExfatFind();
  void FoundExfat(ExfatDeletedResult found);
  void CopyExfat(const std::vector<size_t>& chosen);
  // The host folder asked for, with the options set; the copy begun. nullopt
  // for Cancel.
  std::optional<CopyOutOptions> AskCopyOptions();
  void AddRescuedRow(const RescueFile& file);
  void ShowProgress(RescuePhase phase, uint64_t done, uint64_t total);
  void Begin();
  void Finish();
  void FoundAll(RescueFindings found, bool carved);
  void CopiedAll(Copied copied, QString folder);
  void UpdateButtons();

  DiskAccess& access_;
  DrivePacket root_;
  AskFolder askFolder_;
  std::thread worker_;
  std::atomic<bool> stopFlag_{false};
  bool closeWhenDone_ = false;
  bool shownOnce_ = false;
  // An exFAT volume's deleted files are found and copied by its own finder.
  bool exfat_ = false;
  std::vector<DeletedFile> files_;
  std::vector<ExfatDeletedFile> exfatFiles_;
  std::vector<RescueFile> rescued_;

  QStandardItemModel* model_ = nullptr;
  QSortFilterProxyModel* sorted_ = nullptr;
  QTableView* table_ = nullptr;
  QPushButton* find_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* copy_ = nullptr;
  QPushButton* close_ = nullptr;
  QCheckBox* skipAllocated_ = nullptr;
  QCheckBox* carve_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QPlainTextEdit* report_ = nullptr;
};

// Dialog 131 "Backup Drives" and dialog 132 "Restore Drives": the floppy and
// the hard disk, the options, and a progress text. The run happens inside
// the button's handler, as one call of the core's backup or restore.
#pragma once
#include <QDialog>
#include <map>

#include "tools/critical_areas.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

class CriticalAreaDialog : public QDialog {
  Q_OBJECT
 public:
  CriticalAreaDialog(DiskAccess& access, CriticalAreaTool tool, QWidget* parent = nullptr);

  // The checks of opening: false (after the message) when the dialog must
  // close at once. Fills the two lists and selects their first entries.
  bool Prepare();

  // The controls the core speaks to by id (the progress text).
  std::map<int, QWidget*> Controls() const;

  QComboBox* Floppies() const { return floppies_; }
  QComboBox* HardDisks() const { return hardDisks_; }
  QCheckBox* Verify() const { return verify_; }          // backup only
  QCheckBox* Tables() const { return tables_; }          // restore only
  QCheckBox* BootRecords() const { return bootRecords_; }  // restore only
  QLabel* Progress() const { return progress_; }
  QPushButton* RunButton() const { return run_; }
  QPushButton* CloseButton() const { return close_; }
  // The last run's result.
  const CriticalAreaResult& LastResult() const { return last_; }

 private:
  void OnRun();

  // The run's progress line, shown in progress_ (the run holds this thread).
  class Events final : public CriticalAreaEvents {
   public:
    explicit Events(CriticalAreaDialog& dialog) : dialog_(dialog) {}
    void Progress(std::string_view text) override;

   private:
    CriticalAreaDialog& dialog_;
  };

  DiskAccess& access_;
  CriticalAreaTool tool_;
  QComboBox* floppies_ = nullptr;
  QComboBox* hardDisks_ = nullptr;
  QCheckBox* verify_ = nullptr;
  QCheckBox* tables_ = nullptr;
  QCheckBox* bootRecords_ = nullptr;
  QLabel* progress_ = nullptr;
  QPushButton* run_ = nullptr;
  QPushButton* close_ = nullptr;
  CriticalAreaResult last_;
};

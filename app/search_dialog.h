// "Search Bytes" (dialog 149): the raw search of the node selected in the
// tree, in raw sector dumping mode. The dialog gathers the pattern and the
// start sector and runs the core's search on a worker thread. The worker
// never touches a widget: its progress and the controls' states come back
// through the search's events, queued to this dialog, its messages go
// through the window's port, and a hit is put into the list pane on the UI
// thread, through the pane's model.
#pragma once
#include <QDialog>
#include <QPointer>
#include <map>
#include <optional>
#include <memory>
#include <thread>

#include "app/app_state.h"
#include "tools/raw_search.h"

class ListPane;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

class SearchDialog : public QDialog {
  Q_OBJECT
 public:
  // node: the packet of the node to search (the tree's selected node). The
  // front end has checked SearchOpenAllowed.
  SearchDialog(AppState& state, ListPane& list, const DrivePacket& node, QWidget* parent = nullptr);
  ~SearchDialog() override;

  // A control by its id (1015, 1016, 1022-1043, 3).
  QWidget* Control(int id) const;
  // From Search pressed with valid input until the worker's end has been
  // handled here (its result message dismissed, the controls idle).
  bool Running() const { return alive_; }
  const SearchFlags& Flags() const { return flags_; }
  // The last result of a search (NotFound before any).
  SearchResult LastResult() const { return last_; }

  // The Search and Stop buttons, as pressed.
  void StartSearch();
  void StopSearch();

 signals:
  // A search's worker has ended and the dialog is idle again.
  void SearchEnded();

 protected:
  // Close, Esc and the caption's X: refused while a search runs.
  void reject() override;

 private:
  class Events;
  void OnModeChanged();
  void ApplyText(int id, const QString& text);
  void ApplyEnabled(int id, bool enabled);
  void OnWorkerEnded();

  AppState& state_;
  ListPane& list_;
  const DrivePacket node_;
  std::map<int, QWidget*> controls_;
  QRadioButton* hexRadio_ = nullptr;
  QRadioButton* stringRadio_ = nullptr;
  QLineEdit* stringBox_ = nullptr;
  QLineEdit* startBox_ = nullptr;
  QLabel* progressText_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* searchButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;

  std::unique_ptr<Events> events_;
  // The running (or last) search's job, read by the worker and by the hit.
  std::optional<SearchJob> job_;
  SearchFlags flags_;
  std::thread worker_;
  bool alive_ = false;
  SearchResult last_;
};

// The prompt port shown with Qt: message boxes with the texts' own buttons and
// icons, the main window's two status panes, and a running dialog's controls.
// Calls from a worker thread are carried to the UI thread, and questions wait
// there for their answer.
#pragma once
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <map>
#include <mutex>

#include "disk/prompt_port.h"

class QtPromptPort final : public PromptPort {
 public:
  explicit QtPromptPort(QWidget* owner = nullptr) : owner_(owner) {}

  void SetOwner(QWidget* owner) { owner_ = owner; }
  void SetStatusLabels(QLabel* first, QLabel* second);
  // What a pane shows while the program leaves it empty (the first pane's
  // "Ready").
  void SetIdleText(int pane, std::string_view text);
  // The controls of the dialog that is running now, by control id.
  void SetDialogControls(std::map<int, QWidget*> controls);

  void Message(std::string_view text, std::string_view caption, PromptIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view caption, PromptIcon icon) override;
  bool AskYesNoDefaultNo(std::string_view text, std::string_view caption, PromptIcon icon) override;
  PromptAnswer AskAbortRetryIgnore(std::string_view text, std::string_view caption,
                                   PromptIcon icon) override;
  void SetStatus(int pane, std::string_view text) override;

  // The running dialog's controls, by control id, from any thread: the
  // dialogs' event sinks show a long operation's progress through them.
  void SetControlText(int controlId, std::string_view text);
  void EnableControl(int controlId, bool enabled);
  // A progress bar, in percent (0-100).
  void SetControlPercent(int controlId, int percent);

 private:
  bool Ask(std::string_view text, std::string_view caption, PromptIcon icon, bool yesByDefault);
  template <typename F>
  void OnUiThread(F&& f);
  QPointer<QWidget> owner_;
  QPointer<QLabel> status_[2];
  QString idle_[2];
  // The texts last given to the status panes, from any thread.
  std::mutex statusMutex_;
  QString posted_[2];
  std::map<int, QPointer<QWidget>> controls_;
};

// A prompt port that records everything said and answers questions from a
// script, in order. Used by the tests and by the CLI's non-interactive runs.
#pragma once
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "disk/prompt_port.h"

class ScriptedPrompt final : public PromptPort {
 public:
  struct Event {
    enum Kind { Message, YesNo, AbortRetryIgnore, Status, ControlText, ControlEnabled } kind;
    std::string text;     // message or question text, status or control text
    std::string caption;  // message box caption
    int id = 0;           // status pane or control id
    bool enabled = false;
    PromptAnswer answer = PromptAnswer::Ok;
  };

  // Answers for the coming questions, in order. When the script runs dry a
  // Yes/No question is answered No and Abort/Retry/Ignore is answered Abort.
  void Answer(PromptAnswer a);
  void AnswerYes() { Answer(PromptAnswer::Yes); }
  void AnswerNo() { Answer(PromptAnswer::No); }

  void Message(std::string_view text, std::string_view caption, PromptIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view caption, PromptIcon icon) override;
  PromptAnswer AskAbortRetryIgnore(std::string_view text, std::string_view caption,
                                   PromptIcon icon) override;
  void SetStatus(int pane, std::string_view text) override;
  void SetControlText(int controlId, std::string_view text) override;
  void EnableControl(int controlId, bool enabled) override;

  // Message-box and question texts, in order (status texts left out).
  std::vector<std::string> Messages() const;
  std::vector<Event> Events() const;
  std::string Status(int pane) const;
  std::string ControlText(int controlId) const;
  bool ControlEnabled(int controlId) const;
  // How often the first status pane was set to "Wait....".
  int WaitCount() const;
  void Clear();

 private:
  mutable std::mutex mutex_;  // dialog workers speak from their own thread
  std::vector<Event> events_;
  std::deque<PromptAnswer> script_;
  std::map<int, std::string> status_;
  std::map<int, std::string> controlText_;
  std::map<int, bool> controlEnabled_;
};

// The one road from the core to the person: message boxes, questions, the two
// status-bar panes, and the texts and enabled states of a running dialog's
// controls. The GUI shows them with Qt, the CLI prints them, tests script them.
#pragma once
#include <string>
#include <string_view>

enum class PromptIcon { None, Information, Exclamation, Question, Stop };

enum class PromptAnswer { Ok, Yes, No, Abort, Retry, Ignore };

class PromptPort {
 public:
  virtual ~PromptPort() = default;

  // A message box with one OK button.
  virtual void Message(std::string_view text, std::string_view caption = {},
                       PromptIcon icon = PromptIcon::Exclamation) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption = {},
                        PromptIcon icon = PromptIcon::Question) = 0;
  // Abort, Retry and Ignore; answers one of the three.
  virtual PromptAnswer AskAbortRetryIgnore(std::string_view text, std::string_view caption = {},
                                           PromptIcon icon = PromptIcon::Exclamation) = 0;
  // Pane 0 is the first (200 px) status pane, pane 1 the second.
  virtual void SetStatus(int pane, std::string_view text) = 0;
  // A running dialog's controls, by numeric control id.
  virtual void SetControlText(int controlId, std::string_view text) = 0;
  virtual void EnableControl(int controlId, bool enabled) = 0;
  // A running dialog's progress bar, in percent (0-100). Ports without one
  // ignore it.
  virtual void SetControlPercent(int /*controlId*/, int /*percent*/) {}
};

inline constexpr std::string_view kWaitText = "Wait....";

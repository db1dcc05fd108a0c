// The one road from the core to the person: message boxes, questions and the
// two status-bar panes. The GUI shows them with Qt, the CLI prints them, tests
// script them. Long operations tell their progress to event sinks of their
// own (scan/scan_events.h, tools/search_events.h, ...), never through here.
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
  // The same for a question whose Yes destroys something: No is the answer
  // a person gets by pressing Enter or Escape.
  virtual bool AskYesNoDefaultNo(std::string_view text, std::string_view caption = {},
                                 PromptIcon icon = PromptIcon::Exclamation) {
    return AskYesNo(text, caption, icon);
  }
  // Abort, Retry and Ignore; answers one of the three.
  virtual PromptAnswer AskAbortRetryIgnore(std::string_view text, std::string_view caption = {},
                                           PromptIcon icon = PromptIcon::Exclamation) = 0;
  // Pane 0 is the first (200 px) status pane, pane 1 the second.
  virtual void SetStatus(int pane, std::string_view text) = 0;
};

inline constexpr std::string_view kWaitText = "Wait....";

// The CLI's prompt port: message-box texts go to standard error one per line,
// as they stand; questions are answered from --yes/--no or No by default.
#pragma once
#include <ostream>

#include "disk/prompt_port.h"

class CliPrompt final : public PromptPort {
 public:
  explicit CliPrompt(std::ostream& err, bool answerYes = false) : err_(err), yes_(answerYes) {}
  void Message(std::string_view text, std::string_view, PromptIcon) override {
    err_ << text << '\n';
  }
  bool AskYesNo(std::string_view text, std::string_view, PromptIcon) override {
    err_ << text << (yes_ ? " Yes" : " No") << '\n';
    return yes_;
  }
  PromptAnswer AskAbortRetryIgnore(std::string_view text, std::string_view, PromptIcon) override {
    err_ << text << " Abort" << '\n';
    return PromptAnswer::Abort;
  }
  void SetStatus(int, std::string_view) override {}

 private:
  std::ostream& err_;
  bool yes_;
};

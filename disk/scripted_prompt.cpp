#include "disk/scripted_prompt.h"

void ScriptedPrompt::Answer(PromptAnswer a) {
  std::lock_guard lock(mutex_);
  script_.push_back(a);
}

void ScriptedPrompt::Message(std::string_view text, std::string_view caption, PromptIcon) {
  std::lock_guard lock(mutex_);
  events_.push_back({Event::Message, std::string(text), std::string(caption), 0, false,
                     PromptAnswer::Ok});
}

bool ScriptedPrompt::AskYesNo(std::string_view text, std::string_view caption, PromptIcon) {
  std::lock_guard lock(mutex_);
  PromptAnswer a = PromptAnswer::No;
  if (!script_.empty()) {
    a = script_.front();
    script_.pop_front();
  }
  const bool yes = a == PromptAnswer::Yes;
  events_.push_back({Event::YesNo, std::string(text), std::string(caption), 0, false,
                     yes ? PromptAnswer::Yes : PromptAnswer::No});
  return yes;
}

PromptAnswer ScriptedPrompt::AskAbortRetryIgnore(std::string_view text, std::string_view caption,
                                                 PromptIcon) {
  std::lock_guard lock(mutex_);
  PromptAnswer a = PromptAnswer::Abort;
  if (!script_.empty()) {
    a = script_.front();
    script_.pop_front();
  }
  if (a != PromptAnswer::Retry && a != PromptAnswer::Ignore) a = PromptAnswer::Abort;
  events_.push_back(
      {Event::AbortRetryIgnore, std::string(text), std::string(caption), 0, false, a});
  return a;
}

void ScriptedPrompt::SetStatus(int pane, std::string_view text) {
  std::lock_guard lock(mutex_);
  status_[pane] = std::string(text);
  events_.push_back({Event::Status, std::string(text), {}, pane, false, PromptAnswer::Ok});
}

void ScriptedPrompt::SetControlText(int controlId, std::string_view text) {
  std::lock_guard lock(mutex_);
  controlText_[controlId] = std::string(text);
  events_.push_back(
      {Event::ControlText, std::string(text), {}, controlId, false, PromptAnswer::Ok});
}

void ScriptedPrompt::EnableControl(int controlId, bool enabled) {
  std::lock_guard lock(mutex_);
  controlEnabled_[controlId] = enabled;
  events_.push_back({Event::ControlEnabled, {}, {}, controlId, enabled, PromptAnswer::Ok});
}

std::vector<std::string> ScriptedPrompt::Messages() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& e : events_)
    if (e.kind == Event::Message || e.kind == Event::YesNo || e.kind == Event::AbortRetryIgnore)
      out.push_back(e.text);
  return out;
}

std::vector<ScriptedPrompt::Event> ScriptedPrompt::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::string ScriptedPrompt::Status(int pane) const {
  std::lock_guard lock(mutex_);
  auto it = status_.find(pane);
  return it == status_.end() ? std::string() : it->second;
}

std::string ScriptedPrompt::ControlText(int controlId) const {
  std::lock_guard lock(mutex_);
  auto it = controlText_.find(controlId);
  return it == controlText_.end() ? std::string() : it->second;
}

bool ScriptedPrompt::ControlEnabled(int controlId) const {
  std::lock_guard lock(mutex_);
  auto it = controlEnabled_.find(controlId);
  return it != controlEnabled_.end() && it->second;
}

int ScriptedPrompt::WaitCount() const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const auto& e : events_)
    if (e.kind == Event::Status && e.id == 0 && e.text == kWaitText) ++n;
  return n;
}

void ScriptedPrompt::Clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
  status_.clear();
  controlText_.clear();
  controlEnabled_.clear();
}

// The fixed tables of the main window: the prompt string of each command
// (status-bar text, then after '\n' the tool tip) and the accelerator table.
#pragma once
#include <span>
#include <string>

struct Accelerator {
  const char* keys;  // QKeySequence portable text
  int id;
};

// The prompt of a command, "status text\ntool tip"; nullptr for one without.
const char* PromptOf(int id);
// The status-bar part and the tool-tip part of a command's prompt.
std::string StatusTipOf(int id);
std::string ToolTipOf(int id);

// All accelerators in table order. A key listed twice belongs to its first
// entry; keys whose command has no handler are swallowed and do nothing.
std::span<const Accelerator> Accelerators();

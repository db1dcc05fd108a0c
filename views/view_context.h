// What every view and editor command works with: the disk access binding (and
// through it the prompt port) and the list pane's state.
#pragma once
#include "disk/disk_access.h"
#include "views/list_pane_state.h"

struct ViewContext {
  DiskAccess& access;
  ListPaneState& pane;
  PromptPort& Prompt() const { return access.Prompt(); }
};

// What every view and editor command works with: the disk access binding (and
// through it the prompt port) and the page the view fills.
#pragma once
#include "disk/disk_access.h"
#include "views/view_page.h"

struct ViewContext {
  DiskAccess& access;
  ViewPage& page;
  PromptPort& Prompt() const { return access.Prompt(); }
};

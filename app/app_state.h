// The core state the window drives: the disk access binding (and through it
// the prompt port), the tree's packet stores and discovery, the list pane's
// state, the two dump modes and the jump target. Created by main() (or a
// test) and passed by reference; the widgets keep no disk state of their own.
#pragma once
#include <cstdint>

#include "disk/discovery.h"
#include "disk/disk_access.h"
#include "disk/packet_store.h"
#include "views/dump_modes.h"
#include "app/list_pane_state.h"
#include "views/view_context.h"

struct AppState {
  explicit AppState(PromptPort& prompt) : access(prompt) {}
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  PromptPort& Prompt() const { return access.Prompt(); }

  DiskAccess access;
  PacketStore store;
  DriveDiscovery discovery{store};
  ListPaneState pane;
  ViewContext ctx{access, pane};
  // Mirrors the check marks of the two Action menu items; the window sets it
  // whenever a mark changes.
  DumpModes modes;
  // The last sector number read by Go to a Sector; kept between uses.
  uint32_t jumpTarget = 0;
};

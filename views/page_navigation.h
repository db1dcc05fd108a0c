// Previous and Next: step the dump on show to the neighbouring cluster of the
// item's chain or the neighbouring sector of its extent. The page in memory is
// replaced (unsaved edits go with it).
#pragma once
#include "views/dump_modes.h"
#include "views/view_context.h"


// Nothing unless canGoPrevious / canGoNext is set and a hex page is on show.
// True when the page moved. A page that cannot be read shows its message and
// is still moved to, its unreadable sectors marked as such (shown as "??",
// not editable, not written), so the bytes on show always belong to the page
// whose number the status pane gives.
[[nodiscard]] bool GoPrevious(ViewContext& ctx, DumpModes modes);
[[nodiscard]] bool GoNext(ViewContext& ctx, DumpModes modes);

// Formatted with the item's last page number.
inline constexpr const char* kPagePastItem =
    "Page number is past the last page of the current selected item, %lu";

// Page `page` (counted from 0) of the dump on show, with one read whatever
// page it is. Past the item's last page: kPagePastItem, nothing changes,
// false. Also false when the page did not read whole (it is shown marked).
[[nodiscard]] bool GoToPage(ViewContext& ctx, DumpModes modes, uint64_t target);

// The page on show read again from the disk where it is (after a write), its
// edits in memory replaced. False when no page is on show or it did not read
// whole (it is shown marked).
[[nodiscard]] bool ReadPageAgain(ViewContext& ctx, DumpModes modes);

// Write Changes: the page on show, as edited in memory, back to where it was
// read from. Only that page is written; decoded views are never written.
#pragma once
#include "views/dump_modes.h"
#include "views/view_context.h"


inline constexpr const char* kWriteQuestion = "Are you sure to write to disk?";
inline constexpr const char* kWriteDone = "Changes written successfully!";
inline constexpr const char* kCriticalSectorNotAccessible = "Critical Sector not accessible!";

// Asks first (Yes/No, question icon); No writes nothing. A cluster page goes
// to its cluster, a sector page to startSector + pageIndex, and the own
// sector of a disk, partition or volume node (startSector 0) to the node's
// address. A page with a sector that could not be read is not written. True when the page was written; every failure is reported.
[[nodiscard]] bool WriteChanges(ViewContext& ctx, DumpModes modes);

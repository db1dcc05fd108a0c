// gleaner-cli undo FILE [--dry-run]: the undo journal's restore.
#pragma once
#include <ostream>

#include "cli/command_line.h"
#include "disk/drive_map.h"

// Prints one line a record, newest first: "SECTOR<TAB>STATE"; messages go to
// err. 0 when everything was restored (or would be, with --dry-run), 1
// otherwise.
int RunUndoCommand(const UndoArgs& args, const DriveMapConfig& drives, std::ostream& out,
                   std::ostream& err);

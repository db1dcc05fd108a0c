// gleaner-cli undo FILE [--dry-run]: the undo journal's restore.
#pragma once
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/drive_map.h"

// Prints one line a record, newest first: "SECTOR<TAB>STATE"; messages go to
// err. 0 when everything was restored (or would be, with --dry-run), 1
// otherwise; usage errors through usageError.
int RunUndoCommand(const std::vector<std::string>& args, const DriveMapConfig& drives, std::ostream& out,
                   std::ostream& err, const std::function<int(const std::string&)>& usageError);

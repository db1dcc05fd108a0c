// gleaner-cli's undelete, rename and copy-to-floppy commands: the directory
// NODE is shown as show shows it, the rows given by number are selected, and
// the core's Undelete, Rename After Recovery or Copy File to Floppy runs on
// them. Their messages go to standard error like every message box of the CLI.
#pragma once
#include <ostream>
#include <string>

#include "cli/command_line.h"
#include "disk/disk_access.h"

// Runs "undelete NODE ROW...", "rename NODE ROW NAME [EXT]" or
// "copy-to-floppy NODE ROW". ROW counts the rows of show NODE from 1 below the
// title line. Binds access with options as given (a drive opened read-only
// makes every write fail with the command's own message); 1 when a drive
// cannot be bound, NODE does not exist or is no root directory or folder, or
// has no such row.
int RunRecoveryCommand(const std::string& command, const RowArgs& args, const BindOptions& options,
                       DiskAccess& access, std::ostream& out, std::ostream& err);

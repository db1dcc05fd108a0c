// gleaner-cli's undelete and rename commands: the directory NODE is shown as
// show shows it, the rows given by number are selected, and the core's
// Undelete or Rename After Recovery runs on them. Their messages go to
// standard error like every message box of the CLI.
#pragma once
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/disk_access.h"

bool IsRecoveryCommand(const std::string& command);

// A ROW argument: a row number from 1 (decimal, no leading zero); 0 when the
// text is none.
size_t RowNumber(const std::string& text);

// Runs "undelete NODE ROW...", "rename NODE ROW NAME [EXT]" or
// "copy-to-floppy NODE ROW" (args follow the command word). ROW counts the rows of show NODE from 1 below the title
// line. Binds access with options as given (a drive opened read-only makes
// every write fail with the command's own message). Usage errors go through
// usageError, which returns the exit status; 1 when a drive cannot be bound,
// NODE does not exist or is no root directory or folder, or has no such row.
int RunRecoveryCommand(const std::string& command, const std::vector<std::string>& args,
                       const BindOptions& options, DiskAccess& access, std::ostream& out,
                       std::ostream& err,
                       const std::function<int(const std::string&)>& usageError);

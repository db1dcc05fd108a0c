// gleaner-cli's floppy tools: backup, restore and diskcopy. Each binds the
// drives and runs the one core function its dialog runs; messages go to
// standard error, a question followed by the answer taken.
#pragma once
#include <ostream>

#include "cli/command_line.h"
#include "disk/disk_access.h"

// Exit status of both: 0 done, 1 the command could not do what was asked, 2
// a drive error.
int RunCriticalAreasCommand(bool backup, const CriticalAreaArgs& args, const BindOptions& options,
                            std::ostream& out, std::ostream& err);
int RunDiskCopyCommand(const DiskCopyArgs& args, const BindOptions& options, std::ostream& out,
                       std::ostream& err);

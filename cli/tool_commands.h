// gleaner-cli's floppy tools: backup, restore, diskcopy and copy-to-floppy.
// Each parses its options, binds the drives and runs the one core function
// its dialog or window command runs; messages go to standard error, a
// question followed by the answer taken.
#pragma once
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/disk_access.h"

bool IsToolCommand(const std::string& command);

// Runs the command (args follow the command word). Exit status: 0 done, 1
// the command could not do what was asked, 2 a usage or drive error (through
// usageError for the usage errors).
int RunToolCommand(const std::string& command, const std::vector<std::string>& args,
                   const BindOptions& options, std::ostream& out, std::ostream& err,
                   const std::function<int(const std::string&)>& usageError);

// The lines of gleaner-cli --help that describe these commands.
extern const char* const kToolCommandsUsage;

// gleaner-cli's deleted and extract commands: Find Deleted Files over a
// volume, and Copy Out To Folder of rows of a directory listing or a whole
// directory. Both open every drive read-only: they never write to a disk.
#pragma once
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/disk_access.h"

bool IsDeletedCommand(const std::string& command);

// Runs "deleted VOLUME" or "extract NODE [ROW...] --to DIR [--skip-allocated]"
// (args follow the command word). deleted prints one line a deleted file or
// folder: state, size, start cluster, path, tab-separated. extract prints the
// host path of every file and folder it made, and on standard error what it
// could not copy whole. Exit 0 done, 1 nothing found / not all copied whole /
// no such node, 2 usage (through usageError).
int RunDeletedCommand(const std::string& command, const std::vector<std::string>& args,
                      BindOptions options, DiskAccess& access, std::ostream& out,
                      std::ostream& err,
                      const std::function<int(const std::string&)>& usageError);

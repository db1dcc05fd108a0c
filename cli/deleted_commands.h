// gleaner-cli's deleted and extract commands: Find Deleted Files over a
// volume, and Copy Out To Folder of rows of a directory listing or a whole
// directory. Both open every drive read-only: they never write to a disk.
#pragma once
#include <ostream>
#include <string>

#include "cli/command_line.h"
#include "disk/disk_access.h"

// Runs "deleted VOLUME" or "extract NODE [ROW...] --to DIR [--skip-allocated]".
// deleted prints one line a deleted file or folder: state, size, start
// cluster, path, tab-separated. extract prints the host path of every file and
// folder it made, and on standard error what it could not copy whole. Exit 0
// done, 1 nothing found / not all copied whole / no such node.
int RunDeletedCommand(const std::string& command, const DeletedArgs& args, BindOptions options,
                      DiskAccess& access, std::ostream& out, std::ostream& err);

// Runs "rescue VOLUME --to DIR [--no-carve]": deleted files, lost folders'
// files and carved files copied into DIR, one line each (path, how found,
// size, judgement), then the summary; on standard error what could not be
// written whole. Exit 0 all written whole, 1 otherwise or nothing found.
int RunRescueCommand(const RescueArgs& args, BindOptions options, DiskAccess& access,
                     std::ostream& out, std::ostream& err);

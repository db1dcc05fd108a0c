// gleaner-cli's search command: the raw search of the "Search Bytes" dialog
// on a node in raw sector dumping mode, run to its end on this thread.
#pragma once
#include <functional>
#include <ostream>
#include <string>

#include "cli/command_line.h"
#include "disk/disk_access.h"

// Runs "search NODE (--hex BYTES | --text STRING) [--start SECTOR]
// [--progress]". On a hit prints
// "hit<TAB>SECTOR<TAB>ROW<TAB>OFFSET" and the found sector as show --raw-dump
// prints it, and answers 0; 1 when nothing was found, the node is not there,
// cannot be searched from or the start is out of range. A pattern that
// cannot be searched for is a usage error, through usageError after the
// pattern's message.
int RunSearchCommand(const SearchArgs& args, BindOptions options, DiskAccess& access,
                     std::ostream& out, std::ostream& err,
                     const std::function<int(const std::string&)>& usageError);

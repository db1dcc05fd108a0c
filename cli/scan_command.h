// gleaner-cli's scan command: the scan dialog's volume list, and the scan of
// one volume with its questions answered from --yes or --no.
#pragma once
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/disk_access.h"

// "scan" prints the volumes as N<TAB>TEXT (N from 1) and returns 0;
// "scan N [--thorough] [--yes | --no]" scans volume N and returns fsck's
// codes: 0 nothing wrong found, 1 all found repaired, 4 problems left, 8 the
// volume could not be scanned (also when no drive could be bound or there is
// no volume N). Usage errors go through usageError (2).
int RunScanCommand(const std::vector<std::string>& args, const BindOptions& options,
                   DiskAccess& access, std::ostream& out, std::ostream& err,
                   const std::function<int(const std::string&)>& usageError);

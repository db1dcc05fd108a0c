// gleaner-cli's scan command: the scan dialog's volume list, and the scan of
// one volume with its questions answered from --yes or --no.
#pragma once
#include <ostream>

#include "cli/command_line.h"
#include "disk/disk_access.h"

// "scan" (volume 0) prints the volumes as N<TAB>TEXT (N from 1) and returns 0;
// "scan N [--thorough] [--yes | --no]" scans volume N and returns fsck's
// codes: 0 nothing wrong found, 1 all found repaired, 4 problems left, 8 the
// volume could not be scanned (also when no drive could be bound or there is
// no volume N).
int RunScanCommand(const ScanArgs& args, const BindOptions& options, DiskAccess& access,
                   std::ostream& out, std::ostream& err);

#include "cli/scan_command.h"

#include "cli/cli_prompt.h"
#include "scan/disk_scan.h"
#include "scan/scan_volumes.h"

int RunScanCommand(const ScanArgs& args, const BindOptions& options, DiskAccess& access,
                   std::ostream& out, std::ostream& err) {
  const size_t number = args.volume;
  const bool yes = args.yes;
  ScanOptions scan = args.scan;
  if (!BindDiskAccess(access, options)) return number == 0 ? 1 : 8;
  const std::vector<ScanVolumeEntry> volumes = ListScanVolumes(access, access.Prompt());
  if (number == 0) {
    for (size_t i = 0; i < volumes.size(); ++i) out << i + 1 << '\t' << volumes[i].text << '\n';
    return 0;
  }
  if (number > volumes.size()) {
    err << "gleaner-cli: no volume " << number << '\n';
    return 8;
  }
  // A scan answered No (the default) leaves the disk as it is: the moves
  // that ask nothing are left out too.
  scan.repairUnasked = yes;
  CliPrompt prompt(err, yes);
  ScanFlags flags;
  flags.running = true;
  // The CLI prints the scan's messages and questions, not its progress.
  ScanEvents quiet;
  DiskScan worker(access, prompt, flags, quiet);
  const ScanResult result = worker.Run(volumes[number - 1], scan);
  if (result.scanned || result.stopped) err << ScanSummary(result) << '\n';
  return result.ExitCode();
}

#include "cli/scan_command.h"

#include "cli/cli_prompt.h"
#include "scan/disk_scan.h"
#include "scan/scan_volumes.h"

int RunScanCommand(const std::vector<std::string>& args, const BindOptions& options,
                   DiskAccess& access, std::ostream& out, std::ostream& err,
                   const std::function<int(const std::string&)>& usageError) {
  size_t number = 0;
  ScanOptions scan;
  bool yes = false, no = false;
  for (const std::string& a : args) {
    if (a == "--thorough") {
      scan.thorough = true;
    } else if (a == "--yes") {
      yes = true;
    } else if (a == "--no") {
      no = true;
    } else if (number == 0 && !a.empty() && a.size() <= 3 &&
               a.find_first_not_of("0123456789") == std::string::npos && a[0] != '0') {
      number = std::stoul(a);
    } else {
      return usageError("unexpected argument " + a);
    }
  }
  if (yes && no) return usageError("--yes and --no exclude each other");
  if (number == 0 && (scan.thorough || yes || no)) return usageError("scan needs a volume number");

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
  return worker.Run(volumes[number - 1], scan).ExitCode();
}

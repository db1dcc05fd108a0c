#include "cli/cli_app.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "cli/cli_prompt.h"
#include "cli/command_line.h"
#include "cli/deleted_commands.h"
#include "cli/recovery_commands.h"
#include "cli/scan_command.h"
#include "cli/search_command.h"
#include "cli/tool_commands.h"
#include "cli/tree_commands.h"
#include "cli/undo_command.h"
#include "disk/disk_access.h"
#include "views/editor_page.h"
#include "views/fat_views.h"
#include "views/page_navigation.h"
#include "views/sector_jump.h"

namespace {

int Drives(DiskAccess& access, std::ostream& out) {
  auto line = [&](uint16_t drive) {
    Device* d = access.Devices().Find(drive);
    char buf[160];
    std::snprintf(buf, sizeof buf, "0x%02X\t%s\t%u/%u/%u\t%llu", drive,
                  drive < 0x80 ? "floppy" : "hard disk", d ? d->geometry.cylinders : 0,
                  d ? d->geometry.heads : 0, d ? d->geometry.sectorsPerTrack : 0,
                  static_cast<unsigned long long>(d ? d->Size() : 0));
    out << buf << '\t' << (d ? d->Path() : std::string()) << '\n';
  };
  for (uint32_t i = 0; i < access.Devices().FloppyCount(); ++i) line(static_cast<uint16_t>(i));
  for (uint32_t i = 0; i < access.Devices().HardDiskCount(); ++i)
    line(static_cast<uint16_t>(0x80 + i));
  return 0;
}

int Show(const ShowArgs& show, BindOptions options, DiskAccess& access, std::ostream& out,
         std::ostream& err) {
  // Looking never writes: nothing may open a drive for writing.
  options.drives.readOnly = true;
  if (!BindDiskAccess(access, options)) return 1;
  const DumpModes modes = show.modes;
  // The jump first (as Go to a Sector), then the page `pages` on from it,
  // reached with one read.
  uint32_t jumpTarget = 0;
  return PrintShownNode(access, show.node, modes, out, err, [&](ViewContext& ctx) {
    if (show.jump &&
        (!GoToSectorAllowed(ctx, modes) || !GoToSector(ctx, modes, *show.jump, jumpTarget)))
      return PageOutcome::Refused;
    // A decoded view has no pages to go to: it is printed as it is.
    if (show.pages == 0 || (ShownPageKind(ctx.page) == PageKind::None && !FatTableShown(ctx.page)))
      return PageOutcome::Print;
    const uint64_t page = uint64_t{ctx.page.pageIndex} + show.pages;
    if (GoToPage(ctx, modes, page)) return PageOutcome::Print;
    // Moved, but a sector of it did not read: shown as it could be read.
    return ctx.page.pageIndex == page ? PageOutcome::PrintFailed : PageOutcome::Refused;
  });
}

bool AsksForHelp(const std::string& word) { return word == "--help" || word == "-h"; }

}  // namespace

int RunCli(const std::vector<std::string>& args, const std::string& programFolder,
           std::ostream& out, std::ostream& err) {
  // --help anywhere: a command's own help after its command word, else the
  // whole program's.
  for (const auto& a : args)
    if (AsksForHelp(a)) {
      const DriveArgsResult drives = ParseDriveArgs(args, IsCommandWord);
      const auto& rest = drives.rest;
      const bool command = drives.error.empty() && !rest.empty() && IsCommandWord(rest[0]) &&
                           std::any_of(rest.begin() + 1, rest.end(), AsksForHelp);
      out << (command ? CommandHelp(rest[0]) : CliUsage());
      return 0;
    }
  auto usageError = [&](const std::string& what) {
    err << "gleaner-cli: " << what << '\n' << CliUsage();
    return 2;
  };
  DriveArgsResult parsed = ParseDriveArgs(args, IsCommandWord);
  if (!parsed.error.empty()) return usageError(parsed.error);
  if (parsed.rest.empty()) return usageError("no command");

  CommandLine line;
  // Undo finds its drives in the undo file.
  if (parsed.rest[0] == "undo") {
    if (const auto problem = ParseCommandLine(parsed.rest, line)) return usageError(*problem);
    return RunUndoCommand(line.undo, parsed.config, out, err);
  }
  if (!parsed.namedDrives) {
    DriveMapConfig sys = ScanSystemDrives();
    parsed.config.floppies = sys.floppies;
    parsed.config.disks = sys.disks;
  }

  // A script wants to fail fast: a drive it named that cannot be opened ends
  // the run here, named with the reason, rather than be left out.
  {
    DriveMapConfig named = parsed.config;
    const std::vector<std::string> problems = DropUnopenableDrives(named);
    for (const std::string& problem : problems) err << problem << '\n';
    if (!problems.empty()) return 2;
  }
  if (const auto problem = ParseCommandLine(parsed.rest, line)) return usageError(*problem);

  CliPrompt prompt(err);
  DiskAccess access(prompt);
  BindOptions options;
  options.drives = parsed.config;
  options.programFolder = programFolder;

  const std::string& command = line.command;
  if (command == "drives") {
    // The listing needs the device map on both paths; the direct path's map is
    // the binding's own.
    BindOptions direct = options;
    direct.drives.direct = true;
    if (!BindDiskAccess(access, direct)) return 1;
    return Drives(access, out);
  }
  if (command == "tree") {
    options.drives.readOnly = true;
    if (!BindDiskAccess(access, options)) return 1;
    return PrintTree(access, out, err);
  }
  if (command == "show") return Show(line.show, options, access, out, err);
  if (command == "scan") return RunScanCommand(line.scan, options, access, out, err);
  if (command == "backup" || command == "restore")
    return RunCriticalAreasCommand(command == "backup", line.criticalAreas, options, out, err);
  if (command == "diskcopy") return RunDiskCopyCommand(line.diskCopy, options, out, err);
  if (command == "search")
    return RunSearchCommand(line.search, options, access, out, err, usageError);
  if (command == "deleted" || command == "extract")
    return RunDeletedCommand(command, line.deleted, options, access, out, err);
  if (command == "rescue") return RunRescueCommand(line.rescue, options, access, out, err);
  return RunRecoveryCommand(command, line.rows, options, access, out, err);
}

#include "cli/cli_app.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>

#include "cli/cli_prompt.h"
#include "cli/deleted_commands.h"
#include "cli/recovery_commands.h"
#include "cli/scan_command.h"
#include "cli/tool_commands.h"
#include "cli/search_command.h"
#include "cli/tree_commands.h"
#include "cli/undo_command.h"
#include "disk/disk_access.h"
#include "views/editor_page.h"
#include "views/fat_views.h"
#include "views/page_navigation.h"
#include "views/sector_jump.h"

namespace {

constexpr const char* kUsage =
    "usage: gleaner-cli [DRIVES...] COMMAND [ARGS...]\n"
    "\n"
    "Drives, in BIOS order (floppies 0, 1, ...; hard disks 0x80, 0x81, ...):\n"
    "  --floppy FILE     a floppy image or device (repeatable)\n"
    "  --disk FILE       a hard-disk image or device (repeatable)\n"
    "  FILE              a floppy when it is /dev/fd* or of a standard floppy size,\n"
    "                    otherwise a hard disk\n"
    "  --read-only       open every drive read-only: a command that would write\n"
    "                    says \"The drives are open read-only: nothing is written\n"
    "                    to them.\" and exits 1 (scan: 4)\n"
    "  --direct          use the direct device path instead of libsect32.so\n"
    "  --undo-dir DIR    keep the undo files of this run's writes in DIR (default\n"
    "                    $XDG_STATE_HOME/gleaner/undo, else ~/.local/state/gleaner/undo)\n"
    "  --no-undo         write without keeping undo files\n"
    "  --mapfile FILE    after a drive: the GNU ddrescue mapfile of its image; every\n"
    "                    sector outside the map's finished (+) blocks fails to read\n"
    "                    and to write, as on the dying disk (sectors the map does\n"
    "                    not cover count as untried)\n"
    "  With no drive named, the system's block devices are used.\n"
    "\n"
    "Commands:\n"
    "  drives            list the bound drives with their BIOS numbers and geometry\n"
    "  tree              print every node of the disk tree depth first, expanding\n"
    "                    every node that can be expanded: one line a node, two\n"
    "                    spaces of indent a level, then its label (short names\n"
    "                    through code page 437 as the list shows them, trailing\n"
    "                    spaces kept; control bytes printed as for show)\n"
    "  show NODE [--sector-dump] [--raw-dump] [--page N] [--goto SECTOR]\n"
    "                    show NODE in the list pane and print it: the column titles\n"
    "                    joined by tabs, then one line a row of its cells joined by\n"
    "                    tabs. --sector-dump and --raw-dump are the two dump modes\n"
    "                    (raw wins when both are given); neither: the decoded view.\n"
    "                    Every cell is printed as UTF-8: a dump's characters as\n"
    "                    the window shows them (ANSI), control bytes (0x00-0x1F,\n"
    "                    0x7F, C1 controls) as \".\".\n"
    "                    --goto SECTOR jumps to a sector of the volume as Go to a\n"
    "                    Sector does (raw sector dumping, a node below the\n"
    "                    partition level); --page N then shows the page N pages\n"
    "                    on (one read, whatever N). The decoded table of a FAT copy\n"
    "                    is paged too, 384 sectors a page (a large FAT32 copy has\n"
    "                    more than one): --page N shows its page N alone.\n"
    "                    A page or sector outside the\n"
    "                    node is refused with its message and exit status 1;\n"
    "                    sectors that do not read are printed as \"??\" (status 1).\n"
    "  undelete NODE ROW...\n"
    "                    bring back the deleted files and folders of rows ROW of\n"
    "                    the root directory or folder NODE (rows counted from 1\n"
    "                    below the title line of show NODE); each gets \"!\" for\n"
    "                    the first character of its name\n"
    "  rename NODE ROW NAME [EXT]\n"
    "                    give row ROW of NODE the short name NAME (at most 8\n"
    "                    characters) and the extension EXT (at most 3), as typed\n"
    "                    (a name no FAT volume accepts, a name another entry of\n"
    "                    NODE has, and a row still deleted are refused, said why)\n"
    "%TOOLS%"
    "  search NODE (--hex BYTES | --text STRING) [--start SECTOR] [--progress]\n"
    "                    find the first occurrence of 1 to 16 bytes (--hex \"41 42\",\n"
    "                    each a hexadecimal number whose low 8 bits count) or of a\n"
    "                    text (--text, as Windows-1252, at most 89 characters) in\n"
    "                    the raw sectors from SECTOR (default: NODE's first sector)\n"
    "                    to the end of NODE's volume, as Search Raw Disk does in\n"
    "                    raw sector dumping mode; NODE lies below the partition\n"
    "                    level. On a hit prints \"hit<TAB>SECTOR<TAB>ROW<TAB>OFFSET\"\n"
    "                    (the sector as the status bar gives it, the dump row 0-31\n"
    "                    and the first byte's offset 0-511 in that sector), then\n"
    "                    the sector as show --raw-dump prints it; exit status 1\n"
    "                    when nothing is found. --progress prints the progress\n"
    "                    text to standard error as it changes.\n"
    "  deleted VOLUME    find every deleted file and folder of the FAT volume\n"
    "                    VOLUME (its node, or its Root Directory): one line each,\n"
    "                    state (intact, partly overwritten (N clusters), lost),\n"
    "                    size, start cluster and path, joined by tabs; a folder's\n"
    "                    path ends in \"/\". Exit 1 when there is none.\n"
    "  extract NODE [ROW...] --to DIR [--skip-allocated]\n"
    "                    copy rows ROW of the root directory or folder NODE (live\n"
    "                    or deleted; a folder with all it holds), or with no ROW\n"
    "                    every live file and folder in NODE, into the host folder\n"
    "                    DIR. A deleted file is read as undelete would chain it;\n"
    "                    --skip-allocated steps over clusters live files hold.\n"
    "                    Prints each path made; what could not be copied whole\n"
    "                    (and unreadable byte ranges) goes to standard error,\n"
    "                    exit 1. Never writes to a drive.\n"
    "  scan              list the volumes Scan Disk for Errors can check, one a line:\n"
    "                    N, a tab, and the volume's text in the scan's list\n"
    "  scan N [--thorough] [--yes | --no]\n"
    "                    scan volume N for differing FAT copies, cross-linked files\n"
    "                    and lost clusters; --thorough also reads every cluster of\n"
    "                    every file and folder and every free cluster, moving data\n"
    "                    off unreadable clusters and marking them bad. Every\n"
    "                    question is printed with the answer taken: --yes answers\n"
    "                    Yes and repairs; --no (the default) answers No and writes\n"
    "                    nothing. Exit status as fsck's: 0 nothing wrong found,\n"
    "                    1 everything found was repaired, 4 problems were left\n"
    "                    (an answer No, a failed repair, lost clusters), 8 the\n"
    "                    volume could not be scanned, 2 a usage error\n"
    "\n"
    "NODE is the labels from a top-level node down joined by \"/\", for example\n"
    "  \"Hard Disk 1/16-Bit FAT Disk/Root Directory/DOCS    .   \"\n"
    "Where siblings share a label, LABEL#N names the N-th of them, counted from 1\n"
    "(a label that exists as written is taken first). Labels may be given as\n"
    "tree prints them.\n"
    "\n"
    "tree, show, search, deleted and extract open the drives read-only and use\n"
    "libsect32.so from the program's folder unless --direct is given.\n"
    "\n"
    "Message-box texts are printed to standard error, one per line.\n"
    "A drive that cannot be opened is named with the reason (\"Cannot open FILE:\n"
    "REASON\") and the command is not run.\n"
    "Exit status: 0 the command ran, 1 NODE does not exist or no drive could be\n"
    "bound (undelete and rename: also when a write failed, nothing was done or\n"
    "the name was refused;\n"
    "search: or nothing was found), 2 a usage error or a drive that cannot be\n"
    "opened. backup, restore, diskcopy and copy-to-floppy: 0 done, 1 the command\n"
    "could not do what was asked, 2 a usage or drive error.\n";

// A count of pages: decimal digits only, at most 32 bits.
bool ParseCount(const std::string& text, uint32_t& count) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long value = std::stoull(text);
  if (value > UINT32_MAX) return false;
  count = static_cast<uint32_t>(value);
  return true;
}

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

bool IsCommandWord(const std::string& word) {
  static const std::set<std::string, std::less<>> kPlain = {"drives", "tree", "show", "scan", "search", "undo"};
  return kPlain.count(word) != 0 || IsToolCommand(word) || IsDeletedCommand(word) ||
         IsRecoveryCommand(word);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const std::string& programFolder,
           std::ostream& out, std::ostream& err) {
  std::string usage = kUsage;
  usage.replace(usage.find("%TOOLS%"), 7, kToolCommandsUsage);
  for (const auto& a : args)
    if (a == "--help" || a == "-h") {
      out << usage;
      return 0;
    }
  DriveArgsResult parsed = ParseDriveArgs(args, IsCommandWord);
  if (!parsed.error.empty()) {
    err << "gleaner-cli: " << parsed.error << '\n' << usage;
    return 2;
  }
  if (parsed.rest.empty()) {
    err << "gleaner-cli: no command\n" << usage;
    return 2;
  }
  auto usageError = [&](const std::string& what) {
    err << "gleaner-cli: " << what << '\n' << usage;
    return 2;
  };
  // Undo finds its drives in the undo file.
  if (parsed.rest[0] == "undo")
    return RunUndoCommand({parsed.rest.begin() + 1, parsed.rest.end()}, parsed.config, out, err, usageError);
  if (!parsed.namedDrives) {
    DriveMapConfig sys = ScanSystemDrives();
    parsed.config.floppies = sys.floppies;
    parsed.config.disks = sys.disks;
  }
  const std::string& command = parsed.rest[0];
  const std::vector<std::string> commandArgs(parsed.rest.begin() + 1, parsed.rest.end());

  // A script wants to fail fast: a drive it named that cannot be opened ends
  // the run here, named with the reason, rather than be left out.
  {
    DriveMapConfig named = parsed.config;
    const std::vector<std::string> problems = DropUnopenableDrives(named);
    for (const std::string& problem : problems) err << problem << '\n';
    if (!problems.empty()) return 2;
  }

  CliPrompt prompt(err);
  DiskAccess access(prompt);
  BindOptions options;
  options.drives = parsed.config;
  options.programFolder = programFolder;

  if (command == "drives") {
    if (!commandArgs.empty()) return usageError("drives takes no arguments");
    // The listing needs the device map on both paths; the direct path's map is
    // the binding's own.
    BindOptions direct = options;
    direct.drives.direct = true;
    if (!BindDiskAccess(access, direct)) return 1;
    return Drives(access, out);
  }

  if (command == "tree" || command == "show") {
    std::string node;
    DumpModes modes;
    uint32_t pages = 0;
    std::optional<std::string> jump;
    for (size_t i = 0; i < commandArgs.size(); ++i) {
      const std::string& a = commandArgs[i];
      const bool valued = i + 1 < commandArgs.size();
      uint32_t number = 0;
      if (command == "show" && a == "--sector-dump") {
        modes.sectorDump = true;
      } else if (command == "show" && a == "--raw-dump") {
        modes.rawDump = true;
      } else if (command == "show" && a == "--page") {
        if (!valued || !ParseCount(commandArgs[i + 1], pages)) return usageError("--page needs a count");
        ++i;
      } else if (command == "show" && a == "--goto") {
        if (!valued || !ParseSectorEntry(commandArgs[i + 1], number) ||
            commandArgs[i + 1].find_first_not_of("0123456789") != std::string::npos)
          return usageError("--goto needs a sector number");
        jump = commandArgs[++i];
        modes.rawDump = true;  // the jump works in raw sector dumping only
      } else if (command == "show" && node.empty() && a.rfind("--", 0) != 0) {
        node = a;
      } else {
        return usageError("unexpected argument " + a);
      }
    }
    if (command == "show" && node.empty()) return usageError("show needs a NODE");
    // Looking never writes: nothing may open a drive for writing.
    options.drives.readOnly = true;
    if (!BindDiskAccess(access, options)) return 1;
    if (command == "tree") return PrintTree(access, out, err);
    // The jump first (as Go to a Sector), then the page `pages` on from it,
    // reached with one read.
    uint32_t jumpTarget = 0;
    return PrintShownNode(access, node, modes, out, err, [&](ViewContext& ctx) {
      if (jump && (!GoToSectorAllowed(ctx, modes) || !GoToSector(ctx, modes, *jump, jumpTarget)))
        return PageOutcome::Refused;
      // A decoded view has no pages to go to: it is printed as it is.
      if (pages == 0 || (ShownPageKind(ctx.page) == PageKind::None && !FatTableShown(ctx.page)))
        return PageOutcome::Print;
      const uint64_t page = uint64_t{ctx.page.pageIndex} + pages;
      if (GoToPage(ctx, modes, page)) return PageOutcome::Print;
      // Moved, but a sector of it did not read: shown as it could be read.
      return ctx.page.pageIndex == page ? PageOutcome::PrintFailed : PageOutcome::Refused;
    });
  }
  if (command == "scan") return RunScanCommand(commandArgs, options, access, out, err, usageError);
  if (IsToolCommand(command))
    return RunToolCommand(command, commandArgs, options, out, err, usageError);
  if (command == "search") return RunSearchCommand(commandArgs, options, access, out, err, usageError);
  if (IsDeletedCommand(command))
    return RunDeletedCommand(command, commandArgs, options, access, out, err, usageError);
  if (IsRecoveryCommand(command))
    return RunRecoveryCommand(command, commandArgs, options, access, out, err, usageError);
  return usageError("unknown command " + command);
}

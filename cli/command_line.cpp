#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>

#include "disk/drive_args_help.h"
#include "views/sector_jump.h"

namespace {

// A command's synopsis and what it does, as --help prints them: the synopsis
// after two spaces (a second line of it under its first word's end), the
// text's lines from column 20, its first line beside a short synopsis.
struct UsageEntry {
  const char* synopsis;
  const char* text;
};

struct CommandInfo {
  const char* name;
  std::vector<UsageEntry> entries;
};

const std::vector<CommandInfo>& Commands() {
  static const std::vector<CommandInfo> kCommands = {
      {"drives", {{"drives", "list the bound drives with their BIOS numbers and geometry"}}},
      {"tree",
       {{"tree",
         "print every node of the disk tree depth first, expanding\n"
         "every node that can be expanded: one line a node, two\n"
         "spaces of indent a level, then its label (short names\n"
         "through code page 437 as the list shows them, trailing\n"
         "spaces kept; control bytes printed as for show)"}}},
      {"show",
       {{"show NODE [--sector-dump] [--raw-dump] [--page N] [--goto SECTOR]",
         "show NODE in the list pane and print it: the column titles\n"
         "joined by tabs, then one line a row of its cells joined by\n"
         "tabs. --sector-dump and --raw-dump are the two dump modes\n"
         "(raw wins when both are given); neither: the decoded view.\n"
         "Every cell is printed as UTF-8: a dump's characters as\n"
         "the window shows them (ANSI), control bytes (0x00-0x1F,\n"
         "0x7F, C1 controls) as \".\".\n"
         "--goto SECTOR jumps to a sector of the volume as Go to a\n"
         "Sector does (raw sector dumping, a node below the\n"
         "partition level); --page N then shows the page N pages\n"
         "on (one read, whatever N). The decoded table of a FAT copy\n"
         "is paged too, 384 sectors a page (a large FAT32 copy has\n"
         "more than one): --page N shows its page N alone.\n"
         "A page or sector outside the\n"
         "node is refused with its message and exit status 1;\n"
         "sectors that do not read are printed as \"??\" (status 1)."}}},
      {"undelete",
       {{"undelete NODE ROW...",
         "bring back the deleted files and folders of rows ROW of\n"
         "the root directory or folder NODE (rows counted from 1\n"
         "below the title line of show NODE); each gets \"!\" for\n"
         "the first character of its name. On exFAT the entry set\n"
         "keeps its whole name and comes back only when all its\n"
         "clusters are free (exit 1 otherwise)"}}},
      {"rename",
       {{"rename NODE ROW NAME [EXT]",
         "give row ROW of NODE the short name NAME (at most 8\n"
         "characters) and the extension EXT (at most 3), as typed\n"
         "(a name no FAT volume accepts, a name another entry of\n"
         "NODE has, and a row still deleted are refused, said why)"}}},
      {"backup",
       {{"backup [--floppy N] [--disk N] [--verify] [--overwrite-files]",
         "save the partition tables and boot records of hard disk\n"
         "N into the data area of floppy N (both counted from 1,\n"
         "default 1), as Backup Critical Areas does, in the file\n"
         "CRITICAL.BAK; --verify reads every saved sector back.\n"
         "Files of the floppy in the clusters it needs are named\n"
         "and kept (nothing is written) unless --overwrite-files.\n"
         "Prints one line a slot: floppy cluster, hard-disk\n"
         "sector, table or boot (empty: a table without a FAT\n"
         "partition)"}}},
      {"restore",
       {{"restore [--floppy N] [--disk N] [--no-partition-table] [--no-boot-records]",
         "write the sectors a backup saved on floppy N back onto\n"
         "hard disk N, as Restore Critical Areas does; the two\n"
         "options leave out the partition tables or the boot records.\n"
         "Prints one line a slot as backup does, then the sectors\n"
         "written"}}},
      {"diskcopy",
       {{"diskcopy [--from N] --target IMG [--target IMG ...] [--verify]\n"
         "         [--yes|--no] [--abort|--retry|--ignore]",
         "copy floppy N (from 1, default 1) onto each target image\n"
         "in turn, as Disk Copy does: the source is read once in\n"
         "large runs, a failed run again sector by sector (a new\n"
         "image is made the source's size; the source is never\n"
         "written); --verify reads every written track back and\n"
         "compares it.\n"
         "\"Copy over!  Write to another disk?\" is answered Yes\n"
         "while targets remain; other questions --yes or --no\n"
         "(default No); a failed track --abort, --retry (up to 3\n"
         "times, then Ignore) or --ignore (default: the readable\n"
         "sectors of a bad track are kept, the unreadable ones\n"
         "get filler bytes E5 and are counted). Prints each\n"
         "target taken, then the targets written, the tracks that\n"
         "did not move whole, the source sectors that could not\n"
         "be read and the target sectors that could not be\n"
         "written; exit status 1 when any did not move whole"}}},
      {"copy-to-floppy",
       {{"copy-to-floppy NODE ROW",
         "copy the file of row ROW of the root directory or folder\n"
         "NODE (as for undelete) onto floppy 1, around its bad\n"
         "sectors, as Copy File to Floppy does: the floppy's files\n"
         "are replaced by it (no question is asked). The floppy\n"
         "must be a 12-bit FAT of one sector per cluster and two\n"
         "FATs. Prints the new chain's first cluster, its length,\n"
         "the size written and the clusters marked bad; exit\n"
         "status 1 when the file did not fit or a write failed"}}},
      {"search",
       {{"search NODE (--hex BYTES | --text STRING) [--start SECTOR] [--progress]",
         "find the first occurrence of 1 to 16 bytes (--hex \"41 42\",\n"
         "each a hexadecimal number whose low 8 bits count) or of a\n"
         "text (--text, as Windows-1252, at most 89 characters) in\n"
         "the raw sectors from SECTOR (default: NODE's first sector)\n"
         "to the end of NODE's volume, as Search Raw Disk does in\n"
         "raw sector dumping mode; NODE lies below the partition\n"
         "level. On a hit prints \"hit<TAB>SECTOR<TAB>ROW<TAB>OFFSET\"\n"
         "(the sector as the status bar gives it, the dump row 0-31\n"
         "and the first byte's offset 0-511 in that sector), then\n"
         "the sector as show --raw-dump prints it; exit status 1\n"
         "when nothing is found. --progress prints the progress\n"
         "text to standard error as it changes."}}},
      {"deleted",
       {{"deleted VOLUME",
         "find every deleted file and folder of the FAT or exFAT volume\n"
         "VOLUME (its node, or its Root Directory): one line each,\n"
         "state (intact, partly overwritten (N clusters), lost),\n"
         "size, start cluster and path, joined by tabs; a folder's\n"
         "path ends in \"/\". Exit 1 when there is none."}}},
      {"extract",
       {{"extract NODE [ROW...] --to DIR [--skip-allocated]",
         "copy rows ROW of the root directory or folder NODE (live\n"
         "or deleted; a folder with all it holds), or with no ROW\n"
         "every live file and folder in NODE, into the host folder\n"
         "DIR. A deleted file is read as undelete would chain it\n"
         "(exFAT: its run, or its FAT chain while it is free).\n"
         "Where its clusters meet one a live file holds, it is also\n"
         "read stepping over such clusters: a PNG, JPEG, ZIP, PDF\n"
         "... keeps the reading whose structure checks out, any\n"
         "other file gets both, the second as\n"
         "\"NAME (around live clusters).EXT\"; --skip-allocated\n"
         "takes only the reading that steps over them.\n"
         "Prints each path made; what could not be copied whole\n"
         "(and unreadable byte ranges) goes to standard error,\n"
         "exit 1. Never writes to a drive."}}},
      {"rescue",
       {{"rescue VOLUME --to DIR [--no-carve]",
         "copy out, in one pass over the FAT volume VOLUME, every\n"
         "deleted file (under DIR with its path), every file of a\n"
         "folder no live folder reaches any more, as after a quick\n"
         "format (under DIR/Lost Folders with its rebuilt path),\n"
         "and every file found in free clusters by its format (under\n"
         "DIR/Carved, named by first cluster and type, such as\n"
         "c0012345.png; --no-carve leaves them out). DIR is made\n"
         "when missing. Prints one line a file: path, how it was\n"
         "found (deleted, lost folder, carved), size and judgement,\n"
         "joined by tabs, then a summary with the unreadable sectors\n"
         "met. Exit 1 when nothing was found, some file could not\n"
         "be written whole (said on standard error) or a sector\n"
         "could not be read. The drives are\n"
         "opened read-only, whatever the flags say. On an exFAT\n"
         "volume: its deleted files and carving of the clusters its\n"
         "allocation bitmap shows free; no lost folders."}}},
      {"scan",
       {{"scan",
         "list the volumes Scan Disk for Errors can check, one a line:\n"
         "N, a tab, and the volume's text in the scan's list"},
        {"scan N [--thorough] [--yes | --no] [--free-lost]",
         "scan volume N for differing FAT copies, cross-linked files\n"
         "and lost clusters, and its boot area: a damaged boot record\n"
         "(put back from its backup) or a stale backup, FAT[0] and\n"
         "FAT[1], the dirty bits, FSInfo and the volume label; lost\n"
         "chains and the clusters past a file's size are saved as\n"
         "FILEnnnn.CHK in a new FOUND.nnn of the root (--free-lost\n"
         "frees the lost chains instead, the clusters past a file's\n"
         "size still saved); --thorough also reads every cluster of\n"
         "every file and folder and every free cluster, moving data\n"
         "off unreadable clusters and marking them bad. Every\n"
         "question is printed with the answer taken: --yes answers\n"
         "Yes and repairs; --no (the default) answers No and writes\n"
         "nothing. Exit status as fsck's: 0 nothing wrong found,\n"
         "1 everything found was repaired, 4 problems were left\n"
         "(an answer No, a failed repair, lost clusters), 8 the\n"
         "volume could not be scanned, 2 a usage error"}}},
      {"undo",
       {{"undo FILE [--dry-run]",
         "put back the sectors undo file FILE kept, one line a\n"
         "sector: its number, a tab and what was done (--dry-run:\n"
         "what would be done). Takes no drive: the file names its\n"
         "drive. Exit 1 when a sector was not put back."}}},
  };
  return kCommands;
}

const CommandInfo* FindCommand(const std::string& name) {
  for (const CommandInfo& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

// lines with indent spaces before every line after the first.
std::string Indented(const std::string& lines, size_t indent) {
  std::string out;
  for (const char c : lines) {
    out += c;
    if (c == '\n') out.append(indent, ' ');
  }
  return out;
}

std::string EntryHelp(const UsageEntry& e) {
  constexpr size_t kTextColumn = 20;
  std::string out = "  " + Indented(e.synopsis, 2);
  if (out.size() + 2 <= kTextColumn)
    out.append(kTextColumn - out.size(), ' ');
  else
    out += "\n" + std::string(kTextColumn, ' ');
  return out + Indented(e.text, kTextColumn) + "\n";
}

constexpr const char* kUsageTail =
    "\n"
    "NODE is the labels from a top-level node down joined by \"/\", for example\n"
    "  \"Hard Disk 1/16-Bit FAT Disk/Root Directory/DOCS    .   \"\n"
    "Where siblings share a label, LABEL#N names the N-th of them, counted from 1\n"
    "(a label that exists as written is taken first). Labels may be given as\n"
    "tree prints them.\n"
    "\n"
    "tree, show, search, deleted, extract and rescue open the drives read-only\n"
    "and use libsect32.so from the program's folder unless --direct is given.\n"
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

// A usage error found by a validator: its whole text.
class UsageFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A validator refusing a value for which problem gives a text.
CLI::Validator Refuse(std::function<std::string(const std::string&)> problem) {
  return CLI::Validator(
      [problem = std::move(problem)](std::string& value) {
        const std::string text = problem(value);
        if (!text.empty()) throw UsageFault(text);
        return std::string();
      },
      "");
}

bool Digits(const std::string& s, size_t most) {
  return !s.empty() && s.size() <= most && s.find_first_not_of("0123456789") == std::string::npos;
}

// A count of pages: decimal digits only, at most 32 bits.
bool IsCount(const std::string& s) { return Digits(s, 10) && std::stoull(s) <= UINT32_MAX; }

// A drive or volume number counted from 1, at most 3 digits.
bool IsNumberFrom1(const std::string& s) { return Digits(s, 3) && std::stoul(s) >= 1; }

// A row number from 1 (decimal, no leading zero); 0 when the text is none.
size_t RowNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return 0;
  size_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  return n;
}

// The number of characters of a UTF-8 text.
size_t CharacterCount(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string RowProblem(const std::string& row) {
  return RowNumber(row) == 0 ? "ROW must be a row number from 1: " + row : "";
}

// What a command says about the words it takes, beyond what CLI11 checks.
struct CommandRules {
  CLI::App* app = nullptr;
  // The usage error of an option given last without its value, by name.
  std::map<std::string, std::string> needs;
  // The usage error of a word the command does not take.
  std::function<std::string(const std::string&)> extra = [](const std::string& word) {
    return "unexpected argument " + word;
  };
  // After the words were taken: the usage error of what is missing.
  std::function<std::string()> missing = [] { return std::string(); };
};

// gleaner-cli's commands as one CLI11 app with one subcommand each, their
// options and positionals bound to the fields of a CommandLine.
class CommandParser {
 public:
  explicit CommandParser(CommandLine& line) : line_(line) {
    app_.require_subcommand(1);
    app_.allow_extras();
    app_.set_help_flag();
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app_.formatter(std::make_shared<CommandFormatter>());
    AddDrives();
    AddTree();
    AddShow();
    AddRowCommands();
    AddCriticalAreas();
    AddDiskCopy();
    AddSearch();
    AddDeleted();
    AddRescue();
    AddScan();
    AddUndo();
  }

  std::optional<std::string> Parse(const std::vector<std::string>& words) {
    const CommandRules& rules = rules_.at(words.front());
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
      app_.parse(reversed);
    } catch (const UsageFault& fault) {
      return fault.what();
    } catch (const CLI::CallForHelp&) {
      // Help is answered before parsing; a help option with a value is none.
      return std::string("--help takes no value");
    } catch (const CLI::ExtrasError&) {
      // A word past the last positional of a command whose words are all
      // positional (allow_extras does not cover those); its message names none.
      return rules.extra("");
    } catch (const CLI::ArgumentMismatch& e) {
      // "NAME: ..." of an option given last without its value.
      const std::string what = e.what();
      const auto need = rules.needs.find(what.substr(0, what.find(':')));
      return need != rules.needs.end() ? need->second : what;
    } catch (const CLI::ParseError& e) {
      return std::string(e.what());
    }
    const std::vector<std::string> extras = app_.remaining(true);
    if (!extras.empty()) return rules.extra(extras.front());
    if (std::string problem = rules.missing(); !problem.empty()) return problem;
    line_.command = words.front();
    return std::nullopt;
  }

  std::string Help(const std::string& command) { return rules_.at(command).app->help(); }

 private:
  // A command's help: its usage lines, what it does, then its arguments and
  // options as CLI11 lists them.
  class CommandFormatter : public CLI::Formatter {
   public:
    CommandFormatter() { column_width(24); }
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
      const CommandInfo* info = FindCommand(app->get_name());
      if (!info) return {};
      const std::string prefix = "gleaner-cli [DRIVES...] ";
      std::string out;
      for (const UsageEntry& e : info->entries)
        out += (out.empty() ? "usage: " : "       ") + prefix +
               Indented(e.synopsis, 7 + prefix.size()) + "\n";
      for (const UsageEntry& e : info->entries) out += "\n" + std::string(e.text) + "\n";
      out += make_positionals(app) + make_groups(app, CLI::AppFormatMode::Normal);
      out +=
          "\nDRIVES are the drive arguments that gleaner-cli --help lists with every\n"
          "command.\n";
      return out;
    }
  };

  CommandRules& Add(const char* name) {
    CLI::App* sub = app_.add_subcommand(name, "");
    sub->allow_extras();
    sub->set_help_flag("-h,--help", "print this help");
    CommandRules& rules = rules_[name];
    rules.app = sub;
    return rules;
  }

  // An option of one value; missing its value is the usage error `needs`.
  CLI::Option* Valued(CommandRules& rules, const std::string& name, const std::string& type,
                      const std::string& needs, std::function<void(const std::string&)> take,
                      const std::string& help) {
    rules.needs[name] = needs;
    return rules.app->add_option_function<std::string>(name, std::move(take), help)->type_name(type);
  }

  CLI::Option* Positional(CommandRules& rules, const std::string& name, std::string& into,
                          const std::string& help) {
    return rules.app->add_option(name, into, help)->type_name("");
  }

  void AddDrives() {
    CommandRules& r = Add("drives");
    r.extra = [](const std::string&) { return std::string("drives takes no arguments"); };
  }

  void AddTree() { Add("tree"); }

  void AddShow() {
    CommandRules& r = Add("show");
    ShowArgs& a = line_.show;
    Positional(r, "NODE", a.node, "the node: its labels from a drive down joined by \"/\"");
    r.app->add_flag("--sector-dump", a.modes.sectorDump, "sector/cluster dumping");
    r.app->add_flag("--raw-dump", a.modes.rawDump, "raw sector dumping");
    Valued(r, "--page", "N", "--page needs a count",
           [&a](const std::string& v) { a.pages = static_cast<uint32_t>(std::stoull(v)); },
           "show the page N pages on")
        ->check(Refuse([](const std::string& v) { return IsCount(v) ? "" : "--page needs a count"; }));
    Valued(r, "--goto", "SECTOR", "--goto needs a sector number",
           [&a](const std::string& v) {
             a.jump = v;
             a.modes.rawDump = true;  // the jump works in raw sector dumping only
           },
           "jump to the sector SECTOR of the volume")
        ->check(Refuse([](const std::string& v) {
          uint32_t sector = 0;
          return ParseSectorEntry(v, sector) && v.find_first_not_of("0123456789") == std::string::npos
                     ? ""
                     : "--goto needs a sector number";
        }));
    r.missing = [&a] { return a.node.empty() ? "show needs a NODE" : ""; };
  }

  // undelete, rename and copy-to-floppy: words only, all of them positional
  // (a short name may begin with "-").
  void AddRowCommands() {
    RowArgs& a = line_.rows;
    // ROW... for undelete, one ROW for the others.
    auto rows = [this, &a](CommandRules& r, bool many) {
      r.app->positionals_at_end();
      Positional(r, "NODE", a.node, "the root directory or folder");
      const std::string help = "a row of show NODE, counted from 1 below the title line";
      CLI::Option* row =
          many ? r.app->add_option_function<std::vector<std::string>>(
                     "ROW",
                     [&a](const std::vector<std::string>& words) {
                       for (const std::string& w : words) a.rows.push_back(RowNumber(w));
                     },
                     help)
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
               : r.app->add_option_function<std::string>(
                     "ROW", [&a](const std::string& w) { a.rows.push_back(RowNumber(w)); }, help);
      row->type_name("")->check(Refuse(RowProblem));
    };
    CommandRules& undelete = Add("undelete");
    rows(undelete, true);
    undelete.missing = [&a] {
      return a.node.empty() ? "undelete needs a NODE" : a.rows.empty() ? "undelete needs NODE and a ROW" : "";
    };

    CommandRules& rename = Add("rename");
    rows(rename, false);
    Positional(rename, "NAME", a.name.name, "the short name, at most 8 characters")
        ->check(Refuse([](const std::string& v) {
          return CharacterCount(v) > 8 ? "NAME has more than 8 characters" : "";
        }));
    Positional(rename, "EXT", a.name.extension, "the extension, at most 3 characters")
        ->check(Refuse([](const std::string& v) {
          return CharacterCount(v) > 3 ? "EXT has more than 3 characters" : "";
        }));
    rename.extra = [](const std::string&) { return std::string("rename needs NODE ROW NAME [EXT]"); };
    rename.missing = [&a] {
      return a.node.empty()                        ? "rename needs a NODE"
             : a.rows.empty() || a.name.name.empty() ? "rename needs NODE ROW NAME [EXT]"
                                                   : "";
    };

    CommandRules& copy = Add("copy-to-floppy");
    rows(copy, false);
    copy.extra = [](const std::string&) { return std::string("copy-to-floppy needs NODE and one ROW"); };
    copy.missing = [&a] {
      return a.node.empty()   ? "copy-to-floppy needs a NODE"
             : a.rows.empty() ? "copy-to-floppy needs NODE and one ROW"
                              : "";
    };
  }

  void AddCriticalAreas() {
    CriticalAreaArgs& a = line_.criticalAreas;
    auto drives = [this, &a](CommandRules& r) {
      for (const std::string name : {"--floppy", "--disk"}) {
        const std::string needs = name + " needs a drive number from 1";
        Valued(r, name, "N", needs,
               [&a, name](const std::string& v) {
                 (name == "--floppy" ? a.floppy : a.disk) = static_cast<uint32_t>(std::stoul(v));
               },
               name == "--floppy" ? "floppy N, from 1 (default 1)" : "hard disk N, from 1 (default 1)")
            ->check(Refuse([needs](const std::string& v) { return IsNumberFrom1(v) ? "" : needs; }));
      }
    };
    CommandRules& backup = Add("backup");
    drives(backup);
    backup.app->add_flag("--verify", a.verify, "read every saved sector back");
    backup.app->add_flag("--overwrite-files", a.overwriteFiles,
                         "write over the floppy's files that lie where the backup goes");
    CommandRules& restore = Add("restore");
    drives(restore);
    restore.app->add_flag_callback("--no-partition-table", [&a] { a.partitionTables = false; },
                                   "leave the partition tables out");
    restore.app->add_flag_callback("--no-boot-records", [&a] { a.bootRecords = false; },
                                   "leave the boot records out");
  }

  void AddDiskCopy() {
    CommandRules& r = Add("diskcopy");
    DiskCopyArgs& a = line_.diskCopy;
    Valued(r, "--from", "N", "--from needs a floppy number from 1",
           [&a](const std::string& v) { a.from = static_cast<uint32_t>(std::stoul(v)); },
           "the floppy to copy, from 1 (default 1)")
        ->check(Refuse([](const std::string& v) {
          return IsNumberFrom1(v) ? "" : "--from needs a floppy number from 1";
        }));
    r.needs["--target"] = "--target needs a file";
    r.app->add_option("--target", a.targets, "an image to write the copy to, in turn (repeatable)")
        ->type_name("IMG")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(Refuse([](const std::string& v) { return v.empty() ? "--target needs a file" : ""; }));
    r.app->add_flag("--verify", a.verify, "read every written track back and compare it");
    // The last of --yes and --no counts, and so does the last of the three
    // answers to a failed track: they are read in the order given.
    static const std::vector<std::pair<std::string, const std::string>> kAnswers = {
        {"--yes", "answer Yes to the other questions"},
        {"--no", "answer No to them (the default)"},
        {"--abort", "abort the copy at a failed track"},
        {"--retry", "retry a failed track (up to 3 times, then ignore it)"},
        {"--ignore", "keep a failed track's readable sectors (the default)"}};
    for (const auto& [flag, help] : kAnswers) r.app->add_flag(flag, help);
    r.app->final_callback([&a, app = r.app] {
      for (const CLI::Option* o : app->parse_order()) {
        const std::string& n = o->get_name();
        if (n == "--yes" || n == "--no") a.yes = n == "--yes";
        if (n == "--abort") a.failedTrack = PromptAnswer::Abort;
        if (n == "--retry") a.failedTrack = PromptAnswer::Retry;
        if (n == "--ignore") a.failedTrack = PromptAnswer::Ignore;
      }
    });
    r.missing = [&a] { return a.targets.empty() ? "diskcopy needs a --target" : ""; };
  }

  void AddSearch() {
    CommandRules& r = Add("search");
    SearchArgs& a = line_.search;
    Positional(r, "NODE", a.node, "the node to search from, below the partition level");
    CLI::Option* hex = Valued(r, "--hex", "BYTES", "--hex needs a value",
                              [&a](const std::string& v) { a.hex = v; },
                              "1 to 16 bytes, hexadecimal numbers (\"41 42\")");
    CLI::Option* text = Valued(r, "--text", "STRING", "--text needs a value",
                               [&a](const std::string& v) { a.text = v; },
                               "a text, as Windows-1252, at most 89 characters");
    Valued(r, "--start", "SECTOR", "--start needs a sector number",
           [&a](const std::string& v) { a.start = v; }, "the sector to start from")
        ->check(Refuse([](const std::string& v) {
          return Digits(v, 10) ? "" : "--start needs a sector number";
        }));
    r.app->add_flag("--progress", a.progress, "print the progress text to standard error");
    r.missing = [&a, hex, text] {
      return hex->count() + text->count() > 1 ? "give one of --hex and --text"
             : a.node.empty()                 ? "search needs a NODE"
             : !a.hex && !a.text              ? "search needs --hex BYTES or --text STRING"
                                              : "";
    };
  }

  void AddDeleted() {
    DeletedArgs& a = line_.deleted;
    CommandRules& deleted = Add("deleted");
    deleted.app->positionals_at_end();
    Positional(deleted, "VOLUME", a.node, "the volume's node, or its Root Directory");
    deleted.extra = [](const std::string&) { return std::string("deleted needs VOLUME"); };
    deleted.missing = [&a] { return a.node.empty() ? "deleted needs VOLUME" : ""; };

    CommandRules& extract = Add("extract");
    Positional(extract, "NODE", a.node, "the root directory or folder");
    extract.app
        ->add_option_function<std::vector<std::string>>(
            "ROW",
            [&a](const std::vector<std::string>& words) {
              for (const std::string& w : words) a.rows.push_back(static_cast<int>(RowNumber(w)) - 1);
            },
            "a row of show NODE, counted from 1 below the title line (default: every live one)")
        ->type_name("")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(Refuse(RowProblem));
    Valued(extract, "--to", "DIR", "--to needs a folder",
           [&a](const std::string& v) { a.copy.targetFolder = v; }, "the host folder to copy into");
    extract.app->add_flag("--skip-allocated", a.copy.skipAllocated,
                          "step over the clusters live files hold");
    extract.extra = RowProblem;
    extract.missing = [&a] {
      return a.node.empty()                ? "extract needs a NODE"
             : a.copy.targetFolder.empty() ? "extract needs --to DIR"
                                           : "";
    };
  }

  void AddRescue() {
    RescueArgs& a = line_.rescue;
    CommandRules& r = Add("rescue");
    Positional(r, "VOLUME", a.node, "the volume's node, or its Root Directory");
    Valued(r, "--to", "DIR", "--to needs a folder",
           [&a](const std::string& v) { a.targetFolder = v; }, "the host folder to copy into");
    r.app->add_flag("--no-carve", a.noCarve, "do not look for files by their format");
    r.missing = [&a] {
      return a.node.empty()           ? "rescue needs VOLUME"
             : a.targetFolder.empty() ? "rescue needs --to DIR"
                                      : "";
    };
  }

  void AddScan() {
    CommandRules& r = Add("scan");
    ScanArgs& a = line_.scan;
    r.app
        ->add_option_function<std::string>(
            "N", [&a](const std::string& v) { a.volume = std::stoul(v); },
            "the volume's number in the list of scan (none: print the list)")
        ->type_name("")
        ->check(Refuse([](const std::string& v) {
          return IsNumberFrom1(v) && v[0] != '0' ? "" : "unexpected argument " + v;
        }));
    r.app->add_flag("--thorough", a.scan.thorough,
                    "also read every cluster, moving data off unreadable ones");
    r.app->add_flag("--free-lost", a.scan.freeLost, "free lost chains instead of saving them as .CHK files");
    CLI::Option* yes = r.app->add_flag("--yes", a.yes, "answer Yes to every question: repair");
    static const std::string kNo = "answer No to every question, write nothing (the default)";
    CLI::Option* no = r.app->add_flag("--no", kNo);
    r.missing = [&a, yes, no] {
      if (yes->count() && no->count()) return "--yes and --no exclude each other";
      if (a.volume == 0 && (a.scan.thorough || a.scan.freeLost || a.yes || no->count())) return "scan needs a volume number";
      return "";
    };
  }

  void AddUndo() {
    CommandRules& r = Add("undo");
    UndoArgs& a = line_.undo;
    Positional(r, "FILE", a.file, "the undo file");
    r.app->add_flag("--dry-run", a.dryRun, "say what would be done, write nothing");
    r.missing = [&a] { return a.file.empty() ? "undo needs an undo FILE" : ""; };
  }

  CommandLine& line_;
  CLI::App app_{"", "gleaner-cli"};
  std::map<std::string, CommandRules> rules_;
};

}  // namespace

bool IsCommandWord(const std::string& word) { return FindCommand(word) != nullptr; }

std::optional<std::string> ParseCommandLine(const std::vector<std::string>& words,
                                            CommandLine& line) {
  if (words.empty()) return "no command";
  if (!IsCommandWord(words.front())) return "unknown command " + words.front();
  return CommandParser(line).Parse(words);
}

std::string CliUsage() {
  std::string usage =
      "usage: gleaner-cli [DRIVES...] COMMAND [ARGS...]\n"
      "       gleaner-cli COMMAND --help\n"
      "\n"
      "Drives, in BIOS order (floppies 0, 1, ...; hard disks 0x80, 0x81, ...):\n";
  usage += kDriveArgsHelp;
  usage += "\nCommands:\n";
  for (const CommandInfo& c : Commands())
    for (const UsageEntry& e : c.entries) usage += EntryHelp(e);
  return usage + kUsageTail;
}

std::string CommandHelp(const std::string& command) {
  if (!IsCommandWord(command)) return CliUsage();
  CommandLine unused;
  return CommandParser(unused).Help(command);
}

// gleaner-cli's commands after the drive arguments: each command's options as
// plain values, the parser that fills them (CLI11, one subcommand a command)
// and the help texts, the whole program's and each command's.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/prompt_port.h"
#include "recovery/copy_out.h"
#include "recovery/rename_entry.h"
#include "scan/disk_scan.h"
#include "views/dump_modes.h"

// show NODE [--sector-dump] [--raw-dump] [--page N] [--goto SECTOR]
struct ShowArgs {
  std::string node;
  DumpModes modes;  // --goto turns raw dumping on
  uint32_t pages = 0;
  std::optional<std::string> jump;  // the sector of --goto, as typed
};

// undelete NODE ROW..., rename NODE ROW NAME [EXT], copy-to-floppy NODE ROW
struct RowArgs {
  std::string node;
  std::vector<size_t> rows;  // from 1, as typed
  ShortNameInput name;       // rename's NAME and EXT
};

// backup and restore [--floppy N] [--disk N] ...
struct CriticalAreaArgs {
  uint32_t floppy = 1, disk = 1;  // from 1
  bool verify = false;            // backup
  bool overwriteFiles = false;    // backup: yes to writing over the floppy's files
  bool partitionTables = true;    // restore
  bool bootRecords = true;        // restore
};

// diskcopy [--from N] --target IMG... [--verify] [--yes|--no] [--abort|--retry|--ignore]
struct DiskCopyArgs {
  uint32_t from = 1;
  std::vector<std::string> targets;
  bool verify = false;
  bool yes = false;  // the last of --yes and --no counts
  PromptAnswer failedTrack = PromptAnswer::Ignore;  // the last of the three counts
};

// search NODE (--hex BYTES | --text STRING) [--start SECTOR] [--progress]
struct SearchArgs {
  std::string node;
  std::optional<std::string> hex, text, start;
  bool progress = false;
};

// deleted VOLUME; extract NODE [ROW...] --to DIR [--skip-allocated]
struct DeletedArgs {
  std::string node;
  std::vector<int> rows;  // extract's, from 0
  CopyOutOptions copy;
};

// rescue VOLUME --to DIR [--no-carve]
struct RescueArgs {
  std::string node;
  std::string targetFolder;
  bool noCarve = false;
};

// scan [N [--thorough] [--yes | --no]]
struct ScanArgs {
  size_t volume = 0;  // from 1; 0: list the volumes
  ScanOptions scan;
  bool yes = false;
};

// undo FILE [--dry-run]
struct UndoArgs {
  std::string file;
  bool dryRun = false;
};

struct CommandLine {
  std::string command;
  ShowArgs show;
  RowArgs rows;
  CriticalAreaArgs criticalAreas;
  DiskCopyArgs diskCopy;
  SearchArgs search;
  DeletedArgs deleted;
  RescueArgs rescue;
  ScanArgs scan;
  UndoArgs undo;
};

// True for the name of a command.
bool IsCommandWord(const std::string& word);

// Parses words (the command word, then its arguments) into line; the usage
// error's text when they are not a command line of gleaner-cli.
std::optional<std::string> ParseCommandLine(const std::vector<std::string>& words, CommandLine& line);

// gleaner-cli --help.
std::string CliUsage();
// gleaner-cli COMMAND --help: its usage lines, what it does, its arguments
// and options.
std::string CommandHelp(const std::string& command);

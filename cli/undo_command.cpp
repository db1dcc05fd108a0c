#include "cli/undo_command.h"

#include "cli/cli_prompt.h"
#include "tools/undo_writes.h"

int RunUndoCommand(const UndoArgs& args, const DriveMapConfig& drives, std::ostream& out,
                   std::ostream& err) {
  UndoWritesOptions options;
  options.dryRun = args.dryRun;
  options.journal = args.file;
  options.readOnly = drives.readOnly;
  options.undo = drives.undo;
  options.undoDir = drives.undoDir;
  CliPrompt prompt(err);
  const UndoWritesResult result = UndoWrites(options, prompt);
  for (const auto& s : result.sectors) out << s.sector << '\t' << UndoSectorStateText(s.state) << '\n';
  return result.complete ? 0 : 1;
}

#include "cli/undo_command.h"

#include "cli/cli_prompt.h"
#include "tools/undo_writes.h"

int RunUndoCommand(const std::vector<std::string>& args, const DriveMapConfig& drives, std::ostream& out,
                   std::ostream& err, const std::function<int(const std::string&)>& usageError) {
  UndoWritesOptions options;
  for (const auto& a : args) {
    if (a == "--dry-run") options.dryRun = true;
    else if (options.journal.empty() && a.rfind("--", 0) != 0) options.journal = a;
    else return usageError("unexpected argument " + a);
  }
  if (options.journal.empty()) return usageError("undo needs an undo FILE");
  options.readOnly = drives.readOnly;
  options.undo = drives.undo;
  options.undoDir = drives.undoDir;
  CliPrompt prompt(err);
  const UndoWritesResult result = UndoWrites(options, prompt);
  for (const auto& s : result.sectors) out << s.sector << '\t' << UndoSectorStateText(s.state) << '\n';
  return result.complete ? 0 : 1;
}

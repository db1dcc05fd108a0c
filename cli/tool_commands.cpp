#include "cli/tool_commands.h"

#include <cstdio>

#include "disk/drive_packet.h"
#include "tools/critical_areas.h"
#include "tools/disk_copy.h"

#include <deque>
#include <optional>

const char* const kToolCommandsUsage =
    "  backup [--floppy N] [--disk N] [--verify]\n"
    "                    save the partition tables and boot records of hard disk\n"
    "                    N into the data area of floppy N (both counted from 1,\n"
    "                    default 1), as Backup Critical Areas does; --verify reads\n"
    "                    every saved sector back. Prints one line a slot: floppy\n"
    "                    cluster, hard-disk sector, table or boot (empty: a table\n"
    "                    without a FAT partition)\n"
    "  restore [--floppy N] [--disk N] [--no-partition-table] [--no-boot-records]\n"
    "                    write the sectors a backup saved on floppy N back onto\n"
    "                    hard disk N, as Restore Critical Areas does; the two\n"
    "                    options leave out the partition tables or the boot records.\n"
    "                    Prints one line a slot as backup does, then the sectors\n"
    "                    written\n"
    "  diskcopy [--from N] --target IMG [--target IMG ...] [--verify]\n"
    "           [--yes|--no] [--abort|--retry|--ignore]\n"
    "                    copy floppy N (from 1, default 1) track by track onto each\n"
    "                    target image in turn, as Disk Copy does (a new image is\n"
    "                    made the source's size; the source is never written);\n"
    "                    --verify reads every written track back and compares it.\n"
    "                    \"Copy over!  Write to another disk?\" is answered Yes\n"
    "                    while targets remain; other questions --yes or --no\n"
    "                    (default No); a failed track --abort, --retry (up to 3\n"
    "                    times, then Ignore) or --ignore (default: the readable\n"
    "                    sectors of a bad track are kept). Prints each target\n"
    "                    taken, then the targets written and the tracks that did\n"
    "                    not move whole; exit status 1 when any did not\n"
    "  copy-to-floppy NODE ROW\n"
    "                    copy the file of row ROW of the root directory or folder\n"
    "                    NODE (as for undelete) onto floppy 1, around its bad\n"
    "                    sectors, as Copy File to Floppy does: the floppy's files\n"
    "                    are replaced by it (no question is asked). The floppy\n"
    "                    must be a 12-bit FAT of one sector per cluster and two\n"
    "                    FATs. Prints the new chain's first cluster, its length,\n"
    "                    the size written and the clusters marked bad; exit\n"
    "                    status 1 when the file did not fit or a write failed\n";

namespace {

// The CLI's prompt port for the tools: message texts one a line, questions
// followed by the answer taken.
class ToolPrompt final : public PromptPort {
 public:
  explicit ToolPrompt(std::ostream& err) : err_(err) {}
  bool yes = false;
  PromptAnswer abortRetryIgnore = PromptAnswer::Ignore;
  // Answers for particular questions, in place of yes.
  std::function<std::optional<bool>(std::string_view)> answerFor;

  void Message(std::string_view text, std::string_view, PromptIcon) override {
    err_ << text << '\n';
  }
  bool AskYesNo(std::string_view text, std::string_view, PromptIcon) override {
    std::optional<bool> a;
    if (answerFor) a = answerFor(text);
    const bool y = a.value_or(yes);
    err_ << text << (y ? " Yes" : " No") << '\n';
    return y;
  }
  PromptAnswer AskAbortRetryIgnore(std::string_view text, std::string_view, PromptIcon) override {
    // Retry is taken a few times over; a sector that stays bad is then
    // ignored, so that a run without a person always ends.
    PromptAnswer a = abortRetryIgnore;
    if (a == PromptAnswer::Retry && ++retries_ > kMostRetries) a = PromptAnswer::Ignore;
    if (a != PromptAnswer::Retry) retries_ = 0;
    err_ << text << (a == PromptAnswer::Abort   ? " Abort"
                     : a == PromptAnswer::Retry ? " Retry"
                                                : " Ignore")
         << '\n';
    return a;
  }
  void SetStatus(int, std::string_view) override {}

  static constexpr int kMostRetries = 3;

 private:
  std::ostream& err_;
  int retries_ = 0;
};

// A drive number counted from 1.
bool ParseDriveNumber(const std::string& text, uint32_t& n) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  n = static_cast<uint32_t>(std::stoul(text));
  return n >= 1;
}

void PrintSlots(std::ostream& out, const CriticalAreaResult& r) {
  for (const auto& s : r.saved)
    out << s.cluster << '\t' << s.diskSector << '\t'
        << (s.empty ? "empty" : s.bootRecord ? "boot" : "table") << '\n';
}

int RunCriticalAreas(bool backup, const std::vector<std::string>& args, const BindOptions& options,
                     std::ostream& out, std::ostream& err,
                     const std::function<int(const std::string&)>& usageError) {
  uint32_t floppy = 1, disk = 1;
  BackupOptions b;
  RestoreOptions r;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--floppy" || a == "--disk") {
      if (i + 1 >= args.size() || !ParseDriveNumber(args[i + 1], a == "--floppy" ? floppy : disk))
        return usageError(a + " needs a drive number from 1");
      ++i;
    } else if (backup && a == "--verify") {
      b.verify = true;
    } else if (!backup && a == "--no-partition-table") {
      r.partitionTables = false;
    } else if (!backup && a == "--no-boot-records") {
      r.bootRecords = false;
    } else {
      return usageError("unexpected argument " + a);
    }
  }
  ToolPrompt prompt(err);
  DiskAccess access(prompt);
  if (!BindDiskAccess(access, options)) return 2;
  CriticalAreaDrives drives;
  if (!OpenCriticalAreaDrives(access, backup ? CriticalAreaTool::Backup : CriticalAreaTool::Restore,
                              drives))
    return 2;
  if (floppy > drives.floppies) {
    err << "gleaner-cli: no floppy " << floppy << '\n';
    return 2;
  }
  if (disk > drives.hardDisks) {
    err << "gleaner-cli: no hard disk " << disk << '\n';
    return 2;
  }
  b.floppy = r.floppy = static_cast<uint16_t>(floppy - 1);
  b.hardDisk = r.hardDisk = static_cast<uint16_t>(kFirstHardDisk + disk - 1);
  const CriticalAreaResult result =
      backup ? BackupCriticalAreas(access, b) : RestoreCriticalAreas(access, r);
  PrintSlots(out, result);
  if (!backup)
    for (const uint64_t s : result.written) out << "written\t" << s << '\n';
  return result.completed ? 0 : 1;
}

int RunDiskCopyCommand(const std::vector<std::string>& args, const BindOptions& options,
                       std::ostream& out, std::ostream& err,
                       const std::function<int(const std::string&)>& usageError) {
  uint32_t from = 1;
  DiskCopyOptions o;
  std::deque<std::string> targets;
  ToolPrompt prompt(err);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--from") {
      if (i + 1 >= args.size() || !ParseDriveNumber(args[i + 1], from))
        return usageError("--from needs a floppy number from 1");
      ++i;
    } else if (a == "--target") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return usageError("--target needs a file");
      targets.push_back(args[++i]);
    } else if (a == "--verify") {
      o.verify = true;
    } else if (a == "--yes" || a == "--no") {
      prompt.yes = a == "--yes";
    } else if (a == "--abort" || a == "--retry" || a == "--ignore") {
      prompt.abortRetryIgnore = a == "--abort"   ? PromptAnswer::Abort
                                : a == "--retry" ? PromptAnswer::Retry
                                                 : PromptAnswer::Ignore;
    } else {
      return usageError("unexpected argument " + a);
    }
  }
  if (targets.empty()) return usageError("diskcopy needs a --target");
  DiskAccess access(prompt);
  if (!BindDiskAccess(access, options)) return 2;
  if (from > access.FloppyCount()) {
    err << "gleaner-cli: no floppy " << from << '\n';
    return 2;
  }
  o.floppy = static_cast<uint16_t>(from - 1);
  DiskCopyGeometry geometry;
  if (!StartDiskCopy(access, o, geometry)) return access.WritesRefused() ? 1 : 2;

  const size_t wanted = targets.size();
  DiskCopyControl control;
  control.nextImage = [&]() -> std::optional<std::string> {
    if (targets.empty()) return std::nullopt;
    std::string path = targets.front();
    targets.pop_front();
    out << "target\t" << path << '\n';
    return path;
  };
  prompt.answerFor = [&](std::string_view text) -> std::optional<bool> {
    if (text == kCopyAnother) return !targets.empty();
    return std::nullopt;
  };
  const DiskCopyResult r = RunDiskCopy(access, o, geometry, control);
  out << "targets written\t" << r.targetsWritten << '\n';
  out << "tracks not moved whole\t" << r.failedTracks + r.ignoredTracks << '\n';
  return r.targetsWritten == wanted && r.failedTracks == 0 && r.ignoredTracks == 0 && !r.stopped ? 0 : 1;
}

}  // namespace

bool IsToolCommand(const std::string& command) {
  return command == "backup" || command == "restore" || command == "diskcopy";
}

int RunToolCommand(const std::string& command, const std::vector<std::string>& args,
                   const BindOptions& options, std::ostream& out, std::ostream& err,
                   const std::function<int(const std::string&)>& usageError) {
  if (command == "backup" || command == "restore")
    return RunCriticalAreas(command == "backup", args, options, out, err, usageError);
  if (command == "diskcopy") return RunDiskCopyCommand(args, options, out, err, usageError);
  return usageError("unknown command " + command);
}

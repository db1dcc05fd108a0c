#include "cli/tool_commands.h"

#include <cstdio>

#include "disk/drive_packet.h"
#include "tools/critical_areas.h"
#include "tools/disk_copy.h"

#include <deque>
#include <optional>

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

void PrintSlots(std::ostream& out, const CriticalAreaResult& r) {
  for (const auto& s : r.saved)
    out << s.cluster << '\t' << s.diskSector << '\t'
        << (s.empty ? "empty" : s.bootRecord ? "boot" : "table") << '\n';
}

}  // namespace

int RunCriticalAreasCommand(bool backup, const CriticalAreaArgs& args, const BindOptions& options,
                            std::ostream& out, std::ostream& err) {
  const uint32_t floppy = args.floppy, disk = args.disk;
  BackupOptions b;
  RestoreOptions r;
  b.verify = args.verify;
  r.partitionTables = args.partitionTables;
  r.bootRecords = args.bootRecords;
  ToolPrompt prompt(err);
  // The one question a backup asks: whether the floppy's files may go.
  prompt.yes = backup && args.overwriteFiles;
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

int RunDiskCopyCommand(const DiskCopyArgs& args, const BindOptions& options, std::ostream& out,
                       std::ostream& err) {
  const uint32_t from = args.from;
  DiskCopyOptions o;
  o.verify = args.verify;
  std::deque<std::string> targets(args.targets.begin(), args.targets.end());
  ToolPrompt prompt(err);
  prompt.yes = args.yes;
  prompt.abortRetryIgnore = args.failedTrack;
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
  out << "unreadable source sectors\t" << r.unreadableSectors << '\n';
  out << "target sectors not written\t" << r.unwrittenSectors << '\n';
  return r.targetsWritten == wanted && r.failedTracks == 0 && r.ignoredTracks == 0 &&
                 r.unwrittenSectors == 0 && !r.stopped
             ? 0
             : 1;
}


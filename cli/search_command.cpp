#include "cli/search_command.h"

#include <optional>
#include <sstream>

#include "cli/tree_commands.h"
#include "cli/tree_session.h"
#include "tools/raw_search.h"

namespace {

// The CLI's port with the progress text of a running search on standard
// error (with --progress), one line each time it changes.
class SearchPrompt final : public PromptPort {
 public:
  SearchPrompt(PromptPort& inner, std::ostream& err, bool progress)
      : inner_(inner), err_(err), progress_(progress) {}
  void Message(std::string_view text, std::string_view caption, PromptIcon icon) override {
    inner_.Message(text, caption, icon);
  }
  bool AskYesNo(std::string_view text, std::string_view caption, PromptIcon icon) override {
    return inner_.AskYesNo(text, caption, icon);
  }
  PromptAnswer AskAbortRetryIgnore(std::string_view text, std::string_view caption,
                                   PromptIcon icon) override {
    return inner_.AskAbortRetryIgnore(text, caption, icon);
  }
  void SetStatus(int pane, std::string_view text) override { inner_.SetStatus(pane, text); }
  void SetControlText(int controlId, std::string_view text) override {
    if (progress_ && controlId == kSearchProgressText) err_ << text << '\n';
  }
  void EnableControl(int, bool) override {}

 private:
  PromptPort& inner_;
  std::ostream& err_;
  bool progress_;
};

bool Digits(const std::string& s) {
  return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

int RunSearchCommand(const std::vector<std::string>& args, BindOptions options, DiskAccess& access,
                     std::ostream& out, std::ostream& err,
                     const std::function<int(const std::string&)>& usageError) {
  std::string nodePath;
  std::optional<std::string> hex, text, start;
  bool progress = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool valued = i + 1 < args.size();
    if (a == "--hex" || a == "--text") {
      if (!valued) return usageError(a + " needs a value");
      if (hex || text) return usageError("give one of --hex and --text");
      (a == "--hex" ? hex : text) = args[++i];
    } else if (a == "--start") {
      if (!valued || !Digits(args[i + 1])) return usageError("--start needs a sector number");
      start = args[++i];
    } else if (a == "--progress") {
      progress = true;
    } else if (nodePath.empty() && a.rfind("--", 0) != 0) {
      nodePath = a;
    } else {
      return usageError("unexpected argument " + a);
    }
  }
  if (nodePath.empty()) return usageError("search needs a NODE");
  if (!hex && !text) return usageError("search needs --hex BYTES or --text STRING");

  RawSearchOptions search;
  if (hex) {
    search.mode = SearchMode::Hex;
    std::istringstream words(*hex);
    size_t k = 0;
    for (std::string word; words >> word; ++k) {
      if (k == search.hexBytes.size()) {
        search.tooManyHexBytes = true;
        break;
      }
      search.hexBytes[k] = word;
    }
  } else {
    search.mode = SearchMode::Text;
    search.text = *text;
  }

  // Searching never writes.
  options.drives.readOnly = true;
  if (!BindDiskAccess(access, options)) return 1;
  TreeSession session(access);
  const std::optional<TreeNode> found = session.Find(nodePath);
  if (!found) {
    err << "gleaner-cli: no node " << nodePath << '\n';
    return 1;
  }
  const DrivePacket& node = *found->packet;
  DumpModes modes;
  modes.rawDump = true;
  SearchPrompt prompt(access.Prompt(), err, progress);
  if (!SearchOpenAllowed(prompt, modes, node)) return 1;
  // The dialog's start box shows the node's first sector when it opens.
  search.start = start ? *start : SearchInitialStart(session.pane, node);
  SearchRefusal refusal = SearchRefusal::None;
  const std::optional<SearchJob> job = PrepareRawSearch(prompt, node, search, &refusal);
  if (!job) {
    if (refusal == SearchRefusal::Pattern) return usageError("no pattern to search for");
    return 1;
  }
  SearchFlags flags;
  BeginSearch(prompt, flags);
  const SearchResult result = RunSearchWorker(access, *job, flags, prompt, [&](const SearchHit& hit) {
    ShowSearchHit(session.pane, prompt, *job, hit);
  });
  if (result.status != SearchStatus::Found) return 1;
  out << "hit\t" << result.hit.sector << '\t' << result.hit.Row() << '\t' << result.hit.offset << '\n';
  PrintPane(session.pane, out);
  return 0;
}

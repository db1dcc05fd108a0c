#include "cli/search_command.h"

#include <optional>
#include <sstream>

#include "cli/tree_commands.h"
#include "cli/tree_session.h"
#include "tools/raw_search.h"

namespace {

// The search's events for the CLI: with --progress its progress line on
// standard error, one line each time it changes (unreadable blocks too); the
// hit into the session's view, which is printed after it.
class SearchLines final : public SearchEvents {
 public:
  SearchLines(std::ostream& err, bool progress, std::function<void(const SearchHit&)> hit)
      : err_(err), progress_(progress), hit_(std::move(hit)) {}
  void Progress(uint32_t, std::string_view text) override { Line(text); }
  void Unreadable(uint64_t, std::string_view text) override { Line(text); }
  void Hit(const SearchHit& hit) override { hit_(hit); }

 private:
  void Line(std::string_view text) {
    if (progress_) err_ << text << '\n';
  }
  std::ostream& err_;
  bool progress_;
  std::function<void(const SearchHit&)> hit_;
};

}  // namespace

int RunSearchCommand(const SearchArgs& args, BindOptions options, DiskAccess& access,
                     std::ostream& out, std::ostream& err,
                     const std::function<int(const std::string&)>& usageError) {
  const std::string& nodePath = args.node;
  const std::optional<std::string>& hex = args.hex;
  const std::optional<std::string>& text = args.text;
  const std::optional<std::string>& start = args.start;
  const bool progress = args.progress;

  RawSearchOptions search;
  if (hex) {
    search.mode = SearchMode::Hex;
    std::istringstream words(*hex);
    for (std::string word; words >> word;) {
      search.hexBytes.push_back(word);
      // One past the most is enough to refuse the pattern.
      if (search.hexBytes.size() > kSearchMaxHexBytes) break;
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
  PromptPort& prompt = access.Prompt();
  if (!SearchOpenAllowed(prompt, modes, node)) return 1;
  // The dialog's start box shows the node's first sector when it opens.
  search.start = start ? *start : SearchInitialStart(session.page, node);
  SearchRefusal refusal = SearchRefusal::None;
  const std::optional<SearchJob> job = PrepareRawSearch(prompt, node, search, &refusal);
  if (!job) {
    if (refusal == SearchRefusal::Pattern) return usageError("no pattern to search for");
    return 1;
  }
  SearchFlags flags;
  SearchLines events(err, progress, [&](const SearchHit& hit) {
    ShowSearchHit(session.page, prompt, *job, hit);
  });
  BeginSearch(events, flags);
  const SearchResult result = RunSearchWorker(access, *job, flags, prompt, events);
  if (result.status != SearchStatus::Found) return 1;
  out << "hit\t" << result.hit.sector << '\t' << result.hit.Row() << '\t' << result.hit.offset << '\n';
  PrintPage(session.page, out);
  return 0;
}

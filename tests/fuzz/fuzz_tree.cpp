// Discovery of every node of a hostile drive and every view of every node in
// the three dump modes, with a few pages of paging: nothing may crash, hang
// or read outside a buffer, whatever the sectors claim.
#include <cstddef>
#include <cstdint>

#include "fixtures/silent_prompt.h"
#include "fuzz_walk.h"
#include "sparse_image.h"
#include "views/format_cell.h"
#include "views/page_navigation.h"
#include "views/show_node.h"

namespace {

constexpr size_t kMaxNodes = 160;
constexpr size_t kMaxRowsFormatted = 24;

void ShowAllModes(TreeSession& session, const DrivePacket& node) {
  for (const DumpModes modes : {DumpModes{false, false}, DumpModes{true, false},
                                DumpModes{false, true}}) {
    ShowNode(session.ctx, node, modes);
    for (int page = 0; page < 2; ++page) {
      const ViewPage& pane = session.page;
      const size_t rows = pane.rows.size() < kMaxRowsFormatted ? pane.rows.size()
                                                                : kMaxRowsFormatted;
      for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < pane.columns.size(); ++c)
          (void)FormatCell(pane, r, static_cast<int>(c));
      if (!pane.canGoNext || !GoNext(session.ctx, modes)) break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SilentPrompt prompt;
  FuzzDisk disk;
  if (!BindFuzzDisk({data, size}, prompt, disk)) return 0;
  DiskAccess& access = disk.Access();
  TreeSession session(access);
  for (const TreeNode& node : WalkTree(session, kMaxNodes)) ShowAllModes(session, *node.packet);
  return 0;
}

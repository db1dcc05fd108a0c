// Undelete and Rename After Recovery of every deleted row of every directory
// of a hostile drive, as the window runs them: the chains they build, the
// FAT copies and the directory sectors they write must stay inside the
// volume, and nothing may crash whatever the entries and the FAT claim.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/silent_prompt.h"
#include "fuzz_walk.h"
#include "recovery/directory_image.h"
#include "recovery/rename_entry.h"
#include "recovery/undelete.h"
#include "sparse_image.h"
#include "views/show_node.h"

namespace {

bool IsDirectory(const DrivePacket& p) {
  return p.kind == NodeKind::RootDir || (p.kind == NodeKind::DirEntry && (p.attributes & 0x10) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SilentPrompt prompt;
  FuzzDisk disk;
  if (!BindFuzzDisk({data, size}, prompt, disk)) return 0;
  DiskAccess& access = disk.Access();
  TreeSession session(access);
  ViewContext& ctx = session.ctx;
  int directories = 0;
  for (const TreeNode& node : WalkTree(session, 48)) {
    if (!IsDirectory(*node.packet) || ++directories > 6) continue;
    ShowNode(ctx, *node.packet, {});
    std::vector<int> deleted;
    for (size_t r = 0; r < session.page.rows.size() && deleted.size() < 8; ++r) {
      const DirectoryRow* row = RowRecord(session.page, r);
      if (row != nullptr && static_cast<uint8_t>(row->dosName[0]) == 0xE5)
        deleted.push_back(static_cast<int>(r));
    }
    if (deleted.empty()) continue;
    (void)Undelete(ctx, *node.packet, deleted);

    ShowNode(ctx, *node.packet, {});
    int n = 0;
    for (int r : deleted) {
      if (static_cast<size_t>(r) >= session.page.rows.size()) break;
      const std::string name = "FOUND" + std::to_string(n++);
      const std::vector<int> one{r};
      (void)RenameAfterRecovery(ctx, *node.packet, one, [&](ShortNameInput& in, const ShortNameCheck& check) {
        in.name = name;
        in.extension = "TXT";
        (void)check(in);  // the dialog's check over the hostile listing too
        return true;
      });
    }
  }
  if (std::getenv("GLEANER_FUZZ_VERBOSE") != nullptr)
    std::fprintf(stderr, "%d directories, %llu bytes written\n", directories,
                 static_cast<unsigned long long>(disk.device->bytesWritten));
  return 0;
}

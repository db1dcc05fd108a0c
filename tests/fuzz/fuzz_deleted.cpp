// Find Deleted Files over every volume of a hostile drive, then Copy Out of
// what it found (and of the live root entries) into a scratch folder: the
// walk must end, the copy must never write to the drive, and nothing may
// crash whatever the FAT and the folders claim. exFAT volumes alike: their
// deleted entry sets judged against the bitmap, copied out and rescued.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/silent_prompt.h"
#include "fuzz_walk.h"
#include "recovery/copy_out.h"
#include "recovery/deleted_files.h"
#include "recovery/exfat_recovery.h"
#include "sparse_image.h"

namespace {

// Files larger than this are left out of the copy: a claimed size of
// gigabytes would only read zeros of the sparse drive for minutes.
constexpr uint32_t kCopyMost = 1u << 20;
// Drives larger than this are rescued without carving.
constexpr uint64_t kCarveMost = uint64_t{8} << 20;

const std::filesystem::path& Scratch() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    return base / ("gleaner-fuzz-" + std::to_string(::getpid()));
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SilentPrompt prompt;
  FuzzDisk disk;
  if (!BindFuzzDisk({data, size}, prompt, disk)) return 0;
  DiskAccess& access = disk.Access();
  TreeSession session(access);
  const auto before = disk.device->bytesWritten;
  std::error_code ec;
  for (const TreeNode& node : WalkTree(session, 64)) {
    if (node.packet->kind == NodeKind::ExfatDir && node.label == "Root Directory") {
      const ExfatDeletedResult found = FindExfatDeleted(access, *node.packet);
      std::vector<ExfatDeletedFile> files;
      for (const ExfatDeletedFile& f : found.files)
        if (!f.folder && f.size <= kCopyMost && files.size() < 16) files.push_back(f);
      std::filesystem::remove_all(Scratch(), ec);
      CopyOutOptions options;
      options.targetFolder = Scratch();
      (void)ExfatCopyDeleted(access, *node.packet, files, options);
      std::filesystem::remove_all(Scratch(), ec);
      // Rescue: every deleted file again, and carving on small drives only
      // (it reads every free cluster).
      RescueScanOptions rescue;
      rescue.carve = disk.device->Size() <= kCarveMost;
      (void)ExfatRescue(access, *node.packet, rescue, Scratch().string());
      std::filesystem::remove_all(Scratch(), ec);
      continue;
    }
    if (node.packet->kind != NodeKind::RootDir && !(node.packet->kind == NodeKind::DirEntry &&
                                              node.packet->fatType == FatWidth::Fat32 &&
                                              node.label == "Root Directory"))
      continue;
    const FindDeletedResult found = FindDeletedFiles(access, *node.packet);
    std::vector<CopyOutItem> items;
    for (const DeletedFile& f : found.files)
      if (f.size <= kCopyMost && items.size() < 16) items.push_back(ItemOfDeleted(f));
    if (auto live = ItemsOfDirectory(access, *node.packet, {}))
      for (const CopyOutItem& item : *live)
        if (item.size <= kCopyMost && items.size() < 32) items.push_back(item);
    std::filesystem::remove_all(Scratch(), ec);
    std::filesystem::create_directories(Scratch(), ec);
    CopyOutOptions options;
    options.targetFolder = Scratch();
    options.skipAllocated = (size & 1) != 0;
    (void)CopyOut(access, *node.packet, items, options);
    std::filesystem::remove_all(Scratch(), ec);
  }
  // Finding and copying out only ever read the drive.
  if (disk.device->bytesWritten != before) std::abort();
  return 0;
}

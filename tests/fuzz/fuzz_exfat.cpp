// exFAT's readers over a hostile drive: the boot region choice, the root's
// metadata (bitmap, up-case table), every folder reachable from the root
// with its entry sets, each file's clusters and first bytes, and the entry-set
// decoder over every stored sector as it stands. Nothing may crash, hang or
// read outside a buffer, whatever the sectors claim.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "disk/exfat_boot.h"
#include "disk/exfat_dir.h"
#include "disk/exfat_volume.h"
#include "disk/le.h"
#include "sparse_image.h"

namespace {

constexpr size_t kMaxFolders = 48;
constexpr int kMaxDepth = 6;
constexpr size_t kMaxReads = 32;
constexpr size_t kMaxTables = 8;

// The drive from its volume's first sector on.
class OffsetReader final : public ExfatReader {
 public:
  OffsetReader(SparseDevice& device, uint64_t first) : device_(device), first_(first) {}
  bool Read(uint64_t first, std::span<uint8_t> out) override {
    const uint64_t at = (first_ + first) * kExfatUnit;
    if (at / kExfatUnit < first) return false;  // wrapped
    return device_.ReadAt(at, out.data(), out.size()) == static_cast<int64_t>(out.size());
  }

 private:
  SparseDevice& device_;
  uint64_t first_;
};

// Where the volume starts: sector 0 when it holds one, else the first
// partition of a GPT or an MBR.
uint64_t VolumeStart(SparseDevice& device) {
  uint8_t sector[512];
  if (device.ReadAt(0, sector, 512) != 512) return 0;
  if (HasExfatName(sector)) return 0;
  uint8_t header[512];
  if (device.ReadAt(512, header, 512) == 512 && std::memcmp(header, "EFI PART", 8) == 0) {
    uint8_t entries[512];
    if (device.ReadAt(1024, entries, 512) == 512)
      return uint64_t{le32(entries, 32)} | uint64_t{le32(entries, 36)} << 32;
  }
  return le32(sector, 446 + 8);
}

struct Walk {
  ExfatVolume& volume;
  ExfatSetContext context;
  std::vector<uint8_t> cluster;
  size_t folders = 0;
  size_t reads = 0;
};

void WalkFolder(Walk& walk, const ExfatDirectory& dir, int depth) {
  for (const ExfatEntrySet& set : dir.sets) {
    if (set.kind != ExfatEntryKind::File) continue;
    (void)set.primary.modified.UnixSeconds();
    const ExfatStream stream = ExfatStreamOf(set);
    const ExfatChain chain = walk.volume.StreamClusters(stream);
    if (!chain.runs.empty() && walk.reads++ < kMaxReads)
      (void)walk.volume.ReadCluster(chain.runs.back().first, walk.cluster);
    if (set.IsDirectory() && depth < kMaxDepth && walk.folders < kMaxFolders) {
      ++walk.folders;
      WalkFolder(walk, ReadExfatDirectory(walk.volume, stream, walk.context), depth + 1);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  uint64_t sectors = 0;
  uint8_t flags = 0;
  if (!ReadSparseHeader(input, sectors, flags)) return 0;
  SparseDevice device(sectors, true);
  FillSparseDevice(input, device);

  // The entry-set decoder over each sector as it is, with and without a table.
  const ExfatUpcase identity;
  size_t tables = 0;
  for (const auto& [number, bytes] : device.sectors) {
    ExfatSetContext context;
    context.clusterCount = static_cast<uint32_t>(number);
    context.bytesPerCluster = 4096;
    context.upcase = number % 2 ? &identity : nullptr;
    (void)DecodeExfatEntrySets(bytes, context);
    if (tables++ < kMaxTables) (void)ExfatUpcase::FromTable(bytes);
  }

  const uint64_t start = VolumeStart(device);
  if (start >= sectors) return 0;
  OffsetReader reader(device, start);
  const ExfatBootChoice choice = ChooseExfatBootRegion(reader, sectors - start);
  if (choice.Boot() == nullptr) return 0;
  ExfatVolume volume(reader, *choice.Boot());
  ExfatMetadata meta = LoadExfatMetadata(volume);
  if (meta.bitmap) (void)meta.bitmap->Runs(2, 64);
  Walk walk{volume, volume.Context(meta.upcase ? &*meta.upcase : nullptr),
            std::vector<uint8_t>(static_cast<size_t>(volume.BytesPerCluster()))};
  WalkFolder(walk, meta.root, 0);
  return 0;
}

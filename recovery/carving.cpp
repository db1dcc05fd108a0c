#include "recovery/carving.h"

#include <algorithm>

#include "recovery/carve_formats.h"

const char* CarvedTypeName(CarvedType type) {
  switch (type) {
    case CarvedType::Jpeg: return "JPEG";
    case CarvedType::Png: return "PNG";
    case CarvedType::Gif: return "GIF";
    case CarvedType::Pdf: return "PDF";
    case CarvedType::Zip: return "ZIP";
    case CarvedType::Mp4: return "MP4";
    case CarvedType::Mp3: return "MP3";
    case CarvedType::Text: return "Text";
  }
  return "";
}

uint32_t CarvedFile::LastCluster(uint32_t clusterBytes) const {
  if (clusterBytes == 0 || length == 0) return firstCluster;
  return firstCluster + static_cast<uint32_t>((length - 1) / clusterBytes);
}

std::optional<CarvedType> CarvedTypeOfHeader(std::span<const uint8_t> head) {
  const std::optional<HeaderMatch> m = MatchHeader(head);
  if (!m) return std::nullopt;
  return m->type;
}

struct Carver::Open {
  CarvedFile file;
  std::unique_ptr<FormatWalker> walker;
  uint64_t most = 0;
  bool closed = false;
  // Where headers started clusters while the structure vouched for the
  // bytes (bytes from the file's start), the latest last.
  std::vector<uint64_t> headersInside;
};

Carver::Carver(const ClusterGeometry& geometry, const CarveLimits& limits)
    : geometry_(geometry), limits_(limits) {}

Carver::~Carver() = default;

void Carver::Feed(const ClusterRun& run) {
  const uint32_t cb = geometry_.clusterBytes;
  if (!geometry_.Valid() || run.bytes.size() < uint64_t{run.count} * cb) return;
  for (uint32_t k = 0; k < run.count; ++k) {
    const uint64_t from = uint64_t{k} * cb;
    const std::vector<ByteRange> holes = UnreadableIn(run.unreadable, from, cb);
    OneCluster(run.first + k, run.bytes.subspan(from, cb), holes);
  }
}

void Carver::Close(Open& open, uint64_t length, bool endFound) {
  open.closed = true;
  if (length == 0) return;
  CarvedFile& f = open.file;
  f.length = length;
  f.endFound = endFound;
  f.extension = open.walker->Extension();
  const uint32_t last = f.LastCluster(geometry_.clusterBytes);
  std::erase_if(f.unreadableClusters, [last](uint32_t c) { return c > last; });
  done_.push_back(std::move(f));
}

void Carver::Cut(Open& open, uint64_t at) {
  if (!open.walker->Confirmed()) {
    open.closed = true;  // never shown enough to be its format: nothing carved
    return;
  }
  const std::optional<uint64_t> end = open.walker->EndIfCut();
  if (end && *end <= at) return Close(open, *end, true);
  // A structure that did not come to its end after headers started clusters
  // inside it was overwritten from the first of them on.
  for (uint64_t inside : open.headersInside)
    if (inside <= at) at = inside;
  Close(open, at, false);
}

void Carver::CutAll(bool onlyUnbounded) {
  for (auto& open : open_)
    if (!open->closed && (!onlyUnbounded || !open->walker->Bounded()))
      Cut(*open, std::min(open->walker->Position(), open->most));
  std::erase_if(open_, [](const std::unique_ptr<Open>& o) { return o->closed; });
}

void Carver::Start(CarvedType type, bool weak, uint32_t cluster) {
  if (open_.size() >= limits_.mostOpen) {
    if (weak) return;
    // A sound header outweighs the oldest file followed.
    Cut(*open_.front(), std::min(open_.front()->walker->Position(), open_.front()->most));
    open_.erase(open_.begin());
  }
  auto open = std::make_unique<Open>();
  open->file.firstCluster = cluster;
  open->file.type = type;
  open->walker = MakeFormatWalker(type, false, geometry_.clusterBytes);
  open->most = limits_.most[static_cast<size_t>(type)];
  open_.push_back(std::move(open));
}

void Carver::OneCluster(uint32_t cluster, std::span<const uint8_t> bytes,
                        std::span<const ByteRange> holes) {
  // Files run over consecutive clusters only: one that does not follow ends
  // what is open where it stood.
  if (expected_ != 0 && cluster != expected_) CutAll(false);
  expected_ = cluster + 1;

  const bool headReadable = holes.empty() || holes.front().offset >= 16;
  const std::optional<HeaderMatch> header = headReadable ? MatchHeader(bytes) : std::nullopt;
  if (header) {
    // A sound header at a cluster's start begins a new file: one whose
    // structure is being searched rather than followed ends before it; one
    // whose structure is followed goes on beside it, and remembers where.
    if (!header->weak) {
      CutAll(true);
      for (auto& open : open_) {
        if (open->headersInside.size() >= 64) open->headersInside.erase(open->headersInside.begin());
        open->headersInside.push_back(open->walker->Position());
      }
    }
    Start(header->type, header->weak, cluster);
  } else if (open_.empty() && holes.empty() && TextClusterStart(bytes)) {
    Start(CarvedType::Text, false, cluster);
  }

  for (auto& open : open_) {
    FormatWalker& walker = *open->walker;
    WalkStep step;
    uint64_t at = 0;
    for (const ByteRange& hole : holes) {
      if (hole.offset > at) {
        step = walker.Feed(bytes.subspan(at, hole.offset - at));
        if (step.status != WalkStatus::More) break;
      }
      if (open->file.unreadableClusters.empty() || open->file.unreadableClusters.back() != cluster)
        open->file.unreadableClusters.push_back(cluster);
      step = walker.Unknown(hole.length);
      at = hole.offset + hole.length;
      if (step.status != WalkStatus::More) break;
    }
    if (step.status == WalkStatus::More && at < bytes.size()) step = walker.Feed(bytes.subspan(at));
    switch (step.status) {
      case WalkStatus::Ended: Close(*open, std::min(step.end, open->most), step.end <= open->most); break;
      case WalkStatus::Broken: Cut(*open, std::min(step.end, open->most)); break;
      case WalkStatus::More:
        if (walker.Position() >= open->most) Cut(*open, open->most);
        break;
    }
  }
  std::erase_if(open_, [](const std::unique_ptr<Open>& o) { return o->closed; });
}

std::vector<CarvedFile> Carver::Finish() {
  CutAll(false);
  std::vector<CarvedFile> files = std::move(done_);
  done_.clear();
  expected_ = 0;
  std::stable_sort(files.begin(), files.end(), [](const CarvedFile& a, const CarvedFile& b) {
    return a.firstCluster < b.firstCluster;
  });
  return files;
}

std::vector<CarvedFile> CarveDataArea(ClusterSource& source, const ClusterGeometry& geometry,
                                      const std::function<bool(uint32_t)>& skip,
                                      const CarveLimits& limits, const std::atomic<bool>* stop) {
  Carver carver(geometry, limits);
  ClusterRunOptions options;
  options.skip = skip;
  options.stop = stop;
  (void)ForEachClusterRun(source, geometry, options,
                          [&](const ClusterRun& run) { carver.Feed(run); });
  return carver.Finish();
}

void DropClaimedCarvings(std::vector<CarvedFile>& files, uint32_t clusterBytes,
                         const std::function<bool(uint32_t)>& claimed) {
  if (!claimed || clusterBytes == 0) return;
  std::erase_if(files, [&](const CarvedFile& f) { return claimed(f.firstCluster); });
  for (CarvedFile& f : files) {
    const uint32_t last = f.LastCluster(clusterBytes);
    for (uint32_t c = f.firstCluster + 1; c <= last && c > f.firstCluster; ++c) {
      if (!claimed(c)) continue;
      f.length = uint64_t{c - f.firstCluster} * clusterBytes;
      f.endFound = false;
      std::erase_if(f.unreadableClusters, [c](uint32_t u) { return u >= c; });
      break;
    }
  }
}

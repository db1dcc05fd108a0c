// How fast the rescue readers go over cluster data held in memory, so that
// the disk is the only limit: one pass of the lost-folder search and the
// carver together, and each alone, over a data area of mixed content
// (zeros, random data, text, folders, and the sample files given).
//   rescue_bench [MIB] [CLUSTER_BYTES] [SAMPLE_FILE...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "recovery/carving.h"
#include "recovery/lost_folders.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const uint32_t cb = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 32768;
  std::vector<std::vector<uint8_t>> samples;
  for (int i = 3; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    samples.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ClusterGeometry g;
  g.clusterBytes = cb;
  g.fatType = FatWidth::Fat32;
  g.rootCluster = 2;
  const uint64_t clusters = (mib << 20) / cb;
  g.lastCluster = static_cast<uint32_t>(clusters + 1);
  std::vector<uint8_t> data(clusters * cb, 0);
  std::mt19937_64 rng(25);
  const std::string line = "A line of plain text that the carver takes as text, with words.\n";
  // Stretches of a few MiB of one kind each, as a card fills.
  uint64_t at = 0;
  size_t next = 0;
  while (at < data.size()) {
    const uint64_t stretch = std::min<uint64_t>(data.size() - at, (1 + rng() % 8) << 20);
    switch (rng() % 4) {
      case 0: break;  // zeros
      case 1:
        for (uint64_t k = 0; k + 8 <= stretch; k += 8) {
          const uint64_t r = rng();
          std::memcpy(&data[at + k], &r, 8);
        }
        break;
      case 2:
        for (uint64_t k = 0; k < stretch; ++k) data[at + k] = static_cast<uint8_t>(line[k % line.size()]);
        break;
      default:
        if (samples.empty()) break;
        for (uint64_t k = 0; k < stretch;) {
          const std::vector<uint8_t>& s = samples[next++ % samples.size()];
          const uint64_t n = std::min<uint64_t>(s.size(), stretch - k);
          std::memcpy(&data[at + k], s.data(), n);
          k += (n + cb - 1) / cb * cb;
        }
    }
    at += stretch;
  }
  const double megabytes = static_cast<double>(data.size()) / 1e6;
  auto pass = [&](bool folders, bool carve) {
    MemoryClusterSource source(data, g);
    LostFolderScanner scanner(g);
    Carver carver(g);
    const auto t0 = std::chrono::steady_clock::now();
    (void)ForEachClusterRun(source, g, {}, [&](const ClusterRun& run) {
      if (folders) scanner.Feed(run);
      if (carve) carver.Feed(run);
    });
    const size_t found = folders ? scanner.Build({}).folders.size() : 0;
    const size_t carved = carve ? carver.Finish().size() : 0;
    const double s = Seconds(t0);
    std::printf("%-26s %8.1f MB/s  (%.2f s; %zu folders, %zu carved)\n",
                folders && carve ? "lost folders + carving" : folders ? "lost folders" : "carving",
                megabytes / s, s, found, carved);
  };
  std::printf("%.0f MB of %u-byte clusters in memory\n", megabytes, cb);
  pass(true, true);
  pass(true, false);
  pass(false, true);
  return 0;
}

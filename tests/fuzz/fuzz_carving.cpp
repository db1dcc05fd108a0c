// The carver over hostile cluster data, fed in runs of odd lengths with
// gaps, and the structure check of every format over the same bytes: both
// must end, read nothing outside what they were given, and carve only files
// that lie inside the volume and within their limits.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "cluster_input.h"
#include "recovery/carving.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClusterInput in;
  if (!ReadClusterInput({data, size}, in)) return 0;
  const ClusterGeometry& g = in.geometry;
  MemoryClusterSource source(in.data, g, in.unreadable);
  CarveLimits limits;
  limits.most.fill(uint64_t{g.clusterBytes} * 64);
  limits.mostOpen = 4;
  const uint32_t salt = size > 4 ? data[4] : 0;
  ClusterRunOptions options;
  options.runBytes = uint64_t{g.clusterBytes} * (1 + salt % 5);
  options.skip = [&](uint32_t c) { return salt >= 128 && c % 11 == salt % 11; };
  Carver carver(g, limits);
  (void)ForEachClusterRun(source, g, options, [&](const ClusterRun& run) { carver.Feed(run); });
  for (const CarvedFile& f : carver.Finish()) {
    if (!g.InRange(f.firstCluster) || f.length == 0 || f.LastCluster(g.clusterBytes) > g.lastCluster)
      std::abort();
    if (f.length > limits.most[static_cast<size_t>(f.type)]) std::abort();
    for (uint32_t c : f.unreadableClusters)
      if (c < f.firstCluster || c > f.LastCluster(g.clusterBytes)) std::abort();
  }
  for (size_t t = 0; t < kCarvedTypeCount; ++t) {
    const StructureCheck check = CheckStructure(static_cast<CarvedType>(t), in.data);
    if (check.verdict == StructureVerdict::Complete && check.end > in.data.size()) std::abort();
  }
  return 0;
}

// The lost-folder search over hostile cluster data: it must end, never read
// outside what it was given, and hand back a forest whose links hold
// together, whatever the entries, the ".." links and the FAT claim.
#include <cstdint>
#include <cstdlib>

#include "cluster_input.h"
#include "recovery/lost_folders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClusterInput in;
  if (!ReadClusterInput({data, size}, in)) return 0;
  const ClusterGeometry& g = in.geometry;
  MemoryClusterSource source(in.data, g, in.unreadable);
  LostFolderInputs inputs;
  const uint32_t salt = size > 4 ? data[4] : 0;
  inputs.taken = [&](uint32_t c) { return (c * 2654435761u >> 28) == (salt & 15); };
  inputs.reached = [&](uint32_t c) { return (c ^ salt) % 13 == 0; };
  // Half the inputs come with a FAT that chains clusters, loops included.
  if (salt & 1)
    inputs.fatEntry = [&](uint32_t c) -> uint32_t {
      const uint32_t k = (c * 7 + salt) % (g.lastCluster + 4);
      return k == g.lastCluster + 3 ? 0x0FFFFFFF : k;
    };
  const LostFolderForest forest = FindLostFolders(source, g, inputs);
  for (size_t i = 0; i < forest.folders.size(); ++i) {
    const LostFolder& f = forest.folders[i];
    if (f.parent != SIZE_MAX && f.parent >= i) std::abort();  // parents come first
    if (f.clusters.empty() || !g.InRange(f.firstCluster) || f.path.empty() || f.path[0] != '/')
      std::abort();
    for (size_t e : f.entries)
      if (e >= forest.entries.size() || forest.entries[e].folder != i) std::abort();
  }
  for (const LostEntry& e : forest.entries)
    if (e.subfolder != SIZE_MAX && e.subfolder >= forest.folders.size()) std::abort();
  return 0;
}

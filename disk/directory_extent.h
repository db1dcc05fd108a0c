// Where a directory's bytes lie and how much of them counts: the fixed root's
// sectors, a folder's clusters. The tree, the listings and the recovery
// commands load a directory within these same bounds, so a row always maps
// to the entry it shows.
#pragma once
#include <cstdint>
#include <span>

#include "disk/drive_packet.h"

// A FAT12/16 root holds at most 65535 entries (a 16-bit count): 4096 sectors.
inline constexpr uint64_t kMaxRootSectors = 4096;
// A folder holds at most 65536 entries; a longer chain is damage (a cross
// link into a file, say), and only that much of it is loaded.
inline constexpr uint64_t kMaxFolderEntries = 65536;

// The sectors of a root extent that are loaded: no more than a root can hold
// and the volume has from the extent's start.
uint32_t ListedRootSectors(const DrivePacket& root);
// How many clusters of a folder chain of chainLength are loaded: no more
// than a folder's 65536 entries fill.
uint32_t FolderClusterLimit(const DrivePacket& folder, uint32_t chainLength);
// How many clusters from the front of a folder's cluster list lie inside the
// volume; a folder is cut at the first that does not.
uint32_t ClustersInsideVolume(const DrivePacket& folder, std::span<const uint32_t> clusters);

// The page of a hex dump that the editor steps through and writes back: one
// cluster of a cluster dump (pageIndex indexes clusterChain) or one sector of
// a sector dump (pageIndex counts from shownPacket.startSector). Reading and
// writing a page use the same place rules, so a page is only ever written
// where it was read from.
#pragma once
#include <cstdint>

#include "views/dump_modes.h"
#include "views/view_context.h"

inline constexpr const char* kEditorClusterNotAccessible = "Cluster not accessible!";
inline constexpr const char* kEditorSectorNotAccessible = "Sector not accessible!";

enum class PageKind { None, Cluster, Sector };

// Raw sector mode makes a sector dump a raw one (kind 8) before any editor
// command. Only a sector dump is turned: any other view would have its page
// misread as a sector offset.
void EnterRawKind(ViewPage& page, DumpModes modes);

// Cluster for kind 6, Sector for kinds 7 and 8, None for everything else
// (decoded views are never stepped through or written).
PageKind ShownPageKind(const ViewPage& page);

// Pages the item has: the listed clusters (never more than clusterChain
// holds) or shownPacket.sectorCount.
uint64_t PageCount(const ViewPage& page, PageKind kind);

// The first sector (from partitionStart) of chain entry `index`, or false when
// it cannot be addressed: an index outside the chain, a cluster below 2, no
// sectors per page, a cluster past the volume's end or past 32-bit sectors
// of the volume.
bool ClusterPageSector(const ViewPage& page, uint32_t index, uint32_t& firstSector);

// Sector page `index`: startSector + index, or false when that leaves 32 bits
// (its absolute number, partitionStart added, is 64-bit).
bool SectorPageSector(const DrivePacket& packet, uint64_t index, uint32_t& sector);

// The rows of a page: 32 call-back rows a sector, none selected.
void RepaintPageRows(ViewPage& page, PageKind kind);

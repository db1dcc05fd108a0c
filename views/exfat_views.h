// The decoded views of an exFAT volume's nodes, as rows of texts: every field
// of the boot sector in use, the allocation bitmap as runs of used and free
// clusters, the up-case table's checks, and a folder's entry sets with every
// field and check. They format what disk/exfat_* decode; the FATs are shown by
// the 32-bit FAT table view and the dumps read through the node road.
#pragma once
#include "disk/exfat_boot.h"
#include "disk/exfat_volume.h"
#include "views/gpt_views.h"
#include "views/view_context.h"

// "Field" and "Value" rows of a boot region: a "Note" row first when it is the
// backup in use, its checksum with what it should be when it is wrong, then a
// "Problem" row per problem found.
DecodedView ExfatBootView(const ExfatBootRegion& region, const std::string& note);
// One row per run: first and last cluster, clusters, "Used" or "Free".
DecodedView ExfatBitmapView(const ExfatBitmap& bitmap);
// One row per entry set of a folder, live and deleted.
DecodedView ExfatDirectoryView(const ExfatDirectory& dir);
// A timestamp as "2026-12-09 12:34:56.78 UTC+01:00" (no offset part when the
// offset is not valid; "Invalid (0x...)" when the fields cannot be a time).
std::string ExfatTimestampText(const ExfatTimestamp& t);

// The structure views of the exFAT nodes: volume and boot region, FAT,
// bitmap, up-case table, folder, file (its first run as a sector dump).
void ShowExfatNode(ViewContext& ctx, const DrivePacket& node);

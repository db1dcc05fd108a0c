// The decoded views of a node's first sector: the four entries of a partition
// table (hard disk, extended partition) and the parameter block of a FAT boot
// sector (volume, unknown partition). Their rows carry their own texts and the
// view kind stays None, so the editor's commands act on nothing.
#pragma once
#include "views/view_context.h"

void ShowPartitionTable(ViewContext& ctx, const DrivePacket& packet);
void ShowBootRecord(ViewContext& ctx, const DrivePacket& packet);

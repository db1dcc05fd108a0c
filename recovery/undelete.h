// Undelete: brings back the deleted files and folders selected in the
// directory listing on show. Each gets a chain over consecutive free clusters
// from its recorded start cluster, and its entry gets "!" in place of the
// lost first character of its short name (Rename After Recovery gives it its
// name back, and its long name when the new short name fits its deleted
// long-name entries, which Undelete leaves deleted). The disk is changed at once.
#pragma once
#include "views/view_context.h"

inline constexpr int kCommandUndelete = 32793;

inline constexpr const char* kUndeleteStatus = "Undeleting: Wait....";
inline constexpr const char* kUndeleteDone = "File(s) undeletion completed!";
inline constexpr const char* kClusterOccupied =
    "File Cluster already occupied by another file!!  Undelete not possible!";
inline constexpr const char* kDirClusterNotLoadable = "Directory cluster not loadable!";

// The first character a revived entry gets.
inline constexpr uint8_t kRevivedMark = 0x21;

// Acts on the selected rows of a root-directory or folder listing of the
// selected node (pane.selectedPacket), in ascending row order; does nothing
// for any other view, while a file cluster dump is on show, or without a
// selection. The FAT image is read once and written once, to FAT 1 and to FAT
// 2 where the volume's boot record says it has one. The rows on show are not
// rebuilt, and the pane's sectorBuffer and clusterChain are left empty, so
// that Write Changes finds nothing to write.
void Undelete(ViewContext& ctx);

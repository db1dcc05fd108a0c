// The texts of the scan: its messages and questions.
#pragma once

inline constexpr const char* kScanCaption = "Scan Disk for Errors";

// The volume listing.
inline constexpr const char* kScanTableUnreadable = "Partition Table inaccessible!";
inline constexpr const char* kScanFloppyText = "Floppy Disk %u";
inline constexpr const char* kScanPartitionText = "Hard Disk %u - %s - %s";
inline constexpr const char* kScanPrimary = "Primary Partition";
inline constexpr const char* kScanLogical = "Logical Partition";
inline constexpr const char* kScanGptPartition = "GPT Partition %u";
inline constexpr const char* kScanWholeDisk = "Whole Disk";

// The worker and the dialog.
inline constexpr const char* kScanBootUnreadable = "Boot Record inaccessible!";
inline constexpr const char* kScanExfatNotChecked = "Scan Disk does not check exFAT volumes: nothing was checked or written.";
inline constexpr const char* kScanCannotClose =
    "Cannot close now!  Thread in progress.  Press X again after thread stops now!";

// FAT copies.
inline constexpr const char* kScanFatReadError =
    "Read error accessing FAT %u, Sector %lu, continue with FAT?";
inline constexpr const char* kScanFatsDiffer =
    "FATs do not compare equal at Sector %lu and Sector %lu, continue with FAT?";
inline constexpr const char* kScanFatNoMemory = "Error allocating memory for FAT. Quitting!!";
inline constexpr const char* kScanFatCritical =
    "CRITICAL ERROR WITH FAT COPIES.  ONLY LOW LEVEL FORMAT OR REPARTITIONING CAN FIX THIS.  "
    "QUITTING!!";
inline constexpr const char* kScanBitsNoMemory =
    "Error allocating memory for cluster bits.  Quitting!!";
inline constexpr const char* kScanFatAltered = "FAT had been altered!  Write changes to FATs?";
inline constexpr const char* kScanFatNotWritten = "Error writing to FAT %u";

// Folders, cross-links, lost and bad clusters.
inline constexpr const char* kScanRootNoMemory =
    "Error allocating memory for Root Directory.  Quitting!!";
inline constexpr const char* kScanRootUnreadable = "Error encountered while loading Root Directory";
inline constexpr const char* kScanFolderNoMemory = "Memory Insufficient for loading folder!!";
inline constexpr const char* kScanFolderChanged =
    "This folder contains changes! Write them to disk?";
inline constexpr const char* kScanCrossLinked = "Cross Linked file detected.  Fix it?";
inline constexpr const char* kScanCircular = "Circular file chain detected.  Fix it?";
inline constexpr const char* kScanChainFree = "File chain runs into a free cluster.  Fix it?";
inline constexpr const char* kScanChainOutside = "File chain leads outside the disk.  Fix it?";
inline constexpr const char* kScanBadFirstCluster = "Invalid first cluster in file entry!!";
inline constexpr const char* kScanSizeMismatch = "File size does not match its cluster chain!!";
inline constexpr const char* kScanNoSpaceCrossLink =
    "Insufficient disk space for fixing cross-link!!";
inline constexpr const char* kScanFixFailed = "Error fixing file!!";
inline constexpr const char* kScanClusterNoMemory = "Memory insufficient for loading cluster!!";
inline constexpr const char* kScanBadCluster = "Bad cluster detected!!";
inline constexpr const char* kScanNoSpaceMove = "Insufficient disk space for transferring!!";
inline constexpr const char* kScanLostClusters = "%lu Lost Clusters found!!";
// Lost chains and the clusters past a file's size.
inline constexpr const char* kScanSurplusTail =
    "File chain is longer than its size.  Save the clusters past its end?";
inline constexpr const char* kScanSaveLost = "%lu lost chains found.  Save them as files in %s?";
inline constexpr const char* kScanFreeLost = "%lu lost chains found.  Free them?";
inline constexpr const char* kScanNoSpaceLost = "Insufficient disk space for saving lost chains!!";
inline constexpr const char* kScanRootFull = "No room in the Root Directory for the lost chains!!";
inline constexpr const char* kScanSummaryLost =
    "\nLost chains: %lu.  Saved as .CHK files: %lu.  Freed: %lu.";
// The lost clusters counted, shown as the scan goes on.
inline constexpr const char* kScanLostCount = "Lost clusters counted: %lu";
// The summary: problems found, repaired, left; lost clusters and what became
// of them, cross-linked files, bad clusters; then the chains' faults.
inline constexpr const char* kScanSummaryDone =
    "Scan complete: %lu problems found, %lu repaired, %lu left.\n"
    "Lost clusters: %lu (%s).  Cross-linked files: %lu.  Bad clusters: %lu.";
inline constexpr const char* kScanSummaryStopped =
    "Scan stopped before its end: %lu problems found so far, %lu repaired, %lu left.\n"
    "Lost clusters: %lu (%s).  Cross-linked files: %lu.  Bad clusters: %lu.";
// What became of the lost clusters: all of them one way, or the count of each.
inline constexpr const char* kScanLostLeft = "left allocated";
inline constexpr const char* kScanLostSaved = "saved as .CHK files";
inline constexpr const char* kScanLostFreed = "freed";
inline constexpr const char* kScanSummaryChains =
    "\nCircular chains: %lu.  Broken chains: %lu.  Invalid first clusters: %lu.  Size mismatches: %lu.";
inline constexpr const char* kScanBadFreeCluster = "Bad Cluster %lu Detected!!";
inline constexpr const char* kScanRelocateRoot =
    "Root Directory must be relocated!! Change Boot Record?";

// The boot area: the boot record and its backup, the reserved FAT entries,
// the dirty bits, FSInfo and the volume label.
inline constexpr const char* kScanBootFromBackup =
    "Boot Record damaged!  The volume was read by its backup at Sector %lu.  Write the backup over it?";
inline constexpr const char* kScanBackupStale =
    "Backup Boot Record at Sector %lu does not match the Boot Record.  Update the backup?";
inline constexpr const char* kScanMediaMismatch =
    "Media byte in FAT[0] does not match the Boot Record's.  Fix it?";
inline constexpr const char* kScanFat1NotEnd = "FAT[1] does not hold an end-of-chain mark.  Fix it?";
inline constexpr const char* kScanDirty =
    "Volume was not unmounted cleanly (dirty bit set): files being written then may be incomplete.  "
    "Mark it clean?";
inline constexpr const char* kScanErrorBit =
    "Volume is marked as having met disk errors (FAT[1]'s error bit).  Mark it clean?";
inline constexpr const char* kScanFsInfoSignatures = "FSInfo sector has bad signatures.  Rebuild it?";
inline constexpr const char* kScanFsInfoFree =
    "FSInfo free cluster count is %lu, the FAT has %lu free clusters.  Fix it?";
inline constexpr const char* kScanFsInfoNext = "FSInfo next free cluster hint %lu is outside the volume.  Fix it?";
inline constexpr const char* kScanLabelsDiffer =
    "Volume label in the Boot Record (%s) differs from the Root Directory's (%s).  Make them agree?";
inline constexpr const char* kScanSummaryBootArea =
    "\nBoot records: %lu.  Reserved FAT entries: %lu.  Dirty bits: %lu.  FSInfo: %lu.  Labels: %lu.";
// A repair that found no free cluster but those deleted files hold.
inline constexpr const char* kScanOverwritesDeleted =
    "No other free space left: the repair overwrites deleted file %s!!";

// Directory entries.
inline constexpr const char* kScanBadShortName = "Invalid short file name (%s).  Give it a valid one?";
inline constexpr const char* kScanDuplicateName = "Duplicate file name (%s) in one folder.  Give it a numbered one?";
inline constexpr const char* kScanDotEntry = "Folder's \"%s\" entry is missing or wrong.  Rebuild it?";
inline constexpr const char* kScanDotTaken = "Folder's \"%s\" entry is missing and another entry holds its place!!";
inline constexpr const char* kScanFolderLoop =
    "Folder entry (%s) leads to its own folder or the Root Directory.  Remove the entry?";
inline constexpr const char* kScanFolderSize = "Folder entry (%s) has a non-zero size.  Set it to 0?";
inline constexpr const char* kScanBrokenLongName =
    "Long file name entries out of order, of another checksum or without their short entry.  Remove them?";
inline constexpr const char* kScanSummaryEntries =
    "\nInvalid short names: %lu.  Duplicate names: %lu.  Dot entries: %lu.  Folder loops: %lu.  Folder sizes: %lu.  "
    "Broken long names: %lu.";

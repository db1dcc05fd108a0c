// Titles, labels and box lengths that only the window's dialogs show.
#pragma once

inline constexpr const char* kSearchDialogTitle = "Search Bytes";
inline constexpr int kSearchByteBoxMaxChars = 9;
inline constexpr int kSearchTextMaxChars = 89;

inline constexpr const char* kJumpDialogTitle = "Goto a Specific Sector";
inline constexpr const char* kJumpDialogLabel = "Enter Sector Number to Goto:";
inline constexpr int kJumpBoxMaxChars = 9;

// The phase line of "Scan Disk for Errors".
inline constexpr const char* kScanFatPhase = "File Allocation Table";
inline constexpr const char* kScanFatSector = "File Allocation Table, Sector %lu";
inline constexpr const char* kScanFileCluster = "Scanning File/Folder Cluster %lu";
inline constexpr const char* kScanFreeCluster = "Scanning Free Cluster %lu of %lu Total";

inline constexpr const char* kByteDialogTitle = "Enter Bytes to Change";
inline constexpr int kByteBoxMaxChars = 2;

// The control ids of the window's dialogs: the prompt port's dialog controls
// and the dialogs' event sinks find a widget by them, tests by its object name.
#pragma once
#include <array>

// "Scan Disk for Errors".
inline constexpr int kScanDriveList = 1000;
inline constexpr int kScanStandard = 1049;
inline constexpr int kScanThorough = 1050;
inline constexpr int kScanAutoFix = 1048;
inline constexpr int kScanPhase = 1046;     // "Scanning:", then the phase or cluster
inline constexpr int kScanProgress = 1047;
inline constexpr int kScanEntryName = 1051; // the directory entry being checked
inline constexpr int kScanButton = 1044;
inline constexpr int kScanStop = 1025;
inline constexpr int kScanClose = 3;

// "Search Bytes" (dialog 149).
inline constexpr int kSearchDialogResource = 149;
inline constexpr int kSearchHexRadio = 1022;
inline constexpr int kSearchStringRadio = 1024;
// The 16 byte boxes, pattern bytes 1 to 16 in order.
inline constexpr std::array<int, 16> kSearchByteBoxes = {1026, 1027, 1028, 1029, 1030, 1031,
                                                         1032, 1033, 1034, 1035, 1036, 1037,
                                                         1038, 1039, 1040, 1016};
inline constexpr int kSearchStringBox = 1041;
inline constexpr int kSearchStartBox = 1015;
inline constexpr int kSearchProgressText = 1042;
inline constexpr int kSearchProgressBar = 1023;
inline constexpr int kSearchButton = 1043;
inline constexpr int kSearchStopButton = 1025;
inline constexpr int kSearchCloseButton = 3;

// "Copy Floppy Disk" (dialog 102).
inline constexpr int kCopyDriveListId = 1000;
inline constexpr int kCopyButtonId = 1001;
inline constexpr int kCopyVerifyId = 1004;
inline constexpr int kCopyStopId = 1006;
inline constexpr int kCopyProgressId = 1017;

// "Backup Drives" (131) and "Restore Drives" (132): their progress texts.
inline constexpr int kBackupProgressId = 1008;
inline constexpr int kRestoreProgressId = 1009;

// "Goto a Specific Sector".
inline constexpr int kJumpBoxId = 1015;

// "Enter Bytes to Change": box 1000 + k holds byte k; 1000-1007 above 1008-1015.
inline constexpr int kByteBoxFirstId = 1000;

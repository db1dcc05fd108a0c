// The command ids of the main window: menu items, toolbar buttons and
// accelerators all name their command by these numbers.
#pragma once

enum CommandId : int {
  kCmdPrevious = 32772,
  kCmdNext = 32773,
  kCmdRefresh = 32774,
  kCmdSectorDump = 32775,
  kCmdBackup = 32776,
  kCmdRestore = 32777,
  kCmdWriteChanges = 32778,
  kCmdRawDump = 32780,
  kCmdGoToSector = 32781,
  kCmdUsage = 32782,
  kCmdDiskCopy = 32783,
  kCmdSearch = 32784,
  kCmdScan = 32787,
  kCmdUndelete = 32793,
  kCmdCopyToFloppy = 32807,
  kCmdRename = 32808,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdNextPane = 57680,
  kCmdPreviousPane = 57681,
  kCmdToggleToolBar = 59392,
  kCmdToggleStatusBar = 59393,
  kCmdViewSmallIcons = 59408,
  kCmdViewLargeIcons = 59409,
  kCmdViewList = 59410,
  kCmdViewDetails = 59411,
  kCmdViewArrange = 59412,
  kCmdViewLineUp = 59413,
};

#include "app/command_table.h"

#include <array>
#include <cstring>

#include "app/command_ids.h"

namespace {

struct CommandPrompt {
  int id;
  const char* text;
};

constexpr std::array<CommandPrompt, 27> kPrompts = {{
    {kCmdPrevious, "This takes you to the previous Sector or Cluster\nPrevious Sector/Cluster"},
    {kCmdNext, "This takes you to the next Sector or Cluster\nNext Sector/Cluster"},
    {kCmdRefresh, "Refreshes the disk items in the tree view by resetting all of them\nRefresh"},
    {kCmdSectorDump, "Dumps the tree items as sectors rather than as their own types\nSector Dumping"},
    {kCmdBackup,
     "Backup Critical areas of Hard disk like Partition table, FAT etc.\nBackup Critical Areas"},
    {kCmdRestore,
     "Restore Critical areas of Hard disk like Partition table, FAT etc.\nRestore Critical"},
    {kCmdWriteChanges, "Write the changes made to the sector to the disk\nWrite"},
    {kCmdRawDump,
     "Dumps sectors in Hexadecimal no matter what the item is.  The logical disk can be viewed "
     "fully using this method.\nRaw Sector Dump"},
    {kCmdGoToSector, "Goes to a specific sector in Raw Sector Dumping Mode\nGoto Sector"},
    {kCmdUsage, "It details on the features available in this utility\nUsage"},
    {kCmdDiskCopy, "Copies a floppy disk onto another disk\nDisk Copy"},
    {kCmdSearch, "Searches in Sectors in the Raw Disk\nSearch Bytes"},
    {kCmdScan, "Scan Disks for errors and fix them\nScan Disks"},
    {kCmdUndelete, "Undelete Files or Folders which were accidentally deleted\nUndelete"},
    {kCmdRename, "Rename after the files have been recovered from deletion status\n"},
    {kCmdFindDeleted,
     "Lists every deleted file and folder of the volume and judges what can come back\n"
     "Find Deleted Files"},
    {kCmdCopyOut,
     "Copies the selected files and folders, live or deleted, to a folder without writing the "
     "disk\nCopy Out To Folder"},
    {kCmdUndoWrites, "Puts back the sectors an undo file kept from earlier writes\nUndo Writes"},
    // The framework's own commands.
    {kCmdAbout, "Display program information and version number\nAbout"},
    {kCmdExit, "Quit the application\nExit"},
    {kCmdToggleToolBar, "Show or hide the toolbar\nToggle ToolBar"},
    {kCmdToggleStatusBar, "Show or hide the status bar\nToggle StatusBar"},
    {kCmdViewSmallIcons, "Displays items by using small icons\nSmall Icons"},
    {kCmdViewLargeIcons, "Displays items by using large icons\nLarge Icons"},
    {kCmdViewList, "Displays items in a list\nList"},
    {kCmdViewDetails, "Displays detailed information about each item in the window\nDetails"},
    {kCmdNextPane, "Switch to the next window pane\nNext Pane"},
}};

constexpr std::array<Accelerator, 23> kAccelerators = {{
    {"Ctrl+C", 32789},
    {"Ctrl+G", kCmdGoToSector},
    {"Ctrl+V", 32795},
    {"F1", kCmdUsage},
    {"F2", kCmdBackup},
    {"Ctrl+F2", kCmdRestore},
    {"F3", kCmdSearch},
    {"F4", kCmdRawDump},
    {"Ctrl+F4", kCmdSectorDump},
    {"F5", kCmdRefresh},
    {"Ctrl+X", 57635},
    {"F6", kCmdNextPane},
    {"Ctrl+F6", kCmdScan},
    {"Shift+F6", kCmdPreviousPane},
    {"F7", 32789},
    {"Alt+F7", kCmdUndelete},  // as the Undelete menu item shows
    {"Ctrl+Shift+F7", 32803},
    {"Ctrl+Shift+F7", 32798},
    {"Ctrl+Shift+Alt+F7", 32804},
    {"F8", 32790},
    {"F9", kCmdDiskCopy},
    {"Alt+Return", 32792},
    {"Ctrl+Z", 57643},
}};

}  // namespace

const char* PromptOf(int id) {
  for (const auto& p : kPrompts)
    if (p.id == id) return p.text;
  return nullptr;
}

std::string StatusTipOf(int id) {
  const char* text = PromptOf(id);
  if (text == nullptr) return {};
  const char* newline = std::strchr(text, '\n');
  return newline ? std::string(text, newline) : std::string(text);
}

std::string ToolTipOf(int id) {
  const char* text = PromptOf(id);
  if (text == nullptr) return {};
  const char* newline = std::strchr(text, '\n');
  return newline ? std::string(newline + 1) : std::string();
}

std::span<const Accelerator> Accelerators() { return kAccelerators; }

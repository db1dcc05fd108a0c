// What a view produced: what is shown, the bytes on show, the page and the
// cluster chain of a dump, the navigation flags, the columns, the rows and the
// directory records. The views and the editor write it; the window's list
// (which keeps its selection beside it, app/list_pane_state.h), gleaner-cli's
// show and the tests read it. The list's content is its columns, its rows
// (item data) and the texts FormatCell gives for a row and a column.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "disk/drive_packet.h"
#include "disk/memory_budget.h"

enum class ViewKind : uint8_t {
  None = 0,
  Fat16Table = 3,
  Fat12Table = 4,
  RootDirectory = 5,
  ClusterDump = 6,
  SectorDump = 7,
  RawSectorDump = 8,
  Fat32Table = 9,
  SubDirectory = 10,
};

// A column of the list: its title. How wide it is drawn is the window's
// choice (app/column_widths.h); the CLI prints titles only.
struct ListColumn {
  std::string title;
};

// One listed directory entry. The long name is kept in the record itself.
struct DirectoryRow {
  char dosName[13] = {};  // 8 name bytes, '.', 3 extension bytes, NUL; blanks kept
  uint8_t attributes = 0;
  uint16_t modifiedTime = 0;
  uint16_t modifiedDate = 0;
  uint16_t createdDate = 0;
  uint16_t accessedDate = 0;
  uint32_t firstCluster = 0;
  uint32_t size = 0;
  std::string longName;
};

// A row of the list: its item data. Dumps and FAT tables carry a row index or
// byte offset (value); directory listings carry the index of their record in
// rowStore (also value). Decoded views (partition table, boot record) carry
// their own texts.
struct ListRow {
  uint64_t value = 0;
  std::vector<std::string> texts;  // fixed texts; empty for call-back rows
};

// The longest text FormatCell hands out, as the single display buffer held:
// a 255-character long name and room to spare. Longer texts are cut.
inline constexpr size_t kDisplayTextMax = 300;

// The most one view takes for a buffer whose size comes from a disk; larger
// sizes are refused with the view's own message instead of being allocated.
inline constexpr uint64_t kViewMemoryLimit = kDefaultMemoryLimit;

struct ViewPage {
  ViewKind viewKind = ViewKind::None;
  DrivePacket shownPacket;
  std::vector<uint8_t> sectorBuffer;
  // Per sector of the dump page in sectorBuffer: nonzero where the sector
  // could not be read. Its bytes are no data: they are shown as unreadable,
  // cannot be edited, and the page is not written back. Empty: all read.
  std::vector<uint8_t> unreadableSectors;
  uint32_t pageIndex = 0;
  uint32_t sectorsPerPage = 1;
  std::vector<uint32_t> clusterChain;
  uint32_t chainLength = 0;
  bool canGoPrevious = false;
  bool canGoNext = false;
  bool fileDumpShown = false;
  std::vector<DirectoryRow> rowStore;

  // The list's content.
  std::vector<ListColumn> columns;
  std::vector<ListRow> rows;
  // Counts every time the rows are laid out anew (another view, page or
  // chain): a front end that keeps a selection of rows drops it then.
  uint64_t rowsGeneration = 0;

  // What a view may take for one buffer sized from disk data (tests lower it).
  MemoryBudget budget;
};

// The list pane's state: the page the views fill and what only the window
// keeps beside it, the rows selected in the list and the node selected in
// the tree (the recovery commands act on both).
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "disk/drive_packet.h"
#include "views/view_page.h"

struct ListPaneState : ViewPage {
  // Row numbers selected in the list, ascending. They belong to the rows of
  // selectionGeneration: once the views lay out rows anew, SelectedRows()
  // finds none.
  std::vector<int> selectedRows;
  uint64_t selectionGeneration = 0;
  // The node last selected or expanded in the tree.
  DrivePacket selectedPacket;

  const std::vector<int>& SelectedRows() {
    if (selectionGeneration != rowsGeneration) {
      selectedRows.clear();
      selectionGeneration = rowsGeneration;
    }
    return selectedRows;
  }
  void Select(std::vector<int> rows) {
    selectionGeneration = rowsGeneration;
    selectedRows = std::move(rows);
  }
};

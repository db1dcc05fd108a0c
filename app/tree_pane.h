// The left pane: the disk tree. Its items carry their node's packet; it grows
// lazily (a node is expanded by the discovery the first time it opens), and a
// selected node is shown in the list pane by the view its kind and the dump
// modes choose.
#pragma once
#include <QTreeWidget>
#include <vector>

#include "app/app_state.h"
#include "disk/tree_sink.h"
#include "views/row_edit.h"

class TreePane : public QTreeWidget, public TreeSink {
  Q_OBJECT
 public:
  TreePane(AppState& state, QWidget* parent = nullptr);

  // The drive listing into an empty tree.
  void ListDrives();
  // Empties the tree, lists the drives again and selects the last hard disk
  // (with none, the selection is left to the tree).
  void Refresh();
  // Selects the selected node again with the selection handler blocked
  // around the deselection, so the node is shown once, in the current dump
  // modes. Nothing happens when no node is selected.
  void ReshowSelected();
  // After a write: the selected node's children are made again from the disk
  // (at once when it is open, else when it is next opened), nothing shown.
  void ReloadSelectedChildren();
  // The same for any item; an item that was never opened is left alone.
  void ReloadChildren(QTreeWidgetItem* item);
  // Removes every item without showing anything (closing, Refresh).
  void ClearNodes();

  const DrivePacket* SelectedPacket() const;
  static const DrivePacket* PacketOf(const QTreeWidgetItem* item);
  // The item whose node is packet; nullptr when there is none.
  QTreeWidgetItem* ItemOf(const DrivePacket* packet) const;
  // An item by its labels from the top, e.g. {"Hard Disk 1", "16-Bit FAT
  // Disk", "FAT 1"}; expands the items on the way. nullptr when not found.
  QTreeWidgetItem* FindPath(const QStringList& labels);

  bool SuppressingSelection() const { return suppressSelection_; }

  void AddNode(const TreeNode& node) override;

 signals:
  // The list pane's content was replaced by a selection.
  void NodeShown();
  // A node grew its children; the list is as it was.
  void NodeExpanded();
  // A right click on a node: the items of its menu are for the window to run.
  void NodeMenuRequested(const DrivePacket& packet, const QPoint& globalPos);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnItemExpanded(QTreeWidgetItem* item);
  void OnSelectionChanged();
  void OnContextMenu(const QPoint& pos);

  AppState& state_;
  bool suppressSelection_ = false;
  // Where AddNode puts the nodes: under this item, nullptr for the top level.
  QTreeWidgetItem* insertParent_ = nullptr;
};

// The right-click menu of a node: "Disk Copy" for a node on a floppy,
// "Raw Search" for a node with sectors of its own (startSector not 0).
std::vector<MenuItem> NodeMenuItems(const DrivePacket& packet);

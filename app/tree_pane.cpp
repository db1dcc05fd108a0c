#include "app/tree_pane.h"

#include <QHeaderView>
#include <QKeyEvent>

#include "app/list_pane.h"
#include <utility>
#include <vector>

#include "app/command_ids.h"
#include "views/show_node.h"

namespace {

constexpr int kPacketRole = Qt::UserRole;
// Set once the node was expanded: the discovery makes a node's children once.
constexpr int kExpandedRole = Qt::UserRole + 1;

}  // namespace

std::vector<MenuItem> NodeMenuItems(const DrivePacket& packet) {
  std::vector<MenuItem> items;
  if (packet.drive < kFirstHardDisk) items.push_back({kCmdDiskCopy, "Disk Copy"});
  if (packet.startSector != 0) items.push_back({kCmdSearch, "Raw Search"});
  return items;
}

TreePane::TreePane(AppState& state, QWidget* parent) : QTreeWidget(parent), state_(state) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setDragEnabled(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformRowHeights(true);
  // Deep nodes with long names scroll sideways instead of being cut off.
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QTreeWidget::itemExpanded, this, &TreePane::OnItemExpanded);
  connect(this, &QTreeWidget::itemSelectionChanged, this, &TreePane::OnSelectionChanged);
  connect(this, &QWidget::customContextMenuRequested, this, &TreePane::OnContextMenu);
}

const DrivePacket* TreePane::PacketOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return nullptr;
  return reinterpret_cast<const DrivePacket*>(item->data(0, kPacketRole).value<quintptr>());
}

const DrivePacket* TreePane::SelectedPacket() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? nullptr : PacketOf(selected.first());
}

void TreePane::AddNode(const TreeNode& node) {
  auto* item = new QTreeWidgetItem;
  // Files and folders are labelled by their packet's name.
  const char* label = node.labelByCallback && node.packet ? NodeLabel(*node.packet) : node.label.c_str();
  item->setText(0, QString::fromUtf8(label));
  item->setData(0, kPacketRole, QVariant::fromValue(reinterpret_cast<quintptr>(node.packet)));
  item->setChildIndicatorPolicy(node.hasChildren ? QTreeWidgetItem::ShowIndicator
                                                 : QTreeWidgetItem::DontShowIndicator);
  if (insertParent_ != nullptr)
    insertParent_->addChild(item);
  else
    addTopLevelItem(item);
}

void TreePane::ClearNodes() {
  const bool was = suppressSelection_;
  suppressSelection_ = true;
  clear();
  suppressSelection_ = was;
}

void TreePane::ListDrives() {
  insertParent_ = nullptr;
  state_.discovery.ListDrives(state_.access, *this);
}

void TreePane::Refresh() {
  suppressSelection_ = true;
  clear();
  ListDrives();
  suppressSelection_ = false;
  if (QTreeWidgetItem* last = ItemOf(state_.discovery.LastHardDisk())) setCurrentItem(last);
}

void TreePane::ReshowSelected() {
  QTreeWidgetItem* item = currentItem();
  if (item == nullptr || !item->isSelected()) return;
  suppressSelection_ = true;
  clearSelection();
  suppressSelection_ = false;
  setCurrentItem(item);
  item->setSelected(true);
}

void TreePane::ReloadSelectedChildren() { ReloadChildren(currentItem()); }

void TreePane::ReloadChildren(QTreeWidgetItem* item) {
  if (item == nullptr || !item->data(0, kExpandedRole).toBool()) return;
  const bool open = item->isExpanded();
  // The open branches below it, by their labels, to be opened again.
  std::vector<QStringList> openPaths;
  std::vector<std::pair<QTreeWidgetItem*, QStringList>> pending = {{item, {}}};
  while (!pending.empty()) {
    auto [at, path] = pending.back();
    pending.pop_back();
    for (int i = 0; i < at->childCount(); ++i) {
      QTreeWidgetItem* child = at->child(i);
      if (!child->isExpanded()) continue;
      QStringList childPath = path;
      childPath << child->text(0);
      openPaths.push_back(childPath);
      pending.push_back({child, childPath});
    }
  }
  const bool was = suppressSelection_;
  suppressSelection_ = true;
  collapseItem(item);
  qDeleteAll(item->takeChildren());
  item->setData(0, kExpandedRole, false);
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  if (open) {
    expandItem(item);  // the discovery reads the node again
    // Parents come before their children in openPaths.
    for (const QStringList& path : openPaths) {
      QTreeWidgetItem* at = item;
      for (const QString& label : path) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < at->childCount() && next == nullptr; ++i)
          if (at->child(i)->text(0) == label) next = at->child(i);
        at = next;
        if (at == nullptr) break;
      }
      if (at != nullptr) expandItem(at);
    }
  }
  suppressSelection_ = was;
}

QTreeWidgetItem* TreePane::ItemOf(const DrivePacket* packet) const {
  if (packet == nullptr) return nullptr;
  for (QTreeWidgetItemIterator it(const_cast<TreePane*>(this)); *it; ++it)
    if (PacketOf(*it) == packet) return *it;
  return nullptr;
}

QTreeWidgetItem* TreePane::FindPath(const QStringList& labels) {
  QTreeWidgetItem* at = nullptr;
  for (const QString& label : labels) {
    if (at != nullptr) expandItem(at);
    QTreeWidgetItem* next = nullptr;
    const int count = at ? at->childCount() : topLevelItemCount();
    for (int i = 0; i < count && next == nullptr; ++i) {
      QTreeWidgetItem* child = at ? at->child(i) : topLevelItem(i);
      if (child->text(0) == label) next = child;
    }
    if (next == nullptr) return nullptr;
    at = next;
  }
  return at;
}

void TreePane::OnItemExpanded(QTreeWidgetItem* item) {
  if (item->data(0, kExpandedRole).toBool()) return;
  const DrivePacket* packet = PacketOf(item);
  if (packet == nullptr) return;
  item->setData(0, kExpandedRole, true);
  // The expansion makes the expanding node the pane's packet. The list still
  // shows the node selected before, so Previous, Next, Write Changes and the
  // recovery commands would work on that page with the other node's address
  // (and write it there); the pane keeps the packets of what it shows.
  const DrivePacket shown = state_.pane.shownPacket;
  insertParent_ = item;
  const bool expanded = ExpandShownNode(state_.ctx, state_.discovery, *packet, *this);
  insertParent_ = nullptr;
  state_.pane.shownPacket = shown;
  if (!expanded) {
    // Refused (a floppy drive that cannot be opened): it may be tried again,
    // from nothing.
    item->setData(0, kExpandedRole, false);
    qDeleteAll(item->takeChildren());
    collapseItem(item);
  } else if (item->childCount() == 0) {
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  }
  emit NodeExpanded();
}

void TreePane::OnSelectionChanged() {
  if (suppressSelection_) return;
  const DrivePacket* packet = SelectedPacket();
  if (packet == nullptr) return;
  // The recovery commands act on the node selected in the tree.
  state_.pane.selectedPacket = *packet;
  ShowNode(state_.ctx, *packet, state_.modes);
  emit NodeShown();
}

void TreePane::keyPressEvent(QKeyEvent* event) {
  // Shift+F10 and the Menu key open the menu of the current node.
  if (ListPane::IsContextMenuKey(*event)) {
    event->accept();
    if (const DrivePacket* packet = PacketOf(currentItem()))
      emit NodeMenuRequested(*packet, viewport()->mapToGlobal(visualItemRect(currentItem()).center()));
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void TreePane::OnContextMenu(const QPoint& pos) {
  // A click beside every item has no node to offer a menu for.
  const DrivePacket* packet = PacketOf(itemAt(pos));
  if (packet == nullptr) return;
  emit NodeMenuRequested(*packet, viewport()->mapToGlobal(pos));
}

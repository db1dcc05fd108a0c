// The main window's handlers of Find Deleted Files and Copy Out To Folder:
// the volume of the selected tree node, the dialog, and the rows of the
// listing on show copied to a folder the person picks.
#include <QApplication>
#include <QTreeWidgetItem>

#include "app/dialog_runner.h"
#include "app/list_pane.h"
#include "app/main_window.h"
#include "app/tree_pane.h"
#include "recovery/copy_out.h"
#include "recovery/directory_image.h"
#include "recovery/exfat_recovery.h"

namespace {

constexpr const char* kRootLabel = "Root Directory";

}  // namespace

std::optional<DrivePacket> MainWindow::SelectedVolumeRoot() {
  // Up from the selected node: a root directory on the way is the one; a
  // partition, floppy or FAT copy has it as its own child or a sibling's.
  for (QTreeWidgetItem* item = tree_->currentItem(); item != nullptr; item = item->parent()) {
    const DrivePacket* packet = TreePane::PacketOf(item);
    if (packet == nullptr) return std::nullopt;
    if (item->text(0) == QLatin1String(kRootLabel) &&
        (packet->kind == NodeKind::RootDir || packet->kind == NodeKind::DirEntry ||
         packet->kind == NodeKind::ExfatDir))
      return *packet;
    if (packet->kind == NodeKind::Volume || packet->kind == NodeKind::ExfatVolume) {
      item->setExpanded(true);  // its children are made on the first expansion
      for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->text(0) == QLatin1String(kRootLabel))
          if (const DrivePacket* root = TreePane::PacketOf(item->child(i))) return *root;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

void MainWindow::OnFindDeleted() {
  const std::optional<DrivePacket> root = SelectedVolumeRoot();
  if (!root) {
    state_.Prompt().Message(kFindDeletedNoVolume);
    return;
  }
  dialogs_.FindDeleted(this, state_.access, *root);
}

void MainWindow::OnCopyOut() {
  ListPaneState& pane = state_.pane;
  if (!CopyOutAllowed(pane, pane.selectedPacket, pane.SelectedRows())) return;
  // An exFAT folder's rows are its entry sets, copied as extract copies them.
  const bool exfat = pane.selectedPacket.kind == NodeKind::ExfatDir;
  const std::optional<ListedDirectory> dir = DirectoryOnShow(pane, pane.selectedPacket);
  if (!exfat && !dir) return;
  std::optional<std::vector<CopyOutItem>> items;
  if (!exfat) items = ItemsOfDirectory(state_.access, dir->node, pane.SelectedRows());
  if (!exfat && !items) {
    state_.Prompt().Message(kFindDeletedFatUnreadable);
    return;
  }
  const QString folder = dialogs_.AskFolder(this, QString::fromLatin1(kCopyOutCaption));
  if (folder.isEmpty()) return;
  CopyOutOptions options;
  options.targetFolder = folder.toStdString();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CopyOutResult result =
      exfat ? ExfatCopyOut(state_.access, pane.selectedPacket, pane.SelectedRows(), options)
            : CopyOut(state_.access, dir->node, *items, options);
  QApplication::restoreOverrideCursor();
  std::string text = result.opened ? CopyOutSummary(result, options.targetFolder) : result.error;
  for (const std::string& line : CopyOutReport(result)) text += "\n" + line;
  state_.Prompt().Message(text, kCopyOutCaption,
                          result.Complete() ? PromptIcon::Information : PromptIcon::Exclamation);
}

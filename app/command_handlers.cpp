// The main window's command handlers: Refresh, the dump modes, the sector
// editor (Previous, Next, row editing, Write Changes, Go to a Sector), the
// two right-click menus, Help, the pane switch, Undelete, Rename After
// Recovery, Search Raw Disk and Undo Writes. Each gathers its input
// and calls one core function; the list pane then shows the state.
#include <QApplication>
#include <QMenu>
#include <algorithm>

#include "app/dialog_runner.h"
#include "app/help_window.h"
#include "app/list_pane.h"
#include "app/main_window.h"
#include "app/qt_prompt_port.h"
#include "app/tree_pane.h"
#include "recovery/copy_to_floppy.h"
#include "recovery/exfat_recovery.h"
#include "recovery/rename_entry.h"
#include "disk/undo_journal.h"
#include "recovery/undelete.h"
#include "app/critical_area_dialog.h"
#include "app/disk_copy_dialog.h"
#include "tools/raw_search.h"
#include "tools/undo_writes.h"
#include "views/editor_commands.h"
#include "views/editor_page.h"
#include "views/list_ops.h"

void MainWindow::OnRefresh() { tree_->Refresh(); }

void MainWindow::OnDumpModeChanged() {
  // The check marks are the modes; the tree shows its node again in them.
  state_.modes.sectorDump = actions_[kCmdSectorDump]->isChecked();
  state_.modes.rawDump = actions_[kCmdRawDump]->isChecked();
  tree_->ReshowSelected();
}

void MainWindow::OnPrevious() {
  if (GoPrevious(state_.ctx, state_.modes)) list_->Repaint();
}

void MainWindow::OnNext() {
  if (GoNext(state_.ctx, state_.modes)) list_->Repaint();
}

void MainWindow::OnWriteChanges() {
  if (!WriteChanges(state_.ctx, state_.modes)) {
    list_->Repaint();
    return;
  }
  ReadAgainAfterWrite(QString::fromLatin1(kStatusChangesWritten), true);
}

void MainWindow::ReadAgainAfterWrite(const QString& done, bool pageOnly) {
  // The tree may show what the write changed (names of a folder's entries).
  tree_->ReloadSelectedChildren();
  if (pageOnly) {
    static_cast<void>(ReadPageAgain(state_.ctx, state_.modes));  // a failed read is marked and said
    list_->Repaint();
  } else {
    const std::vector<int> selected = state_.pane.SelectedRows();
    tree_->ReshowSelected();  // the list is made again from the disk
    std::vector<int> kept;
    for (const int row : selected)
      if (row >= 0 && static_cast<size_t>(row) < state_.pane.rows.size()) kept.push_back(row);
    state_.pane.Select(std::move(kept));
    list_->Reload();
  }
  state_.Prompt().SetStatus(0, done.toStdString());
  UpdateCommands();
}

void MainWindow::OnGoToSector() {
  if (!GoToSectorAllowed(state_.ctx, state_.modes)) return;
  QString text = QString::fromStdString(GoToSectorInitialText(state_.pane));
  if (!dialogs_.AskSector(this, text)) return;
  if (GoToSector(state_.ctx, state_.modes, text.toStdString(), state_.jumpTarget)) list_->Repaint();
}

void MainWindow::EditRow(int row) {
  if (row < 0) return;  // no row has the focus: nothing to edit
  if (!CanEditRows(state_.ctx, state_.modes)) return;
  if (ByteUnreadable(state_.pane, uint64_t(row) * kBytesPerDumpRow)) {
    // Its sector did not read: there are no bytes of the disk to change.
    state_.Prompt().Message(ShownPageKind(state_.pane) == PageKind::Cluster
                                ? kEditorClusterNotAccessible
                                : kEditorSectorNotAccessible);
    return;
  }
  RowBytesArray bytes = RowBytes(state_.pane, static_cast<size_t>(row));
  ByteBoxTexts texts;
  for (size_t k = 0; k < bytes.size(); ++k) texts[k] = QString::fromStdString(HexByteBoxText(bytes[k]));
  if (!dialogs_.EditBytes(this, texts)) return;
  // A box without a hexadecimal number leaves its byte as it was.
  for (size_t k = 0; k < bytes.size(); ++k) ParseHexByteBox(texts[k].toStdString(), bytes[k]);
  if (!SetRowBytes(state_.pane, static_cast<size_t>(row), bytes)) return;
  // The changed row ends up selected (and so repainted).
  std::vector<int> selected = state_.pane.SelectedRows();
  const auto at = std::lower_bound(selected.begin(), selected.end(), row);
  if (at == selected.end() || *at != row) selected.insert(at, row);
  state_.pane.Select(std::move(selected));
  list_->Model()->CellsChanged(row, row);
  list_->Repaint();
  list_->FocusRow(row);
}

void MainWindow::ShowRowMenu(const QPoint& globalPos) {
  // No part of the program handles these entries: they are shown disabled,
  // as a command that would do nothing is.
  QMenu menu(this);
  for (const MenuItem& item : kRowMenuItems) {
    QAction* action = menu.addAction(QString::fromLatin1(item.text));
    action->setData(item.id);
    action->setEnabled(false);
  }
  // Copy Out To Folder is the one entry that acts: on the selected rows of
  // a directory listing.
  menu.addSeparator();
  QAction* copyOut = menu.addAction(actions_.at(kCmdCopyOut)->text());
  copyOut->setData(kCmdCopyOut);
  copyOut->setEnabled(CommandEnabled(kCmdCopyOut));
  if (QAction* chosen = dialogs_.PopupMenu(menu, globalPos); chosen == copyOut) RunCommand(kCmdCopyOut);
}

void MainWindow::ShowNodeMenu(const DrivePacket& packet, const QPoint& globalPos) {
  const std::vector<MenuItem> items = NodeMenuItems(packet);
  if (items.empty()) return;
  UpdateCommands();
  QMenu menu(this);
  for (const MenuItem& item : items) {
    QAction* action = menu.addAction(QString::fromLatin1(item.text));
    action->setData(item.id);
    action->setStatusTip(actions_.count(item.id) ? actions_[item.id]->statusTip() : QString());
    action->setEnabled(CommandEnabled(item.id));
  }
  if (QAction* chosen = dialogs_.PopupMenu(menu, globalPos)) RunCommand(chosen->data().toInt());
}

void MainWindow::OnUsage() {
  // The guide lives beside the program and has no owner window.
  if (!help_) help_ = new HelpWindow(nullptr);
  help_->OpenContents(QString::fromStdString(programFolder_) + QString::fromLatin1(kHelpFileName));
  help_->PlaceOn(screen());
  help_->show();
  help_->raise();
  help_->activateWindow();
}

void MainWindow::OnSwitchPane() {
  // Two panes: the next and the previous pane are the other one.
  QWidget* focus = QApplication::focusWidget();
  const bool inTree = focus == tree_ || (focus && tree_->isAncestorOf(focus));
  if (inTree)
    list_->setFocus(Qt::ShortcutFocusReason);
  else
    tree_->setFocus(Qt::ShortcutFocusReason);
}

void MainWindow::OnUndelete() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::vector<int> rows = state_.pane.SelectedRows();
  // Its messages have told the person. An exFAT folder's rows are its entry
  // sets, brought back in place as on FAT.
  UndeleteResult result;
  if (state_.pane.selectedPacket.kind == NodeKind::ExfatDir) {
    const ExfatUndeleteResult exfat = ExfatUndelete(state_.access, state_.pane.selectedPacket, rows);
    result.ran = exfat.ran;
    result.revived = exfat.revived;
    result.notDeleted = exfat.refused;
    result.writeFailed = exfat.writeFailed;
  } else {
    result = Undelete(state_.ctx, state_.pane.selectedPacket, rows);
  }
  QApplication::restoreOverrideCursor();
  if (!result.ran) {
    list_->Repaint();
    UpdateCommands();
    return;
  }
  ReadAgainAfterWrite(result.Succeeded() ? QString::fromLatin1(kStatusUndeleted).arg(result.revived)
                      : result.revived > 0 || result.writeFailed
                          ? QString::fromLatin1(kStatusUndeleteFailed)
                          : QString::fromLatin1(kStatusNothingUndeleted));
}

void MainWindow::OnUndoWrites() {
  const DriveMapConfig& drives = bound_.drives;
  std::vector<std::string> paths = drives.floppies;
  paths.insert(paths.end(), drives.disks.begin(), drives.disks.end());
  const std::string dir = drives.undoDir.empty() ? DefaultUndoDir() : drives.undoDir;
  const std::vector<UndoFileInfo> files = paths.empty() ? std::vector<UndoFileInfo>{} : ListUndoFiles(dir, paths);
  const int chosen = dialogs_.ChooseUndoFile(this, files);
  if (chosen < 0 || static_cast<size_t>(chosen) >= files.size()) return;
  const UndoFileInfo& f = files[static_cast<size_t>(chosen)];
  PromptPort& prompt = state_.Prompt();
  if (!prompt.AskYesNo(UndoQuestionText(f))) return;
  UndoWritesOptions options;
  options.journal = f.file;
  options.readOnly = drives.readOnly;
  options.undo = drives.undo;
  options.undoDir = dir;
  options.keptFats = &state_.access.Fats();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const UndoWritesResult result = UndoWrites(options, prompt);
  QApplication::restoreOverrideCursor();
  // Every outcome has been said through the prompt port. What was put back
  // changed the drives under the tree: read them again. The status says
  // what the summary said.
  if (result.restored != 0 && state_.access.DrivesReady()) tree_->Refresh();
  const size_t left = result.sectors.size() - result.restored - result.asBefore;
  state_.Prompt().SetStatus(0, result.complete ? QString::fromLatin1(kStatusWritesUndone).toStdString()
                                               : QString::fromLatin1(kStatusWritesPartlyUndone)
                                                     .arg(result.restored)
                                                     .arg(left)
                                                     .toStdString());
}

void MainWindow::OnRename() {
  // Its messages have told the person how it went.
  ShortNameInput typed;
  const std::vector<int> rows = state_.pane.SelectedRows();
  const RenameResult result =
      RenameAfterRecovery(state_.ctx, state_.pane.selectedPacket, rows, [&](ShortNameInput& input, const ShortNameCheck& check) {
        const bool ok = dialogs_.AskShortName(this, input, check);
        typed = input;
        return ok;
      });
  if (result.refused) state_.Prompt().SetStatus(0, kStatusRenameRefused);
  if (!result.directoryLoaded || result.refused) {
    list_->Repaint();
    UpdateCommands();
    return;
  }
  ReadAgainAfterWrite(result.written
                          ? QString::fromLatin1(kStatusRenamed)
                                .arg(QString::fromStdString(typed.name).trimmed() +
                                     (typed.extension.empty() ? QString()
                                                              : "." + QString::fromStdString(typed.extension).trimmed()))
                          : QString::fromLatin1(kStatusRenameFailed));
}

void MainWindow::RunToolDialog(QDialog& dialog, const std::map<int, QWidget*>& controls) {
  auto* port = dynamic_cast<QtPromptPort*>(&state_.Prompt());
  if (port != nullptr) port->SetDialogControls(controls);
  dialogs_.RunModal(dialog);
  if (port != nullptr) port->SetDialogControls({});
}

void MainWindow::OnCriticalAreas(bool backup) {
  CriticalAreaDialog dialog(state_.access,
                            backup ? CriticalAreaTool::Backup : CriticalAreaTool::Restore, this);
  if (!dialog.Prepare()) return;
  RunToolDialog(dialog, dialog.Controls());
  // Restore writes the hard disk's partition tables and boot records.
  if (!backup)
    ReadAgainAfterWrite(QString::fromLatin1(kStatusToolDone).arg(QStringLiteral("Restore Critical Areas")));
}

void MainWindow::OnDiskCopy() {
  DiskCopyDialog dialog(
      state_.access,
      [this](QWidget* parent) {
        return dialogs_.AskTargetImage(parent, QStringLiteral("Target disk image"));
      },
      this);
  RunToolDialog(dialog, dialog.Controls());
}

void MainWindow::OnCopyToFloppy() {
  // Refused before the question: under --read-only nothing would be copied.
  if (state_.access.WritesRefused()) {
    state_.Prompt().Message(kDrivesReadOnly);
    return;
  }
  // The copy gives the floppy's contents up: the person says so first.
  if (!state_.Prompt().AskYesNo(kCopyFloppyQuestion)) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::vector<int> rows = state_.pane.SelectedRows();
  const CopyToFloppyResult result = CopyToFloppy(state_.ctx, state_.pane.selectedPacket, rows);
  QApplication::restoreOverrideCursor();
  // Every outcome has been said through the prompt port. The file's own
  // listing is unchanged; the floppy's branch of the tree is read again
  // (unless the node on show lies in it: Refresh Disks does that).
  list_->Repaint();
  if (!result.floppyWritten && result.failedWrites == 0) return;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* drive = tree_->topLevelItem(i);
    const DrivePacket* packet = TreePane::PacketOf(drive);
    if (packet == nullptr || packet->drive != 0) continue;
    bool holdsSelection = false;
    for (QTreeWidgetItem* at = tree_->currentItem(); at != nullptr; at = at->parent())
      holdsSelection = holdsSelection || at == drive;
    if (!holdsSelection) tree_->ReloadChildren(drive);
  }
  state_.Prompt().SetStatus(0, result.Whole() ? kStatusCopiedToFloppy : kStatusCopyToFloppyFailed);
  UpdateCommands();
}

void MainWindow::OnSearch() {
  // The node selected in the tree, searched in raw sector dumping only.
  const DrivePacket node = state_.pane.selectedPacket;
  if (!SearchOpenAllowed(state_.Prompt(), state_.modes, node)) return;
  dialogs_.RunSearch(this, state_, *list_, node);
  list_->Repaint();
  UpdateCommands();
}

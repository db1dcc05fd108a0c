#include "app/dialog_runner.h"

#include <QFileDialog>
#include <QMenu>

#include "app/about_dialog.h"
#include "app/find_deleted_dialog.h"
#include "app/goto_dialog.h"
#include "app/rename_dialog.h"
#include "app/scan_dialog.h"
#include "app/search_dialog.h"
#include "app/undo_writes_dialog.h"

bool DialogRunner::EditBytes(QWidget* parent, ByteBoxTexts& texts) {
  ByteDialog dialog(texts, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  texts = dialog.Texts();
  return true;
}

bool DialogRunner::AskSector(QWidget* parent, QString& text) {
  GotoDialog dialog(text, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  text = dialog.Text();
  return true;
}

void DialogRunner::ShowAbout(QWidget* parent) {
  AboutDialog dialog(parent);
  dialog.exec();
}

bool DialogRunner::AskShortName(QWidget* parent, ShortNameInput& input, const ShortNameCheck& check) {
  return RenameDialog::Asker(parent)(input, check);
}

void DialogRunner::ScanDisk(QWidget* parent, DiskAccess& access, const DrivePacket* selected) {
  ScanDialog dialog(access, parent, selected);
  dialog.exec();
}

int DialogRunner::ChooseUndoFile(QWidget* parent, const std::vector<UndoFileInfo>& files) {
  UndoWritesDialog dialog(files, parent);
  if (dialog.exec() != QDialog::Accepted) return -1;
  return dialog.Chosen();
}

QAction* DialogRunner::PopupMenu(QMenu& menu, const QPoint& globalPos) {
  return menu.exec(globalPos);
}

void DialogRunner::RunModal(QDialog& dialog) { dialog.exec(); }

QString DialogRunner::AskTargetImage(QWidget* parent, const QString& caption) {
  return QFileDialog::getSaveFileName(parent, caption);
}

void DialogRunner::RunSearch(QWidget* parent, AppState& state, ListPane& list, const DrivePacket& node) {
  SearchDialog dialog(state, list, node, parent);
  dialog.exec();
}

QString DialogRunner::AskFolder(QWidget* parent, const QString& caption) {
  return QFileDialog::getExistingDirectory(parent, caption);
}

void DialogRunner::FindDeleted(QWidget* parent, DiskAccess& access, const DrivePacket& root) {
  FindDeletedDialog dialog(access, root,
                           [this](QWidget* owner) {
                             return AskFolder(owner, QString::fromLatin1(kCopyOutCaption));
                           },
                           parent);
  dialog.exec();
}

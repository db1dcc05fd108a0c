// The main window over real images with a scripted prompt port and scripted
// dialogs, for the Qt tests: nothing blocks, every message is recorded.
#pragma once
#include <QAction>
#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>
#include <deque>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dialog_runner.h"
#include "app/list_pane.h"
#include "app/main_window.h"
#include "app/tree_pane.h"
#include "disk/disk_access.h"
#include "app/control_ids.h"
#include "fixtures/scripted_prompt.h"
#include "fixtures/test_drives.h"

class ScriptedDialogs : public DialogRunner {
 public:
  // Answers, in order; an empty answer is Cancel. Without one, Cancel.
  std::deque<std::optional<ByteBoxTexts>> byteAnswers;
  std::deque<std::optional<QString>> sectorAnswers;
  // What the dialogs were opened with.
  std::vector<ByteBoxTexts> byteShown;
  std::vector<QString> sectorShown;
  int aboutShown = 0;
  // The pop-up menus shown: their texts and enabled states; the entry named
  // by menuChoice (if any) is chosen.
  std::vector<QStringList> menus;
  std::vector<QList<bool>> menuEnabled;
  QString menuChoice;

  bool EditBytes(QWidget*, ByteBoxTexts& texts) override {
    byteShown.push_back(texts);
    if (byteAnswers.empty()) return false;
    std::optional<ByteBoxTexts> a = byteAnswers.front();
    byteAnswers.pop_front();
    if (!a) return false;
    texts = *a;
    return true;
  }
  bool AskSector(QWidget*, QString& text) override {
    sectorShown.push_back(text);
    if (sectorAnswers.empty()) return false;
    std::optional<QString> a = sectorAnswers.front();
    sectorAnswers.pop_front();
    if (!a) return false;
    text = *a;
    return true;
  }
  void ShowAbout(QWidget*) override { ++aboutShown; }
  // Rename After Recovery: the answers, in order (empty = Cancel); as the
  // dialog does, an answer the check refuses is held (its refusal noted) and
  // the next answer is typed over it.
  std::deque<std::optional<ShortNameInput>> nameAnswers;
  std::vector<std::string> nameRefusals;
  int nameShown = 0;
  bool AskShortName(QWidget*, ShortNameInput& input, const ShortNameCheck& check) override {
    ++nameShown;
    while (!nameAnswers.empty()) {
      std::optional<ShortNameInput> a = nameAnswers.front();
      nameAnswers.pop_front();
      if (!a) return false;
      if (std::optional<std::string> refusal = check ? check(*a) : std::nullopt) {
        nameRefusals.push_back(*refusal);
        continue;
      }
      input = *a;
      return true;
    }
    return false;
  }
  // The tools' modal dialogs: their object names (dialog ids), in order; the
  // handler (if any) drives the dialog in place of a person.
  std::vector<QString> modalShown;
  std::function<void(QDialog&)> onModal;
  void RunModal(QDialog& dialog) override {
    modalShown.push_back(dialog.objectName());
    if (onModal) onModal(dialog);
  }
  // Disk copy's target images, in order (empty = Cancel).
  std::deque<QString> targetAnswers;
  int targetsAsked = 0;
  std::function<void(QWidget*)> onTargetAsked;  // runs before the answer
  QString AskTargetImage(QWidget* parent, const QString&) override {
    ++targetsAsked;
    if (onTargetAsked) onTargetAsked(parent);
    if (targetAnswers.empty()) return {};
    QString a = targetAnswers.front();
    targetAnswers.pop_front();
    return a;
  }
  // Search Raw Disk: the nodes it was opened on (the search dialog's own
  // test drives the dialog itself).
  std::vector<DrivePacket> searchShown;
  void RunSearch(QWidget*, AppState&, ListPane&, const DrivePacket& node) override {
    searchShown.push_back(node);
  }
  // Copy Out To Folder's folder: the answer (empty = Cancel) and how often asked.
  QString folderAnswer;
  int folderAsked = 0;
  QString AskFolder(QWidget*, const QString&) override {
    ++folderAsked;
    return folderAnswer;
  }
  // Find Deleted Files: the roots it was opened on; findDeleted (when set)
  // runs in place of the modal dialog.
  std::vector<DrivePacket> findDeletedRoots;
  std::function<void(QWidget*, DiskAccess&, const DrivePacket&)> findDeleted;
  void FindDeleted(QWidget* parent, DiskAccess& access, const DrivePacket& root) override {
    findDeletedRoots.push_back(root);
    if (findDeleted) findDeleted(parent, access, root);
  }
  // Scan Disk for Errors: counted, never shown (its own test drives it).
  int scansShown = 0;
  std::vector<int> scanKinds;  // the selected node's kind at each opening (-1: none)
  void ScanDisk(QWidget*, DiskAccess&, const DrivePacket* selected) override {
    ++scansShown;
    scanKinds.push_back(selected != nullptr ? static_cast<int>(selected->kind) : -1);
  }
  // Undo Writes…: the files offered each time, and the index to choose (-1 Cancel).
  std::vector<std::vector<UndoFileInfo>> undoOffers;
  int undoChoice = -1;
  int ChooseUndoFile(QWidget*, const std::vector<UndoFileInfo>& files) override {
    undoOffers.push_back(files);
    return undoChoice;
  }
  QAction* PopupMenu(QMenu& menu, const QPoint&) override {
    QStringList texts;
    QList<bool> enabled;
    QAction* chosen = nullptr;
    for (QAction* a : menu.actions()) {
      texts << a->text();
      enabled << a->isEnabled();
      if (!menuChoice.isEmpty() && a->text() == menuChoice && a->isEnabled()) chosen = a;
    }
    menus.push_back(texts);
    menuEnabled.push_back(enabled);
    return chosen;
  }
};

struct GuiRig {
  // The window bound to the drives of config (the sector-library path unless
  // config.direct), from programFolder.
  explicit GuiRig(const DriveMapConfig& config, const std::string& programFolder = ProgramFolder()) {
    started = window.Start(ProgramBinding(config, programFolder));
  }

  TreePane* Tree() const { return window.Tree(); }
  ListPane* List() const { return window.List(); }
  ListPaneState& Pane() { return state.pane; }

  // Selects the node at the labels' path; false when there is none.
  bool Select(const QStringList& path) {
    QTreeWidgetItem* item = Tree()->FindPath(path);
    if (item == nullptr) return false;
    Tree()->setCurrentItem(item);
    return Tree()->SelectedPacket() == TreePane::PacketOf(item);
  }
  QStringList Titles() const {
    QStringList titles;
    for (int c = 0; c < List()->model()->columnCount(); ++c)
      titles << List()->model()->headerData(c, Qt::Horizontal).toString();
    return titles;
  }
  QList<int> Widths() const {
    QList<int> widths;
    for (int c = 0; c < List()->horizontalHeader()->count(); ++c)
      widths << List()->horizontalHeader()->sectionSize(c);
    return widths;
  }
  int Rows() const { return List()->model()->rowCount(); }
  QStringList Row(int row) const { return List()->RowTexts(row); }
  // The 16 byte cells of a dump row.
  QStringList RowBytes(int row) const { return Row(row).mid(1, 16); }
  QStringList Messages() const {
    QStringList out;
    for (const std::string& m : prompt.Messages()) out << QString::fromStdString(m);
    return out;
  }
  bool Enabled(int id) const { return window.CommandEnabled(id); }

  ScriptedPrompt prompt;
  AppState state{prompt};
  ScriptedDialogs dialogs;
  MainWindow window{state, dialogs};
  bool started = false;
};

// A private copy of an image, so that a test may write to it.
inline std::string CopyImage(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  return to;
}

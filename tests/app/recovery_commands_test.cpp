// Undelete and Rename After Recovery from the main window: the menu command
// and Alt+F7, the rename dialog's texts reaching the entry, and the volume
// that mtools and fsck.fat then read.
#include <QApplication>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <QDir>
#include <QTest>
#include <QTreeWidgetItem>

#include "app/command_ids.h"
#include "app/critical_area_dialog.h"
#include "disk/drive_map.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"

namespace {

const QStringList kFat16Root = {"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"};

// The listing row of the entry whose stored name starts with these bytes.
int RowNamed(ListPaneState& pane, const std::string& dosName) {
  for (size_t r = 0; r < pane.rows.size(); ++r) {
    const DirectoryRow& row = pane.rowStore.at(pane.rows[r].value);
    if (std::string(row.dosName).rfind(dosName, 0) == 0) return static_cast<int>(r);
  }
  return -1;
}

// With GLEANER_SCREENSHOT_DIR set, the window as it stands, for a look.
void Save(QWidget& w, const char* name) {
  const QByteArray folder = qgetenv("GLEANER_SCREENSHOT_DIR");
  if (folder.isEmpty()) return;
  QDir().mkpath(QString::fromLocal8Bit(folder));
  QVERIFY(w.grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png"));
}

}  // namespace

class RecoveryCommandsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> dir_;
  SampleDisk sample_;
  int copies_ = 0;

  std::string Disk() {
    return CopyImage(sample_.image, dir_->File("disk" + std::to_string(++copies_) + ".img"));
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    sample_ = MakeSampleDisk(dir_->File("sample-disk.img"));
  }

  void altF7UndeletesAndRenameGivesTheNameBack() {
    const std::string image = Disk();
    const FatVolume volume{image, uint64_t{sample_.fat16Start} * 512};
    QVERIFY(volume.ReadFile("::/DELETED.TXT").empty());
    GuiRig rig(Drives({image}));
    QVERIFY(rig.started);
    QVERIFY(rig.window.CommandEnabled(kCmdUndelete));
    QVERIFY(rig.window.CommandEnabled(kCmdRename));
    QVERIFY(rig.Select(kFat16Root));
    QTreeWidgetItem* root = rig.Tree()->FindPath(kFat16Root);
    QVERIFY(root != nullptr);
    rig.Tree()->expandItem(root);
    auto childLabels = [&] {
      QStringList labels;
      for (int i = 0; i < root->childCount(); ++i) labels << root->child(i)->text(0);
      return labels;
    };
    QVERIFY(!childLabels().isEmpty());
    QVERIFY(!childLabels().contains("!ELETED .TXT"));
    const int row = RowNamed(rig.Pane(), "\xE5" "ELETED .TXT");
    QVERIFY(row >= 0);
    rig.List()->selectRow(row);
    QCOMPARE(rig.Pane().selectedRows, std::vector<int>({row}));

    MainWindow& w = rig.window;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F7, Qt::AltModifier);
    QCOMPARE(rig.Messages(), QStringList({"File(s) undeletion completed!"}));
    // The entry is live again under "!ELETED.TXT", its cluster chained.
    QCOMPARE(volume.ReadFile("::/!ELETED.TXT"),
             std::vector<uint8_t>({'T', 'h', 'i', 's', ' ', 'f', 'i', 'l', 'e', ' ', 'w', 'a', 's',
                                   ' ', 'd', 'e', 'l', 'e', 't', 'e', 'd', '.', '\r', '\n'}));
    // The list and the tree are read again from the disk: the row shows the
    // revived entry and stays selected; the status pane says what was done.
    QCOMPARE(RowNamed(rig.Pane(), "!ELETED .TXT"), row);
    QCOMPARE(rig.Row(row).at(0), QString("!ELETED .TXT"));
    QCOMPARE(rig.Pane().selectedRows, std::vector<int>({row}));
    QCOMPARE(QString::fromStdString(rig.prompt.Status(0)), QString("Undeleted: 1 file(s)"));
    Save(w, "after-undelete");
    QVERIFY2(childLabels().contains("!ELETED .TXT"), qPrintable(childLabels().join("|")));

    rig.prompt.Clear();
    rig.dialogs.nameAnswers.push_back(ShortNameInput{"DELETED", "TXT"});
    w.RunCommand(kCmdRename);
    QCOMPARE(rig.dialogs.nameShown, 1);
    QVERIFY(rig.Messages().isEmpty());
    QCOMPARE(rig.Row(row).at(0), QString("DELETED .TXT"));
    QCOMPARE(QString::fromStdString(rig.prompt.Status(0)), QString("Renamed to DELETED.TXT"));
    Save(w, "after-rename");
    QVERIFY2(childLabels().contains("DELETED .TXT"), qPrintable(childLabels().join("|")));
    QVERIFY(!childLabels().contains("!ELETED .TXT"));

    // A refused name is said in the dialog, which stays open for it to be
    // corrected (here: cancelled); no box, nothing written.
    const std::vector<uint8_t> renamed = ReadFileBytes(image);
    rig.prompt.Clear();
    rig.dialogs.nameAnswers.push_back(ShortNameInput{"A*B", "TXT"});
    rig.dialogs.nameAnswers.push_back(std::nullopt);
    w.RunCommand(kCmdRename);
    QCOMPARE(rig.dialogs.nameRefusals,
             std::vector<std::string>({"The name contains a character a short name cannot hold: *"}));
    QVERIFY(rig.Messages().isEmpty());
    QVERIFY(ReadFileBytes(image) == renamed);
    // Undelete of a live row and of nothing: said, nothing written.
    rig.prompt.Clear();
    w.RunCommand(kCmdUndelete);
    QCOMPARE(rig.Messages(), QStringList({"Not a deleted entry, left as it is: DELETED.TXT",
                                          "No file was undeleted."}));
    QCOMPARE(QString::fromStdString(rig.prompt.Status(0)), QString("Nothing undeleted"));
    rig.List()->clearSelection();
    rig.prompt.Clear();
    w.RunCommand(kCmdUndelete);
    QCOMPARE(rig.Messages(),
             QStringList({"No row is selected: select the deleted files to undelete."}));
    QVERIFY(ReadFileBytes(image) == renamed);
    const std::vector<uint8_t> text = volume.ReadFile("::/DELETED.TXT");
    QCOMPARE(std::string(text.begin(), text.end()), std::string("This file was deleted.\r\n"));
    std::string report;
    QVERIFY2(volume.Check(&report), report.c_str());
  }

  // Every message that says a command did what was asked carries the
  // information icon (the window shows it as QMessageBox::Information).
  void successMessagesCarryTheInformationIcon() {
    const auto selectRow = [](GuiRig& rig, const char* dosName) {
      QVERIFY(rig.Select(kFat16Root));
      const int row = RowNamed(rig.Pane(), dosName);
      QVERIFY(row >= 0);
      rig.List()->selectRow(row);
    };
    const auto undelete = [&](GuiRig& rig) {
      selectRow(rig, "\xE5" "ELETED .TXT");
      rig.window.RunCommand(kCmdUndelete);
    };
    const struct {
      const char* what;
      std::function<void(GuiRig&, const std::string& out)> run;
      const char* said;  // a part of the last message
    } cases[] = {
        {"undelete", [&](GuiRig& rig, const std::string&) { undelete(rig); }, "File(s) undeletion completed!"},
        {"write changes",
         [](GuiRig& rig, const std::string&) {
           rig.window.RunCommand(kCmdRawDump);
           QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "FAT 1"}));
           rig.prompt.AnswerYes();
           rig.window.RunCommand(kCmdWriteChanges);
         },
         "Changes written successfully!"},
        {"backup",
         [](GuiRig& rig, const std::string&) {
           rig.dialogs.onModal = [](QDialog& d) {
             auto* dialog = qobject_cast<CriticalAreaDialog*>(&d);
             QVERIFY(dialog != nullptr);
             dialog->RunButton()->click();
             dialog->reject();
           };
           rig.window.RunCommand(kCmdBackup);
         },
         "Backup completed successfully!"},
        {"copy out",
         [&](GuiRig& rig, const std::string& out) {
           selectRow(rig, "README  .TXT");
           rig.dialogs.folderAnswer = QString::fromStdString(out);
           rig.window.RunCommand(kCmdCopyOut);
         },
         "1 files copied whole, 0 in part, 0 not copied"},
        {"undo",
         [&](GuiRig& rig, const std::string&) {
           undelete(rig);
           rig.prompt.Clear();
           rig.dialogs.undoChoice = 0;
           rig.prompt.AnswerYes();
           rig.window.RunCommand(kCmdUndoWrites);
         },
         " restored, 0 already as before, 0 left alone."},
    };
    for (const auto& c : cases) {
      TempDir dir;
      const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
      GuiRig rig(ParseDriveArgs({"--disk", Disk(), "--floppy", floppy.image, "--undo-dir", dir.File("undo")}).config);
      QVERIFY(rig.started);
      c.run(rig, dir.File("out"));
      const std::vector<ScriptedPrompt::Event> events = rig.prompt.Events();
      const auto last = std::find_if(events.rbegin(), events.rend(),
                                     [](const auto& e) { return e.kind == ScriptedPrompt::Event::Message; });
      QVERIFY2(last != events.rend(), c.what);
      QVERIFY2(last->text.find(c.said) != std::string::npos, qPrintable(QString(c.what) + ": " + QString::fromStdString(last->text)));
      QVERIFY2(last->icon == PromptIcon::Information, c.what);
    }
  }

  void renameWantsOneRowAndCancelChangesNothing() {
    const std::string image = Disk();
    GuiRig rig(Drives({image}));
    QVERIFY(rig.Select(kFat16Root));
    QVERIFY(rig.Rows() >= 2);
    rig.List()->setSelectionMode(QAbstractItemView::MultiSelection);
    rig.List()->selectRow(0);
    rig.List()->selectRow(1);
    QCOMPARE(rig.Pane().selectedRows.size(), size_t{2});
    rig.window.RunCommand(kCmdRename);
    QCOMPARE(rig.Messages(), QStringList({"Only one file can be selected!"}));
    QCOMPARE(rig.dialogs.nameShown, 0);

    rig.List()->clearSelection();
    rig.List()->selectRow(1);
    rig.prompt.Clear();
    const std::vector<uint8_t> before = ReadFileBytes(image);
    rig.window.RunCommand(kCmdRename);  // the scripted dialog answers Cancel
    QCOMPARE(rig.dialogs.nameShown, 1);
    QVERIFY(rig.Messages().isEmpty());
    QVERIFY(ReadFileBytes(image) == before);
  }

  void recoveryCommandsNeedADrive() {
    // No sector library in this folder: the binding stops, and with no drive
    // to act on the disk commands, Undelete and Rename among them, go grey.
    GuiRig rig(Drives({Disk()}), dir_->Path() + "/");
    QVERIFY(!rig.state.access.DrivesReady());
    QVERIFY(!rig.window.CommandEnabled(kCmdRefresh));
    QVERIFY(!rig.window.CommandEnabled(kCmdUndelete));
    QVERIFY(!rig.window.CommandEnabled(kCmdRename));
    rig.prompt.Clear();
    rig.window.RunCommand(kCmdUndelete);  // nothing on show: nothing to do
    QVERIFY(rig.Messages().isEmpty());
  }
};

QTEST_MAIN(RecoveryCommandsTest)
#include "recovery_commands_test.moc"

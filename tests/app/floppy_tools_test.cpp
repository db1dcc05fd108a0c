// The floppy tools' dialogs driven as a person would: Backup (F2) and Restore
// (Ctrl+F2) over a real disk image and floppy through libsect32.so, Disk Copy
// (F9) with its worker and close guard, and Copy File to Floppy.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidgetItem>

#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"
#include "app/critical_area_dialog.h"
#include "app/disk_copy_dialog.h"
#include <QProgressBar>

namespace {

std::vector<uint8_t> SectorAt(const std::string& path, uint64_t sector) {
  const std::vector<uint8_t> all = ReadFileBytes(path);
  return {all.begin() + static_cast<ptrdiff_t>(sector * 512),
          all.begin() + static_cast<ptrdiff_t>(sector * 512 + 512)};
}

QStringList Items(QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

}  // namespace

class FloppyToolsTest : public QObject {
  Q_OBJECT

 private slots:
  void backupAndRestoreDialogsRunTheirMainPath() {
    TempDir dir;
    const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
    const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
    const std::vector<uint8_t> mbr = SectorAt(disk.image, 0);
    const std::vector<uint8_t> boot16 = SectorAt(disk.image, disk.fat16Start);
    {
      GuiRig rig(Drives({disk.image}, {floppy.image}));
      QVERIFY(rig.started);
      QVERIFY(rig.Enabled(kCmdBackup) && rig.Enabled(kCmdRestore));
      bool seen = false;
      QString progressText = QStringLiteral("unset");
      rig.dialogs.onModal = [&](QDialog& d) {
        auto* dialog = qobject_cast<CriticalAreaDialog*>(&d);
        QVERIFY(dialog != nullptr);
        seen = true;
        QCOMPARE(dialog->windowTitle(), QString("Backup Drives"));
        QCOMPARE(Items(dialog->Floppies()), QStringList{"Floppy Disk 1"});
        QCOMPARE(Items(dialog->HardDisks()), QStringList{"Hard Disk 1"});
        QCOMPARE(dialog->Verify()->text(), QString("&Verify while backup"));
        QVERIFY(!dialog->Verify()->isChecked());
        QCOMPARE(dialog->RunButton()->text(), QString("&Backup"));
        QVERIFY(dialog->RunButton()->isDefault());
        dialog->Verify()->setChecked(true);
        QTest::mouseClick(dialog->RunButton(), Qt::LeftButton);
        QVERIFY(dialog->LastResult().completed);
        QCOMPARE(dialog->LastResult().saved.size(), size_t{6});
        progressText = dialog->Progress()->text();
        QTest::mouseClick(dialog->CloseButton(), Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
      };
      // F2, as the accelerator table has it.
      rig.window.RunCommand(kCmdBackup);
      QVERIFY(seen);
      QCOMPARE(rig.dialogs.modalShown, std::vector<QString>{"131"});
      QCOMPARE(rig.Messages(), QStringList{"Backup completed successfully!"});
      QCOMPARE(progressText, QString());
    }
    QCOMPARE(SectorAt(floppy.image, 33), mbr);
    QCOMPARE(SectorAt(floppy.image, 34), boot16);

    // Wipe the MBR and the FAT16 boot record; restore only the boot records,
    // then both.
    WriteFileBytes(dir.File("zero.bin"), std::vector<uint8_t>(512, 0));
    MustRun("dd status=none conv=notrunc bs=512 count=1 if=" + dir.File("zero.bin") + " of=" +
            disk.image + " seek=" + std::to_string(disk.fat16Start));
    {
      GuiRig rig(Drives({disk.image}, {floppy.image}));
      rig.dialogs.onModal = [&](QDialog& d) {
        auto* dialog = qobject_cast<CriticalAreaDialog*>(&d);
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->windowTitle(), QString("Restore Drives"));
        QCOMPARE(dialog->Tables()->text(), QString("&Partition Table"));
        QCOMPARE(dialog->BootRecords()->text(), QString("&Boot Records"));
        QVERIFY(dialog->Tables()->isChecked() && dialog->BootRecords()->isChecked());
        QCOMPARE(dialog->RunButton()->text(), QString("&Restore"));
        dialog->Tables()->setChecked(false);
        QTest::mouseClick(dialog->RunButton(), Qt::LeftButton);
        QCOMPARE(dialog->LastResult().written,
                 (std::vector<uint64_t>{disk.fat16Start, disk.fat32Start, disk.fat12Start}));
        dialog->reject();
      };
      rig.window.RunCommand(kCmdRestore);
      QCOMPARE(rig.Messages(), QStringList{"Restore completed successfully!"});
    }
    QCOMPARE(SectorAt(disk.image, disk.fat16Start), boot16);
    QCOMPARE(SectorAt(disk.image, 0), mbr);
  }

  void backupAndRestoreRefuseTheDirectPath() {
    TempDir dir;
    const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
    const FatVolume floppy = MakeFloppy1440(dir.File("floppy.img"));
    GuiRig rig(Drives({disk.image}, {floppy.image}, true));
    QVERIFY(rig.started);
    rig.window.RunCommand(kCmdBackup);
    rig.window.RunCommand(kCmdRestore);
    QVERIFY(rig.dialogs.modalShown.empty());
    QCOMPARE(rig.Messages(),
             (QStringList{"Sorry Backup not possible with --direct, only through libsect32.so!",
                          "Sorry Restore not possible with --direct, only through libsect32.so!"}));
  }

  void diskCopyDialogCopiesOntoPickedImagesAndGuardsItsClose() {
    TempDir dir;
    const FatVolume source = MakeSampleFloppy(dir.File("source.img"));
    const std::vector<uint8_t> original = ReadFileBytes(source.image);
    GuiRig rig(Drives({}, {source.image}));
    QVERIFY(rig.started);
    QVERIFY(rig.Enabled(kCmdDiskCopy));
    rig.dialogs.targetAnswers = {QString::fromStdString(dir.File("a.img")),
                                 QString::fromStdString(dir.File("b.img"))};
    rig.prompt.AnswerYes();  // Copy over!  Write to another disk?
    rig.prompt.AnswerNo();
    bool ran = false;
    rig.dialogs.onModal = [&](QDialog& d) {
      auto* dialog = qobject_cast<DiskCopyDialog*>(&d);
      QVERIFY(dialog != nullptr);
      ran = true;
      dialog->show();
      QCOMPARE(dialog->windowTitle(), QString("Copy Floppy Disk"));
      QCOMPARE(Items(dialog->Drives()), QStringList{"Floppy Disk 1"});
      QCOMPARE(dialog->Verify()->text(), QString("&Verify Write"));
      QCOMPARE(dialog->CopyButton()->text(), QString("&Copy"));
      QCOMPARE(dialog->StopButton()->text(), QString("&Stop Copy"));
      QVERIFY(!dialog->StopButton()->isEnabled());
      dialog->Verify()->setChecked(true);
      QTest::mouseClick(dialog->CopyButton(), Qt::LeftButton);
      QVERIFY(!dialog->CopyButton()->isEnabled() && !dialog->Drives()->isEnabled() &&
              !dialog->Verify()->isEnabled() && dialog->StopButton()->isEnabled());
      QTRY_VERIFY_WITH_TIMEOUT(!dialog->Running() && dialog->CopyButton()->isEnabled(), 600000);
      QCOMPARE(dialog->LastResult().targetsWritten, 2u);
      QVERIFY(!dialog->StopButton()->isEnabled());
      QCOMPARE(dialog->Progress()->value(), 0);
      QCOMPARE(dialog->Progress()->maximum(), 80);
      dialog->close();
      QVERIFY(!dialog->isVisible());
    };
    rig.window.RunCommand(kCmdDiskCopy);
    QVERIFY(ran);
    QCOMPARE(rig.dialogs.modalShown, std::vector<QString>{"102"});
    QCOMPARE(rig.dialogs.targetsAsked, 2);
    QCOMPARE(rig.Messages(), (QStringList{"Copy over!  Write to another disk?",
                                          "Copy over!  Write to another disk?"}));
    QVERIFY(ReadFileBytes(dir.File("a.img")) == original);
    QVERIFY(ReadFileBytes(dir.File("b.img")) == original);

    // The close guard: while the copy waits for its target, X and Esc say so,
    // ask the copy to stop, and leave the dialog open; the next track then
    // fails and asks whether to stop (No: it goes on to the end).
    rig.prompt.Clear();
    rig.dialogs.targetAnswers = {QString::fromStdString(dir.File("c.img"))};
    rig.prompt.AnswerNo();  // Stop Operation?
    rig.prompt.AnswerNo();  // another disk?
    DiskCopyDialog* open = nullptr;
    bool stayed = false;
    rig.dialogs.onTargetAsked = [&](QWidget*) {
      QVERIFY(open != nullptr && open->Running());
      open->close();
      QTest::keyClick(open, Qt::Key_Escape);
      stayed = open->isVisible();
    };
    rig.dialogs.onModal = [&](QDialog& d) {
      open = qobject_cast<DiskCopyDialog*>(&d);
      QVERIFY(open != nullptr);
      open->show();
      QTest::mouseClick(open->CopyButton(), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(!open->Running() && open->CopyButton()->isEnabled(), 600000);
      QCOMPARE(open->LastResult().targetsWritten, 1u);
      open->close();
      QVERIFY(!open->isVisible());
    };
    rig.window.RunCommand(kCmdDiskCopy);
    QVERIFY(stayed);
    QCOMPARE(rig.Messages(), (QStringList{"Disk Copying in progress!  Press X again after it ends!!",
                                          "Disk Copying in progress!  Press X again after it ends!!",
                                          "Stop Operation?", "Copy over!  Write to another disk?"}));
    // The first track was not written; everything after it was.
    const std::vector<uint8_t> c = ReadFileBytes(dir.File("c.img"));
    QCOMPARE(c.size(), original.size());
    QVERIFY(std::equal(c.begin() + 18 * 512, c.end(), original.begin() + 18 * 512));
    QVERIFY(std::all_of(c.begin(), c.begin() + 18 * 512, [](uint8_t b) { return b == 0; }));
  }

  // The window's side of two writes that lost data: a backup over the
  // floppy's files asks first (No by default, No keeps them), and Disk Copy
  // refuses the open hard disk's image as a target, naming it.
  void backupOverFilesAndDiskCopyOverAnOpenDriveAreRefused() {
    TempDir dir;
    const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
    const FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
    const std::vector<uint8_t> floppyBefore = ReadFileBytes(floppy.image);
    const std::vector<uint8_t> diskBefore = ReadFileBytes(disk.image);
    GuiRig rig(Drives({disk.image}, {floppy.image}));
    QVERIFY(rig.started);
    rig.prompt.AnswerNo();  // the files would be lost
    rig.dialogs.onModal = [&](QDialog& d) {
      auto* dialog = qobject_cast<CriticalAreaDialog*>(&d);
      QVERIFY(dialog != nullptr);
      QTest::mouseClick(dialog->RunButton(), Qt::LeftButton);
      QVERIFY(!dialog->LastResult().completed);
      QTest::mouseClick(dialog->CloseButton(), Qt::LeftButton);
    };
    rig.window.RunCommand(kCmdBackup);
    const QStringList said = rig.Messages();
    QCOMPARE(said.size(), 2);
    QVERIFY(said[0].startsWith("The backup goes into the floppy's clusters 2 to 7"));
    QVERIFY(said[0].contains("\n/README.TXT\n"));
    QCOMPARE(said[1], QString("Backup not made: the floppy's files are kept."));
    bool askedNoByDefault = false;
    for (const auto& e : rig.prompt.Events()) askedNoByDefault |= e.kind == ScriptedPrompt::Event::YesNo && e.noByDefault;
    QVERIFY(askedNoByDefault);
    QVERIFY(ReadFileBytes(floppy.image) == floppyBefore);

    rig.prompt.Clear();
    rig.dialogs.targetAnswers = {QString::fromStdString(disk.image)};
    rig.prompt.AnswerNo();  // no other target
    rig.dialogs.onModal = [&](QDialog& d) {
      auto* dialog = qobject_cast<DiskCopyDialog*>(&d);
      QVERIFY(dialog != nullptr);
      dialog->show();
      QTest::mouseClick(dialog->CopyButton(), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(!dialog->Running() && dialog->CopyButton()->isEnabled(), 600000);
      QCOMPARE(dialog->LastResult().targetsWritten, 0u);
      dialog->close();
    };
    rig.window.RunCommand(kCmdDiskCopy);
    QCOMPARE(rig.Messages(),
             (QStringList{"The target " + QString::fromStdString(disk.image) +
                              " is Hard Disk 1, open in this program: it is not written!",
                          "Copy over!  Write to another disk?"}));
    QVERIFY(ReadFileBytes(disk.image) == diskBefore);
  }

  void copyFileToFloppyAsksFirstAndCopiesTheSelectedFile() {
    TempDir dir;
    const SampleDisk disk = MakeSampleDisk(dir.File("disk.img"));
    const FatVolume floppy = MakeSampleFloppy(dir.File("floppy.img"));
    const std::vector<uint8_t> before = ReadFileBytes(floppy.image);
    GuiRig rig(Drives({disk.image}, {floppy.image}));
    QVERIFY(rig.started);
    QAction* action = rig.window.Action(kCmdCopyToFloppy);
    QVERIFY(action != nullptr);
    QCOMPARE(action->text(), QString("Copy File to &Floppy"));
    QMenu* operations = nullptr;
    for (QAction* m : rig.window.menuBar()->actions())
      if (m->text() == "&Operations") operations = m->menu();
    QVERIFY(operations != nullptr && operations->actions().contains(action));
    QVERIFY(!rig.Enabled(kCmdCopyToFloppy));  // nothing on show
    // The floppy's root open in the tree, as it was before the copy.
    QTreeWidgetItem* floppyRoot = rig.Tree()->FindPath({"Floppy Disk 1", "Root Directory"});
    QVERIFY(floppyRoot != nullptr);
    rig.Tree()->expandItem(floppyRoot);
    QVERIFY(floppyRoot->childCount() > 1);
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"}));
    QVERIFY(!rig.Enabled(kCmdCopyToFloppy));  // no row selected
    int readme = -1;
    for (int r = 0; r < rig.Rows(); ++r)
      if (rig.Row(r).join('|').contains("README")) readme = r;
    QVERIFY(readme >= 0);
    rig.List()->selectRow(readme);
    QVERIFY(rig.Enabled(kCmdCopyToFloppy));

    rig.prompt.AnswerNo();
    rig.window.RunCommand(kCmdCopyToFloppy);
    QCOMPARE(rig.Messages(), QStringList{"The floppy's files will be replaced by this file. Continue?"});
    QVERIFY(ReadFileBytes(floppy.image) == before);

    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    rig.window.RunCommand(kCmdCopyToFloppy);
    QCOMPARE(rig.Messages(), QStringList{"The floppy's files will be replaced by this file. Continue?"});
    // The percentage does not stay behind once the copy is over.
    QCOMPARE(QString::fromStdString(rig.prompt.Status(1)), QString());
    QCOMPARE(QString::fromStdString(rig.prompt.Status(0)), QString("Copied to the floppy"));
    // The floppy's branch was read again: its root holds the one file.
    floppyRoot = rig.Tree()->FindPath({"Floppy Disk 1", "Root Directory"});
    QVERIFY(floppyRoot != nullptr);
    QCOMPARE(floppyRoot->childCount(), 1);
    QCOMPARE(floppyRoot->child(0)->text(0), QString("README  .TXT"));
    QCOMPARE(floppy.ListAll(), std::string("::/README.TXT\n"));
    const std::string text = "Sample volume for Gleaner tests.\r\n";
    QVERIFY(floppy.ReadFile("::/README.TXT") == std::vector<uint8_t>(text.begin(), text.end()));
    QVERIFY(floppy.Check());
  }
};

QTEST_MAIN(FloppyToolsTest)
#include "floppy_tools_test.moc"

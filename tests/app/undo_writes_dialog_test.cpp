// Operations → Undo Writes…: the undo files of the drives on show, newest
// first, with time and sector count; the chosen one put back after a Yes.
#include <QTest>
#include <QTreeWidget>
#include <QPushButton>

#include "app/undo_writes_dialog.h"
#include "disk/sector_access.h"
#include "disk/undo_journal.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"

namespace {

DrivePacket FloppyAt(uint32_t first) {
  DrivePacket p;
  p.drive = 0;
  p.sector = 1;
  p.heads = 2;
  p.sectorsPerTrack = 18;
  p.startSector = first;
  p.sectorCount = 1;
  return p;
}

// Writes sectors through a binding of its own, with undo files in undoDir.
void WriteSectorsOf(const std::string& image, const std::string& undoDir, std::vector<uint32_t> sectors,
                    uint8_t fill) {
  TestDrives drives(TestDrives::Direct);
  QVERIFY(drives.BindAsProgram(ParseDriveArgs({"--floppy", image, "--direct", "--undo-dir", undoDir}).config));
  std::vector<uint8_t> bytes(512, fill);
  for (uint32_t s : sectors) QVERIFY(WriteSectors(drives.access, FloppyAt(s), bytes.data()));
}

}  // namespace

class UndoWritesDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void listsTheDrivesUndoFilesAndPutsTheChosenOneBack() {
    TempDir dir;
    FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
    FatVolume other = MakeFloppy1440(dir.File("other.img"));
    const std::string undoDir = dir.File("undo");
    const std::vector<uint8_t> original = ReadFileBytes(fd.image);
    WriteSectorsOf(fd.image, undoDir, {40, 41}, 0x11);
    WriteSectorsOf(other.image, undoDir, {50}, 0x22);  // another drive's: not offered
    const std::vector<uint8_t> written = ReadFileBytes(fd.image);
    QVERIFY(written != original);

    DriveMapConfig config = ParseDriveArgs({"--floppy", fd.image, "--undo-dir", undoDir}).config;
    GuiRig rig(config);
    QVERIFY(rig.started);
    QCOMPARE(rig.window.windowTitle(), QString(kFrameCaption));
    QVERIFY(rig.Enabled(kCmdUndoWrites));

    // Cancel: nothing asked, nothing written.
    rig.window.RunCommand(kCmdUndoWrites);
    QCOMPARE(rig.dialogs.undoOffers.size(), size_t{1});
    const std::vector<UndoFileInfo> offered = rig.dialogs.undoOffers[0];
    QCOMPARE(offered.size(), size_t{1});
    QCOMPARE(offered[0].sectors, uint64_t{2});
    QCOMPARE(offered[0].drive, std::filesystem::absolute(fd.image).string());
    QCOMPARE(rig.Messages(), QStringList{});

    // No: nothing written.
    rig.dialogs.undoChoice = 0;
    rig.prompt.AnswerNo();
    rig.window.RunCommand(kCmdUndoWrites);
    const std::string name = std::filesystem::path(offered[0].file).filename().string();
    const QString question = QString::fromStdString("Put back the 2 sectors of " + offered[0].drive + " kept in " + name + "?");
    QCOMPARE(rig.Messages(), QStringList{question});
    QCOMPARE(ReadFileBytes(fd.image), written);

    // Yes: put back, and said.
    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    rig.window.RunCommand(kCmdUndoWrites);
    QCOMPARE(rig.Messages(), QStringList({question, "2 sectors restored, 0 already as before, 0 left alone."}));
    QCOMPARE(ReadFileBytes(fd.image), original);
    QCOMPARE(QString::fromStdString(rig.prompt.Status(0)), QString("Writes undone"));

    // The dialog itself: one row a file, the newest first selected.
    UndoWritesDialog dialog(offered);
    QCOMPARE(dialog.windowTitle(), QString("Undo Writes"));
    QCOMPARE(dialog.List()->topLevelItemCount(), 1);
    QCOMPARE(dialog.List()->topLevelItem(0)->text(1), QString::fromStdString(offered[0].drive));
    QCOMPARE(dialog.List()->topLevelItem(0)->text(2), QString("2"));
    QCOMPARE(dialog.List()->topLevelItem(0)->text(3), QString::fromStdString(name));
    QCOMPARE(dialog.Chosen(), 0);
    QVERIFY(dialog.UndoButton()->isEnabled());
    UndoWritesDialog empty({});
    QVERIFY(!empty.UndoButton()->isEnabled());
    QCOMPARE(empty.Chosen(), -1);
  }

  void theTitleSaysWhenUndoIsOff() {
    TempDir dir;
    FatVolume fd = MakeFloppy1440(dir.File("fd.img"));
    GuiRig off(ParseDriveArgs({"--floppy", fd.image, "--no-undo"}).config);
    QCOMPARE(off.window.windowTitle(), QString(kFrameCaption) + " (undo off)");
    // Read-only writes nothing: there is nothing to undo either way, and the
    // title says it is read-only.
    GuiRig readOnly(ParseDriveArgs({"--floppy", fd.image, "--no-undo", "--read-only"}).config);
    QCOMPARE(readOnly.window.windowTitle(), QString(kFrameCaption) + " [read-only]");
  }
};

QTEST_MAIN(UndoWritesDialogTest)
#include "undo_writes_dialog_test.moc"

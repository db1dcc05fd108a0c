// The window as a desktop program should behave: a drive that cannot be
// opened is named and the others shown, a page that did not read can be
// neither edited nor written, commands that would do nothing are off, and
// the window, its keys, its title and its status bar say what is so.
#include <QApplication>
#include <QScreen>
#include <QTextBrowser>
#include <memory>

#include "fixtures/image_builder.h"
#include "gui_rig.h"

class WindowBehaviourTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> dir_;
  std::string floppy_;
  std::string linuxDisk_;

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    FatVolume f = MakeFloppy1440(dir_->File("floppy.img"));
    QVERIFY(f.PutFile("::/THREE.BIN", std::vector<uint8_t>(3 * 512, 0x33)));
    floppy_ = f.image;
    // One Linux partition: an "Unknown" node whose raw dump claims more
    // sectors than the disk has.
    linuxDisk_ = dir_->File("linux.img");
    QVERIFY(PartitionImage(linuxDisk_, 8192, "start=2048, type=83\n"));
  }

  void anUnopenableDriveIsNamedAndTheOthersShown() {
    const std::string missing = dir_->File("no-such.img");
    for (bool direct : {false, true}) {
      GuiRig rig(Drives({missing}, {floppy_}, direct));
      QVERIFY(rig.started);
      QCOMPARE(rig.Messages(),
               QStringList({QString::fromStdString("Cannot open " + missing +
                                                   ": No such file or directory")}));
      QCOMPARE(rig.Tree()->topLevelItemCount(), 1);
      QCOMPARE(rig.Tree()->topLevelItem(0)->text(0), QString("Floppy Disk 1"));
      QVERIFY(rig.Select({"Floppy Disk 1", "Root Directory", "THREE   .BIN"}));
      QCOMPARE(rig.Row(0).at(1), QString("33"));
    }
  }

  void aPageThatDidNotReadIsNeitherEditedNorWritten() {
    const std::string disk = CopyImage(linuxDisk_, dir_->File("linux-copy.img"));
    const std::vector<uint8_t> before = ReadFileBytes(disk);
    GuiRig rig(Drives({disk}));
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select({"Hard Disk 1", "Unknown"}));
    QVERIFY(rig.Enabled(kCmdWriteChanges));
    // Past the disk's end, inside what the node claims: the read fails.
    rig.prompt.Clear();
    rig.dialogs.sectorAnswers = {QString::number(9000)};
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.Messages(), QStringList({"Sector not accessible!"}));
    QCOMPARE(rig.prompt.Status(1), std::string("Current Sector Number: 9000"));
    QCOMPARE(rig.Rows(), 32);
    QStringList unreadable(16, QString("??"));
    QCOMPARE(rig.RowBytes(0), unreadable);
    QCOMPARE(rig.Row(0).mid(18), QStringList(16, QString()));
    // Nothing to edit and nothing to write.
    QVERIFY(!rig.Enabled(kCmdWriteChanges));
    QVERIFY(!rig.window.Action(kCmdWriteChanges)->isEnabled());
    rig.prompt.Clear();
    rig.dialogs.byteAnswers = {ByteBoxTexts{}};
    rig.window.EditRow(0);
    QCOMPARE(rig.dialogs.byteShown.size(), size_t{0});
    QCOMPARE(rig.Messages(), QStringList({"Sector not accessible!"}));
    rig.prompt.AnswerYes();
    rig.window.RunCommand(kCmdWriteChanges);
    QCOMPARE(rig.Messages(), QStringList({"Sector not accessible!"}));
    QVERIFY(ReadFileBytes(disk) == before);
    // Back to a sector that reads: editable and writable again.
    rig.window.RunCommand(kCmdPrevious);
    QCOMPARE(rig.RowBytes(0), QStringList(16, QString("??")));  // 8999 is past the end too
    rig.dialogs.sectorAnswers = {QString::number(100)};
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.RowBytes(0).at(0), QString("00"));
    QVERIFY(rig.Enabled(kCmdWriteChanges));
    // An edited row ends up selected beside the rows that were.
    rig.List()->selectRow(5);
    rig.dialogs.byteAnswers = {ByteBoxTexts{}};
    rig.window.EditRow(2);
    QCOMPARE(rig.Pane().selectedRows, std::vector<int>({2, 5}));
  }

  void commandsThatWouldDoNothingAreOff() {
    GuiRig rig(Drives({}, {floppy_}));
    // Nothing on show yet: nothing to write, nothing to page.
    QVERIFY(!rig.Enabled(kCmdWriteChanges));
    QVERIFY(!rig.Enabled(kCmdNext) && !rig.Enabled(kCmdPrevious));
    for (int id : {kCmdViewSmallIcons, kCmdViewLargeIcons, kCmdViewList, kCmdViewArrange,
                   kCmdViewLineUp})
      QVERIFY(!rig.Enabled(id));
    QVERIFY(rig.Select({"Floppy Disk 1", "Root Directory"}));
    QVERIFY(!rig.Enabled(kCmdWriteChanges));  // a decoded listing
    rig.window.RunCommand(kCmdSectorDump);
    QVERIFY(rig.Enabled(kCmdWriteChanges));  // its sectors as a dump
    // No drive at all: every command that acts on one is off.
    GuiRig none(Drives({}));
    QVERIFY(none.started);
    for (int id : {kCmdSectorDump, kCmdRawDump, kCmdGoToSector, kCmdWriteChanges, kCmdUndelete,
                   kCmdRename})
      QVERIFY2(!none.Enabled(id), qPrintable(QString::number(id)));
    QVERIFY(none.Enabled(kCmdRefresh) && none.Enabled(kCmdUsage));
  }

  void windowKeysTitleAndStatusBar() {
    DriveMapConfig config = Drives({linuxDisk_}, {floppy_});
    GuiRig plain(config);
    QVERIFY(!plain.window.windowTitle().contains("[read-only]"));
    config.readOnly = true;
    GuiRig rig(config);
    QCOMPARE(rig.window.windowTitle(), QString(kFrameCaption) + " [read-only]");
    MainWindow& w = rig.window;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // Never larger than the screen's free area.
    const QRect area = w.screen()->availableGeometry();
    QVERIFY(w.width() <= area.width() && w.height() <= area.height());

    // PageDown and PageUp page a dump; Enter on a row opens the byte dialog.
    QVERIFY(rig.Select({"Floppy Disk 1", "Root Directory", "THREE   .BIN"}));
    w.RunCommand(kCmdSectorDump);
    QCOMPARE(rig.Pane().pageIndex, 0u);
    QTest::keyClick(&w, Qt::Key_PageDown);
    QCOMPARE(rig.Pane().pageIndex, 1u);
    QTest::keyClick(&w, Qt::Key_PageDown);
    QTest::keyClick(&w, Qt::Key_PageUp);
    QCOMPARE(rig.Pane().pageIndex, 1u);
    rig.List()->setFocus();
    rig.List()->FocusRow(3);
    QTest::keyClick(rig.List(), Qt::Key_Return);
    QCOMPARE(rig.dialogs.byteShown.size(), size_t{1});
    QCOMPARE(rig.dialogs.byteShown[0][0], QString("33"));

    // The sector pane follows every node: a node that reads no sector of
    // its own clears it.
    QCOMPARE(QString::fromStdString(rig.prompt.Status(1)).left(23), QString("Current Cluster Number:"));
    w.RunCommand(kCmdSectorDump);
    QVERIFY(rig.Select({"Hard Disk 1"}));
    QCOMPARE(rig.prompt.Status(1), std::string());

    // The guide opens inside the screen and Esc closes it.
    w.RunCommand(kCmdUsage);
    HelpWindow* help = w.Help();
    QVERIFY(help != nullptr && help->isVisible());
    QVERIFY(area.contains(help->geometry()));
    help->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(help));
    QTest::keyClick(help->Browser(), Qt::Key_Escape);
    QVERIFY(!help->isVisible());

    // Ctrl+Q leaves.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!w.isVisible());
  }
};

QTEST_MAIN(WindowBehaviourTest)
#include "window_behaviour_test.moc"

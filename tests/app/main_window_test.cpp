// The main window over real sample images: what selecting nodes shows in
// each dump mode, the dump-mode toggles, Refresh, paging, editing and writing
// back, the sector jump, the menus and keys, and command enabling.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <cstring>
#include <memory>

#include "app/list_model.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"
#include "views/format_cell.h"

namespace {

const QStringList kHardDisk = {"Hard Disk 1"};
const QStringList kFat16 = {"Hard Disk 1", "16-Bit FAT Disk"};
const QStringList kFat16Fat1 = {"Hard Disk 1", "16-Bit FAT Disk", "FAT 1"};
const QStringList kFat16Root = {"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"};
const QStringList kFat16Readme = {"Hard Disk 1", "16-Bit FAT Disk", "Root Directory", "README  .TXT"};
const QStringList kFat16Docs = {"Hard Disk 1", "16-Bit FAT Disk", "Root Directory", "DOCS    .   "};
const QStringList kFat16Big = {"Hard Disk 1", "16-Bit FAT Disk", "Root Directory", "DOCS    .   ",
                               "BIG     .BIN"};
const QStringList kFloppy = {"Floppy Disk 1"};
const QStringList kFloppyFat1 = {"Floppy Disk 1", "FAT 1"};

constexpr uint32_t kFat16Start = 2048;

QStringList HexTitles() {
  QStringList titles{"Offset"};
  for (int i = 0; i < 16; ++i) titles << QString::asprintf("%02X", i);
  titles << "";
  for (int i = 0; i < 16; ++i) titles << QString::asprintf("%X", i);
  return titles;
}

QList<int> HexWidths(int offsetWidth) {
  QList<int> widths{offsetWidth};
  for (int i = 0; i < 16; ++i) widths << 30;
  widths << 15;
  for (int i = 0; i < 16; ++i) widths << 20;
  return widths;
}

QStringList HexOf(const std::vector<uint8_t>& bytes, size_t at, size_t count = 16) {
  QStringList out;
  for (size_t i = 0; i < count; ++i) out << QString::asprintf("%02X", bytes.at(at + i));
  return out;
}

// Columns are as wide as the views make them, or wider where this font needs
// room for a title or a text in view.
bool AtLeast(const QList<int>& widths, const QList<int>& given) {
  if (widths.size() != given.size()) return false;
  for (qsizetype i = 0; i < widths.size(); ++i)
    if (widths[i] < given[i]) return false;
  return true;
}

// The offset, byte and spacer columns as the dump gives them; the character
// columns at least that wide (this font's widest character may need more).
bool HexWidthsOk(const QList<int>& widths, int offsetWidth) {
  const QList<int> given = HexWidths(offsetWidth);
  return widths.mid(0, 18) == given.mid(0, 18) && AtLeast(widths, given);
}

// The sample files' bytes: byte i of a file made with seed s.
uint8_t Pattern(size_t i, uint8_t seed) { return static_cast<uint8_t>((i / 512) * 7 + i + seed); }

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> dir_;
  std::string sampleDisk_, sampleFloppy_;
  int copies_ = 0;

  // A fresh copy of the sample disk (and floppy) for one test.
  std::string Disk() { return CopyImage(sampleDisk_, dir_->File("disk" + std::to_string(++copies_) + ".img")); }
  std::string Floppy() {
    return CopyImage(sampleFloppy_, dir_->File("floppy" + std::to_string(++copies_) + ".img"));
  }
  static std::vector<uint8_t> Sector(const std::string& image, uint64_t sector) {
    std::vector<uint8_t> all = ReadFileBytes(image);
    return std::vector<uint8_t>(all.begin() + static_cast<long>(sector * 512),
                                all.begin() + static_cast<long>(sector * 512 + 512));
  }
  // Every painted cell is FormatCell's text of the pane.
  static void CheckCellsAreTheCore(GuiRig& rig) {
    for (int r = 0; r < qMin(rig.Rows(), 40); ++r)
      for (int c = 0; c < rig.List()->model()->columnCount(); ++c)
        QCOMPARE(rig.Row(r).at(c), CellText(FormatCell(rig.Pane(), static_cast<size_t>(r), c)));
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    sampleDisk_ = MakeSampleDisk(dir_->File("sample-disk.img")).image;
    sampleFloppy_ = MakeSampleFloppy(dir_->File("sample-floppy.img")).image;
    QCOMPARE(ReadFileBytes(sampleDisk_).size(), size_t{131072} * 512);
    QCOMPARE(ReadFileBytes(sampleFloppy_).size(), size_t{2880} * 512);
  }

  void frameHasMenusToolbarAndStatusBar() {
    GuiRig rig(Drives({Disk()}));
    MainWindow& w = rig.window;
    // A config made in code keeps no undo files, and the title says so.
    QCOMPARE(w.windowTitle(), QString(kFrameCaption) + " (undo off)");
    QStringList menus;
    QStringList items;
    for (QAction* top : w.menuBar()->actions()) {
      menus << top->text();
      for (QAction* a : top->menu()->actions()) items << (a->isSeparator() ? "-" : a->text());
      items << "|";
    }
    QCOMPARE(menus, QStringList({"&File", "&View", "&Action", "&Changes", "&Operations", "&Help"}));
    QCOMPARE(items, QStringList({"E&xit", "|", "&Toolbar", "&Status Bar", "|", "R&efresh Disks\tF5",
                                 "&Go to a Sector\tCtrl+G", "-", "&Sector/Cluster Dumping\tCtrl+F4",
                                 "Raw Sector &Dumping\tF4", "|", "&Write Changes", "|", "&Disk Copy\tF9",
                                 "-", "&Search Raw Disk\tF3", "&Undelete\tAlt+F7", "S&can Disks for Errors\tCtrl+F6", "-",
                                 "&Backup Critical Areas\tF2", "&Restore Critical Areas\tCtrl+F2", "-",
                                 "&Rename After Recovery of Deleted Files", "Copy File to &Floppy", "-",
                                 QString::fromUtf8("&Find Deleted Files\u2026"),
                                 QString::fromUtf8("Copy &Out To Folder\u2026"), "-",
                                 "Undo &Writes\u2026", "|", "&Usage\tF1", "-",
                                 "&About Gleaner...", "|"}));
    // Keys belong to the accelerator table, not to the menu items; only
    // File -> Exit has the desktop's Ctrl+Q of its own.
    for (QAction* top : w.menuBar()->actions())
      for (QAction* a : top->menu()->actions())
        QCOMPARE(a->shortcut(), a == w.Action(kCmdExit) ? QKeySequence(Qt::CTRL | Qt::Key_Q)
                                                        : QKeySequence());
    QVERIFY(w.Action(kCmdSectorDump)->isCheckable() && !w.Action(kCmdSectorDump)->isChecked());
    QVERIFY(w.Action(kCmdRawDump)->isCheckable() && !w.Action(kCmdRawDump)->isChecked());

    QList<int> bar;
    for (QAction* a : w.ToolBar()->actions()) bar << (a->isSeparator() ? 0 : a->data().toInt());
    QCOMPARE(bar, QList<int>({kCmdViewDetails, 0, kCmdPrevious, kCmdNext, 0, kCmdAbout}));
    QVERIFY(w.Action(kCmdViewDetails)->isChecked());

    // Prompt strings: status-bar text and tool tip.
    QCOMPARE(w.Action(kCmdPrevious)->statusTip(), QString("This takes you to the previous Sector or Cluster"));
    QCOMPARE(w.Action(kCmdPrevious)->toolTip(), QString("Previous Sector/Cluster"));
    QCOMPARE(w.Action(kCmdNext)->statusTip(), QString("This takes you to the next Sector or Cluster"));
    QCOMPARE(w.Action(kCmdNext)->toolTip(), QString("Next Sector/Cluster"));
    QCOMPARE(w.Action(kCmdRawDump)->statusTip(),
             QString("Dumps sectors in Hexadecimal no matter what the item is.  The logical disk can be "
                     "viewed fully using this method."));
    QCOMPARE(w.Action(kCmdRawDump)->toolTip(), QString("Raw Sector Dump"));
    QCOMPARE(w.Action(kCmdRefresh)->statusTip(),
             QString("Refreshes the disk items in the tree view by resetting all of them"));
    QCOMPARE(w.Action(kCmdSectorDump)->statusTip(),
             QString("Dumps the tree items as sectors rather than as their own types"));
    QCOMPARE(w.Action(kCmdBackup)->statusTip(),
             QString("Backup Critical areas of Hard disk like Partition table, FAT etc."));
    QCOMPARE(w.Action(kCmdRestore)->toolTip(), QString("Restore Critical"));
    QCOMPARE(w.Action(kCmdWriteChanges)->statusTip(), QString("Write the changes made to the sector to the disk"));
    QCOMPARE(w.Action(kCmdGoToSector)->statusTip(), QString("Goes to a specific sector in Raw Sector Dumping Mode"));
    QCOMPARE(w.Action(kCmdUsage)->statusTip(), QString("It details on the features available in this utility"));
    QCOMPARE(w.Action(kCmdDiskCopy)->statusTip(), QString("Copies a floppy disk onto another disk"));
    QCOMPARE(w.Action(kCmdSearch)->toolTip(), QString("Search Bytes"));
    QCOMPARE(w.Action(kCmdUndelete)->statusTip(),
             QString("Undelete Files or Folders which were accidentally deleted"));
    QCOMPARE(w.Action(kCmdRename)->statusTip(),
             QString("Rename after the files have been recovered from deletion status"));
    QCOMPARE(w.Action(kCmdAbout)->toolTip(), QString("About"));

    // The status bar: two panes, the first 200 pixels wide, the second the rest.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.StatusPane(0)->width(), 200);
    QVERIFY(w.StatusPane(1)->width() > w.width() - 300);
    QCOMPARE(w.StatusPane(0)->text(), QString("Ready"));
    // A longer text widens the first pane to fit; "Ready" gives it back its 200.
    const QString done = QString::fromLatin1(kStatusToolDone).arg("Restore Drives");
    w.StatusPane(0)->setText(done);
    QTRY_VERIFY(w.StatusPane(0)->contentsRect().width() >=
                w.StatusPane(0)->fontMetrics().horizontalAdvance(done) + w.StatusPane(0)->indent());
    w.StatusPane(0)->setText("Ready");
    QTRY_COMPARE(w.StatusPane(0)->width(), 200);
    // The list beside the tree, in a splitter.
    QCOMPARE(w.Splitter()->widget(0), static_cast<QWidget*>(w.Tree()));
    QCOMPARE(w.Splitter()->widget(1), static_cast<QWidget*>(w.List()));

    // The bars can be hidden and shown again from the View menu.
    w.RunCommand(kCmdToggleToolBar);
    QVERIFY(w.ToolBar()->isHidden());
    QVERIFY(!w.Action(kCmdToggleToolBar)->isChecked());
    w.RunCommand(kCmdToggleStatusBar);
    QVERIFY(w.statusBar()->isHidden());
    w.RunCommand(kCmdToggleToolBar);
    w.RunCommand(kCmdToggleStatusBar);
    QVERIFY(!w.ToolBar()->isHidden() && !w.statusBar()->isHidden());
    QVERIFY(w.Action(kCmdToggleStatusBar)->isChecked());
  }

  void commandsFollowDrivesReady() {
    // No sector library in the program's folder: the binding stops early.
    TempDir empty;
    GuiRig stopped(Drives({Disk()}), empty.Path() + "/");
    QVERIFY(!stopped.started);
    QCOMPARE(stopped.Messages(), QStringList({"libsect32.so not found"}));
    QCOMPARE(stopped.Tree()->topLevelItemCount(), 0);
    for (int id : {kCmdRefresh, kCmdWriteChanges, kCmdGoToSector, kCmdSectorDump, kCmdRawDump, kCmdBackup,
                   kCmdRestore, kCmdPrevious, kCmdNext}) {
      QVERIFY2(!stopped.Enabled(id), qPrintable(QString::number(id)));
      QVERIFY(!stopped.window.Action(id)->isEnabled());
    }
    for (int id : {kCmdUsage, kCmdAbout, kCmdExit, kCmdToggleToolBar, kCmdViewDetails})
      QVERIFY(stopped.Enabled(id));
    // Every operation acts on a drive: without one, each is off, plugged in
    // or not.
    int runs = 0;
    for (int id : {kCmdDiskCopy, kCmdSearch, kCmdScan, kCmdUndelete, kCmdRename, kCmdBackup, kCmdRestore}) {
      QVERIFY2(!stopped.Enabled(id), qPrintable(QString::number(id)));
      stopped.window.SetOperation(id, [&runs] { ++runs; });
      QVERIFY2(!stopped.Enabled(id), qPrintable(QString::number(id)));
    }
    stopped.window.RunCommand(kCmdUndelete);
    stopped.window.RunCommand(kCmdRefresh);  // disabled: lists nothing
    QCOMPARE(runs, 0);
    QCOMPARE(stopped.Tree()->topLevelItemCount(), 0);
    // A plain dump-mode toggle is refused too: its mark stays clear.
    stopped.window.Action(kCmdRawDump)->trigger();
    QVERIFY(!stopped.window.Action(kCmdRawDump)->isChecked());
    QVERIFY(!stopped.state.modes.rawDump);

    GuiRig ready(Drives({Disk()}));
    QVERIFY(ready.started);
    for (int id : {kCmdRefresh, kCmdGoToSector, kCmdSectorDump, kCmdRawDump})
      QVERIFY(ready.Enabled(id));
    QVERIFY(!ready.Enabled(kCmdWriteChanges));  // until a page of bytes is on show
    // Backup and Restore are the window's own, enabled with ready drives.
    QVERIFY(ready.Enabled(kCmdBackup) && ready.window.Action(kCmdBackup)->isEnabled());
    QVERIFY(ready.Enabled(kCmdRestore) && ready.window.Action(kCmdRestore)->isEnabled());
    // Previous and Next follow the pane's flags.
    QVERIFY(!ready.Enabled(kCmdPrevious) && !ready.Enabled(kCmdNext));
    ready.window.RunCommand(kCmdRawDump);
    QVERIFY(ready.Select(kFat16Fat1));
    QVERIFY(!ready.window.Action(kCmdPrevious)->isEnabled());
    QVERIFY(ready.window.Action(kCmdNext)->isEnabled());
    QVERIFY(ready.Enabled(kCmdWriteChanges));
    ready.window.RunCommand(kCmdNext);
    QVERIFY(ready.window.Action(kCmdPrevious)->isEnabled());
  }

  void selectingNodesFillsTheListInEachMode() {
    const std::string disk = Disk();
    GuiRig rig(Drives({disk}, {Floppy()}));
    QVERIFY(rig.started);
    QAbstractItemModelTester tester(rig.List()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    const std::vector<uint8_t> mbr = Sector(disk, 0);
    const std::vector<uint8_t> boot16 = Sector(disk, kFat16Start);
    const uint16_t reserved = le16(std::span<const uint8_t>(boot16), 14);

    // Structure mode.
    QVERIFY(rig.Select(kHardDisk));
    QCOMPARE(rig.Titles(), QStringList({"Partition", "Field", "Value"}));
    QVERIFY(AtLeast(rig.Widths(), {100, 200, 200}));
    CheckCellsAreTheCore(rig);
    QVERIFY(rig.Select(kFat16));
    QCOMPARE(rig.Titles(), QStringList({"Field", "Value"}));
    QCOMPARE(rig.Row(0).at(0), QString("OEM Name"));
    QVERIFY(rig.Select(kFat16Fat1));
    QCOMPARE(rig.Titles().at(0), QString("FAT Entry"));
    QCOMPARE(rig.Pane().viewKind, ViewKind::Fat16Table);
    CheckCellsAreTheCore(rig);
    QVERIFY(rig.Select(kFat16Root));
    QCOMPARE(rig.Titles(), QStringList({"MS-DOS Name", "Long File Name", "Starting Cluster", "Attributes", "Size",
                                        "Modified Date", "Created Date", "Accessed Date"}));
    QVERIFY(AtLeast(rig.Widths(), {100, 200, 100, 75, 75, 125, 125, 125}));
    CheckCellsAreTheCore(rig);
    QVERIFY(rig.Select(kFat16Readme));  // a file: its first cluster in hexadecimal
    QCOMPARE(rig.Titles(), HexTitles());
    QVERIFY(HexWidthsOk(rig.Widths(), 85));
    QCOMPARE(rig.Row(0).mid(18, 16).join(""), QString("Sample volume fo"));
    QCOMPARE(rig.Row(1).at(0), QString("00000010"));
    QVERIFY(rig.Select(kFat16Docs));
    QCOMPARE(rig.Pane().viewKind, ViewKind::SubDirectory);
    QCOMPARE(rig.Titles().at(1), QString("Long File Name"));
    CheckCellsAreTheCore(rig);
    QVERIFY(rig.Select(kFloppy));
    QCOMPARE(rig.Row(0).at(0), QString("OEM Name"));

    // Sector/cluster dumping.
    rig.window.RunCommand(kCmdSectorDump);
    QVERIFY(rig.Select(kHardDisk));
    QCOMPARE(rig.Titles(), HexTitles());
    QVERIFY(HexWidthsOk(rig.Widths(), 100));
    QCOMPARE(rig.Rows(), 32);
    QCOMPARE(rig.RowBytes(31), HexOf(mbr, 496));
    QCOMPARE(rig.prompt.Status(1), std::string("Current Sector Number: 0"));
    QVERIFY(rig.Select(kFat16Fat1));
    QCOMPARE(rig.Pane().viewKind, ViewKind::SectorDump);
    QCOMPARE(rig.RowBytes(0), HexOf(Sector(disk, kFat16Start + reserved), 0));
    QVERIFY(rig.Select(kFat16Docs));  // a folder: its clusters
    QCOMPARE(rig.Pane().viewKind, ViewKind::ClusterDump);
    QCOMPARE(rig.Widths().at(0), 100);
    QCOMPARE(rig.Row(0).at(18), QString("."));
    QVERIFY(rig.Select(kFat16Readme));
    QCOMPARE(rig.Widths().at(0), 85);
    QCOMPARE(rig.Rows(), 32 * static_cast<int>(rig.Pane().sectorsPerPage));
    CheckCellsAreTheCore(rig);

    // Raw sector dumping wins over the other mode.
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.window.Action(kCmdSectorDump)->isChecked() && rig.window.Action(kCmdRawDump)->isChecked());
    QVERIFY(rig.Select(kHardDisk));
    QCOMPARE(rig.Rows(), 32);
    QVERIFY(!rig.Enabled(kCmdNext));  // exactly the first sector
    QVERIFY(rig.Select(kFat16Readme));  // a file: sectors to the volume's end
    QCOMPARE(rig.Widths().at(0), 100);
    QCOMPARE(rig.Rows(), 32);
    QVERIFY(rig.Enabled(kCmdNext));
    QVERIFY(rig.Select(kFat16Fat1));
    QCOMPARE(rig.RowBytes(0), HexOf(Sector(disk, kFat16Start + reserved), 0));
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(reserved));
    QVERIFY(rig.Enabled(kCmdNext) && !rig.Enabled(kCmdPrevious));
    CheckCellsAreTheCore(rig);
    QVERIFY(rig.Messages().isEmpty());
  }

  void dumpModeToggleReshowsTheNode() {
    GuiRig rig(Drives({Disk()}));
    // With nothing selected a toggle leaves the list as it is.
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.window.Action(kCmdRawDump)->isChecked());
    QCOMPARE(rig.Rows(), 0);
    QCOMPARE(rig.List()->model()->columnCount(), 0);
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(!rig.state.modes.rawDump);

    QVERIFY(rig.Select(kFat16Root));
    QTreeWidgetItem* root = rig.Tree()->currentItem();
    QCOMPARE(rig.Pane().viewKind, ViewKind::RootDirectory);
    rig.window.RunCommand(kCmdSectorDump);
    QCOMPARE(rig.Tree()->currentItem(), root);
    QVERIFY(root->isSelected());
    QCOMPARE(rig.Pane().viewKind, ViewKind::SectorDump);
    QCOMPARE(rig.Titles(), HexTitles());
    QVERIFY(!rig.Tree()->SuppressingSelection());
    rig.window.RunCommand(kCmdSectorDump);
    QCOMPARE(rig.Pane().viewKind, ViewKind::RootDirectory);
    QCOMPARE(rig.Titles().at(0), QString("MS-DOS Name"));
    rig.window.RunCommand(kCmdRawDump);
    QCOMPARE(rig.Pane().viewKind, ViewKind::SectorDump);
    QVERIFY(rig.Enabled(kCmdNext));
    QVERIFY(rig.Messages().isEmpty());
  }

  void refreshSelectsTheLastHardDisk() {
    const std::string second = Disk();
    GuiRig rig(Drives({Disk(), second}, {Floppy()}));
    QCOMPARE(rig.Tree()->topLevelItemCount(), 3);
    QVERIFY(rig.Select(kFat16Root));
    rig.window.RunCommand(kCmdRefresh);
    QCOMPARE(rig.Tree()->topLevelItemCount(), 3);
    QTreeWidgetItem* current = rig.Tree()->currentItem();
    QVERIFY(current != nullptr && current->isSelected());
    QCOMPARE(current->text(0), QString("Hard Disk 2"));
    QCOMPARE(current->childCount(), 0);  // nothing expanded after a refresh
    QCOMPARE(rig.Titles(), QStringList({"Partition", "Field", "Value"}));
    QCOMPARE(rig.Pane().shownPacket.drive, 0x81);
    QVERIFY(rig.Messages().isEmpty());

    // With no hard disk the selection is the tree's.
    GuiRig floppyOnly(Drives({}, {Floppy()}));
    floppyOnly.window.RunCommand(kCmdRefresh);
    QCOMPARE(floppyOnly.Tree()->topLevelItemCount(), 1);
    QVERIFY(floppyOnly.Tree()->selectedItems().isEmpty());
    QCOMPARE(floppyOnly.Rows(), 0);
  }

  void pagingToTheEndOfAClusterChain() {
    GuiRig rig(Drives({Disk()}));
    rig.window.RunCommand(kCmdSectorDump);
    QVERIFY(rig.Select(kFat16Big));
    QCOMPARE(rig.Pane().viewKind, ViewKind::ClusterDump);
    const int perCluster = static_cast<int>(rig.Pane().sectorsPerPage) * 512;
    QVERIFY(perCluster >= 512);
    const int clusters = (20000 + perCluster - 1) / perCluster;
    QVERIFY(clusters > 1);
    QCOMPARE(rig.Rows(), perCluster / 16);
    QVERIFY(!rig.Enabled(kCmdPrevious) && rig.Enabled(kCmdNext));
    rig.window.RunCommand(kCmdPrevious);  // nothing before the first cluster
    QCOMPARE(rig.Pane().pageIndex, 0u);
    for (int page = 1; page < clusters; ++page) {
      QVERIFY(rig.window.Action(kCmdNext)->isEnabled());
      rig.window.RunCommand(kCmdNext);
      QCOMPARE(rig.Pane().pageIndex, static_cast<uint32_t>(page));
      const size_t at = static_cast<size_t>(page) * static_cast<size_t>(perCluster);
      QCOMPARE(rig.Row(0).at(0), QString::asprintf("%08X", static_cast<unsigned>(at)));
      QCOMPARE(rig.RowBytes(0).at(5), QString::asprintf("%02X", Pattern(at + 5, 16)));
    }
    QVERIFY(!rig.window.Action(kCmdNext)->isEnabled());
    QVERIFY(rig.window.Action(kCmdPrevious)->isEnabled());
    QVERIFY(QString::fromStdString(rig.prompt.Status(1)).startsWith("Current Cluster Number: 0x"));
    rig.window.RunCommand(kCmdNext);  // past the chain's end: nothing
    QCOMPARE(rig.Pane().pageIndex, static_cast<uint32_t>(clusters - 1));
    // The tail of the file inside its last cluster.
    const size_t last = 19999 - static_cast<size_t>(clusters - 1) * static_cast<size_t>(perCluster);
    QCOMPARE(rig.RowBytes(static_cast<int>(last / 16)).at(static_cast<int>(last % 16)),
             QString::asprintf("%02X", Pattern(19999, 16)));
    rig.window.RunCommand(kCmdPrevious);
    QCOMPARE(rig.Pane().pageIndex, static_cast<uint32_t>(clusters - 2));
    QVERIFY(rig.Enabled(kCmdNext));
    QVERIFY(rig.Messages().isEmpty());
  }

  void editingARowAndWritingItBack() {
    const std::string disk = Disk();
    GuiRig rig(Drives({disk}));
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const uint16_t reserved = le16(std::span<const uint8_t>(Sector(disk, kFat16Start)), 14);
    const uint64_t sector = kFat16Start + reserved + 2;  // FAT 1, third sector
    const std::vector<uint8_t> before = ReadFileBytes(disk);

    // Structure mode: the editing message, even over a file's cluster dump.
    QVERIFY(rig.Select(kFat16Readme));
    QWidget* viewport = rig.List()->viewport();
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, rig.List()->visualRect(rig.List()->model()->index(0, 1)).center());
    QCOMPARE(rig.Messages(), QStringList({"Editing is possible only in Sector/Cluster dumping modes\n"
                                          "Select 'Action->Sector/Cluster Dumping or Raw Sector Dumping' from main "
                                          "menu"}));
    QVERIFY(rig.dialogs.byteShown.empty());

    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select(kFat16Fat1));
    rig.window.RunCommand(kCmdNext);
    rig.window.RunCommand(kCmdNext);
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(reserved + 2));
    // A double-click below the rows edits nothing and says nothing.
    rig.prompt.Clear();
    const QRect lastRow = rig.List()->visualRect(rig.List()->model()->index(31, 1));
    QVERIFY(viewport->height() > lastRow.bottom() + 4);  // the page fits, with room below
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(lastRow.center().x(), lastRow.bottom() + 3));
    QVERIFY(rig.dialogs.byteShown.empty());
    QVERIFY(rig.Messages().isEmpty());

    // Cancel changes nothing; OK puts the boxes' values into the row.
    const QModelIndex row3 = rig.List()->model()->index(3, 4);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, rig.List()->visualRect(row3).center());
    QCOMPARE(rig.dialogs.byteShown.size(), size_t{1});
    const QStringList shown = QStringList(rig.dialogs.byteShown[0].begin(), rig.dialogs.byteShown[0].end());
    QCOMPARE(shown, HexOf(before, sector * 512 + 48));
    QCOMPARE(rig.RowBytes(3), shown);
    ByteBoxTexts edit;
    for (int k = 0; k < 16; ++k) edit[static_cast<size_t>(k)] = QString::asprintf("%X", 0xC0 + k);
    edit[0] = "7";
    edit[1] = "ab";
    edit[2] = "";    // no number: the byte stays
    edit[3] = "zz";  // no number: the byte stays
    rig.dialogs.byteAnswers.push_back(edit);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, rig.List()->visualRect(row3).center());
    QStringList expected = shown;
    for (int k = 0; k < 16; ++k) expected[k] = QString::asprintf("%02X", 0xC0 + k);
    expected[0] = "07";
    expected[1] = "AB";
    expected[2] = shown[2];
    expected[3] = shown[3];
    QCOMPARE(rig.RowBytes(3), expected);
    QCOMPARE(rig.List()->currentIndex().row(), 3);
    QVERIFY(rig.List()->selectionModel()->isRowSelected(3, {}));
    QCOMPARE(rig.Pane().selectedRows, std::vector<int>({3}));
    QCOMPARE(ReadFileBytes(disk), before);  // in memory only

    // No to the question writes nothing; Yes writes exactly the 16 bytes.
    rig.prompt.Clear();
    rig.prompt.AnswerNo();
    rig.window.RunCommand(kCmdWriteChanges);
    QCOMPARE(rig.Messages(), QStringList({"Are you sure to write to disk?"}));
    QCOMPARE(ReadFileBytes(disk), before);
    rig.prompt.Clear();
    rig.prompt.AnswerYes();
    rig.window.RunCommand(kCmdWriteChanges);
    QCOMPARE(rig.Messages(), QStringList({"Are you sure to write to disk?", "Changes written successfully!"}));
    std::vector<uint8_t> after = ReadFileBytes(disk);
    QCOMPARE(after.size(), before.size());
    size_t changed = 0;
    for (size_t i = 0; i < after.size(); ++i)
      if (after[i] != before[i]) {
        ++changed;
        QVERIFY2(i >= sector * 512 + 48 && i < sector * 512 + 64, qPrintable(QString::number(i)));
      }
    QCOMPARE(HexOf(after, sector * 512 + 48), expected);
    QVERIFY(changed >= 12 && changed <= 16);
    QCOMPARE(HexOf(after, sector * 512 + 48, 4), QStringList({"07", "AB", shown[2], shown[3]}));
    // The page on show was read again from the disk, and the status says so.
    QCOMPARE(rig.RowBytes(3), HexOf(after, sector * 512 + 48));
    QCOMPARE(QString::fromStdString(rig.prompt.Status(0)), QString("Changes written"));
  }

  void writeChangesOnADecodedViewWritesNothing() {
    const std::string disk = Disk();
    GuiRig rig(Drives({disk}));
    const std::vector<uint8_t> before = ReadFileBytes(disk);
    // Nothing on show can be edited: Write Changes is off and does nothing.
    for (const QStringList& node : {kHardDisk, kFat16, kFat16Fat1, kFat16Root, kFat16Docs}) {
      QVERIFY(rig.Select(node));
      QVERIFY(!rig.window.Action(kCmdWriteChanges)->isEnabled());
      rig.prompt.Clear();
      rig.prompt.AnswerYes();
      rig.window.RunCommand(kCmdWriteChanges);
      QVERIFY(rig.Messages().isEmpty());
    }
    QCOMPARE(ReadFileBytes(disk), before);
  }

  void sectorJumpAndItsMessages() {
    GuiRig rig(Drives({Disk()}));
    QVERIFY(rig.Select(kFat16Fat1));
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.Messages(), QStringList({"This feature works only in the Raw Sector Dump mode!"}));
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select(kFat16));
    rig.prompt.Clear();
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.Messages(),
             QStringList({"You cannot goto a sector from this level.  Choose a child item and try"}));
    QVERIFY(rig.dialogs.sectorShown.empty());

    QVERIFY(rig.Select(kFat16Root));
    const DrivePacket root = rig.Pane().shownPacket;
    const uint32_t first = root.startSector;
    const QString firstText = QString::number(first);
    rig.prompt.Clear();
    // Cancel; then below the item; then no number at all: nothing moves.
    rig.dialogs.sectorAnswers = {std::nullopt, QString::number(first - 1), QString("x12")};
    rig.window.RunCommand(kCmdGoToSector);
    rig.window.RunCommand(kCmdGoToSector);
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.dialogs.sectorShown, std::vector<QString>({firstText, firstText, firstText}));
    QCOMPARE(rig.Messages(),
             QStringList({QString("Sector number is below the current selected item of %1").arg(first)}));
    QCOMPARE(rig.Pane().pageIndex, 0u);
    QCOMPARE(rig.Row(0).at(0), QString("00000000"));
    QCOMPARE(rig.state.jumpTarget, first - 1);

    // A sector inside the volume, then its last sector.
    rig.dialogs.sectorAnswers = {QString::number(first + 5), QString::number(root.totalSectors - 1)};
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.Pane().pageIndex, 5u);
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(first + 5));
    QCOMPARE(rig.Row(0).at(0), QString::asprintf("%08X", 5 * 512));
    QVERIFY(rig.Enabled(kCmdPrevious) && rig.Enabled(kCmdNext));
    QCOMPARE(rig.state.jumpTarget, first + 5);
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(root.totalSectors - 1));
    QVERIFY(!rig.Enabled(kCmdNext) && rig.Enabled(kCmdPrevious));
    // Past the end of the volume: refused with the range message, the page
    // on show stays.
    rig.dialogs.sectorAnswers = {QString::number(first + 10000000)};
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.Messages().last(), QString("Sector number is past the end of the volume at %1")
                                        .arg(root.totalSectors - 1));
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(root.totalSectors - 1));
    rig.prompt.Clear();
    // The item's own first sector: nothing before it.
    rig.dialogs.sectorAnswers = {firstText};
    rig.window.RunCommand(kCmdGoToSector);
    QCOMPARE(rig.Pane().pageIndex, 0u);
    QVERIFY(!rig.Enabled(kCmdPrevious));
    QVERIFY(rig.Messages().isEmpty());
  }

  void failuresAreReported() {
    // Read-only drives: every command that writes is off on every kind of
    // page, and its status tip says why (no refusal that reads like a
    // disk fault).
    DriveMapConfig config = Drives({Disk()}, {Floppy()});
    config.readOnly = true;
    GuiRig rig(config);
    rig.window.RunCommand(kCmdSectorDump);
    for (const QStringList& node : {kHardDisk, kFat16, kFat16Fat1, kFat16Root, kFat16Big}) {
      QVERIFY(rig.Select(node));
      rig.window.UpdateCommands();
      for (const int id : kWritingCommands) {
        QVERIFY2(!rig.Enabled(id), qPrintable(QString::number(id)));
        if (QAction* action = rig.window.Action(id)) QCOMPARE(action->statusTip(), QString(kDrivesReadOnly));
      }
      QVERIFY(rig.Enabled(kCmdSearch) && rig.Enabled(kCmdScan));
      rig.prompt.Clear();
      rig.window.RunCommand(kCmdWriteChanges);
      QVERIFY(rig.Messages().isEmpty());
    }
    // Reading shows "Wait...." while it works and empties the pane after.
    rig.prompt.Clear();
    QVERIFY(rig.Select(kFat16Root));
    QVERIFY(rig.prompt.WaitCount() > 0);
    QCOMPARE(rig.prompt.Status(0), std::string());

    // A buffer larger than the pane may take.
    rig.Pane().budget.limit = 4096;
    rig.prompt.Clear();
    QVERIFY(rig.Select(kFat16Fat1));
    QCOMPARE(rig.Messages(), QStringList({"Fatal Error!  Not able to allocate a buffer of memory!"}));
    QCOMPARE(rig.Pane().viewKind, ViewKind::None);
  }

  void menusOfTheTwoPanes() {
    GuiRig rig(Drives({Disk()}, {Floppy()}));
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    TreePane* tree = rig.Tree();
    auto rightClick = [&](const QStringList& path) {
      QTreeWidgetItem* item = tree->FindPath(path);
      QVERIFY(item != nullptr);
      tree->scrollToItem(item);
      emit tree->customContextMenuRequested(tree->visualItemRect(item).center());
    };
    rightClick(kHardDisk);  // nothing to offer: no menu
    QCOMPARE(rig.dialogs.menus.size(), size_t{0});
    rightClick(kFloppy);
    rightClick(kFloppyFat1);
    rightClick(kFat16Fat1);
    QCOMPARE(rig.dialogs.menus.size(), size_t{3});
    QCOMPARE(rig.dialogs.menus[0], QStringList({"Disk Copy"}));
    QCOMPARE(rig.dialogs.menus[1], QStringList({"Disk Copy", "Raw Search"}));
    QCOMPARE(rig.dialogs.menus[2], QStringList({"Raw Search"}));
    // Both dialogs are the window's own: the entries are enabled.
    QCOMPARE(rig.dialogs.menuEnabled[1], QList<bool>({true, true}));
    // Once plugged in, choosing one runs it.
    int searches = 0;
    rig.window.SetOperation(kCmdSearch, [&] { ++searches; });
    rig.dialogs.menuChoice = "Raw Search";
    rightClick(kFat16Fat1);
    QCOMPARE(rig.dialogs.menuEnabled.back(), QList<bool>({true}));
    QCOMPARE(searches, 1);
    // A click beside every item.
    emit tree->customContextMenuRequested(QPoint(5, tree->viewport()->height() - 2));
    QCOMPARE(rig.dialogs.menus.size(), size_t{4});

    // The list's row menu: six entries that nothing handles, shown disabled,
    // and Copy Out To Folder, greyed out without directory rows.
    QVERIFY(rig.Select(kFat16Fat1));
    const std::vector<uint8_t> buffer = rig.Pane().sectorBuffer;
    rig.dialogs.menuChoice = "&Copy";
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), rig.List()->viewport()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(rig.List()->viewport(), &event);
    QCOMPARE(rig.dialogs.menus.back(),
             QStringList({"&Copy", "&Paste", "&Safe Paste", "&Delete", "S&afe Delete", "D&oomed Delete",
                          "", QString::fromUtf8("Copy &Out To Folder\u2026")}));
    QCOMPARE(rig.dialogs.menuEnabled.back(),
             QList<bool>({false, false, false, false, false, false, true, false}));
    QVERIFY(rig.Pane().sectorBuffer == buffer);
    QVERIFY(rig.Messages().isEmpty());

    // From the keyboard: Shift+F10 and the Menu key, in either pane.
    rig.dialogs.menuChoice.clear();
    const size_t before = rig.dialogs.menus.size();
    QVERIFY(rig.Select(kFloppyFat1));
    QTest::keyClick(tree, Qt::Key_F10, Qt::ShiftModifier);
    QTest::keyClick(tree, Qt::Key_Menu);
    QTest::keyClick(rig.List(), Qt::Key_F10, Qt::ShiftModifier);
    QTest::keyClick(rig.List(), Qt::Key_Menu);
    QCOMPARE(rig.dialogs.menus.size(), before + 4);
    QCOMPARE(rig.dialogs.menus[before], QStringList({"Disk Copy", "Raw Search"}));
    QCOMPARE(rig.dialogs.menus[before + 1], QStringList({"Disk Copy", "Raw Search"}));
    QCOMPARE(rig.dialogs.menus[before + 2].front(), QString("&Copy"));
  }

  void acceleratorsAndPaneSwitching() {
    GuiRig rig(Drives({Disk()}));
    MainWindow& w = rig.window;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(rig.Select(kFat16Fat1));
    rig.Tree()->setFocus();
    QTest::keyClick(&w, Qt::Key_F4);
    QVERIFY(w.Action(kCmdRawDump)->isChecked());
    QCOMPARE(rig.Pane().viewKind, ViewKind::SectorDump);
    QTest::keyClick(&w, Qt::Key_F4, Qt::ControlModifier);
    QVERIFY(w.Action(kCmdSectorDump)->isChecked());
    QTest::keyClick(&w, Qt::Key_F4);
    QVERIFY(!w.Action(kCmdRawDump)->isChecked());
    // Ctrl+G outside raw mode.
    QTest::keyClick(&w, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(rig.Messages(), QStringList({"This feature works only in the Raw Sector Dump mode!"}));
    // Keys without a handler do nothing.
    rig.prompt.Clear();
    const ViewKind kind = rig.Pane().viewKind;
    for (auto [key, mods] : std::initializer_list<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
             {Qt::Key_C, Qt::ControlModifier},
             {Qt::Key_V, Qt::ControlModifier},
             {Qt::Key_X, Qt::ControlModifier},
             {Qt::Key_Z, Qt::ControlModifier},
             {Qt::Key_F7, Qt::NoModifier},
             {Qt::Key_F7, Qt::ControlModifier | Qt::ShiftModifier},
             {Qt::Key_F8, Qt::NoModifier},
             {Qt::Key_F9, Qt::NoModifier},
             {Qt::Key_Return, Qt::AltModifier}})
      QTest::keyClick(&w, key, mods);
    QVERIFY(rig.Messages().isEmpty());
    // Ctrl+F6 opens Scan Disk for Errors.
    QTest::keyClick(&w, Qt::Key_F6, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.scansShown, 1);
    QCOMPARE(rig.Pane().viewKind, kind);
    QVERIFY(w.isVisible());
    // F6 and Shift+F6 move the focus between the panes.
    rig.Tree()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    QVERIFY(rig.List()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    QVERIFY(rig.Tree()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
    QVERIFY(rig.List()->hasFocus());
    // F5 refreshes from anywhere.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    QCOMPARE(rig.Tree()->currentItem()->text(0), QString("Hard Disk 1"));
    // F1 opens the guide.
    QTest::keyClick(&w, Qt::Key_F1);
    QVERIFY(w.Help() != nullptr && w.Help()->isVisible());
    w.Help()->close();
  }

  void aboutAndHelp() {
    GuiRig rig(Drives({Disk()}));
    rig.window.RunCommand(kCmdAbout);
    QCOMPARE(rig.dialogs.aboutShown, 1);
    rig.window.RunCommand(kCmdUsage);
    HelpWindow* help = rig.window.Help();
    QVERIFY(help != nullptr && help->isVisible());
    QVERIFY(help->parentWidget() == nullptr);
    QCOMPARE(help->Browser()->source().fileName(), QString("Gleaner.html"));
    QCOMPARE(help->Browser()->source().fragment(), QString("contents"));
    const QString text = help->Browser()->toPlainText();
    QVERIFY(text.contains("How to recover a deleted file"));
    // The guide names every command of the menus.
    for (QAction* top : rig.window.menuBar()->actions())
      for (QAction* a : top->menu()->actions()) {
        if (a->isSeparator()) continue;
        const QString name = a->text().section('\t', 0, 0).remove('&').remove("...");
        QVERIFY2(text.contains(name), qPrintable(name));
      }
    help->close();

    // Without the guide beside the program the window says so.
    TempDir empty;
    HelpWindow missing;
    QVERIFY(!missing.OpenContents(QString::fromStdString(empty.File("Gleaner.html"))));
    QVERIFY(missing.Browser()->toPlainText().contains("could not be opened"));
  }

  void closingReleasesEverything() {
    GuiRig rig(Drives({Disk()}));
    rig.window.show();
    rig.window.RunCommand(kCmdSectorDump);
    QVERIFY(rig.Select(kFat16Big));
    QVERIFY(!rig.Pane().clusterChain.empty());
    QVERIFY(rig.state.access.Library() != nullptr);
    rig.window.RunCommand(kCmdUsage);
    rig.window.RunCommand(kCmdExit);
    QVERIFY(!rig.window.isVisible());
    QVERIFY(!rig.window.Help()->isVisible());
    QVERIFY(rig.Pane().clusterChain.empty() && rig.Pane().sectorBuffer.empty());
    QCOMPARE(rig.Pane().viewKind, ViewKind::None);
    QCOMPARE(rig.Tree()->topLevelItemCount(), 0);
    QCOMPARE(rig.Rows(), 0);
    QVERIFY(rig.state.access.Library() == nullptr);
    QVERIFY(!rig.state.access.DrivesReady());
  }

  void treeWidthIsDraggedAndRemembered() {
    const QString file = QString::fromStdString(dir_->File("settings/gleaner.conf"));
    {  // Dragged to 420: the splitter's move writes it at once.
      GuiRig rig(Drives({Disk()}));
      rig.window.UseSettings(file);
      rig.window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
      const int total = rig.window.Splitter()->sizes().value(0) + rig.window.Splitter()->sizes().value(1);
      rig.window.Splitter()->setSizes({420, total - 420});
      emit rig.window.Splitter()->splitterMoved(420, 1);
      QCOMPARE(QSettings(file, QSettings::IniFormat).value("window/treeWidth").toInt(), 420);
    }
    {  // The next run opens with it.
      GuiRig rig(Drives({Disk()}));
      rig.window.UseSettings(file);
      rig.window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
      QCOMPARE(rig.window.Splitter()->sizes().value(0), 420);
    }
    // A width the panes cannot have is held to the tree's minimum.
    QSettings(file, QSettings::IniFormat).setValue("window/treeWidth", 5);
    GuiRig rig(Drives({Disk()}));
    rig.window.UseSettings(file);
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QCOMPARE(rig.window.Splitter()->sizes().value(0), 300);  // the width it opens with
  }

  void expandingANodeKeepsThePageOnShow() {
    // An expansion must not give the page on show another node's address:
    // Write Changes would put the page there.
    const std::string disk = Disk();
    GuiRig rig(Drives({disk}));
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select(kFat16Fat1));
    const DrivePacket shown = rig.Pane().shownPacket;
    QVERIFY(rig.Tree()->FindPath(kFat16Docs) != nullptr);  // expands the root directory
    QTreeWidgetItem* games = rig.Tree()->FindPath({"Hard Disk 1", "16-Bit FAT Disk", "Root Directory", "GAMES   .   "});
    QVERIFY(games != nullptr);
    QCOMPARE(rig.Tree()->currentItem()->text(0), QString("FAT 1"));
    rig.Tree()->expandItem(games);
    QCOMPARE(rig.Pane().shownPacket.startSector, shown.startSector);
    QCOMPARE(rig.Pane().shownPacket.kind, shown.kind);
    QCOMPARE(rig.Pane().selectedPacket.kind, shown.kind);
    // A folder is expanded once; one without subfolders loses its sign.
    QCOMPARE(games->childCount(), 1);
    rig.Tree()->collapseItem(games);
    rig.Tree()->expandItem(games);
    QCOMPARE(games->childCount(), 1);
    QCOMPARE(games->child(0)->text(0), QString("SCORES  .DAT"));
    QCOMPARE(games->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

    // The rows picked in a listing (what Undelete acts on) stay picked.
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select(kFat16Root));
    QItemSelectionModel* selection = rig.List()->selectionModel();
    selection->select(rig.List()->model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(rig.List()->model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(rig.Pane().selectedRows, std::vector<int>({1, 3}));
    rig.Tree()->expandItem(rig.Tree()->FindPath(kFat16Docs));
    QCOMPARE(rig.Pane().selectedRows, std::vector<int>({1, 3}));
    QVERIFY(selection->isRowSelected(3, {}));
    QCOMPARE(rig.Pane().selectedPacket.kind, NodeKind::RootDir);
  }

  void directDevicePathToo() {
    const std::string floppy = Floppy();
    GuiRig rig(Drives({Disk()}, {floppy}, true));
    QVERIFY(rig.started);
    QVERIFY(rig.state.access.Library() == nullptr);
    // A floppy that cannot be opened refuses its expansion; it can be tried again.
    std::filesystem::rename(floppy, floppy + ".away");
    QTreeWidgetItem* drive = rig.Tree()->topLevelItem(0);
    rig.Tree()->expandItem(drive);
    QVERIFY(!rig.Messages().isEmpty());
    QVERIFY(!drive->isExpanded());
    QCOMPARE(drive->childCount(), 0);
    std::filesystem::rename(floppy + ".away", floppy);
    rig.prompt.Clear();
    rig.Tree()->expandItem(drive);
    QVERIFY(drive->isExpanded());
    QCOMPARE(drive->childCount(), 3);
    QVERIFY(rig.Messages().isEmpty());
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select(kFloppyFat1));
    QCOMPARE(rig.RowBytes(0).mid(0, 3), QStringList({"F0", "FF", "FF"}));
    rig.window.RunCommand(kCmdNext);
    QCOMPARE(rig.prompt.Status(1), std::string("Current Sector Number: 2"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

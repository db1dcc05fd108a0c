// How the window looks over the sample images in structure, sector and raw
// modes: no column title or cell text cut off, the status panes filled, the
// tree's labels whole. With GLEANER_SCREENSHOT_DIR set it also saves the
// window as PNG files there.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <memory>

#include "app/about_dialog.h"
#include "app/byte_dialog.h"
#include "app/column_widths.h"
#include "app/critical_area_dialog.h"
#include "app/disk_copy_dialog.h"
#include "app/find_deleted_dialog.h"
#include "app/goto_dialog.h"
#include "app/rename_dialog.h"
#include "app/scan_dialog.h"
#include "app/search_dialog.h"
#include "app/undo_writes_dialog.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"

Q_DECLARE_METATYPE(QList<int>)

namespace {

// A hexadecimal dump's widths: the offset column, 16 bytes, the spacer and
// 16 characters.
QList<int> HexWidths(int offset) {
  QList<int> widths{offset};
  for (int i = 0; i < 16; ++i) widths << 30;
  widths << 15;
  for (int i = 0; i < 16; ++i) widths << 20;
  return widths;
}

QList<int> FatWidths(int entry) {
  QList<int> widths{100};
  for (int i = 0; i < 16; ++i) widths << entry;
  return widths;
}

}  // namespace

class WindowLookTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> dir_;
  std::string disk_, floppy_;

  static void Save(QWidget& w, const char* name) {
    const QByteArray folder = qgetenv("GLEANER_SCREENSHOT_DIR");
    if (folder.isEmpty()) return;
    QTest::qWait(100);  // deferred layouts (the tree's column) settle first
    QDir().mkpath(QString::fromLocal8Bit(folder));
    QVERIFY(w.grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png"));
  }

  // Every header title and every painted cell of the list fits its column.
  static void CheckNothingClipped(GuiRig& rig) {
    ListPane* list = rig.List();
    QHeaderView* header = list->horizontalHeader();
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const QFontMetrics metrics(list->font());
    for (int c = 0; c < header->count(); ++c) {
      QVERIFY2(header->sectionSizeHint(c) <= header->sectionSize(c),
               qPrintable(QString("title of column %1 (%2) needs %3, has %4")
                              .arg(c)
                              .arg(rig.Titles().at(c))
                              .arg(header->sectionSizeHint(c))
                              .arg(header->sectionSize(c))));
      for (int r = 0; r < rig.Rows() && r < 64; ++r) {
        const QString text = rig.Row(r).at(c);
        QVERIFY2(metrics.horizontalAdvance(text) + 2 * margin <= header->sectionSize(c),
                 qPrintable(QString("cell %1,%2 '%3'").arg(r).arg(c).arg(text)));
      }
    }
  }

  // Every label, button and box text of a shown dialog is drawn whole: a
  // label one line wide holds its text, a wrapped one all its lines.
  static void CheckDialogTextsWhole(QWidget& dialog, const char* name) {
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::qWait(50);  // layouts of texts set just now settle
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
      if (!label->isVisible() || label->text().isEmpty()) continue;
      const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                          : label->minimumSizeHint().width() <= label->width();
      QVERIFY2(fits, qPrintable(QString("%1: label '%2' is %3 wide, needs %4")
                                    .arg(name, label->text())
                                    .arg(label->width())
                                    .arg(label->minimumSizeHint().width())));
    }
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
      if (!button->isVisible() || button->text().isEmpty()) continue;
      QVERIFY2(button->sizeHint().width() <= button->width(),
               qPrintable(QString("%1: button '%2'").arg(name, button->text())));
    }
    Save(dialog, name);
  }

  static void CheckTreeLabelsWhole(GuiRig& rig) {
    QTest::qWait(100);
    TreePane* tree = rig.Tree();
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
      if ((*it)->parent() && !(*it)->parent()->isExpanded()) continue;
      const QRect rect = tree->visualItemRect(*it);
      const int textRight = rect.left() + tree->fontMetrics().horizontalAdvance((*it)->text(0));
      QVERIFY2(textRight <= tree->viewport()->width() + tree->horizontalScrollBar()->maximum(),
               qPrintable((*it)->text(0)));
    }
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    disk_ = MakeSampleDisk(dir_->File("disk.img")).image;
    floppy_ = MakeSampleFloppy(dir_->File("floppy.img")).image;
  }

  // The width the window gives each column of each view (the list may make
  // one wider for the font in use; the window's own choice is pinned here).
  void columnWidthsOfEachView_data() {
    QTest::addColumn<QStringList>("node");
    QTest::addColumn<bool>("sectorDump");
    QTest::addColumn<QList<int>>("widths");
    const QStringList fat16 = {"Hard Disk 1", "16-Bit FAT Disk"};
    const QStringList docs = fat16 + QStringList{"Root Directory", "DOCS    .   "};
    QTest::newRow("partition table") << QStringList{"Hard Disk 1"} << false << QList<int>{100, 200, 200};
    QTest::newRow("boot record") << fat16 << false << QList<int>{200, 200};
    QTest::newRow("12-bit FAT") << QStringList{"Floppy Disk 1", "FAT 1"} << false << FatWidths(35);
    QTest::newRow("16-bit FAT") << fat16 + QStringList{"FAT 1"} << false << FatWidths(40);
    QTest::newRow("32-bit FAT") << QStringList{"Hard Disk 1", "Extended DOS Partition", "32-Bit FAT Disk", "FAT 1"}
                                << false << FatWidths(75);
    QTest::newRow("root directory") << fat16 + QStringList{"Root Directory"} << false
                                    << QList<int>{100, 200, 100, 75, 75, 125, 125, 125};
    QTest::newRow("folder") << docs << false << QList<int>{100, 200, 100, 75, 75, 125, 125, 125};
    QTest::newRow("sector dump") << fat16 + QStringList{"Root Directory"} << true << HexWidths(100);
    QTest::newRow("folder cluster dump") << docs << true << HexWidths(100);
    QTest::newRow("file cluster dump") << docs + QStringList{"BIG     .BIN"} << false << HexWidths(85);
    QTest::newRow("file cluster dump, sector mode") << docs + QStringList{"BIG     .BIN"} << true
                                                    << HexWidths(85);
  }

  void columnWidthsOfEachView() {
    QFETCH(QStringList, node);
    QFETCH(bool, sectorDump);
    QFETCH(QList<int>, widths);
    GuiRig rig(Drives({disk_}, {floppy_}));
    if (sectorDump) rig.window.RunCommand(kCmdSectorDump);
    QVERIFY(rig.Select(node));
    QList<int> given;
    for (size_t c = 0; c < rig.Pane().columns.size(); ++c) given << ColumnWidth(rig.Pane(), c);
    QCOMPARE(given, widths);
    // The list draws them at least so wide.
    const QList<int> drawn = rig.Widths();
    QCOMPARE(drawn.size(), widths.size());
    for (qsizetype c = 0; c < drawn.size(); ++c) QVERIFY(drawn[c] >= widths[c]);
  }

  void structureSectorAndRawModes() {
    GuiRig rig(Drives({disk_}, {floppy_}));
    rig.window.resize(1280, 800);
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    // The prompt port is scripted here; the window's panes show its texts.
    auto statusToPanes = [&] {
      const std::string first = rig.prompt.Status(0);
      rig.window.StatusPane(0)->setText(first.empty() ? QString(kIdleStatus) : QString::fromStdString(first));
      rig.window.StatusPane(1)->setText(QString::fromStdString(rig.prompt.Status(1)));
    };

    QVERIFY(rig.Select({"Hard Disk 1", "Extended DOS Partition", "32-Bit FAT Disk", "Root Directory",
                        "DOCS    .   "}));
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"}));
    statusToPanes();
    QVERIFY(!rig.window.StatusPane(1)->text().isEmpty());
    CheckNothingClipped(rig);
    CheckTreeLabelsWhole(rig);
    Save(rig.window, "structure-root-directory");
    QVERIFY(rig.Select({"Hard Disk 1"}));
    CheckNothingClipped(rig);
    Save(rig.window, "structure-partition-table");
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk"}));
    CheckNothingClipped(rig);
    Save(rig.window, "structure-boot-record");
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "FAT 1"}));
    CheckNothingClipped(rig);
    Save(rig.window, "structure-fat16");

    rig.window.RunCommand(kCmdSectorDump);
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "Root Directory", "DOCS    .   ", "BIG     .BIN"}));
    rig.window.RunCommand(kCmdNext);
    statusToPanes();
    QVERIFY(rig.window.StatusPane(1)->text().startsWith("Current Cluster Number: 0x"));
    CheckNothingClipped(rig);
    Save(rig.window, "sector-file-cluster");

    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"}));
    statusToPanes();
    QVERIFY(rig.window.StatusPane(1)->text().startsWith("Current Sector Number: "));
    CheckNothingClipped(rig);
    // The whole dump row is in view beside the tree.
    QHeaderView* header = rig.List()->horizontalHeader();
    QVERIFY(header->sectionViewportPosition(33) + header->sectionSize(33) <= rig.List()->viewport()->width());
    Save(rig.window, "raw-root-directory");
  }

  // Today's disks in the tree: a GPT disk (EFI system FAT32, basic data
  // FAT16, Linux) and a volume filling a whole disk, their labels whole.
  void gptAndWholeDiskTrees() {
    TempDir dir;
    const std::string gpt = dir.File("gpt.img");
    QVERIFY(PartitionImage(gpt, 262144,
                           "label: gpt\n"
                           "start=2048, size=81920, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B, name=\"EFI\"\n"
                           "size=40960, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=\"Data\"\n"
                           "type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n"));
    FatVolume efi = FormatPartition(gpt, 2048, 81920, 32, "-s 1");
    QVERIFY(efi.MakeDir("::/EFI"));
    FatVolume data = FormatPartition(gpt, 83968, 40960, 16);
    QVERIFY(data.PutFile("::/A rather long file name.txt", "text"));
    FatVolume whole = MakeFatImage(dir.File("whole.img"), 16, 65536, "-n WHOLE");
    QVERIFY(whole.PutFile("::/README.TXT", "text"));

    GuiRig rig(Drives({gpt, whole.image}));
    QVERIFY(rig.started);
    rig.window.resize(1280, 800);
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    for (const QStringList& node :
         {QStringList{"Hard Disk 1", "GPT Partition Entries"}, QStringList{"Hard Disk 1", "GPT Header"},
          QStringList{"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"},
          QStringList{"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"},
          QStringList{"Hard Disk 2", "16-Bit FAT Disk", "Root Directory"}}) {
      QVERIFY2(rig.Select(node), qPrintable(node.join("/")));
      rig.Tree()->expandItem(rig.Tree()->FindPath(node));
      CheckNothingClipped(rig);
    }
    CheckTreeLabelsWhole(rig);
    QVERIFY(rig.Select({"Hard Disk 1", "GPT Partition Entries"}));
    Save(rig.window, "gpt-entries");
    QVERIFY(rig.Select({"Hard Disk 2", "16-Bit FAT Disk", "Root Directory"}));
    Save(rig.window, "whole-disk-root");
  }

  // The dialogs as they open, and with the longest texts they set.
  void dialogsShowTheirTextsWhole() {
    TempDir dir;
    const std::string disk = CopyImage(disk_, dir.File("disk.img"));
    const std::string floppy = CopyImage(floppy_, dir.File("floppy.img"));
    GuiRig rig(Drives({disk}, {floppy}));
    QVERIFY(rig.started);
    {
      AboutDialog about;
      CheckDialogTextsWhole(about, "dialog-about");
      GotoDialog go(QStringLiteral("4294967295"));
      CheckDialogTextsWhole(go, "dialog-goto");
      ByteDialog bytes(ByteBoxTexts{});
      CheckDialogTextsWhole(bytes, "dialog-bytes");
    }
    {  // A refused name, in the dialog.
      RenameDialog rename(nullptr, [](const ShortNameInput&) -> std::optional<std::string> {
        return std::string("The extension has a space before another character: a short name may only "
                           "end in spaces.");
      });
      rename.NameBox()->setText("REPORT");
      rename.accept();
      CheckDialogTextsWhole(rename, "dialog-rename-refused");
    }
    {
      ScanDialog scan(rig.state.access);
      CheckDialogTextsWhole(scan, "dialog-scan");
    }
    {
      UndoWritesDialog undo({UndoFileInfo{dir.File("undo/disk.img-20261209-120000-1.undo"), disk, 1765281600, 12}});
      CheckDialogTextsWhole(undo, "dialog-undo-writes");
    }
    for (const bool backup : {true, false}) {
      CriticalAreaDialog tool(rig.state.access, backup ? CriticalAreaTool::Backup : CriticalAreaTool::Restore);
      QVERIFY(tool.Prepare());
      CheckDialogTextsWhole(tool, backup ? "dialog-backup" : "dialog-restore");
    }
    {
      DiskCopyDialog copy(rig.state.access, [](QWidget*) { return QString(); });
      CheckDialogTextsWhole(copy, "dialog-disk-copy");
    }
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"}));
    {
      SearchDialog search(rig.state, *rig.List(), rig.Pane().selectedPacket);
      CheckDialogTextsWhole(search, "dialog-search");
    }
    {  // Its status line after the search, and after a copy into a deep folder.
      const std::string out = dir.File("a folder with a long name/and another one below it");
      FindDeletedDialog find(rig.state.access, rig.Pane().selectedPacket,
                             [&](QWidget*) { return QString::fromStdString(out); });
      find.show();
      while (find.Running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      CheckDialogTextsWhole(find, "dialog-find-deleted");
      find.Table()->selectAll();
      find.CopySelected();
      while (find.Running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      CheckDialogTextsWhole(find, "dialog-find-deleted-copied");
    }
  }
};

QTEST_MAIN(WindowLookTest)
#include "window_look_test.moc"

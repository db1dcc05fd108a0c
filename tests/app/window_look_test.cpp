// How the window looks over the sample images in structure, sector and raw
// modes: no column title or cell text cut off, the status panes filled, the
// tree's labels whole. With GLEANER_SCREENSHOT_DIR set it also saves the
// window as PNG files there.
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QStyle>
#include <memory>

#include "app/column_widths.h"
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
};

QTEST_MAIN(WindowLookTest)
#include "window_look_test.moc"

// A 4 GiB FAT32 volume (a sparse image) stays quick to browse: selecting its
// nodes and paging through it in raw mode read only what is on show.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <memory>

#include "fixtures/image_builder.h"
#include "gui_rig.h"

class LargeVolumeTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> dir_;
  std::string image_;

  template <typename F>
  static double Millis(F&& f) {
    QElapsedTimer timer;
    timer.start();
    f();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    image_ = dir_->File("big.img");
    constexpr uint32_t kSectors = 8u * 1024 * 1024;  // 4 GiB
    QVERIFY(PartitionImage(image_, kSectors, "start=2048, type=c\n"));
    FormatPartition(image_, 2048, kSectors - 2048, 32, "-n BIG32");
  }

  void selectingAndPagingStayQuick() {
    GuiRig rig(Drives({image_}));
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const QStringList fat1 = {"Hard Disk 1", "32-Bit FAT Disk", "FAT 1"};
    QVERIFY(rig.Tree()->FindPath(fat1) != nullptr);

    // Structure mode: the whole first FAT copy, decoded on demand.
    const double structure = Millis([&] { QVERIFY(rig.Select(fat1)); QCoreApplication::processEvents(); });
    QCOMPARE(rig.Pane().viewKind, ViewKind::Fat32Table);
    const int fatRows = rig.Rows();
    QVERIFY(fatRows > 30000);
    const double scroll = Millis([&] { rig.List()->scrollToBottom(); QCoreApplication::processEvents(); });

    // Raw mode: one sector a page, to the end of the volume.
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select({"Hard Disk 1"}));
    const double select = Millis([&] { QVERIFY(rig.Select(fat1)); QCoreApplication::processEvents(); });
    QCOMPARE(rig.Rows(), 32);
    const DrivePacket item = rig.Pane().shownPacket;
    QVERIFY(item.sectorCount > 8000000u);
    constexpr int kPages = 200;
    double slowest = 0;
    const double paging = Millis([&] {
      for (int i = 0; i < kPages; ++i) {
        slowest = qMax(slowest, Millis([&] { rig.window.RunCommand(kCmdNext); QCoreApplication::processEvents(); }));
      }
    });
    QCOMPARE(rig.Pane().pageIndex, static_cast<uint32_t>(kPages));
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(item.startSector + kPages));
    // A jump to the last sector of the volume, then back a page.
    rig.dialogs.sectorAnswers = {QString::number(item.totalSectors - 1)};
    const double jump = Millis([&] { rig.window.RunCommand(kCmdGoToSector); QCoreApplication::processEvents(); });
    QVERIFY(!rig.Enabled(kCmdNext));
    rig.window.RunCommand(kCmdPrevious);
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(item.totalSectors - 2));
    QVERIFY(rig.Messages().isEmpty());

    qInfo("4 GiB FAT32: FAT 1 decoded %.1f ms (%d rows, scrolled to its end %.1f ms); raw FAT 1 "
          "selected %.1f ms; %d pages %.1f ms (%.2f ms a page, slowest %.2f ms); jump to the last "
          "sector %.1f ms",
          structure, fatRows, scroll, select, kPages, paging, paging / kPages, slowest, jump);
    // The figures are reported, not limited: a loaded machine would fail
    // any limit at random.
  }
};

QTEST_MAIN(LargeVolumeTest)
#include "large_volume_test.moc"

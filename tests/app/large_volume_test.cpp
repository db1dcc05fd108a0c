// A 4 GiB FAT32 volume (a sparse image): its FAT decodes whole, and raw
// sector dumping pages through it and jumps to its last sector. How long that
// takes is measured by scripts/bench, not here.
#include <QCoreApplication>
#include <memory>

#include "fixtures/image_builder.h"
#include "gui_rig.h"

class LargeVolumeTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> dir_;
  std::string image_;

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    image_ = dir_->File("big.img");
    constexpr uint32_t kSectors = 8u * 1024 * 1024;  // 4 GiB
    QVERIFY(PartitionImage(image_, kSectors, "start=2048, type=c\n"));
    FormatPartition(image_, 2048, kSectors - 2048, 32, "-n BIG32");
  }

  void selectingPagingAndJumping() {
    GuiRig rig(Drives({image_}));
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const QStringList fat1 = {"Hard Disk 1", "32-Bit FAT Disk", "FAT 1"};
    QVERIFY(rig.Tree()->FindPath(fat1) != nullptr);

    // Structure mode: the whole first FAT copy, decoded on demand.
    QVERIFY(rig.Select(fat1));
    QCoreApplication::processEvents();
    QCOMPARE(rig.Pane().viewKind, ViewKind::Fat32Table);
    const int fatRows = rig.Rows();
    QVERIFY(fatRows > 30000);
    rig.List()->scrollToBottom();
    QCoreApplication::processEvents();

    // Raw mode: one sector a page, to the end of the volume.
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select({"Hard Disk 1"}));
    QVERIFY(rig.Select(fat1));
    QCoreApplication::processEvents();
    QCOMPARE(rig.Rows(), 32);
    const DrivePacket item = rig.Pane().shownPacket;
    QVERIFY(item.sectorCount > 8000000u);
    constexpr int kPages = 200;
    for (int i = 0; i < kPages; ++i) {
      rig.window.RunCommand(kCmdNext);
      QCoreApplication::processEvents();
    }
    QCOMPARE(rig.Pane().pageIndex, static_cast<uint32_t>(kPages));
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(item.startSector + kPages));
    // A jump to the last sector of the volume, then back a page.
    rig.dialogs.sectorAnswers = {QString::number(item.totalSectors - 1)};
    rig.window.RunCommand(kCmdGoToSector);
    QCoreApplication::processEvents();
    QVERIFY(!rig.Enabled(kCmdNext));
    rig.window.RunCommand(kCmdPrevious);
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(item.totalSectors - 2));
    QVERIFY(rig.Messages().isEmpty());
  }
};

QTEST_MAIN(LargeVolumeTest)
#include "large_volume_test.moc"

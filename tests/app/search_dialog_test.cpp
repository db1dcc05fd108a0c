// "Search Bytes" (dialog 149) over the sample disk: a hexadecimal search
// with a hit (the dump shows the sector, the row is selected), a string
// search without one, Stop, the close guard, and F3 in the main window.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <algorithm>
#include <memory>

#include "app/search_dialog.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"

namespace {

const QStringList kFat16Root = {"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"};
constexpr uint32_t kFat16Start = 2048;

QLineEdit* Box(SearchDialog& d, int id) { return qobject_cast<QLineEdit*>(d.Control(id)); }
bool On(SearchDialog& d, int id) { return d.Control(id)->isEnabled(); }

void Click(SearchDialog& d, int id) { qobject_cast<QAbstractButton*>(d.Control(id))->click(); }

}  // namespace

class SearchDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> dir_;
  std::string disk_, unknownDisk_;

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    disk_ = MakeSampleDisk(dir_->File("disk.img")).image;
    unknownDisk_ = dir_->File("unknown.img");
    QVERIFY(PartitionImage(unknownDisk_, 8192, "start=2048, size=4096, type=83\n"));
  }

  void hexSearchShowsTheHitAndStringSearchWithoutOne() {
    GuiRig rig(Drives({disk_}));
    QVERIFY(rig.started);
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select(kFat16Root));
    const DrivePacket node = rig.Pane().selectedPacket;
    // The first "Gleaner" of the volume from the root directory on.
    const std::vector<uint8_t> image = ReadFileBytes(disk_);
    const std::string word = "Gleaner";
    const auto from = image.begin() + (uint64_t{kFat16Start} + node.startSector) * 512;
    const auto at = std::search(from, image.begin() + (uint64_t{kFat16Start} + node.totalSectors) * 512,
                                word.begin(), word.end());
    const uint64_t byte = static_cast<uint64_t>(at - image.begin()) - uint64_t{kFat16Start} * 512;
    const auto sector = static_cast<uint32_t>(byte / 512);
    const int row = static_cast<int>(byte % 512 / 16);

    SearchDialog dialog(rig.state, *rig.List(), node, &rig.window);
    QCOMPARE(dialog.windowTitle(), QString("Search Bytes"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Opening: the sector on show, hexadecimal, the string box off, Stop off.
    QCOMPARE(Box(dialog, kSearchStartBox)->text(), QString::number(node.startSector));
    QVERIFY(qobject_cast<QRadioButton*>(dialog.Control(kSearchHexRadio))->isChecked());
    QVERIFY(!On(dialog, kSearchStringBox) && On(dialog, 1016) && !On(dialog, kSearchStopButton));
    for (int id : {1015, 1016, 1022, 1023, 1024, 1025, 1026, 1033, 1034, 1040, 1041, 1042, 1043, 3})
      QVERIFY2(dialog.Control(id) != nullptr && dialog.Control(id)->objectName() == QString::number(id),
               qPrintable(QString::number(id)));
    QCOMPARE(Box(dialog, 1026)->maxLength(), 9);
    QCOMPARE(Box(dialog, kSearchStringBox)->maxLength(), 89);
    QCOMPARE(qobject_cast<QPushButton*>(dialog.Control(kSearchButton))->text(), QString("&Search"));
    QCOMPARE(qobject_cast<QPushButton*>(dialog.Control(kSearchStopButton))->text(), QString("S&top"));
    QCOMPARE(qobject_cast<QPushButton*>(dialog.Control(kSearchCloseButton))->text(), QString("&Close"));
    QVERIFY(dialog.grab().save(QString::fromStdString(dir_->File("search.png"))));

    for (size_t k = 0; k < word.size(); ++k)
      Box(dialog, kSearchByteBoxes[k])->setText(QString::asprintf("%02x", word[k]));
    QSignalSpy ended(&dialog, &SearchDialog::SearchEnded);
    Click(dialog, kSearchButton);
    QVERIFY(dialog.Running() || ended.count() == 1);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
    QCOMPARE(rig.Messages(), QStringList({"Total sec: " + QString::number(node.totalSectors), "Search String Found!"}));
    QCOMPARE(dialog.LastResult().hit.sector, sector);
    // The dump shows the sector with the hit's row selected.
    QCOMPARE(rig.Pane().pageIndex, sector - node.startSector);
    QCOMPARE(rig.prompt.Status(1), "Current Sector Number: " + std::to_string(sector));
    const QModelIndexList selected = rig.List()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), qsizetype{1});
    QCOMPARE(selected[0].row(), row);
    QStringList bytes;
    for (int i = 0; i < 16; ++i)
      bytes << QString::asprintf("%02X", image[(uint64_t{kFat16Start} + sector) * 512 + uint64_t(row) * 16 + uint64_t(i)]);
    QCOMPARE(rig.RowBytes(row), bytes);
    QCOMPARE(rig.Row(row)[0], QString::asprintf("%08X", 16 * (row + 32 * (sector - node.startSector))));
    // Idle again: the start box kept its number.
    QVERIFY(On(dialog, kSearchButton) && On(dialog, kSearchCloseButton) && !On(dialog, kSearchStopButton));
    QVERIFY(On(dialog, 1026) && !On(dialog, kSearchStringBox));
    QCOMPARE(Box(dialog, kSearchStartBox)->text(), QString::number(node.startSector));
    QCOMPARE(qobject_cast<QProgressBar*>(dialog.Control(kSearchProgressBar))->value(), 0);

    // A string that is not there.
    rig.prompt.Clear();
    Click(dialog, kSearchStringRadio);
    QVERIFY(On(dialog, kSearchStringBox) && !On(dialog, 1026));
    Box(dialog, kSearchStringBox)->setText(QString::fromUtf8("nowhere on this café disk"));
    Click(dialog, kSearchButton);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 2, 60000);
    QCOMPARE(rig.Messages(), QStringList({"Total sec: " + QString::number(node.totalSectors), "Search String not found!"}));
    QVERIFY(qobject_cast<QLabel*>(dialog.Control(kSearchProgressText))->text().endsWith("% Completed"));
    QVERIFY(On(dialog, kSearchStringBox) && !On(dialog, 1026) && On(dialog, kSearchButton));
    // The pane still shows the hit.
    QCOMPARE(rig.Pane().pageIndex, sector - node.startSector);

    // Bad input: said, nothing started.
    rig.prompt.Clear();
    Box(dialog, kSearchStartBox)->setText(QString::number(node.startSector - 1));
    Click(dialog, kSearchButton);
    QVERIFY(!dialog.Running());
    QCOMPARE(rig.Messages().size(), qsizetype{2});
    QCOMPARE(rig.Messages()[1], QString::asprintf("Sector number cannot be greater than %u or less than %u",
                                                  node.totalSectors - 1, node.startSector));
    Click(dialog, kSearchCloseButton);
    QVERIFY(!dialog.isVisible());
  }

  void stopAndTheCloseGuard() {
    // A partition of unknown type has no upper bound: the search runs until
    // it is stopped.
    GuiRig rig(Drives({unknownDisk_}));
    QVERIFY(rig.started);
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select({"Hard Disk 1", "Unknown"}));
    const DrivePacket node = rig.Pane().selectedPacket;
    QCOMPARE(node.kind, NodeKind::Unknown);
    SearchDialog dialog(rig.state, *rig.List(), node, &rig.window);
    dialog.show();
    QSignalSpy ended(&dialog, &SearchDialog::SearchEnded);
    Box(dialog, 1026)->setText("5A");
    Box(dialog, 1027)->setText("A5");
    Click(dialog, kSearchButton);
    QVERIFY(dialog.Running());
    QTRY_VERIFY(!On(dialog, kSearchButton) && On(dialog, kSearchStopButton));
    QVERIFY(!On(dialog, kSearchCloseButton) && !On(dialog, 1026) && !On(dialog, kSearchStartBox) &&
            !On(dialog, kSearchHexRadio) && !On(dialog, kSearchStringRadio));
    Click(dialog, kSearchStopButton);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
    // The unbounded search runs on past the disk's end, whose sectors really
    // cannot be read; how many it met before Stop depends on the machine, so
    // the end message is compared without its count of them.
    const auto interrupted = [](QStringList messages) {
      const QString stopped = "Search Interrupted by user!";
      if (!messages.isEmpty() && messages.last().startsWith(stopped + "  ")) messages.last() = stopped;
      return messages;
    };
    QCOMPARE(interrupted(rig.Messages()), QStringList({"Total sec: 0", "Search Interrupted by user!"}));
    QVERIFY(On(dialog, kSearchButton) && !On(dialog, kSearchStopButton) && On(dialog, 1026));

    // A new search at once; the caption's X while it runs is refused, says
    // so and stops it; the dialog stays.
    rig.prompt.Clear();
    Click(dialog, kSearchButton);
    QVERIFY(dialog.Running());
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 2, 60000);
    QCOMPARE(interrupted(rig.Messages()), QStringList({"Total sec: 0", "Search in progress!  Press X again after it ends now!!",
                                          "Search Interrupted by user!"}));
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.close());
  }

  void f3OpensTheDialogOnlyInRawModeBelowThePartitionLevel() {
    GuiRig rig(Drives({disk_}));
    QVERIFY(rig.Enabled(kCmdSearch));
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    rig.window.activateWindow();
    QVERIFY(rig.Select(kFat16Root));
    QTest::keyClick(rig.Tree(), Qt::Key_F3);
    rig.window.RunCommand(kCmdRawDump);
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk"}));
    rig.window.RunCommand(kCmdSearch);
    QCOMPARE(rig.Messages(),
             QStringList({"You can only search in Raw Sector Dumping Mode!  Select it from Action menu!",
                          "You cannot search from this level!!  Try a child level!"}));
    QVERIFY(rig.dialogs.searchShown.empty());
    QVERIFY(rig.Select(kFat16Root));
    rig.window.RunCommand(kCmdSearch);
    QCOMPARE(rig.dialogs.searchShown.size(), size_t{1});
    QCOMPARE(rig.dialogs.searchShown[0].startSector, rig.Pane().selectedPacket.startSector);
  }
};

QTEST_MAIN(SearchDialogTest)
#include "search_dialog_test.moc"

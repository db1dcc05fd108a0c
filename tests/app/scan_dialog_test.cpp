// Scan Disk for Errors as a person uses it: the dialog over a real image, its
// worker's message boxes answered as they come up, Stop, the close guard,
// Automatically Fix Errors, and Ctrl+F6 in the main window.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/scan_dialog.h"
#include "app/command_ids.h"
#include "disk/fat_codec.h"
#include "disk/le.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"
#include "disk/volume_layout.h"
#include "scan/scan_layout.h"

namespace {

// Answers the message boxes that come up, as a person would: records each
// text and presses the button `choose` names (OK for a message).
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(std::function<QMessageBox::StandardButton(const QString&)> choose)
      : choose_(std::move(choose)) {
    Arm();
  }
  QStringList seen;

 private:
  // A fresh timer each time: a box opened from within an answer (a nested
  // loop) must still be seen, and Qt does not fire a timer inside its own slot.
  void Arm() {
    QTimer::singleShot(5, this, [this] {
      Arm();
      Poll();
    });
  }
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    seen << box->text();
    QAbstractButton* button = box->button(choose_(box->text()));
    if (button == nullptr) button = box->button(QMessageBox::Ok);
    if (button == nullptr) button = box->button(QMessageBox::No);  // never left hanging
    if (button != nullptr) button->click();
  }
  std::function<QMessageBox::StandardButton(const QString&)> choose_;
};

// A FAT16 partition whose file B joins file A's chain at A's second cluster.
struct CrossLinkedDisk {
  CrossLinkedDisk() {
    image = dir.File("disk.img");
    PartitionImage(image, 2048 + 20480, "start=2048, size=20480, type=6\n");
    FatVolume v = FormatPartition(image, 2048, 20480, 16, "-s 1");
    v.PutFile("::/A.TXT", std::string(3 * 512, 'a'));
    v.PutFile("::/B.TXT", std::string(3 * 512, 'b'));
    bytes = ReadFileBytes(image);
    layout = *DecodeVolume(std::span<const uint8_t>(bytes).subspan(2048 * 512, 512));
    const uint32_t a1 = 2, b1 = 5;  // mkfs.fat and mcopy place them first
    std::span<uint8_t> fat1 = Fat(0), fat2 = Fat(1);
    QVERIFY(SetFatEntry(b1, FatWidth::Fat16, fat1, GetFatEntry(a1, FatWidth::Fat16, fat1).value));
    QVERIFY(SetFatEntry(b1, FatWidth::Fat16, fat2, GetFatEntry(a1, FatWidth::Fat16, fat2).value));
    WriteFileBytes(image, bytes);
  }
  std::span<uint8_t> Fat(uint32_t copy) {
    return std::span<uint8_t>(bytes).subspan(
        (2048 + layout.reservedSectors + uint64_t{copy} * layout.sectorsPerFat) * 512,
        uint64_t{layout.sectorsPerFat} * 512);
  }
  // B's second cluster as FAT 1 on disk has it now.
  uint32_t BLink() {
    bytes = ReadFileBytes(image);
    return GetFatEntry(5, FatWidth::Fat16, Fat(0)).value;
  }
  TempDir dir;
  std::string image;
  std::vector<uint8_t> bytes;
  VolumeLayout layout;
};

struct DialogRig {
  explicit DialogRig(const std::string& disk) { bound = drives.BindAsProgram(Drives({disk})); }
  TestDrives drives{TestDrives::Library};  // its port stands for the main window's status panes
  DiskAccess& access = drives.access;
  bool bound = false;
};

const QString kCross = QStringLiteral("Cross Linked file detected.  Fix it?");
const QString kAltered = QStringLiteral("FAT had been altered!  Write changes to FATs?");

}  // namespace

class ScanDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void OpensWithItsControls();
  void ScanAsksThroughTheWorkersPort();
  void StopAndTheCloseGuard();
  void AutomaticallyFixErrors();
  void ControlF6OpensIt();
  void PhaseLineWordsEachPhase();
  void PreselectsTheVolumeOfTheSelectedNode();
  void StopInTheFreeClusterTest();
  void OneUndoTakesTheScanBack_data();
  void OneUndoTakesTheScanBack();
};

void ScanDialogTest::OneUndoTakesTheScanBack_data() {
  QTest::addColumn<bool>("direct");
  QTest::newRow("sector library") << false;
  QTest::newRow("direct") << true;
}

// The window's writes before a scan, the scan's and those after it go to
// undo files of their own: Undo Writes on the scan's file gives back the
// volume as the scan found it, byte for byte, and keeps the earlier write.
void ScanDialogTest::OneUndoTakesTheScanBack() {
  QFETCH(bool, direct);
  CrossLinkedDisk disk;
  const std::string undoDir = disk.dir.File("undo");
  DriveMapConfig config = Drives({disk.image}, {}, direct);
  config.undoDir = undoDir;
  config.undo = true;
  GuiRig rig(config);
  QVERIFY(rig.started);
  DiskAccess& access = rig.state.access;
  const std::vector<uint8_t> earlier(512, 0x5A);  // a sector of the gap before the partition
  QVERIFY(access.WriteAbsolute(0x80, 100, 1, earlier.data()));
  const std::vector<uint8_t> scanned = ReadFileBytes(disk.image);

  ScanDialog dialog(access);
  dialog.show();
  dialog.AutoFix()->setChecked(true);
  BoxAnswerer boxes([](const QString&) { return QMessageBox::Ok; });
  QSignalSpy ended(&dialog, &ScanDialog::ScanEnded);
  dialog.ScanButton()->click();
  QVERIFY(ended.wait(60000));
  QVERIFY(dialog.LastResult().fatWritten);
  QVERIFY(disk.BLink() != 3);
  const std::vector<uint8_t> later(512, 0xA5);
  QVERIFY(access.WriteAbsolute(0x80, 101, 1, later.data()));

  // Newest first: the write after the scan, the scan, the write before it.
  rig.dialogs.undoChoice = 1;
  rig.prompt.AnswerYes();
  rig.window.RunCommand(kCmdUndoWrites);
  QCOMPARE(rig.dialogs.undoOffers.size(), size_t{1});
  QCOMPARE(rig.dialogs.undoOffers[0].size(), size_t{3});
  QCOMPARE(rig.dialogs.undoOffers[0][0].sectors, uint64_t{1});
  QCOMPARE(rig.dialogs.undoOffers[0][2].sectors, uint64_t{1});
  std::vector<uint8_t> expected = scanned;
  std::copy(later.begin(), later.end(), expected.begin() + 101 * 512);
  QVERIFY(ReadFileBytes(disk.image) == expected);
}

// The thorough scan's last phase, the free-cluster test, stops on Stop: the
// dialog is waited on through its phase event, never by a clock.
void ScanDialogTest::StopInTheFreeClusterTest() {
  CrossLinkedDisk disk;
  DialogRig rig(disk.image);
  ScanDialog dialog(rig.access);
  dialog.show();
  dialog.Thorough()->setChecked(true);
  BoxAnswerer boxes([](const QString& text) {
    return text == kCross || text == kAltered ? QMessageBox::No : QMessageBox::Ok;
  });
  QString phaseLine;
  connect(&dialog, &ScanDialog::PhaseShown, &dialog, [&](int kind) {
    if (kind != static_cast<int>(ScanPhase::Kind::FreeCluster) || !phaseLine.isEmpty()) return;
    phaseLine = dialog.PhaseLine()->text();
    QVERIFY(dialog.StopButton()->isEnabled());
    dialog.StopButton()->click();
  });
  QSignalSpy ended(&dialog, &ScanDialog::ScanEnded);
  dialog.ScanButton()->click();
  QVERIFY(ended.wait(60000));
  QVERIFY2(phaseLine.startsWith("Scanning Free Cluster "), qPrintable(phaseLine));
  QVERIFY(dialog.LastResult().stopped);
  QVERIFY(!boxes.seen.isEmpty());
  QCOMPARE(boxes.seen.back(), QString::fromStdString(ScanSummary(dialog.LastResult())));
  QVERIFY(boxes.seen.back().startsWith("Scan stopped before its end: "));
  // Idle again: Scan and Close on, Stop off.
  QVERIFY(dialog.ScanButton()->isEnabled() && dialog.CloseButton()->isEnabled());
  QVERIFY(!dialog.StopButton()->isEnabled());
}

// The volume list opens on the volume of the node selected in the tree; a
// drive keeps the first entry.
void ScanDialogTest::PreselectsTheVolumeOfTheSelectedNode() {
  TempDir dir;
  MakeFloppy1440(dir.File("a.img"));
  CrossLinkedDisk disk;
  GuiRig rig(Drives({disk.image}, {dir.File("a.img")}));
  QVERIFY(rig.started);
  const struct {
    QStringList node;
    int chosen;  // 0 Floppy Disk 1, 1 the hard disk's FAT16 partition
  } cases[] = {
      {{"Hard Disk 1"}, 0},
      {{"Hard Disk 1", "16-Bit FAT Disk"}, 1},
      {{"Hard Disk 1", "16-Bit FAT Disk", "FAT 2"}, 1},
      {{"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"}, 1},
      {{"Hard Disk 1", "16-Bit FAT Disk", "Root Directory", "B       .TXT"}, 1},
      {{"Floppy Disk 1", "Root Directory"}, 0},
  };
  for (const auto& c : cases) {
    QVERIFY2(rig.Select(c.node), qPrintable(c.node.join("/")));
    ScanDialog dialog(rig.state.access, nullptr, rig.Tree()->SelectedPacket());
    QCOMPARE(dialog.DriveList()->count(), 2);
    QVERIFY2(dialog.DriveList()->currentIndex() == c.chosen, qPrintable(c.node.join("/")));
  }
  // The window hands the dialog its selected node.
  QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "Root Directory"}));
  rig.window.RunCommand(kCmdScan);
  QCOMPARE(rig.dialogs.scanKinds, std::vector<int>({static_cast<int>(NodeKind::RootDir)}));
}

// The window's words for what the scan tells it is doing.
void ScanDialogTest::PhaseLineWordsEachPhase() {
  using K = ScanPhase::Kind;
  const struct {
    ScanPhase phase;
    const char* text;
  } cases[] = {
      {{K::None, 0, 0}, ""},
      {{K::Fat, 0, 0}, "File Allocation Table"},
      {{K::FatSector, 7, 0}, "File Allocation Table, Sector 7"},
      {{K::FileCluster, 4294967295u, 0}, "Scanning File/Folder Cluster 4294967295"},
      {{K::FreeCluster, 9, 100}, "Scanning Free Cluster 9 of 100 Total"},
  };
  for (const auto& c : cases) QCOMPARE(ScanPhaseText(c.phase), std::string(c.text));
}

void ScanDialogTest::OpensWithItsControls() {
  TempDir dir;
  FatVolume floppy = MakeFloppy1440(dir.File("a.img"));
  CrossLinkedDisk disk;
  TestDrives drives(TestDrives::Library);
  QVERIFY(drives.BindAsProgram(Drives({disk.image}, {floppy.image})));
  ScanDialog dialog(drives.access);
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Scan Disk for Errors"));
  QCOMPARE(dialog.DriveList()->count(), 2);
  QCOMPARE(dialog.DriveList()->itemText(0), QStringLiteral("Floppy Disk 1"));
  QCOMPARE(dialog.DriveList()->itemText(1),
           QStringLiteral("Hard Disk 1 - 16-Bit FAT Disk - Primary Partition"));
  QCOMPARE(dialog.DriveList()->currentIndex(), 0);
  QVERIFY(dialog.Standard()->isChecked());
  QCOMPARE(dialog.Standard()->text(), QStringLiteral("&Standard     (Scan only Files && Folders)"));
  QCOMPARE(dialog.Thorough()->text(), QStringLiteral("Thorough    (Scan Entire disk)"));
  QCOMPARE(dialog.AutoFix()->text(), QStringLiteral("Automatically Fix Errors"));
  QVERIFY(!dialog.AutoFix()->isChecked());
  QCOMPARE(dialog.PhaseLine()->text(), QStringLiteral("Scanning:"));
  QCOMPARE(dialog.EntryLine()->text(), QString());
  QCOMPARE(dialog.ScanButton()->text(), QStringLiteral("&Scan"));
  QVERIFY(dialog.ScanButton()->isDefault());
  QCOMPARE(dialog.StopButton()->text(), QStringLiteral("S&top"));
  QVERIFY(!dialog.StopButton()->isEnabled());
  QCOMPARE(dialog.CloseButton()->text(), QStringLiteral("&Close"));

  // The floppy scans clean: one message, and the dialog is idle again.
  BoxAnswerer boxes([](const QString&) { return QMessageBox::Ok; });
  QSignalSpy ended(&dialog, &ScanDialog::ScanEnded);
  dialog.show();
  dialog.ScanButton()->click();
  QVERIFY(ended.wait(60000));
  // Then the summary every scan ends with, with the information icon.
  QCOMPARE(boxes.seen, QStringList({"0 Lost Clusters found!!",
                                    "Scan complete: 0 problems found, 0 repaired, 0 left.\n"
                                    "Lost clusters: 0 (left allocated).  Cross-linked files: 0.  Bad clusters: 0."}));
  QCOMPARE(dialog.LastResult().ExitCode(), 0);
  QVERIFY(dialog.ScanButton()->isEnabled() && dialog.CloseButton()->isEnabled());
  QVERIFY(!dialog.StopButton()->isEnabled());
  QCOMPARE(dialog.Progress()->value(), 100);

  // With no volume listed, Scan does nothing.
  ScriptedPrompt quiet;
  DiskAccess none(quiet);
  ScanDialog empty(none);
  QCOMPARE(empty.DriveList()->count(), 0);
  empty.ScanButton()->click();
  QVERIFY(!empty.Running());
  QVERIFY(empty.StopButton()->isEnabled() == false);
}

void ScanDialogTest::ScanAsksThroughTheWorkersPort() {
  CrossLinkedDisk disk;
  DialogRig rig(disk.image);
  QVERIFY(rig.bound);
  ScanDialog dialog(rig.access);
  dialog.show();
  bool idleWhileAsked = true;
  BoxAnswerer boxes([&](const QString& text) {
    // While the worker waits, only Stop can be pressed (the summary comes
    // once it has ended).
    if (!text.startsWith("Scan complete"))
      idleWhileAsked = idleWhileAsked && !dialog.ScanButton()->isEnabled() &&
                     !dialog.CloseButton()->isEnabled() && !dialog.DriveList()->isEnabled() &&
                     dialog.StopButton()->isEnabled() && dialog.Running();
    return text == kCross || text == kAltered ? QMessageBox::Yes : QMessageBox::Ok;
  });
  QSignalSpy ended(&dialog, &ScanDialog::ScanEnded);
  dialog.ScanButton()->click();
  QVERIFY(ended.wait(60000));
  // The lost chain's question is answered No (Ok is no Yes): it stays lost.
  QCOMPARE(boxes.seen,
           QStringList({kCross, "1 lost chains found.  Save them as files in FOUND.000?",
                        "2 Lost Clusters found!!", kAltered,
                        "Scan complete: 2 problems found, 1 repaired, 1 left.\n"
                        "Lost clusters: 2 (left allocated).  Cross-linked files: 1.  Bad clusters: 0.\n"
                        "Lost chains: 1.  Saved as .CHK files: 0.  Freed: 0."}));
  QVERIFY(idleWhileAsked);
  QVERIFY(disk.BLink() != 3);  // B has its own copy of A's tail now
  QVERIFY(dialog.LastResult().fatWritten);
  QVERIFY(dialog.ScanButton()->isEnabled());
  QCOMPARE(dialog.PhaseLine()->text(), QString());

  // A scan can run again in the same dialog, from the disk as it now is.
  ended.clear();
  dialog.ScanButton()->click();
  QVERIFY(ended.wait(60000));
  QCOMPARE(boxes.seen.mid(5),
           QStringList({"1 lost chains found.  Save them as files in FOUND.000?",
                        "2 Lost Clusters found!!",
                        QString::fromStdString(ScanSummary(dialog.LastResult()))}));
}

void ScanDialogTest::StopAndTheCloseGuard() {
  CrossLinkedDisk disk;
  DialogRig rig(disk.image);
  {  // the first answerer must be gone before the second dialog asks
    ScanDialog dialog(rig.access);
    dialog.show();
    bool stayedOpen = false;
    BoxAnswerer boxes([&](const QString& text) {
      if (text == kCross) {
        // The caption's X while the worker waits: refused with the message,
        // and the stop flag is set.
        dialog.reject();
        stayedOpen = dialog.isVisible();
        return QMessageBox::Yes;
      }
      return QMessageBox::Ok;
    });
    QSignalSpy ended(&dialog, &ScanDialog::ScanEnded);
    dialog.ScanButton()->click();
    QVERIFY(ended.wait(60000));
    QCOMPARE(boxes.seen,
             QStringList({kCross, "Cannot close now!  Thread in progress.  Press X again after "
                                  "thread stops now!",
                          QString::fromStdString(ScanSummary(dialog.LastResult()))}));
    QVERIFY(boxes.seen.back().startsWith("Scan stopped before its end: "));
    QVERIFY(stayedOpen);
    QVERIFY(dialog.LastResult().stopped);
    QCOMPARE(disk.BLink(), 3u);  // stopped before the write-back: the FAT is as it was
    // Idle again: X closes it.
    QVERIFY(dialog.isVisible());
    dialog.reject();
    QVERIFY(!dialog.isVisible());
  }

  // Stop pressed while the question is open ends the scan the same way.
  ScanDialog again(rig.access);
  again.show();
  BoxAnswerer stopper([&](const QString& text) {
    if (text == kCross) again.StopButton()->click();
    return text == kCross ? QMessageBox::Yes : QMessageBox::Ok;
  });
  QSignalSpy againEnded(&again, &ScanDialog::ScanEnded);
  again.ScanButton()->click();
  QVERIFY(againEnded.wait(60000));
  QCOMPARE(stopper.seen, QStringList({kCross, QString::fromStdString(ScanSummary(again.LastResult()))}));
  QVERIFY(stopper.seen.back().startsWith("Scan stopped before its end: "));
  QVERIFY(again.LastResult().stopped);
  QCOMPARE(disk.BLink(), 3u);
}

void ScanDialogTest::AutomaticallyFixErrors() {
  CrossLinkedDisk disk;
  DialogRig rig(disk.image);
  ScanDialog dialog(rig.access);
  dialog.show();
  dialog.AutoFix()->setChecked(true);
  dialog.Thorough()->setChecked(true);
  BoxAnswerer boxes([](const QString&) { return QMessageBox::Ok; });
  QSignalSpy ended(&dialog, &ScanDialog::ScanEnded);
  dialog.ScanButton()->click();
  QVERIFY(ended.wait(60000));
  // No question came up; the repair ran as on a Yes.
  QCOMPARE(boxes.seen, QStringList({"2 Lost Clusters found!!", QString::fromStdString(ScanSummary(dialog.LastResult()))}));
  // The lost chain is kept as a file too.
  QVERIFY(boxes.seen.back().startsWith("Scan complete: 2 problems found, 2 repaired, 0 left."));
  QVERIFY(disk.BLink() != 3);
  QVERIFY(dialog.LastResult().fatWritten);
}

void ScanDialogTest::ControlF6OpensIt() {
  CrossLinkedDisk disk;
  GuiRig rig(Drives({disk.image}));
  MainWindow& window = rig.window;
  window.show();
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QVERIFY(window.CommandEnabled(kCmdScan));
  window.RunCommand(kCmdScan);
  QCOMPARE(rig.dialogs.scansShown, 1);
  QTest::keyClick(&window, Qt::Key_F6, Qt::ControlModifier);
  QCOMPARE(rig.dialogs.scansShown, 2);
  // The Operations menu carries it too.
  QAction* action = window.Action(kCmdScan);
  QVERIFY(action != nullptr);
  QCOMPARE(action->statusTip(), QStringLiteral("Scan Disks for errors and fix them"));
  action->trigger();
  QCOMPARE(rig.dialogs.scansShown, 3);
}

QTEST_MAIN(ScanDialogTest)
#include "scan_dialog_test.moc"

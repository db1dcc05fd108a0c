// Find Deleted Files and Copy Out To Folder from the window: the dialog finds
// the deleted files of a read-only volume on its worker, its table sorts and
// colours them, and the selected ones are copied out into a temporary folder
// byte for byte, with the image left as it was. After a quick format it lists
// the lost folders' files and, when asked, carved ones, copies them as
// gleaner-cli rescue lays them out, and Stop ends its search.
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/command_ids.h"
#include "app/find_deleted_dialog.h"
#include "fixtures/deleted_scene.h"
#include "fixtures/forwarding_device.h"
#include "fixtures/rescue_scene.h"
#include "gui_rig.h"
#include "recovery/lost_folders.h"

namespace {

// The drive's device, whose reads wait while hold is set: a search held in its
// first read is certain to meet Stop.
class HeldDevice final : public ForwardingDevice {
 public:
  using ForwardingDevice::ForwardingDevice;
  int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) override {
    while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ForwardingDevice::ReadAt(offset, buffer, len);
  }
  std::atomic<bool> hold{false};
};

// A card filled and then quick-formatted: two folders and a PNG in its root,
// gone with the root; a file written and deleted after the format.
struct FormattedCard {
  FatVolume volume;
  uint32_t dcim = 0, documents = 0, png = 0;
  std::vector<uint8_t> letter = SceneBytes(5000, 7);
  std::vector<uint8_t> note = SceneBytes(900, 3);
  bool made = false;
};

FormattedCard MakeFormattedCard(const std::string& path) {
  FormattedCard c{MakeFatImage(path, 16, 40960, "-s 4")};
  const FatVolume& v = c.volume;
  // Its cluster is the one the file written after the format takes.
  bool ok = v.PutFile("::/FIRST.TXT", SceneBytes(300, 1)) && v.MakeDir("::/DCIM") &&
            v.MakeDir("::/DCIM/100CAMERA") && v.MakeDir("::/Documents") &&
            v.Copy(CarveSamples() + "/photo.jpg", "::/DCIM/100CAMERA/Holiday photo.jpg") &&
            v.PutFile("::/Documents/A long letter name.txt", c.letter) &&
            v.Copy(CarveSamples() + "/picture.png", "::/picture.png");
  c.dcim = v.FirstCluster("::/DCIM");
  c.documents = v.FirstCluster("::/Documents");
  c.png = v.FirstCluster("::/picture.png");
  ok = ok && v.QuickFormat(16, "-s 4") && v.PutFile("::/NOTE.TXT", c.note) && v.Delete("::/NOTE.TXT");
  c.made = ok;
  return c;
}

void WaitForWorker(const FindDeletedDialog& dialog) {
  while (dialog.Running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

QStringList Column(const QTableView* table, int column) {
  QStringList texts;
  for (int r = 0; r < table->model()->rowCount(); ++r)
    texts << table->model()->index(r, column).data().toString();
  return texts;
}

int RowWithPath(const QTableView* table, const QString& path) {
  const QStringList paths = Column(table, FindDeletedDialog::PathColumn);
  return static_cast<int>(paths.indexOf(path));
}

}  // namespace

class FindDeletedTest : public QObject {
  Q_OBJECT

 private slots:
  void findSelectAndCopyOut() {
    TempDir dir;
    const DeletedScene s = MakeDeletedScene(dir.File("disk.img"), 16);
    const std::vector<uint8_t> before = ReadFileBytes(s.volume.image);
    DriveMapConfig config = Drives({s.volume.image});
    config.readOnly = true;
    GuiRig rig(config);
    QVERIFY(rig.started);
    QVERIFY(!rig.Enabled(kCmdFindDeleted));  // nothing selected yet
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk", "FAT 1"}));
    QVERIFY(rig.Enabled(kCmdFindDeleted));

    TempDir out;
    QString status;
    QStringList report;
    rig.dialogs.findDeleted = [&](QWidget* parent, DiskAccess& access, const DrivePacket& root) {
      FindDeletedDialog dialog(access, root, [&](QWidget*) { return QString::fromStdString(out.Path()); },
                               parent);
      QCOMPARE(dialog.windowTitle(), QString("Find Deleted Files"));
      dialog.show();  // the search starts when the dialog first shows
      QVERIFY(dialog.Running());
      QVERIFY(dialog.StopButton()->isEnabled());
      QVERIFY(!dialog.FindButton()->isEnabled());
      WaitForWorker(dialog);
      QVERIFY(!dialog.StopButton()->isEnabled());
      QVERIFY(!dialog.CopyButton()->isEnabled());  // nothing selected

      QTableView* table = dialog.Table();
      QCOMPARE(Column(table, FindDeletedDialog::PathColumn),
               QStringList({"/Fragmented File.bin", "/Old Letter.txt", "/Annual Report 2023.bin",
                            "/_ocs/", "/keep/_AP.BIN", "/_ocs/Quarterly Numbers.dat",
                            "/_ocs/_otes.txt"}));
      QCOMPARE(Column(table, FindDeletedDialog::StateColumn),
               QStringList({"partly overwritten (1 cluster)", "partly overwritten (1 cluster)",
                            "intact", "intact", "intact", "intact", "intact"}));
      QCOMPARE(dialog.StatusLabel()->text(),
               QString("7 deleted files and folders found in 4 folders; 0 files in lost folders"));
      const QModelIndex intact = table->model()->index(2, FindDeletedDialog::StateColumn);
      const QModelIndex partly = table->model()->index(0, FindDeletedDialog::StateColumn);
      QCOMPARE(intact.data(Qt::ForegroundRole).value<QColor>(), QColor(0, 128, 0));
      QCOMPARE(partly.data(Qt::ForegroundRole).value<QColor>(), QColor(176, 96, 0));

      // Sizes sort as numbers: 0 (the folder), 512 (one cluster and a byte
      // is 513) ... not as texts.
      table->horizontalHeader()->setSortIndicator(FindDeletedDialog::SizeColumn, Qt::AscendingOrder);
      QCOMPARE(Column(table, FindDeletedDialog::SizeColumn),
               QStringList({"0", "513", "1024", "1024", "1024", "1529", "1948"}));

      // The deleted folder, a file inside it (which comes with the folder)
      // and an intact file.
      for (const QString& path : {QString("/_ocs/"), QString("/_ocs/_otes.txt"),
                                  QString("/Annual Report 2023.bin")}) {
        const int row = RowWithPath(table, path);
        QVERIFY2(row >= 0, qPrintable(path));
        table->selectionModel()->select(table->model()->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
      QVERIFY(dialog.CopyButton()->isEnabled());
      QTest::mouseClick(dialog.CopyButton(), Qt::LeftButton);
      WaitForWorker(dialog);
      status = dialog.StatusLabel()->text();
      report << dialog.Report()->toPlainText();
      dialog.grab().save(QString::fromStdString(dir.File("find-deleted.png")));
      dialog.close();
    };
    rig.window.RunCommand(kCmdFindDeleted);
    QCOMPARE(rig.dialogs.findDeletedRoots.size(), size_t{1});
    QCOMPARE(rig.dialogs.findDeletedRoots[0].kind, NodeKind::RootDir);

    QCOMPARE(status, QString::fromStdString("3 files copied whole, 0 in part, 0 not copied; 1 folders made in " + out.Path()));
    QCOMPARE(report, QStringList({""}));
    QVERIFY(ReadFileBytes(out.File("Annual Report 2023.bin")) == s.original.at("Annual Report 2023.bin"));
    QVERIFY(ReadFileBytes(out.File("_ocs/Quarterly Numbers.dat")) ==
            s.original.at("docs/Quarterly Numbers.dat"));
    QVERIFY(ReadFileBytes(out.File("_ocs/_otes.txt")) == s.original.at("docs/notes.txt"));
    QVERIFY(!QFile::exists(QString::fromStdString(out.File("_otes.txt"))));
    QVERIFY(ReadFileBytes(s.volume.image) == before);
    QVERIFY(rig.Messages().isEmpty());
  }

  void copyOutFromTheListMenu() {
    TempDir dir;
    const DeletedScene s = MakeDeletedScene(dir.File("disk.img"), 32);
    const std::vector<uint8_t> before = ReadFileBytes(s.volume.image);
    DriveMapConfig config = Drives({s.volume.image});
    config.readOnly = true;
    GuiRig rig(config);
    QVERIFY(rig.Select({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"}));
    QVERIFY(!rig.Enabled(kCmdCopyOut));  // no row selected
    // The deleted fragmented file and the live folder keep.
    std::vector<int> rows;
    for (int r = 0; r < rig.Rows(); ++r) {
      const QStringList texts = rig.Row(r);
      if (texts[1] == "Fragmented File.bin" || texts[0] == "KEEP    .   ") rig.List()->selectionModel()->select(
              rig.List()->model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QCOMPARE(rig.Pane().selectedRows.size(), size_t{2});
    QVERIFY(rig.Enabled(kCmdCopyOut));

    TempDir out;
    rig.dialogs.folderAnswer.clear();  // Cancel: nothing copied
    rig.window.RunCommand(kCmdCopyOut);
    QCOMPARE(rig.dialogs.folderAsked, 1);
    QVERIFY(rig.Messages().isEmpty());

    rig.dialogs.folderAnswer = QString::fromStdString(out.Path());
    rig.dialogs.menuChoice = QString::fromUtf8("Copy &Out To Folder\u2026");
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20),
                            rig.List()->viewport()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(rig.List()->viewport(), &event);
    QCOMPARE(rig.dialogs.folderAsked, 2);
    const std::string fragment = out.File("Fragmented File.bin");
    QCOMPARE(rig.Messages(),
             QStringList({QString::fromStdString(
                 "3 files copied whole, 1 in part, 0 not copied; 1 folders made in " + out.Path() + "\n" + fragment +
                 ": copied 1024 of " +
                 std::to_string(s.original.at("Fragmented File.bin").size()) + " bytes (cluster 8 is in use)\n" +
                 out.File("Fragmented File (around live clusters).bin") + ": " + kReadAroundToo)}));
    QVERIFY(ReadFileBytes(out.File("Fragmented File (around live clusters).bin")) ==
            s.original.at("Fragmented File.bin"));
    QVERIFY(ReadFileBytes(out.File("keep/A.BIN")) == s.original.at("keep/A.BIN"));
    QVERIFY(ReadFileBytes(out.File("keep/C.BIN")) == s.original.at("keep/C.BIN"));
    QVERIFY(ReadFileBytes(s.volume.image) == before);
  }

  // Rows of every kind, with carving asked for or not; all of them copied out.
  void lostFoldersAndCarvedFiles_data() {
    QTest::addColumn<bool>("carve");
    QTest::newRow("without carving") << false;
    QTest::newRow("carving") << true;
  }
  void lostFoldersAndCarvedFiles() {
    QFETCH(bool, carve);
    TempDir dir;
    const FormattedCard card = MakeFormattedCard(dir.File("card.img"));
    QVERIFY(card.made);
    const std::vector<uint8_t> before = ReadFileBytes(card.volume.image);
    GuiRig rig(Drives({card.volume.image}));
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk"}));
    const std::string dcim = std::string(kLostFoldersLabel) + "/" + LostFolderFallbackName(card.dcim);
    const std::string docs = std::string(kLostFoldersLabel) + "/" + LostFolderFallbackName(card.documents);
    CarvedFile carvedPng;
    carvedPng.firstCluster = card.png;
    carvedPng.extension = "png";
    const QString png = QString::fromStdString(std::string(kCarvedLabel) + "/" + CarvedFileName(carvedPng));
    TempDir out;
    QString status;
    rig.dialogs.findDeleted = [&](QWidget* parent, DiskAccess& access, const DrivePacket& root) {
      FindDeletedDialog dialog(access, root, [&](QWidget*) { return QString::fromStdString(out.Path()); },
                               parent);
      dialog.CarveBox()->setChecked(carve);
      dialog.show();
      WaitForWorker(dialog);
      QTableView* table = dialog.Table();
      QStringList paths = {"/_OTE.TXT", QString::fromStdString(docs + "/A long letter name.txt"),
                           QString::fromStdString(dcim + "/100CAMERA/Holiday photo.jpg")};
      QStringList found = {"deleted", "lost folder", "lost folder"};
      if (carve) {
        paths << png;
        found << "carved";
      }
      QCOMPARE(Column(table, FindDeletedDialog::PathColumn), paths);
      QCOMPARE(Column(table, FindDeletedDialog::FoundColumn), found);
      QCOMPARE(Column(table, FindDeletedDialog::StateColumn),
               QStringList({"intact", "intact", "intact", "end found"}).mid(0, paths.size()));
      QCOMPARE(dialog.StatusLabel()->text(),
               QString("1 deleted files and folders found in 1 folders; 2 files in lost folders") +
                   (carve ? ", 1 carved" : ""));
      table->selectAll();
      QTest::mouseClick(dialog.CopyButton(), Qt::LeftButton);
      WaitForWorker(dialog);
      status = dialog.StatusLabel()->text();
      QCOMPARE(dialog.Report()->toPlainText(), QString());
      dialog.grab().save(QString::fromStdString(dir.File("rescue-rows.png")));
      dialog.close();
    };
    rig.window.RunCommand(kCmdFindDeleted);

    QCOMPARE(status, QString::fromStdString(
                         "1 files copied whole, 0 in part, 0 not copied; 0 folders made in " + out.Path() + "\n" +
                         std::to_string(carve ? 3 : 2) + " files rescued to " + out.Path() +
                         ": 0 deleted, 2 from lost folders, " + (carve ? "1" : "0") +
                         " carved; 0 unreadable sectors"));
    QVERIFY(ReadFileBytes(out.File("_OTE.TXT")) == card.note);
    QVERIFY(ReadFileBytes(out.File(dcim + "/100CAMERA/Holiday photo.jpg")) ==
            ReadFileBytes(CarveSamples() + "/photo.jpg"));
    QVERIFY(ReadFileBytes(out.File(docs + "/A long letter name.txt")) == card.letter);
    QCOMPARE(QFile::exists(QString::fromStdString(out.File(png.toStdString()))), carve);
    if (carve) QVERIFY(ReadFileBytes(out.File(png.toStdString())) == ReadFileBytes(CarveSamples() + "/picture.png"));
    QVERIFY(ReadFileBytes(card.volume.image) == before);
    QVERIFY(rig.Messages().isEmpty());
  }

  // Stop met while the search reads: it ends with what it had, and Find is
  // offered again.
  void stopEndsTheSearch() {
    TempDir dir;
    const FormattedCard card = MakeFormattedCard(dir.File("card.img"));
    QVERIFY(card.made);
    GuiRig rig(Drives({card.volume.image}, {}, true));
    QVERIFY(rig.Select({"Hard Disk 1", "16-Bit FAT Disk"}));
    auto inner = std::make_unique<FileDevice>(card.volume.image, true);
    QVERIFY(inner->Open());
    auto device = std::make_unique<HeldDevice>(std::move(inner));
    HeldDevice* held = device.get();
    rig.state.access.Devices().Add(0x80, std::move(device));
    rig.dialogs.findDeleted = [&](QWidget* parent, DiskAccess& access, const DrivePacket& root) {
      FindDeletedDialog dialog(access, root, {}, parent);
      dialog.CarveBox()->setChecked(true);
      held->hold = true;
      dialog.show();
      QVERIFY(dialog.Running());
      QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
      held->hold = false;
      WaitForWorker(dialog);
      QVERIFY(dialog.StatusLabel()->text().endsWith(" (stopped)"));
      QVERIFY(dialog.Rescued().empty());
      QVERIFY(dialog.FindButton()->isEnabled() && !dialog.StopButton()->isEnabled());
      dialog.close();
    };
    rig.window.RunCommand(kCmdFindDeleted);
  }
};

QTEST_MAIN(FindDeletedTest)
#include "find_deleted_test.moc"

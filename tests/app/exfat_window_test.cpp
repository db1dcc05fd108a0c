// The window on an exFAT card (written through exfat-fuse): every node's view
// opens, Find Deleted Files lists the deleted entry sets judged against the
// bitmap and copies the chosen ones out, Copy Out copies rows of a folder's
// listing, and Undelete brings a deleted file back in place, fsck.exfat
// finding nothing wrong. Only Undelete writes, and only to a private copy.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <set>

#include "app/command_ids.h"
#include "app/find_deleted_dialog.h"
#include "fixtures/exfat_image.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"
#include "recovery/undelete.h"

namespace {

const QStringList kExfatRoot = {"Hard Disk 1", "exFAT Disk", "Root Directory"};

QStringList Column(const QTableView* table, int column) {
  QStringList texts;
  for (int r = 0; r < table->model()->rowCount(); ++r) texts << table->model()->index(r, column).data().toString();
  return texts;
}

// Selects the listing's rows whose name cell (the fourth) is one of names.
int SelectNamed(GuiRig& rig, const std::set<QString>& names) {
  int selected = 0;
  for (int r = 0; r < rig.Rows(); ++r)
    if (names.count(rig.Row(r).value(3)) != 0) {
      rig.List()->selectionModel()->select(rig.List()->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
      ++selected;
    }
  return selected;
}

// Every node below item, expanded (their children are made then).
void Walk(QTreeWidgetItem* item, QStringList path, std::vector<QStringList>& out) {
  path << item->text(0);
  out.push_back(path);
  item->setExpanded(true);
  for (int i = 0; i < item->childCount(); ++i) Walk(item->child(i), path, out);
}

void Shoot(QWidget& widget, const char* name) {
  std::filesystem::create_directories("/work/shots");
  widget.grab().save(QString("/work/shots/exfat-%1.png").arg(name));
}

}  // namespace

class ExfatWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void actions_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("every node's view") << "views";
    QTest::newRow("find deleted and copy") << "find";
    QTest::newRow("copy out of a listing") << "copy";
    QTest::newRow("undelete in place") << "undelete";
  }

  void actions() {
    QFETCH(QString, action);
    if (const std::string why = ExfatMountSkipReason(); !why.empty()) QSKIP(why.c_str());
    const ExfatScene* scene = SharedExfatScene(ExfatLayout::MbrPartition);
    QVERIFY(scene != nullptr);
    TempDir dir;
    const bool writes = action == "undelete";
    ExfatImage card = scene->image;
    if (writes) card.image = CopyImage(scene->image.image, dir.File("card.img"));
    const std::vector<uint8_t> before = ReadFileBytes(card.image);
    DriveMapConfig config = Drives({card.image});
    config.readOnly = !writes;
    config.undo = writes;
    config.undoDir = dir.File("undo");
    GuiRig rig(config);
    QVERIFY(rig.started);
    TempDir out;

    if (action == "views") {
      QVERIFY(rig.Select({"Hard Disk 1", "exFAT Disk"}));
      std::vector<QStringList> nodes;
      Walk(rig.Tree()->FindPath({"Hard Disk 1", "exFAT Disk"}), {"Hard Disk 1"}, nodes);
      QVERIFY(nodes.size() > 20);
      for (const QStringList& path : nodes) {
        QVERIFY2(rig.Select(path), qPrintable(path.join('/')));
        const DrivePacket* node = rig.Tree()->SelectedPacket();
        const bool empty = node->kind == NodeKind::ExfatFile && node->dataLength == 0;  // nothing to dump
        QVERIFY2(empty || rig.Rows() > 0, qPrintable(path.join('/')));
        if (path == kExfatRoot) Shoot(rig.window, "root-directory");
        if (path.last() == "Allocation Bitmap") Shoot(rig.window, "bitmap");
        if (path.last() == "Boot Region") Shoot(rig.window, "boot-region");
      }
      QVERIFY2(rig.Messages().isEmpty(), qPrintable(rig.Messages().join('\n')));
    } else if (action == "find") {
      QVERIFY(rig.Select({"Hard Disk 1", "exFAT Disk", "Allocation Bitmap"}));
      QVERIFY(rig.Enabled(kCmdFindDeleted));
      QString status;
      rig.dialogs.findDeleted = [&](QWidget* parent, DiskAccess& access, const DrivePacket& root) {
        FindDeletedDialog dialog(access, root, [&](QWidget*) { return QString::fromStdString(out.Path()); },
                                 parent);
        dialog.show();
        while (dialog.Running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QTableView* table = dialog.Table();
        const QStringList paths = Column(table, FindDeletedDialog::PathColumn);
        const QStringList states = Column(table, FindDeletedDialog::StateColumn);
        for (const char* path : {"/gone.txt", "/Old/", "/Old/o1.txt", "/Old/Inner/", "/Old/Inner/o2.bin"}) {
          const auto row = paths.indexOf(path);
          QVERIFY2(row >= 0, qPrintable(path));
          QCOMPARE(states[row], QString("intact"));
        }
        QCOMPARE(states[paths.indexOf("/spacer1")], QString("partly overwritten (1 cluster)"));
        QCOMPARE(dialog.StatusLabel()->text(), QString("%1 deleted files and folders found").arg(paths.size()));
        QVERIFY(!dialog.CarveBox()->isEnabled());
        // The folder, a file inside it (which comes with the folder) and a file.
        for (const char* path : {"/Old/", "/Old/o1.txt", "/gone.txt"})
          table->selectionModel()->select(table->model()->index(static_cast<int>(paths.indexOf(path)), 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        Shoot(dialog, "find-deleted");
        QTest::mouseClick(dialog.CopyButton(), Qt::LeftButton);
        while (dialog.Running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        status = dialog.StatusLabel()->text();
        QCOMPARE(dialog.Report()->toPlainText(), QString());
        Shoot(dialog, "find-deleted-copied");
      };
      rig.window.RunCommand(kCmdFindDeleted);
      QCOMPARE(rig.dialogs.findDeletedRoots.size(), size_t{1});
      QCOMPARE(rig.dialogs.findDeletedRoots[0].kind, NodeKind::ExfatDir);
      QCOMPARE(status, QString::fromStdString("3 files copied whole, 0 in part, 0 not copied; 2 folders made in " +
                                              out.Path()));
      QVERIFY(ReadFileBytes(out.File("gone.txt")) == ExfatPattern(700, 30));
      QVERIFY(ReadFileBytes(out.File("Old/o1.txt")) == ExfatPattern(50, 31));
      QVERIFY(ReadFileBytes(out.File("Old/Inner/o2.bin")) == ExfatPattern(9000, 32));
    } else if (action == "copy") {
      QVERIFY(rig.Select(kExfatRoot));
      QVERIFY(!rig.Enabled(kCmdCopyOut));  // no row selected
      QCOMPARE(SelectNamed(rig, {"gone.txt", "frag.bin", "readme.txt"}), 3);
      QVERIFY(rig.Enabled(kCmdCopyOut));
      rig.dialogs.folderAnswer = QString::fromStdString(out.Path());
      rig.window.RunCommand(kCmdCopyOut);
      QCOMPARE(rig.Messages(), QStringList({QString::fromStdString("3 files copied whole, 0 in part, 0 not copied; "
                                                                   "0 folders made in " + out.Path())}));
      QVERIFY(ReadFileBytes(out.File("gone.txt")) == ExfatPattern(700, 30));
      QVERIFY(ReadFileBytes(out.File("frag.bin")) == scene->liveFiles.at("/frag.bin"));
      QVERIFY(ReadFileBytes(out.File("readme.txt")) == scene->liveFiles.at("/readme.txt"));
    } else {
      QVERIFY(rig.Select(kExfatRoot));
      QCOMPARE(SelectNamed(rig, {"gone.txt"}), 1);
      rig.window.RunCommand(kCmdUndelete);
      QCOMPARE(rig.Messages(), QStringList({kUndeleteDone}));
      // The listing is read again: the row is in use now.
      bool live = false;
      for (int r = 0; r < rig.Rows(); ++r)
        live = live || (rig.Row(r).value(3) == "gone.txt" && rig.Row(r).value(2) == "In use");
      QVERIFY(live);
      std::string report;
      QVERIFY2(card.Check(&report), report.c_str());
      ExfatMount mount(card, dir.File("mnt"));
      QVERIFY(mount.Mounted());
      QVERIFY(ReadFileBytes(mount.Path("gone.txt")) == ExfatPattern(700, 30));
      QVERIFY(mount.Unmount());
      return;
    }
    QVERIFY(ReadFileBytes(card.image) == before);
  }
};

QTEST_MAIN(ExfatWindowTest)
#include "exfat_window_test.moc"

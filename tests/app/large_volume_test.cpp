// A 4 GiB FAT32 volume (a sparse image): its FAT decodes a page at a time,
// and raw sector dumping pages through it and jumps to its last sector. How
// long that takes is measured by scripts/bench, not here. A 32 GiB one: the
// window reads each FAT sector a folder's chain lies in once, counted at the
// device.
#include <QCoreApplication>
#include <map>
#include <optional>
#include <memory>
#include <set>

#include "disk/volume_layout.h"
#include "fixtures/forwarding_device.h"
#include "fixtures/image_builder.h"
#include "gui_rig.h"

namespace {

// The drive's device with every read logged by sector.
class CountingDevice final : public ForwardingDevice {
 public:
  using ForwardingDevice::ForwardingDevice;
  int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) override {
    for (uint64_t s = offset / 512; s < (offset + len + 511) / 512; ++s) ++reads[s];
    return ForwardingDevice::ReadAt(offset, buffer, len);
  }
  std::map<uint64_t, int> reads;  // absolute sector -> times read
};

}  // namespace

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

  // Selecting a folder lists it; expanding it then, and expanding another,
  // reads no FAT sector that was read before.
  void expandingAFolderReadsNoFatSectorTwice() {
    TempDir dir;
    const std::string image = dir.File("big32.img");
    constexpr uint32_t kSectors = 64u * 1024 * 1024;  // 32 GiB
    QVERIFY(PartitionImage(image, kSectors, "start=2048, type=c\n"));
    const FatVolume v = FormatPartition(image, 2048, kSectors - 2048, 32, "-s 8");
    // ONE's second cluster comes after a 1 MiB file and 126 small ones: its
    // chain lies in two FAT sectors; TWO's, after another 1 MiB, in a third.
    QVERIFY(v.MakeDir("::/ONE"));
    QVERIFY(v.PutFile("::/BIG.BIN", std::vector<uint8_t>(1 << 20, 7)));
    for (int i = 0; i < 130; ++i) QVERIFY(v.PutFile("::/ONE/F" + std::to_string(i) + ".TXT", "one"));
    QVERIFY(v.PutFile("::/BIG2.BIN", std::vector<uint8_t>(1 << 20, 8)));
    QVERIFY(v.MakeDir("::/TWO"));
    QVERIFY(v.PutFile("::/TWO/NOTE.TXT", "two"));

    std::vector<uint8_t> boot(512);
    {
      FileDevice file(image, true);
      QVERIFY(file.Open());
      QCOMPARE(file.ReadAt(2048 * 512, boot.data(), 512), int64_t{512});
    }
    const std::optional<VolumeLayout> layout = DecodeVolume(boot);
    QVERIFY(layout);
    const uint64_t fatStart = 2048 + layout->fatStart;
    const uint64_t fatEnd = fatStart + uint64_t{layout->sectorsPerFat} * layout->fatCount;

    GuiRig rig(Drives({image}, {}, true));
    QVERIFY(rig.started);
    auto inner = std::make_unique<FileDevice>(image, true);
    QVERIFY(inner->Open());
    auto counting = std::make_unique<CountingDevice>(std::move(inner));
    CountingDevice* dev = counting.get();
    rig.state.access.Devices().Add(0x80, std::move(counting));
    // The FAT sectors read from now on, with how often.
    auto fatReads = [&] {
      std::map<uint64_t, int> fat;
      for (const auto& [sector, times] : dev->reads)
        if (sector >= fatStart && sector < fatEnd) fat[sector - fatStart] = times;
      dev->reads.clear();
      return fat;
    };

    const QStringList root = {"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"};
    QVERIFY(rig.Select(root));
    QVERIFY(rig.Select(root + QStringList{"ONE     .   "}));
    QCOMPARE(rig.Pane().viewKind, ViewKind::SubDirectory);
    QCOMPARE(rig.Rows(), 130);
    const std::map<uint64_t, int> listed = fatReads();
    QCOMPARE(listed.size(), size_t{2});  // the root's and ONE's first, ONE's second
    for (const auto& [sector, times] : listed) QCOMPARE(times, 1);

    QTreeWidgetItem* one = rig.Tree()->FindPath(root + QStringList{"ONE     .   "});
    QVERIFY(one != nullptr);
    rig.Tree()->expandItem(one);
    QCoreApplication::processEvents();
    QCOMPARE(one->childCount(), 130);
    QVERIFY(fatReads().empty());

    QTreeWidgetItem* two = rig.Tree()->FindPath(root + QStringList{"TWO     .   "});
    QVERIFY(two != nullptr);
    rig.Tree()->expandItem(two);
    QCoreApplication::processEvents();
    QCOMPARE(two->childCount(), 1);
    const std::map<uint64_t, int> second = fatReads();
    QCOMPARE(second.size(), size_t{1});
    QVERIFY(listed.count(second.begin()->first) == 0);
    QVERIFY(rig.Messages().isEmpty());
  }

  void selectingPagingAndJumping() {
    GuiRig rig(Drives({image_}));
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const QStringList fat1 = {"Hard Disk 1", "32-Bit FAT Disk", "FAT 1"};
    QVERIFY(rig.Tree()->FindPath(fat1) != nullptr);

    // Structure mode: the first FAT copy a page at a time, decoded on demand.
    QVERIFY(rig.Select(fat1));
    QCoreApplication::processEvents();
    QCOMPARE(rig.Pane().viewKind, ViewKind::Fat32Table);
    QCOMPARE(rig.Rows(), 384 * 8);
    QVERIFY(rig.Enabled(kCmdNext));
    QVERIFY(!rig.Enabled(kCmdPrevious));
    rig.window.RunCommand(kCmdNext);
    QCOMPARE(rig.Row(0).at(0), QStringLiteral("0000C000"));
    QVERIFY(rig.Enabled(kCmdPrevious));
    QVERIFY(!rig.Enabled(kCmdWriteChanges));
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

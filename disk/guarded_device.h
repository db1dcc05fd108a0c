// A drive as the program sees it: its device under the guards a run puts on
// it. With a ddrescue mapfile, every sector that is not wholly inside the
// map's finished blocks fails to read and to write, as on the disk the image
// was rescued from. With an undo journal, the old bytes of every sector a
// write is about to change are recorded and made durable first; a write
// whose record cannot be kept does not happen. Both transfer paths and
// libsect32.so reach their drives through this layer.
#pragma once
#include <memory>

#include "disk/device.h"
#include "disk/rescue_map.h"
#include "disk/undo_journal.h"

class GuardedDevice final : public Device {
 public:
  // map and journal may be null (no mapfile, no undo).
  GuardedDevice(std::unique_ptr<Device> inner, std::shared_ptr<const RescueMap> map,
                std::unique_ptr<UndoJournal> journal = nullptr)
      : inner_(std::move(inner)), map_(std::move(map)), journal_(std::move(journal)) {}

  [[nodiscard]] bool Open() override { return inner_->Open(); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  [[nodiscard]] int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t len) override;
  [[nodiscard]] int64_t WriteAt(uint64_t offset, const uint8_t* buffer, size_t len) override;
  uint64_t Size() const override { return inner_->Size(); }
  std::string Path() const override { return inner_->Path(); }
  bool Writable() const override { return inner_->Writable(); }
  // The map and the journal are only read by reads.
  bool ParallelReads() const override { return inner_->ParallelReads(); }

  Device& Inner() { return *inner_; }
  UndoJournal* Journal() const { return journal_.get(); }

 private:
  // Bytes from offset, at most len, that the map lets through: whole sectors
  // of finished blocks up to the first sector that is not.
  size_t Reach(uint64_t offset, size_t len) const;
  std::unique_ptr<Device> inner_;
  std::shared_ptr<const RescueMap> map_;
  std::unique_ptr<UndoJournal> journal_;
};

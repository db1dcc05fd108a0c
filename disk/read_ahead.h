// A reader thread ahead of the work: it fills slots (runs of sectors, say)
// in order while the caller works on the ones filled before, so that a disk
// streams instead of waiting for the work between reads. At most `depth`
// slots are filled and not yet released, which bounds the memory held.
//
// Each side wakes the other only when there is a batch for it (half the
// slots) or when it is about to wait itself: a reader that outpaces the work,
// or work that outpaces a cold disk, then hands over a few times per batch
// instead of twice a slot, each wake-up costing what a slot's reading may.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

template <class Slot>
class ReadAhead {
 public:
  // fill fills the next slot on the reader thread and answers false when
  // there is none (the end, or a stop it polls); the slot is then not used.
  ReadAhead(size_t depth, std::function<bool(Slot&)> fill)
      : slots_(depth < 1 ? 1 : depth),
        batch_(slots_.size() < 4 ? 1 : slots_.size() / 2),
        fill_(std::move(fill)),
        thread_([this] { Fill(); }) {}
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  // Ends the reading (a fill under way is let finish) and waits for the thread.
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    freed_.notify_all();
    thread_.join();
  }

  // The next slot filled, in order; null when the reader has ended. It stays
  // the caller's until Release gives back the oldest slot taken.
  Slot* Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (filled_ == taken_ && !ended_) {
      // About to wait: a reader waiting for room gets what there is.
      if (readerWaiting_ && Free() > 0) freed_.notify_one();
      workWaiting_ = true;
      filledCv_.wait(lock, [this] { return filled_ > taken_ || ended_; });
      workWaiting_ = false;
    }
    if (filled_ <= taken_) return nullptr;
    return &slots_[taken_++ % slots_.size()];
  }
  // Gives back the oldest slot taken and not yet given back.
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (released_ < taken_) ++released_;
    if (readerWaiting_ && Free() >= batch_) freed_.notify_one();
  }

 private:
  size_t Free() const { return slots_.size() - static_cast<size_t>(filled_ - released_); }

  void Fill() {
    for (uint64_t k = 0;; ++k) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cancelled_ && Free() == 0) {
          // About to wait: work waiting for slots gets what there is.
          if (workWaiting_ && filled_ > taken_) filledCv_.notify_one();
          readerWaiting_ = true;
          freed_.wait(lock, [&] { return cancelled_ || Free() > 0; });
          readerWaiting_ = false;
        }
        if (cancelled_) break;
      }
      // Slot k is no one else's now: the caller has given it back.
      const bool more = fill_(slots_[k % slots_.size()]);
      std::lock_guard<std::mutex> lock(mutex_);
      if (!more) break;
      ++filled_;
      if (workWaiting_ && filled_ - taken_ >= batch_) filledCv_.notify_one();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    filledCv_.notify_all();
  }

  std::vector<Slot> slots_;
  const size_t batch_;  // slots handed over at a time, unless a side would wait
  std::function<bool(Slot&)> fill_;
  std::mutex mutex_;
  std::condition_variable filledCv_;  // the work waits here for filled slots
  std::condition_variable freed_;     // the reader waits here for room
  uint64_t filled_ = 0;    // slots filled, counted from the first
  uint64_t taken_ = 0;     // of them, handed to the caller
  uint64_t released_ = 0;  // of those, given back
  bool workWaiting_ = false;
  bool readerWaiting_ = false;
  bool cancelled_ = false;
  bool ended_ = false;
  std::thread thread_;  // last: started once everything above is made
};

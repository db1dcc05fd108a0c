// Readers ahead of the work: one or more threads fill slots (runs of
// sectors, say) while the caller works on the ones filled before, so that a
// disk streams instead of waiting for the work between reads. The slots are
// handed to the caller in order, however the readers finish. At most `depth`
// slots are being filled or filled and not yet released, which bounds the
// memory held.
//
// Each side wakes the other only when there is a batch for it (half the
// slots) or when it is about to wait itself: readers that outpace the work,
// or work that outpaces a cold disk, then hand over a few times per batch
// instead of twice a slot, each wake-up costing what a slot's reading may.
//
// Two readers keep a second read in flight while the first one's bytes come
// in: a disk read past the page cache only streams so.
#pragma once
#include <algorithm>
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
  // fill(slot, k) fills the k-th slot (counted from 0) on a reader thread
  // and answers false when there is none (the end, or a stop it polls); the
  // slot is then not used, nor any after it. With more than one reader,
  // fill is called on several threads at once, each time for another k.
  ReadAhead(size_t depth, std::function<bool(Slot&, uint64_t)> fill, size_t readers = 1)
      : slots_(depth < 1 ? 1 : depth),
        filledOut_(slots_.size(), false),
        batch_(slots_.size() < 4 ? 1 : slots_.size() / 2),
        fill_(std::move(fill)) {
    const size_t n = std::clamp<size_t>(readers, 1, slots_.size());
    threads_.reserve(n);
    for (size_t i = 0; i < n; ++i) threads_.emplace_back([this] { Fill(); });
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  // Ends the reading (fills under way are let finish) and waits for the threads.
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    freed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  // The next slot filled, in order; null when the readers have ended. It
  // stays the caller's until Release gives back the oldest slot taken.
  Slot* Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (filled_ == taken_ && !Ended()) {
      // About to wait: readers waiting for room get what there is.
      if (readersWaiting_ > 0 && Free() > 0) freed_.notify_all();
      workWaiting_ = true;
      filledCv_.wait(lock, [this] { return filled_ > taken_ || Ended(); });
      workWaiting_ = false;
    }
    if (filled_ <= taken_) return nullptr;
    return &slots_[taken_++ % slots_.size()];
  }
  // Gives back the oldest slot taken and not yet given back.
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (released_ < taken_) ++released_;
    if (readersWaiting_ > 0 && Free() >= batch_) freed_.notify_all();
  }

 private:
  // Slots neither being filled nor filled and held.
  size_t Free() const { return slots_.size() - static_cast<size_t>(claimed_ - released_); }
  // No slot is left to hand over. A reader ends only once end_ is known and
  // every slot before it claimed, and it finishes the slot it claimed first:
  // the last reader to end has handed over every slot before end_.
  bool Ended() const { return filled_ >= end_; }

  void Fill() {
    for (;;) {
      uint64_t k = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!cancelled_ && claimed_ < end_ && Free() == 0) {
          // About to wait: work waiting for slots gets what there is.
          if (workWaiting_ && filled_ > taken_) filledCv_.notify_one();
          ++readersWaiting_;
          freed_.wait(lock);
          --readersWaiting_;
        }
        if (cancelled_ || claimed_ >= end_) break;
        k = claimed_++;
      }
      // Slot k is no one else's now: the caller has given back the slot
      // that was there, and no other reader claims k.
      const bool more = fill_(slots_[k % slots_.size()], k);
      std::lock_guard<std::mutex> lock(mutex_);
      if (!more) end_ = std::min(end_, k);
      else filledOut_[k % slots_.size()] = true;
      // Hand over what is filled in order; a later slot filled first waits
      // for the ones before it.
      while (filled_ < end_ && filledOut_[filled_ % slots_.size()]) {
        filledOut_[filled_ % slots_.size()] = false;
        ++filled_;
      }
      if (workWaiting_ && (filled_ - taken_ >= batch_ || Ended())) filledCv_.notify_one();
    }
    // A reader still waiting for room ends when room is given or the
    // reading is cancelled.
  }

  std::vector<Slot> slots_;
  std::vector<bool> filledOut_;  // filled, not yet handed over (by slot)
  const size_t batch_;  // slots handed over at a time, unless a side would wait
  std::function<bool(Slot&, uint64_t)> fill_;
  std::mutex mutex_;
  std::condition_variable filledCv_;  // the work waits here for filled slots
  std::condition_variable freed_;     // the readers wait here for room
  uint64_t claimed_ = 0;   // slots a reader has taken to fill, counted from the first
  uint64_t filled_ = 0;    // of them, filled and handed over in order
  uint64_t taken_ = 0;     // of those, taken by the caller
  uint64_t released_ = 0;  // of those, given back
  uint64_t end_ = UINT64_MAX;  // the first slot a fill answered false for
  size_t readersWaiting_ = 0;
  bool workWaiting_ = false;
  bool cancelled_ = false;
  std::vector<std::thread> threads_;  // last: started once everything above is made
};

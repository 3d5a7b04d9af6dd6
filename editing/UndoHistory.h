// The undo history: the working image as it was before each of the last 20
// edits, newest first.
//
// A step is handed over as it is and packed afterwards (zstd, in bands of
// rows) on a worker thread of the history's own: an edit never waits for
// the packing, and a screenshot's step then takes a few percent of its
// bytes. A step is unpacked only when it is taken back, its bands on all
// cores. A step whose packing has not finished is given back from its
// unpacked pixels, which are kept until the packing is done.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "imaging/Bitmap.h"

namespace lumivore {

class UndoHistory {
 public:
  static constexpr int kDepth = 20;
  // Rows are packed in bands of about this many bytes, each one unpacked by
  // itself.
  static constexpr std::size_t kBandBytes = std::size_t{1} << 20;
  // At most this many steps wait for their packing when the next is pushed.
  static constexpr int kMaxWaiting = 2;

  // `available` tells what memory the system could still give (nullopt:
  // unknown). When the steps hold more than that, memory is short: the
  // oldest steps are dropped until they hold no more than what is left, but
  // the newest step always stays.
  explicit UndoHistory(std::function<std::optional<std::size_t>()> available = nullptr);
  ~UndoHistory();
  UndoHistory(const UndoHistory&) = delete;
  UndoHistory& operator=(const UndoHistory&) = delete;

  // Records `picture` as the newest step, dropping the oldest beyond 20.
  // The returned picture is the step's, to read while the edit builds the
  // new one from it; it is not copied while the caller holds it.
  std::shared_ptr<const Bitmap> push(Bitmap picture);
  // Removes the newest step and puts its picture into `picture` exactly as
  // it was pushed: format, palette, size and every byte (an empty picture
  // when there is none). The storage `picture` has is written over when it
  // holds exactly the bytes needed, so a large picture comes back without
  // fresh memory. When there is no memory for a new picture
  // (std::bad_alloc), the step and `picture` stay as they were.
  void takeNewest(Bitmap& picture);
  void clear();
  int size() const;
  bool isEmpty() const { return size() == 0; }

  // The memory the steps take: packed bytes, or the picture's while it is
  // not packed.
  std::size_t heldBytes() const;
  // Blocks until no step is waiting for its packing.
  void waitUntilPacked();
  // Called on the worker thread before each band of a step is packed, with
  // the band's number. Lets tests hold the worker at a chosen point.
  void setBeforeBand(std::function<void(int band)> hook);

 private:
  struct Step;
  struct Packed;

  static std::optional<Packed> Pack(const Bitmap& picture, const Step& step,
                                    const std::function<void(int)>& beforeBand);
  static void Unpack(const Packed& packed, Bitmap& picture);
  void Work();
  // With the lock held: the oldest step not yet packed nor being packed.
  std::shared_ptr<Step> NextToPack() const;
  std::size_t HeldLocked() const;
  // With the lock held: the steps not packed yet.
  int WaitingLocked() const;
  // With the lock held: drops steps beyond 20, and the oldest while memory
  // is short.
  void TrimLocked();
  void DropOldestLocked();

  std::function<std::optional<std::size_t>()> available_;
  std::function<void(int)> beforeBand_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, packed_;
  std::deque<std::shared_ptr<Step>> steps_;  // newest first
  bool stopping_ = false;
  std::thread worker_;  // started with the first step
};

}  // namespace lumivore

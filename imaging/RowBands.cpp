#include "imaging/RowBands.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace lumivore {
namespace {

// Worker threads that sleep until a call hands them bands. A call is one
// generation; its bands are claimed through `next_`, which holds the
// generation in its top half and the next band in its bottom half, so a
// worker that wakes late can never claim a band of a later call with the
// job of an earlier one.
class BandPool {
 public:
  explicit BandPool(int workers) {
    for (int i = 0; i < workers; ++i) {
      // Without a thread to be had, the callers do the work themselves.
      try {
        std::thread([this] { Serve(); }).detach();
      } catch (...) {
        break;
      }
    }
  }

  // False, having run nothing, when another call has the workers.
  bool Run(int bands, void (*run)(void*, int), void* context) {
    std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    std::uint32_t generation;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      generation = ++generation_;
      run_ = run, context_ = context, bands_ = bands, done_ = 0;
      next_ = std::uint64_t(generation) << 32;
    }
    wake_.notify_all();
    Work(generation, run, context, bands);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return done_ == bands; });
    return true;
  }

 private:
  void Serve() {
    inCall = true;  // a band that splits work again runs it itself
    std::uint32_t seen = 0;
    for (;;) {
      void (*run)(void*, int);
      void* context;
      int bands;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return generation_ != seen; });
        seen = generation_;
        run = run_, context = context_, bands = bands_;
      }
      Work(seen, run, context, bands);
    }
  }

  // Claims bands of one generation until none is left.
  void Work(std::uint32_t generation, void (*run)(void*, int), void* context, int bands) {
    for (;;) {
      std::uint64_t next = next_.load();
      int band;
      do {
        band = static_cast<int>(next & 0xFFFFFFFFu);
        if ((next >> 32) != generation || band >= bands) return;
      } while (!next_.compare_exchange_weak(next, next + 1));
      run(context, band);
      std::lock_guard<std::mutex> lock(mutex_);
      if (++done_ == bands) finished_.notify_all();
    }
  }

  std::mutex busy_;  // held by the call that has the workers
  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::uint32_t generation_ = 0;
  void (*run_)(void*, int) = nullptr;
  void* context_ = nullptr;
  int bands_ = 0, done_ = 0;
  std::atomic<std::uint64_t> next_{0};

 public:
  static thread_local bool inCall;
};

thread_local bool BandPool::inCall = false;

}  // namespace

int BandCount() {
  static const int count =
      static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
  return count;
}

void RunBands(int bands, void (*run)(void* context, int band), void* context) {
  // Made on first use and never destroyed: the workers sleep through exit.
  static BandPool* const pool = new BandPool(BandCount() - 1);
  if (bands > 1 && !BandPool::inCall) {
    BandPool::inCall = true;
    const bool ran = pool->Run(bands, run, context);
    BandPool::inCall = false;
    if (ran) return;
  }
  for (int i = 0; i < bands; ++i) run(context, i);
}

}  // namespace lumivore

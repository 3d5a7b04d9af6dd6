// Splits row-by-row pixel work over the processor's cores.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace lumivore {

// The number of bands large work is split into: one per core, at most 8.
int BandCount();

// Runs `run(context, i)` for every i in [0, bands), on the calling thread and
// on worker threads kept waiting for the purpose. A worker that is woken goes
// to an idle core, where a thread started for each call often stayed on the
// caller's core for the whole of a short job. Only one call at a time uses
// the workers; another caller meanwhile, or a call from inside a band, runs
// its bands itself. `run` must not throw.
void RunBands(int bands, void (*run)(void* context, int band), void* context);

// Runs `work(begin, end)` over bands of the rows [0, rows), one band per core
// when the picture (`pixels` in all) is big enough to repay waking workers,
// else all on the calling thread. Bands never overlap, so work that writes
// only its own rows needs no locking. False when any band threw (memory).
template <typename Work>
bool ForRowBands(int rows, std::size_t pixels, Work work) {
  if (rows <= 0) return true;
  const int bands = pixels < (1u << 18) ? 1 : (rows < BandCount() ? rows : BandCount());
  struct Job {
    Work& work;
    int rows, bands;
    std::atomic<bool> failed{false};
  } job{work, rows, bands};
  const auto band = [](void* context, int i) {
    Job& j = *static_cast<Job*>(context);
    const int begin = static_cast<int>(std::int64_t(j.rows) * i / j.bands);
    const int end = static_cast<int>(std::int64_t(j.rows) * (i + 1) / j.bands);
    try {
      j.work(begin, end);
    } catch (...) {
      j.failed = true;
    }
  };
  if (bands == 1) {
    band(&job, 0);
  } else {
    RunBands(bands, band, &job);
  }
  return !job.failed;
}

}  // namespace lumivore

// Splits row-by-row pixel work over the processor's cores.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace lumivore {

// Runs `work(begin, end)` over bands of the rows [0, rows), one band per core
// when the picture (`pixels` in all) is big enough to repay starting threads,
// else all on the calling thread. Bands never overlap, so work that writes
// only its own rows needs no locking. False when any band threw (memory).
template <typename Work>
bool ForRowBands(int rows, std::size_t pixels, Work work) {
  std::atomic<bool> failed{false};
  const auto band = [&](int begin, int end) {
    try {
      work(begin, end);
    } catch (...) {
      failed = true;
    }
  };
  if (rows <= 0) return true;
  const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
  const int bands = pixels < (1u << 18) ? 1 : static_cast<int>(std::min<unsigned>(cores, rows));
  std::vector<std::thread> threads;
  threads.reserve(bands);
  for (int i = 1; i < bands; ++i) {
    const int begin = rows * i / bands, end = rows * (i + 1) / bands;
    try {
      threads.emplace_back(band, begin, end);
    } catch (...) {
      band(begin, end);  // no thread to be had: do it here
    }
  }
  band(0, rows / bands);
  for (auto& t : threads) t.join();
  return !failed;
}

}  // namespace lumivore

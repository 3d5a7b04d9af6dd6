// Splitting rows over the cores: every row worked exactly once, whatever the
// callers do at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "imaging/RowBands.h"

namespace lumivore {
namespace {

constexpr std::size_t kLarge = std::size_t{1} << 20;  // enough pixels to split

// How often each row of [0, rows) was worked, and by bands that never overlap.
class RowCounts {
 public:
  explicit RowCounts(int rows) : counts_(new std::atomic<int>[rows]), rows_(rows) {
    for (int i = 0; i < rows; ++i) counts_[i] = 0;
  }
  void Work(int begin, int end) {
    ASSERT_LE(0, begin);
    ASSERT_LE(begin, end);
    ASSERT_LE(end, rows_);
    for (int y = begin; y < end; ++y) ++counts_[y];
  }
  // The first row not worked exactly once, or -1.
  int Wrong() const {
    for (int y = 0; y < rows_; ++y)
      if (counts_[y] != 1) return y;
    return -1;
  }

 private:
  std::unique_ptr<std::atomic<int>[]> counts_;
  int rows_;
};

TEST(RowBands, EveryRowIsWorkedExactlyOnce) {
  for (int rows : {1, 2, 3, 7, 8, 9, 1000, 2161}) {
    for (std::size_t pixels : {std::size_t{100}, kLarge}) {
      RowCounts counts(rows);
      ASSERT_TRUE(ForRowBands(rows, pixels, [&](int b, int e) { counts.Work(b, e); }));
      EXPECT_EQ(counts.Wrong(), -1) << rows << " rows, " << pixels << " pixels";
    }
  }
  EXPECT_TRUE(ForRowBands(0, kLarge, [](int, int) { FAIL() << "no rows, no work"; }));
}

// Many short calls one after the other: a worker that wakes late must not
// work a band of one call with the job of another. Each band lasts a few
// microseconds, so that the workers get bands too.
TEST(RowBands, ManyCallsInARowKeepTheirBandsApart) {
  std::atomic<int> byOthers{0};
  const auto caller = std::this_thread::get_id();
  for (int call = 0; call < 3000; ++call) {
    const int rows = 2 + call % 13;
    RowCounts counts(rows);
    ASSERT_TRUE(ForRowBands(rows, kLarge, [&](int b, int e) {
      counts.Work(b, e);
      if (std::this_thread::get_id() != caller) ++byOthers;
      const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(call % 7 * 5);
      while (std::chrono::steady_clock::now() < until) {
      }
    }));
    ASSERT_EQ(counts.Wrong(), -1) << "call " << call;
  }
  if (BandCount() > 1) {
    EXPECT_GT(byOthers, 0) << "every band ran on the calling thread";
  }
}

TEST(RowBands, ABandThatThrowsFailsTheCallAndTheOthersStillRun) {
  const int rows = 64;
  RowCounts counts(rows);
  const bool ok = ForRowBands(rows, kLarge, [&](int b, int e) {
    counts.Work(b, e);
    if (b == 0) throw std::bad_alloc();
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(counts.Wrong(), -1);
}

// With more than one core the bands run at the same time: each waits until
// all have started (with a deadline far beyond any scheduling delay).
TEST(RowBands, BandsRunAtTheSameTimeOnSeveralCores) {
  const int bands = BandCount();
  if (bands < 2) GTEST_SKIP() << "one core";
  std::atomic<int> started{0};
  std::atomic<bool> allMet{true};
  ASSERT_TRUE(ForRowBands(bands, kLarge, [&](int, int) {
    ++started;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (started < bands)
      if (std::chrono::steady_clock::now() > deadline) {
        allMet = false;
        return;
      }
  }));
  EXPECT_TRUE(allMet);
}

// Bands that split their own work again, and several threads splitting work
// at once: each finishes, every row once.
TEST(RowBands, NestedAndSimultaneousCallsFinish) {
  const int rows = 40, inner = 300;
  std::vector<std::unique_ptr<RowCounts>> counts;
  for (int y = 0; y < rows; ++y) counts.push_back(std::make_unique<RowCounts>(inner));
  RowCounts outer(rows);
  ASSERT_TRUE(ForRowBands(rows, kLarge, [&](int b, int e) {
    outer.Work(b, e);
    for (int y = b; y < e; ++y)
      ASSERT_TRUE(ForRowBands(inner, kLarge, [&](int ib, int ie) { counts[y]->Work(ib, ie); }));
  }));
  EXPECT_EQ(outer.Wrong(), -1);
  for (int y = 0; y < rows; ++y) EXPECT_EQ(counts[y]->Wrong(), -1) << "row " << y;

  std::vector<std::unique_ptr<RowCounts>> perThread;
  for (int t = 0; t < 4; ++t) perThread.push_back(std::make_unique<RowCounts>(5000));
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&, t] {
        for (int call = 0; call < 50; ++call) {
          RowCounts counts(777);
          EXPECT_TRUE(ForRowBands(777, kLarge, [&](int b, int e) { counts.Work(b, e); }));
          EXPECT_EQ(counts.Wrong(), -1) << "thread " << t << ", call " << call;
        }
        EXPECT_TRUE(ForRowBands(5000, kLarge, [&](int b, int e) { perThread[t]->Work(b, e); }));
      });
  }
  for (int t = 0; t < 4; ++t) EXPECT_EQ(perThread[t]->Wrong(), -1) << "thread " << t;
}

}  // namespace
}  // namespace lumivore

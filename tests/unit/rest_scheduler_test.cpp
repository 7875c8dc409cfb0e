// The rest of a batch's scheduler over a fake conversion: results in batch
// order however the workers finish, the memory budget, photos that run alone,
// photos that read an earlier copy, and Cancel.
#include "batch/rest_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Waits, at most a few seconds, for what another thread does.
template <class Predicate>
bool Eventually(Predicate predicate) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > until)
      return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// What the fake conversions saw, across their threads.
struct Watch {
  std::mutex mutex;
  int converting = 0;  // photos between their grant and their end
  int mostConverting = 0;
  uint64_t reserved = 0;
  uint64_t mostReserved = 0;
  std::vector<size_t> started;    // in the order the grants came
  std::vector<size_t> aloneWith;  // for each photo that ran alone: how many others converted

  void Begin(size_t photo, uint64_t bytes) {
    std::lock_guard lock(mutex);
    started.push_back(photo);
    mostConverting = std::max(mostConverting, ++converting);
    mostReserved = std::max(mostReserved, reserved += bytes);
  }
  void End(uint64_t bytes) {
    std::lock_guard lock(mutex);
    --converting;
    reserved -= bytes;
  }
};

// Runs the program's side: takes every photo in order, checking that its
// result is there and its own.
std::vector<size_t> TakeInOrder(RestScheduler& run, const std::vector<std::atomic<size_t>>& results,
                                size_t count) {
  std::vector<size_t> taken;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(run.Await(i, [](double) { return true; }));
    taken.push_back(results[i].load());
    run.Done(i);
  }
  return taken;
}

TEST(RestScheduler, ResultsComeInBatchOrderHoweverTheWorkersFinish) {
  // Photo 0 finishes only once photos 1 and 2 have: the program's thread
  // still takes 0 first, and finds each photo's own result.
  constexpr size_t kCount = 6;
  std::vector<std::atomic<size_t>> results(kCount);
  std::atomic<int> finished{0};
  RestScheduler run(
      kCount, {3, 1000}, {},
      [&](size_t index, size_t, PhotoGate& gate) {
        EXPECT_TRUE(gate.Reserve(10, {}));
        if (index == 0) {
          EXPECT_TRUE(Eventually([&] { return finished >= 2; }));
        }
        results[index] = 100 + index;
        ++finished;
      },
      [](size_t) {});
  EXPECT_EQ(TakeInOrder(run, results, kCount), (std::vector<size_t>{100, 101, 102, 103, 104, 105}));
}

TEST(RestScheduler, PhotosStartWhenTheirMemoryFitsAndTheLargestRunAlone) {
  // A budget of 100: photos of 40 run two at a time, photo 3 needs more than
  // the whole budget and runs with nothing beside it.
  const std::vector<uint64_t> needs{40, 40, 40, 250, 40, 40, 40};
  std::vector<std::atomic<size_t>> results(needs.size());
  Watch watch;
  std::vector<int> besideBig;
  RestScheduler run(
      needs.size(), {4, 100}, {},
      [&](size_t index, size_t, PhotoGate& gate) {
        ASSERT_TRUE(gate.Reserve(needs[index], [&] { return needs[index]; }));
        watch.Begin(index, needs[index]);
        if (index == 3) {
          std::this_thread::sleep_for(20ms);
          std::lock_guard lock(watch.mutex);
          besideBig.push_back(watch.converting - 1);
        } else {
          std::this_thread::sleep_for(5ms);
        }
        results[index] = index;
        watch.End(needs[index]);
      },
      [](size_t) {});
  TakeInOrder(run, results, needs.size());
  EXPECT_EQ(watch.mostConverting, 2);
  EXPECT_EQ(besideBig, std::vector<int>{0});
  // Only the large photo, alone, went past the budget.
  EXPECT_EQ(watch.mostReserved, 250u);
}

TEST(RestScheduler, APhotoShortOfMemoryBesideOthersTriesAgainAlone) {
  // Photo 2 finds memory short the first time, with others converting; alone
  // it goes through. Photo 4, short while alone, is really short.
  constexpr size_t kCount = 6;
  std::vector<std::atomic<size_t>> results(kCount);
  Watch watch;
  std::atomic<int> othersWhenRetried{-1};
  std::atomic<int> photo4Alone{-1};
  RestScheduler run(
      kCount, {3, 1000}, {},
      [&](size_t index, size_t, PhotoGate& gate) {
        ASSERT_TRUE(gate.Reserve(100, [] { return uint64_t{100}; }));
        watch.Begin(index, 0);
        if (index == 0 || index == 1)
          std::this_thread::sleep_for(30ms);  // company for photo 2
        if (index == 2) {
          watch.End(0);
          const bool again = gate.WaitAlone(100, [] { return uint64_t{100}; });
          watch.Begin(index, 0);
          std::lock_guard lock(watch.mutex);
          othersWhenRetried = again ? watch.converting - 1 : -2;
        }
        if (index == 4) {
          // Short beside others (or alone already); then short alone.
          const bool first = gate.WaitAlone(100, [] { return uint64_t{100}; });
          photo4Alone = first && gate.WaitAlone(100, [] { return uint64_t{100}; }) ? 1 : 0;
        }
        results[index] = index;
        watch.End(0);
      },
      [](size_t) {});
  TakeInOrder(run, results, kCount);
  EXPECT_EQ(othersWhenRetried, 0);
  // Its first WaitAlone made it alone; short again alone, it is told so.
  EXPECT_EQ(photo4Alone, 0);
}

TEST(RestScheduler, APhotoThatReadsAnEarlierCopyStartsOnceItIsWritten) {
  constexpr size_t kCount = 4;
  std::vector<std::atomic<size_t>> results(kCount);
  std::atomic<size_t> doneBefore2{RestScheduler::kNone};
  std::atomic<size_t> done{0};
  // Photo 2 reads photo 0's copy.
  RestScheduler run(
      kCount, {3, 1000}, {RestScheduler::kNone, RestScheduler::kNone, 0, RestScheduler::kNone},
      [&](size_t index, size_t, PhotoGate&) {
        if (index == 1)
          std::this_thread::sleep_for(100ms);  // still converting when photo 2 may start
        if (index == 2)
          doneBefore2 = done.load();
        results[index] = index;
      },
      [](size_t) {});
  for (size_t i = 0; i < kCount; ++i) {
    ASSERT_TRUE(run.Await(i, [](double) { return true; }));
    if (i == 0)
      std::this_thread::sleep_for(20ms);  // a slow save of photo 0's copy
    done = i + 1;
    run.Done(i);
  }
  EXPECT_EQ(doneBefore2, 1u);
}

TEST(RestScheduler, CancelStopsThePhotosInFlightAndEveryWorker) {
  constexpr size_t kCount = 50;
  std::atomic<int> converts{0};
  std::atomic<int> toldToStop{0};
  RestScheduler run(
      kCount, {3, 1000}, {},
      [&](size_t, size_t, PhotoGate& gate) {
        ++converts;
        // A long photo, reporting as the codec does, until told to stop.
        for (int i = 0; i < 5000; ++i) {
          if (!gate.Report(i / 5000.0)) {
            ++toldToStop;
            return;
          }
          std::this_thread::sleep_for(1ms);
        }
      },
      [](size_t) {});
  int answered = 0;
  double last = 0;
  bool steady = true;
  EXPECT_FALSE(run.Await(0, [&](double done) {
    steady = steady && done >= last;
    last = done;
    return ++answered < 3;  // Cancel at the third answer
  }));
  // The run is over when Await returns: nothing starts after.
  const int started = converts;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(converts, started);
  EXPECT_EQ(toldToStop, started);
  EXPECT_LE(started, 3);
  EXPECT_GT(last, 0.0) << "the work in flight shows";
  EXPECT_TRUE(steady);
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/tasks/MPBands.h"
#include "platform/tasks/Multiprocessing.h"

// Every item runs exactly once, on a worker index below the worker count,
// whatever the count; the calling thread is worker 0 and takes part.
TEST(BandLoop, EveryItemOnceOnKnownWorkers) {
  for (SInt32 workers : {1, 2, 3, 8, 64}) {
    for (size_t items : {size_t{1}, size_t{7}, size_t{1000}}) {
      MPBandOptions options;
      options.workers = workers;
      const SInt32 used = MPBandWorkers(items, options);
      std::vector<std::atomic<int>> hits(items);
      std::atomic<bool> callerWorked{false};
      const std::thread::id caller = std::this_thread::get_id();
      const OSStatus err = MPRunBands(items, options, [&](SInt32 w, size_t b, size_t e) -> OSStatus {
        EXPECT_LT(w, used);
        EXPECT_LT(b, e);
        if (w == 0) {
          EXPECT_EQ(std::this_thread::get_id(), caller);
          callerWorked = true;
        }
        for (size_t i = b; i < e; ++i) ++hits[i];
        return noErr;
      });
      EXPECT_EQ(err, noErr);
      // Alone, the calling thread does everything.
      if (used == 1) {
        EXPECT_TRUE(callerWorked);
      }
      for (auto& h : hits) EXPECT_EQ(h.load(), 1);
    }
  }
}

// Loops run back to back from several threads at once, some handed to
// workers still looking for work and some started as tasks: each runs every
// item once, and a worker index is never shared within a loop.
TEST(BandLoop, LoopsFromSeveralThreadsAtOnceEachRunEveryItemOnce) {
  std::atomic<int> wrong{0};
  auto loops = [&wrong] {
    for (int round = 0; round < 300; ++round) {
      const size_t items = 64 + static_cast<size_t>(round % 7);
      std::vector<std::atomic<int>> hits(items);
      std::vector<std::atomic<std::thread::id>> owner(8);
      MPBandOptions options;
      options.workers = 8;
      const OSStatus err = MPRunBands(items, options, [&](SInt32 w, size_t b, size_t e) -> OSStatus {
        std::thread::id none;
        const std::thread::id me = std::this_thread::get_id();
        if (!owner[static_cast<size_t>(w)].compare_exchange_strong(none, me) && none != me) ++wrong;
        for (size_t i = b; i < e; ++i) ++hits[i];
        return noErr;
      });
      if (err != noErr) ++wrong;
      for (auto& h : hits)
        if (h.load() != 1) ++wrong;
    }
  };
  std::thread a(loops), b(loops);
  loops();
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A worker index belongs to one thread for the whole loop, whatever the
// count (the per-worker records of the callers rely on it), loop after loop,
// with fewer and with more workers than the pool has threads.
TEST(BandLoop, AWorkerIndexIsOneThreadsForTheWholeLoop) {
  for (SInt32 workers : {2, 5, 8, 100}) {
    for (int loop = 0; loop < 20; ++loop) {
      MPBandOptions options;
      options.workers = workers;
      options.runsPerWorker = 8;
      const size_t items = 4000;
      const SInt32 used = MPBandWorkers(items, options);
      std::mutex lock;
      std::vector<std::thread::id> owner(static_cast<size_t>(used));
      bool shared = false;
      const OSStatus err = MPRunBands(items, options, [&](SInt32 w, size_t, size_t) -> OSStatus {
        std::lock_guard<std::mutex> hold(lock);
        std::thread::id& o = owner[static_cast<size_t>(w)];
        if (o == std::thread::id()) o = std::this_thread::get_id();
        if (o != std::this_thread::get_id()) shared = true;
        return noErr;
      });
      EXPECT_EQ(err, noErr);
      EXPECT_FALSE(shared) << workers << " workers, loop " << loop;
    }
  }
}

// The failure of the run with the lowest items is the answer.
TEST(BandLoop, FirstFailureInItemOrderEndsTheLoop) {
  MPBandOptions options;
  options.workers = 4;
  options.runsPerWorker = 8;
  const OSStatus err = MPRunBands(size_t{320}, options, [&](SInt32, size_t b, size_t) -> OSStatus {
    if (b == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return -36;
    }
    return b >= 100 ? -43 : noErr;
  });
  EXPECT_EQ(err, -36);
}

// However the runs are shared out among the workers, every run before the
// first failing one runs, and that run's failure is the answer.
TEST(BandLoop, EveryRunBeforeTheFirstFailureRuns) {
  for (SInt32 workers : {2, 4, 8}) {
    MPBandOptions options;
    options.workers = workers;
    options.runsPerWorker = 8;
    const size_t items = 640;
    std::vector<std::atomic<int>> hits(items);
    const OSStatus err = MPRunBands(items, options, [&](SInt32, size_t b, size_t e) -> OSStatus {
      if (b <= 500 && 500 < e) return -43;
      if (b <= 320 && 320 < e) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return -36;
      }
      for (size_t i = b; i < e; ++i) ++hits[i];
      return noErr;
    });
    EXPECT_EQ(err, -36) << workers << " workers";
    for (size_t i = 0; i < 320; ++i) {
      if (hits[i].load() == 1) continue;
      ADD_FAILURE() << "item " << i << " ran " << hits[i].load() << " times with " << workers << " workers";
      break;
    }
  }
}

// A thread's loops share one state, made new for each loop: a loop after
// a failed one, a cancelled one and one whose pool workers were still
// running when it returned answers for itself and runs every item once,
// whether it has more shares than the loop before or fewer.
TEST(BandLoop, ALoopAfterAFailedOrCancelledOneStartsAfresh) {
  auto plain = [](SInt32 inWorkers, size_t inItems) {
    MPBandOptions options;
    options.workers = inWorkers;
    std::vector<std::atomic<int>> hits(inItems);
    const OSStatus err = MPRunBands(inItems, options, [&](SInt32, size_t b, size_t e) -> OSStatus {
      for (size_t i = b; i < e; ++i) ++hits[i];
      return noErr;
    });
    EXPECT_EQ(err, noErr) << inWorkers << " workers";
    for (size_t i = 0; i < inItems; ++i)
      if (hits[i].load() != 1) {
        ADD_FAILURE() << "item " << i << " ran " << hits[i].load() << " times with " << inWorkers << " workers";
        break;
      }
  };
  for (int round = 0; round < 20; ++round) {
    MPBandOptions options;
    options.workers = 8;
    EXPECT_EQ(MPRunBands(size_t{200}, options,
                         [](SInt32, size_t b, size_t e) -> OSStatus { return b <= 50 && 50 < e ? -36 : noErr; }),
              -36);
    plain(2, 7);
    options.progress = [](void*, SInt32) { return false; };
    EXPECT_EQ(MPRunBands(size_t{300}, options,
                         [](SInt32, size_t, size_t) -> OSStatus {
                           std::this_thread::sleep_for(std::chrono::microseconds(50));
                           return noErr;
                         }),
              userCanceledErr);
    plain(8, 1000);
    // Pool workers that come late to a loop whose runs the calling thread
    // took alone still hold it when the next loop starts.
    options.progress = nullptr;
    EXPECT_EQ(MPRunBands(size_t{8}, options, [](SInt32, size_t, size_t) -> OSStatus { return noErr; }), noErr);
    plain(3, 64);
  }
}

// A progress procedure hears a rising share ending at 256; its false answer
// cancels, stops the running workers and starts no new run.
TEST(BandLoop, ProgressRisesAndCancelStopsTheWorkers) {
  std::vector<SInt32> seen;
  MPBandOptions options;
  options.workers = 4;
  options.progress = [](void* r, SInt32 v) {
    static_cast<std::vector<SInt32>*>(r)->push_back(v);
    return true;
  };
  options.progressRefCon = &seen;
  EXPECT_EQ(MPRunBands(size_t{64}, options, [](SInt32, size_t, size_t) -> OSStatus { return noErr; }), noErr);
  ASSERT_FALSE(seen.empty());
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i], seen[i - 1]);
  EXPECT_EQ(seen.back(), 256);

  std::atomic<int> started{0};
  options.progress = [](void* r, SInt32) { return static_cast<std::atomic<int>*>(r)->load() < 2; };
  options.progressRefCon = &started;
  std::atomic<bool> neverAsked{false};
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const OSStatus err = MPRunBands(size_t{1000}, options, [&](SInt32 w, size_t, size_t) -> OSStatus {
    ++started;
    // Pool workers wait until asked to stop; the caller returns at once. Only
    // a worker that is never asked reaches the limit.
    while (w != 0 && !MPTaskShouldStop()) {
      if (std::chrono::steady_clock::now() > limit) {
        neverAsked = true;
        return noErr;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return w != 0 ? userCanceledErr : noErr;
  });
  EXPECT_EQ(err, userCanceledErr);
  EXPECT_LT(started.load(), 1000 / 4);
  EXPECT_FALSE(neverAsked.load()) << "a worker was left running after the progress procedure cancelled";
}

// A loop started inside a pool task that has been asked to stop runs nothing
// and says so: it must not pass for a loop that ran every item.
TEST(BandLoop, ALoopInAStoppedTaskAnswersCancelled) {
  struct Shared {
    std::atomic<bool> started{false};
    std::atomic<bool> stopSeen{false};
    std::atomic<int> ran{0};
    OSStatus result = noErr;
  } shared;
  MPQueueID queue = nullptr;
  ASSERT_EQ(MPCreateQueue(&queue), noErr);
  MPTaskID task = nullptr;
  ASSERT_EQ(MPCreateTask(
                [](void* p) -> OSStatus {
                  Shared& s = *static_cast<Shared*>(p);
                  s.started = true;
                  while (!MPTaskShouldStop()) std::this_thread::yield();
                  s.stopSeen = true;
                  MPBandOptions options;
                  s.result = MPRunBands(size_t{16}, options, [&](SInt32, size_t b, size_t e) -> OSStatus {
                    s.ran += static_cast<int>(e - b);
                    return noErr;
                  });
                  return noErr;
                },
                &shared, 0, queue, nullptr, nullptr, 0, &task),
            noErr);
  // Asked once it runs (a task asked before it starts never runs at all).
  while (!shared.started) std::this_thread::yield();
  ASSERT_EQ(MPTerminateTask(task, userCanceledErr), noErr);
  ASSERT_EQ(MPWaitOnQueue(queue, nullptr, nullptr, nullptr, kDurationForever), noErr);
  MPDeleteQueue(queue);
  EXPECT_TRUE(shared.stopSeen.load());
  EXPECT_EQ(shared.ran.load(), 0);
  EXPECT_EQ(shared.result, userCanceledErr);
}

// The calling thread's own work runs exactly once per loop, on the calling
// thread, whatever becomes of the loop: no items, alone, with workers, with
// a progress procedure, and a loop that fails. With workers it runs while
// they take the runs: work that waits for a run of another worker ends.
TEST(BandLoop, CallerWorkRunsOnceOnTheCallingThreadBesideTheRuns) {
  struct Seen {
    std::atomic<int> calls{0};
    std::atomic<bool> onCaller{true};
    std::thread::id caller;
    std::atomic<int>* othersRan = nullptr;  // when set: wait for a run off the calling thread
    std::atomic<bool> sawOthers{false};
  };
  auto work = [](void* inSeen) {
    Seen& seen = *static_cast<Seen*>(inSeen);
    ++seen.calls;
    if (std::this_thread::get_id() != seen.caller) seen.onCaller = false;
    if (seen.othersRan != nullptr) {
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (seen.othersRan->load() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
      seen.sawOthers = seen.othersRan->load() > 0;
    }
  };
  struct Case {
    SInt32 workers;
    size_t items;
    bool progress;
    bool fail;
  };
  for (const Case c : {Case{4, 0, false, false}, Case{1, 50, false, false}, Case{1, 50, false, true},
                       Case{4, 200, false, false}, Case{4, 200, true, false}, Case{4, 200, false, true}}) {
    SCOPED_TRACE(testing::Message() << c.workers << " workers, " << c.items << " items, progress " << c.progress
                                    << ", fail " << c.fail);
    Seen seen;
    seen.caller = std::this_thread::get_id();
    std::atomic<int> othersRan{0};
    const bool pooled = c.workers > 1 && c.items > 0 && MPPoolWorkerCount() > 0;
    if (pooled && !c.fail) seen.othersRan = &othersRan;
    MPBandOptions options;
    options.workers = c.workers;
    options.callerWork = work;
    options.callerWorkRefCon = &seen;
    if (c.progress) options.progress = [](void*, SInt32) { return true; };
    std::atomic<int> hits{0};
    const OSStatus err = MPRunBands(c.items, options, [&](SInt32, size_t b, size_t e) -> OSStatus {
      if (std::this_thread::get_id() != seen.caller) ++othersRan;
      hits += static_cast<int>(e - b);
      return c.fail && b == 0 ? paramErr : noErr;
    });
    EXPECT_EQ(seen.calls.load(), 1);
    EXPECT_TRUE(seen.onCaller.load());
    if (c.fail) {
      EXPECT_EQ(err, paramErr);
    } else {
      EXPECT_EQ(err, noErr);
      EXPECT_EQ(hits.load(), static_cast<int>(c.items));
    }
    if (seen.othersRan != nullptr) {
      EXPECT_TRUE(seen.sawOthers.load());
    }
  }
}

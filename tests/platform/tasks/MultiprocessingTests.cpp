#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/base/LException.h"
#include "platform/tasks/Multiprocessing.h"

namespace {

using Clock = std::chrono::steady_clock;

OSStatus StatusOf(void* inP3) { return static_cast<OSStatus>(reinterpret_cast<intptr_t>(inP3)); }

struct StQueue {
  MPQueueID q = nullptr;
  StQueue() { EXPECT_EQ(MPCreateQueue(&q), noErr); }
  ~StQueue() {
    if (q) MPDeleteQueue(q);
  }
};

// Waits for a task's end; fails the test rather than hanging when it never comes.
OSStatus WaitEnd(MPQueueID inQueue, void** outP1 = nullptr, void** outP2 = nullptr) {
  void* p3 = nullptr;
  OSStatus err = MPWaitOnQueue(inQueue, outP1, outP2, &p3, 20000);
  EXPECT_EQ(err, noErr) << "no end reported within 20 s";
  return err == noErr ? StatusOf(p3) : err;
}

// Blocks until opened or until the running task is asked to stop.
struct Gate {
  std::atomic<bool> open{false};
  std::atomic<int> waiting{0};
  void Pass() {
    waiting.fetch_add(1);
    while (!open.load() && !MPTaskShouldStop()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    waiting.fetch_sub(1);
  }
};

OSStatus GateEntry(void* inGate) {
  static_cast<Gate*>(inGate)->Pass();
  return 11;
}

void WaitFor(const std::atomic<int>& inCounter, int inValue) {
  auto end = Clock::now() + std::chrono::seconds(20);
  while (inCounter.load() != inValue && Clock::now() < end) std::this_thread::sleep_for(std::chrono::microseconds(50));
  ASSERT_EQ(inCounter.load(), inValue);
}

// Holds every pool worker in a gated task, so that a task created meanwhile
// stays queued; Release lets them end (each with the gate's 11).
struct StBusyPool {
  StQueue q;
  Gate gate;
  std::vector<MPTaskID> tasks;
  StBusyPool() : tasks(MPPoolWorkerCount()) {
    for (MPTaskID& task : tasks) EXPECT_EQ(MPCreateTask(GateEntry, &gate, 0, q.q, nullptr, nullptr, 0, &task), noErr);
    WaitFor(gate.waiting, static_cast<int>(tasks.size()));
  }
  void Release() {
    gate.open = true;
    for (size_t i = 0; i < tasks.size(); ++i) EXPECT_EQ(WaitEnd(q.q), 11);
    tasks.clear();
  }
  ~StBusyPool() {
    if (!tasks.empty()) Release();
  }
};

}  // namespace

TEST(MPPool, OneWorkerPerCoreAndTheOverrideOnlyChangesTheReportedCount) {
  const ItemCount cores = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_EQ(MPPoolWorkerCount(), cores);
  EXPECT_EQ(MPProcessors(), cores);
  MPSetProcessorCountForTesting(3);
  EXPECT_EQ(MPProcessors(), 3u);
  EXPECT_EQ(MPPoolWorkerCount(), cores);
  MPSetProcessorCountForTesting(0);
  EXPECT_EQ(MPProcessors(), cores);
  EXPECT_TRUE(_MPIsFullyInitialized());
  EXPECT_TRUE(MPLibraryIsLoaded());
}

TEST(MPTask, RunsOnAWorkerAndPostsBothTermParametersAndTheResult) {
  StQueue q;
  static std::atomic<bool> sOnWorker{false};
  auto entry = [](void* p) -> OSStatus {
    sOnWorker = MPIsPoolWorker() && !MPTaskShouldStop();
    return static_cast<OSStatus>(reinterpret_cast<intptr_t>(p));
  };
  int a = 0, b = 0;
  MPTaskID task = nullptr;
  ASSERT_EQ(MPCreateTask(entry, reinterpret_cast<void*>(intptr_t{42}), 0, q.q, &a, &b, 0, &task), noErr);
  EXPECT_NE(task, nullptr);
  void* p1 = nullptr;
  void* p2 = nullptr;
  EXPECT_EQ(WaitEnd(q.q, &p1, &p2), 42);
  EXPECT_EQ(p1, &a);
  EXPECT_EQ(p2, &b);
  EXPECT_TRUE(sOnWorker.load());
  EXPECT_FALSE(MPIsPoolWorker());
  EXPECT_FALSE(MPTaskShouldStop());
  // Its end was reported: the ID is stale now and must be refused, not used.
  EXPECT_EQ(MPTerminateTask(task, -128), kMPInvalidIDErr);
  EXPECT_EQ(MPTerminateTask(nullptr, -128), kMPInvalidIDErr);
  EXPECT_EQ(MPCreateTask(nullptr, nullptr, 0, q.q, nullptr, nullptr, 0, &task), paramErr);
}

TEST(MPTask, TerminateSetsTheStopFlagAndTheEndCarriesTheGivenStatus) {
  StQueue q;
  Gate gate;
  MPTaskID task = nullptr;
  ASSERT_EQ(MPCreateTask(GateEntry, &gate, 0, q.q, nullptr, nullptr, 0, &task), noErr);
  WaitFor(gate.waiting, 1);
  void* p3 = nullptr;
  EXPECT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, &p3, kDurationImmediate), kMPTimeoutErr);
  EXPECT_EQ(MPTerminateTask(task, -128), noErr);
  EXPECT_EQ(WaitEnd(q.q), -128);  // not the entry's 11
  EXPECT_EQ(MPTerminateTask(task, -128), kMPInvalidIDErr);
}

TEST(MPTask, ATaskTerminatedOrWithdrawnBeforeItStartsNeverRunsAndIsReportedAtOnce) {
  StBusyPool busy;
  StQueue q;
  static std::atomic<int> sRan;
  sRan = 0;
  auto entry = [](void*) -> OSStatus {
    ++sRan;
    return 0;
  };
  MPTaskID task = nullptr;
  ASSERT_EQ(MPCreateTask(entry, nullptr, 0, q.q, nullptr, nullptr, 0, &task), noErr);
  EXPECT_EQ(MPTerminateTask(task, -77), noErr);
  // Every worker is still blocked, so only the terminate can have reported it.
  void* p3 = nullptr;
  ASSERT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, &p3, kDurationImmediate), noErr);
  EXPECT_EQ(StatusOf(p3), -77);
  EXPECT_EQ(MPTerminateTask(task, -128), kMPInvalidIDErr);

  // Withdrawing takes a queued task back once, and leaves a running one alone.
  ASSERT_EQ(MPCreateTask(entry, nullptr, 0, q.q, nullptr, nullptr, 0, &task), noErr);
  EXPECT_TRUE(MPWithdrawQueuedTask(task, -78));
  EXPECT_FALSE(MPWithdrawQueuedTask(task, -78));
  ASSERT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, &p3, kDurationImmediate), noErr);
  EXPECT_EQ(StatusOf(p3), -78);
  const MPTaskID running = busy.tasks.front();
  EXPECT_FALSE(MPWithdrawQueuedTask(running, -78));
  EXPECT_FALSE(MPWithdrawQueuedTask(nullptr, -78));
  EXPECT_EQ(busy.gate.waiting.load(), static_cast<int>(busy.tasks.size()));  // not stopped

  busy.Release();  // each running task ends with its own result
  EXPECT_FALSE(MPWithdrawQueuedTask(running, -78));
  // Give a worker the chance to pick the cancelled records up; it must drop them.
  ASSERT_EQ(MPCreateTask(entry, nullptr, 0, q.q, nullptr, nullptr, 0, nullptr), noErr);
  EXPECT_EQ(WaitEnd(q.q), 0);
  EXPECT_EQ(sRan.load(), 1);
  EXPECT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, &p3, kDurationImmediate), kMPTimeoutErr);
}

TEST(MPTask, AnEscapingExceptionBecomesTheStatus) {
  StQueue q;
  ASSERT_EQ(MPCreateTask([](void*) -> OSStatus { Throw_('nilP'); }, nullptr, 0, q.q, nullptr, nullptr, 0, nullptr),
            noErr);
  EXPECT_EQ(WaitEnd(q.q), static_cast<OSStatus>('nilP'));
  ASSERT_EQ(MPCreateTask([](void*) -> OSStatus { throw 3; }, nullptr, 0, q.q, nullptr, nullptr, 0, nullptr), noErr);
  EXPECT_EQ(WaitEnd(q.q), kMPTaskAbortedErr);
}

TEST(MPTask, DeletingTheNotifyQueueBeforeTheEndIsSafe) {
  MPQueueID q = nullptr;
  ASSERT_EQ(MPCreateQueue(&q), noErr);
  Gate gate;
  MPTaskID task = nullptr;
  ASSERT_EQ(MPCreateTask(GateEntry, &gate, 0, q, nullptr, nullptr, 0, &task), noErr);
  WaitFor(gate.waiting, 1);
  EXPECT_EQ(MPDeleteQueue(q), noErr);
  gate.open = true;
  WaitFor(gate.waiting, 0);
  // The end is posted into the deleted queue's last reference, which is then freed.
  auto end = Clock::now() + std::chrono::seconds(20);
  while (MPTerminateTask(task, 0) == noErr && Clock::now() < end) std::this_thread::yield();
  EXPECT_EQ(MPTerminateTask(task, 0), kMPInvalidIDErr);
}

TEST(MPTask, InlineWorkSeesTheStopFlagOfTheTaskThatStartedIt) {
  struct Shared {
    std::atomic<int> started{0};
    static OSStatus Inner(void*) { return MPTaskShouldStop() ? -128 : 0; }
    static OSStatus Outer(void* p) {
      auto* s = static_cast<Shared*>(p);
      s->started = 1;
      while (!MPTaskShouldStop()) std::this_thread::sleep_for(std::chrono::microseconds(100));
      MPQueueID q = nullptr;
      MPCreateQueue(&q);
      MPCreateTask(Inner, nullptr, 0, q, nullptr, nullptr, 0, nullptr);
      void* p3 = nullptr;
      MPWaitOnQueue(q, nullptr, nullptr, &p3, kDurationImmediate);
      MPDeleteQueue(q);
      s->started = StatusOf(p3) == -128 ? 2 : 3;
      return 0;
    }
  } shared;
  StQueue q;
  MPTaskID task = nullptr;
  ASSERT_EQ(MPCreateTask(Shared::Outer, &shared, 0, q.q, nullptr, nullptr, 0, &task), noErr);
  WaitFor(shared.started, 1);
  EXPECT_EQ(MPTerminateTask(task, -128), noErr);
  EXPECT_EQ(WaitEnd(q.q), -128);
  EXPECT_EQ(shared.started.load(), 2);
}

TEST(MPTask, ManyTasksFromManyThreadsAllReportTheirEnds) {
  constexpr int kThreads = 4;
  constexpr int kTasks = 3000;
  std::atomic<int> ran{0};
  std::vector<std::thread> threads;
  std::atomic<int> reported{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      MPQueueID q = nullptr;
      ASSERT_EQ(MPCreateQueue(&q), noErr);
      auto entry = [](void* counter) -> OSStatus {
        static_cast<std::atomic<int>*>(counter)->fetch_add(1);
        return 1;
      };
      std::vector<MPTaskID> ids(kTasks);
      for (int i = 0; i < kTasks; ++i) ASSERT_EQ(MPCreateTask(entry, &ran, 0, q, nullptr, nullptr, 0, &ids[i]), noErr);
      // Terminating some of them races with their ends; either way each ends once.
      for (int i = 0; i < kTasks; i += 7) MPTerminateTask(ids[i], -128);
      for (int i = 0; i < kTasks; ++i) {
        void* p3 = nullptr;
        if (MPWaitOnQueue(q, nullptr, nullptr, &p3, 20000) != noErr) break;
        OSStatus s = StatusOf(p3);
        if (s == 1 || s == -128) ++reported;
      }
      void* p3 = nullptr;
      EXPECT_EQ(MPWaitOnQueue(q, nullptr, nullptr, &p3, kDurationImmediate), kMPTimeoutErr);
      MPDeleteQueue(q);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(reported.load(), kThreads * kTasks);
  EXPECT_LE(ran.load(), kThreads * kTasks);
}

namespace {

// Keeps idle workers looking for work (rather than asleep) while it lives,
// with at least one looking when it is made: a worker that ends a task looks
// for more only briefly, which a loaded machine may never let a test see.
struct StWorkersLooking {
  StWorkersLooking() {
    MPKeepWorkersLookingForTesting(true);
    StQueue q;
    EXPECT_EQ(MPCreateTask([](void*) -> OSStatus { return noErr; }, nullptr, 0, q.q, nullptr, nullptr, 0, nullptr),
              noErr);
    EXPECT_EQ(WaitEnd(q.q), noErr);
    WaitForOne();
  }
  // A worker that took work looks again once it is done with it.
  static void WaitForOne() {
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (MPWorkersLookingForTesting() == 0 && Clock::now() < end) std::this_thread::yield();
    EXPECT_GT(MPWorkersLookingForTesting(), 0u) << "no worker looked for work within 60 s";
  }
  ~StWorkersLooking() { MPKeepWorkersLookingForTesting(false); }
  StWorkersLooking(const StWorkersLooking&) = delete;
  StWorkersLooking& operator=(const StWorkersLooking&) = delete;
};

}  // namespace

// An offer reaches only workers that are looking for work: each place taken
// runs the entry once on a pool worker, the places left come back when the
// offer is withdrawn, and nothing runs after that. One offer is out at a
// time, a stale token withdraws nothing, and a pool worker cannot offer.
TEST(MPOffer, PlacesTakenRunOnceAndTheRestComeBack) {
  struct Shared {
    std::atomic<int> runs{0};
    std::atomic<int> offPool{0};
    std::atomic<int> nestedOffered{-1};
  } shared;
  auto entry = [](void* p) -> OSStatus {
    Shared& s = *static_cast<Shared*>(p);
    if (!MPIsPoolWorker()) ++s.offPool;
    UInt32 token = 0;
    int expected = -1;
    s.nestedOffered.compare_exchange_strong(expected, MPOfferToIdleWorkers([](void*) -> OSStatus { return noErr; },
                                                                          nullptr, 1, &token));
    ++s.runs;
    return noErr;
  };
  StWorkersLooking looking;
  const SInt32 wanted = static_cast<SInt32>(MPPoolWorkerCount());
  UInt32 token = 0;
  const SInt32 offered = MPOfferToIdleWorkers(entry, &shared, wanted, &token);
  ASSERT_GT(offered, 0) << "no worker was looking for work";
  EXPECT_LE(offered, wanted);
  // A second offer while this one is out, from any thread, is refused.
  UInt32 other = 0;
  EXPECT_EQ(MPOfferToIdleWorkers(entry, &shared, 1, &other), 0);
  SInt32 fromThread = -1;
  std::thread([&] { fromThread = MPOfferToIdleWorkers(entry, &shared, 1, &other); }).join();
  EXPECT_EQ(fromThread, 0);
  EXPECT_EQ(MPWithdrawOffer(token + 1), 0);  // not the offer that is out

  const SInt32 left = MPWithdrawOffer(token);
  EXPECT_GE(left, 0);
  EXPECT_LE(left, offered);
  const int taken = offered - left;
  const auto end = Clock::now() + std::chrono::seconds(20);
  while (shared.runs.load() < taken && Clock::now() < end) std::this_thread::sleep_for(std::chrono::microseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(shared.runs.load(), taken);
  EXPECT_EQ(shared.offPool.load(), 0);
  if (taken > 0) {
    EXPECT_EQ(shared.nestedOffered.load(), 0);
  }
  EXPECT_EQ(MPWithdrawOffer(token), 0);  // already withdrawn

  // The slot is free again once withdrawn.
  StWorkersLooking::WaitForOne();
  const SInt32 again = MPOfferToIdleWorkers([](void*) -> OSStatus { return noErr; }, nullptr, 1, &token);
  EXPECT_EQ(again, 1);
  if (again > 0) {
    EXPECT_LE(MPWithdrawOffer(token), 1);
  }
}

// A stop flag set for a thread makes MPTaskShouldStop answer true there,
// and only there, until the one it replaced is put back.
TEST(MPTask, AStopFlagOfTheThreadIsHeard) {
  std::atomic<bool> flag{false};
  EXPECT_FALSE(MPTaskShouldStop());
  const std::atomic<bool>* before = MPSetStopFlag(&flag);
  EXPECT_EQ(before, nullptr);
  EXPECT_FALSE(MPTaskShouldStop());
  flag = true;
  EXPECT_TRUE(MPTaskShouldStop());
  bool elsewhere = true;
  std::thread([&] { elsewhere = MPTaskShouldStop(); }).join();
  EXPECT_FALSE(elsewhere);
  EXPECT_EQ(MPSetStopFlag(before), &flag);
  EXPECT_FALSE(MPTaskShouldStop());
}

TEST(MPQueue, DeliversInOrderAndPollsWithoutWaiting) {
  StQueue q;
  for (intptr_t i = 1; i <= 20; ++i)
    ASSERT_EQ(MPNotifyQueue(q.q, reinterpret_cast<void*>(i), reinterpret_cast<void*>(i * 2), nullptr), noErr);
  for (intptr_t i = 1; i <= 20; ++i) {
    void* p1 = nullptr;
    void* p2 = nullptr;
    ASSERT_EQ(MPWaitOnQueue(q.q, &p1, &p2, nullptr, kDurationImmediate), noErr);
    EXPECT_EQ(reinterpret_cast<intptr_t>(p1), i);
    EXPECT_EQ(reinterpret_cast<intptr_t>(p2), i * 2);
  }
  EXPECT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, nullptr, kDurationImmediate), kMPTimeoutErr);
  EXPECT_EQ(MPWaitOnQueue(nullptr, nullptr, nullptr, nullptr, 0), kMPInvalidIDErr);
}

// Positive durations are milliseconds, negative ones microseconds: the
// upper bounds lie halfway to what the other unit would wait, so only a
// hang, not a loaded machine, reaches them.
TEST(MPQueue, TimeOutsCountMillisecondsAndMicroseconds) {
  StQueue q;
  auto t0 = Clock::now();
  EXPECT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, nullptr, 40), kMPTimeoutErr);
  auto ms = Clock::now() - t0;
  EXPECT_GE(ms, std::chrono::milliseconds(40));
  EXPECT_LT(ms, std::chrono::seconds(60));

  t0 = Clock::now();
  EXPECT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, nullptr, -40000), kMPTimeoutErr);
  auto us = Clock::now() - t0;
  EXPECT_GE(us, std::chrono::microseconds(40000));
  EXPECT_LT(us, std::chrono::seconds(20));  // 40 s, had it counted milliseconds

  t0 = Clock::now();
  EXPECT_EQ(MPWaitOnQueue(q.q, nullptr, nullptr, nullptr, -100), kMPTimeoutErr);
  EXPECT_GE(Clock::now() - t0, std::chrono::microseconds(100));
}

TEST(MPQueue, AWaiterWakesForAMessageAndForADelete) {
  MPQueueID q = nullptr;
  ASSERT_EQ(MPCreateQueue(&q), noErr);
  // Each message or delete comes only once the waiter is asleep on the queue,
  // so that it is the wake-up that is tested, however busy the machine.
  auto waitForSleeper = [q] {
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (MPQueueWaitersForTesting(q) == 0 && Clock::now() < end)
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    return MPQueueWaitersForTesting(q) == 1;
  };
  std::atomic<bool> posterSawSleeper{false};
  std::thread poster([&] {
    posterSawSleeper = waitForSleeper();
    MPNotifyQueue(q, reinterpret_cast<void*>(intptr_t{5}), nullptr, nullptr);
  });
  void* p1 = nullptr;
  EXPECT_EQ(MPWaitOnQueue(q, &p1, nullptr, nullptr, kDurationForever), noErr);
  EXPECT_EQ(reinterpret_cast<intptr_t>(p1), 5);
  poster.join();
  EXPECT_TRUE(posterSawSleeper.load()) << "the waiter never went to sleep within 60 s";
  EXPECT_EQ(MPQueueWaitersForTesting(q), 0u);

  // The waiter holds the queue: the delete wakes it instead of freeing the
  // queue under it.
  std::atomic<OSStatus> waited{1};
  std::thread waiter([&] { waited = MPWaitOnQueue(q, nullptr, nullptr, nullptr, kDurationForever); });
  const bool asleep = waitForSleeper();
  EXPECT_TRUE(asleep) << "the waiter never went to sleep within 60 s";
  EXPECT_EQ(MPDeleteQueue(q), noErr);
  waiter.join();
  EXPECT_EQ(waited.load(), kMPDeletedErr);
}

TEST(MPCriticalRegion, ExcludesOthersAndTimesOut) {
  MPCriticalRegionID region = nullptr;
  ASSERT_EQ(MPCreateCriticalRegion(&region), noErr);

  // Unsynchronised arithmetic inside the region: any overlap loses increments.
  SInt64 total = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(MPEnterCriticalRegion(region, kDurationForever), noErr);
        total = total + 1;
        ASSERT_EQ(MPExitCriticalRegion(region), noErr);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(total, 80000);

  ASSERT_EQ(MPEnterCriticalRegion(region, kDurationForever), noErr);
  std::thread other([region] {
    EXPECT_EQ(MPEnterCriticalRegion(region, kDurationImmediate), kMPTimeoutErr);
    auto t0 = Clock::now();
    EXPECT_EQ(MPEnterCriticalRegion(region, 20), kMPTimeoutErr);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(20));
    EXPECT_EQ(MPEnterCriticalRegion(region, -500), kMPTimeoutErr);
    EXPECT_NE(MPExitCriticalRegion(region), noErr);  // not the holder
  });
  other.join();
  EXPECT_NE(MPDeleteCriticalRegion(region), noErr);  // still held
  ASSERT_EQ(MPExitCriticalRegion(region), noErr);
  std::thread later([region] {
    EXPECT_EQ(MPEnterCriticalRegion(region, 1000), noErr);
    EXPECT_EQ(MPExitCriticalRegion(region), noErr);
  });
  later.join();
  EXPECT_EQ(MPDeleteCriticalRegion(region), noErr);
}

// Process exit with work still running: tasks that poll are stopped, one
// that never polls is left behind after a grace period, and nothing faults
// in static destruction.
TEST(MPPoolDeathTest, ExitWithRunningTasksEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static std::atomic<int> sStarted;
        sStarted = 0;
        auto polling = [](void*) -> OSStatus {
          ++sStarted;
          while (!MPTaskShouldStop()) std::this_thread::sleep_for(std::chrono::microseconds(200));
          return 0;
        };
        MPQueueID q = nullptr;
        MPCreateQueue(&q);
        for (int i = 0; i < 3; ++i) MPCreateTask(polling, nullptr, 0, q, nullptr, nullptr, 0, nullptr);
        while (sStarted.load() < 3) std::this_thread::yield();
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_EXIT(
      {
        static std::atomic<int> sStarted;
        sStarted = 0;
        auto stubborn = [](void*) -> OSStatus {
          ++sStarted;
          for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        MPCreateTask(stubborn, nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr);
        while (sStarted.load() < 1) std::this_thread::yield();
        std::exit(4);
      },
      ::testing::ExitedWithCode(4), "");
  // A task created after the pool has shut down (from a later exit handler)
  // runs on the caller and still reports its end.
  EXPECT_EXIT(
      {
        std::atexit([] {
          MPQueueID q = nullptr;
          MPCreateQueue(&q);
          MPCreateTask([](void*) -> OSStatus { return 21; }, nullptr, 0, q, nullptr, nullptr, 0, nullptr);
          void* p3 = nullptr;
          OSStatus err = MPWaitOnQueue(q, nullptr, nullptr, &p3, kDurationImmediate);
          std::_Exit(err == noErr && StatusOf(p3) == 21 ? 5 : 6);
        });
        MPPoolWorkerCount();  // the pool's exit handler runs before the one above
        std::exit(0);
      },
      ::testing::ExitedWithCode(5), "");
}

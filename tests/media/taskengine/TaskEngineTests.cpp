#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "media/CTaskObject.h"
#include "platform/base/LException.h"
#include "platform/tasks/Multiprocessing.h"

namespace {

using Clock = std::chrono::steady_clock;

// An item that returns a fixed status, optionally after a gate opens (or it
// is asked to stop) and after another item has finished.
class CTestItem : public CTaskObject {
 public:
  explicit CTestItem(SInt32 inStatus, std::atomic<int>* inLive = nullptr) : mStatus(inStatus), mLive(inLive) {}
  ~CTestItem() override {
    StopTask(true);
    if (mDestroyed) mDestroyed->fetch_add(1);
  }
  SInt32 Run() override {
    if (mLive) mLive->fetch_add(1);
    started = true;
    SInt32 status = mStatus;
    while (mGate && !mGate->load()) {
      if (ShouldStop()) {
        status = 99;  // any status: a stopped item's result is -128
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    while (mAfter && !mAfter->finished.load() && !ShouldStop()) std::this_thread::yield();
    SetCompletion(mEndCompletion);
    finished = true;
    if (mLive) mLive->fetch_sub(1);
    return status;
  }

  SInt32 mStatus;
  std::atomic<int>* mLive;
  std::atomic<bool>* mGate = nullptr;
  CTestItem* mAfter = nullptr;
  std::atomic<int>* mDestroyed = nullptr;
  SInt32 mEndCompletion = 256;
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
};

bool WaitGroup(CTaskGroup& ioGroup) {
  auto end = Clock::now() + std::chrono::seconds(20);
  while (!ioGroup.IsComplete(-100)) {
    ioGroup.CalcCompletion();
    if (Clock::now() > end) return false;
  }
  return true;
}

void WaitStarted(const CTestItem& inItem) {
  auto end = Clock::now() + std::chrono::seconds(20);
  while (!inItem.started.load() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::microseconds(50));
  ASSERT_TRUE(inItem.started.load());
}

struct StProcessorOverride {
  explicit StProcessorOverride(ItemCount inCount) { MPSetProcessorCountForTesting(inCount); }
  ~StProcessorOverride() {
    MPSetProcessorCountForTesting(0);
    CTaskGroup::mAllowMP = true;
  }
};

}  // namespace

TEST(TaskGroup, PreferredTaskCountFollowsTheProcessorsWithAFloorOfTwo) {
  StProcessorOverride restore(1);
  EXPECT_EQ(CTaskGroup::GetPreferredTaskCount(), 2);
  MPSetProcessorCountForTesting(2);
  EXPECT_EQ(CTaskGroup::GetPreferredTaskCount(), 2);
  MPSetProcessorCountForTesting(3);
  EXPECT_EQ(CTaskGroup::GetPreferredTaskCount(), 3);
  MPSetProcessorCountForTesting(4);
  EXPECT_EQ(CTaskGroup::GetPreferredTaskCount(), 4);
  CTaskGroup::mAllowMP = false;
  EXPECT_EQ(CTaskGroup::GetPreferredTaskCount(), 1);
}

TEST(TaskObject, ARunningItemRefusesASecondRunAndShortPollsChangeNothing) {
  std::atomic<bool> gate{false};
  CTestItem item(9);
  item.mGate = &gate;
  EXPECT_EQ(item.GetOrdinal(), -1);
  EXPECT_EQ(item.GetGroupSize(), 0);
  ASSERT_EQ(item.RunTask(0, 0), noErr);
  EXPECT_EQ(item.RunTask(0, 0), paramErr);
  EXPECT_TRUE(item.IsRunning());
  EXPECT_FALSE(item.IsComplete(0));
  EXPECT_FALSE(item.IsComplete(-100));
  EXPECT_FALSE(item.IsComplete(1));
  EXPECT_EQ(item.GetResult(), 0);
  EXPECT_TRUE(item.IsRunning());
  gate = true;
  EXPECT_TRUE(item.IsComplete(kDurationForever));
  EXPECT_EQ(item.GetResult(), 9);
  EXPECT_FALSE(item.IsRunning());
  EXPECT_EQ(*item.GetCompletionRef(), 256);
  // An ended item runs again, with its result cleared at the start.
  gate = false;
  item.mStatus = 4;
  ASSERT_EQ(item.RunTask(0, 0), noErr);
  EXPECT_EQ(item.GetResult(), 0);
  gate = true;
  EXPECT_TRUE(item.IsComplete(kDurationForever));
  EXPECT_EQ(item.GetResult(), 4);
}

TEST(TaskObject, StopTaskEndsAPollingItemWithUserCancel) {
  std::atomic<bool> gate{false};
  CTestItem item(0);
  item.mGate = &gate;
  ASSERT_EQ(item.RunTask(0, 0), noErr);
  WaitStarted(item);
  item.StopTask(true);
  EXPECT_FALSE(item.IsRunning());
  EXPECT_EQ(item.GetResult(), userCanceledErr);
  EXPECT_TRUE(item.finished.load());
  item.StopTask(true);  // nothing runs: no effect
  EXPECT_EQ(item.GetResult(), userCanceledErr);
}

TEST(TaskGroup, ReportsTheFirstFailureInItemOrderNotInTime) {
  if (MPPoolWorkerCount() < 2) GTEST_SKIP() << "the second item waits for the third";
  CTaskGroup group;
  auto* first = new CTestItem(0);
  auto* second = new CTestItem(5);
  auto* third = new CTestItem(7);
  second->mAfter = third;  // the third ends before the second
  EXPECT_EQ(group.AddTaskObject(first), noErr);
  EXPECT_EQ(group.AddTaskObject(second), noErr);
  EXPECT_EQ(group.AddTaskObject(third), noErr);
  EXPECT_EQ(group.GetCount(), 3);
  EXPECT_EQ(group.GetTaskObject(2), second);
  EXPECT_EQ(group.GetTaskObject(0), nullptr);
  EXPECT_EQ(group.GetTaskObject(4), nullptr);
  EXPECT_EQ(third->GetCriticalRegion(), second->GetCriticalRegion());
  EXPECT_NE(third->GetCriticalRegion(), nullptr);

  ASSERT_EQ(group.RunTasks(0, 0), noErr);
  ASSERT_TRUE(WaitGroup(group));
  EXPECT_EQ(group.GetTaskError(), 5);
  EXPECT_EQ(third->GetResult(), 7);
  for (SInt32 i = 1; i <= 3; ++i) {
    EXPECT_EQ(group.GetTaskObject(i)->GetOrdinal(), i);
    EXPECT_EQ(group.GetTaskObject(i)->GetGroupSize(), 3);
  }
}

TEST(TaskGroup, RefusesNilAndDuplicateItemsAndReportsAnItemThatCouldNotStart) {
  CTaskGroup group;
  EXPECT_EQ(group.AddTaskObject(nullptr), paramErr);
  std::atomic<bool> gate{false};
  auto* busy = new CTestItem(0);
  busy->mGate = &gate;
  auto* idle = new CTestItem(0);
  ASSERT_EQ(group.AddTaskObject(busy), noErr);
  EXPECT_EQ(group.AddTaskObject(busy), paramErr);
  ASSERT_EQ(group.AddTaskObject(idle), noErr);
  EXPECT_EQ(group.GetCount(), 2);
  ASSERT_EQ(busy->RunTask(0, 0), noErr);
  // The first item could not start; the last one did: the failure still shows.
  EXPECT_EQ(group.RunTasks(0, 0), paramErr);
  gate = true;
  ASSERT_TRUE(WaitGroup(group));
  EXPECT_EQ(group.GetTaskError(), 0);
  EXPECT_TRUE(idle->finished.load());
}

TEST(TaskGroup, CancelGivesUserCancelUnlessAnEarlierItemFailedOtherwise) {
  if (MPPoolWorkerCount() < 2) GTEST_SKIP() << "two items must run at once";
  std::atomic<bool> gate{false};
  CTaskGroup group;
  auto* early = new CTestItem(3);
  auto* a = new CTestItem(0);
  auto* b = new CTestItem(0);
  a->mGate = &gate;
  b->mGate = &gate;
  group.AddTaskObject(early);
  group.AddTaskObject(a);
  group.AddTaskObject(b);
  ASSERT_EQ(group.RunTasks(0, 0), noErr);
  ASSERT_TRUE(early->IsComplete(kDurationForever));
  WaitStarted(*a);
  WaitStarted(*b);
  EXPECT_FALSE(group.IsComplete(-100));
  group.StopTasks(true);
  EXPECT_FALSE(a->IsRunning());
  EXPECT_FALSE(b->IsRunning());
  EXPECT_EQ(a->GetResult(), userCanceledErr);
  EXPECT_EQ(b->GetResult(), userCanceledErr);
  EXPECT_TRUE(group.IsComplete(0));
  EXPECT_EQ(group.GetTaskError(), 3);
}

// More items than workers: some run (blocked until stopped), the rest are
// still queued when the group goes.
TEST(TaskGroup, DestroyingAGroupStopsAndWaitsForEveryRunningItem) {
  const int workers = static_cast<int>(MPPoolWorkerCount());
  const int items = workers + 2;
  std::atomic<int> live{0};
  std::atomic<int> destroyed{0};
  std::atomic<bool> gate{false};
  {
    CTaskGroup group;
    for (int i = 0; i < items; ++i) {
      auto* item = new CTestItem(0, &live);
      item->mGate = &gate;
      item->mDestroyed = &destroyed;
      group.AddTaskObject(item);
    }
    ASSERT_EQ(group.RunTasks(0, 0), noErr);
    auto end = Clock::now() + std::chrono::seconds(20);
    while (live.load() < workers && Clock::now() < end) std::this_thread::sleep_for(std::chrono::microseconds(50));
    ASSERT_EQ(live.load(), workers);
  }
  EXPECT_EQ(live.load(), 0);
  EXPECT_EQ(destroyed.load(), items);
}

TEST(TaskGroup, CompletionIsTheIntegerAverage) {
  CTaskGroup empty;
  EXPECT_EQ(empty.CalcCompletion(), 0);
  EXPECT_TRUE(empty.IsComplete(0));
  EXPECT_EQ(empty.RunTasks(0, 0), noErr);
  EXPECT_EQ(empty.GetTaskError(), 0);

  CTaskGroup group;
  for (SInt32 v : {256, 128, 0}) {
    auto* item = new CTestItem(0);
    item->mEndCompletion = v;
    group.AddTaskObject(item);
  }
  ASSERT_EQ(group.RunTasks(0, 0), noErr);
  ASSERT_TRUE(WaitGroup(group));
  EXPECT_EQ(group.CalcCompletion(), 128);
}

TEST(SimpleTask, RunsTheProcedureOnItsOwnZeroedCopy) {
  struct Params {
    SInt32 a;
    SInt32 b;
    SInt32 sum;
  };
  auto proc = [](void* p) -> SInt32 {
    auto* params = static_cast<Params*>(p);
    params->sum = params->a + params->b;
    return params->sum;
  };
  Params original{2, 3, 0};
  CSimpleTask task(proc, &original, sizeof(original));
  ASSERT_NE(task.GetParam(), nullptr);
  EXPECT_NE(task.GetParam(), &original);
  original.a = 100;  // the copy was taken at construction
  ASSERT_EQ(task.RunTask(0, 0), noErr);
  ASSERT_TRUE(task.IsComplete(kDurationForever));
  EXPECT_EQ(task.GetResult(), 5);
  EXPECT_EQ(static_cast<Params*>(task.GetParam())->sum, 5);
  EXPECT_EQ(original.sum, 0);

  // No block given: a zeroed block of the size; size 0: no block at all.
  CSimpleTask zeroed(proc, nullptr, sizeof(Params));
  EXPECT_EQ(static_cast<Params*>(zeroed.GetParam())->a, 0);
  CSimpleTask none([](void* p) -> SInt32 { return p == nullptr ? 21 : 22; }, &original, 0);
  EXPECT_EQ(none.GetParam(), nullptr);
  ASSERT_EQ(none.RunTask(0, 0), noErr);
  ASSERT_TRUE(none.IsComplete(kDurationForever));
  EXPECT_EQ(none.GetResult(), 21);

  try {
    CSimpleTask bad(proc, &original, -1);
    FAIL() << "a negative size must be refused";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), paramErr);
  }
}

TEST(SimpleTask, DestroyingARunningTaskStopsItBeforeFreeingTheCopy) {
  struct Params {
    std::atomic<int>* started;
    SInt32 work[64];
  };
  std::atomic<int> started{0};
  Params params{&started, {}};
  auto* task = new CSimpleTask(
      [](void* p) -> SInt32 {
        auto* params = static_cast<Params*>(p);
        params->started->store(1);
        while (!CTaskObject::ShouldStop()) params->work[0] = params->work[0] + 1;
        for (SInt32& w : params->work) w = 1;  // still touches the copy after the stop
        return 0;
      },
      &params, sizeof(params));
  ASSERT_EQ(task->RunTask(0, 0), noErr);
  auto end = Clock::now() + std::chrono::seconds(20);
  while (started.load() == 0 && Clock::now() < end) std::this_thread::yield();
  delete task;  // the sanitizer build catches a write into freed memory
  SUCCEED();
}

// A group started from pool work: its items run inline on that worker, so
// every worker can be busy with outer items without anything waiting forever.
TEST(TaskGroup, AGroupStartedFromPoolWorkRunsInline) {
  class COuter : public CTaskObject {
   public:
    SInt32 Run() override {
      try {
        CTaskGroup inner;
        for (SInt32 i = 1; i <= 4; ++i) {
          SInt32 value = i;
          inner.AddTaskObject(new CSimpleTask([](void* p) -> SInt32 { return *static_cast<SInt32*>(p) == 3 ? 3 : 0; },
                                              &value, sizeof(value)));
        }
        if (inner.RunTasks(0, 0) != noErr) return -1;
        while (!inner.IsComplete(-100)) inner.CalcCompletion();
        onWorker = MPIsPoolWorker();
        return inner.GetTaskError() + 10;
      } catch (const LException& e) {
        return e.GetErrorCode();
      }
    }
    bool onWorker = false;
  };
  CTaskGroup group;
  const int outers = static_cast<int>(MPPoolWorkerCount()) * 2;
  for (int i = 0; i < outers; ++i) group.AddTaskObject(new COuter);
  ASSERT_EQ(group.RunTasks(0, 0), noErr);
  ASSERT_TRUE(WaitGroup(group));
  for (SInt32 i = 1; i <= outers; ++i) {
    EXPECT_EQ(group.GetTaskObject(i)->GetResult(), 13);
    EXPECT_TRUE(static_cast<COuter*>(group.GetTaskObject(i))->onWorker);
  }
}

TEST(TaskGroup, ManyShortGroupsLoseNoCompletion) {
  constexpr int kGroups = 2000;
  constexpr int kItems = 8;
  std::atomic<int> ran{0};
  class CCount : public CTaskObject {
   public:
    CCount(std::atomic<int>* inRan, SInt32 inStatus) : mRan(inRan), mStatus(inStatus) {}
    SInt32 Run() override {
      mRan->fetch_add(1, std::memory_order_relaxed);
      SetCompletion(256);
      return mStatus;
    }
    std::atomic<int>* mRan;
    SInt32 mStatus;
  };
  int wrong = 0;
  int cancelledItems = 0;
  for (int g = 0; g < kGroups; ++g) {
    CTaskGroup group;
    // Every fifth group has a failing item at a varying place.
    const int failAt = g % 5 == 0 ? 1 + g % kItems : 0;
    for (int i = 1; i <= kItems; ++i) group.AddTaskObject(new CCount(&ran, i == failAt ? 40 + i : 0));
    if (group.RunTasks(0, 0) != noErr) ++wrong;
    if (g % 7 == 3) {
      // Cancelled at once: each item either ran or reports -128.
      group.StopTasks(true);
      for (SInt32 i = 1; i <= kItems; ++i) {
        SInt32 r = group.GetTaskObject(i)->GetResult();
        if (r == userCanceledErr) ++cancelledItems;
        else if (r != (i == failAt ? 40 + i : 0)) ++wrong;
      }
      continue;
    }
    if (!WaitGroup(group)) ++wrong;
    if (group.CalcCompletion() != 256) ++wrong;
    if (group.GetTaskError() != (failAt ? 40 + failAt : 0)) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(ran.load(), kGroups * kItems - cancelledItems);
  EXPECT_LE(ran.load(), kGroups * kItems);
}

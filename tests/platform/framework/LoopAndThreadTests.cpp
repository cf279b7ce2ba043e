#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/framework/LPeriodical.h"
#include "platform/framework/LThread.h"
#include "platform/framework/LTimerTask.h"
#include "platform/framework/UEventLoop.h"

namespace {

class Counter : public LPeriodical {
 public:
  void SpendTime(const EventRecord& inEvent) override {
    ++mCalls;
    mLastWhat = inEvent.what;
    if (mAction) {
      auto action = mAction;  // the action may delete this periodical
      action();
    }
  }
  int mCalls = 0;
  UInt16 mLastWhat = 99;
  std::function<void()> mAction;
};

class Timer : public LTimerTask {
 public:
  explicit Timer(std::vector<int>* inLog, int inId, EventTimerInterval inDelay, EventTimerInterval inInterval = 0)
      : LTimerTask(inDelay, inInterval), mLog(inLog), mId(inId) {}
  void DoTask() override {
    mLog->push_back(mId);
    if (mAction) {
      auto action = mAction;
      action();
    }
  }
  std::vector<int>* mLog;
  int mId;
  std::function<void()> mAction;
};

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { UEventLoop::Reset(); }
  void TearDown() override { UEventLoop::Reset(); }
  StManualClock mClock;
};

}  // namespace

TEST_F(LoopTest, RepeatersAndIdlersRunAtTheirInterval) {
  Counter every, half, idle;
  every.StartRepeating();
  half.StartRepeating(0.5);
  idle.StartIdling(1.0);
  EXPECT_FALSE(UEventLoop::ProcessOnce());  // nothing timed is due yet
  EXPECT_EQ(every.mCalls, 1);
  EXPECT_EQ(every.mLastWhat, nullEvent);
  EXPECT_EQ(half.mCalls, 0);
  UClock::AdvanceSeconds(0.49);
  UEventLoop::ProcessOnce();
  EXPECT_EQ(half.mCalls, 0);
  UClock::AdvanceSeconds(0.01);
  EXPECT_TRUE(UEventLoop::ProcessOnce());
  EXPECT_EQ(half.mCalls, 1);
  UEventLoop::ProcessOnce();  // not again at the same time
  EXPECT_EQ(half.mCalls, 1);
  UClock::AdvanceSeconds(0.5);
  UEventLoop::ProcessOnce();
  EXPECT_EQ(half.mCalls, 2);
  EXPECT_EQ(idle.mCalls, 1);
  // A long stall gives one call, not a burst, and the rhythm restarts.
  UClock::AdvanceSeconds(3.0);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(half.mCalls, 3);
  EXPECT_EQ(idle.mCalls, 2);
  UClock::AdvanceSeconds(0.5);
  UEventLoop::ProcessOnce();
  EXPECT_EQ(half.mCalls, 4);

  half.StopRepeating();
  EXPECT_FALSE(half.IsRepeating());
  UClock::AdvanceSeconds(5);
  UEventLoop::ProcessOnce();
  EXPECT_EQ(half.mCalls, 4);
  EXPECT_GT(every.mCalls, 5);
}

TEST_F(LoopTest, PeriodicalsMayDeleteThemselvesAndOthers) {
  auto* a = new Counter;
  auto* b = new Counter;
  auto* c = new Counter;
  a->StartRepeating();
  b->StartRepeating();
  c->StartRepeating();
  a->mAction = [&] {
    delete a;
    a = nullptr;
  };
  b->mAction = [&] {
    delete c;
    c = nullptr;
  };
  UEventLoop::ProcessOnce();
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(b->mCalls, 1);
  b->mAction = nullptr;
  UEventLoop::ProcessOnce();
  EXPECT_EQ(b->mCalls, 2);
  delete b;
  UEventLoop::ProcessOnce();  // nothing left to call
}

TEST_F(LoopTest, TimersFireOnceEarliestFirstAndMayRearm) {
  std::vector<int> log;
  Timer later(&log, 2, 0.002);
  Timer sooner(&log, 1, 0.001);
  Timer never(&log, 9, kEventDurationForever);
  Timer repeating(&log, 3, 0.010, 0.010);
  EXPECT_FALSE(UEventLoop::ProcessOnce());
  UClock::AdvanceSeconds(0.005);
  EXPECT_TRUE(UEventLoop::ProcessOnce());
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  UEventLoop::ProcessOnce();
  EXPECT_EQ(log.size(), 2u);  // one-shot

  // Re-arming from inside DoTask (as a deferred-procedure queue does) waits for a later pass.
  int rearms = 2;
  sooner.mAction = [&] {
    if (rearms-- > 0) sooner.SetNextFireTime(0);
  };
  sooner.SetNextFireTime(0);
  UEventLoop::ProcessOnce();
  EXPECT_EQ(log.back(), 1);
  EXPECT_EQ(log.size(), 3u);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(log.size(), 5u);
  EXPECT_FALSE(sooner.IsArmed());

  log.clear();
  for (int i = 0; i < 3; ++i) {
    UClock::AdvanceSeconds(0.010);
    UEventLoop::ProcessOnce();
  }
  EXPECT_EQ(log, (std::vector<int>{3, 3, 3}));

  // A timer deleting itself while it fires.
  log.clear();
  auto* self = new Timer(&log, 4, 0);
  self->mAction = [&] { delete self; };
  UEventLoop::ProcessOnce();
  EXPECT_EQ(log, (std::vector<int>{4}));
  repeating.SetNextFireTime(kEventDurationForever);
  EXPECT_EQ(UEventLoop::RunUntilIdle(), 1);
}

TEST(EventLoopRun, RunSleepsUntilATimerQuits) {
  UEventLoop::Reset();
  std::vector<int> log;
  Timer quit(&log, 1, 0.02);
  quit.mAction = [] { UEventLoop::Quit(); };
  auto start = std::chrono::steady_clock::now();
  UEventLoop::Run();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(log, (std::vector<int>{1}));
  EXPECT_GE(elapsed, std::chrono::milliseconds(15));
  EXPECT_LT(elapsed, std::chrono::seconds(60));  // a hang, not a slow machine
  UEventLoop::Reset();
  EXPECT_FALSE(UEventLoop::IsQuitting());
}

namespace {

std::atomic<int> gInside{0};
std::atomic<int> gMaxInside{0};

void Enter() {
  int now = ++gInside;
  int seen = gMaxInside.load();
  while (now > seen && !gMaxInside.compare_exchange_weak(seen, now)) {
  }
}
void Leave() { --gInside; }

class Worker : public LThread {
 public:
  Worker(int inSteps, std::atomic<int>* inDone, std::atomic<int>* inDeleted)
      : mSteps(inSteps), mDone(inDone), mDeleted(inDeleted) {}
  ~Worker() override { ++*mDeleted; }
  std::function<void()> mStep;

 protected:
  void* Run() override {
    for (int i = 0; i < mSteps; ++i) {
      Enter();
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // widen any overlap
      if (mStep) mStep();
      Leave();
      Yield();
    }
    ++*mDone;
    return reinterpret_cast<void*>(static_cast<intptr_t>(mSteps));
  }

 private:
  int mSteps;
  std::atomic<int>* mDone;
  std::atomic<int>* mDeleted;
};

// Sets a flag when destroyed, to see a thread's stack unwind.
struct Unwound {
  explicit Unwound(bool* inFlag) : mFlag(inFlag) {}
  ~Unwound() { *mFlag = true; }
  bool* mFlag;
};

class Looper : public LThread {
 public:
  explicit Looper(bool* inUnwound, bool* inDeleted) : mUnwound(inUnwound), mDeleted(inDeleted) {}
  ~Looper() override { *mDeleted = true; }
  bool mSuspendOnce = false;
  int mLoops = 0;

 protected:
  void* Run() override {
    Unwound guard(mUnwound);
    for (;;) {
      ++mLoops;
      if (mSuspendOnce) {
        mSuspendOnce = false;
        Suspend();
      } else {
        Yield();
      }
    }
  }

 private:
  bool* mUnwound;
  bool* mDeleted;
};

}  // namespace

TEST(Threads, OneBatonForTheMainThreadAndTwoThreads) {
  UMainThread mainThread;
  EXPECT_TRUE(LThread::InMainThread());
  EXPECT_EQ(LThread::GetCurrentThread(), &mainThread);
  std::atomic<int> done{0}, deleted{0};
  gInside = 0;
  gMaxInside = 0;
  auto* a = new Worker(40, &done, &deleted);
  auto* b = new Worker(40, &done, &deleted);
  bool aSawItself = false;
  a->mStep = [&] { aSawItself = LThread::GetCurrentThread() == a && a->IsCurrent() && !LThread::InMainThread(); };
  EXPECT_EQ(LThread::CountReadyThreads(), 0);
  a->Resume();
  b->Resume();
  EXPECT_EQ(LThread::CountReadyThreads(), 2);
  int mainTurns = 0;
  while (done.load() < 2 && mainTurns < 1000) {
    Enter();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    Leave();
    ++mainTurns;
    LThread::Yield();
  }
  EXPECT_EQ(done.load(), 2);
  EXPECT_EQ(gMaxInside.load(), 1);  // never two at once
  EXPECT_GE(mainTurns, 40);          // the threads took turns with the main thread
  EXPECT_LE(mainTurns, 41);
  EXPECT_TRUE(aSawItself);
  EXPECT_EQ(deleted.load(), 2);  // ended threads are deleted by the framework
  EXPECT_EQ(LThread::CountReadyThreads(), 0);
}

TEST(Threads, EventLoopYieldsToReadyThreads) {
  UEventLoop::Reset();
  std::atomic<int> done{0}, deleted{0};
  auto* w = new Worker(5, &done, &deleted);
  w->Resume();
  EXPECT_EQ(UEventLoop::RunUntilIdle(), 7);  // five slices, the end, one idle pass
  EXPECT_EQ(done.load(), 1);
  EXPECT_EQ(deleted.load(), 1);
}

TEST(Threads, SuspendResumeDeleteAndWait) {
  bool unwound = false, deleted = false;
  auto* t = new Looper(&unwound, &deleted);
  t->mSuspendOnce = true;
  t->Resume();
  LThread::Yield();  // it runs and suspends itself
  EXPECT_EQ(t->GetState(), LThread::threadState_Suspended);
  EXPECT_EQ(LThread::CountReadyThreads(), 0);
  EXPECT_FALSE(t->Wait());  // cannot end while suspended
  LThread::Yield();
  EXPECT_EQ(t->mLoops, 1);
  t->Resume();
  LThread::Yield();
  EXPECT_EQ(t->mLoops, 2);
  // Suspended by the main thread: no longer ready.
  t->Suspend();
  LThread::Yield();
  EXPECT_EQ(t->mLoops, 2);
  // Deleting a started thread unwinds it where it waits, then deletes it.
  t->DeleteThread(reinterpret_cast<void*>(7));
  EXPECT_TRUE(unwound);
  EXPECT_TRUE(deleted);

  // A thread never resumed is deleted at once.
  bool unwound2 = false, deleted2 = false;
  auto* idle = new Looper(&unwound2, &deleted2);
  idle->DeleteThread();
  EXPECT_TRUE(deleted2);
  EXPECT_FALSE(unwound2);

  // Wait yields until the thread has ended and is gone.
  std::atomic<int> done{0}, gone{0};
  auto* w = new Worker(3, &done, &gone);
  w->Resume();
  EXPECT_TRUE(w->Wait());
  EXPECT_EQ(done.load(), 1);
  EXPECT_EQ(gone.load(), 1);
}

TEST(Threads, ThreadDeletingItselfAndYieldOutsideTheBaton) {
  class SelfDeleter : public LThread {
   public:
    explicit SelfDeleter(bool* inAfter) : mAfter(inAfter) {}

   protected:
    void* Run() override {
      DeleteThread(reinterpret_cast<void*>(5));
      *mAfter = true;  // never reached
      return nullptr;
    }
    bool* mAfter;
  };
  bool after = false;
  auto* t = new SelfDeleter(&after);
  t->Resume();
  EXPECT_TRUE(t->Wait());
  EXPECT_FALSE(after);

  // A thread outside the baton (a worker pool thread, say) cannot yield.
  std::thread outside([] {
    LThread::Yield();
    EXPECT_FALSE(LThread::InMainThread());
    EXPECT_EQ(LThread::GetCurrentThread(), nullptr);
  });
  outside.join();
  EXPECT_THROW(
      {
        class Preemptive : public LThread {
         public:
          Preemptive() : LThread(true) {}
          void* Run() override { return nullptr; }
        } p;
      },
      LException);
}

// Preemptive tasks over a persistent pool of worker threads, message queues
// and critical regions.
//
// The pool holds one worker per processor, started on first use and kept for
// the life of the process. A task is a heap record. It is handed straight to
// a worker that is still looking for work (each has a mailbox and a bit in an
// idle mask), or else queued, and only then is a sleeping worker woken. The
// worker runs the entry and reports the task's end to the notify queue.
// Task IDs are serial numbers looked up in a registry, never pointers, so a
// stale ID (a task that already ended) answers kMPInvalidIDErr instead of
// touching freed memory. Queues are reference counted: a task keeps its notify
// queue alive until it has posted its end, so deleting a queue early is safe.

#include "platform/tasks/Multiprocessing.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/base/LException.h"
#include "platform/tasks/CpuRelax.h"


namespace {

using Clock = std::chrono::steady_clock;

// How long an idle worker keeps looking for new work before it sleeps, and how
// long a queue waiter looks for a message before it blocks (per call, and in
// all until a message comes). Short bursts of small tasks (one band per
// processor, many times a second) then never pay a sleep and a wake-up; a
// long idle period costs nothing.
constexpr auto kWorkerSpin = std::chrono::microseconds(100);
constexpr SInt64 kWaitSpinMicros = 20;
constexpr SInt64 kWaitSpinBudgetMicros = 60;
// How long process exit waits for running tasks to notice their stop flag.
constexpr auto kShutdownGrace = std::chrono::seconds(2);


// Spins until inReady() or until inLimit has passed; true when ready.
template <class Pred>
bool SpinUntil(Pred inReady, Clock::duration inLimit) {
  if (inLimit <= Clock::duration::zero()) return inReady();
  const Clock::time_point end = Clock::now() + inLimit;
  for (;;) {
    for (int i = 0; i < 32; ++i) {
      if (inReady()) return true;
      CpuRelax();
    }
    if (Clock::now() >= end) return inReady();
  }
}

// A multiprocessing duration: positive milliseconds, negative microseconds.
bool IsForever(Duration inTimeout) { return inTimeout == kDurationForever; }
Clock::duration ToClockDuration(Duration inTimeout) {
  if (inTimeout >= 0) return std::chrono::milliseconds(inTimeout);
  return std::chrono::microseconds(-static_cast<SInt64>(inTimeout));
}

}  // namespace

// ---------------------------------------------------------------------------
// Queues

struct OpaqueMPQueueID {
  struct Message {
    void* p1;
    void* p2;
    void* p3;
  };

  std::atomic<SInt32> mRefs{1};
  // Messages waiting; read without the lock by spinning waiters.
  std::atomic<UInt32> mCount{0};
  std::atomic<bool> mDeleted{false};
  // Time waiters have spun without a message since the last one was taken.
  std::atomic<SInt64> mSpunMicros{0};
  std::mutex mMutex;
  std::condition_variable mCond;
  UInt32 mWaiters = 0;
  // A ring of messages, inline while small (a termination queue holds one
  // message at a time); grows by doubling and never shrinks.
  Message mInline[2] = {};
  std::unique_ptr<Message[]> mHeap;
  Message* mRing = mInline;
  size_t mCapacity = 2;
  size_t mHead = 0;
  size_t mSize = 0;

  void Retain() { mRefs.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (mRefs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  OSStatus Post(void* inP1, void* inP2, void* inP3) {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (mDeleted.load(std::memory_order_relaxed)) return kMPDeletedErr;
      if (mSize == mCapacity) {
        std::unique_ptr<Message[]> grown(new (std::nothrow) Message[mCapacity * 2]);
        if (!grown) return kMPInsufficientResourcesErr;
        for (size_t i = 0; i < mSize; ++i) grown[i] = mRing[(mHead + i) % mCapacity];
        mHeap = std::move(grown);
        mRing = mHeap.get();
        mCapacity *= 2;
        mHead = 0;
      }
      mRing[(mHead + mSize) % mCapacity] = Message{inP1, inP2, inP3};
      ++mSize;
      mCount.store(static_cast<UInt32>(mSize), std::memory_order_release);
      wake = mWaiters > 0;
    }
    if (wake) mCond.notify_one();
    return noErr;
  }

  // With the lock held: takes the oldest message when there is one.
  bool PopLocked(void** outP1, void** outP2, void** outP3) {
    if (mSize == 0) return false;
    const Message& m = mRing[mHead];
    if (outP1) *outP1 = m.p1;
    if (outP2) *outP2 = m.p2;
    if (outP3) *outP3 = m.p3;
    mHead = (mHead + 1) % mCapacity;
    --mSize;
    mSpunMicros.store(0, std::memory_order_relaxed);
    mCount.store(static_cast<UInt32>(mSize), std::memory_order_release);
    return true;
  }

  OSStatus Wait(void** outP1, void** outP2, void** outP3, Duration inTimeout) {
    const bool forever = IsForever(inTimeout);
    const Clock::duration limit = forever ? Clock::duration::zero() : ToClockDuration(inTimeout);
    const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + limit;

    const SInt64 spun = mSpunMicros.load(std::memory_order_relaxed);
    if (inTimeout != kDurationImmediate && spun < kWaitSpinBudgetMicros) {
      // Ends of short tasks arrive within microseconds: look for them before
      // blocking. A message that is long in coming (a long task polled every
      // 100 µs) stops being spun for, so the polling thread leaves the
      // processors to the work.
      Clock::duration spin = std::chrono::microseconds(std::min<SInt64>(kWaitSpinMicros, kWaitSpinBudgetMicros - spun));
      if (!forever) spin = std::min(spin, limit);
      const Clock::time_point start = Clock::now();
      const bool arrived = SpinUntil(
          [this] {
            return mCount.load(std::memory_order_acquire) > 0 || mDeleted.load(std::memory_order_acquire);
          },
          spin);
      if (!arrived)
        mSpunMicros.fetch_add(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count(),
                              std::memory_order_relaxed);
    }

    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
      if (mDeleted.load(std::memory_order_relaxed)) return kMPDeletedErr;
      if (PopLocked(outP1, outP2, outP3)) return noErr;
      if (inTimeout == kDurationImmediate) return kMPTimeoutErr;
      ++mWaiters;
      if (forever) {
        mCond.wait(lock);
      } else if (mCond.wait_until(lock, deadline) == std::cv_status::timeout) {
        --mWaiters;
        if (mDeleted.load(std::memory_order_relaxed)) return kMPDeletedErr;
        return PopLocked(outP1, outP2, outP3) ? noErr : kMPTimeoutErr;
      }
      --mWaiters;
    }
  }

  UInt32 Waiters() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mWaiters;
  }

  void MarkDeleted() {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mDeleted.store(true, std::memory_order_release);
      mSize = 0;
      mHead = 0;
      mCount.store(0, std::memory_order_release);
      wake = mWaiters > 0;
    }
    if (wake) mCond.notify_all();
  }
};

// ---------------------------------------------------------------------------
// Tasks and the pool

namespace {

enum ETaskState : int { kTaskQueued, kTaskRunning, kTaskCancelled };

struct TaskRecord {
  TaskProc mEntry = nullptr;
  void* mParam = nullptr;
  OpaqueMPQueueID* mNotify = nullptr;  // retained until the end is posted
  void* mTerm1 = nullptr;
  void* mTerm2 = nullptr;
  uintptr_t mID = 0;
  std::atomic<int> mState{kTaskQueued};
  std::atomic<bool> mStop{false};
  OSStatus mStopStatus = noErr;      // guarded by the registry lock
  TaskRecord* mParent = nullptr;     // the task that ran this one inline
  TaskRecord* mNextInBucket = nullptr;  // the registry's chain
};

thread_local TaskRecord* tCurrentTask = nullptr;
thread_local const std::atomic<bool>* tStopFlag = nullptr;
thread_local bool tIsPoolWorker = false;

std::atomic<uintptr_t> gNextTaskID{1};
std::atomic<ItemCount> gProcessorOverride{0};
// Set by tests: idle workers keep looking for work past their spin.
std::atomic<bool> gKeepLooking{false};

ItemCount RealProcessorCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<ItemCount>(n);
}

// Runs an entry; an exception that escapes it becomes the task's status
// instead of ending the process.
OSStatus InvokeEntry(TaskProc inEntry, void* inParam) {
  try {
    return inEntry(inParam);
  } catch (...) {
    const ExceptionCode code = ExceptionCodeOfCurrent(memFullErr, kMPTaskAbortedErr);
    return code != noErr ? code : kMPTaskAbortedErr;
  }
}

void PostEnd(OpaqueMPQueueID* inQueue, void* inTerm1, void* inTerm2, OSStatus inStatus) {
  if (inQueue == nullptr) return;
  inQueue->Post(inTerm1, inTerm2, reinterpret_cast<void*>(static_cast<intptr_t>(inStatus)));
  inQueue->Release();
}

// A lock for a few instructions' worth of work (a queue push or pop, a table
// look-up). Contended, it spins and then yields rather than sleeping in the
// kernel, which would cost far more than the work it protects.
class CSpinLock {
 public:
  void lock() {
    for (int n = 0;; ++n) {
      if (!mLocked.exchange(true, std::memory_order_acquire)) return;
      while (mLocked.load(std::memory_order_relaxed)) {
        if (++n < 128)
          CpuRelax();
        else
          std::this_thread::yield();
      }
    }
  }
  bool try_lock() {
    return !mLocked.load(std::memory_order_relaxed) && !mLocked.exchange(true, std::memory_order_acquire);
  }
  void unlock() { mLocked.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> mLocked{false};
};

// The running and queued tasks by ID: a hash table whose chains run through
// the records themselves (nothing is allocated per task), sharded so that
// workers ending tasks at the same moment rarely meet on one lock. A shard's
// lock also guards its records' stop status.
class CTaskRegistry {
 public:
  static constexpr uintptr_t kShards = 32;
  static constexpr uintptr_t kBuckets = 64;

  struct alignas(64) Shard {
    CSpinLock mLock;
    TaskRecord* mBuckets[kBuckets] = {};

    TaskRecord*& BucketOf(uintptr_t inID) { return mBuckets[(inID / kShards) % kBuckets]; }
    void InsertLocked(TaskRecord* inTask) {
      TaskRecord*& head = BucketOf(inTask->mID);
      inTask->mNextInBucket = head;
      head = inTask;
    }
    TaskRecord* FindLocked(uintptr_t inID) {
      for (TaskRecord* t = BucketOf(inID); t != nullptr; t = t->mNextInBucket)
        if (t->mID == inID) return t;
      return nullptr;
    }
    void EraseLocked(uintptr_t inID) {
      for (TaskRecord** link = &BucketOf(inID); *link != nullptr; link = &(*link)->mNextInBucket) {
        if ((*link)->mID == inID) {
          *link = (*link)->mNextInBucket;
          return;
        }
      }
    }
  };

  Shard& ShardOf(uintptr_t inID) { return mShards[inID % kShards]; }

  template <class Fn>
  void ForEach(Fn inFn) {
    for (Shard& shard : mShards) {
      std::lock_guard<CSpinLock> lock(shard.mLock);
      for (TaskRecord* head : shard.mBuckets)
        for (TaskRecord* t = head; t != nullptr; t = t->mNextInBucket) inFn(t);
    }
  }

 private:
  Shard mShards[kShards];
};

class CTaskPool {
 public:
  CTaskPool() {
    ItemCount n = RealProcessorCount();
    mWorkers.reserve(n);
    for (ItemCount i = 0; i < n; ++i) {
      try {
        mWorkers.emplace_back([this, i] { WorkerMain(i); });
        mLiveWorkers.fetch_add(1, std::memory_order_relaxed);
      } catch (const std::system_error&) {
        break;  // run with the workers we got; with none, tasks run inline
      }
    }
  }

  ItemCount WorkerCount() const { return static_cast<ItemCount>(mWorkers.size()); }

  // Registers and queues a task; false when the pool cannot take it (shut
  // down or without workers), in which case the caller runs it inline.
  bool Submit(TaskRecord* inTask) {
    if (mWorkers.empty() || mShutdown.load(std::memory_order_acquire)) return false;
    {
      CTaskRegistry::Shard& shard = mRegistry.ShardOf(inTask->mID);
      std::lock_guard<CSpinLock> lock(shard.mLock);
      shard.InsertLocked(inTask);
    }
    // Hand the task straight to a worker that is looking for work: one
    // exchange on a line of its own, no shared queue, no wake-up call.
    UInt64 idle = mIdleMask.load(std::memory_order_acquire);
    while (idle != 0) {
      const UInt64 bit = idle & (~idle + 1);
      if (mIdleMask.compare_exchange_weak(idle, idle & ~bit, std::memory_order_acq_rel)) {
        mSlots[std::countr_zero(bit)].mMailbox.store(inTask, std::memory_order_release);
        return true;
      }
    }
    {
      std::lock_guard<CSpinLock> lock(mQueueLock);
      mQueue.push_back(inTask);
      mPending.store(static_cast<UInt32>(mQueue.size()), std::memory_order_release);
    }
    WakeIfNeeded();
    return true;
  }

  // Wakes a sleeping worker when tasks are queued. A task is queued only
  // when no worker offered itself, and a worker that becomes busy calls this
  // again, so a queued task never waits for a long task to end while a
  // worker sleeps. (A worker about to sleep looks at the queue once more.)
  void WakeIfNeeded() {
    if (mPending.load(std::memory_order_seq_cst) > 0 && mSleepers.load(std::memory_order_seq_cst) > 0) {
      mEpoch.fetch_add(1, std::memory_order_release);
      mEpoch.notify_one();
    }
  }

  OSStatus Terminate(uintptr_t inID, OSStatus inStatus) { return Cancel(inID, inStatus, true); }
  bool Withdraw(uintptr_t inID, OSStatus inStatus) { return Cancel(inID, inStatus, false) == noErr; }

 private:
  // Cancels a queued task; a running one is asked to stop when inStopRunning
  // and answers kMPTaskAbortedErr otherwise (left as it is).
  OSStatus Cancel(uintptr_t inID, OSStatus inStatus, bool inStopRunning) {
    OpaqueMPQueueID* queue;
    void* term1;
    void* term2;
    {
      CTaskRegistry::Shard& shard = mRegistry.ShardOf(inID);
      std::lock_guard<CSpinLock> lock(shard.mLock);
      TaskRecord* t = shard.FindLocked(inID);
      if (t == nullptr) return kMPInvalidIDErr;
      // Copy what reporting needs first: once cancelled, the worker that pops
      // the record frees it.
      queue = t->mNotify;
      term1 = t->mTerm1;
      term2 = t->mTerm2;
      int expected = kTaskQueued;
      if (!t->mState.compare_exchange_strong(expected, kTaskCancelled, std::memory_order_acq_rel)) {
        if (!inStopRunning) return kMPTaskAbortedErr;
        // Running: it ends when the work notices the stop flag.
        if (!t->mStop.load(std::memory_order_relaxed)) {
          t->mStopStatus = inStatus;
          t->mStop.store(true, std::memory_order_release);
        }
        return noErr;
      }
      shard.EraseLocked(inID);
    }
    // Never started: its entry never runs and its end is reported now.
    PostEnd(queue, term1, term2, inStatus);
    return noErr;
  }

 public:
  // Called once at process exit: queued tasks are dropped (reported as
  // aborted), running tasks are asked to stop, and the workers are joined when
  // they end within the grace period. The pool object itself is never freed,
  // so a late call from another static destructor finds it intact and runs
  // its task inline.
  void Shutdown() {
    mShutdown.store(true, std::memory_order_seq_cst);
    mEpoch.fetch_add(1, std::memory_order_release);
    mEpoch.notify_all();
    mRegistry.ForEach([](TaskRecord* t) {
      if (!t->mStop.load(std::memory_order_relaxed)) {
        t->mStopStatus = kMPTaskAbortedErr;
        t->mStop.store(true, std::memory_order_release);
      }
    });
    bool allEnded;
    {
      std::unique_lock<std::mutex> lock(mEndMutex);
      allEnded = mWorkersEnded.wait_for(lock, kShutdownGrace,
                                        [this] { return mLiveWorkers.load(std::memory_order_acquire) == 0; });
    }
    for (std::thread& w : mWorkers) {
      if (allEnded)
        w.join();
      else
        w.detach();
    }
    // A task queued while the workers were leaving is reported as aborted.
    while (TaskRecord* t = TryPop()) Execute(t);
  }

 private:
  TaskRecord* TryPop(bool inWaitForLock = true) {
    std::unique_lock<CSpinLock> lock(mQueueLock, std::defer_lock);
    if (inWaitForLock)
      lock.lock();
    else if (!lock.try_lock())
      return nullptr;  // someone else is at the queue; look again shortly
    if (mQueue.empty()) return nullptr;
    TaskRecord* t = mQueue.front();
    mQueue.pop_front();
    mPending.store(static_cast<UInt32>(mQueue.size()), std::memory_order_release);
    return t;
  }

  // What a looking worker found: a task, or a place in an offer.
  struct Found {
    TaskRecord* task = nullptr;
    TaskProc offerEntry = nullptr;
    void* offerParam = nullptr;
  };

  // Takes one place of the current offer, if it has any left.
  bool TakeOffer(Found& outFound) {
    UInt64 word = mOfferWord.load(std::memory_order_acquire);
    while ((word & kPlacesMask) != 0) {
      // Read before the place is taken: entry and parameter are stored
      // (release) only after the previous offer was withdrawn, so values of
      // a later offer mean this word is gone and the exchange below fails.
      TaskProc entry = mOfferEntry.load(std::memory_order_acquire);
      void* param = mOfferParam.load(std::memory_order_acquire);
      if (mOfferWord.compare_exchange_weak(word, word - 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
        outFound.offerEntry = entry;
        outFound.offerParam = param;
        return true;
      }
    }
    return false;
  }

 public:
  // Offers inEntry(inParam) to up to inCount of the workers looking for
  // work right now; 0 when none is, or another offer is out.
  SInt32 Offer(TaskProc inEntry, void* inParam, SInt32 inCount, UInt32& outToken) {
    if (inCount <= 0 || mWorkers.empty() || mShutdown.load(std::memory_order_acquire)) return 0;
    const SInt32 idle = std::popcount(mIdleMask.load(std::memory_order_relaxed));
    const SInt32 places = std::min(inCount, idle);
    if (places <= 0) return 0;
    if (mOfferBusy.exchange(true, std::memory_order_acquire)) return 0;
    const UInt32 generation = ++mOfferGeneration;
    mOfferEntry.store(inEntry, std::memory_order_release);
    mOfferParam.store(inParam, std::memory_order_release);
    mOfferWord.store((UInt64{generation} << 32) | static_cast<UInt32>(places), std::memory_order_release);
    outToken = generation;
    return places;
  }

  SInt32 Looking() const { return std::popcount(mIdleMask.load(std::memory_order_acquire)); }

  // Ends the offer: the number of places no worker took. A token that is
  // not the current offer's ends nothing.
  SInt32 Withdraw(UInt32 inToken) {
    UInt64 word = mOfferWord.load(std::memory_order_acquire);
    for (;;) {
      if ((word >> 32) != inToken) return 0;
      if (mOfferWord.compare_exchange_weak(word, UInt64{inToken} << 32, std::memory_order_acq_rel,
                                           std::memory_order_acquire))
        break;
    }
    mOfferBusy.store(false, std::memory_order_release);
    return static_cast<SInt32>(word & kPlacesMask);
  }

 private:
  // Looks for work for a short while; nothing when none came. A worker with
  // a mailbox offers itself in the idle mask, and a task handed to it there
  // is never lost: once its bit has been taken, the task is on its way.
  Found Spin(UInt32 inWorker) {
    const bool hasMailbox = inWorker < kMaxMailboxes;
    const UInt64 bit = hasMailbox ? UInt64{1} << inWorker : 0;
    std::atomic<TaskRecord*>* mailbox = hasMailbox ? &mSlots[inWorker].mMailbox : nullptr;
    if (hasMailbox) mIdleMask.fetch_or(bit, std::memory_order_acq_rel);

    Found found;
    TaskRecord*& t = found.task;
    bool handedOver = false;  // the offer was taken: the bit is already clear
    const Clock::time_point spinEnd = Clock::now() + kWorkerSpin;
    for (;;) {
      if (hasMailbox && (t = mailbox->exchange(nullptr, std::memory_order_acquire)) != nullptr) {
        handedOver = true;
        break;
      }
      if (TakeOffer(found)) break;
      if (mPending.load(std::memory_order_acquire) > 0 && (t = TryPop(false)) != nullptr) break;
      if (mShutdown.load(std::memory_order_relaxed)) break;
      // A few pauses between looks: new work is seen within about a tenth
      // of a microsecond, and looking costs no line another processor writes.
      for (int i = 0; i < 4; ++i) CpuRelax();
      if (Clock::now() >= spinEnd && !gKeepLooking.load(std::memory_order_relaxed)) break;
    }
    if (hasMailbox && !handedOver && (mIdleMask.fetch_and(~bit, std::memory_order_acq_rel) & bit) == 0) {
      // A producer took the offer while this worker gave up or took a queued
      // task: its task is on the way and must not be dropped.
      TaskRecord* handed;
      while ((handed = mailbox->exchange(nullptr, std::memory_order_acquire)) == nullptr) CpuRelax();
      if (t == nullptr && found.offerEntry == nullptr) {
        t = handed;
      } else {
        // Already holding a queued task or a place in an offer: queue the
        // handed one again rather than keeping it behind work that may wait
        // for it.
        std::lock_guard<CSpinLock> lock(mQueueLock);
        mQueue.push_back(handed);
        mPending.store(static_cast<UInt32>(mQueue.size()), std::memory_order_release);
      }
    }
    if (t != nullptr || found.offerEntry != nullptr) WakeIfNeeded();
    return found;
  }

  // Sleeps until there is work; nil once the pool shuts down with nothing left.
  TaskRecord* Sleep() {
    for (;;) {
      const UInt32 epoch = mEpoch.load(std::memory_order_acquire);
      mSleepers.fetch_add(1, std::memory_order_seq_cst);
      TaskRecord* t = TryPop();
      if (t != nullptr || mShutdown.load(std::memory_order_seq_cst)) {
        mSleepers.fetch_sub(1, std::memory_order_seq_cst);
        return t;
      }
      mEpoch.wait(epoch, std::memory_order_acquire);
      mSleepers.fetch_sub(1, std::memory_order_seq_cst);
    }
  }

  void WorkerMain(UInt32 inWorker) {
    tIsPoolWorker = true;
    for (;;) {
      // A burst of tasks (one band per processor, many times a second) is
      // taken by workers that are still looking for work, so it never pays
      // for waking sleeping threads.
      const Found found = Spin(inWorker);
      if (found.offerEntry != nullptr) {
        (void)InvokeEntry(found.offerEntry, found.offerParam);
        continue;
      }
      TaskRecord* t = found.task;
      if (t == nullptr) {
        t = Sleep();
        if (t == nullptr) break;
        WakeIfNeeded();
      }
      Execute(t);
    }
    {
      std::lock_guard<std::mutex> lock(mEndMutex);
      mLiveWorkers.fetch_sub(1, std::memory_order_acq_rel);
    }
    mWorkersEnded.notify_all();
  }

  void Execute(TaskRecord* t) {
    int expected = kTaskQueued;
    if (!t->mState.compare_exchange_strong(expected, kTaskRunning, std::memory_order_acq_rel)) {
      // Terminated before it started and already reported. The terminating
      // thread unlinks the record under the shard lock: wait for that.
      { std::lock_guard<CSpinLock> lock(mRegistry.ShardOf(t->mID).mLock); }
      delete t;
      return;
    }
    OSStatus status = kMPTaskAbortedErr;
    if (!mShutdown.load(std::memory_order_acquire)) {
      tCurrentTask = t;
      status = InvokeEntry(t->mEntry, t->mParam);
      tCurrentTask = nullptr;
    }
    {
      CTaskRegistry::Shard& shard = mRegistry.ShardOf(t->mID);
      std::lock_guard<CSpinLock> lock(shard.mLock);
      shard.EraseLocked(t->mID);
      if (t->mStop.load(std::memory_order_relaxed)) status = t->mStopStatus;
    }
    PostEnd(t->mNotify, t->mTerm1, t->mTerm2, status);
    delete t;
  }

  struct alignas(64) WorkerSlot {
    std::atomic<TaskRecord*> mMailbox{nullptr};
  };
  static constexpr UInt32 kMaxMailboxes = 64;  // one bit each in the idle mask

  std::vector<std::thread> mWorkers;
  WorkerSlot mSlots[kMaxMailboxes];
  alignas(64) std::atomic<UInt64> mIdleMask{0};  // workers offering their mailbox

  // The offer: its generation and places left in one word, so that a place
  // is taken by one exchange and never from an offer already withdrawn.
  static constexpr UInt64 kPlacesMask = 0xFFFFFFFFu;
  alignas(64) std::atomic<UInt64> mOfferWord{0};
  std::atomic<TaskProc> mOfferEntry{nullptr};
  std::atomic<void*> mOfferParam{nullptr};
  alignas(64) std::atomic<bool> mOfferBusy{false};  // one offer out at a time
  UInt32 mOfferGeneration = 0;                       // written by the offer's owner only

  alignas(64) CSpinLock mQueueLock;  // guards mQueue
  std::deque<TaskRecord*> mQueue;
  std::atomic<UInt32> mPending{0};   // queue length, read without the lock
  std::atomic<UInt32> mSleepers{0};
  std::atomic<UInt32> mEpoch{0};     // bumped to wake sleepers
  std::atomic<bool> mShutdown{false};

  std::mutex mEndMutex;
  std::condition_variable mWorkersEnded;
  std::atomic<UInt32> mLiveWorkers{0};

  CTaskRegistry mRegistry;
};

std::atomic<CTaskPool*> gPool{nullptr};

void ShutdownPoolAtExit() {
  if (CTaskPool* pool = gPool.load(std::memory_order_acquire)) pool->Shutdown();
}

CTaskPool& Pool() {
  static CTaskPool* sPool = [] {
    CTaskPool* pool = new CTaskPool;
    gPool.store(pool, std::memory_order_release);
    std::atexit(ShutdownPoolAtExit);
    return pool;
  }();
  return *sPool;
}

// Runs a task on the calling thread: for tasks created by pool work (a group
// started from a band must not wait for workers that are all busy with its
// parents) and after the pool has shut down.
void RunInline(TaskRecord& ioTask) {
  ioTask.mParent = tCurrentTask;
  tCurrentTask = &ioTask;
  OSStatus status = InvokeEntry(ioTask.mEntry, ioTask.mParam);
  tCurrentTask = ioTask.mParent;
  PostEnd(ioTask.mNotify, ioTask.mTerm1, ioTask.mTerm2, status);
}

}  // namespace

OSStatus MPCreateTask(TaskProc inEntry, void* inParameter, ByteCount /*inStackSize*/, MPQueueID inNotifyQueue,
                      void* inTerm1, void* inTerm2, MPTaskOptions /*inOptions*/, MPTaskID* outTask) {
  if (inEntry == nullptr) return paramErr;
  const uintptr_t id = gNextTaskID.fetch_add(1, std::memory_order_relaxed);
  auto fill = [&](TaskRecord& ioTask) {
    ioTask.mEntry = inEntry;
    ioTask.mParam = inParameter;
    ioTask.mNotify = inNotifyQueue;
    ioTask.mTerm1 = inTerm1;
    ioTask.mTerm2 = inTerm2;
    ioTask.mID = id;
    if (inNotifyQueue) inNotifyQueue->Retain();  // released once the end is posted
  };
  if (outTask) *outTask = reinterpret_cast<MPTaskID>(id);

  if (tIsPoolWorker) {
    TaskRecord task;
    fill(task);
    task.mState.store(kTaskRunning, std::memory_order_relaxed);
    RunInline(task);
    return noErr;
  }
  TaskRecord* t = new (std::nothrow) TaskRecord;
  if (t == nullptr) {
    if (outTask) *outTask = nullptr;
    return kMPInsufficientResourcesErr;
  }
  fill(*t);
  if (!Pool().Submit(t)) {
    // The pool has shut down (process exit) or has no workers: run it here.
    t->mState.store(kTaskRunning, std::memory_order_relaxed);
    RunInline(*t);
    delete t;
  }
  return noErr;
}

OSStatus MPTerminateTask(MPTaskID inTask, OSStatus inStatus) {
  if (inTask == nullptr) return kMPInvalidIDErr;
  CTaskPool* pool = gPool.load(std::memory_order_acquire);
  if (pool == nullptr) return kMPInvalidIDErr;  // no task was ever queued
  return pool->Terminate(reinterpret_cast<uintptr_t>(inTask), inStatus);
}

bool MPWithdrawQueuedTask(MPTaskID inTask, OSStatus inStatus) {
  if (inTask == nullptr) return false;
  CTaskPool* pool = gPool.load(std::memory_order_acquire);
  return pool != nullptr && pool->Withdraw(reinterpret_cast<uintptr_t>(inTask), inStatus);
}

SInt32 MPOfferToIdleWorkers(TaskProc inEntry, void* inParameter, SInt32 inCount, UInt32* outToken) {
  if (inEntry == nullptr || outToken == nullptr || tIsPoolWorker) return 0;
  return Pool().Offer(inEntry, inParameter, inCount, *outToken);
}

SInt32 MPWithdrawOffer(UInt32 inToken) {
  CTaskPool* pool = gPool.load(std::memory_order_acquire);
  return pool != nullptr ? pool->Withdraw(inToken) : 0;
}

const std::atomic<bool>* MPSetStopFlag(const std::atomic<bool>* inFlag) {
  const std::atomic<bool>* previous = tStopFlag;
  tStopFlag = inFlag;
  return previous;
}

bool MPTaskShouldStop() {
  if (tStopFlag != nullptr && tStopFlag->load(std::memory_order_relaxed)) return true;
  for (const TaskRecord* t = tCurrentTask; t != nullptr; t = t->mParent)
    if (t->mStop.load(std::memory_order_acquire)) return true;
  return false;
}

bool MPIsPoolWorker() { return tIsPoolWorker; }

OSStatus MPCreateQueue(MPQueueID* outQueue) {
  if (outQueue == nullptr) return paramErr;
  *outQueue = new (std::nothrow) OpaqueMPQueueID;
  return *outQueue ? noErr : kMPInsufficientResourcesErr;
}

OSStatus MPDeleteQueue(MPQueueID inQueue) {
  if (inQueue == nullptr) return kMPInvalidIDErr;
  inQueue->MarkDeleted();
  inQueue->Release();
  return noErr;
}

OSStatus MPNotifyQueue(MPQueueID inQueue, void* inP1, void* inP2, void* inP3) {
  if (inQueue == nullptr) return kMPInvalidIDErr;
  return inQueue->Post(inP1, inP2, inP3);
}

OSStatus MPWaitOnQueue(MPQueueID inQueue, void** outP1, void** outP2, void** outP3, Duration inTimeout) {
  if (inQueue == nullptr) return kMPInvalidIDErr;
  // A waiter keeps the queue alive, so a delete during the wait wakes it
  // with kMPDeletedErr instead of freeing memory under it.
  inQueue->Retain();
  OSStatus err = inQueue->Wait(outP1, outP2, outP3, inTimeout);
  inQueue->Release();
  return err;
}

ItemCount MPQueueWaitersForTesting(MPQueueID inQueue) { return inQueue ? inQueue->Waiters() : 0; }

// ---------------------------------------------------------------------------
// Critical regions

// A region is a flag guarded by a mutex, so that entering can wait with a
// time-out on a condition variable and leaving can check the caller.
struct OpaqueMPCriticalRegionID {
  std::mutex mMutex;
  std::condition_variable mFree;
  bool mHeld = false;
  UInt32 mWaiters = 0;
  std::thread::id mOwner;
};

OSStatus MPCreateCriticalRegion(MPCriticalRegionID* outRegion) {
  if (outRegion == nullptr) return paramErr;
  *outRegion = new (std::nothrow) OpaqueMPCriticalRegionID;
  return *outRegion ? noErr : kMPInsufficientResourcesErr;
}

OSStatus MPDeleteCriticalRegion(MPCriticalRegionID inRegion) {
  if (inRegion == nullptr) return kMPInvalidIDErr;
  {
    // A held region (or one being waited for) stays: freeing it would pull
    // the memory from under its holder.
    std::lock_guard<std::mutex> lock(inRegion->mMutex);
    if (inRegion->mHeld || inRegion->mWaiters > 0) return kMPPrivilegedErr;
  }
  delete inRegion;
  return noErr;
}

OSStatus MPEnterCriticalRegion(MPCriticalRegionID inRegion, Duration inTimeout) {
  if (inRegion == nullptr) return kMPInvalidIDErr;
  std::unique_lock<std::mutex> lock(inRegion->mMutex);
  if (inRegion->mHeld) {
    if (inTimeout == kDurationImmediate) return kMPTimeoutErr;
    ++inRegion->mWaiters;
    if (IsForever(inTimeout)) {
      inRegion->mFree.wait(lock, [inRegion] { return !inRegion->mHeld; });
    } else {
      const Clock::time_point deadline = Clock::now() + ToClockDuration(inTimeout);
      inRegion->mFree.wait_until(lock, deadline, [inRegion] { return !inRegion->mHeld; });
    }
    --inRegion->mWaiters;
    if (inRegion->mHeld) return kMPTimeoutErr;
  }
  inRegion->mHeld = true;
  inRegion->mOwner = std::this_thread::get_id();
  return noErr;
}

OSStatus MPExitCriticalRegion(MPCriticalRegionID inRegion) {
  if (inRegion == nullptr) return kMPInvalidIDErr;
  std::lock_guard<std::mutex> lock(inRegion->mMutex);
  if (!inRegion->mHeld || inRegion->mOwner != std::this_thread::get_id()) return kMPPrivilegedErr;
  inRegion->mHeld = false;
  inRegion->mOwner = std::thread::id();
  if (inRegion->mWaiters > 0) inRegion->mFree.notify_one();
  return noErr;
}

// ---------------------------------------------------------------------------
// Library state

ItemCount MPProcessors() {
  ItemCount forced = gProcessorOverride.load(std::memory_order_relaxed);
  return forced != 0 ? forced : RealProcessorCount();
}

Boolean _MPIsFullyInitialized() { return kTrue; }
Boolean MPLibraryIsLoaded() { return kTrue; }

void MPSetProcessorCountForTesting(ItemCount inCount) { gProcessorOverride.store(inCount, std::memory_order_relaxed); }

void MPKeepWorkersLookingForTesting(bool inKeep) { gKeepLooking.store(inKeep, std::memory_order_relaxed); }

ItemCount MPWorkersLookingForTesting() { return static_cast<ItemCount>(Pool().Looking()); }

ItemCount MPPoolWorkerCount() { return Pool().WorkerCount(); }

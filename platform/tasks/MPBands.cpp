#include "platform/tasks/MPBands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/tasks/CpuRelax.h"
#include "platform/tasks/Multiprocessing.h"


namespace {

// How often the calling thread reports progress while it waits for the
// others' last runs.
constexpr auto kProgressInterval = std::chrono::milliseconds(10);
// How long the calling thread, its own share done, looks for the others'
// last runs to end before it sleeps. The last runs of a loop end within a
// run's length, which is a few microseconds for the loops that run many
// times a second; a sleep and a wake-up would cost more than that.
constexpr auto kFinishSpin = std::chrono::microseconds(30);

// The runs are cut into one share per worker, each handed out from its own
// counter. A worker starts on the share of its index and then helps with
// the others. A pool thread takes the same worker index loop after loop
// when it can, so the same thread tends to take the same rows, and to use
// the same per-worker records and scratch memory, every time: what a loop
// writes is then still in the cache of the processor that reads it next,
// instead of in another's (taking a line from another processor costs far
// more than reading it from one's own).
struct alignas(64) BandShare {
  std::atomic<size_t> cursor{0};  // the next run of the share to hand out
  size_t end = 0;
};

// A small number for the calling thread, the same for its whole life.
SInt32 ThreadNumber() {
  static std::atomic<SInt32> sNext{0};
  thread_local const SInt32 tNumber = sNext.fetch_add(1, std::memory_order_relaxed);
  return tNumber;
}

// The loop's shared state lives on the heap and is counted: the calling
// thread returns as soon as every run has ended, without waiting for pool
// tasks that have not started yet (a worker that was asleep), and such a
// task, when it starts, finds no run left and only lets go of the record.
// The counters that every worker writes sit on lines of their own.
struct BandLoop {
  std::unique_ptr<BandShare[]> shares;
  size_t shareCount = 0;
  size_t shareCapacity = 0;
  alignas(64) std::atomic<bool> taken{false};   // some run has been handed out
  alignas(64) std::atomic<size_t> finished{0};  // runs ended (or dropped)
  alignas(64) std::atomic<size_t> done{0};      // items of the runs that ended well
  alignas(64) std::atomic<bool> stop{false};
  std::atomic<SInt32> nextWorker{1};        // beyond kClaimable workers
  alignas(64) std::atomic<UInt64> claimed{0};  // worker indices taken (up to kClaimable)
  SInt32 workers = 1;
  SInt32 firstPooled = 1;  // the first index of a pool task

  static constexpr SInt32 kClaimable = 64;

  // A worker index for a pool task: the one the thread's number picks
  // among the pool tasks' indices, or the next free one. A loop starts no
  // more tasks than it has indices for them, so one is always free.
  SInt32 ClaimIndex() {
    if (workers > kClaimable) return nextWorker.fetch_add(1, std::memory_order_relaxed);
    const SInt32 places = workers - firstPooled;
    const SInt32 preferred = ThreadNumber() % places;
    for (SInt32 i = 0; i < places; ++i) {
      const SInt32 index = firstPooled + (preferred + i) % places;
      const UInt64 bit = UInt64{1} << index;
      if ((claimed.fetch_or(bit, std::memory_order_relaxed) & bit) == 0) return index;
    }
    return nextWorker.fetch_add(1, std::memory_order_relaxed);  // not reached
  }
  std::atomic<SInt32> refs{1};
  size_t items = 0;
  size_t runItems = 1;
  size_t runs = 0;
  bool countEachRun = false;  // progress is reported from the counts
  MPBandRunProc run = nullptr;
  void* refCon = nullptr;
  std::mutex lock;  // guards the failure and the wake-up of the calling thread
  std::condition_variable allEnded;
  bool sleeping = false;
  size_t failRun = std::numeric_limits<size_t>::max();
  OSStatus failErr = noErr;

  void Retain() { refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // Makes a loop that nobody else holds any more new again, for the next
  // loop of its calling thread (the shares are kept for Share to reuse).
  void Reset() {
    taken.store(false, std::memory_order_relaxed);
    finished.store(0, std::memory_order_relaxed);
    done.store(0, std::memory_order_relaxed);
    stop.store(false, std::memory_order_relaxed);
    nextWorker.store(1, std::memory_order_relaxed);
    claimed.store(0, std::memory_order_relaxed);
    workers = firstPooled = 1;
    items = runs = 0;
    runItems = 1;
    countEachRun = false;
    run = nullptr;
    refCon = nullptr;
    sleeping = false;
    failRun = std::numeric_limits<size_t>::max();
    failErr = noErr;
  }

  bool AllEnded() const { return finished.load(std::memory_order_acquire) >= runs; }

  // Counts inCount runs as ended; the one that ends the last wakes the
  // calling thread if it sleeps.
  void Ended(size_t inCount) {
    if (finished.fetch_add(inCount, std::memory_order_acq_rel) + inCount < runs) return;
    std::lock_guard<std::mutex> hold(lock);
    if (sleeping) allEnded.notify_all();
  }

  // Stops the loop: no run is handed out any more, and the runs never
  // handed out count as ended.
  void Stop() {
    stop.store(true, std::memory_order_relaxed);
    size_t dropped = 0;
    for (size_t i = 0; i < shareCount; ++i) {
      BandShare& share = shares[i];
      const size_t first = share.cursor.exchange(share.end, std::memory_order_acq_rel);
      if (first < share.end) dropped += share.end - first;
    }
    if (dropped != 0) Ended(dropped);
  }

  // Cuts the runs into inCount shares.
  void Share(size_t inCount) {
    shareCount = std::max<size_t>(1, std::min(inCount, runs));
    if (shareCount > shareCapacity) {
      shares.reset(new BandShare[shareCount]);
      shareCapacity = shareCount;
    }
    for (size_t i = 0; i < shareCount; ++i) {
      shares[i].cursor.store(runs * i / shareCount, std::memory_order_relaxed);
      shares[i].end = runs * (i + 1) / shareCount;
    }
  }

  // True when no run of the share of a thread whose own share is inHome is left.
  bool OwnShareDone(size_t inHome) const {
    const BandShare& share = shares[inHome % shareCount];
    return share.cursor.load(std::memory_order_relaxed) >= share.end;
  }

  // The next run for a thread whose own share is inHome; false when none is left.
  bool NextRun(size_t& ioShare, size_t inHome, size_t& outRun) {
    for (; ioShare < shareCount; ++ioShare) {
      BandShare& share = shares[(inHome + ioShare) % shareCount];
      if (share.cursor.load(std::memory_order_relaxed) >= share.end) continue;
      const size_t r = share.cursor.fetch_add(1, std::memory_order_acq_rel);
      if (r < share.end) {
        outRun = r;
        return true;
      }
    }
    return false;
  }

  // A failed run: no run after it is handed out any more (those not yet
  // taken count as ended), while every run before it still runs, so that
  // the failure answered is always that of the first failing run in item
  // order, however the runs were shared out.
  void Fail(size_t inRun, OSStatus inErr) {
    {
      std::lock_guard<std::mutex> hold(lock);
      if (inRun < failRun) {
        failRun = inRun;
        failErr = inErr;
      }
    }
    size_t dropped = 0;
    for (size_t i = 0; i < shareCount; ++i) {
      BandShare& share = shares[i];
      // A share ending at or before the run holds only earlier runs; in the
      // run's own share every run not yet taken comes after it.
      if (share.end <= inRun + 1) continue;
      const size_t first = share.cursor.exchange(share.end, std::memory_order_acq_rel);
      if (first < share.end) dropped += share.end - first;
    }
    if (dropped != 0) Ended(dropped);
  }

  // Takes runs until none is left or the loop stops. inBetween runs after
  // each run and answers false to stop the loop. A worker counts the runs
  // of its own share and their items on its own and adds them to the
  // shared counters once, when that share is used up: every shared counter
  // a run touched would cost a cache line taken from another processor.
  // Runs taken from other shares, and every run of a loop that reports
  // progress, are counted as they end.
  template <class Between>
  void Work(SInt32 inWorker, Between&& inBetween) {
    size_t ended = 0, ranItems = 0;
    auto flush = [&] {
      if (ranItems != 0) done.fetch_add(ranItems, std::memory_order_relaxed);
      if (ended != 0) Ended(ended);
      ended = ranItems = 0;
    };
    const size_t home = static_cast<size_t>(inWorker);
    size_t tried = 0;  // shares looked at, from the thread's own
    for (;;) {
      if (stop.load(std::memory_order_relaxed)) break;
      size_t r = 0;
      if (!NextRun(tried, home, r)) break;
      if (!taken.load(std::memory_order_relaxed)) taken.store(true, std::memory_order_relaxed);
      const size_t begin = r * runItems, end = std::min(items, begin + runItems);
      const OSStatus err = run(refCon, inWorker, begin, end);
      ++ended;
      if (err != noErr) {
        // The earlier runs left in other shares are still this worker's to help with.
        Fail(r, err);
        continue;
      }
      ranItems += end - begin;
      // Once its own share is used up, a worker looks through the others'
      // shares, which other processors are writing: the calling thread
      // would wait for that search too if the counts were kept back.
      if (countEachRun || tried > 0 || OwnShareDone(home)) flush();
      if (!inBetween()) {
        Stop();
        break;
      }
    }
    flush();
  }

  // Waits until every run has ended: looks for a short while, then sleeps,
  // waking every inInterval (when given) to call inReport.
  template <class Report>
  void WaitForAll(bool inPeriodic, Report&& inReport) {
    const auto spinEnd = std::chrono::steady_clock::now() + kFinishSpin;
    // Looks often: a short loop's end is waited for on every call.
    while (!AllEnded()) {
      for (int i = 0; i < 4 && !AllEnded(); ++i) CpuRelax();
      if (std::chrono::steady_clock::now() >= spinEnd) break;
    }
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(lock);
        sleeping = true;
        if (inPeriodic)
          allEnded.wait_for(hold, kProgressInterval, [this] { return AllEnded(); });
        else
          allEnded.wait(hold, [this] { return AllEnded(); });
        sleeping = false;
      }
      if (AllEnded()) return;
      inReport();
    }
  }
};

// Each calling thread keeps the state of its last loop for its next one:
// a short loop costs little more than making that state, and made afresh
// it never comes from this thread's cache of free memory (the worker that
// lets go of it last frees it on its own thread). A loop still held by a
// late pool task is let go instead, and a new one made.
struct LoopCache {
  BandLoop* loop = nullptr;
  ~LoopCache() {
    if (loop) loop->Release();
  }
};
thread_local LoopCache tLoopCache;

BandLoop* TakeLoop() {
  BandLoop* loop = tLoopCache.loop;
  tLoopCache.loop = nullptr;
  if (loop != nullptr) {
    if (loop->refs.load(std::memory_order_acquire) == 1) {
      loop->Reset();
      return loop;
    }
    loop->Release();
  }
  return new (std::nothrow) BandLoop;
}

void KeepLoop(BandLoop* inLoop) {
  if (tLoopCache.loop == nullptr)
    tLoopCache.loop = inLoop;
  else
    inLoop->Release();
}

OSStatus BandWorkerEntry(void* inLoop) {
  BandLoop& loop = *static_cast<BandLoop*>(inLoop);
  // A task asked to stop (the loop was cancelled, or the process is ending)
  // stops the whole loop, so that nobody waits for runs it will not take.
  // The loop's own stop reaches the runs too (they poll MPTaskShouldStop),
  // whether the worker came as a task or took a place in an offer.
  const std::atomic<bool>* outer = MPSetStopFlag(&loop.stop);
  auto stopAsked = [&loop] {
    if (!MPTaskShouldStop()) return false;
    loop.Stop();
    return true;
  };
  if (!stopAsked()) loop.Work(loop.ClaimIndex(), [&] { return !stopAsked(); });
  MPSetStopFlag(outer);
  loop.Release();
  return noErr;
}

}  // namespace

SInt32 MPBandWorkers(size_t inItems, const MPBandOptions& inOptions) {
  if (inItems == 0) return 1;
  size_t workers = inOptions.workers > 0 ? static_cast<size_t>(inOptions.workers) : std::max<size_t>(1, MPProcessors());
  const size_t minRun = std::max<size_t>(1, inOptions.minRunItems);
  workers = std::min(workers, std::max<size_t>(1, inItems / minRun));
  // Work started from inside a pool task runs on that task alone.
  if (MPIsPoolWorker()) workers = 1;
  return static_cast<SInt32>(std::min<size_t>(workers, 0x7FFF));
}

OSStatus MPRunBands(size_t inItems, const MPBandOptions& inOptions, MPBandRunProc inRun, void* inRefCon) {
  if (inRun == nullptr) return paramErr;
  auto callerWork = [&] {
    if (inOptions.callerWork != nullptr) inOptions.callerWork(inOptions.callerWorkRefCon);
  };
  if (inItems == 0) {
    callerWork();
    return noErr;
  }
  const SInt32 workers = MPBandWorkers(inItems, inOptions);
  const size_t minRun = std::max<size_t>(1, inOptions.minRunItems);
  const size_t slices = static_cast<size_t>(workers) * std::max<size_t>(1, inOptions.runsPerWorker);
  const size_t runItems = std::max(minRun, (inItems + slices - 1) / slices);
  const size_t runs = (inItems + runItems - 1) / runItems;

  // With a progress procedure the calling thread only reports and waits, so
  // that a cancel is heard while the runs are long; without one it works too.
  const bool reporter = inOptions.progress != nullptr && !MPIsPoolWorker();
  const SInt32 pooled = workers > 1 || reporter ? (reporter ? workers : workers - 1) : 0;

  // Alone: everything on the calling thread, with nothing shared.
  if (pooled == 0) {
    callerWork();
    bool cancelled = false;
    for (size_t r = 0; r < runs; ++r) {
      if (MPTaskShouldStop()) {
        cancelled = true;
        break;
      }
      const size_t begin = r * runItems, end = std::min(inItems, begin + runItems);
      const OSStatus err = inRun(inRefCon, 0, begin, end);
      if (err != noErr) return err;
      if (inOptions.progress != nullptr && r + 1 < runs &&
          !inOptions.progress(inOptions.progressRefCon, static_cast<SInt32>((static_cast<UInt64>(end) * 256) / inItems))) {
        cancelled = true;
        break;
      }
    }
    if (cancelled) return userCanceledErr;
    if (inOptions.progress != nullptr && !inOptions.progress(inOptions.progressRefCon, 256)) return userCanceledErr;
    return noErr;
  }

  BandLoop* loop = TakeLoop();
  if (loop == nullptr) {
    callerWork();
    return memFullErr;
  }
  loop->items = inItems;
  loop->run = inRun;
  loop->refCon = inRefCon;
  loop->runItems = runItems;
  loop->runs = runs;
  loop->countEachRun = inOptions.progress != nullptr;
  try {
    loop->Share(static_cast<size_t>(workers));
  } catch (const std::bad_alloc&) {
    loop->Release();
    callerWork();
    return memFullErr;
  }
  loop->nextWorker.store(reporter ? 0 : 1, std::memory_order_relaxed);
  loop->workers = workers;
  loop->firstPooled = reporter ? 0 : 1;

  bool cancelled = false;
  auto report = [&]() {
    if (MPTaskShouldStop()) cancelled = true;
    // Nothing is reported before the first run has been taken, so that a
    // loop always starts.
    if (!cancelled && inOptions.progress != nullptr && loop->taken.load(std::memory_order_relaxed)) {
      const size_t done = loop->done.load(std::memory_order_relaxed);
      const SInt32 share = static_cast<SInt32>((static_cast<UInt64>(done) * 256) / inItems);
      if (!inOptions.progress(inOptions.progressRefCon, share)) cancelled = true;
    }
    return !cancelled;
  };

  // Workers looking for work take places in an offer, which costs one
  // exchange each and nothing to take back; only the rest are started as
  // tasks. (A loop whose calling thread only reports could wait for ever
  // for an offer nobody takes: it starts tasks only.)
  UInt32 offerToken = 0;
  SInt32 offered = 0;
  if (!reporter && pooled > 0) {
    loop->refs.fetch_add(pooled, std::memory_order_relaxed);
    offered = MPOfferToIdleWorkers(BandWorkerEntry, loop, pooled, &offerToken);
    loop->refs.fetch_sub(pooled - offered, std::memory_order_relaxed);
  }
  auto withdrawOffer = [&] {
    if (offered == 0) return;
    for (SInt32 left = MPWithdrawOffer(offerToken); left > 0; --left) loop->Release();
    offered = 0;
  };
  // The tasks' IDs, to ask them to stop on a cancel.
  std::vector<MPTaskID> tasks;
  if (pooled > offered) tasks.reserve(static_cast<size_t>(pooled - offered));
  for (SInt32 i = offered; i < pooled; ++i) {
    loop->Retain();
    MPTaskID task = nullptr;
    if (MPCreateTask(BandWorkerEntry, loop, 0, nullptr, nullptr, nullptr, 0, &task) == noErr)
      tasks.push_back(task);
    else
      loop->Release();
  }
  // A task that no worker has started yet is taken back, with its share of
  // the record: its entry would never run once the pool drops it (on a
  // cancel, or at exit), and when the runs have ended it would only wake a
  // worker for nothing.
  auto withdrawQueued = [&](OSStatus inStatus) {
    for (MPTaskID& task : tasks) {
      if (task != nullptr && MPWithdrawQueuedTask(task, inStatus)) {
        task = nullptr;
        loop->Release();
      }
    }
  };
  // The workers have the loop: the calling thread's own work goes first.
  callerWork();
  bool stopsSent = false;
  auto sendStops = [&] {
    if (!cancelled || stopsSent) return;
    loop->Stop();
    withdrawQueued(userCanceledErr);
    for (MPTaskID task : tasks)
      if (task != nullptr) (void)MPTerminateTask(task, userCanceledErr);
    stopsSent = true;
  };
  if (!reporter || tasks.empty()) {
    // The calling thread takes worker index 0; in reporter mode without any
    // task it is the only worker.
    loop->Work(0, report);
    // Every run has been handed out: places not yet taken are no use.
    withdrawOffer();
    sendStops();
  }
  loop->WaitForAll(inOptions.progress != nullptr, [&] {
    if (!cancelled) (void)report();
    sendStops();
  });
  withdrawOffer();
  withdrawQueued(noErr);
  const OSStatus failure = loop->failErr;
  const bool stopped = loop->stop.load(std::memory_order_relaxed);
  const size_t doneItems = loop->done.load(std::memory_order_relaxed);
  KeepLoop(loop);
  if (cancelled) return userCanceledErr;
  if (failure != noErr) return failure;
  // A loop stopped without a failure (its pool tasks were asked to stop)
  // did not run every item and must not pass for done.
  if (stopped || doneItems != inItems) return userCanceledErr;
  // Every item ran: the last report says so.
  if (inOptions.progress != nullptr && !inOptions.progress(inOptions.progressRefCon, 256)) return userCanceledErr;
  return noErr;
}

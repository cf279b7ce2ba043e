#include "platform/tasks/MPBands.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/tasks/Multiprocessing.h"

namespace {

// How often the calling thread reports progress while it waits for the
// others' last runs (milliseconds).
constexpr Duration kProgressInterval = 10;

struct BandLoop {
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  std::atomic<bool> stop{false};
  std::atomic<SInt32> nextWorker{1};
  size_t items = 0;
  size_t runItems = 1;
  size_t runs = 0;
  MPBandRunProc run = nullptr;
  void* refCon = nullptr;
  std::mutex failLock;
  size_t failRun = std::numeric_limits<size_t>::max();
  OSStatus failErr = noErr;

  void Fail(size_t inRun, OSStatus inErr) {
    {
      std::lock_guard<std::mutex> hold(failLock);
      if (inRun < failRun) {
        failRun = inRun;
        failErr = inErr;
      }
    }
    stop.store(true, std::memory_order_relaxed);
  }

  // Takes runs until none is left or the loop stops. On the calling thread,
  // inProgress reports between runs and answers false to cancel.
  template <class Between>
  void Work(SInt32 inWorker, Between&& inBetween) {
    for (;;) {
      if (stop.load(std::memory_order_relaxed) || MPTaskShouldStop()) return;
      const size_t r = next.fetch_add(1, std::memory_order_relaxed);
      if (r >= runs) return;
      const size_t begin = r * runItems, end = std::min(items, begin + runItems);
      const OSStatus err = run(refCon, inWorker, begin, end);
      if (err != noErr) {
        Fail(r, err);
        return;
      }
      done.fetch_add(end - begin, std::memory_order_relaxed);
      if (!inBetween()) return;
    }
  }
};

OSStatus BandWorkerEntry(void* inLoop) {
  BandLoop& loop = *static_cast<BandLoop*>(inLoop);
  loop.Work(loop.nextWorker.fetch_add(1, std::memory_order_relaxed), [] { return true; });
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
  if (inItems == 0) return noErr;
  const SInt32 workers = MPBandWorkers(inItems, inOptions);
  BandLoop loop;
  loop.items = inItems;
  loop.run = inRun;
  loop.refCon = inRefCon;
  const size_t minRun = std::max<size_t>(1, inOptions.minRunItems);
  const size_t slices = static_cast<size_t>(workers) * std::max<size_t>(1, inOptions.runsPerWorker);
  loop.runItems = std::max(minRun, (inItems + slices - 1) / slices);
  loop.runs = (inItems + loop.runItems - 1) / loop.runItems;

  bool cancelled = false;
  auto report = [&]() {
    if (MPTaskShouldStop()) cancelled = true;
    // Nothing is reported before the first run has been taken, so that a
    // loop always starts.
    if (!cancelled && inOptions.progress != nullptr && loop.next.load(std::memory_order_relaxed) > 0) {
      const size_t done = loop.done.load(std::memory_order_relaxed);
      const SInt32 share = static_cast<SInt32>((static_cast<UInt64>(done) * 256) / inItems);
      if (!inOptions.progress(inOptions.progressRefCon, share)) cancelled = true;
    }
    if (cancelled) loop.stop.store(true, std::memory_order_relaxed);
    return !cancelled;
  };

  // With a progress procedure the calling thread only reports and waits, so
  // that a cancel is heard while the runs are long; without one it works too.
  const bool reporter = inOptions.progress != nullptr && !MPIsPoolWorker();
  MPQueueID queue = nullptr;
  std::vector<MPTaskID> tasks;
  if ((workers > 1 || reporter) && MPCreateQueue(&queue) == noErr) {
    const SInt32 pooled = reporter ? workers : workers - 1;
    loop.nextWorker.store(reporter ? 0 : 1, std::memory_order_relaxed);
    tasks.reserve(static_cast<size_t>(pooled));
    for (SInt32 i = 0; i < pooled; ++i) {
      MPTaskID task = nullptr;
      if (MPCreateTask(BandWorkerEntry, &loop, 0, queue, nullptr, nullptr, 0, &task) == noErr) tasks.push_back(task);
    }
  }
  if (!reporter || tasks.empty()) {
    // The calling thread takes worker index 0; in reporter mode without any
    // task it is the only worker.
    loop.Work(0, report);
  }
  size_t ended = 0;
  bool stopsSent = false;
  while (ended < tasks.size()) {
    if (cancelled && !stopsSent) {
      for (MPTaskID task : tasks) (void)MPTerminateTask(task, userCanceledErr);
      stopsSent = true;
    }
    const Duration wait = (inOptions.progress != nullptr && !cancelled) ? kProgressInterval : kDurationForever;
    if (MPWaitOnQueue(queue, nullptr, nullptr, nullptr, wait) == noErr)
      ++ended;
    else if (!cancelled)
      (void)report();
  }
  if (queue != nullptr) MPDeleteQueue(queue);
  if (cancelled) return userCanceledErr;
  if (loop.failErr != noErr) return loop.failErr;
  // Every item ran: the last report says so.
  if (inOptions.progress != nullptr && !inOptions.progress(inOptions.progressRefCon, 256)) return userCanceledErr;
  return noErr;
}

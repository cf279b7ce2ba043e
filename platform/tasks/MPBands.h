// Runs a loop over items (rows, blocks) on the task pool. The items are
// handed out in small runs from a shared counter to up to `workers` workers:
// without a progress procedure, workers - 1 pool tasks and the calling thread,
// which works too; with one, `workers` pool tasks while the calling thread
// reports. A slow worker takes fewer runs and nobody waits for a fixed share.
// Every item is computed the same way whoever takes it, so a result that
// depends on the items alone never depends on the number of workers.
//
// Progress and cancel live here as well: the calling thread reports the share
// of items done (0..256) to the progress procedure every few milliseconds
// once the first run has been taken, and its false answer stops the loop
// (userCanceledErr): no new run is started and the running ones are asked to
// stop (MPTaskShouldStop). A stop request for the calling task itself (the
// loop run from inside a pool task, where everything runs on that task) does
// the same.
#pragma once

#include <cstddef>
#include <type_traits>

#include "platform/base/MacTypes.h"

// One run: the items [inBegin, inEnd) on worker inWorker (0 is the calling
// thread, then 1 .. workers - 1, each worker running its runs one after
// another). Answers noErr or a failure, which ends the loop.
typedef OSStatus (*MPBandRunProc)(void* inRefCon, SInt32 inWorker, size_t inBegin, size_t inEnd);
// The share of items done, 0..256; false cancels. Called on the calling thread only.
typedef bool (*MPBandProgressProc)(void* inRefCon, SInt32 inDone256);

struct MPBandOptions {
  // The most workers: 0 means one per processor (MPProcessors()).
  SInt32 workers = 0;
  // Items per run at least, and the number of runs each worker gets on
  // average (more runs balance better, fewer cost less to hand out).
  size_t minRunItems = 1;
  size_t runsPerWorker = 4;
  MPBandProgressProc progress = nullptr;
  void* progressRefCon = nullptr;
  // Work of the calling thread's own that needs none of the items: run once
  // by every loop with a run procedure (even one over no items or one that
  // fails), on the calling thread, after the workers have been handed the
  // loop and before the calling thread takes runs itself, so that it
  // overlaps the runs instead of preceding or following them. The others
  // take the calling thread's runs meanwhile.
  void (*callerWork)(void* inRefCon) = nullptr;
  void* callerWorkRefCon = nullptr;
};

// The number of workers a loop over inItems items would use with these options.
SInt32 MPBandWorkers(size_t inItems, const MPBandOptions& inOptions);

// Runs inRun over [0, inItems). Answers noErr; the failure of the run with the
// lowest first item among those that failed; or userCanceledErr. Workers that
// cannot be started leave their share to the others.
OSStatus MPRunBands(size_t inItems, const MPBandOptions& inOptions, MPBandRunProc inRun, void* inRefCon);

// The same with any callable fn(worker, begin, end) answering an OSStatus.
template <class Fn>
OSStatus MPRunBands(size_t inItems, const MPBandOptions& inOptions, Fn&& inFn) {
  using F = std::remove_reference_t<Fn>;
  return MPRunBands(
      inItems, inOptions,
      [](void* inRefCon, SInt32 inWorker, size_t inBegin, size_t inEnd) -> OSStatus {
        return (*static_cast<F*>(inRefCon))(inWorker, inBegin, inEnd);
      },
      const_cast<void*>(static_cast<const void*>(&inFn)));
}

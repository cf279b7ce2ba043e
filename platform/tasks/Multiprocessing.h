// Preemptive tasks, queues and critical regions over a persistent pool of
// worker threads (one per processor, started once). A task cannot be killed:
// MPTerminateTask sets the task's stop flag, which work polls through
// MPTaskShouldStop() at least once per row or block, and the task's end is
// then posted with the status asked for. A task created from a pool worker
// runs inline on that worker, so nested work never deadlocks the pool.
#pragma once

#include <atomic>

#include "platform/base/MacTypes.h"

typedef struct OpaqueMPTaskID* MPTaskID;
typedef struct OpaqueMPQueueID* MPQueueID;
typedef struct OpaqueMPCriticalRegionID* MPCriticalRegionID;
typedef OptionBits MPTaskOptions;
typedef OSStatus (*TaskProc)(void* inParameter);

// Starts inEntry(inParameter) on the pool. When it ends, (inTerm1, inTerm2,
// status) is posted to inNotifyQueue (if any); the status is the entry's
// result, or the status given to MPTerminateTask.
OSStatus MPCreateTask(TaskProc inEntry, void* inParameter, ByteCount inStackSize, MPQueueID inNotifyQueue,
                      void* inTerm1, void* inTerm2, MPTaskOptions inOptions, MPTaskID* outTask);
// Asks the task to stop; its end is reported with inStatus. kMPInvalidIDErr
// when the task has already ended.
OSStatus MPTerminateTask(MPTaskID inTask, OSStatus inStatus);
// Takes a task that no worker has started off the queue: true when its
// entry will never run (its end is reported with inStatus), false when it
// has started or already ended, which leaves it untouched. Lets whoever
// handed the task a counted record take the task's share back.
bool MPWithdrawQueuedTask(MPTaskID inTask, OSStatus inStatus);
// Offers inEntry(inParameter) to up to inCount pool workers that are looking
// for work at this moment, without queuing anything: each worker that takes
// a place runs the entry once, as a task without an ID or an end to report.
// Answers the number of places offered (0 when no worker is looking, another
// offer is out, or the caller is a pool worker) and, for more than 0, the
// token to withdraw the offer with. Short work only: a worker that is not
// looking never takes a place.
SInt32 MPOfferToIdleWorkers(TaskProc inEntry, void* inParameter, SInt32 inCount, UInt32* outToken);
// Ends the offer: answers the number of places no worker took (their
// entries never run).
SInt32 MPWithdrawOffer(UInt32 inToken);
// A flag that MPTaskShouldStop() also answers true for on this thread, once
// it is set; nil forgets it. Answers the flag it replaces.
const std::atomic<bool>* MPSetStopFlag(const std::atomic<bool>* inFlag);
// True on a pool worker whose current task was asked to stop.
bool MPTaskShouldStop();
// True when called on a pool worker thread.
bool MPIsPoolWorker();

OSStatus MPCreateQueue(MPQueueID* outQueue);
OSStatus MPDeleteQueue(MPQueueID inQueue);
OSStatus MPNotifyQueue(MPQueueID inQueue, void* inP1, void* inP2, void* inP3);
// Waits for a message at most inTimeout (positive: milliseconds, negative:
// microseconds, kDurationForever); kMPTimeoutErr when none arrived.
OSStatus MPWaitOnQueue(MPQueueID inQueue, void** outP1, void** outP2, void** outP3, Duration inTimeout);
// Tests that must act while a thread is blocked in MPWaitOnQueue wait until
// this counts it: the threads asleep on the queue right now (not those
// still looking for a message before they block).
ItemCount MPQueueWaitersForTesting(MPQueueID inQueue);

OSStatus MPCreateCriticalRegion(MPCriticalRegionID* outRegion);
OSStatus MPDeleteCriticalRegion(MPCriticalRegionID inRegion);
OSStatus MPEnterCriticalRegion(MPCriticalRegionID inRegion, Duration inTimeout);
OSStatus MPExitCriticalRegion(MPCriticalRegionID inRegion);

// The number of processors (the override when one is set).
ItemCount MPProcessors();
Boolean _MPIsFullyInitialized();
Boolean MPLibraryIsLoaded();
// Tests pretend to run on a machine with this many processors; 0 restores the real count.
void MPSetProcessorCountForTesting(ItemCount inCount);
// Tests that need workers looking for work keep them looking (never asleep)
// while this is on, and count how many are looking right now.
void MPKeepWorkersLookingForTesting(bool inKeep);
ItemCount MPWorkersLookingForTesting();
// The number of worker threads in the pool (starts it if needed).
ItemCount MPPoolWorkerCount();

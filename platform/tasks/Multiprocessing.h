// Preemptive tasks, queues and critical regions over a persistent pool of
// worker threads (one per processor, started once). A task cannot be killed:
// MPTerminateTask sets the task's stop flag, which work polls through
// MPTaskShouldStop() at least once per row or block, and the task's end is
// then posted with the status asked for. A task created from a pool worker
// runs inline on that worker, so nested work never deadlocks the pool.
#pragma once

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
// The number of worker threads in the pool (starts it if needed).
ItemCount MPPoolWorkerCount();

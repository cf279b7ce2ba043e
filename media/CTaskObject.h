// The task engine: a CTaskObject is one work item run on a preemptive task; a
// CTaskGroup owns a list of items, starts them, lets the caller poll them with
// a time-out, averages their progress and reports the first failure in item
// order.
#pragma once

#include <atomic>

#include "platform/base/MacTypes.h"
#include "platform/framework/TArray.h"
#include "platform/tasks/Multiprocessing.h"

class CTaskObject {
 public:
  CTaskObject();
  virtual ~CTaskObject();
  // An item owns its termination queue and may be running: never copied.
  CTaskObject(const CTaskObject&) = delete;
  CTaskObject& operator=(const CTaskObject&) = delete;

  // Executed on the preemptive task; returns the item's status and lets no
  // exception escape. A task cannot be killed: StopTask only raises a flag,
  // so long work must poll ShouldStop() at least once per row or block and
  // return (any status; the item's result becomes -128) when it is set. Work
  // that never polls runs to its end and StopTask(true) waits for it.
  // The base destructor stops a running task, but by then a derived part is
  // already gone: a derived class whose Run uses its own members calls
  // StopTask(true) in its destructor (CSimpleTask does).
  virtual SInt32 Run() = 0;
  // True when no task runs. Otherwise waits at most inTimeout (positive:
  // milliseconds, negative: microseconds) for the task's end, collects its
  // status into the result and answers true; false on time-out.
  virtual bool IsComplete(SInt32 inTimeout);
  virtual SInt32* GetCompletionRef();
  virtual MPCriticalRegionID GetCriticalRegion();

  // Starts Run on a preemptive task; -50 when a task already runs.
  OSErr RunTask(UInt32 inStackSize, UInt32 inOptions);
  // Asks the running task to stop; with inWait, waits until its end has been
  // collected (result -128, or the task's own status when it had already
  // ended by itself).
  void StopTask(bool inWait);

  SInt32 GetResult() const { return mResult; }
  SInt16 GetOrdinal() const { return mOrdinal; }
  SInt16 GetGroupSize() const { return mGroupSize; }
  bool IsRunning() const { return mTask != nullptr; }
  // True when the running task was asked to stop.
  static bool ShouldStop() { return MPTaskShouldStop(); }

 protected:
  friend class CTaskGroup;
  MPTaskID mTask = nullptr;
  SInt32 mCompletion = 0;
  SInt16 mOrdinal = -1;
  SInt16 mGroupSize = 0;
  SInt32 mResult = 0;
  MPCriticalRegionID mCriticalRegion = nullptr;
  MPQueueID mTerminationQueue = nullptr;

  // Writes the progress counter (0..256) so that the polling thread can read it.
  void SetCompletion(SInt32 inValue) { std::atomic_ref<SInt32>(mCompletion).store(inValue, std::memory_order_relaxed); }
};

// Runs a plain procedure on its own zeroed copy of a parameter block.
class CSimpleTask : public CTaskObject {
 public:
  typedef SInt32 (*SimpleProc)(void*);
  // Copies inParamSize bytes of inParam (a nil inParam gives a zeroed block;
  // size 0 gives no block; a negative size throws -50).
  CSimpleTask(SimpleProc inProc, void* inParam, SInt32 inParamSize);
  ~CSimpleTask() override;
  SInt32 Run() override;
  void* GetParam() const { return mParam; }

 private:
  SimpleProc mProc;
  void* mParam = nullptr;
};

class CTaskGroup {
 public:
  CTaskGroup();
  // Stops every running item, waits for each end and deletes the items.
  virtual ~CTaskGroup();
  // A group owns its items: never copied.
  CTaskGroup(const CTaskGroup&) = delete;
  CTaskGroup& operator=(const CTaskGroup&) = delete;

  // Takes ownership of the item; -50 for nil or an item already in the group.
  OSErr AddTaskObject(CTaskObject* inItem);
  CTaskObject* GetTaskObject(SInt32 inIndex);
  SInt32 GetCount() const { return mItems.GetCount(); }
  // Starts every item; returns the first failure (0 when all started).
  OSErr RunTasks(UInt32 inStackSize, UInt32 inOptions);
  bool IsComplete(SInt32 inTimeout);
  // The items' average progress, 0..256 (0 for a group without items).
  SInt32 CalcCompletion();
  void StopTasks(bool inWait);
  SInt32 GetTaskError();
  void DeleteTasks();

  static SInt16 GetPreferredTaskCount();
  static Boolean mAllowMP;

 private:
  TArray<CTaskObject*> mItems;
  MPCriticalRegionID mCriticalRegion = nullptr;
};

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

  // Executed on the preemptive task; returns the item's status. Long work
  // polls ShouldStop() at least once per row or block.
  virtual SInt32 Run() = 0;
  virtual bool IsComplete(SInt32 inTimeout);
  virtual SInt32* GetCompletionRef();
  virtual MPCriticalRegionID GetCriticalRegion();

  OSErr RunTask(UInt32 inStackSize, UInt32 inOptions);
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

class CSimpleTask : public CTaskObject {
 public:
  typedef SInt32 (*SimpleProc)(void*);
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
  virtual ~CTaskGroup();

  OSErr AddTaskObject(CTaskObject* inItem);
  CTaskObject* GetTaskObject(SInt32 inIndex);
  SInt32 GetCount() const { return mItems.GetCount(); }
  OSErr RunTasks(UInt32 inStackSize, UInt32 inOptions);
  bool IsComplete(SInt32 inTimeout);
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

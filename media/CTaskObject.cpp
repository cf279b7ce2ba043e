// The task engine: work items on preemptive tasks, and groups that start,
// poll, stop and collect them.

#include "media/CTaskObject.h"

#include <cstdint>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"

namespace {

// The entry of every item's preemptive task.
OSStatus TaskObjectEntry(void* inItem) { return static_cast<CTaskObject*>(inItem)->Run(); }

}  // namespace

// ---------------------------------------------------------------------------
// CTaskObject

CTaskObject::CTaskObject() {
  OSStatus err = MPCreateQueue(&mTerminationQueue);
  if (err != noErr) {
    mTerminationQueue = nullptr;
    Throw_(err);
  }
}

CTaskObject::~CTaskObject() {
  if (mTask != nullptr) StopTask(true);
  if (mTerminationQueue != nullptr) MPDeleteQueue(mTerminationQueue);
}

OSErr CTaskObject::RunTask(UInt32 inStackSize, UInt32 /*inOptions*/) {
  if (mTask != nullptr) return paramErr;
  mResult = 0;
  MPTaskID task = nullptr;
  OSStatus err = MPCreateTask(TaskObjectEntry, this, inStackSize, mTerminationQueue, nullptr, nullptr, 0, &task);
  if (err != noErr) return static_cast<OSErr>(err);
  mTask = task;
  return noErr;
}

bool CTaskObject::IsComplete(SInt32 inTimeout) {
  if (mTask == nullptr) return true;
  try {
    void* status = nullptr;
    if (MPWaitOnQueue(mTerminationQueue, nullptr, nullptr, &status, inTimeout) != noErr) return false;
    mResult = static_cast<SInt32>(reinterpret_cast<intptr_t>(status));
    mTask = nullptr;
    return true;
  } catch (...) {
    return false;
  }
}

void CTaskObject::StopTask(bool inWait) {
  if (mTask == nullptr) return;
  try {
    OSStatus err = MPTerminateTask(mTask, userCanceledErr);
    // kMPInvalidIDErr: the task ended on its own just before; its end is
    // (about to be) in the queue. Collect it too, so that after a waiting
    // stop the item is never left looking busy with a stale result.
    if (inWait && (err == noErr || err == kMPInvalidIDErr)) {
      while (!IsComplete(10)) {
      }
    }
  } catch (...) {
    LogCurrentException("tasks", "StopTask");
  }
}

SInt32* CTaskObject::GetCompletionRef() { return &mCompletion; }

MPCriticalRegionID CTaskObject::GetCriticalRegion() { return mCriticalRegion; }

// ---------------------------------------------------------------------------
// CSimpleTask

CSimpleTask::CSimpleTask(SimpleProc inProc, void* inParam, SInt32 inParamSize) : mProc(inProc) {
  if (inParamSize < 0) Throw_(paramErr);
  if (inParamSize > 0) {
    mParam = NewPtrClear(inParamSize);
    ThrowIfNil_(mParam);
    if (inParam != nullptr) BlockMoveData(inParam, mParam, inParamSize);
  }
}

CSimpleTask::~CSimpleTask() {
  // The task may still be reading the copy: stop it before freeing.
  if (mTask != nullptr) StopTask(true);
  if (mParam != nullptr) DisposePtr(static_cast<Ptr>(mParam));
}

SInt32 CSimpleTask::Run() { return mProc != nullptr ? mProc(mParam) : paramErr; }

// ---------------------------------------------------------------------------
// CTaskGroup

Boolean CTaskGroup::mAllowMP = true;

CTaskGroup::CTaskGroup() {
  if (!_MPIsFullyInitialized()) Throw_(-1);
  OSStatus err = MPCreateCriticalRegion(&mCriticalRegion);
  if (err != noErr) {
    mCriticalRegion = nullptr;
    Throw_(err);
  }
}

CTaskGroup::~CTaskGroup() {
  DeleteTasks();
  if (mCriticalRegion != nullptr) MPDeleteCriticalRegion(mCriticalRegion);
}

OSErr CTaskGroup::AddTaskObject(CTaskObject* inItem) {
  // A nil item would fault later; one added twice would be deleted twice.
  if (inItem == nullptr || mItems.FetchIndexOf(inItem) != index_Bad) return paramErr;
  mItems.AddItem(inItem);
  inItem->mCriticalRegion = mCriticalRegion;
  return noErr;
}

CTaskObject* CTaskGroup::GetTaskObject(SInt32 inIndex) { return mItems.ValidIndex(inIndex) ? mItems[inIndex] : nullptr; }

OSErr CTaskGroup::RunTasks(UInt32 inStackSize, UInt32 inOptions) {
  // Every item is started even after a failure; the first failure is the
  // answer, so an item that never ran is never taken for a success.
  OSErr result = noErr;
  const SInt32 count = mItems.GetCount();
  for (SInt32 i = 1; i <= count; ++i) {
    try {
      CTaskObject* item = mItems[i];
      OSErr err = item->RunTask(inStackSize, inOptions);
      item->mOrdinal = static_cast<SInt16>(i);
      item->mGroupSize = static_cast<SInt16>(count);
      if (result == noErr) result = err;
    } catch (...) {
      LogCurrentException("tasks", "RunTasks");
    }
  }
  return result;
}

bool CTaskGroup::IsComplete(SInt32 inTimeout) {
  bool complete = true;
  try {
    for (CTaskObject* item : mItems)
      if (!item->IsComplete(inTimeout)) complete = false;
  } catch (...) {
    LogCurrentException("tasks", "IsComplete");
  }
  return complete;
}

SInt32 CTaskGroup::CalcCompletion() {
  const SInt32 count = mItems.GetCount();
  if (count == 0) return 0;
  SInt64 sum = 0;
  for (CTaskObject* item : mItems) sum += std::atomic_ref<SInt32>(item->mCompletion).load(std::memory_order_relaxed);
  return static_cast<SInt32>(sum / count);
}

void CTaskGroup::StopTasks(bool inWait) {
  // Raise every stop flag before waiting for any end, so the items wind down
  // together rather than one after another.
  if (inWait) {
    for (CTaskObject* item : mItems) {
      try {
        item->StopTask(false);
      } catch (...) {
        LogCurrentException("tasks", "StopTasks");
      }
    }
  }
  for (CTaskObject* item : mItems) {
    try {
      item->StopTask(inWait);
    } catch (...) {
      LogCurrentException("tasks", "StopTasks");
    }
  }
}

SInt32 CTaskGroup::GetTaskError() {
  for (CTaskObject* item : mItems)
    if (item->GetResult() != noErr) return item->GetResult();
  return noErr;
}

void CTaskGroup::DeleteTasks() {
  StopTasks(true);
  for (CTaskObject* item : mItems) delete item;
  mItems.RemoveAllItems();
}

SInt16 CTaskGroup::GetPreferredTaskCount() {
  if (!mAllowMP) return 1;
  ItemCount processors = MPProcessors();
  if (processors < 3) return 2;
  return static_cast<SInt16>(processors > 0x7FFF ? 0x7FFF : processors);
}

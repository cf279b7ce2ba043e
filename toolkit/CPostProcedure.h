// Deferred main-thread procedures: an object posts a procedure number with a
// block of parameters, and a moment later, from the event loop and outside the
// call that posted it, its own ExecuteProcedure runs with a copy of them, in
// posting order.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LTimerTask.h"
#include "platform/framework/TArray.h"

struct PostProcData {
  SInt32 mProcID;
  void* mData;  // copy owned by the queue, or nil
  SInt32 mSize;
};

class CPostProcedure : public LTimerTask {
 public:
  CPostProcedure();
  // Queued entries are dropped without running; their copies are freed. May
  // be called from inside one of the object's own procedures: the walk then
  // ends there without touching the object again.
  ~CPostProcedure() override;

  // Runs the queue from its front, entries posted meanwhile included. A
  // procedure's exception is dropped and the walk goes on. A call made while
  // the walk runs (a procedure running the event loop, or calling this
  // directly) does nothing: the running walk reaches every entry.
  void DoTask() override;

  // Queues the procedure with a copy of inSize bytes at inData (none for nil
  // data or size 0) and arms the timer 1 ms ahead. The copy failing: 'nilP'
  // thrown, nothing queued.
  virtual OSStatus PostProcedure(SInt32 inProcID, const void* inData, SInt32 inSize);
  // Drops the first queued entry with that id: 0, or -1 when none is queued.
  virtual SInt32 RemoveProcedure(SInt32 inProcID);

  SInt32 CountQueued() const { return mQueue.GetCount(); }

 protected:
  // The subclass's dispatcher; inData is the queue's copy (nil without one),
  // valid for the call only.
  virtual void ExecuteProcedure(SInt32 inProcID, void* inData, SInt32 inSize) = 0;

 private:
  TArray<PostProcData> mQueue;
  bool* mDeletedFlag = nullptr;  // the running walk's flag, set by the destructor
};

// Cooperative threads. Each LThread runs Run() on a thread of its own, but
// only while it holds the one baton that it shares with the main thread and
// the other cooperative threads: exactly one of them runs at a time, and the
// baton changes hands only in Yield, Suspend and at a thread's end. Code on
// cooperative threads may therefore use everything the main thread uses
// without locks.
//
// A thread is made suspended; Resume() makes it ready and it first runs when
// the running thread yields. When Run() returns the thread has ended; the
// framework deletes the object on the main thread at its next yield or event
// loop pass (so destructors run on the main thread).
#pragma once

#include <functional>
#include <thread>

#include "platform/base/MacTypes.h"

class LThread {
 public:
  enum EThreadState { threadState_Created, threadState_Ready, threadState_Running, threadState_Suspended, threadState_Ended };

  // Only cooperative threads exist here: inPreemptive must be false
  // (paramErr thrown otherwise). Stack size and options are accepted and ignored.
  explicit LThread(Boolean inPreemptive = false, UInt32 inStackSize = 0, UInt32 inOptions = 0, void* inResult = nullptr);
  LThread(const LThread&) = delete;
  LThread& operator=(const LThread&) = delete;
  // Delete a thread through DeleteThread; only a thread never resumed or
  // already ended may be deleted directly.
  virtual ~LThread();

  // Makes a new or suspended thread ready to run.
  void Resume();
  // From the thread itself: stops until another thread resumes it. From
  // another thread: takes it out of the ready threads.
  void Suspend();
  // Ends the thread. From the thread itself it unwinds Run() at once (nothing
  // after the call runs). From another thread, a thread never resumed is
  // deleted at once; a started one is woken and unwinds from the point where
  // it waits (its Yield or Suspend does not return), and is then deleted.
  void DeleteThread(void* inResult = nullptr);
  // Yields until this thread has ended. False when it cannot get there
  // because it is suspended (or was never resumed).
  bool Wait();

  EThreadState GetState() const { return mState; }
  bool IsCurrent() const;
  // What Run() returned (or DeleteThread was given).
  void* GetResult() const { return mResult; }

  // Hands the baton to inYieldTo when it is ready (it then hands it back
  // first), else to the next ready thread in turn; returns when the caller
  // holds it again. Without ready threads it returns at once. Calls from
  // threads that are neither the main thread nor cooperative ones are ignored.
  static void Yield(const LThread* inYieldTo = nullptr);
  // The running cooperative thread, or the main thread's object (UMainThread) or nil on the main thread.
  static LThread* GetCurrentThread();
  static bool InMainThread();
  static SInt32 CountReadyThreads();
  // Runs inWork on the main thread. Called on the main thread it runs at
  // once; called on a cooperative thread (which holds the baton, so the main
  // thread is waiting for it) the main thread runs it while it waits and the
  // caller waits for the end; an exception thrown by the work is rethrown to
  // the caller. One of them runs at a time, as always. Other threads: ignored
  // (returns false).
  static bool RunOnMainThread(const std::function<void()>& inWork);
  // Deletes the threads that have ended (main thread only; done by Yield and the event loop).
  static void DeleteEndedThreads();

 protected:
  virtual void* Run() = 0;

 private:
  friend class UThreadScheduler;
  friend class UMainThread;
  struct MainTag {};
  explicit LThread(MainTag);

  EThreadState mState = threadState_Created;
  bool mIsMain = false;
  bool mDeathRequested = false;
  bool mDeathThrown = false;
  UInt32 mSerial = 0;
  void* mResult = nullptr;
  std::thread mOSThread;
};

// The main thread's object, made once at start-up. Optional: the main thread
// takes part in the baton whether or not it exists.
class UMainThread : public LThread {
 public:
  UMainThread();
  ~UMainThread() override;

 protected:
  void* Run() override { return nullptr; }
};

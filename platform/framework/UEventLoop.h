// The main event loop's pump: timers (LTimerTask), repeaters and idlers
// (LPeriodical) and the cooperative threads (LThread), all on the program
// clock of platform/base/Clock.h, so that a test can switch to the manual
// clock, advance it and run the loop until nothing more is due.
#pragma once

#include "platform/framework/Events.h"

// A source of outside events that the loop drives (the desktop layer's Qt
// events): every pass processes what is pending, and the loop's sleep waits on
// the source so that its events and WakeUp end the sleep.
class UEventSource {
 public:
  virtual ~UEventSource() = default;
  // Handles the pending events without waiting.
  virtual void ProcessPending() = 0;
  // Waits at most inMicros for events and handles them.
  virtual void WaitAndProcess(SInt64 inMicros) = 0;
  // Ends a wait early; any thread.
  virtual void WakeUp() = 0;
};

class UEventLoop {
 public:
  // Installs the outside event source (nil: none). Main thread.
  static void SetEventSource(UEventSource* inSource);
  static UEventSource* GetEventSource();
  // One pass on the main thread: the timers that are due, the repeaters, the
  // idlers (with a null event), one yield to the ready cooperative threads,
  // and the deletion of ended threads. Returns true when timed work ran (a
  // timer, a periodical with an interval) or a cooperative thread was ready.
  static bool ProcessOnce();
  // Passes until one does no timed work and no thread is ready (at most
  // inMaxPasses). Does not move the clock. Returns the number of passes.
  static SInt32 RunUntilIdle(SInt32 inMaxPasses = 100000);
  // Runs passes until Quit(), sleeping between them until the next timer or
  // periodical is due (at most 6 ticks), never while a thread is ready.
  static void Run();
  // One pass, then, when it did no timed work and no thread is ready, the
  // sleep until the next timer or periodical is due (or a wake-up). A pass
  // nested inside another sleeps only when asked (modal loops: they are the
  // only loop that runs then).
  static void PassAndSleep(bool inEvenWhenNested = false);
  // How deep passes are nested now (0 outside any pass).
  static SInt32 GetPassDepth();
  // Ends Run() after the current pass; may be called from any thread.
  static void Quit();
  static bool IsQuitting();
  // Wakes a sleeping Run() early; may be called from any thread.
  static void WakeUp();
  // Forgets every timer and periodical registration and the quit request (tests).
  static void Reset();
};

// Periodic tasks of the main event loop. Idlers run when the loop has no
// event to handle, repeaters on every pass; either may be given an interval
// in seconds, and then runs only when that much time (of the program clock,
// platform/base/Clock.h) has passed since it last ran. A periodical may stop,
// start or delete itself and others from inside SpendTime. Main thread (or a
// cooperative thread holding the baton) only.
#pragma once

#include "platform/framework/Events.h"
#include "platform/framework/TArray.h"

class LPeriodical {
 public:
  LPeriodical() = default;
  LPeriodical(const LPeriodical&) = delete;
  LPeriodical& operator=(const LPeriodical&) = delete;
  virtual ~LPeriodical();

  // Every idle pass.
  virtual void StartIdling();
  // Idle passes once inInterval seconds have passed since the last call (first after inInterval).
  void StartIdling(EventTimerInterval inInterval);
  virtual void StopIdling();
  bool IsIdling() const { return mIdle.active; }

  // Every pass.
  virtual void StartRepeating();
  // Every inInterval seconds (first after inInterval).
  void StartRepeating(EventTimerInterval inInterval);
  virtual void StopRepeating();
  bool IsRepeating() const { return mRepeat.active; }

  virtual void SpendTime(const EventRecord& inMacEvent) = 0;

  // Runs the idlers (repeaters) that are due. Returns true when one with an
  // interval ran (those without an interval run on every pass and do not count).
  static bool DevoteTimeToIdlers(const EventRecord& inMacEvent);
  static bool DevoteTimeToRepeaters(const EventRecord& inMacEvent);
  // Microseconds of the program clock at which the next periodical with an
  // interval is due; -1 when none is.
  static SInt64 NextDueMicroseconds();
  // Whether a periodical without an interval exists (the loop then never sleeps long).
  static bool HasContinuousTasks();
  // Takes every periodical out of both queues (they stay alive, stopped).
  static void DeleteIdlerAndRepeaterQueues();

 private:
  struct Schedule {
    bool active = false;
    SInt64 interval = 0;  // microseconds; 0 = every pass
    SInt64 nextDue = 0;
  };
  static bool Devote(TArray<LPeriodical*>& ioQueue, Schedule LPeriodical::*inWhich, const EventRecord& inMacEvent);
  static void Start(TArray<LPeriodical*>& ioQueue, LPeriodical* inTask, Schedule& ioSchedule, EventTimerInterval inInterval);

  Schedule mIdle;
  Schedule mRepeat;
};

// A timer of the main event loop: DoTask runs once the fire delay has passed,
// then every interval when one is set. Re-arming (SetNextFireTime) and
// deleting timers from inside DoTask is safe. Main thread (or a cooperative
// thread holding the baton) only.
#pragma once

#include "platform/framework/Events.h"

class LTimerTask {
 public:
  // Installs the timer: it fires inFireDelay seconds from now
  // (kEventDurationForever: not armed), then every inInterval seconds when
  // inInterval is above 0.
  explicit LTimerTask(EventTimerInterval inFireDelay = kEventDurationForever, EventTimerInterval inInterval = 0);
  LTimerTask(const LTimerTask&) = delete;
  LTimerTask& operator=(const LTimerTask&) = delete;
  virtual ~LTimerTask();

  // Fires next inDelay seconds from now (kEventDurationForever: disarms). noErr.
  OSStatus SetNextFireTime(EventTimerInterval inDelay);
  bool IsArmed() const { return mFireAt >= 0; }

  virtual void SetUserData(void* inUserData) { mUserData = inUserData; }
  virtual void* GetUserData() const { return mUserData; }

  virtual void DoTask() = 0;

  // Fires the timers due now, earliest first, each at most once. Returns
  // whether any fired.
  static bool FireDueTimers();
  // Microseconds of the program clock at which the next timer is due; -1 when none is armed.
  static SInt64 NextDueMicroseconds();
  // Disarms every timer (they stay alive).
  static void DisarmAll();

 private:
  SInt64 mFireAt = -1;  // microseconds of the program clock; -1: not armed
  SInt64 mInterval = 0;
  UInt32 mLastPass = 0;
  void* mUserData = nullptr;
};

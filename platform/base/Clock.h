// The one clock of the program. Ticks (60 per second) and event time (seconds)
// come from the same source, which tests can replace by a manual clock that
// only moves when told to.
#pragma once

#include "platform/base/MacTypes.h"

// Ticks since the clock's origin, 60 per second.
UInt32 TickCount();
// Seconds since the clock's origin.
double GetCurrentEventTime();
// Waits the given number of ticks (advances a manual clock instead) and
// reports the tick count after the wait.
void Delay(UInt32 inTicks, UInt32* outFinalTicks);

class UClock {
 public:
  // Microseconds since the clock's origin.
  static SInt64 NowMicroseconds();
  // Switches to a manual clock standing at the current time (or back to the real one).
  static void SetManual(bool inManual);
  static bool IsManual();
  // Moves a manual clock forward (a real clock ignores this).
  static void AdvanceMicroseconds(SInt64 inMicros);
  static void AdvanceTicks(UInt32 inTicks) { AdvanceMicroseconds(static_cast<SInt64>(inTicks) * 1000000 / 60); }
  static void AdvanceSeconds(double inSeconds) { AdvanceMicroseconds(static_cast<SInt64>(inSeconds * 1e6)); }
  // Back to the real clock.
  static void Reset() { SetManual(false); }
};

// A manual clock for the life of a scope.
class StManualClock {
 public:
  StManualClock() { UClock::SetManual(true); }
  ~StManualClock() { UClock::SetManual(false); }
  StManualClock(const StManualClock&) = delete;
  StManualClock& operator=(const StManualClock&) = delete;
};

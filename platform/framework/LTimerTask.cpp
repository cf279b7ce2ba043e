#include "platform/framework/LTimerTask.h"

#include <algorithm>
#include <cmath>

#include "platform/base/Clock.h"
#include "platform/framework/TArray.h"

namespace {
TArray<LTimerTask*>& Timers() {
  static TArray<LTimerTask*> sTimers;
  return sTimers;
}
UInt32 sPass = 0;

SInt64 ToMicros(EventTimerInterval inSeconds) {
  if (!(inSeconds > 0)) return 0;
  return static_cast<SInt64>(std::llround(std::min(inSeconds, 1e9) * 1e6));
}
}  // namespace

LTimerTask::LTimerTask(EventTimerInterval inFireDelay, EventTimerInterval inInterval) : mInterval(ToMicros(inInterval)) {
  Timers().AddItem(this);
  SetNextFireTime(inFireDelay);
}

LTimerTask::~LTimerTask() { Timers().Remove(this); }

OSStatus LTimerTask::SetNextFireTime(EventTimerInterval inDelay) {
  mFireAt = inDelay < 0 ? -1 : UClock::NowMicroseconds() + ToMicros(inDelay);
  mLastPass = sPass;  // armed during a pass: fires in a later one
  return noErr;
}

bool LTimerTask::FireDueTimers() {
  const SInt64 now = UClock::NowMicroseconds();
  const UInt32 pass = ++sPass;
  bool fired = false;
  for (;;) {
    // Earliest due first; a timer re-armed or added meanwhile waits for the next pass.
    LTimerTask* next = nullptr;
    for (LTimerTask* t : Timers())
      if (t->mFireAt >= 0 && t->mFireAt <= now && t->mLastPass != pass && (!next || t->mFireAt < next->mFireAt)) next = t;
    if (!next) break;
    next->mLastPass = pass;
    if (next->mInterval > 0) {
      next->mFireAt += next->mInterval;
      if (next->mFireAt <= now) next->mFireAt = now + next->mInterval;
    } else {
      next->mFireAt = -1;
    }
    fired = true;
    next->DoTask();  // may delete the timer
  }
  return fired;
}

SInt64 LTimerTask::NextDueMicroseconds() {
  SInt64 due = -1;
  for (LTimerTask* t : Timers())
    if (t->mFireAt >= 0 && (due < 0 || t->mFireAt < due)) due = t->mFireAt;
  return due;
}

void LTimerTask::DisarmAll() {
  for (LTimerTask* t : Timers()) t->mFireAt = -1;
}

#include "platform/framework/LPeriodical.h"

#include <cmath>

#include "platform/base/Clock.h"

namespace {
TArray<LPeriodical*>& IdlerQueue() {
  static TArray<LPeriodical*> sQueue;
  return sQueue;
}
TArray<LPeriodical*>& RepeaterQueue() {
  static TArray<LPeriodical*> sQueue;
  return sQueue;
}
SInt64 ToMicros(EventTimerInterval inSeconds) {
  if (!(inSeconds > 0)) return 0;
  return static_cast<SInt64>(std::llround(std::min(inSeconds, 1e9) * 1e6));
}
}  // namespace

LPeriodical::~LPeriodical() {
  IdlerQueue().Remove(this);
  RepeaterQueue().Remove(this);
}

void LPeriodical::Start(TArray<LPeriodical*>& ioQueue, LPeriodical* inTask, Schedule& ioSchedule,
                        EventTimerInterval inInterval) {
  ioSchedule.interval = ToMicros(inInterval);
  ioSchedule.nextDue = UClock::NowMicroseconds() + ioSchedule.interval;
  if (!ioSchedule.active) {
    ioSchedule.active = true;
    ioQueue.AddItem(inTask);
  }
}

void LPeriodical::StartIdling() { Start(IdlerQueue(), this, mIdle, 0); }
void LPeriodical::StartIdling(EventTimerInterval inInterval) { Start(IdlerQueue(), this, mIdle, inInterval); }
void LPeriodical::StartRepeating() { Start(RepeaterQueue(), this, mRepeat, 0); }
void LPeriodical::StartRepeating(EventTimerInterval inInterval) { Start(RepeaterQueue(), this, mRepeat, inInterval); }

void LPeriodical::StopIdling() {
  mIdle.active = false;
  IdlerQueue().Remove(this);
}

void LPeriodical::StopRepeating() {
  mRepeat.active = false;
  RepeaterQueue().Remove(this);
}

bool LPeriodical::Devote(TArray<LPeriodical*>& ioQueue, Schedule LPeriodical::*inWhich, const EventRecord& inMacEvent) {
  bool ranTimed = false;
  SInt64 now = UClock::NowMicroseconds();
  TArrayIterator<LPeriodical*> iterator(ioQueue);
  LPeriodical* task;
  while (iterator.Next(task)) {
    Schedule& schedule = task->*inWhich;
    if (schedule.interval > 0) {
      if (now < schedule.nextDue) continue;
      // The next time keeps the rhythm; after a long stall it restarts from
      // now rather than firing a burst of missed calls.
      schedule.nextDue += schedule.interval;
      if (schedule.nextDue <= now) schedule.nextDue = now + schedule.interval;
      ranTimed = true;
    }
    task->SpendTime(inMacEvent);  // may delete the task: touch it no more
  }
  return ranTimed;
}

bool LPeriodical::DevoteTimeToIdlers(const EventRecord& inMacEvent) {
  return Devote(IdlerQueue(), &LPeriodical::mIdle, inMacEvent);
}

bool LPeriodical::DevoteTimeToRepeaters(const EventRecord& inMacEvent) {
  return Devote(RepeaterQueue(), &LPeriodical::mRepeat, inMacEvent);
}

SInt64 LPeriodical::NextDueMicroseconds() {
  SInt64 due = -1;
  for (auto* queue : {&IdlerQueue(), &RepeaterQueue()}) {
    const bool idle = queue == &IdlerQueue();
    for (LPeriodical* task : *queue) {
      const Schedule& s = idle ? task->mIdle : task->mRepeat;
      if (s.interval > 0 && (due < 0 || s.nextDue < due)) due = s.nextDue;
    }
  }
  return due;
}

bool LPeriodical::HasContinuousTasks() {
  for (LPeriodical* task : IdlerQueue())
    if (task->mIdle.interval == 0) return true;
  for (LPeriodical* task : RepeaterQueue())
    if (task->mRepeat.interval == 0) return true;
  return false;
}

void LPeriodical::DeleteIdlerAndRepeaterQueues() {
  for (LPeriodical* task : IdlerQueue()) task->mIdle.active = false;
  for (LPeriodical* task : RepeaterQueue()) task->mRepeat.active = false;
  IdlerQueue().RemoveAllItems();
  RepeaterQueue().RemoveAllItems();
}

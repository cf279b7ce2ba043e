// The event record of the window toolbox, as far as the framework's periodic
// tasks and the event loop use it, and event-loop time intervals.
#pragma once

#include "platform/base/MacTypes.h"

enum {
  nullEvent = 0,
  mouseDown = 1,
  mouseUp = 2,
  keyDown = 3,
  keyUp = 4,
  autoKey = 5,
  updateEvt = 6,
  diskEvt = 7,
  activateEvt = 8,
  osEvt = 15,
  kHighLevelEvent = 23,
};

// Modifier bits of an event (Ctrl on this desktop plays the command key).
enum {
  activeFlag = 0x0001,
  btnState = 0x0080,  // set while the button is up
  cmdKey = 0x0100,
  shiftKey = 0x0200,
  alphaLock = 0x0400,
  optionKey = 0x0800,
  controlKey = 0x1000,
};
// The parts of a key event's message.
constexpr UInt32 charCodeMask = 0x000000FF;
constexpr UInt32 keyCodeMask = 0x0000FF00;

struct EventRecord {
  UInt16 what = nullEvent;
  UInt32 message = 0;
  UInt32 when = 0;  // ticks
  Point where = {0, 0};
  UInt16 modifiers = 0;
};

// Seconds.
typedef double EventTimerInterval;
constexpr EventTimerInterval kEventDurationForever = -1.0;
constexpr EventTimerInterval kEventDurationNoWait = 0.0;
constexpr EventTimerInterval kEventDurationSecond = 1.0;
constexpr EventTimerInterval kEventDurationMillisecond = 0.001;

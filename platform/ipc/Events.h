// The event loop's view of the system: WaitNextEvent with a minimal event
// record, and application events (launched, terminated) delivered to
// handlers installed on the application target. Handlers run on the thread
// that calls WaitNextEvent, from inside that call.
//
// WaitNextEvent serves the calling thread's run loop (default mode) while it
// waits, so message ports on that loop are answered during the sleep. It
// reads the program's clock: with a manual clock it never blocks, it serves
// what is ready and advances the clock by the sleep instead.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/Events.h"
#include "platform/ipc/Processes.h"

// EventRecord, nullEvent and kHighLevelEvent come from the framework.
typedef UInt16 EventKind;
typedef UInt16 EventMask;
typedef UInt16 EventModifiers;

enum : EventMask {
  highLevelEventMask = 0x0400,
  everyEvent = 0xFFFF,
};

// An apple event arrives as a high-level event: message is the event class,
// the event id is in `where` read as 32 bits (see GetHighLevelEventID).
constexpr OSType kCoreEventClass = 'aevt';
constexpr OSType kAEQuitApplication = 'quit';
constexpr OSType kAEApplicationDied = 'obit';

// The event id of a high-level event.
OSType GetHighLevelEventID(const EventRecord& inEvent);

// Waits at most inSleepTicks for an event in inMask. False with a null event
// when none came. A process end that no handler took arrives as the apple
// event 'aevt'/'obit'; a quit request (PostQuitAppleEvent) as 'aevt'/'quit'.
Boolean WaitNextEvent(EventMask inMask, EventRecord* outEvent, UInt32 inSleepTicks, const void* inMouseRgn);

// Asks this program to quit: the next WaitNextEvent returns 'aevt'/'quit'.
void PostQuitAppleEvent();

// Ends the sleep of this program's WaitNextEvent at once (it returns a null
// event), from any thread: a thread that has queued work for the event loop
// calls it so that the work need not wait for the sleep to pass. Only the
// current process can be woken (procNotFound for another).
OSErr WakeUpProcess(const ProcessSerialNumber* inProcess);

// Application events.
typedef struct OpaqueEventRef* EventRef;
typedef struct OpaqueEventHandlerCallRef* EventHandlerCallRef;
typedef struct OpaqueEventHandlerRef* EventHandlerRef;
typedef struct OpaqueEventTargetRef* EventTargetRef;
typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef inCallRef, EventRef inEvent, void* inUserData);
typedef EventHandlerProcPtr EventHandlerUPP;
inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr inProc) { return inProc; }
inline void DisposeEventHandlerUPP(EventHandlerUPP) {}

struct EventTypeSpec {
  UInt32 eventClass;
  UInt32 eventKind;
};

typedef OSType EventParamName;
typedef OSType EventParamType;

constexpr UInt32 kEventClassApplication = 'appl';
constexpr UInt32 kEventAppLaunched = 4;    // params 'psn ' (typeProcessSerialNumber), 'lref' (typeUInt32)
constexpr UInt32 kEventAppTerminated = 6;  // param 'psn '
constexpr EventParamName kEventParamProcessID = 'psn ';
constexpr EventParamName kEventParamLaunchRefCon = 'lref';
constexpr EventParamType typeProcessSerialNumber = 'psn ';
constexpr EventParamType typeUInt32 = 'magn';
constexpr EventParamType typeWildCard = '****';

EventTargetRef GetApplicationEventTarget();
OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef);
inline OSStatus InstallApplicationEventHandler(EventHandlerUPP inHandler, ItemCount inNumTypes,
                                               const EventTypeSpec* inList, void* inUserData,
                                               EventHandlerRef* outRef) {
  return InstallEventHandler(GetApplicationEventTarget(), inHandler, inNumTypes, inList, inUserData, outRef);
}
OSStatus RemoveEventHandler(EventHandlerRef inRef);

UInt32 GetEventClass(EventRef inEvent);
UInt32 GetEventKind(EventRef inEvent);
// Copies a parameter; eventParameterNotFoundErr when the event has none of
// that name or type (typeWildCard takes any type), paramErr when the buffer
// is too small.
OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData);

// Queues an application event for the next WaitNextEvent (any thread).
void PostApplicationEvent(UInt32 inKind, const ProcessSerialNumber& inPSN, const UInt32* inLaunchRefCon);
// Drops queued events and installed handlers (for tests).
void ResetApplicationEventsForTesting();

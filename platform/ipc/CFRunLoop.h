// Run loops: each thread has one, created on first use. A run loop waits for
// its sources (message ports, watched descriptors) in a mode and calls them on
// its own thread. CFRunLoopStop may be called from any thread; a stop that
// arrives while the loop is not running ends its next run at once.
#pragma once

#include <functional>

#include "platform/ipc/CFBase.h"

typedef struct OpaqueCFRunLoop* CFRunLoopRef;
typedef struct OpaqueCFRunLoopSource* CFRunLoopSourceRef;

// Modes are strings compared by their text. A source added in the common
// modes is served in every mode.
typedef CFStringRef CFRunLoopMode;
extern const CFRunLoopMode kCFRunLoopDefaultMode;
extern const CFRunLoopMode kCFRunLoopCommonModes;

typedef SInt32 CFRunLoopRunResult;
enum : SInt32 {
  kCFRunLoopRunFinished = 1,       // no source in the mode
  kCFRunLoopRunStopped = 2,        // CFRunLoopStop
  kCFRunLoopRunTimedOut = 3,       // the time ran out
  kCFRunLoopRunHandledSource = 4,  // a source was served and the caller asked to return then
};

// The calling thread's run loop (not retained: it lives as long as its thread;
// the main thread's for the life of the process).
CFRunLoopRef CFRunLoopGetCurrent();
CFRunLoopRef CFRunLoopGetMain();

// The loop retains the source while it holds it.
void CFRunLoopAddSource(CFRunLoopRef inLoop, CFRunLoopSourceRef inSource, CFRunLoopMode inMode);
void CFRunLoopRemoveSource(CFRunLoopRef inLoop, CFRunLoopSourceRef inSource, CFRunLoopMode inMode);
Boolean CFRunLoopContainsSource(CFRunLoopRef inLoop, CFRunLoopSourceRef inSource, CFRunLoopMode inMode);

// Runs the current thread's loop in the default mode until it is stopped or
// has no sources left.
void CFRunLoopRun();
// Runs the current thread's loop in the mode for at most inSeconds (0: serve
// what is ready and return).
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode inMode, CFTimeInterval inSeconds,
                                      Boolean inReturnAfterSourceHandled);
void CFRunLoopStop(CFRunLoopRef inLoop);
void CFRunLoopWakeUp(CFRunLoopRef inLoop);

// An invalid source stays in its loops but is never served again.
void CFRunLoopSourceInvalidate(CFRunLoopSourceRef inSource);
Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef inSource);

// The layer's own kind of source: inPerform runs on the loop's thread whenever
// inDescriptor is readable (or closed by the other end). The source does not
// own the descriptor; inOwner (may be nullptr) is retained for the source's life.
CFRunLoopSourceRef CFRunLoopSourceCreateForDescriptor(int inDescriptor, std::function<void()> inPerform,
                                                      CFIndex inOrder, CFTypeRef inOwner = nullptr);

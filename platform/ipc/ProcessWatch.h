// Inside the ipc layer: the watch on the launcher and on launched programs,
// whose ends become kEventAppTerminated events.
#pragma once

#include <sys/types.h>

#include "platform/ipc/CFRunLoop.h"

namespace UProcessWatch {
// Starts watching a process; inIsChild: a program this process launched (reaped when it ends).
void Watch(pid_t inPID, bool inIsChild);
// Starts watching the launcher (once) and puts every watch's source on the loop.
void Attach(CFRunLoopRef inLoop);
// True when some watch has no descriptor and must be polled.
bool NeedsPolling();
// Checks the watches without descriptors.
void Poll();
// The launcher's process id (0 when unknown).
pid_t LauncherPID();
}  // namespace UProcessWatch

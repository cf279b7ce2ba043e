// The file manager's error for a failed system call.
#pragma once

#include "platform/base/MacTypes.h"

// The OSErr for an errno value (ioErr for values without a closer match).
OSErr OSErrFromErrno(int inErrno);

// The Core Foundation pieces the message ports add to the files layer's
// strings and URLs: time intervals and immutable byte blocks (CFData).
// CFRetain and CFRelease (platform/files/CoreFoundation.h) take them too.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/CoreFoundation.h"

typedef double CFTimeInterval;

typedef const struct OpaqueCFData* CFDataRef;

CFTypeID CFDataGetTypeID();
// A copy of inLength bytes (nullptr bytes with a length of 0 make an empty
// block). nullptr for a negative length, or nullptr bytes with a positive length.
CFDataRef CFDataCreate(CFAllocatorRef inAllocator, const UInt8* inBytes, CFIndex inLength);
CFDataRef CFDataCreateCopy(CFAllocatorRef inAllocator, CFDataRef inData);
// The bytes (never nullptr for a data object, even when empty) and their count.
const UInt8* CFDataGetBytePtr(CFDataRef inData);
CFIndex CFDataGetLength(CFDataRef inData);

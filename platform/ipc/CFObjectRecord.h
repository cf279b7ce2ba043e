// Inside the ipc layer: the objects made here (data, message ports, run loops
// and their sources) start with the files layer's object record, so CFRetain
// and CFRelease work on them like on strings and URLs.
#pragma once

#include <atomic>

#include "platform/files/CFObject.h"

// Type ids of the ipc layer's objects (the files layer uses 1 to 3).
constexpr CFTypeID kCFDataTypeID = 20;
constexpr CFTypeID kCFMessagePortTypeID = 21;
constexpr CFTypeID kCFRunLoopTypeID = 22;
constexpr CFTypeID kCFRunLoopSourceTypeID = 23;

// Retains unless the last reference is already gone (for holders of a plain
// pointer that the object clears when it dies).
inline bool CFTryRetain(const OpaqueCFObject* inObject) {
  auto& refs = const_cast<OpaqueCFObject*>(inObject)->refs;
  SInt32 count = refs.load();
  while (count > 0)
    if (refs.compare_exchange_weak(count, count + 1)) return true;
  return false;
}

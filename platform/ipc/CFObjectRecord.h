// Inside the ipc layer: the record every Core Foundation object starts with.
// CFRetain and CFRelease (platform/files) work on it, so the objects made here
// (data, message ports, run loops and their sources) are retained and released
// by the same calls as strings and URLs. The definition must stay the same,
// token for token, as the one in platform/files/CoreFoundation.cpp; the ipc
// tests check that the files layer's calls handle our objects.
#pragma once

#include <atomic>

#include "platform/files/CoreFoundation.h"

struct OpaqueCFObject {
  explicit OpaqueCFObject(CFTypeID inType) : type(inType) {}
  virtual ~OpaqueCFObject() = default;
  CFTypeID type;
  std::atomic<SInt32> refs{1};
  bool constant = false;
};

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

// The record every Core Foundation object of the platform layer starts with;
// CFRetain, CFRelease and CFGetTypeID work on it. Other parts of the layer
// that make objects of their own derive them from this record (type ids 1 to
// 3 are the files layer's: strings, URLs, bundles).
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

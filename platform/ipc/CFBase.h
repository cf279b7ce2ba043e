// The small part of Core Foundation the message ports need: reference-counted
// objects released with CFRelease, and immutable byte blocks (CFData).
#pragma once

#include <atomic>

#include "platform/base/MacTypes.h"

typedef long CFIndex;
typedef double CFTimeInterval;
typedef const void* CFTypeRef;
typedef const struct OpaqueCFAllocator* CFAllocatorRef;
constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

// The base of every object handed out as a CF reference. Objects start with a
// count of one; CFRelease of the last reference deletes them.
class CFObject {
 public:
  CFObject() = default;
  virtual ~CFObject() = default;
  CFObject(const CFObject&) = delete;
  CFObject& operator=(const CFObject&) = delete;

  void Retain() const { mRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() const;
  // Retains the object unless its last reference is already gone (for
  // holders of a plain pointer that the owner clears when it dies).
  bool TryRetain() const {
    CFIndex count = mRefCount.load(std::memory_order_relaxed);
    while (count > 0)
      if (mRefCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) return true;
    return false;
  }
  CFIndex RetainCount() const { return mRefCount.load(std::memory_order_relaxed); }

 private:
  mutable std::atomic<CFIndex> mRefCount{1};
};

// Both accept nullptr and do nothing with it (CFRetain returns it).
CFTypeRef CFRetain(CFTypeRef inObject);
void CFRelease(CFTypeRef inObject);
CFIndex CFGetRetainCount(CFTypeRef inObject);

// An immutable block of bytes.
typedef const struct OpaqueCFData* CFDataRef;

// A copy of inLength bytes (nullptr bytes with a length of 0 make an empty
// block). nullptr for a negative length, or nullptr bytes with a positive length.
CFDataRef CFDataCreate(CFAllocatorRef inAllocator, const UInt8* inBytes, CFIndex inLength);
CFDataRef CFDataCreateCopy(CFAllocatorRef inAllocator, CFDataRef inData);
// The bytes (never nullptr for a valid object, even when empty) and their count.
const UInt8* CFDataGetBytePtr(CFDataRef inData);
CFIndex CFDataGetLength(CFDataRef inData);

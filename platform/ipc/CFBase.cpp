#include "platform/ipc/CFBase.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

class CFDataObject : public CFObject {
 public:
  CFDataObject(const UInt8* inBytes, size_t inLength) : mBytes(inBytes, inBytes + inLength) {}
  const UInt8* Bytes() const {
    static const UInt8 sEmpty = 0;
    return mBytes.empty() ? &sEmpty : mBytes.data();
  }
  CFIndex Length() const { return static_cast<CFIndex>(mBytes.size()); }

 private:
  std::vector<UInt8> mBytes;
};

const CFObject* AsObject(CFTypeRef inRef) { return static_cast<const CFObject*>(inRef); }

const CFDataObject* AsData(CFDataRef inRef) {
  return dynamic_cast<const CFDataObject*>(static_cast<const CFObject*>(static_cast<const void*>(inRef)));
}

}  // namespace

void CFObject::Release() const {
  if (mRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

CFTypeRef CFRetain(CFTypeRef inObject) {
  if (inObject != nullptr) AsObject(inObject)->Retain();
  return inObject;
}

void CFRelease(CFTypeRef inObject) {
  if (inObject != nullptr) AsObject(inObject)->Release();
}

CFIndex CFGetRetainCount(CFTypeRef inObject) { return inObject ? AsObject(inObject)->RetainCount() : 0; }

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* inBytes, CFIndex inLength) {
  if (inLength < 0 || (inBytes == nullptr && inLength > 0)) return nullptr;
  static const UInt8 sNone = 0;
  try {
    const CFObject* obj = new CFDataObject(inBytes ? inBytes : &sNone, static_cast<size_t>(inLength));
    return static_cast<CFDataRef>(static_cast<const void*>(obj));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFDataRef CFDataCreateCopy(CFAllocatorRef inAllocator, CFDataRef inData) {
  const CFDataObject* data = AsData(inData);
  if (data == nullptr) return nullptr;
  return CFDataCreate(inAllocator, data->Bytes(), data->Length());
}

const UInt8* CFDataGetBytePtr(CFDataRef inData) {
  const CFDataObject* data = AsData(inData);
  return data ? data->Bytes() : nullptr;
}

CFIndex CFDataGetLength(CFDataRef inData) {
  const CFDataObject* data = AsData(inData);
  return data ? data->Length() : 0;
}

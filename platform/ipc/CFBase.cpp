#include "platform/ipc/CFBase.h"

#include <new>
#include <vector>

#include "platform/ipc/CFObjectRecord.h"

struct OpaqueCFData : OpaqueCFObject {
  OpaqueCFData(const UInt8* inBytes, size_t inLength)
      : OpaqueCFObject(kCFDataTypeID), bytes(inBytes, inBytes + inLength) {}
  std::vector<UInt8> bytes;
};

namespace {

const OpaqueCFData* AsData(CFDataRef inRef) {
  return (inRef && inRef->type == kCFDataTypeID) ? inRef : nullptr;
}

}  // namespace

CFTypeID CFDataGetTypeID() { return kCFDataTypeID; }

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* inBytes, CFIndex inLength) {
  if (inLength < 0 || (inBytes == nullptr && inLength > 0)) return nullptr;
  static const UInt8 sNone = 0;
  try {
    return new OpaqueCFData(inBytes ? inBytes : &sNone, static_cast<size_t>(inLength));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFDataRef CFDataCreateCopy(CFAllocatorRef inAllocator, CFDataRef inData) {
  const OpaqueCFData* data = AsData(inData);
  if (data == nullptr) return nullptr;
  return CFDataCreate(inAllocator, data->bytes.data(), static_cast<CFIndex>(data->bytes.size()));
}

const UInt8* CFDataGetBytePtr(CFDataRef inData) {
  static const UInt8 sEmpty = 0;
  const OpaqueCFData* data = AsData(inData);
  if (data == nullptr) return nullptr;
  return data->bytes.empty() ? &sEmpty : data->bytes.data();
}

CFIndex CFDataGetLength(CFDataRef inData) {
  const OpaqueCFData* data = AsData(inData);
  return data ? static_cast<CFIndex>(data->bytes.size()) : 0;
}

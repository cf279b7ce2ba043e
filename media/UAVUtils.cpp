#include "media/UAVUtils.h"

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"

Boolean UAVUtils::mAllowAV = true;
Boolean UAVUtils::mAVpresent = false;
Boolean UAVUtils::mUseAV = false;

namespace {

bool VectorUnitPresent() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
#elif defined(__aarch64__) || defined(__ARM_NEON)
  return true;
#else
  return false;
#endif
}

}  // namespace

void UAVUtils::Init() {
  mAVpresent = VectorUnitPresent();
  mUseAV = mAllowAV && mAVpresent;
}

void UAVUtils::SetAllowAV(bool inAllow) {
  mAllowAV = inAllow;
  mUseAV = inAllow && mAVpresent;
}

void UAVUtils::ClearCache() {
  constexpr SInt32 kSize = 1000000;
  OSErr err = noErr;
  Handle h = TempNewHandle(kSize, &err);
  if (!h) Throw_(err_NilPointer);
  HLock(h);
  volatile char* p = *h;
  for (SInt32 i = 0; i < kSize; ++i) p[i] = static_cast<char>(0xFF);
  DisposeHandle(h);
}

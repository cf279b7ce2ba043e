// What the processor's vector unit offers. The pixel kernels are written so
// that the compiler vectorises them and their vector names are the kernels
// themselves (CBufferProcs.h): mUseAV only reports, it selects nothing.
#pragma once

#include "platform/base/MacTypes.h"

class UAVUtils {
 public:
  // Looks for the vector unit and sets mUseAV = mAllowAV and mAVpresent.
  static void Init();
  static void SetAllowAV(bool inAllow);
  // Writes through a large temporary block so that no earlier data stays cached.
  static void ClearCache();

  static Boolean mAllowAV;
  static Boolean mAVpresent;
  static Boolean mUseAV;
};

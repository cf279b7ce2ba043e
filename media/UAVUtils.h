// The vector-unit switch of the pixel kernels. The portable kernels are
// written so that the compiler vectorises them; the vector variants select
// the same code, so the switch changes which entry runs, never the result.
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

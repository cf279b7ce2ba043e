#pragma once

#include "platform/base/MacTypes.h"

// Builds a rectangle from its edges in QuickDraw order (top, left, bottom, right), narrowing each edge to the
// 16-bit coordinates a Rect stores.
inline Rect MakeRect(SInt32 inTop, SInt32 inLeft, SInt32 inBottom, SInt32 inRight) {
  Rect r;
  r.top = static_cast<SInt16>(inTop);
  r.left = static_cast<SInt16>(inLeft);
  r.bottom = static_cast<SInt16>(inBottom);
  r.right = static_cast<SInt16>(inRight);
  return r;
}

// Small rectangle and corner helpers shared by the motion data store.
#pragma once

#include <algorithm>

#include "platform/base/FixMath.h"
#include "platform/base/ImageMatrix.h"

// The rectangle inset on each side by a fraction of its width and height
// (each inset truncated to whole pixels).
inline void InsetByFraction(Rect inRect, Rect& outRect, double inFraction) {
  SInt16 dx = static_cast<SInt16>((inRect.right - inRect.left) * inFraction);
  SInt16 dy = static_cast<SInt16>((inRect.bottom - inRect.top) * inFraction);
  outRect.top = static_cast<SInt16>(inRect.top + dy);
  outRect.left = static_cast<SInt16>(inRect.left + dx);
  outRect.bottom = static_cast<SInt16>(inRect.bottom - dy);
  outRect.right = static_cast<SInt16>(inRect.right - dx);
}

// Integer part of a fixed-point value.
inline SInt32 FixTrunc(Fixed f) { return static_cast<SInt32>(Fix2X(f)); }

// The four corners of a rectangle mapped by a matrix: top-left, top-right,
// bottom-right, bottom-left.
inline void MapCorners(const MatrixRecord& inMatrix, const Rect& inRect, FixedPoint outCorners[4]) {
  outCorners[0] = {Long2Fix(inRect.left), Long2Fix(inRect.top)};
  outCorners[1] = {Long2Fix(inRect.right), Long2Fix(inRect.top)};
  outCorners[2] = {Long2Fix(inRect.right), Long2Fix(inRect.bottom)};
  outCorners[3] = {Long2Fix(inRect.left), Long2Fix(inRect.bottom)};
  TransformFixedPoints(&inMatrix, outCorners, 4);
}

// The edges of the area that mapped corners keep covered.
inline void InnerEdges(const FixedPoint c[4], SInt32& left, SInt32& top, SInt32& right, SInt32& bottom) {
  left = FixTrunc(std::max(c[0].x, c[3].x));
  right = FixTrunc(std::min(c[1].x, c[2].x));
  top = FixTrunc(std::max(c[0].y, c[1].y));
  bottom = FixTrunc(std::min(c[2].y, c[3].y));
}

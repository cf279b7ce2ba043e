// Scoped savers of the drawing state around drawing and movie calls.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/graphics/CGGraphics.h"
#include "platform/graphics/QuickDraw.h"

// Saves the current QuickDraw port and device and, when the port is valid,
// its origin, pen, colours, text settings and clip region; the destructor
// puts all of them back, unless the port has gone away meanwhile.
class StDrawContextState {
 public:
  StDrawContextState();
  ~StDrawContextState();
  StDrawContextState(const StDrawContextState&) = delete;
  StDrawContextState& operator=(const StDrawContextState&) = delete;

 private:
  CGrafPtr mPort = nullptr;
  GDHandle mDevice = nullptr;
  Point mOrigin{0, 0};
  RGBColor mForeColor{0, 0, 0};
  RGBColor mBackColor{0, 0, 0};
  PenState mPenState{};
  SInt16 mTextFont = 0;
  SInt16 mTextSize = 0;
  SInt16 mTextFace = 0;
  SInt16 mTextMode = 0;
  RgnHandle mClip = nullptr;  // owned; nil when the port was not valid
};

// Saves a Quartz context's graphics state and restores it when done.
class CGContextSaver {
 public:
  CGContextSaver() = default;
  explicit CGContextSaver(CGContextRef inContext) { Save(inContext); }
  ~CGContextSaver() { Restore(); }
  CGContextSaver(const CGContextSaver&) = delete;
  CGContextSaver& operator=(const CGContextSaver&) = delete;

  // Restores the held context first, then saves and holds the new one.
  void Save(CGContextRef inContext);
  // Restores the held context's state and holds nothing.
  void Restore();
  CGContextRef Get() const { return mContext; }

 private:
  CGContextRef mContext = nullptr;
};

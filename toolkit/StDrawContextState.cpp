#include "toolkit/StDrawContextState.h"

StDrawContextState::StDrawContextState() {
  GetGWorld(&mPort, &mDevice);
  if (!IsValidPort(mPort)) return;
  Rect bounds;
  GetPortBounds(mPort, &bounds);
  mOrigin = Point{bounds.top, bounds.left};
  GetPenState(&mPenState);
  GetForeColor(&mForeColor);
  GetBackColor(&mBackColor);
  mTextFont = GetPortTextFont(mPort);
  mTextSize = GetPortTextSize(mPort);
  mTextFace = static_cast<SInt16>(GetPortTextFace(mPort) & 0xFF);
  mTextMode = GetPortTextMode(mPort);
  mClip = NewRgn();
  if (mClip) GetClip(mClip);
}

StDrawContextState::~StDrawContextState() {
  // A port disposed of inside the scope is left alone.
  if (IsValidPort(mPort)) {
    SetGWorld(mPort, mDevice);
    SetOrigin(mOrigin.h, mOrigin.v);
    SetPenState(&mPenState);
    RGBForeColor(&mForeColor);
    RGBBackColor(&mBackColor);
    TextFont(mTextFont);
    TextSize(mTextSize);
    TextFace(mTextFace);
    TextMode(mTextMode);
    if (mClip) SetClip(mClip);
  }
  if (mClip) DisposeRgn(mClip);
}

void CGContextSaver::Save(CGContextRef inContext) {
  Restore();
  if (!inContext) return;
  CGContextSaveGState(inContext);
  mContext = inContext;
}

void CGContextSaver::Restore() {
  if (!mContext) return;
  CGContextRestoreGState(mContext);
  mContext = nullptr;
}

#include "toolkit/UProgress.h"

#include <algorithm>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"

UProgress::UProgress(const LStr255& inMessage, ProgressProcPtr inProc, SInt32 inRefCon)
    : mProc(inProc), mRefCon(inRefCon), mMessage(inMessage), mLastTicks(TickCount()), mStartTicks(mLastTicks) {}

UProgress::~UProgress() {
  if (mProc && mOpened) mProc(kProgressClose, mFraction, mRefCon, mMessage);
}

bool UProgress::Progress(SInt32 inValue) {
  UInt32 now = TickCount();
  if (now - mLastTicks < kProgressTicks) return true;
  if (mProc && !mOpened) {
    SInt16 result = mProc(kProgressOpen, mFraction, mRefCon, mMessage);
    mOpened = true;
    if (result != noErr && result != userCanceledErr) Throw_(result);
  }
  mLastTicks = now;
  mFraction = std::clamp<SInt32>(inValue, 0, 256) * (fixed1 / 256);
  if (mProc && mOpened) return mProc(kProgressUpdate, mFraction, mRefCon, mMessage) == 0;
  return true;
}

bool UProgress::UserReply() {
  mLastTicks = TickCount();
  if (mProc && mOpened) return mProc(kProgressUpdate, mFraction, mRefCon, mMessage) == 0;
  return true;
}

void UProgress::SetMessage(const LStr255& inMessage) {
  mLastTicks = TickCount();
  mMessage = inMessage;
  UserReply();
}

// Progress of long operations, throttled: the caller reports as often as it
// likes, the progress procedure hears of it at most once per 6 ticks, and is
// opened only when the operation lasts that long.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LStr255.h"

// message 0 open (a result other than 0 and -128 is an error), 1 update (any
// result other than 0 cancels), 2 close; fraction 16.16 from 0 to 1.
typedef SInt16 (*ProgressProcPtr)(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon, unsigned char* inText);

constexpr SInt16 kProgressOpen = 0;
constexpr SInt16 kProgressUpdate = 1;
constexpr SInt16 kProgressClose = 2;
constexpr UInt32 kProgressTicks = 6;

class UProgress {
 public:
  UProgress(const LStr255& inMessage, ProgressProcPtr inProc, SInt32 inRefCon);
  virtual ~UProgress();
  UProgress(const UProgress&) = delete;
  UProgress& operator=(const UProgress&) = delete;

  // Replaces the text shown and asks the procedure at once.
  virtual void SetMessage(const LStr255& inMessage);
  // inValue from 0 to 256; false when the user cancelled.
  virtual bool Progress(SInt32 inValue);
  // Asks the procedure at once with the current fraction; false on cancel.
  virtual bool UserReply();

  Fixed GetFraction() const { return mFraction; }

 protected:
  ProgressProcPtr mProc;
  Fixed mFraction = 0;
  SInt32 mRefCon;
  LStr255 mMessage;
  UInt32 mLastTicks;
  UInt32 mStartTicks;
  bool mOpened = false;
};

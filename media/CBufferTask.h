// The band engine's record: one horizontal band of an image operation, run as
// a task engine work item. A band procedure receives the record, works on the
// rows [first row, first row + rows) of the destination box (and of the source
// box), reports its progress before every row, polls for a stop request at
// least once per row, and returns a status (0, -50, 'nilP', -128 or its own).
#pragma once

#include <cstdint>
#include <type_traits>

#include "media/CTaskObject.h"
#include "platform/base/MacTypes.h"

class CBuffer;

#if __has_include("toolkit/UProgress.h")
#include "toolkit/UProgress.h"
#else
// The progress callback of long operations (the toolkit's declaration):
// message 0 open, 1 update, 2 close; the fraction is 16.16 from 0 to 1; on an
// update any non-zero answer cancels.
typedef SInt16 (*ProgressProcPtr)(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon, unsigned char* inText);
#endif

typedef SInt32 (*BandProcPtr)(void* inTask);

// Options of one operation: a band count of 0 means one band per processor.
struct TaskOptions {
  SInt32 mBandCount = 0;
};

class CBufferTask : public CTaskObject {
 public:
  static constexpr int kScratchSlots = 32;

  explicit CBufferTask(BandProcPtr inProc);
  // Frees every non-nil scratch slot (std::malloc memory).
  ~CBufferTask() override;

  // Runs the procedure on this record; no exception escapes.
  SInt32 Run() override;

  // Stores the band's progress (0..256) for the polling thread.
  void SetProgress(SInt32 inValue) { SetCompletion(inValue); }
  SInt32 GetProgress() const { return std::atomic_ref<const SInt32>(mCompletion).load(std::memory_order_relaxed); }

  BandProcPtr mProc;
  CBuffer* mSource = nullptr;
  CBuffer* mDest = nullptr;
  CBuffer* mMask = nullptr;
  Rect mSourceBox{0, 0, 0, 0};
  Rect mDestBox{0, 0, 0, 0};
  SInt32 mFirstRow = 0;
  SInt32 mRows = 0;
  void* mUserParam = nullptr;
  void* mScratch[kScratchSlots] = {};
};

// Calls a progress procedure whatever integer or pointer type its reference has.
template <class R, class M, class F, class Ref, class T>
R CallProgressProc(R (*inProc)(M, F, Ref, T), SInt16 inMessage, SInt32 inFraction, void* inRefCon,
                   unsigned char* inText) {
  Ref ref;
  if constexpr (std::is_pointer_v<Ref>)
    ref = static_cast<Ref>(inRefCon);
  else
    ref = static_cast<Ref>(reinterpret_cast<intptr_t>(inRefCon));
  return inProc(static_cast<M>(inMessage), static_cast<F>(inFraction), ref, inText);
}

// The band engine's record: one horizontal band of an image operation, run as
// a task engine work item. A band procedure receives the record, works on the
// rows [first row, first row + rows) of the destination box (and of the source
// box), reports its progress before every row, polls for a stop request at
// least once per row, and returns a status (0, -50, 'nilP', -128 or its own).
#pragma once

#include "media/CTaskObject.h"
#include "platform/base/MacTypes.h"

class CBuffer;

#include "toolkit/UProgress.h"

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

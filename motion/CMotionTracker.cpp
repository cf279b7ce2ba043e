#include "motion/CMotionTracker.h"

#include <cstring>

#include "media/CBuffer.h"
#include "platform/base/LException.h"

SInt32 TrackerFieldModesFor(EAnalysisFieldMode inMode, ETrackerFieldMode outModes[2]) {
  switch (inMode) {
    case EAnalysisFieldMode::kFrames:
      outModes[0] = ETrackerFieldMode::kFrame;
      return 1;
    case EAnalysisFieldMode::kOddFieldFirst:
      outModes[0] = ETrackerFieldMode::kOddField;
      outModes[1] = ETrackerFieldMode::kEvenField;
      return 2;
    case EAnalysisFieldMode::kEvenFieldFirst:
      outModes[0] = ETrackerFieldMode::kEvenField;
      outModes[1] = ETrackerFieldMode::kOddField;
      return 2;
  }
  return 0;
}

CMotionTracker::CMotionTracker() = default;

CMotionTracker::~CMotionTracker() { ReleaseSource(); }

void CMotionTracker::ReleaseSource() {
  if (mSource) {
    CBuffer* source = mSource;
    mSource = nullptr;
    source->Release();
  }
}

OSErr CMotionTracker::BeginTracking(CBuffer* inBuffer, Rect inTrackRect, ProgressProcPtr, void*) {
  // The buffer may be the one of the run that ends here: it must outlive that end.
  StBufferRetainer keep(inBuffer);
  if (mTracking) EndTracking();
  ThrowIfNil_(inBuffer);
  if (EmptyRect(&inTrackRect)) Throw_(paramErr);
  inBuffer->Retain();
  ReleaseSource();
  mSource = inBuffer;
  mTrackRect = inTrackRect;
  mTracking = true;
  mRecords.RemoveAllItems();
  return noErr;
}

void CMotionTracker::EndTracking() {
  ReleaseSource();
  mTracking = false;
}

OSErr CMotionTracker::ResetTracker(ProgressProcPtr inProgress, void* inRefCon) {
  if (!mTracking) return noErr;
  CBuffer* buffer = mSource;
  const Rect rect = mTrackRect;
  // The buffer must survive the end of the first run.
  StBufferRetainer keep(buffer);
  EndTracking();
  try {
    return BeginTracking(buffer, rect, inProgress, inRefCon);
  } catch (...) {
    return OSErrOfCurrent();
  }
}

OSErr CMotionTracker::SetAccuracy(QTrackingAccuracy inAccuracy) {
  if (inAccuracy < kTrackingAccuracyMin || inAccuracy > kTrackingAccuracyMax) return paramErr;
  mAccuracy = inAccuracy;
  return noErr;
}

DiffMotionData CMotionTracker::NewRecord(SInt32 inDuration) {
  DiffMotionData record;
  std::memset(&record, 0, sizeof(record));
  record.version = kMotionDataVersion;
  record.options = GetOptions();
  record.scale = 1.0f;
  record.duration = inDuration;
  record.centerX = static_cast<Float32>((mTrackRect.left + mTrackRect.right) * 0.5);
  record.centerY = static_cast<Float32>((mTrackRect.top + mTrackRect.bottom) * 0.5);
  return record;
}

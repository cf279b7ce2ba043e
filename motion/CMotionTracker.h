// The interface of the motion trackers. A tracking task hands a tracker the
// buffer into which it renders each frame and the tracking Rect (the region
// of interest), calls ProcessFrame once per frame or field in time order, ends
// the tracking and then reads one DiffMotionData record per call and the
// tracker's options word.
#pragma once

#include "media/CBufferTask.h"
#include "motion/CMotionData.h"
#include "platform/base/MacTypes.h"
#include "platform/framework/TArray.h"
#include "platform/graphics/QuickDraw.h"

class CBuffer;

// Tracking accuracy: 1 to 3; 3 also tracks a fourth pyramid level.
typedef SInt32 QTrackingAccuracy;
constexpr QTrackingAccuracy kTrackingAccuracyMin = 1;
constexpr QTrackingAccuracy kTrackingAccuracyDefault = 2;
constexpr QTrackingAccuracy kTrackingAccuracyMax = 3;

// What one ProcessFrame call looks at: the whole frame, or one field of an
// interlaced frame (odd field: the rows with an even vertical coordinate).
// The border tracker's edge search also takes the renderer's single-field
// modes (one field stretched over the whole frame, kRenderFirstFieldStretch
// and kRenderSecondFieldStretch), which hold field lines too; ProcessFrame
// takes only the first three.
enum class ETrackerFieldMode : SInt32 {
  kFrame = 1,
  kOddField = 2,
  kEvenField = 3,
  kFirstFieldStretched = 5,
  kSecondFieldStretched = 6,
};

// How the document analyses its movie, as stored with the motion data
// (the 'IntM' item): whole frames, or both fields with the odd or the even
// field first. Not interchangeable with ETrackerFieldMode although both
// contain a 2 and a 3.
enum class EAnalysisFieldMode : SInt32 {
  kFrames = 2,
  kOddFieldFirst = 3,
  kEvenFieldFirst = 4,
};

// The tracker calls one analysed frame takes, in order: one whole-frame call
// for kFrames, two field calls otherwise. Answers the number of calls written
// to outModes (1 or 2), or 0 for a mode that is none of the three.
SInt32 TrackerFieldModesFor(EAnalysisFieldMode inMode, ETrackerFieldMode outModes[2]);

class CMotionTracker {
 public:
  CMotionTracker();
  // Releases the source buffer when it is still held.
  virtual ~CMotionTracker();
  CMotionTracker(const CMotionTracker&) = delete;
  CMotionTracker& operator=(const CMotionTracker&) = delete;

  // Ends a tracking run that is still going, holds the buffer (one
  // reference) and the Rect, empties the records and starts tracking.
  // Failures are LExceptions: 'nilP' for a nil buffer, -50 for an empty Rect.
  virtual OSErr BeginTracking(CBuffer* inBuffer, Rect inTrackRect, ProgressProcPtr inProgress, void* inRefCon);
  // Releases the source buffer and stops tracking; the records stay.
  virtual void EndTracking();
  // While tracking: ends and begins again over the same buffer and Rect
  // (emptying the records) and answers the result; else 0.
  virtual OSErr ResetTracker(ProgressProcPtr inProgress, void* inRefCon);
  virtual Boolean IsTracking() { return mTracking; }
  // 1, 2 or 3: stored, 0; anything else: -50 and nothing changes.
  virtual OSErr SetAccuracy(QTrackingAccuracy inAccuracy);
  virtual QTrackingAccuracy GetAccuracy() { return mAccuracy; }
  virtual TArray<DiffMotionData>& GetMotionDataArray() { return mRecords; }
  virtual UInt32 GetOptions() = 0;
  // Measures one frame or field of the source buffer and appends one record
  // (the border tracker: one measurement). Answers 0 or the error; nothing
  // is appended on an error. The trackers never call the progress procedure
  // (the tracking task's procedure yields its thread, which must not happen
  // while pixel work is under way).
  virtual OSErr ProcessFrame(SInt32 inDuration, ETrackerFieldMode inMode, ProgressProcPtr inProgress,
                             void* inRefCon) = 0;

  CBuffer* GetSourceBuffer() const { return mSource; }
  const Rect& GetTrackRect() const { return mTrackRect; }

 protected:
  // Releases the held source buffer, if any.
  void ReleaseSource();
  // A record with the fields every tracker fills the same way.
  DiffMotionData NewRecord(SInt32 inDuration);

  CBuffer* mSource = nullptr;
  Rect mTrackRect = {0, 0, 0, 0};
  TArray<DiffMotionData> mRecords;
  QTrackingAccuracy mAccuracy = kTrackingAccuracyDefault;
  Boolean mTracking = false;
};

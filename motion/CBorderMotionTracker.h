// The border tracker: measures horizontal and vertical motion of a picture
// area that moves inside dark borders (a film frame inside its black
// surround). Every frame or field it finds the inner edges of the left,
// right, top and bottom dark borders with their strengths; when tracking
// ends it takes the typical total border width and height of the whole run
// and turns each frame's edges into a picture offset and then into
// frame-to-frame shifts, one record per measurement.
#pragma once

#include "motion/CMotionTracker.h"

class CBuffer;

// One measurement: the inner edge of each border, in pixels from the outer
// edge of the analysed picture (left: the last dark column's index; right:
// counted from the rightmost column; top and bottom likewise in frame rows),
// 0 when no edge was found, and the edge's strength (0 when none).
struct BorderRawData {
  SInt32 duration;
  float left, right, top, bottom;
  float leftStrength, rightStrength, topStrength, bottomStrength;
};

class CBorderMotionTracker : public CMotionTracker {
 public:
  static constexpr UInt32 kOptions = 0x02000019;
  static constexpr UInt32 kOptionsAccuracy3 = 0x02010019;
  // A column (median) or row (90th percentile) at most this bright is dark.
  static constexpr SInt32 kDarkLevel = 9;
  // The smallest summed inward step that makes an edge.
  static constexpr float kMinEdgeStrength = 200.0f;

  CBorderMotionTracker();
  ~CBorderMotionTracker() override;

  // The base's, then the measurements are emptied.
  OSErr BeginTracking(CBuffer* inBuffer, Rect inTrackRect, ProgressProcPtr inProgress, void* inRefCon) override;
  // The base's, then the measurements become records.
  void EndTracking() override;
  UInt32 GetOptions() override;
  // Finds the borders of the tracking Rect of the frame, or of that Rect's
  // rows of one field; appends one measurement.
  OSErr ProcessFrame(SInt32 inDuration, ETrackerFieldMode inMode, ProgressProcPtr inProgress,
                     void* inRefCon) override;

  TArray<BorderRawData>& GetMeasurements() { return mMeasurements; }

  // The edges of a grey picture (8-bit). Field modes (2, 3 and the
  // renderer's 5 and 6) give top and bottom in frame rows (doubled).
  static OSErr FindBorder(CBuffer* inGrey, BorderRawData& outData, ETrackerFieldMode inMode);
  // The median rule: count / 2 times the largest value is set to 0, then the
  // largest remaining value (values are taken as non-negative; 0 for none).
  // The values are changed.
  static void DoMedianSortFloat(float* ioValues, SInt32 inCount, float& outMedian);
  static void DoMedianSortLong(SInt32* ioValues, SInt32 inCount, SInt32& outMedian);

 protected:
  TArray<BorderRawData> mMeasurements;
};

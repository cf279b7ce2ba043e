// The automatic pyramid tracker: measures scale, rotation and translation of
// every frame or field. The tracking Rect of each frame becomes a grey image
// pyramid (2:1 reductions); the coarsest levels are filtered into float
// gradient planes and measured by the block estimator from the coarsest up,
// each level predicted by the result of the coarser one.
#pragma once

#include "motion/CAlignedPlane.h"
#include "motion/CMotionTracker.h"
#include "motion/CTracker.h"

#include <atomic>
#include <memory>
#include <vector>

class CBuffer;
class CBufferTask;

// One level of the pyramid.
struct PyramidLevelData {
  // Makes the grey buffer over inBounds and the two zero-filled planes
  // ('nilP' when memory cannot be had).
  PyramidLevelData(Rect inBounds, Rect inSource, Rect inTrackRect);
  ~PyramidLevelData();
  PyramidLevelData(const PyramidLevelData&) = delete;
  PyramidLevelData& operator=(const PyramidLevelData&) = delete;

  // This frame's plane becomes the previous one.
  void Rotate();

  Rect mBounds;   // top-left at the tracking Rect's top-left; the level's size
  Rect mSource;   // the part of the next finer picture that reduces to this level
  CBuffer* mGrey = nullptr;  // 8-bit grey over mBounds
  float* mCurrent = nullptr;   // width x height floats, row after row
  float* mPrevious = nullptr;
  // The memory of the two planes (swapped with the views by Rotate).
  CAlignedPlane mCurrentPlane;
  CAlignedPlane mPreviousPlane;
  float mHScale = 1.0f;  // level width / tracking Rect width
  float mVScale = 1.0f;  // level height / tracking Rect height
  // The taper every block is multiplied by as it is copied out (n x n
  // floats, owned by the tracker); none: the block as it stands.
  const float* mWindow = nullptr;
  SInt32 mWindowCount = 0;
};

class CAutoMotionTracker : public CMotionTracker {
 public:
  static constexpr UInt32 kOptions = 0x0100001F;
  static constexpr UInt32 kOptionsAccuracy3 = 0x0101001F;
  // Levels are made while both sides are at least this long.
  static constexpr SInt32 kMinLevelSide = 48;
  // A tracking Rect higher than this and wider than kHalveWidth is halved
  // before the first level.
  static constexpr SInt32 kHalveHeight = 288;
  static constexpr SInt32 kHalveWidth = 360;
  static constexpr SInt32 kBlockExponent = 5;
  // Vertical distance, in frame rows, by which the measurement of a field
  // against the field before it (of the other parity) is corrected.
  static constexpr float kFieldOffset = 0.9f;

  CAutoMotionTracker();
  ~CAutoMotionTracker() override;

  // The base's, then the pyramid and the block estimator; -50 (and no
  // tracking) when the Rect is too small for a level.
  OSErr BeginTracking(CBuffer* inBuffer, Rect inTrackRect, ProgressProcPtr inProgress, void* inRefCon) override;
  // Both finish the last frame's record first (see FinishFrame).
  void EndTracking() override;
  TArray<DiffMotionData>& GetMotionDataArray() override;
  UInt32 GetOptions() override;
  OSErr ProcessFrame(SInt32 inDuration, ETrackerFieldMode inMode, ProgressProcPtr inProgress,
                     void* inRefCon) override;
  // Frees the levels and the block estimator.
  virtual void DeleteAll();

  TArray<PyramidLevelData*>& GetLevels() { return mLevels; }
  CTracker* GetEstimator() { return mEstimator; }
  float GetQualitySum() {
    FinishFrame();
    return mQualitySum;
  }

  // Band procedures (CBufferTask records; 8-bit buffers). The copies convert
  // ARGB to grey at the same size; the field copies write the chosen field
  // row of each row pair (pairs counted from the top of the operation) to
  // both rows. The reductions halve both sides; the field reductions take
  // one source row per output row. The filter writes the gradient plane
  // (user parameter) of its grey source.
  static SInt32 CopyFrame_proc(void* inTask);
  static SInt32 CopyOddField_proc(void* inTask);
  static SInt32 CopyEvenField_proc(void* inTask);
  static SInt32 ReduceBy2_proc(void* inTask);
  static SInt32 ReduceBy2_Odd_proc(void* inTask);
  static SInt32 ReduceBy2_Even_proc(void* inTask);
  static SInt32 DiffFilterProc(void* inTask);

  // Block providers over a level (refcon): the current and the previous
  // plane. Blocks must lie strictly inside the level bounds.
  static Boolean CurrBlockProvider(float* outDest, SInt32 inCount, Rect inBlock, void* inRefCon);
  static Boolean LastBlockProvider(float* outDest, SInt32 inCount, Rect inBlock, void* inRefCon);

 protected:
  // Fills the grey buffers of every level from the source for one mode.
  // With inFilterFirst >= 1, the same loop also writes the gradient planes
  // of the levels [inFilterFirst, count] when it can (outFiltered says so;
  // otherwise FilterLevels is still to run).
  OSErr BuildPyramid(ETrackerFieldMode inMode, SInt32 inFilterFirst = 0, bool* outFiltered = nullptr);
  // Writes the gradient planes of the levels [inFirst, inLast] (indices in
  // mLevels) in one pass over all their rows.
  OSErr FilterLevels(SInt32 inFirst, SInt32 inLast);
  // The fit of the finest tracked level and the record of the frame whose
  // blocks were compared last, if it is still to come. ProcessFrame leaves
  // it for the next call, whose pyramid loop runs it on the calling thread
  // beside the workers (it needs only the estimator's positions, and the
  // new pyramid needs nothing of it); the records, the quality and the end
  // of tracking run it first.
  void FinishFrame();

  TArray<PyramidLevelData*> mLevels;  // finest first
  CTracker* mEstimator = nullptr;
  float mQualitySum = 0.0f;
  std::vector<float> mWindow;  // the block taper the levels point to

 private:
  // Makes sure there is a band record for each of inWorkers workers.
  void ReserveBandRecords(SInt32 inWorkers);

  // The band records of the pyramid's operations, one per worker, kept from
  // frame to frame: a worker runs its rows of every level through its own.
  std::vector<std::unique_ptr<CBufferTask>> mBandRecords;
  // Per item boundary of the pyramid's loop: how many of the two runs on
  // either side have written their rows (the second filters the rows by it).
  std::unique_ptr<std::atomic<UInt8>[]> mEdgeArrivals;
  size_t mEdgeCount = 0;
  // The frame whose finest fit is still to run; its record holds the
  // motion of the coarser levels until then.
  struct PendingFrame {
    bool pending = false;
    ArrayIndexT index = 0;   // of its record
    SInt32 compareErr = 0;   // of the finest level's comparisons
    Rect bounds = {};        // that level's
    float hScale = 1.0f, vScale = 1.0f;
    float quality = 0.0f;    // of the coarser levels
  };
  PendingFrame mPending;
};

// The block motion estimator: measures how one picture moved against the
// previous one as a similarity model (scale, rotation, translation). A grid of
// square blocks of the current picture is compared, by FFT cross-correlation,
// with the blocks of the previous picture where a predicted model expects them;
// the correlation peaks give sub-pixel matched positions, and a weighted
// gradient-descent fit with outlier passes turns them into the model.
//
// The estimator never sees an image: it takes its blocks from two block
// providers, one for the current and one for the previous picture. The block
// comparisons run in parallel as FrameTask items on the task engine.
#pragma once

#include <memory>
#include <vector>

#include "media/CTaskObject.h"
#include "motion/CAlignedPlane.h"
#include "platform/base/ImageMatrix.h"
#include "platform/base/MacTypes.h"
#include "platform/dsp/VectorDSP.h"
#include "platform/framework/TArray.h"

// Copies the n x n block whose bounds are `block` (in the coordinates of the
// tracking Rect) into `dest` as n rows of n floats and answers true, or answers
// false when it cannot supply the block (which is then skipped). `count` is
// n * n. Providers are called from several tasks at once and must only read.
typedef Boolean (*BlockProviderProc)(float* dest, SInt32 count, Rect block, void* refcon);

// The model. It maps a point (X, Y) of the previous picture, relative to the
// centre of the tracking Rect, to (a*X + b*Y + tx, -b*X + a*Y + ty) in the
// current one: a is the scale, b the (small-angle) rotation in radians, and
// tx, ty the displacement of the content in the tracker's pixels.
struct TransData {
  double a;
  double b;
  double tx;
  double ty;
};

// One compared block pair: top-left corners of block A in the current picture
// and of block B in the previous picture.
struct BlockData {
  SInt32 aLeft;
  SInt32 aTop;
  SInt32 bLeft;
  SInt32 bTop;
};

// One matched position.
struct PosData {
  float x;  // centre of the current block, relative to the centre of the tracking Rect
  float y;
  float matchedX;  // where the model should map (x, y)
  float matchedY;
  float strength;  // weight in the fit
  float residual;  // distance of the model's image of (x, y) from the match
  Boolean valid;   // cleared when an outlier pass drops the position
};

// One task's share of the block comparisons.
struct FrameTaskData {
  BlockProviderProc currentProvider;
  BlockProviderProc previousProvider;
  void* currentRefcon;
  void* previousRefcon;
  SInt32 width;
  SInt32 height;
  float fieldOffset;
  BlockData* blocks;
  SInt32 blockCount;
  SInt32 exponent;
  SInt32 side;
  Rect trackRect;
};

// Compares a run of block pairs on a preemptive task. Everything it needs is
// allocated once in the constructor; nothing is allocated per block.
class FrameTask : public CTaskObject {
 public:
  // A task stores at most this many positions; later ones are dropped.
  static constexpr SInt32 kMaxPositions = 9999;
  static constexpr SInt32 kPositionBufferSize = 10000;
  static constexpr SInt32 kScratchBytes = 16384;

  // Fails with 'nilP' (after freeing what it allocated) when memory or the
  // FFT setup cannot be had, and with paramErr for a block side it cannot use.
  explicit FrameTask(FrameTaskData& inData);
  ~FrameTask() override;

  // Compares every block of the share in order; polls the stop flag once per
  // block and answers -128 when asked to stop; answers a failure's code.
  SInt32 Run() override;
  // Compares one block pair whose pictures are in the current and previous
  // real planes.
  void BlockCompare(BlockData& inBlock);
  // Turns the correlation surface (the squared magnitude, n x n, wrapped
  // indices) of one block pair into positions.
  void FindPositions(BlockData& inBlock, float* inSurface);
  // Points the task at another share of the same block side (positions
  // found so far are dropped); paramErr for data it cannot use.
  void SetShare(const FrameTaskData& inData);
  // Appends the positions found so far, in order.
  void GetPositions(TArray<PosData>& ioPositions);
  template <class Fn>
  void ForEachPosition(Fn&& inFn) const {
    for (SInt32 i = 0; i < mPositionCount; ++i) inFn(mPositions[i]);
  }
  SInt32 GetPositionCount() const { return mPositionCount; }
  void DeleteAll();

  // In-place 2-D complex FFT of a split-complex array ('nilP' for a missing
  // setup or part); uses the scratch variant when both scratch parts exist.
  static void FFT(FFTSetup inSetup, float* ioReal, float* ioImag, SInt32 inLog2Cols, SInt32 inLog2Rows,
                  int inDirection, float* inScratchReal, float* inScratchImag);
  // c = a * b, or conj(a) * b when inConjugate is -1 ('nilP' for any missing pointer).
  static void ComplexMultiply(float* aRe, float* aIm, float* bRe, float* bIm, float* cRe, float* cIm,
                              UInt32 inCount, SInt32 inConjugate);

 protected:
  SInt32 mExponent = 0;
  SInt32 mSide = 0;
  SInt32 mWidth = 0;
  SInt32 mHeight = 0;
  FFTSetup mFFTSetup = nullptr;
  BlockProviderProc mCurrentProvider = nullptr;
  BlockProviderProc mPreviousProvider = nullptr;
  void* mCurrentRefcon = nullptr;
  void* mPreviousRefcon = nullptr;
  Rect mTrackRect = {};
  float mFieldOffset = 0.0f;
  float* mCurrentReal = nullptr;
  float* mCurrentImag = nullptr;
  float* mPreviousReal = nullptr;
  float* mPreviousImag = nullptr;
  float* mScratchReal = nullptr;
  float* mScratchImag = nullptr;
  float* mRowMax = nullptr;  // the peak scan's largest magnitude per row
  // The memory behind the views above: the four planes in one, the two
  // scratch halves in one, and the row maxima.
  CAlignedPlane mPlanes;
  CAlignedPlane mScratch;
  CAlignedPlane mRowMaxPlane;
  BlockData* mBlocks = nullptr;
  SInt32 mBlockCount = 0;
  PosData* mPositions = nullptr;
  SInt32 mPositionCount = 0;
};

class CTracker {
 public:
  // Block side 2^exponent, exponent 2 to 10 (paramErr otherwise).
  explicit CTracker(SInt32 inExponent);
  virtual ~CTracker() = default;

  SInt32 SetBlockProvider(BlockProviderProc inCurrent, void* inCurrentRefcon, BlockProviderProc inPrevious,
                          void* inPreviousRefcon);
  // Measures the motion inside inTrackRect, blocks of the previous picture
  // taken where inPredicted expects them; inFieldOffset is added to every
  // matched y. Results: mModel, mModelValid and mMeanStrength. Answers 0 or the
  // error; on an error the model is the identity and not valid, except for
  // missing providers ('nilP'), which change nothing.
  SInt32 DoTrack(Rect inTrackRect, MatrixRecord& inPredicted, float inFieldOffset);
  // DoTrack in its two steps: the block comparisons, and the fit, which
  // first gathers their positions into mPositions (empty until then).
  // Between the two the estimator must be left alone. A failed comparison
  // sets the results as DoTrack does, and is not to be followed by the fit.
  SInt32 CompareBlocks(Rect inTrackRect, MatrixRecord& inPredicted, float inFieldOffset);
  SInt32 FitModel();
  // Compares the blocks in parallel and appends the positions in block order.
  // Answers 0 or the error (then nothing is appended).
  SInt32 FrameCompare(TArray<BlockData>& ioBlocks, TArray<PosData>& ioPositions);
  // Fits the model to the positions (identity first); false when there is none.
  Boolean CalcModelParams(TransData* outModel, TArray<PosData>& ioPositions);
  // The model as a matrix about the centre of the tracking Rect; answers the
  // model valid flag.
  Boolean GetTransformMatrix(MatrixRecord& outMatrix);
  SInt32 CountBadPoints(TArray<PosData>& inPositions, double inThreshold);
  void EliminateBadPoints(TArray<PosData>& ioPositions, double inThreshold);

  static void ComputeDiscrepancy(TransData* inModel, TArray<PosData>& ioPositions);
  // Weighted means over the valid positions (NaN for a count below 1):
  // Deriv_c of a*X + b*Y + tx - X', Deriv_d of a*Y - b*X + ty - Y',
  // Deriv_a of rx*X + ry*Y and Deriv_b of rx*Y - ry*X with (rx, ry) the
  // residual vector of a position.
  static double Deriv_a(TransData* inModel, PosData* inFirst, SInt32 inCount);
  static double Deriv_b(TransData* inModel, PosData* inFirst, SInt32 inCount);
  static double Deriv_c(TransData* inModel, PosData* inFirst, SInt32 inCount);
  static double Deriv_d(TransData* inModel, PosData* inFirst, SInt32 inCount);
  static void CreateHanningMask(SInt32 inWidth, SInt32 inHeight, float* outMask);
  static void TestBlock(float* outBlock, SInt32 inSide, float inOffset);

  // State, read directly by the caller.
  SInt32 mExponent;
  SInt32 mSide;
  SInt32 mWidth = 0;
  SInt32 mHeight = 0;
  Rect mTrackRect = {};
  BlockProviderProc mCurrentProvider = nullptr;
  BlockProviderProc mPreviousProvider = nullptr;
  void* mCurrentRefcon = nullptr;
  void* mPreviousRefcon = nullptr;
  float mFieldOffset = 0.0f;
  TransData mModel = {1.0, 0.0, 0.0, 0.0};
  TArray<PosData> mPositions;
  Boolean mModelValid = false;
  float mMeanStrength = 0.0f;

 private:
  // The comparison records of the workers, kept from one comparison to the
  // next (their planes and FFT setups are costly to make).
  std::vector<std::unique_ptr<FrameTask>> mWorkers;
  // Where each run's positions went: the worker's list, the first position
  // there and their number, filed under the run's first block (worker -1:
  // no run starts at that block). Kept, like the lists, so that a
  // comparison allocates nothing once the sizes have been seen.
  struct RunPositions {
    SInt32 worker;
    SInt32 first;
    SInt32 count;
  };
  std::vector<RunPositions> mRuns;  // empty once joined
  // FrameCompare in its two steps: the comparisons, leaving each run's
  // positions in its worker's list, and the join of those lists in block
  // order onto ioPositions (nothing for a comparison joined already).
  SInt32 CompareRuns(TArray<BlockData>& ioBlocks);
  // Inside a catch: the results of a failed measurement, and its code.
  SInt32 FailMeasurement();
  SInt32 JoinPositions(TArray<PosData>& ioPositions);
  std::vector<std::vector<PosData>> mFound;  // per worker
  TArray<BlockData> mBlocks;                 // the grid of the comparison
};

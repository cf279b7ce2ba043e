#include "motion/CTracker.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/tasks/MPBands.h"

namespace {

constexpr SInt32 kMinExponent = 2;
constexpr SInt32 kMaxExponent = 10;

bool FitsRect(SInt32 inLeft, SInt32 inTop, SInt32 inSide) {
  constexpr SInt32 kMin = std::numeric_limits<SInt16>::min(), kMax = std::numeric_limits<SInt16>::max();
  return inLeft >= kMin && inTop >= kMin && inLeft <= kMax - inSide && inTop <= kMax - inSide;
}

Rect BlockRect(SInt32 inLeft, SInt32 inTop, SInt32 inSide) {
  Rect r;
  r.top = static_cast<SInt16>(inTop);
  r.left = static_cast<SInt16>(inLeft);
  r.bottom = static_cast<SInt16>(inTop + inSide);
  r.right = static_cast<SInt16>(inLeft + inSide);
  return r;
}

const TransData kIdentityModel = {1.0, 0.0, 0.0, 0.0};

// The distance of the model's image of a position from its match.
inline float ResidualOf(const TransData& m, const PosData& p) {
  const double X = p.x, Y = p.y;
  const double rx = m.a * X + m.b * Y + m.tx - p.matchedX;
  const double ry = m.a * Y - m.b * X + m.ty - p.matchedY;
  return static_cast<float>(std::sqrt(rx * rx + ry * ry));
}

// Weighted mean of term(position, rx, ry) over the valid positions.
template <class Term>
double WeightedMean(const TransData* inModel, const PosData* inFirst, SInt32 inCount, Term inTerm) {
  if (inModel == nullptr || inFirst == nullptr || inCount < 1) return std::numeric_limits<double>::quiet_NaN();
  const TransData& m = *inModel;
  double sumW = 0.0, sum = 0.0;
  for (SInt32 i = 0; i < inCount; ++i) {
    const PosData& p = inFirst[i];
    if (!p.valid) continue;
    const double X = p.x, Y = p.y;
    const double rx = m.a * X + m.b * Y + m.tx - p.matchedX;
    const double ry = m.a * Y - m.b * X + m.ty - p.matchedY;
    sumW += p.strength;
    sum += p.strength * inTerm(X, Y, rx, ry);
  }
  return sum / sumW;
}

}  // namespace

// ---------------------------------------------------------------------------
// FrameTask

FrameTask::FrameTask(FrameTaskData& inData) {
  if (inData.exponent < kMinExponent || inData.exponent > kMaxExponent || inData.side != (1 << inData.exponent) ||
      inData.blockCount < 0 || (inData.blockCount > 0 && inData.blocks == nullptr))
    Throw_(paramErr);
  mExponent = inData.exponent;
  mSide = inData.side;
  SetShare(inData);
  try {
    const size_t planeFloats = static_cast<size_t>(mSide) * static_cast<size_t>(mSide);
    mPlanes.Reset(4 * planeFloats, false);
    float* planes = mPlanes.Get();
    mCurrentReal = planes;
    mCurrentImag = planes + planeFloats;
    mPreviousReal = planes + 2 * planeFloats;
    mPreviousImag = planes + 3 * planeFloats;
    constexpr size_t kScratchFloats = kScratchBytes / sizeof(float);
    mScratch.Reset(2 * kScratchFloats, false);
    mScratchReal = mScratch.Get();
    mScratchImag = mScratch.Get() + kScratchFloats;
    mRowMaxPlane.Reset(static_cast<size_t>(mSide), false);
    mRowMax = mRowMaxPlane.Get();
    mPositions = new (std::nothrow) PosData[kPositionBufferSize];
    ThrowIfNil_(mPositions);
    mFFTSetup = create_fftsetup(static_cast<vDSP_Length>(mExponent), kFFTRadix2);
    ThrowIfNil_(mFFTSetup);
  } catch (...) {
    DeleteAll();
    throw;
  }
}

void FrameTask::SetShare(const FrameTaskData& inData) {
  if (inData.exponent != mExponent || inData.side != mSide || inData.blockCount < 0 ||
      (inData.blockCount > 0 && inData.blocks == nullptr))
    Throw_(paramErr);
  mWidth = inData.width;
  mHeight = inData.height;
  mCurrentProvider = inData.currentProvider;
  mPreviousProvider = inData.previousProvider;
  mCurrentRefcon = inData.currentRefcon;
  mPreviousRefcon = inData.previousRefcon;
  mTrackRect = inData.trackRect;
  mFieldOffset = inData.fieldOffset;
  mBlocks = inData.blocks;
  mBlockCount = inData.blockCount;
  mPositionCount = 0;
}

FrameTask::~FrameTask() {
  // Run uses this object's planes: it must have ended before they go.
  StopTask(true);
  DeleteAll();
}

void FrameTask::DeleteAll() {
  mPlanes.Free();
  mCurrentReal = mCurrentImag = mPreviousReal = mPreviousImag = nullptr;
  mScratch.Free();
  mScratchReal = mScratchImag = nullptr;
  mRowMaxPlane.Free();
  mRowMax = nullptr;
  delete[] mPositions;
  mPositions = nullptr;
  mPositionCount = 0;
  destroy_fftsetup(mFFTSetup);
  mFFTSetup = nullptr;
}

SInt32 FrameTask::Run() {
  try {
    ThrowIfNil_(mCurrentProvider);
    ThrowIfNil_(mPreviousProvider);
    ThrowIfNil_(mPositions);
    const SInt32 count = mSide * mSide;
    for (SInt32 i = 0; i < mBlockCount; ++i) {
      if (ShouldStop()) return userCanceledErr;
      SetCompletion(static_cast<SInt32>((static_cast<SInt64>(i) * 256) / mBlockCount));
      BlockData& block = mBlocks[i];
      // A block that QuickDraw coordinates cannot describe cannot be asked for.
      if (!FitsRect(block.aLeft, block.aTop, mSide) || !FitsRect(block.bLeft, block.bTop, mSide)) continue;
      if (!mCurrentProvider(mCurrentReal, count, BlockRect(block.aLeft, block.aTop, mSide), mCurrentRefcon)) continue;
      if (!mPreviousProvider(mPreviousReal, count, BlockRect(block.bLeft, block.bTop, mSide), mPreviousRefcon))
        continue;
      BlockCompare(block);
    }
    SetCompletion(256);
    return noErr;
  } catch (...) {
    return ExceptionCodeOfCurrent();
  }
}

namespace {

// The two blocks are real, so one complex transform serves both: with
// Z = FFT(A + iB), FFT(A)(k) = (Z(k) + conj(Z(-k))) / 2 and
// FFT(B)(k) = (Z(k) - conj(Z(-k))) / 2i. Writes conj(FFT(A)) * FFT(B), the
// cross spectrum, into (outRe, outIm). Indices are wrapped per dimension.
void CrossSpectrumOfPackedPair(const float* __restrict zr, const float* __restrict zi, float* __restrict outRe,
                               float* __restrict outIm, SInt32 n) {
  const SInt32 mask = n - 1;
  for (SInt32 r = 0; r < n; ++r) {
    const float* __restrict pr = zr + static_cast<size_t>(r) * n;
    const float* __restrict pi = zi + static_cast<size_t>(r) * n;
    const SInt32 mirror = (n - r) & mask;
    const float* __restrict mr = zr + static_cast<size_t>(mirror) * n;
    const float* __restrict mi = zi + static_cast<size_t>(mirror) * n;
    float* __restrict xr = outRe + static_cast<size_t>(r) * n;
    float* __restrict xi = outIm + static_cast<size_t>(r) * n;
    auto combine = [&](SInt32 c, SInt32 mc) {
      const float p = pr[c], q = pi[c], u = mr[mc], v = mi[mc];
      const float alpha = p + u, beta = q - v, gamma = q + v, delta = p - u;
      xr[c] = 0.25f * (alpha * gamma - beta * delta);
      xi[c] = -0.25f * (alpha * delta + beta * gamma);
    };
    combine(0, 0);
    // Column c pairs with n - c: a plain reversal, which vectorises.
    for (SInt32 c = 1; c < n; ++c) combine(c, n - c);
  }
}

}  // namespace

void FrameTask::BlockCompare(BlockData& inBlock) {
  const UInt32 count = static_cast<UInt32>(mSide) * static_cast<UInt32>(mSide);
  // Both blocks in one transform: A as the real, B as the imaginary part.
  std::memcpy(mCurrentImag, mPreviousReal, count * sizeof(float));
  FFT(mFFTSetup, mCurrentReal, mCurrentImag, mExponent, mExponent, kFFTDirection_Forward, mScratchReal, mScratchImag);
  CrossSpectrumOfPackedPair(mCurrentReal, mCurrentImag, mPreviousReal, mPreviousImag, mSide);
  // A second forward transform (not the inverse) turns the cross spectrum
  // into the correlation N * sum A(x, y) * B(x - c, y - r) at index (r, c).
  FFT(mFFTSetup, mPreviousReal, mPreviousImag, mExponent, mExponent, kFFTDirection_Forward, mScratchReal,
      mScratchImag);
  // Its squared magnitude into the real plane.
  ComplexMultiply(mPreviousReal, mPreviousImag, mPreviousReal, mPreviousImag, mPreviousReal, mPreviousImag, count,
                  -1);
  FindPositions(inBlock, mPreviousReal);
}

void FrameTask::FindPositions(BlockData& inBlock, float* inSurface) {
  ThrowIfNil_(inSurface);
  const SInt32 n = mSide, half = n / 2, quarter = n / 4, mask = n - 1;
  const SInt32 cells = n * n;
  const float x = static_cast<float>((inBlock.aLeft + half) - mWidth / 2 - mTrackRect.left);
  const float y = static_cast<float>((inBlock.aTop + half) - mHeight / 2 - mTrackRect.top);

  // value(r, c) = surface^2, the fourth power of the correlation; r and c run
  // from -n/2 to n/2 - 1, a negative index addressing index + n of the plane.
  // Every decision below is relative to the peak, so the values are taken
  // divided by the peak value: the fourth power of a large correlation would
  // overflow a float.
  const float* __restrict surface = inSurface;
  constexpr SInt32 kLanes = 8;
  // The largest magnitude of every row (lanes, so that the loops vectorise).
  float* __restrict rowMax = mRowMax;
  for (SInt32 r = 0; r < n; ++r) {
    const float* __restrict row = surface + static_cast<size_t>(r) * n;
    float laneMax[kLanes] = {};
    SInt32 c = 0;
    for (; c + kLanes <= n; c += kLanes)
      for (SInt32 l = 0; l < kLanes; ++l) {
        const float a = std::fabs(row[c + l]);
        laneMax[l] = a > laneMax[l] ? a : laneMax[l];
      }
    for (; c < n; ++c) laneMax[0] = std::fabs(row[c]) > laneMax[0] ? std::fabs(row[c]) : laneMax[0];
    float m = 0.0f;
    for (float v : laneMax) m = v > m ? v : m;
    rowMax[r] = m;
  }
  float peakMagnitude = 0.0f;
  for (SInt32 r = 0; r < n; ++r) peakMagnitude = rowMax[r] > peakMagnitude ? rowMax[r] : peakMagnitude;
  // The peak must exceed the smallest normal float.
  const double peak = double(peakMagnitude) * double(peakMagnitude);
  if (!(peak > FLT_MIN) || !std::isfinite(peak)) return;
  const float scale = 1.0f / peakMagnitude;
  auto valueAt = [surface, n, mask, scale](SInt32 r, SInt32 c) {
    const float s = surface[static_cast<size_t>(r & mask) * n + (c & mask)] * scale;
    return s * s;
  };
  float laneSum[kLanes] = {};
  for (SInt32 i = 0; i < cells; i += kLanes)
    for (SInt32 l = 0; l < kLanes; ++l) {
      const float s = surface[i + l] * scale;
      laneSum[l] += s * s;
    }
  double sum = 0.0;
  for (float v : laneSum) sum += v;
  if (!std::isfinite(sum)) return;
  // The peak is the first cell holding the maximum, rows then columns in
  // ascending signed order.
  SInt32 peakRow = half, peakCol = half;
  for (SInt32 r = -half; r < half && peakRow == half; ++r) {
    if (rowMax[r & mask] != peakMagnitude) continue;
    const float* row = surface + static_cast<size_t>(r & mask) * n;
    for (SInt32 c = -half; c < half; ++c)
      if (std::fabs(row[c & mask]) == peakMagnitude) {
        peakRow = r;
        peakCol = c;
        break;
      }
  }
  if (peakRow < -quarter || peakRow >= quarter || peakCol < -quarter || peakCol >= quarter) return;

  // In units of the peak value (which, rounded, is about 1).
  const double mean = sum / cells;
  const double peakValue = valueAt(peakRow, peakCol);
  const double threshold = std::min(peakValue, std::max(0.25 * peakValue, 25.0 * mean));
  for (SInt32 r = -quarter; r < quarter; ++r)
    for (SInt32 c = -quarter; c < quarter; ++c) {
      if (valueAt(r, c) < threshold) continue;
      // Centroid of the 3 x 3 cells around it.
      double s = 0.0, sx = 0.0, sy = 0.0;
      for (SInt32 dr = -1; dr <= 1; ++dr)
        for (SInt32 dc = -1; dc <= 1; ++dc) {
          const double v = valueAt(r + dr, c + dc);
          s += v;
          sx += v * (c + dc);
          sy += v * (r + dr);
        }
      if (mPositionCount >= kMaxPositions) continue;
      PosData& p = mPositions[mPositionCount++];
      p.x = x;
      p.y = y;
      p.matchedX = x + static_cast<float>(inBlock.aLeft - inBlock.bLeft) + static_cast<float>(sx / s);
      p.matchedY = y + static_cast<float>(inBlock.aTop - inBlock.bTop) + static_cast<float>(sy / s) + mFieldOffset;
      p.strength = static_cast<float>(s / mean);
      p.residual = 0.0f;
      p.valid = true;
    }
}

void FrameTask::GetPositions(TArray<PosData>& ioPositions) {
  for (SInt32 i = 0; i < mPositionCount; ++i) ioPositions.AddItem(mPositions[i]);
}

void FrameTask::FFT(FFTSetup inSetup, float* ioReal, float* ioImag, SInt32 inLog2Cols, SInt32 inLog2Rows,
                    int inDirection, float* inScratchReal, float* inScratchImag) {
  ThrowIfNil_(inSetup);
  ThrowIfNil_(ioReal);
  ThrowIfNil_(ioImag);
  if (inLog2Cols < 0 || inLog2Rows < 0) Throw_(paramErr);
  DSPSplitComplex data{ioReal, ioImag};
  if (inScratchReal && inScratchImag) {
    DSPSplitComplex scratch{inScratchReal, inScratchImag};
    fft2d_zipt(inSetup, &data, 1, 0, &scratch, static_cast<vDSP_Length>(inLog2Cols),
               static_cast<vDSP_Length>(inLog2Rows), inDirection);
  } else {
    fft2d_zip(inSetup, &data, 1, 0, static_cast<vDSP_Length>(inLog2Cols), static_cast<vDSP_Length>(inLog2Rows),
              inDirection);
  }
}

void FrameTask::ComplexMultiply(float* aRe, float* aIm, float* bRe, float* bIm, float* cRe, float* cIm,
                                UInt32 inCount, SInt32 inConjugate) {
  ThrowIfNil_(aRe);
  ThrowIfNil_(aIm);
  ThrowIfNil_(bRe);
  ThrowIfNil_(bIm);
  ThrowIfNil_(cRe);
  ThrowIfNil_(cIm);
  const DSPSplitComplex a{aRe, aIm}, b{bRe, bIm};
  DSPSplitComplex c{cRe, cIm};
  zvmul(&a, 1, &b, 1, &c, 1, inCount, inConjugate == -1 ? -1 : 1);
}

// ---------------------------------------------------------------------------
// CTracker

CTracker::CTracker(SInt32 inExponent) : mExponent(inExponent), mSide(0) {
  if (inExponent < kMinExponent || inExponent > kMaxExponent) Throw_(paramErr);
  mSide = SInt32{1} << inExponent;
}

SInt32 CTracker::SetBlockProvider(BlockProviderProc inCurrent, void* inCurrentRefcon, BlockProviderProc inPrevious,
                                  void* inPreviousRefcon) {
  mCurrentProvider = inCurrent;
  mCurrentRefcon = inCurrentRefcon;
  mPreviousProvider = inPrevious;
  mPreviousRefcon = inPreviousRefcon;
  return noErr;
}

SInt32 CTracker::DoTrack(Rect inTrackRect, MatrixRecord& inPredicted, float inFieldOffset) {
  const SInt32 err = CompareBlocks(inTrackRect, inPredicted, inFieldOffset);
  return err != noErr ? err : FitModel();
}

SInt32 CTracker::CompareBlocks(Rect inTrackRect, MatrixRecord& inPredicted, float inFieldOffset) {
  if (!mCurrentProvider || !mPreviousProvider || !mCurrentRefcon || !mPreviousRefcon) return err_NilPointer;
  try {
    mFieldOffset = inFieldOffset;
    mTrackRect = inTrackRect;
    mWidth = inTrackRect.right - inTrackRect.left;
    mHeight = inTrackRect.bottom - inTrackRect.top;
    mPositions.RemoveAllItems();
    DMatrix inverse;
    if (!DMatrixInverse(MatrixToDouble(inPredicted), inverse)) Throw_(paramErr);

    // A centred grid of whole blocks; each block of the previous picture is
    // taken where the prediction expects the content of the current block.
    const SInt32 n = mSide;
    const SInt32 columns = (mWidth - n / 2) / n;
    const SInt32 rows = (mHeight - n / 2) / n;
    TArray<BlockData>& blocks = mBlocks;
    blocks.RemoveAllItems();
    if (columns > 0 && rows > 0) {
      const SInt32 x0 = inTrackRect.left + (mWidth - columns * n) / 2;
      const SInt32 y0 = inTrackRect.top + (mHeight - rows * n) / 2;
      // The whole grid in one insertion (the array keeps its memory from
      // call to call), written in place.
      blocks.InsertItemsAt(rows * columns, index_Last, BlockData{});
      BlockData* grid = blocks.data();
      for (SInt32 r = 0; r < rows; ++r)
        for (SInt32 c = 0; c < columns; ++c) {
          BlockData& b = *grid++;
          b.aLeft = x0 + c * n;
          b.aTop = y0 + r * n;
          double h = b.aLeft + n / 2, v = b.aTop + n / 2;
          DMatrixTransform(inverse, h, v);
          // Rounded to the nearest pixel; wild predictions are kept in range
          // (such a block is then simply not found).
          h = std::isfinite(h) ? std::clamp(std::floor(h + 0.5), -1.0e9, 1.0e9) : 1.0e9;
          v = std::isfinite(v) ? std::clamp(std::floor(v + 0.5), -1.0e9, 1.0e9) : 1.0e9;
          b.bLeft = static_cast<SInt32>(h) - n / 2;
          b.bTop = static_cast<SInt32>(v) - n / 2;
        }
    }

    // The positions are joined by the fit (FitModel), which may run later.
    const SInt32 err = CompareRuns(blocks);
    if (err != noErr) Throw_(err);
    return noErr;
  } catch (...) {
    return FailMeasurement();
  }
}

SInt32 CTracker::FailMeasurement() {
  // A failed measurement must not pass for a measured standstill.
  mModel = kIdentityModel;
  mModelValid = false;
  mMeanStrength = 0.0f;
  return ExceptionCodeOfCurrent();
}

SInt32 CTracker::FitModel() {
  try {
    const SInt32 joinErr = JoinPositions(mPositions);
    if (joinErr != noErr) Throw_(joinErr);
    mModelValid = CalcModelParams(&mModel, mPositions);
    double sum = 0.0;
    for (const PosData& p : mPositions) sum += p.strength;
    const SInt32 count = mPositions.GetCount();
    mMeanStrength = count > 0 ? static_cast<float>(sum / count) : 0.0f;
    return noErr;
  } catch (...) {
    return FailMeasurement();
  }
}

SInt32 CTracker::FrameCompare(TArray<BlockData>& ioBlocks, TArray<PosData>& ioPositions) {
  const SInt32 err = CompareRuns(ioBlocks);
  return err != noErr ? err : JoinPositions(ioPositions);
}

SInt32 CTracker::CompareRuns(TArray<BlockData>& ioBlocks) {
  mRuns.clear();
  const SInt32 blockCount = ioBlocks.GetCount();
  if (blockCount == 0) return noErr;
  ioBlocks.Lock();
  try {
    MPBandOptions options;
    options.workers = CTaskGroup::GetPreferredTaskCount();
    // A run of blocks is several microseconds a block, and the loop ends
    // when its last run does: shorter runs leave a shorter tail (at the
    // finest level of 1280x720, eight runs a worker saved about 15 of the
    // 150 microseconds that four took).
    options.runsPerWorker = 8;
    const SInt32 workers = MPBandWorkers(static_cast<size_t>(blockCount), options);
    options.workers = workers;
    FrameTaskData data{mCurrentProvider, mPreviousProvider, mCurrentRefcon, mPreviousRefcon,
                       mWidth,           mHeight,           mFieldOffset,   ioBlocks.data(),
                       0,                mExponent,         mSide,          mTrackRect};
    while (mWorkers.size() < static_cast<size_t>(workers)) mWorkers.push_back(std::make_unique<FrameTask>(data));
    if (mFound.size() < mWorkers.size()) mFound.resize(mWorkers.size());
    for (std::vector<PosData>& list : mFound) list.clear();
    mRuns.assign(static_cast<size_t>(blockCount), RunPositions{-1, 0, 0});
    // Every worker keeps the positions of its runs in its own list; the
    // lists are joined in block order afterwards, whoever compared what.
    const OSStatus err = MPRunBands(static_cast<size_t>(blockCount), options,
                                    [&](SInt32 inWorker, size_t inBegin, size_t inEnd) -> OSStatus {
                                      FrameTask& task = *mWorkers[static_cast<size_t>(inWorker)];
                                      FrameTaskData share = data;
                                      share.blocks = ioBlocks.data() + inBegin;
                                      share.blockCount = static_cast<SInt32>(inEnd - inBegin);
                                      try {
                                        task.SetShare(share);
                                      } catch (...) {
                                        return ExceptionCodeOfCurrent();
                                      }
                                      const SInt32 status = task.Run();
                                      if (status != noErr) return status;
                                      std::vector<PosData>& mine = mFound[static_cast<size_t>(inWorker)];
                                      mRuns[inBegin] = RunPositions{inWorker, static_cast<SInt32>(mine.size()),
                                                                    task.GetPositionCount()};
                                      try {
                                        task.ForEachPosition([&](const PosData& p) { mine.push_back(p); });
                                      } catch (...) {
                                        return ExceptionCodeOfCurrent();
                                      }
                                      return noErr;
                                    });
    if (err != noErr) Throw_(err);
  } catch (...) {
    mRuns.clear();
    ioBlocks.Unlock();
    return ExceptionCodeOfCurrent();
  }
  ioBlocks.Unlock();
  return noErr;
}

SInt32 CTracker::JoinPositions(TArray<PosData>& ioPositions) {
  const SInt32 positionsBefore = ioPositions.GetCount();
  try {
    // In one insertion, copied run by run.
    SInt32 found = 0;
    for (const RunPositions& run : mRuns)
      if (run.worker >= 0) found += run.count;
    if (ioPositions.IsKeptSorted()) {
      for (const RunPositions& run : mRuns) {
        if (run.worker < 0) continue;
        const std::vector<PosData>& list = mFound[static_cast<size_t>(run.worker)];
        for (SInt32 i = 0; i < run.count; ++i) ioPositions.AddItem(list[static_cast<size_t>(run.first + i)]);
      }
    } else if (found > 0) {
      const SInt32 first = ioPositions.GetCount();
      ioPositions.InsertItemsAt(found, index_Last, PosData{});
      PosData* out = ioPositions.data() + first;
      for (const RunPositions& run : mRuns) {
        if (run.worker < 0) continue;
        const PosData* in = mFound[static_cast<size_t>(run.worker)].data() + run.first;
        out = std::copy(in, in + run.count, out);
      }
    }
  } catch (...) {
    ioPositions.RemoveAllItemsAfter(positionsBefore);
    mRuns.clear();
    return ExceptionCodeOfCurrent();
  }
  mRuns.clear();
  return noErr;
}

Boolean CTracker::CalcModelParams(TransData* outModel, TArray<PosData>& ioPositions) {
  ThrowIfNil_(outModel);
  TransData& m = *outModel;
  m = kIdentityModel;
  const SInt32 count = ioPositions.GetCount();
  if (count == 0) return false;
  const SInt32 minimum = std::min(count, std::max(count / 8, SInt32{4}));
  SInt32 remaining = count;
  // Guards for a fit asked for without a tracking Rect.
  const double diagonal = std::max(std::hypot(double(mWidth), double(mHeight)), 1.0);
  const double area = std::max(double(mWidth) * double(mHeight), 1.0);

  // The gradients are linear in the model: their weighted moments over the
  // valid positions are gathered once per pass, so that each step of the
  // descent costs the same whatever the number of positions. The first
  // pass's moments come from a loop of their own; every later pass's from
  // the loop that drops the previous pass's outliers, which adds the same
  // terms in the same order (the fit is the same to the last bit; the
  // positions are walked three times a pass instead of five).
  struct Moments {
    double sumW = 0.0, mX = 0.0, mY = 0.0, mXm = 0.0, mYm = 0.0, mR2 = 0.0, mP = 0.0, mQ = 0.0;
    void Add(const PosData& p) {
      const double w = p.strength, X = p.x, Y = p.y, Xm = p.matchedX, Ym = p.matchedY;
      sumW += w;
      mX += w * X;
      mY += w * Y;
      mXm += w * Xm;
      mYm += w * Ym;
      mR2 += w * (X * X + Y * Y);
      mP += w * (X * Xm + Y * Ym);
      mQ += w * (Xm * Y - Ym * X);
    }
  };
  Moments sums;
  for (const PosData& p : ioPositions)
    if (p.valid) sums.Add(p);

  for (;;) {
    if (!(sums.sumW > 0.0) || !std::isfinite(sums.sumW)) break;
    const double sumW = sums.sumW;
    const double mX = sums.mX / sumW, mY = sums.mY / sumW, mXm = sums.mXm / sumW, mYm = sums.mYm / sumW;
    const double mR2 = sums.mR2 / sumW, mP = sums.mP / sumW, mQ = sums.mQ / sumW;

    const double gradTolerance = 0.1 / diagonal;
    for (SInt32 iterations = 0; iterations < 1000;) {
      const double gx = m.a * mX + m.b * mY + m.tx - mXm;
      m.tx -= 0.1 * gx;
      const double gy = m.a * mY - m.b * mX + m.ty - mYm;
      m.ty -= 0.1 * gy;
      const double ga = (m.a * mR2 + m.tx * mX + m.ty * mY - mP) / area;
      m.a -= 0.1 * ga;
      const double gb = (m.b * mR2 + m.tx * mY - m.ty * mX - mQ) / area;
      m.b -= 0.1 * gb;
      ++iterations;
      if (std::fabs(ga) < gradTolerance && std::fabs(gb) < gradTolerance && std::fabs(gx) < 0.1 &&
          std::fabs(gy) < 0.1)
        break;
    }

    // Drop the worst positions: the threshold shrinks from the block side
    // until some position lies beyond it.
    // (Some position lies beyond a threshold exactly when the worst does, so
    // the shrinking needs the worst residual only.) The residuals are those
    // of ComputeDiscrepancy, found with the worst in the same walk.
    float worst = 0.0f;
    for (PosData& p : ioPositions) {
      if (!p.valid) continue;
      p.residual = ResidualOf(m, p);
      if (p.residual > worst) worst = p.residual;
    }
    double threshold = mSide;
    do {
      threshold *= 0.7142857142857143;
    } while (!(worst > threshold) && threshold >= 1.0);
    const SInt32 bad = worst > threshold ? CountBadPoints(ioPositions, threshold) : 0;
    if (bad == 0 || threshold < 1.0 || remaining - bad < minimum) break;
    remaining -= bad;
    // EliminateBadPoints, with the next pass's moments over the positions kept.
    sums = Moments{};
    for (PosData& p : ioPositions) {
      if (!p.valid) continue;
      if (p.residual > threshold)
        p.valid = false;
      else
        sums.Add(p);
    }
  }
  return true;
}

void CTracker::ComputeDiscrepancy(TransData* inModel, TArray<PosData>& ioPositions) {
  ThrowIfNil_(inModel);
  const TransData& m = *inModel;
  for (PosData& p : ioPositions)
    if (p.valid) p.residual = ResidualOf(m, p);
}

SInt32 CTracker::CountBadPoints(TArray<PosData>& inPositions, double inThreshold) {
  SInt32 bad = 0;
  for (const PosData& p : inPositions)
    if (p.valid && p.residual > inThreshold) ++bad;
  return bad;
}

void CTracker::EliminateBadPoints(TArray<PosData>& ioPositions, double inThreshold) {
  for (PosData& p : ioPositions)
    if (p.valid && p.residual > inThreshold) p.valid = false;
}

double CTracker::Deriv_a(TransData* inModel, PosData* inFirst, SInt32 inCount) {
  return WeightedMean(inModel, inFirst, inCount,
                      [](double X, double Y, double rx, double ry) { return rx * X + ry * Y; });
}

double CTracker::Deriv_b(TransData* inModel, PosData* inFirst, SInt32 inCount) {
  return WeightedMean(inModel, inFirst, inCount,
                      [](double X, double Y, double rx, double ry) { return rx * Y - ry * X; });
}

double CTracker::Deriv_c(TransData* inModel, PosData* inFirst, SInt32 inCount) {
  return WeightedMean(inModel, inFirst, inCount, [](double, double, double rx, double) { return rx; });
}

double CTracker::Deriv_d(TransData* inModel, PosData* inFirst, SInt32 inCount) {
  return WeightedMean(inModel, inFirst, inCount, [](double, double, double, double ry) { return ry; });
}

Boolean CTracker::GetTransformMatrix(MatrixRecord& outMatrix) {
  SetIdentityMatrix(&outMatrix);
  const Fixed cx = X2Fix((mTrackRect.left + mTrackRect.right) * 0.5);
  const Fixed cy = X2Fix((mTrackRect.top + mTrackRect.bottom) * 0.5);
  ScaleMatrix(&outMatrix, X2Fix(mModel.a), X2Fix(mModel.a), cx, cy);
  RotateMatrix(&outMatrix, X2Fix(-180.0 * mModel.b / M_PI), cx, cy);
  TranslateMatrix(&outMatrix, X2Fix(mModel.tx), X2Fix(mModel.ty));
  return mModelValid;
}

void CTracker::CreateHanningMask(SInt32 inWidth, SInt32 inHeight, float* outMask) {
  ThrowIfNil_(outMask);
  for (SInt32 j = 0; j < inHeight; ++j) {
    const double wy = 1.0 - std::cos(2.0 * M_PI * j / inHeight);
    for (SInt32 i = 0; i < inWidth; ++i)
      outMask[static_cast<size_t>(j) * inWidth + i] =
          static_cast<float>(0.25 * (1.0 - std::cos(2.0 * M_PI * i / inWidth)) * wy);
  }
}

void CTracker::TestBlock(float* outBlock, SInt32 inSide, float inOffset) {
  ThrowIfNil_(outBlock);
  for (SInt32 r = 0; r < inSide; ++r)
    for (SInt32 i = 0; i < inSide; ++i)
      outBlock[static_cast<size_t>(r) * inSide + i] = static_cast<float>(std::sin((i + inOffset) * M_PI / 4.0));
}

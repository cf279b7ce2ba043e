#include "motion/CAutoMotionTracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "media/CBuffer.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"

namespace {

constexpr size_t kPlaneAlignment = 64;

float* NewPlane(size_t inFloats) {
  void* p = ::operator new(inFloats * sizeof(float), std::align_val_t(kPlaneAlignment), std::nothrow);
  ThrowIfNil_(p);
  std::memset(p, 0, inFloats * sizeof(float));
  return static_cast<float*>(p);
}

void FreePlane(float*& ioPlane) {
  if (ioPlane) ::operator delete(ioPlane, std::align_val_t(kPlaneAlignment));
  ioPlane = nullptr;
}

// Copies a block out of a level's plane when it lies strictly inside the
// level bounds, so the plane's unwritten outermost rows and columns are
// never read.
Boolean CopyBlock(const PyramidLevelData* inLevel, const float* inPlane, float* outDest, SInt32 inCount, Rect inBlock) {
  if (!inLevel || !inPlane || !outDest) return false;
  const Rect& b = inLevel->mBounds;
  if (!(inBlock.left > b.left && inBlock.right < b.right && inBlock.top > b.top && inBlock.bottom < b.bottom))
    return false;
  const SInt32 w = inBlock.right - inBlock.left, h = inBlock.bottom - inBlock.top;
  if (w <= 0 || h <= 0 || static_cast<SInt64>(w) * h != inCount) return false;
  const SInt32 stride = b.right - b.left;
  const float* src = inPlane + static_cast<ptrdiff_t>(inBlock.top - b.top) * stride + (inBlock.left - b.left);
  if (inLevel->mWindow && inLevel->mWindowCount == inCount) {
    const float* __restrict window = inLevel->mWindow;
    for (SInt32 r = 0; r < h; ++r) {
      const float* __restrict in = src + static_cast<ptrdiff_t>(r) * stride;
      const float* __restrict taper = window + static_cast<ptrdiff_t>(r) * w;
      float* __restrict out = outDest + static_cast<ptrdiff_t>(r) * w;
      for (SInt32 x = 0; x < w; ++x) out[x] = in[x] * taper[x];
    }
    return true;
  }
  for (SInt32 r = 0; r < h; ++r) std::memcpy(outDest + static_cast<ptrdiff_t>(r) * w, src + r * stride, w * sizeof(float));
  return true;
}

bool Finite(double v) { return std::isfinite(v); }

// A fit that can be a motion between two successive pictures: finite, the
// scale between one half and two, the turn below half a radian and the
// shift within the level.
bool Plausible(const TransData& m, const Rect& inLevel) {
  return Finite(m.a) && Finite(m.b) && Finite(m.tx) && Finite(m.ty) && m.a >= 0.5 && m.a <= 2.0 &&
         std::fabs(m.b) <= 0.5 && std::fabs(m.tx) <= inLevel.right - inLevel.left &&
         std::fabs(m.ty) <= inLevel.bottom - inLevel.top;
}

// Bands for an operation over a Rect: one per processor for large pictures,
// fewer for small ones, whose bands would cost more to start than to run.
// Every band count gives the same result.
TaskOptions BandsFor(const Rect& inRect) {
  constexpr SInt64 kPixelsPerBand = 16384;
  const SInt64 pixels = static_cast<SInt64>(inRect.right - inRect.left) * (inRect.bottom - inRect.top);
  TaskOptions options;
  options.mBandCount = static_cast<SInt32>(
      std::clamp<SInt64>(pixels / kPixelsPerBand, 1, CTaskGroup::GetPreferredTaskCount()));
  return options;
}

// The exact weighted least-squares similarity over the positions the
// estimator kept. The estimator's descent stops once its gradients are
// small, which for scale and rotation still leaves errors of about 0.002
// (a few tenths of a pixel at the picture's corners); the minimum of the
// same sum of squares is found here in closed form. False (model
// unchanged) when the positions cannot determine it.
bool SolveSimilarity(const TArray<PosData>& inPositions, TransData& ioModel) {
  double sw = 0, sx = 0, sy = 0, smx = 0, smy = 0;
  SInt32 count = 0;
  for (const PosData& p : inPositions) {
    if (!p.valid || !(p.strength > 0.0f)) continue;
    const double w = p.strength;
    sw += w;
    sx += w * p.x;
    sy += w * p.y;
    smx += w * p.matchedX;
    smy += w * p.matchedY;
    ++count;
  }
  if (count < 2 || !(sw > 0.0) || !Finite(sw)) return false;
  const double mx = sx / sw, my = sy / sw, mmx = smx / sw, mmy = smy / sw;
  double spread = 0, sa = 0, sb = 0;
  for (const PosData& p : inPositions) {
    if (!p.valid || !(p.strength > 0.0f)) continue;
    const double w = p.strength;
    const double x = p.x - mx, y = p.y - my, xm = p.matchedX - mmx, ym = p.matchedY - mmy;
    spread += w * (x * x + y * y);
    sa += w * (x * xm + y * ym);
    sb += w * (xm * y - ym * x);
  }
  // Positions that all share one place fix no scale or rotation.
  if (!(spread > 1e-9 * sw)) return false;
  TransData m;
  m.a = sa / spread;
  m.b = sb / spread;
  m.tx = mmx - m.a * mx - m.b * my;
  m.ty = mmy - m.a * my + m.b * mx;
  if (!Finite(m.a) || !Finite(m.b) || !Finite(m.tx) || !Finite(m.ty)) return false;
  ioModel = m;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// PyramidLevelData

PyramidLevelData::PyramidLevelData(Rect inBounds, Rect inSource, Rect inTrackRect)
    : mBounds(inBounds), mSource(inSource) {
  const SInt32 w = inBounds.right - inBounds.left, h = inBounds.bottom - inBounds.top;
  if (w <= 0 || h <= 0) Throw_(paramErr);
  StBufferOwner grey(new CBuffer(inBounds, kBufferDepth8, kBufferModeGray));
  try {
    mCurrent = NewPlane(static_cast<size_t>(w) * h);
    mPrevious = NewPlane(static_cast<size_t>(w) * h);
  } catch (...) {
    FreePlane(mCurrent);
    FreePlane(mPrevious);
    throw;
  }
  mGrey = grey.release();
  mHScale = static_cast<float>(w) / static_cast<float>(inTrackRect.right - inTrackRect.left);
  mVScale = static_cast<float>(h) / static_cast<float>(inTrackRect.bottom - inTrackRect.top);
}

PyramidLevelData::~PyramidLevelData() {
  if (mGrey) mGrey->Release();
  FreePlane(mCurrent);
  FreePlane(mPrevious);
}

void PyramidLevelData::Rotate() { std::swap(mCurrent, mPrevious); }

// ---------------------------------------------------------------------------
// CAutoMotionTracker

CAutoMotionTracker::CAutoMotionTracker() = default;

CAutoMotionTracker::~CAutoMotionTracker() { DeleteAll(); }

void CAutoMotionTracker::DeleteAll() {
  for (PyramidLevelData* level : mLevels) delete level;
  mLevels.RemoveAllItems();
  delete mEstimator;
  mEstimator = nullptr;
}

UInt32 CAutoMotionTracker::GetOptions() { return mAccuracy == 3 ? kOptionsAccuracy3 : kOptions; }

OSErr CAutoMotionTracker::BeginTracking(CBuffer* inBuffer, Rect inTrackRect, ProgressProcPtr inProgress,
                                        void* inRefCon) {
  const OSErr err = CMotionTracker::BeginTracking(inBuffer, inTrackRect, inProgress, inRefCon);
  if (err != noErr) Throw_(err);
  try {
    DeleteAll();
    mEstimator = new CTracker(kBlockExponent);
    // Blocks are compared through a circular correlation: untapered, the
    // content that wraps round from one edge to the other matches best at
    // no shift at all and pulls every peak towards the predicted position
    // (by about a tenth of a pixel on photographs). Each block is tapered
    // by the square root of a Hanning window, so that the product of the
    // two blocks is tapered by the whole window.
    const SInt32 side = SInt32{1} << kBlockExponent;
    mWindow.resize(static_cast<size_t>(side) * side);
    CTracker::CreateHanningMask(side, side, mWindow.data());
    for (float& v : mWindow) v = std::sqrt(v);
    const Rect& r = mTrackRect;
    SInt32 w = r.right - r.left, h = r.bottom - r.top;
    Rect source = r;
    if (h > kHalveHeight && w > kHalveWidth) {
      w /= 2;
      h /= 2;
      source = MakeRect(r.top, r.left, r.top + 2 * h, r.left + 2 * w);
    }
    while (w >= kMinLevelSide && h >= kMinLevelSide) {
      PyramidLevelData* level = new PyramidLevelData(MakeRect(r.top, r.left, r.top + h, r.left + w), source, r);
      mLevels.AddItem(level);
      level->mWindow = mWindow.data();
      level->mWindowCount = static_cast<SInt32>(mWindow.size());
      w /= 2;
      h /= 2;
      source = MakeRect(r.top, r.left, r.top + 2 * h, r.left + 2 * w);
    }
    if (mLevels.GetCount() == 0) Throw_(paramErr);
  } catch (...) {
    // No half-built pyramid stays behind: the tracker is idle again.
    EndTracking();
    throw;
  }
  mQualitySum = 0.0f;
  return noErr;
}

void CAutoMotionTracker::EndTracking() {
  CMotionTracker::EndTracking();
  DeleteAll();
}

OSErr CAutoMotionTracker::BuildPyramid(ETrackerFieldMode inMode) {
  const SInt32 count = mLevels.GetCount();
  for (SInt32 i = 1; i <= count; ++i) {
    PyramidLevelData* level = mLevels[i];
    OSErr err;
    if (i == 1) {
      const bool sameSize = EqualRect(&level->mBounds, &level->mSource);
      BandProcPtr proc;
      switch (inMode) {
        case ETrackerFieldMode::kOddField:
          proc = sameSize ? CopyOddField_proc : ReduceBy2_Odd_proc;
          break;
        case ETrackerFieldMode::kEvenField:
          proc = sameSize ? CopyEvenField_proc : ReduceBy2_Even_proc;
          break;
        default:
          proc = sameSize ? CopyFrame_proc : ReduceBy2_proc;
          break;
      }
      const TaskOptions bands = BandsFor(level->mBounds);
      err = CBuffer::Convert(mSource, level->mGrey, nullptr, &level->mSource, &level->mBounds, proc, nullptr,
                             nullptr, nullptr, &bands);
    } else {
      CBuffer* finer = mLevels[i - 1]->mGrey;
      const TaskOptions bands = BandsFor(level->mBounds);
      if (EqualRect(&level->mBounds, &level->mSource))
        err = finer->CopyTo(level->mGrey, &level->mBounds, nullptr, nullptr, nullptr);
      else
        err = CBuffer::Convert(finer, level->mGrey, nullptr, &level->mSource, &level->mBounds, ReduceBy2_proc,
                               nullptr, nullptr, nullptr, &bands);
    }
    if (err != noErr) return err;
  }
  return noErr;
}

OSErr CAutoMotionTracker::ProcessFrame(SInt32 inDuration, ETrackerFieldMode inMode, ProgressProcPtr, void*) {
  if (!mTracking) return paramErr;
  try {
    float fieldOffset;
    switch (inMode) {
      case ETrackerFieldMode::kFrame:
        fieldOffset = 0.0f;
        break;
      case ETrackerFieldMode::kOddField:
        fieldOffset = -kFieldOffset;
        break;
      case ETrackerFieldMode::kEvenField:
        fieldOffset = kFieldOffset;
        break;
      default:
        return paramErr;
    }
    ThrowIfNil_(mSource);
    ThrowIfNil_(mEstimator);
    const OSErr buildErr = BuildPyramid(inMode);
    if (buildErr != noErr) return buildErr;

    const SInt32 levelsToTrack = mAccuracy == 3 ? 4 : 3;
    mQualitySum = 0.0f;
    // The motion so far in frame pixels; each level starts from it.
    double s = 1.0, r = 0.0, tx = 0.0, ty = 0.0;
    SInt32 k = 1;
    for (SInt32 i = mLevels.GetCount(); i >= 1; --i, ++k) {
      PyramidLevelData* level = mLevels[i];
      if (k <= levelsToTrack) {
        const TaskOptions bands = BandsFor(level->mBounds);
        const OSErr filterErr = CBuffer::Convert(level->mGrey, level->mGrey, nullptr, &level->mBounds,
                                                 &level->mBounds, DiffFilterProc, level->mCurrent, nullptr,
                                                 nullptr, &bands);
        if (filterErr != noErr) return filterErr;
        mEstimator->SetBlockProvider(CurrBlockProvider, level, LastBlockProvider, level);
        const Rect& b = level->mBounds;
        const Fixed cx = X2Fix((b.left + b.right) * 0.5), cy = X2Fix((b.top + b.bottom) * 0.5);
        MatrixRecord predicted;
        SetIdentityMatrix(&predicted);
        ScaleMatrix(&predicted, X2Fix(s), X2Fix(s), cx, cy);
        RotateMatrix(&predicted, X2Fix(-r * 180.0 / M_PI), cx, cy);
        TranslateMatrix(&predicted, X2Fix(level->mHScale * tx), X2Fix(level->mVScale * ty));
        const SInt32 err = mEstimator->DoTrack(b, predicted, fieldOffset * level->mVScale);
        TransData m = mEstimator->mModel;
        if (err == noErr && mEstimator->mModelValid) SolveSimilarity(mEstimator->mPositions, m);
        // A level whose fit failed (no positions, or values that cannot be a
        // measurement) leaves the prediction of the coarser levels and adds
        // nothing to the quality.
        if (err == noErr && mEstimator->mModelValid && Plausible(m, b) && std::isfinite(mEstimator->mMeanStrength)) {
          s = m.a;
          r = m.b;
          tx = m.tx / level->mHScale;
          ty = m.ty / level->mVScale;
          mQualitySum += mEstimator->mMeanStrength;
        }
      }
    }
    // This frame's planes become the previous ones of the next call, at
    // every level, tracked or not (only once the whole frame succeeded, so
    // that all levels always hold the same previous picture).
    for (PyramidLevelData* level : mLevels) level->Rotate();

    DiffMotionData record = NewRecord(inDuration);
    record.quality = mQualitySum;
    record.xShift = static_cast<Float32>(tx);
    record.yShift = static_cast<Float32>(ty);
    record.rotation = static_cast<Float32>(-r);
    record.scale = static_cast<Float32>(s);
    mRecords.AddItem(record);
    return noErr;
  } catch (...) {
    return OSErrOfCurrent();
  }
}

Boolean CAutoMotionTracker::CurrBlockProvider(float* outDest, SInt32 inCount, Rect inBlock, void* inRefCon) {
  const PyramidLevelData* level = static_cast<const PyramidLevelData*>(inRefCon);
  return level ? CopyBlock(level, level->mCurrent, outDest, inCount, inBlock) : false;
}

Boolean CAutoMotionTracker::LastBlockProvider(float* outDest, SInt32 inCount, Rect inBlock, void* inRefCon) {
  const PyramidLevelData* level = static_cast<const PyramidLevelData*>(inRefCon);
  return level ? CopyBlock(level, level->mPrevious, outDest, inCount, inBlock) : false;
}

#include "motion/CAutoMotionTracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "media/CBuffer.h"
#include "media/CBufferProcs.h"
#include "media/CBufferTask.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"
#include "platform/tasks/MPBands.h"

namespace {

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
  // Every line of the block is asked for before any is copied. The planes
  // were written band by band on all processors, so on many threads most
  // lines come from another processor's cache, and copied row after row
  // they would arrive a few at a time (this halved the copy on 8 threads).
  const size_t rowBytes = static_cast<size_t>(w) * sizeof(float);
  for (SInt32 r = 0; r < h; ++r) {
    const char* row = reinterpret_cast<const char*>(src + static_cast<ptrdiff_t>(r) * stride);
    for (size_t at = 0; at < rowBytes; at += 64) __builtin_prefetch(row + at);
    __builtin_prefetch(row + rowBytes - 1);
  }
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

// Workers for an operation over this many pixels: one per processor for
// large pictures, fewer for small ones, whose runs would cost more to start
// than to run. Every worker count gives the same result.
SInt32 WorkersFor(SInt64 inPixels) {
  constexpr SInt64 kPixelsPerWorker = 16384;
  return static_cast<SInt32>(std::clamp<SInt64>(inPixels / kPixelsPerWorker, 1, CTaskGroup::GetPreferredTaskCount()));
}

// One band operation: a band procedure over a source and a destination box,
// run on any rows of the destination box through a worker's record.
struct BandOp {
  BandProcPtr proc = nullptr;
  CBuffer* source = nullptr;
  CBuffer* dest = nullptr;
  Rect sourceBox{0, 0, 0, 0};
  Rect destBox{0, 0, 0, 0};
  void* userParam = nullptr;

  SInt32 Rows() const { return destBox.bottom - destBox.top; }
  SInt64 Pixels() const { return static_cast<SInt64>(destBox.right - destBox.left) * Rows(); }

  // The boxes the band engine uses: each buffer's bounds clipped by its
  // Rect. False when either is empty.
  bool Clip(const Rect& inSourceRect, const Rect& inDestRect) {
    if (!source || !dest) return false;
    sourceBox = source->GetBounds();
    if (!SectRect(&sourceBox, &inSourceRect, &sourceBox) || EmptyRect(&sourceBox)) return false;
    destBox = dest->GetBounds();
    if (!SectRect(&destBox, &inDestRect, &destBox) || EmptyRect(&destBox)) return false;
    return true;
  }

  // Runs the procedure on the rows [inFirst, inFirst + inRows) of the
  // destination box.
  SInt32 Run(CBufferTask& ioRecord, SInt32 inFirst, SInt32 inRows) const {
    if (inRows <= 0) return noErr;
    ioRecord.mProc = proc;
    ioRecord.mSource = source;
    ioRecord.mDest = dest;
    ioRecord.mMask = nullptr;
    ioRecord.mSourceBox = sourceBox;
    ioRecord.mDestBox = destBox;
    ioRecord.mUserParam = userParam;
    ioRecord.mFirstRow = inFirst;
    ioRecord.mRows = inRows;
    return ioRecord.Run();
  }
};

// The gradient filter of a whole level, from its grey buffer into its
// current plane. False when the level has no rows.
bool FilterOpOf(const PyramidLevelData* inLevel, BandOp& outOp) {
  outOp = BandOp{};
  outOp.proc = CAutoMotionTracker::DiffFilterProc;
  outOp.source = outOp.dest = inLevel->mGrey;
  outOp.userParam = inLevel->mCurrent;
  return outOp.Clip(inLevel->mBounds, inLevel->mBounds);
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

// The motion a level's fit measured: the estimator's model refined by the
// closed-form similarity, when the comparisons and the fit succeeded
// (inErr) and the result can be a measurement (then true). A level that
// fails so leaves the prediction of the coarser levels and adds nothing to
// the quality.
bool LevelMotion(CTracker& ioEstimator, SInt32 inErr, const Rect& inBounds, TransData& outModel) {
  if (inErr != noErr || !ioEstimator.mModelValid) return false;
  TransData m = ioEstimator.mModel;
  SolveSimilarity(ioEstimator.mPositions, m);
  if (!Plausible(m, inBounds) || !std::isfinite(ioEstimator.mMeanStrength)) return false;
  outModel = m;
  return true;
}

// What a level adds to the frame's quality: the mean strength of its
// compared positions, those the fitted motion does not explain counting as
// none. Every block of two unrelated pictures still finds a correlation
// peak, and the peaks of noise stand well above their surfaces' mean, so the
// strength of all positions stays near that of a real match (a cut between
// two clips then hardly dips); but those peaks lie anywhere, and the fit's
// outlier passes drop most of them.
float LevelQuality(const CTracker& inEstimator) {
  double sum = 0.0;
  for (const PosData& p : inEstimator.mPositions)
    if (p.valid) sum += p.strength;
  const SInt32 count = inEstimator.mPositions.GetCount();
  const double q = count > 0 ? sum / count : 0.0;
  return std::isfinite(q) ? static_cast<float>(q) : 0.0f;
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
    mCurrentPlane.Reset(static_cast<size_t>(w) * h);
    mPreviousPlane.Reset(static_cast<size_t>(w) * h);
    mCurrent = mCurrentPlane.Get();
    mPrevious = mPreviousPlane.Get();
  } catch (...) {
    throw;
  }
  mGrey = grey.release();
  mHScale = static_cast<float>(w) / static_cast<float>(inTrackRect.right - inTrackRect.left);
  mVScale = static_cast<float>(h) / static_cast<float>(inTrackRect.bottom - inTrackRect.top);
}

PyramidLevelData::~PyramidLevelData() {
  if (mGrey) mGrey->Release();
}

void PyramidLevelData::Rotate() {
  mCurrentPlane.Swap(mPreviousPlane);
  std::swap(mCurrent, mPrevious);
}

// ---------------------------------------------------------------------------
// CAutoMotionTracker

CAutoMotionTracker::CAutoMotionTracker() = default;

CAutoMotionTracker::~CAutoMotionTracker() { DeleteAll(); }

void CAutoMotionTracker::DeleteAll() {
  mBandRecords.clear();
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
  FinishFrame();
  CMotionTracker::EndTracking();
  DeleteAll();
}

TArray<DiffMotionData>& CAutoMotionTracker::GetMotionDataArray() {
  FinishFrame();
  return mRecords;
}

void CAutoMotionTracker::FinishFrame() {
  if (!mPending.pending) return;
  PendingFrame& f = mPending;
  f.pending = false;
  if (!mEstimator || !mRecords.ValidIndex(f.index)) return;
  const SInt32 err = f.compareErr == noErr ? mEstimator->FitModel() : f.compareErr;
  TransData m;
  if (!LevelMotion(*mEstimator, err, f.bounds, m)) return;  // the coarser levels' motion stands
  mQualitySum = f.quality + LevelQuality(*mEstimator);
  DiffMotionData& record = mRecords[f.index];
  record.quality = mQualitySum;
  record.xShift = static_cast<Float32>(m.tx / f.hScale);
  record.yShift = static_cast<Float32>(m.ty / f.vScale);
  record.rotation = static_cast<Float32>(-m.b);
  record.scale = static_cast<Float32>(m.a);
}

void CAutoMotionTracker::ReserveBandRecords(SInt32 inWorkers) {
  while (mBandRecords.size() < static_cast<size_t>(inWorkers))
    mBandRecords.push_back(std::make_unique<CBufferTask>(nullptr));
}

OSErr CAutoMotionTracker::BuildPyramid(ETrackerFieldMode inMode, SInt32 inFilterFirst, bool* outFiltered) {
  if (outFiltered) *outFiltered = false;
  const SInt32 count = mLevels.GetCount();
  if (count == 0) return noErr;
  try {
    // The operation of every level (index 0 is the finest).
    std::vector<BandOp> ops(static_cast<size_t>(count));
    for (SInt32 i = 1; i <= count; ++i) {
      PyramidLevelData* level = mLevels[i];
      BandOp& op = ops[static_cast<size_t>(i - 1)];
      op.dest = level->mGrey;
      const bool sameSize = EqualRect(&level->mBounds, &level->mSource);
      if (i == 1) {
        op.source = mSource;
        switch (inMode) {
          case ETrackerFieldMode::kOddField:
            op.proc = sameSize ? CopyOddField_proc : ReduceBy2_Odd_proc;
            break;
          case ETrackerFieldMode::kEvenField:
            op.proc = sameSize ? CopyEvenField_proc : ReduceBy2_Even_proc;
            break;
          default:
            op.proc = sameSize ? CopyFrame_proc : ReduceBy2_proc;
            break;
        }
        if (!op.Clip(level->mSource, level->mBounds)) return paramErr;
      } else {
        op.source = mLevels[i - 1]->mGrey;
        if (sameSize) {
          op.proc = CBufferProcs::Copy_proc;
          if (!op.Clip(level->mBounds, level->mBounds)) return paramErr;
        } else {
          op.proc = ReduceBy2_proc;
          if (!op.Clip(level->mSource, level->mBounds)) return paramErr;
        }
      }
    }

    // Each level's rows come from the two rows below the same place of the
    // finer level, so a run of rows of the coarsest level, with the rows of
    // every finer level that reduce to it, needs nothing from any other run:
    // item t is row t of the coarsest level and the 2^k rows of each level k
    // steps finer, and a last item holds the rows that no coarser row uses.
    // The whole pyramid is then one loop over the items. (Were the levels
    // ever not stacked so, each level would be a loop of its own.)
    bool stacked = true;
    for (size_t i = 1; i < ops.size() && stacked; ++i) {
      const BandOp& finer = ops[i - 1];
      const BandOp& coarser = ops[i];
      stacked = coarser.proc == ReduceBy2_proc && coarser.sourceBox.top == finer.destBox.top &&
                2 * coarser.Rows() <= finer.Rows();
    }
    const SInt64 pixels = ops.front().Pixels();
    const SInt32 workers = WorkersFor(pixels);
    ReserveBandRecords(workers);
    MPBandOptions options;
    options.workers = workers;
    if (mPending.pending) {
      options.callerWork = [](void* inMe) { static_cast<CAutoMotionTracker*>(inMe)->FinishFrame(); };
      options.callerWorkRefCon = this;
    }
    OSStatus err = noErr;
    if (stacked) {
      const SInt32 coarsest = ops.back().Rows();
      const size_t items = static_cast<size_t>(coarsest) + 1;
      // The gradient filter of a level row reads the rows above and below
      // it, so a run filters its rows as soon as it has written them,
      // while they are still in its processor's cache, except the rows next
      // to the runs on either side: those are filtered by whichever of the
      // two runs at that boundary ends second. With at least two items a
      // run, a boundary row's neighbours come from those two runs alone.
      std::vector<BandOp> filters;
      if (inFilterFirst >= 1 && inFilterFirst <= count) {
        for (SInt32 i = inFilterFirst; i <= count; ++i) {
          BandOp op;
          if (!FilterOpOf(mLevels[i], op)) return paramErr;
          filters.push_back(op);
        }
        options.minRunItems = 2;
        if (mEdgeCount < items + 1) {
          mEdgeArrivals.reset(new std::atomic<UInt8>[items + 1]);
          mEdgeCount = items + 1;
        }
        for (size_t t = 0; t <= items; ++t) mEdgeArrivals[t].store(0, std::memory_order_relaxed);
      }
      const size_t firstFiltered = filters.empty() ? ops.size() : static_cast<size_t>(inFilterFirst - 1);
      // The first row of item t in the level of op i (item `coarsest` holds
      // the rest of every finer level).
      auto rowOf = [&](size_t i, size_t t) {
        const SInt32 factor = SInt32{1} << (ops.size() - 1 - i);
        return t > static_cast<size_t>(coarsest) ? ops[i].Rows() : static_cast<SInt32>(t) * factor;
      };
      // The filter of rows [inFirst, inLast) of the level of op i.
      auto filterRows = [&](CBufferTask& ioRecord, size_t i, SInt32 inFirst, SInt32 inLast) -> SInt32 {
        inFirst = std::max<SInt32>(inFirst, 0);
        inLast = std::min(inLast, filters[i - firstFiltered].Rows());
        return inFirst < inLast ? filters[i - firstFiltered].Run(ioRecord, inFirst, inLast - inFirst) : noErr;
      };
      // The rows on either side of the boundary before item t, once both
      // runs there have written theirs.
      auto filterEdge = [&](CBufferTask& ioRecord, size_t t) -> SInt32 {
        if (mEdgeArrivals[t].fetch_add(1, std::memory_order_acq_rel) == 0) return noErr;
        for (size_t i = firstFiltered; i < ops.size(); ++i) {
          const SInt32 row = rowOf(i, t);
          const SInt32 status = filterRows(ioRecord, i, row - 1, row + 1);
          if (status != noErr) return status;
        }
        return noErr;
      };
      err = MPRunBands(items, options, [&](SInt32 inWorker, size_t inBegin, size_t inEnd) -> OSStatus {
        CBufferTask& record = *mBandRecords[static_cast<size_t>(inWorker)];
        for (size_t i = 0; i < ops.size(); ++i) {
          const SInt32 first = rowOf(i, inBegin), last = rowOf(i, inEnd);
          const SInt32 status = ops[i].Run(record, first, last - first);
          if (status != noErr) return status;
        }
        if (filters.empty()) return noErr;
        for (size_t i = firstFiltered; i < ops.size(); ++i) {
          const SInt32 first = rowOf(i, inBegin) + (inBegin > 0 ? 1 : 0);
          const SInt32 last = rowOf(i, inEnd) - (inEnd < items ? 1 : 0);
          const SInt32 status = filterRows(record, i, first, last);
          if (status != noErr) return status;
        }
        if (inBegin > 0) {
          const SInt32 status = filterEdge(record, inBegin);
          if (status != noErr) return status;
        }
        return inEnd < items ? filterEdge(record, inEnd) : noErr;
      });
      if (!filters.empty()) {
        for (const BandOp& op : filters) op.dest->SetDirty(&op.destBox);
        if (outFiltered) *outFiltered = err == noErr;
      }
    } else {
      for (const BandOp& op : ops) {
        options.workers = WorkersFor(op.Pixels());
        err = MPRunBands(static_cast<size_t>(op.Rows()), options,
                         [&](SInt32 inWorker, size_t inBegin, size_t inEnd) -> OSStatus {
                           return op.Run(*mBandRecords[static_cast<size_t>(inWorker)],
                                         static_cast<SInt32>(inBegin), static_cast<SInt32>(inEnd - inBegin));
                         });
        if (err != noErr) break;
      }
    }
    for (const BandOp& op : ops) op.dest->SetDirty(&op.destBox);
    return ErrorCodeToOSErr(err);
  } catch (...) {
    return ErrorCodeToOSErr(ExceptionCodeOfCurrent());
  }
}

OSErr CAutoMotionTracker::FilterLevels(SInt32 inFirst, SInt32 inLast) {
  if (inFirst < 1 || inLast > mLevels.GetCount() || inFirst > inLast) return noErr;
  try {
    // The rows of all the levels, one level after another, as one loop.
    std::vector<BandOp> ops;
    std::vector<size_t> starts;  // the first item of each level
    size_t items = 0;
    SInt64 pixels = 0;
    for (SInt32 i = inLast; i >= inFirst; --i) {
      BandOp op;
      if (!FilterOpOf(mLevels[i], op)) return paramErr;
      starts.push_back(items);
      items += static_cast<size_t>(op.Rows());
      pixels += op.Pixels();
      ops.push_back(op);
    }
    const SInt32 workers = WorkersFor(pixels);
    ReserveBandRecords(workers);
    MPBandOptions options;
    options.workers = workers;
    // Levels stacked as the pyramid builds them (each at least twice the
    // rows of the next coarser, all from the same top) are cut the way the
    // pyramid is: item t is row t of the coarsest level and the 2^k rows of
    // each level k steps finer, and a last item holds the rest. A run then
    // filters the rows that the same run of the pyramid wrote, which the
    // same thread usually took.
    bool stacked = true;
    for (size_t i = 1; i < ops.size() && stacked; ++i)
      stacked = ops[i].destBox.top == ops[0].destBox.top && ops[i].Rows() >= 2 * ops[i - 1].Rows();
    const SInt32 coarsest = ops.front().Rows();
    auto runStacked = [&](SInt32 inWorker, size_t inBegin, size_t inEnd) -> OSStatus {
      CBufferTask& record = *mBandRecords[static_cast<size_t>(inWorker)];
      for (size_t i = 0; i < ops.size(); ++i) {
        const SInt32 factor = SInt32{1} << i;
        const SInt32 first = static_cast<SInt32>(inBegin) * factor;
        const SInt32 last = inEnd > static_cast<size_t>(coarsest) ? ops[i].Rows() : static_cast<SInt32>(inEnd) * factor;
        const SInt32 status = ops[i].Run(record, first, last - first);
        if (status != noErr) return status;
      }
      return noErr;
    };
    auto runInOrder = [&](SInt32 inWorker, size_t inBegin, size_t inEnd) -> OSStatus {
      CBufferTask& record = *mBandRecords[static_cast<size_t>(inWorker)];
      for (size_t i = 0; i < ops.size(); ++i) {
        const size_t start = starts[i], end = start + static_cast<size_t>(ops[i].Rows());
        const size_t b = std::max(inBegin, start), e = std::min(inEnd, end);
        if (b >= e) continue;
        const SInt32 status = ops[i].Run(record, static_cast<SInt32>(b - start), static_cast<SInt32>(e - b));
        if (status != noErr) return status;
      }
      return noErr;
    };
    const OSStatus err = stacked && ops.size() < 16 ? MPRunBands(static_cast<size_t>(coarsest) + 1, options, runStacked)
                                                    : MPRunBands(items, options, runInOrder);
    for (const BandOp& op : ops) op.dest->SetDirty(&op.destBox);
    return ErrorCodeToOSErr(err);
  } catch (...) {
    return ErrorCodeToOSErr(ExceptionCodeOfCurrent());
  }
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
    const SInt32 levelsToTrack = mAccuracy == 3 ? 4 : 3;
    // The gradient planes of every tracked level at once: they depend on
    // the pyramid only, not on the motion of the coarser levels.
    const SInt32 levelCount = mLevels.GetCount();
    const SInt32 firstTracked = std::max<SInt32>(1, levelCount - levelsToTrack + 1);
    bool filtered = false;
    // The last frame's fit runs beside this frame's pyramid loop (it reads
    // nothing the loop writes), and in any case before the estimator is used.
    const OSErr buildErr = BuildPyramid(inMode, firstTracked, &filtered);
    FinishFrame();
    if (buildErr != noErr) return buildErr;
    if (!filtered) {
      const OSErr filterErr = FilterLevels(firstTracked, levelCount);
      if (filterErr != noErr) return filterErr;
    }
    mQualitySum = 0.0f;
    // The motion so far in frame pixels; each level starts from it.
    double s = 1.0, r = 0.0, tx = 0.0, ty = 0.0;
    SInt32 k = 1;
    for (SInt32 i = mLevels.GetCount(); i >= 1; --i, ++k) {
      PyramidLevelData* level = mLevels[i];
      if (k <= levelsToTrack) {
        mEstimator->SetBlockProvider(CurrBlockProvider, level, LastBlockProvider, level);
        const Rect& b = level->mBounds;
        const Fixed cx = X2Fix((b.left + b.right) * 0.5), cy = X2Fix((b.top + b.bottom) * 0.5);
        MatrixRecord predicted;
        SetIdentityMatrix(&predicted);
        ScaleMatrix(&predicted, X2Fix(s), X2Fix(s), cx, cy);
        RotateMatrix(&predicted, X2Fix(-r * 180.0 / M_PI), cx, cy);
        TranslateMatrix(&predicted, X2Fix(level->mHScale * tx), X2Fix(level->mVScale * ty));
        if (i == firstTracked) {
          // The finest tracked level: its fit and the record wait for the
          // next call (FinishFrame), whose pyramid loop they overlap.
          mPending.compareErr = mEstimator->CompareBlocks(b, predicted, fieldOffset * level->mVScale);
          mPending.bounds = b;
          mPending.hScale = level->mHScale;
          mPending.vScale = level->mVScale;
          break;
        }
        const SInt32 err = mEstimator->DoTrack(b, predicted, fieldOffset * level->mVScale);
        TransData m;
        if (LevelMotion(*mEstimator, err, b, m)) {
          s = m.a;
          r = m.b;
          tx = m.tx / level->mHScale;
          ty = m.ty / level->mVScale;
          mQualitySum += LevelQuality(*mEstimator);
        }
      }
    }
    // This frame's planes become the previous ones of the next call, at
    // every level, tracked or not (only once the whole frame succeeded, so
    // that all levels always hold the same previous picture).
    for (PyramidLevelData* level : mLevels) level->Rotate();

    // The record goes in now, with the motion of the coarser levels; the
    // finest level's fit completes it (without allocating anything).
    DiffMotionData record = NewRecord(inDuration);
    record.quality = mQualitySum;
    record.xShift = static_cast<Float32>(tx);
    record.yShift = static_cast<Float32>(ty);
    record.rotation = static_cast<Float32>(-r);
    record.scale = static_cast<Float32>(s);
    mPending.index = mRecords.AddItem(record);
    mPending.quality = mQualitySum;
    mPending.pending = true;
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

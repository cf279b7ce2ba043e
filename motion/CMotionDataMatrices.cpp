// The correction pipeline: measured motion records -> scenes -> smoothed
// corrections -> one matrix per frame or field, bounded to the covered area,
// zoomed to the chosen target and faded at scene boundaries.
#include <algorithm>
#include <cmath>
#include <vector>

#include "motion/CMotionData.h"
#include "motion/MotionGeometry.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"

namespace {

// Largest shift, in picture sizes, that can still be a measured motion.
constexpr double kMaxShiftPictures = 2.0;

void ThrowIfErr(OSErr inErr) {
  if (inErr != noErr) Throw_(inErr);
}

}  // namespace

double CMotionData::Seconds(const FFData& inRecord) const {
  if (mTimeScale <= 0) return -1.0;
  double s = static_cast<double>(inRecord.time) / mTimeScale;
  if (inRecord.kind == kFieldInfoFrame || inRecord.kind == kFieldInfoFirstField) return s;
  if (inRecord.kind == kFieldInfoSecondField) return s + mFieldOffset;
  return -1.0;
}

bool CMotionData::SaneMotion(Float32 x, Float32 y, Float32 rotation, Float32 scale) const {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(rotation) || !std::isfinite(scale)) return false;
  if (scale <= 0.0f) return false;
  double size = std::max({static_cast<double>(mBounds.right - mBounds.left), static_cast<double>(mBounds.bottom - mBounds.top), 1.0});
  double limit = kMaxShiftPictures * size;
  return std::fabs(x) <= limit && std::fabs(y) <= limit && std::fabs(rotation) <= M_PI && scale >= 0.01f &&
         scale <= 100.0f;
}

OSErr CMotionData::CreateMatrices(MotionSettings* inSettings, float inFieldOffset) {
  try {
    ThrowIfNil_(inSettings);
    mFieldOffset = inFieldOffset;
    mFrames.RemoveAllItems();
    TArray<FFData> records;
    TArray<TrackInfo> scenes;
    ThrowIfErr(Transfer(inSettings, records));
    ThrowIfErr(SplitIntoScenes(records, scenes));
    SInt32 count = records.GetCount();
    if (count == 0) return noErr;
    FFData* data = records.data();
    for (const TrackInfo& s : scenes) ThrowIfErr(LowPass(inSettings, data, count, s.first, s.end));
    ThrowIfErr(MakeTransformMatrix(inSettings, data, count));
    ThrowIfErr(CalcSafeBounds(inSettings, data, count));
    ThrowIfErr(RescaleToCoverBounds(inSettings, data, count));
    for (const TrackInfo& s : scenes) ThrowIfErr(FadeInOut(inSettings, data, count, s.first, s.end));

    FrameData pair;
    bool pairOpen = false;
    for (SInt32 i = 0; i < count; ++i) {
      const FFData& r = data[i];
      if (r.kind == kFieldInfoFirstField) {
        pair = FrameData();
        pair.flags = kFrameDataFieldPair;
        pair.time = r.time;
        pair.duration = r.duration;
        std::copy(r.values, r.values + 4, pair.values1);
        pair.measure1 = r.measure;
        pair.matrix1 = r.matrix;
        pairOpen = true;
      } else if (r.kind == kFieldInfoSecondField) {
        if (!pairOpen) continue;  // a second field without its first is not a frame
        std::copy(r.values, r.values + 4, pair.values2);
        pair.measure2 = r.measure;
        pair.matrix2 = r.matrix;
        mFrames.AddItem(pair);
        pairOpen = false;
      } else {
        FrameData f;
        f.time = r.time;
        f.duration = r.duration;
        std::copy(r.values, r.values + 4, f.values1);
        f.measure1 = r.measure;
        f.matrix1 = r.matrix;
        mFrames.AddItem(f);
      }
    }
    mMatricesValid = true;
    return noErr;
  } catch (...) {
    return OSErrOfCurrent();
  }
}

OSErr CMotionData::Transfer(MotionSettings* inSettings, TArray<FFData>& outRecords) {
  if (!inSettings) return ErrorCodeToOSErr(err_NilPointer);
  SInt32 start = inSettings->rangeStart, stop = inSettings->rangeStop;
  if (stop <= start) {
    start = 0;
    stop = mDuration;
  }
  outRecords.RemoveAllItems();
  for (const DiffMotionData& d : mRecords) {
    if (d.time < start || d.time >= stop) continue;
    float cx = kNoCenter, cy = kNoCenter;
    if (d.version > 2 && std::isfinite(d.centerX) && std::isfinite(d.centerY)) {
      cx = d.centerX;
      cy = d.centerY;
    }
    FFData r;
    r.time = d.time;
    r.duration = d.duration;
    r.centerX = cx;
    r.centerY = cy;
    auto set = [&](FFData& rec, Float32 x, Float32 y, Float32 rot, Float32 scale, Float32 quality) {
      // Values that cannot be measured motion correct nothing.
      if (SaneMotion(x, y, rot, scale)) {
        rec.values[0] = x;
        rec.values[1] = y;
        rec.values[2] = rot;
        rec.values[3] = static_cast<Float32>(std::log10(scale));
      } else {
        std::fill(rec.values, rec.values + 4, 0.0f);
      }
      rec.quality = std::isfinite(quality) ? quality : 0.0f;
    };
    if (!(d.options & kMotionOptionFieldPair)) {
      r.kind = kFieldInfoFrame;
      set(r, d.xShift, d.yShift, d.rotation, d.scale, d.quality);
      outRecords.AddItem(r);
    } else {
      FFData first = r, second = r;
      first.kind = kFieldInfoFirstField;
      second.kind = kFieldInfoSecondField;
      bool secondSane = SaneMotion(d.xShift2, d.yShift2, d.rotation2, d.scale2);
      if (secondSane && SaneMotion(d.xShift, d.yShift, d.rotation, d.scale)) {
        set(first, d.xShift - d.xShift2, d.yShift - d.yShift2, d.rotation - d.rotation2, d.scale / d.scale2,
            d.quality - d.quality2);
      } else {
        set(first, NAN, 0, 0, 1, d.quality - d.quality2);
      }
      set(second, d.xShift2, d.yShift2, d.rotation2, d.scale2, d.quality2);
      outRecords.AddItem(first);
      outRecords.AddItem(second);
    }
  }
  return noErr;
}

namespace {

// A record that measured no motion at all: the picture it compares is the
// one before it again, as footage whose frames repeat (frame-rate
// conversion) has every few frames. Two identical pictures match better
// than any two moved ones, so its quality stands far above its neighbours'.
bool IsRepeat(const FFData& inRecord) {
  return std::fabs(inRecord.values[0]) < 1e-3f && std::fabs(inRecord.values[1]) < 1e-3f &&
         std::fabs(inRecord.values[2]) < 1e-6f && std::fabs(inRecord.values[3]) < 1e-6f;
}

// How many repeats in a row a neighbour search passes over.
constexpr SInt32 kRepeatsSkipped = 3;

}  // namespace

OSErr CMotionData::SplitIntoScenes(TArray<FFData>& ioRecords, TArray<TrackInfo>& outScenes) {
  outScenes.RemoveAllItems();
  SInt32 n = ioRecords.GetCount();
  FFData* r = ioRecords.data();
  SInt64 prevEnd = 0;
  bool havePrev = false;
  SInt32 start = 0;
  // The neighbour of record i a step away in direction inSign (-1 before, +1
  // after), passing over repeated pictures: beside a repeat a record's own
  // quality would look like a dip against the repeat's. Without a record
  // that is no repeat near enough, the adjacent one; -1 when the list ends
  // first (only repeats lie beyond: nothing to compare with).
  auto neighbour = [&](SInt32 i, SInt32 step, SInt32 sign) -> SInt32 {
    SInt32 j = i + sign * step;
    for (SInt32 k = 0; k <= kRepeatsSkipped; ++k, j += sign * step) {
      if (j < 0 || j >= n) return -1;
      if (!IsRepeat(r[j])) return j;
    }
    return i + sign * step;
  };
  auto measure = [&](SInt32 i, SInt32 step) -> float {
    const SInt32 before = neighbour(i, step, -1), after = neighbour(i, step, 1);
    if (before < 0 || after < 0) return 0.0f;
    double sum = static_cast<double>(r[before].quality) + r[after].quality;
    if (sum == 0.0 || !std::isfinite(sum)) return 0.0f;
    double d = (sum - 2.0 * r[i].quality) / sum;
    return std::isfinite(d) ? static_cast<float>(d) : 0.0f;
  };
  for (SInt32 i = 0; i < n; ++i) {
    if (!havePrev) {
      prevEnd = static_cast<SInt64>(r[i].time) + r[i].duration;
      havePrev = true;
    }
    float d = 0.0f;
    if (r[i].kind == kFieldInfoFrame) {
      if (i > 0 && i < n - 1) d = measure(i, 1);
    } else if (r[i].kind == kFieldInfoFirstField || r[i].kind == kFieldInfoSecondField) {
      if (i >= 2 && i < n - 2) d = measure(i, 2);
    }
    r[i].measure = d;
    // A repeated picture is the same scene as the one before it.
    if (prevEnd < r[i].time || (d > 0.5f && !IsRepeat(r[i]))) {
      outScenes.AddItem(TrackInfo{start, i});
      start = i;
    }
    prevEnd = static_cast<SInt64>(r[i].time) + r[i].duration;
  }
  outScenes.AddItem(TrackInfo{start, n});
  return noErr;
}

OSErr CMotionData::LowPass(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount, SInt32 inFirst, SInt32 inEnd) {
  if (!inSettings) return ErrorCodeToOSErr(err_NilPointer);
  if (inCount <= 0 || !ioRecords || inFirst < 0 || inEnd > inCount || inEnd <= inFirst) return noErr;
  const bool on[4] = {inSettings->doHorizontal != 0, inSettings->doVertical != 0, inSettings->doRotation != 0,
                      inSettings->doZoom != 0};
  if (inEnd - inFirst == 1) {
    // A scene of one frame has nothing to steady it against: its measured
    // motion is the jump from the scene before, which no correction may
    // take up (kept, it would throw the frame by the whole cut).
    for (int c = 0; c < 4; ++c)
      if (on[c]) ioRecords[inFirst].values[c] = 0.0f;
    return noErr;
  }
  const double T = inSettings->lowpassTime;
  if (!(T > 0.0) || !std::isfinite(T)) {
    for (SInt32 i = inFirst; i < inEnd; ++i) std::fill(ioRecords[i].values, ioRecords[i].values + 4, 0.0f);
    return noErr;
  }
  struct State {
    double v[4];
  };
  // One state per record of this scene only: a movie of many scenes must
  // not pay for the whole movie at every scene.
  const size_t n = static_cast<size_t>(inEnd - inFirst);
  std::vector<State> F(n), B(n);
  auto at = [inFirst](SInt32 i) { return static_cast<size_t>(i - inFirst); };
  State s{{0, 0, 0, 0}};
  // The leaky integrator is stable only while its step is at most one time
  // constant: a step beyond it (a smoothing time below the frame interval)
  // would make the state grow without bound, so the step is capped there.
  auto gain = [&](SInt32 later, SInt32 earlier) {
    double k = (Seconds(ioRecords[later]) - Seconds(ioRecords[earlier])) / T;
    return std::isfinite(k) ? std::clamp(k, 0.0, 1.0) : 1.0;
  };
  auto step = [&](SInt32 i, double k) {
    for (int c = 0; c < 4; ++c) s.v[c] = s.v[c] + ioRecords[i].values[c] - s.v[c] * k;
  };
  for (int iteration = 0; iteration < 2; ++iteration) {
    F[at(inFirst)] = s;
    for (SInt32 i = inFirst + 1; i < inEnd; ++i) {
      step(i, gain(i, i - 1));
      F[at(i)] = s;
    }
    B[at(inEnd - 1)] = s;
    B[at(inEnd - 2)] = s;
    for (SInt32 i = inEnd - 2; i >= inFirst + 1; --i) {
      step(i, gain(i + 1, i));
      B[at(i - 1)] = s;
    }
  }
  for (SInt32 i = inFirst; i < inEnd; ++i)
    for (int c = 0; c < 4; ++c)
      if (on[c])
        ioRecords[i].values[c] = static_cast<Float32>((F[at(i)].v[c] - B[at(i)].v[c]) * 0.5);
  return noErr;
}

OSErr CMotionData::MakeTransformMatrix(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount) {
  if (!inSettings) return ErrorCodeToOSErr(err_NilPointer);
  for (SInt32 i = 0; i < inCount; ++i) {
    MatrixRecord& m = ioRecords[i].matrix;
    SetIdentityMatrix(&m);
    double cx = ioRecords[i].centerX, cy = ioRecords[i].centerY;
    if (ioRecords[i].centerX == kNoCenter || ioRecords[i].centerY == kNoCenter) {
      cx = (mBounds.left + mBounds.right) * 0.5;
      cy = (mBounds.top + mBounds.bottom) * 0.5;
    }
    if (inSettings->doRotation)
      RotateMatrix(&m, X2Fix(-(ioRecords[i].values[2] * 180.0 * 0.31831927423205475)), X2Fix(cx), X2Fix(cy));
    if (inSettings->doZoom) {
      Fixed s = X2Fix(std::pow(10.0, -static_cast<double>(ioRecords[i].values[3])));
      ScaleMatrix(&m, s, s, X2Fix(cx), X2Fix(cy));
    }
    if (inSettings->doHorizontal) TranslateMatrix(&m, X2Fix(-ioRecords[i].values[0]), 0);
    if (inSettings->doVertical) TranslateMatrix(&m, 0, X2Fix(-ioRecords[i].values[1]));
  }
  return noErr;
}

OSErr CMotionData::CalcSafeBounds(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount) {
  if (!inSettings) return ErrorCodeToOSErr(err_NilPointer);
  const SInt32 W = mBounds.right - mBounds.left, H = mBounds.bottom - mBounds.top;
  if (W <= 0 || H <= 0) {
    mSafeBounds = mBounds;
    return noErr;
  }
  double allowance = std::floor(static_cast<double>(inCount) * inSettings->tolerance * 0.01);
  if (!std::isfinite(allowance) || allowance < 0) allowance = 0;
  const SInt64 A = static_cast<SInt64>(std::min(allowance, 2147483647.0));
  std::vector<SInt32> left(static_cast<size_t>(W), 0), right(static_cast<size_t>(W), 0);
  std::vector<SInt32> top(static_cast<size_t>(H), 0), bottom(static_cast<size_t>(H), 0);
  auto count = [](std::vector<SInt32>& slots, SInt32 width, SInt32 size) {
    ++slots[(width < 1 || width >= size) ? 0 : static_cast<size_t>(width)];
  };
  for (SInt32 i = 0; i < inCount; ++i) {
    FixedPoint c[4];
    MapCorners(ioRecords[i].matrix, mBounds, c);
    SInt32 l, t, rr, b;
    InnerEdges(c, l, t, rr, b);
    count(left, l - mBounds.left, W);
    count(top, t - mBounds.top, H);
    count(right, mBounds.right - rr, W);
    count(bottom, mBounds.bottom - b, H);
  }
  auto inset = [A](const std::vector<SInt32>& slots) -> SInt32 {
    SInt64 sum = 0;
    for (size_t s = slots.size() - 1; s >= 1; --s) {
      sum += slots[s];
      if (sum > A) return static_cast<SInt32>(s);
    }
    return 0;
  };
  SInt32 st = mBounds.top + inset(top), sl = mBounds.left + inset(left);
  SInt32 sb = mBounds.bottom - inset(bottom), sr = mBounds.right - inset(right);
  // Keep the picture's aspect ratio.
  double ratio = static_cast<double>(W) / H;
  double w = sr - sl, h = sb - st;
  if (w > 0 && h > 0) {
    double s = w / h;
    if (ratio < s) {
      SInt32 d = static_cast<SInt32>((w - h * ratio) * 0.5);
      sl += d;
      sr -= d;
    } else if (s < ratio) {
      SInt32 d = static_cast<SInt32>((h - w / ratio) * 0.5);
      st += d;
      sb -= d;
    }
  }
  mSafeBounds = Rect{SaturateToSInt16(st), SaturateToSInt16(sl), SaturateToSInt16(sb), SaturateToSInt16(sr)};
  return noErr;
}

OSErr CMotionData::RescaleToCoverBounds(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount) {
  if (!inSettings) return ErrorCodeToOSErr(err_NilPointer);
  double f;
  switch (inSettings->zoomMode) {
    case kZoomInset5: f = 0.05; break;
    case kZoomInset10: f = 0.10; break;
    case kZoomFull: f = 0.0; break;
    default:
      mCoverRect = Rect{0, 0, 0, 0};
      return noErr;
  }
  Rect R;
  InsetByFraction(mBounds, R, f);
  mCoverRect = R;
  const Rect& S = mSafeBounds;
  // An empty or inverted covered area gives no sensible zoom: leave the
  // corrections as they are rather than blowing a sliver up to the frame.
  if (S.right <= S.left || S.bottom <= S.top || R.right <= R.left || R.bottom <= R.top) return noErr;
  MatrixRecord correction;
  SetIdentityMatrix(&correction);
  if (S.right - S.left < R.right - R.left && S.bottom - S.top < R.bottom - R.top) {
    RectMatrix(&correction, &S, &R);
  } else {
    double dx = ((R.left + R.right) - (S.left + S.right)) * 0.5;
    double dy = ((R.top + R.bottom) - (S.top + S.bottom)) * 0.5;
    TranslateMatrix(&correction, X2Fix(dx), X2Fix(dy));
  }
  for (SInt32 i = 0; i < inCount; ++i) ConcatMatrix(&correction, &ioRecords[i].matrix);
  return noErr;
}

OSErr CMotionData::FadeInOut(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount, SInt32 inFirst, SInt32 inEnd) {
  if (!inSettings) return ErrorCodeToOSErr(err_NilPointer);
  if (inEnd - inFirst < 2 || inFirst < 0 || inEnd > inCount) return noErr;
  auto units = [&](Float32 seconds) -> SInt64 {
    double v = static_cast<double>(seconds) * mTimeScale;
    return std::isfinite(v) ? static_cast<SInt64>(std::clamp(v, 0.0, 2147483647.0)) : 0;
  };
  const SInt64 tS = ioRecords[inFirst].time;
  const SInt64 fadeInEnd = tS == 0 ? 0 : tS + units(inSettings->fadeInDuration);
  const SInt64 tE = static_cast<SInt64>(ioRecords[inCount - 1].time) + ioRecords[inCount - 1].duration;
  const SInt64 fadeOutStart = tE == mDuration ? tE : tE - units(inSettings->fadeOutDuration);
  for (SInt32 i = inFirst; i < inEnd; ++i) {
    const SInt64 t = ioRecords[i].time;
    double f = 1.0;
    if (tS <= t && t < fadeInEnd) f = static_cast<double>(t - tS) / static_cast<double>(fadeInEnd - tS);
    if (fadeOutStart < t && t <= tE) f *= static_cast<double>(tE - t) / static_cast<double>(tE - fadeOutStart);
    if (f == 1.0) continue;
    auto& m = ioRecords[i].matrix.matrix;
    m[0][0] = X2Fix((Fix2X(m[0][0]) - 1.0) * f + 1.0);
    m[1][1] = X2Fix((Fix2X(m[1][1]) - 1.0) * f + 1.0);
    m[0][1] = X2Fix(Fix2X(m[0][1]) * f);
    m[1][0] = X2Fix(Fix2X(m[1][0]) * f);
    m[2][0] = X2Fix(Fix2X(m[2][0]) * f);
    m[2][1] = X2Fix(Fix2X(m[2][1]) * f);
  }
  return noErr;
}

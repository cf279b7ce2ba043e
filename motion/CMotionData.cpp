#include "motion/CMotionData.h"

#include "media/CMovie.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "motion/MotionGeometry.h"

const Float32 kNoCenter = std::numeric_limits<Float32>::min();

void DiffMotionDataFromSample(const void* inBytes, size_t inSize, DiffMotionData& outRecord) {
  UInt8 raw[kDiffMotionDataSize] = {};
  if (inBytes) std::memcpy(raw, inBytes, std::min(inSize, kDiffMotionDataSize));
  std::memcpy(&outRecord, raw, 4);
  UInt32* words = reinterpret_cast<UInt32*>(reinterpret_cast<UInt8*>(&outRecord) + 4);
  for (size_t i = 0; i < 15; ++i) words[i] = ReadBE32(raw + 4 + 4 * i);
}

void DiffMotionDataToSample(const DiffMotionData& inRecord, void* outBytes64) {
  auto* out = static_cast<UInt8*>(outBytes64);
  std::memcpy(out, &inRecord, 4);
  const UInt32* words = reinterpret_cast<const UInt32*>(reinterpret_cast<const UInt8*>(&inRecord) + 4);
  for (size_t i = 0; i < 15; ++i) WriteBE32(out + 4 + 4 * i, words[i]);
}

CMotionData::CMotionData() = default;
CMotionData::~CMotionData() = default;

// ---------------------------------------------------------------------------
// Records

void CMotionData::SortRecords() {
  std::stable_sort(mRecords.begin(), mRecords.end(),
                   [](const DiffMotionData& a, const DiffMotionData& b) { return a.time < b.time; });
  auto last = std::unique(mRecords.begin(), mRecords.end(),
                          [](const DiffMotionData& a, const DiffMotionData& b) { return a.time == b.time; });
  mRecords.RemoveAllItemsAfter(static_cast<ArrayIndexT>(last - mRecords.begin()));
}

void CMotionData::SetRecords(const std::vector<DiffMotionData>& inRecords, const Rect& inBounds, SInt32 inTimeScale,
                             SInt32 inDuration) {
  mRecords.RemoveAllItems();
  for (const DiffMotionData& r : inRecords) mRecords.AddItem(r);
  mBounds = inBounds;
  mBounds.bottom = static_cast<SInt16>(mBounds.bottom - mBounds.top);
  mBounds.right = static_cast<SInt16>(mBounds.right - mBounds.left);
  mBounds.top = mBounds.left = 0;
  mTimeScale = inTimeScale;
  mDuration = inDuration;
  SortRecords();
  mRawDataValid = true;
  mMatricesValid = false;
}

void CMotionData::CollectTrackSettings(Movie inMovie, TArray<TrackSettings>& outSettings) {
  outSettings.RemoveAllItems();
  for (SInt32 i = GetMovieTrackCount(inMovie); i >= 1; --i) {
    Track track = GetMovieIndTrack(inMovie, i);
    ThrowIfNil_(track);
    if (GetTrackLayer(track) != kMotionTrackLayer || !GetTrackEnabled(track)) continue;
    ThrowIfNil_(GetTrackMedia(track));
    TrackSettings ts;
    ts.track = track;
    ts.offset = GetTrackOffset(track);
    ts.duration = GetTrackDuration(track);
    ts.modificationTime = GetTrackModificationTime(track);
    outSettings.AddItem(ts);
  }
}

OSErr CMotionData::ScanMovie(Movie inMovie, const Rect& inEncodedBounds) {
  OSErr result = noErr;
  std::vector<DiffMotionData> records;
  try {
    ThrowIfNil_(inMovie);
    mTrackSettings.RemoveAllItems();
    mRecords.RemoveAllItems();
    CollectTrackSettings(inMovie, mTrackSettings);
    StHandleBlock sample(static_cast<SInt32>(kDiffMotionDataSize));
    for (const TrackSettings& ts : mTrackSettings) {
      Media media = GetTrackMedia(ts.track);
      TimeValue time = ts.offset;
      // A track cannot hold more samples than time units; this bounds the walk.
      SInt64 guard = static_cast<SInt64>(std::max<SInt32>(ts.duration, 0)) + 2;
      while (time >= 0 && guard-- > 0) {
        TimeValue mediaTime = TrackTimeToMediaTime(time, ts.track);
        SInt32 size = 0;
        TimeValue duration = 0;
        result = GetMediaSample(media, sample, 0, &size, mediaTime, nullptr, &duration, nullptr, nullptr, 1, nullptr,
                                nullptr);
        if (result != noErr) break;
        DiffMotionData rec;
        DiffMotionDataFromSample(*sample.Get(), static_cast<size_t>(std::min(size, GetHandleSize(sample))), rec);
        rec.time = time;
        rec.duration = duration;
        records.push_back(rec);
        TimeValue next = -1;
        GetTrackNextInterestingTime(ts.track, nextTimeMediaSample, time, fixed1, &next, nullptr);
        if (next <= time) break;
        time = next;
      }
    }
  } catch (const LException& e) {
    result = ErrorCodeToOSErr(e.GetErrorCode());
  }
  if (inMovie) {
    SetRecords(records, inEncodedBounds, GetMovieTimeScale(inMovie), GetMovieDuration(inMovie));
  }
  return result;
}

bool CMotionData::MovieChanged(Movie inMovie) {
  try {
    ThrowIfNil_(inMovie);
    TArray<TrackSettings> fresh;
    CollectTrackSettings(inMovie, fresh);
    if (fresh.GetCount() != mTrackSettings.GetCount()) return true;
    for (ArrayIndexT i = 1; i <= fresh.GetCount(); ++i)
      if (!(fresh[i] == mTrackSettings[i])) return true;
    return false;
  } catch (...) {
    return true;
  }
}

bool CMotionData::HasValidMotionDataTrack(Movie inMovie) {
  if (!inMovie) return false;
  SInt32 count = GetMovieTrackCount(inMovie);
  for (SInt32 i = 1; i <= count; ++i) {
    Track track = GetMovieIndTrack(inMovie, i);
    if (!track) return false;
    if (GetTrackLayer(track) == kMotionTrackLayer && GetTrackEnabled(track) && GetTrackDuration(track) > 0) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Fetching

bool CMotionData::FetchAtTime(SInt32 inTime, FrameData& outFrame) {
  SInt32 low = 1, high = mFrames.GetCount();
  while (low <= high) {
    SInt32 mid = low + (high - low) / 2;
    const FrameData& f = mFrames[mid];
    if (inTime < f.time) {
      high = mid - 1;
    } else if (static_cast<SInt64>(inTime) >= static_cast<SInt64>(f.time) + f.duration) {
      low = mid + 1;
    } else {
      outFrame = f;
      return true;
    }
  }
  return false;
}

bool CMotionData::FetchMatrixAtTime(SInt32 inTime, MatrixRecord& outFirst, MatrixRecord& outSecond,
                                    float& outFirstMeasure, float& outSecondMeasure) {
  FrameData f;
  if (mMatricesValid && FetchAtTime(inTime, f)) {
    outFirst = f.matrix1;
    outSecond = f.matrix2;
    outFirstMeasure = f.measure1;
    outSecondMeasure = f.measure2;
    return true;
  }
  SetIdentityMatrix(&outFirst);
  SetIdentityMatrix(&outSecond);
  outFirstMeasure = outSecondMeasure = 0;
  return false;
}

SInt32 CMotionData::GetStart() {
  if (!mMatricesValid || mFrames.GetCount() == 0) return 0;
  return mFrames[1].time;
}

SInt32 CMotionData::GetStop() {
  if (!mMatricesValid || mFrames.GetCount() == 0) return 0;
  const FrameData& f = mFrames[mFrames.GetCount()];
  return f.time + f.duration;
}

void CMotionData::InvalidateRawData() {
  mRecords.RemoveAllItems();
  mFrames.RemoveAllItems();
  mRawDataValid = false;
  mMatricesValid = false;
}

void CMotionData::InvalidateMatrices() {
  mFrames.RemoveAllItems();
  mMatricesValid = false;
}

void CMotionData::InvalidateSafeBounds() { mSafeBounds = Rect{-1, -1, -1, -1}; }

void CMotionData::CalcTVSafeBounds(Rect inRect, Rect& outRect) { InsetByFraction(inRect, outRect, 0.05); }
void CMotionData::CalcTitleSafeBounds(Rect inRect, Rect& outRect) { InsetByFraction(inRect, outRect, 0.1); }

float CMotionData::GetFieldTime(SInt32 inTime, SInt32 inKind) {
  if (mTimeScale <= 0) return -1.0f;
  if (inKind == kFieldInfoFrame || inKind == kFieldInfoFirstField) return static_cast<float>(inTime) / mTimeScale;
  if (inKind == kFieldInfoSecondField) return static_cast<float>(inTime) / mTimeScale + mFieldOffset;
  return -1.0f;
}

void CMotionData::CalcInnerBounds(MatrixRecord* inMatrix, Rect inRect, Rect& outRect) {
  if (!inMatrix) return;
  FixedPoint c[4];
  MapCorners(*inMatrix, inRect, c);
  SInt32 l, t, r, b;
  InnerEdges(c, l, t, r, b);
  outRect = Rect{SaturateToSInt16(t), SaturateToSInt16(l), SaturateToSInt16(b), SaturateToSInt16(r)};
}

void CMotionData::DoMedianSort(float* ioValues, SInt32 inCount, float& outResult) {
  outResult = 0;
  if (!ioValues || inCount <= 0) return;
  auto largest = [&]() {
    SInt32 best = -1;
    float value = 0;
    for (SInt32 i = 0; i < inCount; ++i)
      if (ioValues[i] > value) {
        value = ioValues[i];
        best = i;
      }
    return best;
  };
  for (SInt32 k = 0; k < inCount / 2; ++k) {
    SInt32 i = largest();
    if (i >= 0) ioValues[i] = 0;
  }
  SInt32 i = largest();
  outResult = i >= 0 ? ioValues[i] : 0;
}

// ---------------------------------------------------------------------------
// The same on the document's movie wrapper

OSErr CMotionData::ScanMovie(CMovie* inMovie) {
  if (!inMovie || !inMovie->GetMovie()) return ErrorCodeToOSErr(err_NilPointer);
  Rect bounds;
  inMovie->GetEncodedBounds(bounds);
  return ScanMovie(inMovie->GetMovie(), bounds);
}

bool CMotionData::MovieChanged(CMovie* inMovie) { return !inMovie || MovieChanged(inMovie->GetMovie()); }

bool CMotionData::HasValidMotionDataTrack(CMovie* inMovie) {
  return inMovie && HasValidMotionDataTrack(inMovie->GetMovie());
}

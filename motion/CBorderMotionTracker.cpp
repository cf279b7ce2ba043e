#include "motion/CBorderMotionTracker.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "media/CBuffer.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"

namespace {

// What the edge search needs of a grey picture, gathered band by band: the
// inward gradient profiles (summed over each column and row; whole numbers,
// so the sums do not depend on the band split) and the number of dark
// pixels of each column and row. A column's median is dark exactly when
// more than half of its pixels are, a row's 90th percentile when more than
// 90 % of them are.
struct BorderStats {
  SInt32 width = 0;
  SInt32 height = 0;
  std::vector<SInt32> columnProfile, columnDark;  // width entries
  std::vector<SInt32> rowProfile, rowDark;        // height entries
};

SInt32 BorderStats_proc(void* inTask) {
  CBufferTask* t = static_cast<CBufferTask*>(inTask);
  BorderStats* stats = static_cast<BorderStats*>(t->mUserParam);
  CBuffer* grey = t->mSource;
  if (!stats || !grey || !grey->GetData()) return err_NilPointer;
  const Rect& box = t->mSourceBox;
  const SInt32 w = stats->width, h = stats->height;
  if (box.right - box.left != w || box.bottom - box.top != h) return paramErr;
  std::vector<SInt32> columnProfile(static_cast<size_t>(w), 0), columnDark(static_cast<size_t>(w), 0);
  const SInt32 rowBytes = grey->GetRowBytes();
  auto row = [&](SInt32 y) {
    return reinterpret_cast<const UInt8*>(grey->GetData()) + static_cast<ptrdiff_t>(box.top + y - grey->GetBounds().top) * rowBytes +
           (box.left - grey->GetBounds().left);
  };
  const SInt32 halfW = w / 2, halfH = h / 2;
  for (SInt32 j = 0; j < t->mRows; ++j) {
    t->SetProgress(static_cast<SInt32>((static_cast<SInt64>(j) * 256) / t->mRows));
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    const SInt32 y = t->mFirstRow + j;
    const UInt8* __restrict p = row(y);
    // The neighbouring row towards the picture's middle.
    const UInt8* __restrict inner = row(y < halfH ? y + 1 : y - 1);
    SInt32 rowSum = 0, rowDarkCount = 0;
    for (SInt32 x = 0; x < w; ++x) {
      rowSum += SInt32{inner[x]} - SInt32{p[x]};
      rowDarkCount += p[x] <= CBorderMotionTracker::kDarkLevel;
    }
    stats->rowProfile[static_cast<size_t>(y)] = rowSum;
    stats->rowDark[static_cast<size_t>(y)] = rowDarkCount;
    SInt32* __restrict cp = columnProfile.data();
    SInt32* __restrict cd = columnDark.data();
    for (SInt32 x = 0; x < halfW; ++x) cp[x] += SInt32{p[x + 1]} - SInt32{p[x]};
    for (SInt32 x = halfW; x < w; ++x) cp[x] += SInt32{p[x - 1]} - SInt32{p[x]};
    for (SInt32 x = 0; x < w; ++x) cd[x] += p[x] <= CBorderMotionTracker::kDarkLevel;
  }
  if (t->mRows > 0) {
    MPCriticalRegionID region = t->GetCriticalRegion();
    if (region) MPEnterCriticalRegion(region, kDurationForever);
    for (SInt32 x = 0; x < w; ++x) {
      stats->columnProfile[static_cast<size_t>(x)] += columnProfile[static_cast<size_t>(x)];
      stats->columnDark[static_cast<size_t>(x)] += columnDark[static_cast<size_t>(x)];
    }
    if (region) MPExitCriticalRegion(region);
  }
  return noErr;
}

// The strongest inward step above the minimum inside the run of dark lines
// that starts at the outer edge. inDark tells whether line i is dark;
// inProfile is the profile with its last entry 0. Lines are walked from
// inStart by inStep until inStop says so; the window of line i holds the
// lines from i - 5 to i + 4. Answers the line (0 when none) and its strength.
template <class Dark, class Stop>
void FindEdge(const std::vector<float>& inProfile, SInt32 inCount, Dark inDark, SInt32 inStart, SInt32 inStep,
              Stop inStop, SInt32& outLine, float& outStrength) {
  outLine = 0;
  outStrength = 0.0f;
  for (SInt32 i = inStart; i >= 0 && i < inCount; i += inStep) {
    const SInt32 first = std::max<SInt32>(i - 5, 0), last = std::min<SInt32>(i + 5, inCount);
    if (first >= last) break;
    bool anyDark = false;
    for (SInt32 k = first; k < last && !anyDark; ++k) anyDark = inDark(k);
    if (!anyDark || inStop(i)) break;
    const float v = inProfile[static_cast<size_t>(i)];
    if (v > outStrength && v > CBorderMotionTracker::kMinEdgeStrength) {
      outLine = i;
      outStrength = v;
    }
  }
}

}  // namespace

CBorderMotionTracker::CBorderMotionTracker() = default;

CBorderMotionTracker::~CBorderMotionTracker() = default;

UInt32 CBorderMotionTracker::GetOptions() { return mAccuracy == 3 ? kOptionsAccuracy3 : kOptions; }

OSErr CBorderMotionTracker::BeginTracking(CBuffer* inBuffer, Rect inTrackRect, ProgressProcPtr inProgress,
                                          void* inRefCon) {
  const OSErr err = CMotionTracker::BeginTracking(inBuffer, inTrackRect, inProgress, inRefCon);
  if (err != noErr) Throw_(err);
  mMeasurements.RemoveAllItems();
  return noErr;
}

OSErr CBorderMotionTracker::ProcessFrame(SInt32 inDuration, ETrackerFieldMode inMode, ProgressProcPtr, void*) {
  if (!mTracking) return paramErr;
  if (!mSource) return ErrorCodeToOSErr(err_NilPointer);
  if (inMode != ETrackerFieldMode::kFrame && inMode != ETrackerFieldMode::kOddField &&
      inMode != ETrackerFieldMode::kEvenField)
    return paramErr;
  CBufferReleaser grey;
  CBufferReleaser field;
  try {
    CBuffer* picture = mSource;
    Rect rect = mTrackRect;
    if (inMode != ETrackerFieldMode::kFrame) {
      // The rows of the tracking Rect that belong to the field, in the
      // field view's coordinates (view row v is frame row start + 2 (v - top)).
      field.SetBuffer(inMode == ETrackerFieldMode::kOddField ? CBuffer::CreateFromBuffer_Odd(mSource)
                                                             : CBuffer::CreateFromBuffer_Even(mSource));
      ThrowIfNil_(field.GetBuffer());
      const Rect& frame = mSource->GetBounds();
      const Rect& view = field.GetBuffer()->GetBounds();
      const bool wantOdd = inMode == ETrackerFieldMode::kEvenField;
      const SInt32 start = ((frame.top & 1) != 0) == wantOdd ? frame.top : frame.top + 1;
      auto viewRowAtOrBelow = [&](SInt32 frameRow) {
        const SInt32 d = frameRow - start;
        return view.top + (d > 0 ? (d + 1) / 2 : 0);
      };
      rect = MakeRect(viewRowAtOrBelow(mTrackRect.top), mTrackRect.left, viewRowAtOrBelow(mTrackRect.bottom),
                      mTrackRect.right);
      if (!SectRect(&rect, &view, &rect)) return paramErr;
      picture = field.GetBuffer();
    }
    grey.SetBuffer(new CBuffer(rect, kBufferDepth8, kBufferModeGray));
    OSErr err = picture->CopyTo(grey.GetBuffer(), &rect, nullptr, nullptr, nullptr);
    if (err != noErr) return err;
    BorderRawData measurement;
    std::memset(&measurement, 0, sizeof(measurement));
    err = FindBorder(grey.GetBuffer(), measurement, inMode);
    if (err != noErr) return err;
    measurement.duration = inDuration;
    mMeasurements.AddItem(measurement);
    return noErr;
  } catch (...) {
    return OSErrOfCurrent();
  }
}

OSErr CBorderMotionTracker::FindBorder(CBuffer* inGrey, BorderRawData& outData, ETrackerFieldMode inMode) {
  if (!inGrey) return ErrorCodeToOSErr(err_NilPointer);
  if (inGrey->GetMode() != kBufferModeGray || inGrey->GetDepth() != kBufferDepth8) return paramErr;
  bool fieldLines;
  switch (inMode) {
    case ETrackerFieldMode::kFrame:
      fieldLines = false;
      break;
    case ETrackerFieldMode::kOddField:
    case ETrackerFieldMode::kEvenField:
    case ETrackerFieldMode::kFirstFieldStretched:
    case ETrackerFieldMode::kSecondFieldStretched:
      fieldLines = true;
      break;
    default:
      return paramErr;
  }
  outData.left = outData.right = outData.top = outData.bottom = 0.0f;
  outData.leftStrength = outData.rightStrength = outData.topStrength = outData.bottomStrength = 0.0f;
  const SInt32 w = inGrey->GetWidth(), h = inGrey->GetHeight();
  // A picture this narrow or low has no borders to look for.
  if (w < 2 || h < 2) return noErr;
  try {
    BorderStats stats;
    stats.width = w;
    stats.height = h;
    stats.columnProfile.assign(static_cast<size_t>(w), 0);
    stats.columnDark.assign(static_cast<size_t>(w), 0);
    stats.rowProfile.assign(static_cast<size_t>(h), 0);
    stats.rowDark.assign(static_cast<size_t>(h), 0);
    const Rect box = inGrey->GetBounds();
    const OSErr err = CBuffer::Convert(inGrey, inGrey, nullptr, &box, &box, BorderStats_proc, &stats, nullptr,
                                       nullptr, nullptr);
    if (err != noErr) return err;

    // The profiles as used: the last column and the last row are never chosen.
    std::vector<float> columnProfile(stats.columnProfile.begin(), stats.columnProfile.end());
    std::vector<float> rowProfile(stats.rowProfile.begin(), stats.rowProfile.end());
    columnProfile.back() = 0.0f;
    rowProfile.back() = 0.0f;
    auto darkColumn = [&](SInt32 x) { return stats.columnDark[static_cast<size_t>(x)] > h / 2; };
    auto darkRow = [&](SInt32 y) { return stats.rowDark[static_cast<size_t>(y)] > (w * 90) / 100; };

    SInt32 line;
    float strength;
    FindEdge(columnProfile, w, darkColumn, 0, 1, [&](SInt32 i) { return i >= w / 4; }, line, strength);
    outData.left = static_cast<float>(line);
    outData.leftStrength = strength;
    FindEdge(columnProfile, w, darkColumn, w - 1, -1, [&](SInt32 x) { return x <= (3 * w) / 4; }, line, strength);
    outData.right = strength > 0.0f ? static_cast<float>(w - 1 - line) : 0.0f;
    outData.rightStrength = strength;
    FindEdge(rowProfile, h, darkRow, 0, 1, [&](SInt32 i) { return i >= h / 4; }, line, strength);
    outData.top = static_cast<float>(line);
    outData.topStrength = strength;
    FindEdge(rowProfile, h, darkRow, h - 1, -1, [&](SInt32 y) { return y <= (3 * h) / 4; }, line, strength);
    outData.bottom = strength > 0.0f ? static_cast<float>(h - 1 - line) : 0.0f;
    outData.bottomStrength = strength;
    if (fieldLines) {
      outData.top *= 2.0f;
      outData.bottom *= 2.0f;
    }
    return noErr;
  } catch (...) {
    return OSErrOfCurrent();
  }
}

void CBorderMotionTracker::DoMedianSortFloat(float* ioValues, SInt32 inCount, float& outMedian) {
  outMedian = 0.0f;
  if (!ioValues || inCount <= 0) return;
  for (SInt32 n = 0; n < inCount / 2; ++n) {
    float best = 0.0f;
    SInt32 at = -1;
    for (SInt32 i = 0; i < inCount; ++i)
      if (ioValues[i] > best) {
        best = ioValues[i];
        at = i;
      }
    if (at >= 0) ioValues[at] = 0.0f;
  }
  for (SInt32 i = 0; i < inCount; ++i) outMedian = std::max(outMedian, ioValues[i]);
}

void CBorderMotionTracker::DoMedianSortLong(SInt32* ioValues, SInt32 inCount, SInt32& outMedian) {
  outMedian = 0;
  if (!ioValues || inCount <= 0) return;
  for (SInt32 n = 0; n < inCount / 2; ++n) {
    SInt32 best = 0, at = -1;
    for (SInt32 i = 0; i < inCount; ++i)
      if (ioValues[i] > best) {
        best = ioValues[i];
        at = i;
      }
    if (at >= 0) ioValues[at] = 0;
  }
  for (SInt32 i = 0; i < inCount; ++i) outMedian = std::max(outMedian, ioValues[i]);
}

void CBorderMotionTracker::EndTracking() {
  CMotionTracker::EndTracking();
  if (mMeasurements.GetCount() == 0) return;
  // The typical total border width and height over the run. Each list takes
  // only measurements that found both of its edges.
  std::vector<float> widths, heights;
  for (const BorderRawData& m : mMeasurements) {
    if (m.left != 0.0f && m.right != 0.0f) widths.push_back(m.left + m.right);
    if (m.top != 0.0f && m.bottom != 0.0f) heights.push_back(m.top + m.bottom);
  }
  float medianWidth, medianHeight;
  DoMedianSortFloat(widths.data(), static_cast<SInt32>(widths.size()), medianWidth);
  DoMedianSortFloat(heights.data(), static_cast<SInt32>(heights.size()), medianHeight);

  // The picture's offset from its middle position, by the stronger edge.
  auto offset = [](float inNear, float inNearStrength, float inFar, float inFarStrength, float inTotal) {
    if (inNear != 0.0f) {
      if (inFar == 0.0f || inNearStrength > inFarStrength) return inNear - inTotal * 0.5f;
      return inTotal * 0.5f - inFar;
    }
    return inFar != 0.0f ? inTotal * 0.5f - inFar : 0.0f;
  };
  float previousX = 0.0f, previousY = 0.0f;
  for (const BorderRawData& m : mMeasurements) {
    const float x = offset(m.left, m.leftStrength, m.right, m.rightStrength, medianWidth);
    const float y = offset(m.top, m.topStrength, m.bottom, m.bottomStrength, medianHeight);
    DiffMotionData record = NewRecord(m.duration);
    record.quality = 1.0f;
    record.xShift = x - previousX;
    record.yShift = y - previousY;
    record.rotation = 0.0f;
    record.scale = 1.0f;
    mRecords.AddItem(record);
    previousX = x;
    previousY = y;
  }
}

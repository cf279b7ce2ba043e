#include "motion/CInterlaceTrackerTask.h"

#include <cmath>
#include <cstdlib>
#include <memory>

#include "media/CBuffer.h"
#include "platform/base/LException.h"
#include "platform/tasks/Multiprocessing.h"
#include "toolkit/ULocalization.h"

namespace {

const OSType kVisual = VisualMediaCharacteristic;
constexpr SInt16 kFrameSearch = nextTimeMediaSample;
constexpr SInt32 kMinFrames = 16;
constexpr double kDecidedTotal = 200.0;
constexpr SInt32 kIgnoredDifference = 24;

// What the bands of one field measure add up: under the group's critical region only.
struct FieldSums {
  SInt32 bands = 0;
  Float32 sum = 0;
};

inline SInt32 RGB(const UInt8* inPixel) { return inPixel[1] + inPixel[2] + inPixel[3]; }

}  // namespace

CInterlaceTrackerTask::CInterlaceTrackerTask(CMovieTaskDocument* inDocument, bool inWithSheet)
    : CMovieTask(inDocument) {
  Movie movie = mMovie->GetMovie();
  ThrowIfNil_(movie);
  TimeValue selStart = 0, selDuration = 0;
  GetMovieSelection(movie, &selStart, &selDuration);
  SetMovieSelection(movie, 0, GetMovieDuration(movie));
  try {
    mCopy = new CMovie(*mMovie);
  } catch (...) {
    SetMovieSelection(movie, selStart, selDuration);
    throw;
  }
  SetMovieSelection(movie, selStart, selDuration);
  mRangeStart = mCurrentTime = 0;
  mRangeStop = mCopy->GetDuration();
  if (inWithSheet) {
    mProgress = mDocument->NewProgressSheet(this);
    if (mProgress) ProgressSheetMessage(-10);
  }
}

CInterlaceTrackerTask::~CInterlaceTrackerTask() {
  if (mCopy && mCopy->GetMovie()) SetMovieGWorld(mCopy->GetMovie(), nullptr, nullptr);
  delete mCopy;
  if (mWorld) DisposeGWorld(mWorld);
  if (mBuffer) mBuffer->Release();
  if (mPrevious) mPrevious->Release();
  if (mProgress) mProgress->Remove();
  delete mProgress;
  BroadcastEndMessage();
}

SInt32 CInterlaceTrackerTask::ProgressSheetMessage(SInt32 inMessage) {
  if (!mProgress) return 0;
  if (inMessage == -10) {
    Str255 text;
    ULocalization::GetString(text, STRx_InterlaceAnalysis, 1);
    mProgress->SetCaption(text);
    mProgress->SetIndeterminate();
  } else if (inMessage == 901) {
    UserCanceled();
  }
  return 0;
}

void CInterlaceTrackerTask::AddDuration(SInt32 inDuration) {
  for (DurationCount& d : mDurations)
    if (d.duration == inDuration) {
      ++d.count;
      return;
    }
  mDurations.push_back({inDuration, 1});
}

OSErr CInterlaceTrackerTask::BeginRendering() {
  Rect bounds;
  mCopy->GetEncodedBounds(bounds);
  OffsetRect(&bounds, static_cast<SInt16>(-bounds.left), static_cast<SInt16>(-bounds.top));
  mBuffer = new CBuffer(bounds, kBufferDepth8, kBufferModeARGB);
  mWorld = mBuffer->CreateGWorld(nullptr, nullptr);
  ThrowIfNil_(mWorld);
  Movie copy = mCopy->GetMovie();
  SetMovieGWorld(copy, mWorld, nullptr);
  SetMovieBox(copy, &bounds);
  mCopy->SetPlayHints(hintsHighQuality, kDrawingHintsMask);
  DrawFrame(mCurrentTime);
  return noErr;
}

void CInterlaceTrackerTask::DrawFrame(SInt32 inTime) {
  Movie copy = mCopy->GetMovie();
  SetMovieTimeValue(copy, inTime);
  UpdateMovie(copy);
  MoviesTask(copy, 0);
}

QInterlaceDelay CInterlaceTrackerTask::StandardForDuration(SInt32 inDuration, SInt32 inTimeScale) {
  // A time scale of 0 (a damaged file) tells nothing.
  if (inTimeScale <= 0) return kInterlaceDelay_None;
  const double ms = static_cast<double>(inDuration) * 1000.0 / inTimeScale;
  if (std::fabs(ms - 40.0) < 2.0) return kInterlaceDelay_PAL;
  if (std::fabs(ms - 33.0) < 2.0) return kInterlaceDelay_NTSC;
  return kInterlaceDelay_None;
}

OSErr CInterlaceTrackerTask::EndRendering() {
  SInt64 total = 0;
  const DurationCount* commonest = nullptr;
  for (const DurationCount& d : mDurations) {
    total += d.count;
    if (!commonest || d.count > commonest->count) commonest = &d;
  }
  if (total > 15 && commonest) mResultStandard = StandardForDuration(commonest->duration, mMovie->GetTimeScale());
  return noErr;
}

void* CInterlaceTrackerTask::Run() {
  try {
    ThrowIfOSErr_(BeginRendering());
    double D = 0, T = 0;
    bool goOn = true;
    for (;;) {
      TimeValue next = -1;
      GetMovieNextInterestingTime(mCopy->GetMovie(), kFrameSearch, 1, &kVisual, mCurrentTime, fixed1, &next,
                                  nullptr);
      if (next >= 0) {
        ++mFrames;
        AddDuration(next - mCurrentTime);
      }
      DrawFrame(mCurrentTime);
      Float32 a = 0, b = 0;
      if (mPrevious == nullptr) {
        mPrevious = new CBuffer(*mBuffer, nullptr, true);
      } else {
        CBufferReleaser prevOdd(CBuffer::CreateFromBuffer_Odd(mPrevious));
        CBufferReleaser prevEven(CBuffer::CreateFromBuffer_Even(mPrevious));
        CBufferReleaser curOdd(CBuffer::CreateFromBuffer_Odd(mBuffer));
        CBufferReleaser curEven(CBuffer::CreateFromBuffer_Even(mBuffer));
        ThrowIfNil_(prevOdd.GetBuffer());
        ThrowIfNil_(prevEven.GetBuffer());
        ThrowIfNil_(curOdd.GetBuffer());
        ThrowIfNil_(curEven.GetBuffer());
        Rect rect;
        SectRect(&prevEven.GetBuffer()->GetBounds(), &curOdd.GetBuffer()->GetBounds(), &rect);
        ThrowIfOSErr_(FieldMeasure(prevEven.GetBuffer(), curOdd.GetBuffer(), rect, a));
        SectRect(&curEven.GetBuffer()->GetBounds(), &prevOdd.GetBuffer()->GetBounds(), &rect);
        ThrowIfOSErr_(FieldMeasure(curEven.GetBuffer(), prevOdd.GetBuffer(), rect, b));
        ThrowIfOSErr_(mBuffer->CopyTo(mPrevious, nullptr, nullptr, nullptr, nullptr));
      }
      LThread::Yield();
      const bool atEnd = next < 0;
      if (!atEnd) mCurrentTime = next;
      D += a - b;
      T += a + b;
      if (T > kDecidedTotal) {
        if (mResultMode != kInterlace_Undecided) {
          goOn = false;
        } else {
          const double r = D / T;
          if (std::fabs(r) < 0.01) {
            mResultMode = kInterlace_Progressive;
            goOn = false;
          } else if (r > 0.1) {
            mResultMode = kInterlace_EvenFirst;
            goOn = false;
          } else if (r < -0.1) {
            mResultMode = kInterlace_OddFirst;
            goOn = false;
          } else {
            goOn = true;
            D = T = 0;
          }
        }
      } else if (mResultMode != kInterlace_Undecided) {
        goOn = false;
      }
      if (mFrames < kMinFrames) goOn = true;
      if (atEnd || mCurrentTime >= mRangeStop || !goOn || HasUserCanceled()) break;
    }
    ThrowIfOSErr_(EndRendering());
  } catch (...) {
    mError = OSErrOfCurrent();
  }
  return nullptr;
}

OSErr CInterlaceTrackerTask::FieldMeasure(CBuffer* inSource, CBuffer* inDest, const Rect& inRect,
                                          Float32& outMeasure) {
  outMeasure = 0;
  FieldSums sums;
  const OSErr err = CBuffer::Convert(inSource, inDest, nullptr, &inRect, &inRect, FrameDiff_proc, &sums, nullptr,
                                     nullptr, nullptr);
  if (err != noErr) return err;
  if (sums.bands > 0) outMeasure = sums.sum / static_cast<Float32>(sums.bands);
  return noErr;
}

SInt32 CInterlaceTrackerTask::FrameDiff_proc(void* inTask) {
  auto* t = static_cast<CBufferTask*>(inTask);
  CBuffer* src = t->mSource;
  CBuffer* dst = t->mDest;
  if (!src || !dst) return -1;
  if (t->mMask || src->GetDepth() != kBufferDepth8 || dst->GetDepth() != kBufferDepth8 ||
      src->GetMode() != kBufferModeARGB || dst->GetMode() != kBufferModeARGB)
    return paramErr;
  const Rect& s = t->mSourceBox;
  const Rect& d = t->mDestBox;
  if (s.right - s.left != d.right - d.left || s.bottom - s.top != d.bottom - d.top) return paramErr;
  if (!src->GetData() || !dst->GetData()) return -1;
  const SInt32 width = d.right - d.left;
  const SInt32 rows = std::min(t->mRows, static_cast<SInt32>(d.bottom - d.top) - t->mFirstRow);
  if (rows <= 0) return noErr;
  const SInt32 srcRowBytes = src->GetRowBytes(), dstRowBytes = dst->GetRowBytes();
  Point sp{static_cast<SInt16>(s.top + t->mFirstRow), s.left};
  Point dp{static_cast<SInt16>(d.top + t->mFirstRow), d.left};
  const UInt8* srcBase = reinterpret_cast<const UInt8*>(src->GetDataPtr(&sp));
  const UInt8* dstBase = reinterpret_cast<const UInt8*>(dst->GetDataPtr(&dp));
  if (!srcBase || !dstBase) return -1;

  double bandSum = 0;
  SInt64 pairs = 0;
  for (SInt32 r = 0; r + 1 < rows; ++r) {
    t->SetProgress(static_cast<SInt32>(static_cast<SInt64>(r) * 256 / rows));
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    const UInt8* s0 = srcBase + static_cast<ptrdiff_t>(r) * srcRowBytes;
    const UInt8* d0 = dstBase + static_cast<ptrdiff_t>(r) * dstRowBytes;
    const UInt8* d1 = d0 + dstRowBytes;
    SInt32 rowSum = 0;
    SInt32 c = 0;
    for (; c < width - 2; c += 2) {
      const SInt32 x = 4 * c;
      const SInt32 A = RGB(d0 + x) + RGB(d0 + x + 4) + RGB(d1 + x) + RGB(d1 + x + 4);
      const SInt32 B = RGB(s0 + x) + RGB(s0 + x + 4);
      const SInt32 diff = std::abs(A - 2 * B);
      rowSum += diff > kIgnoredDifference ? diff : 0;
    }
    bandSum += rowSum;
    pairs += c / 2;
  }
  if (pairs > 0) {
    auto* sums = static_cast<FieldSums*>(t->mUserParam);
    // Wait as long as it takes: a sum added outside the region, or dropped,
    // would change the measure.
    MPCriticalRegionID region = t->GetCriticalRegion();
    if (region && MPEnterCriticalRegion(region, kDurationForever) != noErr) return kMPTimeoutErr;
    sums->bands += 1;
    sums->sum += static_cast<Float32>(bandSum / (static_cast<double>(pairs) * kIgnoredDifference));
    if (region) MPExitCriticalRegion(region);
  }
  return noErr;
}

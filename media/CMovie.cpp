#include "media/CMovie.h"

#include <syslog.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "media/UMovies.h"
#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/ui/LView.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UMessage.h"

ProgressProcPtr CMovie::sUniversalProgress = nullptr;

namespace {

const OSType kEyes = VisualMediaCharacteristic;

// Callbacks of the toolbox carry a 32-bit reference: a key into this table.
std::map<SInt32, CMovie*>& Instances() {
  static auto* m = new std::map<SInt32, CMovie*>;
  return *m;
}

SInt32 NewInstanceKey(CMovie* inMovie) {
  static SInt32 next = 1;
  SInt32 key = next++;
  if (next <= 0) next = 1;
  Instances()[key] = inMovie;
  return key;
}

// The fixed-point rate of a percentage, without shifting negative values.
Fixed RateOfPercent(SInt32 inPercent) {
  return static_cast<Fixed>(static_cast<SInt64>(inPercent) * fixed1 / 100);
}

// The first enabled visual track's media hints.
SInt32 DefaultVisualHints(Movie inMovie) {
  OSType eyes = kEyes;
  Track t = GetMovieIndTrackType(inMovie, 1, eyes, movieTrackCharacteristic | movieTrackEnabledOnly);
  if (!t) return 0;
  SInt32 hints = 0;
  if (Media md = GetTrackMedia(t)) GetMediaPlayHints(md, &hints);
  return hints;
}

bool IsFileLocked(const std::string& inPath) {
  struct stat st;
  return stat(inPath.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
}

Rect AtOrigin(Rect r) {
  r.right = static_cast<SInt16>(r.right - r.left);
  r.bottom = static_cast<SInt16>(r.bottom - r.top);
  r.left = r.top = 0;
  return r;
}

}  // namespace

// --- construction ----------------------------------------------------------------------

void CMovie::Preset() {
  mMovie = nullptr;
  mPlayHints = 0;
  mResID = -1;
  mFileRef = 0;
  mLastBroadcastTime = -1;
  mPacingStartTime = 0;
  mPacingStartTick = 0;
  mRatePercent = 100;
  mOwnsMovie = false;
  mPlaying = mQuickTimeDriven = mFrameDrawn = false;
  mDrawnFrameTime = 0;
  mPropertyFlags = 0;
  mOptions = 0;
  mDirty = false;
  mView = nullptr;
  MakeOffscreen();
  mRefCon = NewInstanceKey(this);
}

void CMovie::MakeOffscreen() {
  // A private 32 x 32 world, so the toolbox never draws anywhere by accident.
  mOffscreenMemory = NewPtrClear(32 * 128);
  ThrowIfMemFail_(mOffscreenMemory);
  Rect r = {0, 0, 32, 32};
  OSErr err = QTNewGWorldFromPtr(&mOffscreen, k32ARGBPixelFormat, &r, nullptr, nullptr, 0, mOffscreenMemory, 128);
  if (err != noErr) {
    DisposePtr(mOffscreenMemory);
    mOffscreenMemory = nullptr;
    Throw_(err);
  }
}

CMovie::CMovie() {
  Preset();
  try {
    CGrafPtr savePort;
    GDHandle saveDevice;
    GetGWorld(&savePort, &saveDevice);
    SetGWorld(mOffscreen, nullptr);
    mMovie = NewMovie(newMovieActive);
    SetGWorld(savePort, saveDevice);
    if (!mMovie) Throw_(GetMoviesError() ? GetMoviesError() : memFullErr);
    InitMovie(true);
  } catch (...) {
    Cleanup();
    throw;
  }
}

CMovie::CMovie(CMovie& inOther) : LBroadcaster(), LPeriodical() {
  Preset();
  try {
    mMovie = CopyMovieSelection(inOther.GetMovie());
    if (!mMovie) Throw_(err_NilPointer);
    SetMovieActive(mMovie, true);
    InitMovie(true);
  } catch (...) {
    Cleanup();
    throw;
  }
}

CMovie::CMovie(Movie inMovie, bool inOwns) {
  Preset();
  try {
    if (!inMovie) Throw_(err_NilPointer);
    mMovie = inMovie;
    InitMovie(inOwns);
  } catch (...) {
    mMovie = nullptr;  // not ours to dispose of on failure
    Cleanup();
    throw;
  }
}

namespace {

// A failure to open a movie file, with the text of the movie-file list: the
// first item when the error is one the texts know, else the second.
[[noreturn]] void ThrowMovieFileError(OSErr inErr, SInt16 inKnownItem, SInt16 inUnknownItem) {
  LStr255 name;
  const bool known = UMessage::GetOSErrString(inErr, name);
  Str255 text;
  text[0] = 0;
  try {
    ULocalization::GetString(text, STRx_MovieTexts, known ? inKnownItem : inUnknownItem);
  } catch (...) {
    text[0] = 0;
  }
  // The message says why, unless it says so already.
  LStr255 message(text);
  if (known && message != name) {
    if (message.Length() != 0) message += " ";
    message += name;
  }
  throw LException(inErr, message);
}

}  // namespace

CMovie::CMovie(const FSSpec* inSpec) {
  Preset();
  try {
    if (!inSpec) Throw_(paramErr);
    OSErr err = OpenMovieFile(inSpec, &mFileRef, fsRdWrPerm);
    if (err != noErr) {
      err = OpenMovieFile(inSpec, &mFileRef, fsRdPerm);
      if (err != noErr) {
        mFileRef = 0;
        ThrowMovieFileError(err, 1, 2);
      }
      mPropertyFlags |= kMovieProp_ReadOnly;
    }
    SInt16 resId = 0;
    err = NewMovieFromFile(&mMovie, mFileRef, &resId, nullptr, newMovieActive, nullptr);
    if (err != noErr) {
      resId = movieInDataForkResID;
      err = NewMovieFromDataFork(&mMovie, mFileRef, 0, newMovieActive, nullptr);
    }
    if (err != noErr || !mMovie) ThrowMovieFileError(err ? err : noMovieFound, 3, 4);
    mResID = resId == 0 ? -1 : resId;
    if (IsFileLocked(FSSpecPath(*inSpec))) mPropertyFlags |= kMovieProp_Locked;
    InitMovie(true);
  } catch (...) {
    mOwnsMovie = true;
    Cleanup();
    throw;
  }
}

void CMovie::InitMovie(bool inOwns) {
  mOwnsMovie = inOwns;
  CGrafPtr port = nullptr;
  GetMovieGWorld(mMovie, &port, nullptr);
  if (!port) SetMovieGWorld(mMovie, mOffscreen, nullptr);
  ComputeBounds();
  ::SetMovieBox(mMovie, &mDisplayBounds);
  ::SetMovieProgressProc(mMovie, MovieProgress, mRefCon);
  SetMovieDrawingCompleteProc(mMovie, movieDrawingCallWhenChanged, DrawingComplete, mRefCon);
  SetPlayHints(hintsPlayingEveryFrame | hintsHighQuality | DefaultVisualHints(mMovie), -1);
  Wake();
  StartBroadcasting();
}

// A playing movie, or one that just changed, is tended every 40 ms. Once
// paused and still for a while it is looked at only twice a second, for
// changes made to it through the toolbox directly; whatever changes it
// through this class wakes it at once.
namespace {
constexpr EventTimerInterval kBusyInterval = 0.04;
constexpr EventTimerInterval kQuietInterval = 0.5;
constexpr SInt32 kQuietPasses = 10;
}  // namespace

void CMovie::Wake() {
  mQuietPasses = 0;
  if (!mBusy || !IsRepeating()) {
    mBusy = true;
    StartRepeating(kBusyInterval);
  }
}

CMovie::~CMovie() { Cleanup(); }

void CMovie::Cleanup() {
  StopRepeating();
  Instances().erase(mRefCon);
  if (mOwnsMovie && mMovie) {
    UMovies::DisposeDataRefs(mMovie);
    DisposeMovie(mMovie);
  }
  mMovie = nullptr;
  if (mFileRef) CloseMovieFile(mFileRef);
  mFileRef = 0;
  if (mOffscreen) DisposeGWorld(mOffscreen);
  mOffscreen = nullptr;
  if (mOffscreenMemory) DisposePtr(mOffscreenMemory);
  mOffscreenMemory = nullptr;
}

CMovie* CMovie::FromRefCon(SInt32 inRefCon) {
  auto it = Instances().find(inRefCon);
  return it == Instances().end() ? nullptr : it->second;
}

// --- bounds --------------------------------------------------------------------------------

OSErr CMovie::ComputeBounds() {
  Rect natural;
  GetMovieNaturalBoundsRect(mMovie, &natural);
  mEncodedBounds = mDisplayBounds = AtOrigin(natural);
  OSErr err = GetMoviesError();
  if (err == noErr) {
    Boolean has = false;
    err = static_cast<OSErr>(QTGetMovieProperty(mMovie, kQTPropertyClass_Visual,
                                                kQTVisualPropertyID_HasApertureModeDimensions, sizeof has, &has,
                                                nullptr));
    bool generated = false;
    if (err == noErr && !has) {
      err = GenerateMovieApertureModeDimensions(mMovie);
      generated = err == noErr;
    }
    OSType saved = 0;
    if (err == noErr)
      err = static_cast<OSErr>(QTGetMovieProperty(mMovie, kQTPropertyClass_Visual, kQTVisualPropertyID_ApertureMode,
                                                  sizeof saved, &saved, nullptr));
    if (err == noErr) {
      OSType mode = kQTApertureMode_EncodedPixels;
      QTSetMovieProperty(mMovie, kQTPropertyClass_Visual, kQTVisualPropertyID_ApertureMode, sizeof mode, &mode);
      GetMovieNaturalBoundsRect(mMovie, &natural);
      mEncodedBounds = AtOrigin(natural);
      mode = kQTApertureMode_CleanAperture;
      QTSetMovieProperty(mMovie, kQTPropertyClass_Visual, kQTVisualPropertyID_ApertureMode, sizeof mode, &mode);
      GetMovieNaturalBoundsRect(mMovie, &natural);
      mDisplayBounds = AtOrigin(natural);
      err = static_cast<OSErr>(
          QTSetMovieProperty(mMovie, kQTPropertyClass_Visual, kQTVisualPropertyID_ApertureMode, sizeof saved, &saved));
    }
    if (generated) RemoveMovieApertureModeDimensions(mMovie);
  }
  if (err != noErr) syslog(LOG_NOTICE, "ComputeBounds Error: %d\n", err);
  return err;
}

void CMovie::GetCurrentBounds(Rect& outBounds) const { GetMovieBox(mMovie, &outBounds); }

// --- queries ---------------------------------------------------------------------------------

SInt32 CMovie::GetDuration() const { return GetMovieDuration(mMovie); }
SInt32 CMovie::GetTimeScale() const { return GetMovieTimeScale(mMovie); }
SInt32 CMovie::GetTimeValue() const { return GetMovieTime(mMovie, nullptr); }

void CMovie::GetSelection(SInt32* outStart, SInt32* outEnd) const {
  TimeValue s = 0, d = 0;
  GetMovieSelection(mMovie, &s, &d);
  if (outStart) *outStart = s;
  if (outEnd) *outEnd = s + d;
}

bool CMovie::IsDirty() {
  if (HasMovieChanged(mMovie)) {
    mDirty = true;
    ClearMovieChanged(mMovie);
    BroadcastMessage(msg_MovieChanged, nullptr);
  }
  return mDirty;
}

UInt32 CMovie::GetMovieProperties() {
  UInt32 flags = mPropertyFlags;
  Handle ref = nullptr;
  OSType type = 0;
  if (GetMovieDefaultDataRef(mMovie, &ref, &type) != noErr || !ref) flags |= kMovieProp_NoDataRef;
  if (ref) DisposeHandle(ref);
  bool any = false;
  if (UMovies::AnyVolatileDataRefs(mMovie, any) == noErr && any) flags |= kMovieProp_VolatileData;
  return flags;
}

// --- settings --------------------------------------------------------------------------------

void CMovie::SetPlayHints(SInt32 inValue, SInt32 inMask) {
  SetMoviePlayHints(mMovie, inValue, inMask);
  mPlayHints = (mPlayHints & ~inMask) | (inValue & inMask);
}

void CMovie::SetOptions(UInt32 inValue, UInt32 inMask) { mOptions = (mOptions & ~inMask) | (inValue & inMask); }

void CMovie::SetMovieProgressProc(MovieProgressProcPtr inProc, SInt32 inRefCon) {
  ::SetMovieProgressProc(mMovie, inProc, inRefCon);
}

void CMovie::SetMovieCoverProcs(MovieRgnCoverProcPtr inUncover, MovieRgnCoverProcPtr inCover, SInt32 inRefCon) {
  ::SetMovieCoverProcs(mMovie, inUncover, inCover, inRefCon);
}

void CMovie::SetPlayRate(SInt32 inPercent) {
  Wake();
  mRatePercent = inPercent;
  if (mPlaying && mQuickTimeDriven) {
    SetMovieRate(mMovie, RateOfPercent(inPercent));
    SetMovieVolume(mMovie, inPercent == 100 ? 256 : -256);
  }
  mPacingStartTime = GetMovieTime(mMovie, nullptr);
  mPacingStartTick = TickCount();
}

void CMovie::ClearDirty() {
  ClearMovieChanged(mMovie);
  mDirty = false;
}

void CMovie::HasChanged() {
  Wake();
  mDirty = true;
  ClearMovieChanged(mMovie);
  BroadcastMessage(msg_MovieChanged, nullptr);
}

void CMovie::Refresh(void* inRegion) {
  Wake();
  InvalidateMovieRegion(mMovie, inRegion);
}

void CMovie::SetSelectionStart(SInt32 inTime) {
  Wake();
  TimeValue s = 0, d = 0;
  GetMovieSelection(mMovie, &s, &d);
  SInt64 dur = std::max<SInt64>(0, static_cast<SInt64>(s) + d - inTime);
  SetMovieSelection(mMovie, inTime, static_cast<TimeValue>(std::min<SInt64>(dur, 0x7FFFFFFF)));
  BroadcastMessage(msg_MovieSelectionChanged, this);
}

void CMovie::SetSelectionStop(SInt32 inTime) {
  Wake();
  TimeValue s = 0, d = 0;
  GetMovieSelection(mMovie, &s, &d);
  SetMovieSelection(mMovie, s, std::max<TimeValue>(0, inTime - s));
  BroadcastMessage(msg_MovieSelectionChanged, this);
}

void CMovie::SetGraphicsMode(SInt32 inMode, const RGBColor* inColor) {
  for (SInt32 i = 1; i <= GetMovieTrackCount(mMovie); ++i)
    if (Media md = GetTrackMedia(GetMovieIndTrack(mMovie, i))) MediaSetGraphicsMode(md, inMode, inColor);
}

// --- playback --------------------------------------------------------------------------------

void CMovie::RestartPacing(SInt32 inTime) {
  mPacingStartTime = inTime;
  mPacingStartTick = TickCount();
}

void CMovie::StartPlaying(bool inWithQuickTime) {
  if (mPlaying) return;
  Wake();
  mQuickTimeDriven = inWithQuickTime;
  SInt32 t = GetTimeValue(), d = GetDuration(), s = 0, e = 0;
  GetSelection(&s, &e);
  if ((mOptions & kMovieOption_PlaySelection) && s < e) {
    if (t >= e || t < s) PlayingGotoTime(mRatePercent < 0 ? e : s);
  } else if (!(mOptions & kMovieOption_HoldAtEnd)) {
    if (t >= d) {
      if (mRatePercent > 0) PlayingGotoTime(0);
      else if (t == 0 && mRatePercent < 0) PlayingGotoTime(d);
    } else if (t == 0 && mRatePercent < 0) {
      PlayingGotoTime(d);
    }
  }
  if (inWithQuickTime) {
    StartMovie(mMovie);
    SetMovieRate(mMovie, RateOfPercent(mRatePercent));
    SetMovieVolume(mMovie, mRatePercent == 100 ? 256 : -256);
  }
  mPlaying = true;
  RestartPacing(GetTimeValue());
  BroadcastMessage(msg_MovieStarted, this);
}

void CMovie::StopPlaying() {
  if (!mPlaying) return;
  if (mQuickTimeDriven) StopMovie(mMovie);
  mPlaying = false;
  BroadcastMessage(msg_MovieStopped, this);
}

OSErr CMovie::PlayingGotoTime(SInt32 inTime) {
  if (!mMovie) return invalidMovie;
  Wake();
  SInt32 d = GetDuration();
  if (inTime < 0 || inTime > d) return paramErr;
  if (inTime == GetTimeValue()) return noErr;
  SetMovieTimeValue(mMovie, inTime);
  if (OSErr err = GetMoviesError()) return err;
  if (inTime == d) InvalidateMovieRegion(mMovie, nullptr);
  MovieTask();
  return noErr;
}

OSErr CMovie::GotoTime(SInt32 inTime) {
  OSErr err = PlayingGotoTime(inTime);
  RestartPacing(inTime);
  return err;
}

void CMovie::MovieTask() {
  // The movie draws into its own graphics world. The attached view is
  // focused (and so shown again on the screen) only when a frame was drawn:
  // a paused movie costs no painting. The caller's drawing state comes back
  // afterwards.
  StDrawContextState savedState;
  MoviesTask(mMovie, 0);
  if (mFrameDrawn && mView) mView->FocusDraw();
  SInt32 t = GetTimeValue();
  if (t != mLastBroadcastTime) {
    mLastBroadcastTime = t;
    BroadcastMessage(msg_MovieTimeChanged, this);
  }
  if (mFrameDrawn) {
    mFrameDrawn = false;
    BroadcastMessage(msg_MovieFrameDrawn, &mDrawnFrameTime);
  }
}

OSErr CMovie::DrawingComplete(Movie inMovie, SInt32 inRefCon) {
  if (CMovie* m = FromRefCon(inRefCon)) {
    m->mFrameDrawn = true;
    m->mDrawnFrameTime = GetMovieTime(inMovie, nullptr);
  }
  return noErr;
}

OSErr CMovie::MovieProgress(Movie, SInt16 inMessage, SInt16 inOperation, Fixed inFraction, SInt32) {
  Str255 title;
  title[0] = 0;
  if (inOperation >= 1 && inOperation <= 12) {
    try {
      ULocalization::GetString(title, STRx_MovieTexts, static_cast<SInt16>(inOperation + 4));
    } catch (...) {
      title[0] = 0;
    }
  }
  if (!sUniversalProgress) return noErr;
  return sUniversalProgress(inMessage, inFraction, 0, title);
}

void CMovie::SpendTime(const EventRecord&) {
  const bool changed = HasMovieChanged(mMovie);
  IsDirty();
  SInt32 d = GetDuration();
  SInt32 t = GetTimeValue();
  if (!mPlaying) {
    const bool moved = t != mLastBroadcastTime;
    MovieTask();
    // mFrameDrawn is cleared by MovieTask: a drawn frame shows in the time it broadcast.
    if (changed || moved || mDrawnFrameTime != mLastQuietFrameTime) {
      mLastQuietFrameTime = mDrawnFrameTime;
      Wake();
    } else if (mBusy && ++mQuietPasses >= kQuietPasses) {
      mBusy = false;
      StartRepeating(kQuietInterval);
    }
    return;
  }
  bool loop = (mOptions & kMovieOption_Loop) != 0;
  bool hold = (mOptions & kMovieOption_HoldAtEnd) != 0;
  SInt32 s = 0, e = 0;
  if (mQuickTimeDriven) {
    MovieTask();
    t = GetTimeValue();
    GetSelection(&s, &e);
    if ((mOptions & kMovieOption_PlaySelection) && s < e) {
      if (t < s) {
        if (loop) {
          PlayingGotoTime(e);
          RestartPacing(e);
        } else {
          StopPlaying();
          PlayingGotoTime(s);
        }
      } else if (t > e) {
        if (loop) {
          PlayingGotoTime(s);
          RestartPacing(s);
        } else {
          StopPlaying();
          PlayingGotoTime(e);
        }
      }
    } else if (mRatePercent >= 0 && !hold && t >= d) {
      if (loop) {
        PlayingGotoTime(0);
        StartMovie(mMovie);
        SetMovieRate(mMovie, RateOfPercent(mRatePercent));
        RestartPacing(0);
      } else {
        StopPlaying();
      }
    } else if (mRatePercent < 0 && !hold && t == 0) {
      if (loop) {
        PlayingGotoTime(d);
        SetMovieRate(mMovie, RateOfPercent(mRatePercent));
        RestartPacing(d);
      } else {
        StopPlaying();
      }
    }
    return;
  }
  // Stepped playback: the target time from the clock, then the frame at or before it.
  UInt32 elapsed = TickCount() - mPacingStartTick;
  SInt32 target = static_cast<SInt32>(std::floor(
      mPacingStartTime + static_cast<double>(mRatePercent) * elapsed * 0.01 * GetTimeScale() / 60.0));
  SInt32 f = t;
  if (mRatePercent >= 0) {
    for (;;) {
      SInt32 next = 0;
      if (!GetNextInterestingTime(nextTimeMediaSample, 1, &kEyes, f, &next, 1)) {
        f = d + 1;
        break;
      }
      if (next >= target) break;
      f = next;
    }
  } else {
    for (;;) {
      SInt32 prev = 0;
      if (!GetPreviousInterestingTime(nextTimeMediaSample, 1, &kEyes, f, &prev, 1)) {
        f = -1;
        break;
      }
      if (prev <= target) break;
      f = prev;
    }
  }
  GetSelection(&s, &e);
  bool show = false;
  if ((mOptions & kMovieOption_PlaySelection) && s < e) {
    if (f >= s && f <= e) {
      show = true;
    } else if (f < s) {
      if (loop) {
        PlayingGotoTime(e);
        RestartPacing(e);
      } else {
        PlayingGotoTime(s);
        StopPlaying();
      }
    } else {
      if (loop) {
        PlayingGotoTime(s);
        RestartPacing(s);
      } else {
        PlayingGotoTime(e);
        StopPlaying();
      }
    }
  } else if (f > d) {
    if (hold) {
      PlayingGotoTime(d);
    } else if (loop) {
      PlayingGotoTime(0);
      RestartPacing(0);
    } else {
      PlayingGotoTime(d);
      StopPlaying();
    }
  } else if (f >= 0) {
    show = true;
  } else if (hold) {
    PlayingGotoTime(0);
  } else if (!loop) {
    PlayingGotoTime(0);
    StopPlaying();
  } else {
    PlayingGotoTime(d);
    RestartPacing(d);
  }
  if (show && f != t) PlayingGotoTime(f);
}

bool CMovie::GetNextInterestingTime(SInt16 inFlags, SInt16 inTypeCount, const OSType* inTypes, SInt32 inTime,
                                    SInt32* outTime, SInt32 inCount) {
  bool found = false;
  TimeValue t = inTime;
  for (SInt32 i = 0; i < inCount; ++i) {
    TimeValue next = -1;
    GetMovieNextInterestingTime(mMovie, inFlags, inTypeCount, inTypes, t, 0, &next, nullptr);
    if (next < 0) break;
    t = next;
    found = true;
  }
  if (outTime) *outTime = t;
  return found;
}

bool CMovie::GetPreviousInterestingTime(SInt16 inFlags, SInt16 inTypeCount, const OSType* inTypes, SInt32 inTime,
                                        SInt32* outTime, SInt32 inCount) {
  bool found = false;
  TimeValue t = inTime;
  for (SInt32 i = 0; i < inCount; ++i) {
    TimeValue prev = -1;
    GetMovieNextInterestingTime(mMovie, inFlags, inTypeCount, inTypes, t, -fixed1, &prev, nullptr);
    if (prev < 0) break;
    t = prev;
    found = true;
  }
  if (outTime) *outTime = t;
  return found;
}

bool CMovie::GetValidFrameTime(SInt16 inFlags, SInt16 inTypeCount, const OSType* inTypes, SInt32* ioTime) {
  if (!ioTime) return false;
  SInt32 time = *ioTime;
  SInt32 d = GetDuration();
  if (time >= d) time = d - 1;
  TimeValue back = -1, result = 0;
  GetMovieNextInterestingTime(mMovie, inFlags, inTypeCount, inTypes, time, -fixed1, &back, nullptr);
  if (back >= 0) {
    TimeValue fwd = -1;
    GetMovieNextInterestingTime(mMovie, inFlags, inTypeCount, inTypes, back, 0, &fwd, nullptr);
    result = fwd;
  }
  if (result != *ioTime) {
    *ioTime = result;
    return false;
  }
  return true;
}

// --- interlace -----------------------------------------------------------------------------

void CMovie::InterlaceModeForName(ConstStringPtr inName, QInterlaceMode& outMode, QInterlaceDelay& outDelay) {
  std::string name = inName ? std::string(reinterpret_cast<const char*>(inName + 1), inName[0]) : std::string();
  struct Row {
    const char* pattern;
    QInterlaceMode mode;
    QInterlaceDelay delay;
  };
  static const Row kRows[] = {{"PAL", kInterlace_EvenFirst, kInterlaceDelay_PAL},
                              {"NTSC", kInterlace_EvenFirst, kInterlaceDelay_NTSC},
                              {"720p", kInterlace_Progressive, kInterlaceDelay_None},
                              {"1080p", kInterlace_Progressive, kInterlaceDelay_None},
                              {"1080i25", kInterlace_OddFirst, kInterlaceDelay_PAL},
                              {"1080i60", kInterlace_OddFirst, kInterlaceDelay_NTSC}};
  for (const Row& r : kRows)
    if (name.find(r.pattern) != std::string::npos) {
      outMode = r.mode;
      outDelay = r.delay;
      return;
    }
  outMode = kInterlace_Undecided;
  outDelay = kInterlaceDelay_None;
}

void CMovie::GetInterlaceMode(QInterlaceMode& outMode, QInterlaceDelay& outDelay) {
  Str255 name;
  name[0] = 0;
  Media video = nullptr;
  for (SInt32 i = 1; i <= GetMovieTrackCount(mMovie); ++i) {
    Media md = GetTrackMedia(GetMovieIndTrack(mMovie, i));
    OSType type = 0;
    if (md) GetMediaHandlerDescription(md, &type, nullptr, nullptr);
    if (type != VideoMediaType || GetMediaSampleDescriptionCount(md) < 1) continue;
    video = md;
    Handle h = NewHandle(0);
    GetMediaSampleDescription(md, 1, reinterpret_cast<SampleDescriptionHandle>(h));
    if (GetMoviesError() == noErr && GetHandleSize(h) >= static_cast<SInt32>(sizeof(ImageDescription))) {
      const ImageDescription* d = reinterpret_cast<const ImageDescription*>(*h);
      size_t n = std::min<size_t>(d->name[0], 31);
      name[0] = static_cast<unsigned char>(n);
      std::memcpy(name + 1, d->name + 1, n);
    }
    DisposeHandle(h);
  }
  InterlaceModeForName(name, outMode, outDelay);
  if (outMode == kInterlace_Undecided && video) StatedInterlaceMode(video, outMode, outDelay);
}

void CMovie::StatedInterlaceMode(Media inVideo, QInterlaceMode& outMode, QInterlaceDelay& outDelay) {
  // The compressor's name said nothing: the field order the stream states
  // decides, with the video standard of its frame rate for interlaced video.
  const SInt32 order = GetMediaStatedFieldOrder(inVideo);
  if (order == 0) {
    outMode = kInterlace_Progressive;
    outDelay = kInterlaceDelay_None;
    return;
  }
  if (order != 3 && order != 4) return;
  const SInt32 samples = GetMediaSampleCount(inVideo);
  const TimeScale scale = GetMediaTimeScale(inVideo);
  QInterlaceDelay delay = kInterlaceDelay_None;
  if (samples > 0 && scale > 0) {
    const double ms = static_cast<double>(GetMediaDuration(inVideo)) * 1000.0 / scale / samples;
    if (std::abs(ms - 40.0) < 2.0)
      delay = kInterlaceDelay_PAL;
    else if (std::abs(ms - 33.0) < 2.0)
      delay = kInterlaceDelay_NTSC;
  }
  outMode = order == 3 ? kInterlace_OddFirst : kInterlace_EvenFirst;
  outDelay = delay;
}

// --- saving ------------------------------------------------------------------------------

OSErr CMovie::Save(const FSSpec* inSpec, bool inAsReference) {
  if (!inSpec) return paramErr;
  OSErr err = noErr;
  if (!inAsReference) {
    // The toolbox writes a new file and renames it over the target only when
    // complete: on failure the target (possibly this movie's own source) is
    // left as it was, so nothing is deleted here.
    Movie flat = FlattenMovieData(mMovie, flattenAddMovieToDataFork, inSpec, kTremblorixFileCreator, smSystemScript,
                                  createMovieFileDeleteCurFile | createMovieFileDontCreateMovie);
    if (flat) DisposeMovie(flat);
    err = GetMoviesError();
  } else {
    SInt16 ref = 0;
    err = CreateMovieFile(inSpec, kTremblorixFileCreator, smSystemScript,
                          createMovieFileDeleteCurFile | createMovieFileDontCreateMovie, &ref, nullptr);
    if (err == noErr) {
      SInt16 resId = 0;
      err = AddMovieResource(mMovie, ref, &resId, nullptr);
      CloseMovieFile(ref);
    }
  }
  if (err == noErr) ClearDirty();
  return err;
}

OSErr CMovie::UpdateFile() {
  if (!mFileRef) return -1;
  OSErr err = UpdateMovieResource(mMovie, mFileRef, mResID, nullptr);
  if (err == noErr) ClearDirty();
  return err;
}

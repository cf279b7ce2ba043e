// One movie of the program: it creates, opens or adopts the movie, knows its
// encoded and display bounds, plays it through the toolbox or in its own
// paced steps (one step per 0.04 s on the main thread), keeps the selection,
// tells listeners about time changes, drawn frames, selection changes, start
// and stop of playback and edits, and saves the movie. Main thread only.
#pragma once

#include "media/MotionSettings.h"
#include "platform/files/Files.h"
#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LPeriodical.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"
#include "toolkit/UProgress.h"

class LView;

// Which field(s) an operation works on: 1 whole frame, 2 odd field (rows with
// an even vertical coordinate), 3 even field; the renderer adds 4 to 6.
typedef SInt32 EFieldMode;
constexpr EFieldMode kFieldMode_Frame = 1;
constexpr EFieldMode kFieldMode_OddField = 2;
constexpr EFieldMode kFieldMode_EvenField = 3;

// The video standard of the field timing: 0 none, 1 25 Hz family, 2 30 Hz family.
typedef SInt32 QInterlaceDelay;
constexpr QInterlaceDelay kInterlaceDelay_None = 0;
constexpr QInterlaceDelay kInterlaceDelay_PAL = 1;
constexpr QInterlaceDelay kInterlaceDelay_NTSC = 2;

// Messages broadcast by a movie.
constexpr MessageT msg_MovieTimeChanged = 1000;      // the CMovie
constexpr MessageT msg_MovieFrameDrawn = 1001;       // address of the frame's 64-bit movie time
constexpr MessageT msg_MovieSelectionChanged = 1002; // the CMovie
constexpr MessageT msg_MovieStarted = 1010;          // the CMovie
constexpr MessageT msg_MovieStopped = 1011;          // the CMovie
constexpr MessageT msg_MovieChanged = 1012;          // nil

// Property flags.
constexpr UInt32 kMovieProp_ReadOnly = 0x1;
constexpr UInt32 kMovieProp_NoDataRef = 0x2;
constexpr UInt32 kMovieProp_VolatileData = 0x4;
constexpr UInt32 kMovieProp_Locked = 0x8;

// Options.
constexpr UInt32 kMovieOption_PlaySelection = 0x1;
constexpr UInt32 kMovieOption_Loop = 0x2;
constexpr UInt32 kMovieOption_HoldAtEnd = 0x100;

// The string list of the movie's texts.
constexpr SInt16 STRx_MovieTexts = 5009;

class CMovie : public LBroadcaster, public LPeriodical {
 public:
  CMovie();
  explicit CMovie(CMovie& inOther);
  CMovie(Movie inMovie, bool inOwns);
  explicit CMovie(const FSSpec* inSpec);
  ~CMovie() override;
  CMovie(const CMovie&) = delete;
  CMovie& operator=(const CMovie&) = delete;

  void SpendTime(const EventRecord& inMacEvent) override;
  virtual bool GetNextInterestingTime(SInt16 inFlags, SInt16 inTypeCount, const OSType* inTypes, SInt32 inTime,
                                      SInt32* outTime, SInt32 inCount);
  virtual bool GetPreviousInterestingTime(SInt16 inFlags, SInt16 inTypeCount, const OSType* inTypes, SInt32 inTime,
                                          SInt32* outTime, SInt32 inCount);
  virtual SInt32 DoSettingsDialog() { return 0; }

  // Queries.
  Movie GetMovie() const { return mMovie; }
  SInt32 GetDuration() const;
  SInt32 GetTimeScale() const;
  SInt32 GetTimeValue() const;
  void GetSelection(SInt32* outStart, SInt32* outEnd) const;
  void GetEncodedBounds(Rect& outBounds) const { outBounds = mEncodedBounds; }
  void GetDisplayBounds(Rect& outBounds) const { outBounds = mDisplayBounds; }
  void GetCurrentBounds(Rect& outBounds) const;
  bool IsDirty();
  UInt32 GetMovieProperties();
  SInt16 GetResourceID() const { return mResID; }
  SInt16 GetFileRefNum() const { return mFileRef; }
  bool IsPlaying() const { return mPlaying; }
  bool IsQuickTimeDriven() const { return mQuickTimeDriven; }
  SInt32 GetPlayRate() const { return mRatePercent; }
  SInt32 GetPlayHints() const { return mPlayHints; }
  UInt32 GetOptions() const { return mOptions; }
  LView* GetView() const { return mView; }
  void SetView(LView* inView) { mView = inView; }

  // Settings.
  void SetPlayHints(SInt32 inValue, SInt32 inMask);
  void SetOptions(UInt32 inValue, UInt32 inMask);
  void SetMovieProgressProc(MovieProgressProcPtr inProc, SInt32 inRefCon);
  void SetMovieCoverProcs(MovieRgnCoverProcPtr inUncover, MovieRgnCoverProcPtr inCover, SInt32 inRefCon);
  void SetPlayRate(SInt32 inPercent);
  void ClearDirty();
  void HasChanged();
  void Refresh(void* inRegion = nullptr);
  void SetSelectionStart(SInt32 inTime);
  void SetSelectionStop(SInt32 inTime);

  // Playback and position; OSErrs, never thrown.
  void StartPlaying(bool inWithQuickTime);
  void StopPlaying();
  OSErr GotoTime(SInt32 inTime);
  OSErr PlayingGotoTime(SInt32 inTime);
  void MovieTask();
  bool GetValidFrameTime(SInt16 inFlags, SInt16 inTypeCount, const OSType* inTypes, SInt32* ioTime);

  // The interlace mode guessed from the compressor name of the video.
  void GetInterlaceMode(QInterlaceMode& outMode, QInterlaceDelay& outDelay);
  static void InterlaceModeForName(ConstStringPtr inName, QInterlaceMode& outMode, QInterlaceDelay& outDelay);
  // The interlace mode (and, for interlaced video, the standard of its frame
  // rate) that a video media's stream states; unchanged when it states none.
  static void StatedInterlaceMode(Media inVideo, QInterlaceMode& outMode, QInterlaceDelay& outDelay);

  // Saving.
  OSErr Save(const FSSpec* inSpec, bool inAsReference);
  OSErr UpdateFile();

  OSErr ComputeBounds();
  void SetGraphicsMode(SInt32 inMode, const RGBColor* inColor);

  // The progress procedure movie operations report to (the program's universal one).
  static void SetUniversalProgressProc(ProgressProcPtr inProc) { sUniversalProgress = inProc; }
  static OSErr MovieProgress(Movie inMovie, SInt16 inMessage, SInt16 inOperation, Fixed inFraction, SInt32 inRefCon);

 protected:
  void Preset();
  // Lets go of the movie, its file and the offscreen (destruction and failed construction).
  void Cleanup();
  void InitMovie(bool inOwns);
  // Tends the movie at the busy rate again (see SpendTime).
  void Wake();
  void MakeOffscreen();
  void RestartPacing(SInt32 inTime);
  static OSErr DrawingComplete(Movie inMovie, SInt32 inRefCon);
  static CMovie* FromRefCon(SInt32 inRefCon);

  Movie mMovie = nullptr;
  SInt32 mPlayHints = 0;
  SInt16 mResID = -1;
  SInt16 mFileRef = 0;
  SInt32 mLastBroadcastTime = -1;
  SInt32 mPacingStartTime = 0;
  UInt32 mPacingStartTick = 0;
  SInt32 mRatePercent = 100;
  bool mOwnsMovie = false;
  bool mPlaying = false;
  bool mQuickTimeDriven = false;
  bool mFrameDrawn = false;
  TimeValue64 mDrawnFrameTime = 0;
  UInt32 mPropertyFlags = 0;
  UInt32 mOptions = 0;
  Rect mEncodedBounds = {0, 0, 0, 0};
  Rect mDisplayBounds = {0, 0, 0, 0};
  bool mDirty = false;
  bool mBusy = false;        // tended at the busy rate
  SInt32 mQuietPasses = 0;   // paused passes in a row that changed nothing
  TimeValue64 mLastQuietFrameTime = -1;
  LView* mView = nullptr;
  GWorldPtr mOffscreen = nullptr;
  Ptr mOffscreenMemory = nullptr;
  SInt32 mRefCon = 0;  // this movie's key for the toolbox's callbacks

  static ProgressProcPtr sUniversalProgress;
};

// The worker task of one motion analysis. It steps a private copy of the
// document's movie through every video frame of the analysed range (the
// selection, or the whole movie), hands each frame, or each of its two
// fields in field order, to a motion tracker, and at the end stores the
// tracker's records in the document's movie as a new motion-data track
// (layer 0x3000, one 64-byte big-endian sample per frame or field pair, the
// track offset at the range start) with its 'Trbx' settings item, as one
// undoable edit posted to the document. It yields after the first field of
// each frame and whenever 6 ticks have passed since its last yield; its end
// message is 300.
#pragma once

#include "media/CMovieTask.h"
#include "motion/CMotionTracker.h"
#include "platform/framework/LListener.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"

class CBuffer;
class CMovieFrameAhead;
class LDocumentAlertSheet;

// The motion analysis texts.
constexpr SInt16 STRx_MotionAnalysis = 5008;
// The reply message of the cancel question.
constexpr MessageT msg_CancelAnalysisReply = 250;
constexpr OSType kReplyStop = 'not!';
constexpr OSType kReplyContinue = 'ok  ';

class CMotionTrackerTask : public CMovieTask, public LListener {
 public:
  // Takes ownership of the tracker when construction succeeds. A missing
  // movie or tracker throws 'nilP'.
  CMotionTrackerTask(CMovieTaskDocument* inDocument, CMotionTracker* inTracker, Rect inRegionOfInterest);
  // Deletes the tracker and the movie copy; when nothing was stored returns
  // the movie to its state at construction; the base then sends 300.
  ~CMotionTrackerTask() override;

  // Asks the user to confirm (an alert with Continue and Stop): an alert
  // sheet on the progress sheet's window, the task's thread held until the
  // answer; without such a window an application-modal alert. Stop sets
  // the cancel flag and removes the progress sheet.
  void UserCanceled() override;
  void ListenToMessage(MessageT inMessage, void* ioParam) override;

  OSErr BeginTrackMotion();
  OSErr EndTrackMotion(bool inStore);

  // The procedure of the progress sheet: -10 built, -12 every second, 901 Cancel.
  SInt32 ProgressSheetMessage(SInt32 inMessage);
  // The tracker's progress procedure: yields the task's thread once.
  static SInt16 ProgressProc(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon, unsigned char* inText);

  // The progress bar's value, 0 to 256 (64-bit products: long movies at
  // large time scales stay exact).
  static SInt32 ProgressValue(SInt32 inStart, SInt32 inStop, SInt32 inCurrent);
  // The remaining seconds estimated from the ticks elapsed since the start,
  // or -1 while no progress has been made (nothing to estimate from).
  static double RemainingSeconds(UInt32 inElapsedTicks, SInt32 inStart, SInt32 inStop, SInt32 inCurrent);

  // Adds a motion-data track of the records (at least 2; in field modes 3
  // and 4 taken in pairs) to the movie, at the offset, with its settings
  // item; on failure the movie keeps no partial track.
  static OSErr WriteMotionDataTrack(Movie inMovie, const Rect& inBounds, TArray<DiffMotionData>& inRecords,
                                    SInt32 inFieldMode, UInt32 inOptions, SInt32 inStandard, SInt32 inOffset,
                                    Track* outTrack);

  SInt32 GetRangeStart() const { return mRangeStart; }
  SInt32 GetRangeStop() const { return mRangeStop; }
  SInt32 GetCurrentTime() const { return mCurrentTime; }
  // The motion-data track stored (nil until stored).
  Track GetStoredTrack() const { return mStoredTrack; }
  CTaskProgressView* GetProgressView() const { return mProgress; }

 protected:
  void* Run() override;
  // Stops drawing ahead (the copy is idle afterwards).
  void StopDrawingAhead();
  OSErr TrackFrame(SInt32 inDuration);
  void StoreRecords(TArray<DiffMotionData>& inRecords);
  // The cancel question was answered (or went): the thread goes on.
  void ResumeAfterQuestion();

  CMotionTracker* mTracker;
  CMovie* mCopy = nullptr;
  // Draws the frames of the range ahead of the tracker on a thread of its
  // own; the tracker reads its view, which shows the frame being measured.
  CMovieFrameAhead* mAhead = nullptr;
  CBuffer* mBuffer = nullptr;
  Rect mRegionOfInterest;
  SInt32 mCurrentTime = 0;
  SInt32 mRangeStart = 0;
  SInt32 mRangeStop = 0;
  SInt32 mFieldMode = 2;
  MovieEditState mEditState = nullptr;
  // Whether the movie had unsaved changes when the analysis began.
  bool mChangedAtStart = false;
  UInt32 mLastUpdateTick = 0;
  UInt32 mLastYieldTick = 0;
  CTaskProgressView* mProgress = nullptr;
  Track mStoredTrack = nullptr;
  LDocumentAlertSheet* mCancelQuestion = nullptr;  // the cancel question while it is up
  bool mHeldForQuestion = false;                   // the thread waits for its answer
};

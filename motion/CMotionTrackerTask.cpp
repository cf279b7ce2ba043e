#include "motion/CMotionTrackerTask.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "media/CBuffer.h"
#include "media/CMovie.h"
#include "media/CMovieAction.h"
#include "media/CMovieFrameAhead.h"
#include "media/CMovieTrack.h"
#include "media/MotionSettings.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "motion/CTaskProgressView.h"
#include "platform/base/Clock.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "platform/framework/LStr255.h"
#include "platform/ui/Alerts.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LDocumentAlertSheet.h"
#include "toolkit/LTagWriter.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/UMessage.h"
#include "toolkit/ULocalization.h"

namespace {

const OSType kVisual = VisualMediaCharacteristic;
constexpr SInt16 kFrameSearch = nextTimeMediaSample;
constexpr SInt32 kYieldTicks = 6;
constexpr SInt32 kUpdateTicks = 60;
constexpr OSType kMotionMediaType = 'twen';
constexpr OSType kMotionSettingsType = 'Trbx';

// Handles that go with the scope.
struct StHandle {
  Handle h;
  explicit StHandle(SInt32 inSize) : h(NewHandleClear(inSize)) { ThrowIfNil_(h); }
  ~StHandle() { DisposeHandle(h); }
  StHandle(const StHandle&) = delete;
  StHandle& operator=(const StHandle&) = delete;
};

}  // namespace

CMotionTrackerTask::CMotionTrackerTask(CMovieTaskDocument* inDocument, CMotionTracker* inTracker,
                                       Rect inRegionOfInterest)
    : CMovieTask(inDocument), mTracker(inTracker), mRegionOfInterest(inRegionOfInterest) {
  ThrowIfNil_(inTracker);
  Movie movie = mMovie->GetMovie();
  ThrowIfNil_(movie);
  try {
    mFieldMode = mDocument->GetAnalysisFieldMode();
    mChangedAtStart = HasMovieChanged(movie);
    mEditState = NewMovieEditState(movie);
    SInt32 start = 0, stop = 0;
    mMovie->GetSelection(&start, &stop);
    // The copy holds the whole movie; the user's selection comes back.
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
    // Only the analysis draws the copy: the event loop leaves it alone.
    mCopy->StopRepeating();
    mCopy->GetValidFrameTime(kFrameSearch, 1, &kVisual, &start);
    // A selection that runs to the end has no frame time after it: it ends
    // with the movie.
    if (stop >= mCopy->GetDuration())
      stop = mCopy->GetDuration();
    else
      mCopy->GetValidFrameTime(kFrameSearch, 1, &kVisual, &stop);
    if (stop < 0) stop = mCopy->GetDuration();
    if (stop <= start) {
      start = 0;
      stop = mCopy->GetDuration();
    }
    mRangeStart = start;
    mRangeStop = stop;
    mCurrentTime = start;
    mLastUpdateTick = mLastYieldTick = TickCount();
    SetEndMessage(msg_MotionAnalysisEnded);
  } catch (...) {
    // The caller keeps the tracker when the task cannot be made.
    mTracker = nullptr;
    delete mCopy;
    mCopy = nullptr;
    if (mEditState) DisposeMovieEditState(mEditState);
    mEditState = nullptr;
    throw;
  }
}

CMotionTrackerTask::~CMotionTrackerTask() {
  delete mTracker;
  mTracker = nullptr;
  StopDrawingAhead();
  delete mCopy;
  if (mEditState) {
    // Nothing was stored: the movie returns to its state at the start.
    if (mMovie && mMovie->GetMovie()) {
      Movie movie = mMovie->GetMovie();
      UseMovieEditState(movie, mEditState);
      // Put back as it was, the movie is no more changed than before.
      if (!mChangedAtStart) ClearMovieChanged(movie);
    }
    DisposeMovieEditState(mEditState);
  }
  if (LDocumentAlertSheet* question = mCancelQuestion) {
    // The analysis ended under its cancel question: the question goes too.
    mCancelQuestion = nullptr;
    question->RemoveListener(this);
    question->Release();
  }
  if (mProgress) mProgress->Remove();
  delete mProgress;
  if (mError != noErr && mError != userCanceledErr) {
    Str255 text;
    ULocalization::GetString(text, STRx_MotionAnalysis, 1);
    UMessage::StopAlert(text, mError);
  }
  BroadcastEndMessage();
}

// ---------------------------------------------------------------------------
// The analysis

OSErr CMotionTrackerTask::BeginTrackMotion() {
  Rect bounds;
  mCopy->GetEncodedBounds(bounds);
  OffsetRect(&bounds, static_cast<SInt16>(-bounds.left), static_cast<SInt16>(-bounds.top));
  Movie copy = mCopy->GetMovie();
  SetMovieBox(copy, &bounds);
  // The analysis draws in high quality, both fields, not deinterlaced.
  mCopy->SetPlayHints(hintsHighQuality, kDrawingHintsMask);
  // Decoding starts at once, beside the tracker's own set-up.
  mAhead = new CMovieFrameAhead(copy, bounds, mRangeStart, mRangeStop);
  mBuffer = mAhead->GetView();
  mBuffer->Retain();

  ThrowIfOSErr_(mTracker->SetAccuracy(kTrackingAccuracyMax));
  ThrowIfOSErr_(mTracker->BeginTracking(mBuffer, mRegionOfInterest, nullptr, nullptr));

  mProgress = mDocument->NewProgressSheet(this);
  if (mProgress) ProgressSheetMessage(-10);
  return noErr;
}

void CMotionTrackerTask::StopDrawingAhead() {
  // The tracker must not read the view once its frames are gone.
  if (mTracker && mTracker->IsTracking()) mTracker->EndTracking();
  if (mBuffer) mBuffer->Release();
  mBuffer = nullptr;
  delete mAhead;
  mAhead = nullptr;
}

OSErr CMotionTrackerTask::TrackFrame(SInt32 inDuration) {
  ETrackerFieldMode modes[2];
  const SInt32 calls = TrackerFieldModesFor(static_cast<EAnalysisFieldMode>(mFieldMode), modes);
  if (calls == 0) return paramErr;
  OSErr err = mTracker->ProcessFrame(inDuration, modes[0], ProgressProc, this);
  if (calls == 2) {
    LThread::Yield();
    mLastYieldTick = TickCount();
    if (err == noErr) err = mTracker->ProcessFrame(inDuration, modes[1], ProgressProc, this);
  }
  return err;
}

void* CMotionTrackerTask::Run() {
  try {
    ThrowIfOSErr_(BeginTrackMotion());
    CMovieFrameAhead::Frame frame;
    // The frames end with the range; the last one taken ends the analysis.
    while (mAhead->Take(frame)) {
      mCurrentTime = frame.time;
      const SInt32 next = frame.next;
      const SInt32 duration = std::max<SInt32>(1, next >= 0 ? next - mCurrentTime : mRangeStop - mCurrentTime);
      if (const OSErr err = TrackFrame(duration); err != noErr) Throw_(err);
      if (TickCount() - mLastYieldTick > static_cast<UInt32>(kYieldTicks)) {
        LThread::Yield();
        mLastYieldTick = TickCount();
      }
      if (next < 0 || next >= mRangeStop || HasUserCanceled()) {
        if (next >= 0) mCurrentTime = next;
        ThrowIfOSErr_(EndTrackMotion(!HasUserCanceled()));
        StopDrawingAhead();
        return nullptr;
      }
    }
    ThrowIfOSErr_(EndTrackMotion(!HasUserCanceled()));
  } catch (...) {
    mError = OSErrOfCurrent();
  }
  if (mTracker->IsTracking()) mTracker->EndTracking();
  StopDrawingAhead();
  return nullptr;
}

OSErr CMotionTrackerTask::EndTrackMotion(bool inStore) {
  mTracker->EndTracking();
  TArray<DiffMotionData>& records = mTracker->GetMotionDataArray();
  if (!inStore || records.GetCount() < 2) return noErr;
  StoreRecords(records);
  return noErr;
}

void CMotionTrackerTask::StoreRecords(TArray<DiffMotionData>& inRecords) {
  Rect bounds;
  mMovie->GetEncodedBounds(bounds);
  // The new measurement replaces the motion data of the range it measured:
  // older motion-data tracks lose what lies inside the range (a track inside
  // it goes, one reaching into it is cut back, one spanning it is split in
  // two). The edit state taken at the start holds them, so one undo brings
  // them back as they were.
  Movie movie = mMovie->GetMovie();
  const SInt32 rangeStop = std::max(mRangeStop, mRangeStart + 1);
  for (SInt32 i = GetMovieTrackCount(movie); i >= 1; --i) {
    Track old = GetMovieIndTrack(movie, i);
    if (!old || GetTrackLayer(old) != kMotionTrackLayer) continue;
    Media media = GetTrackMedia(old);
    OSType type = 0;
    if (media) GetMediaHandlerDescription(media, &type, nullptr, nullptr);
    if (type != kMotionMediaType) continue;
    const SInt32 start = GetTrackOffset(old);
    const SInt32 end = GetTrackDuration(old);  // the offset counts in a track's duration
    if (end <= mRangeStart || start >= rangeStop) continue;
    if (start >= mRangeStart && end <= rangeStop) {
      DisposeMovieTrack(old);
      continue;
    }
    if (end > rangeStop && start < mRangeStart) {
      // The part after the range becomes a track of its own, with the same settings.
      Fixed width = 0, height = 0;
      GetTrackDimensions(old, &width, &height);
      Track tail = NewMovieTrack(movie, width, height, 0);
      ThrowIfNil_(tail);
      OSErr err = InsertTrackSegment(old, tail, rangeStop, end - rangeStop, 0);
      StHandle settings(0);
      if (err == noErr && GetUserData(GetTrackUserData(old), settings.h, kMotionSettingsType, 1) == noErr)
        err = AddUserData(GetTrackUserData(tail), settings.h, kMotionSettingsType);
      if (err != noErr) {
        DisposeMovieTrack(tail);
        Throw_(err);
      }
      SetTrackOffset(tail, rangeStop);
      SetTrackLayer(tail, kMotionTrackLayer);
      SetTrackEnabled(tail, GetTrackEnabled(old));
    }
    if (start < mRangeStart) {
      ThrowIfOSErr_(DeleteTrackSegment(old, mRangeStart, end - mRangeStart));
    } else {
      // Starts inside, ends after: what follows the range stays where it was.
      ThrowIfOSErr_(DeleteTrackSegment(old, start, rangeStop - start));
      SetTrackOffset(old, rangeStop);
    }
  }
  Track track = nullptr;
  ThrowIfOSErr_(WriteMotionDataTrack(mMovie->GetMovie(), bounds, inRecords, mFieldMode, mTracker->GetOptions(),
                                     mDocument->GetInterlaceStandard(), mRangeStart, &track));
  mStoredTrack = track;
  // The edit state taken at the start goes with the action from here on.
  auto* action = new CMovieAction(mMovie, mEditState, STRx_MovieEdits, kMovieEditMotionData);
  mEditState = nullptr;
  mDocument->PostAction(action);
}

OSErr CMotionTrackerTask::WriteMotionDataTrack(Movie inMovie, const Rect& inBounds, TArray<DiffMotionData>& inRecords,
                                               SInt32 inFieldMode, UInt32 inOptions, SInt32 inStandard,
                                               SInt32 inOffset, Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  Track track = nullptr;
  try {
    ThrowIfNil_(inMovie);
    if (inRecords.GetCount() < 2) Throw_(paramErr);
    SInt32 scale = GetMovieTimeScale(inMovie);
    const bool fields = IsFieldInterlaced(inFieldMode);
    auto builder = std::make_unique<CMovieTrackMedia>(inMovie, inBounds, kMotionMediaType, &scale);
    track = builder->GetTrack();
    ThrowIfNil_(builder->GetMedia());
    StHandle desc(16);
    reinterpret_cast<SampleDescription*>(*desc.h)->descSize = 16;
    reinterpret_cast<SampleDescription*>(*desc.h)->dataFormat = static_cast<SInt32>(kMotionMediaType);
    StHandle sample(static_cast<SInt32>(kDiffMotionDataSize));
    auto append = [&](const DiffMotionData& inRecord) {
      DiffMotionDataToSample(inRecord, *sample.h);
      const OSErr err = builder->AddSample(inRecord.duration, sample.h, static_cast<SInt32>(kDiffMotionDataSize), 0,
                                           reinterpret_cast<SampleDescriptionHandle>(desc.h), 0);
      if (err != noErr) {
        // The builder takes its track out of the movie again.
        builder->SetInsertMediaIntoTrack(false);
        track = nullptr;
        Throw_(err);
      }
    };
    const SInt32 count = inRecords.GetCount();
    if (!fields) {
      for (SInt32 i = 1; i <= count; ++i) append(inRecords[i]);
    } else {
      // Records come in pairs, first field then second; a last record
      // without its partner is left out.
      for (SInt32 i = 1; i + 1 <= count; i += 2) {
        const DiffMotionData& first = inRecords[i];
        const DiffMotionData& second = inRecords[i + 1];
        if (first.duration <= 0) continue;
        DiffMotionData pair = first;
        pair.options = first.options | kMotionOptionFieldPair;
        pair.quality = first.quality + second.quality;
        pair.xShift = first.xShift + second.xShift;
        pair.yShift = first.yShift + second.yShift;
        pair.rotation = first.rotation + second.rotation;
        pair.scale = first.scale * second.scale;
        pair.quality2 = second.quality;
        pair.xShift2 = second.xShift;
        pair.yShift2 = second.yShift;
        pair.rotation2 = second.rotation;
        pair.scale2 = second.scale;
        append(pair);
      }
    }
    if (const OSErr err = builder->FinishTrack(); err != noErr) {
      track = nullptr;
      Throw_(err);
    }
    builder.reset();
    ThrowIfNil_(track);
    SetTrackOffset(track, inOffset);
    SetTrackLayer(track, kMotionTrackLayer);

    LTagWriter writer;
    UInt32 options = inOptions;
    if (fields) options |= kMotionOptionFieldPair;
    UInt8 roi[8];
    WriteBE16(roi, static_cast<UInt16>(inBounds.top));
    WriteBE16(roi + 2, static_cast<UInt16>(inBounds.left));
    WriteBE16(roi + 4, static_cast<UInt16>(inBounds.bottom));
    WriteBE16(roi + 6, static_cast<UInt16>(inBounds.right));
    ThrowIfOSErr_(writer.WriteUInt32('opts', options));
    ThrowIfOSErr_(writer.WriteNextTag('roi_', sizeof roi, roi));
    ThrowIfOSErr_(writer.WriteSInt32('IntM', inFieldMode));
    ThrowIfOSErr_(writer.WriteSInt32('IntD', inStandard));
    ThrowIfOSErr_(writer.WriteNextTag('>>>>', 0, nullptr));
    ThrowIfOSErr_(AddUserData(GetTrackUserData(track), writer.GetHandle(), kMotionSettingsType));
  } catch (...) {
    if (track) DisposeMovieTrack(track);
    return OSErrOfCurrent();
  }
  if (outTrack) *outTrack = track;
  return noErr;
}

// ---------------------------------------------------------------------------
// Progress and cancel

SInt32 CMotionTrackerTask::ProgressValue(SInt32 inStart, SInt32 inStop, SInt32 inCurrent) {
  const SInt64 span = static_cast<SInt64>(inStop) - inStart;
  if (span <= 0) return 0;
  const SInt64 done = std::clamp<SInt64>(static_cast<SInt64>(inCurrent) - inStart, 0, span);
  return static_cast<SInt32>(done * 256 / span);
}

double CMotionTrackerTask::RemainingSeconds(UInt32 inElapsedTicks, SInt32 inStart, SInt32 inStop, SInt32 inCurrent) {
  const SInt64 done = static_cast<SInt64>(inCurrent) - inStart;
  const SInt64 span = static_cast<SInt64>(inStop) - inStart;
  if (done <= 0 || span <= 0) return -1.0;
  return inElapsedTicks * (static_cast<double>(span) / static_cast<double>(done) - 1.0) / 60.0;
}

SInt32 CMotionTrackerTask::ProgressSheetMessage(SInt32 inMessage) {
  if (!mProgress) return 0;
  switch (inMessage) {
    case -10: {
      mProgress->SetProgressValue(0);
      Str255 text;
      ULocalization::GetString(text, STRx_MotionAnalysis, 6);
      mProgress->SetCaption(text);
      break;
    }
    case 901:
      UserCanceled();
      break;
    case -12: {
      const UInt32 now = TickCount();
      if (now - mLastUpdateTick <= static_cast<UInt32>(kUpdateTicks)) break;
      mLastUpdateTick = now;
      mProgress->SetProgressValue(ProgressValue(mRangeStart, mRangeStop, mCurrentTime));
      const UInt32 elapsed = now - mStartTick;
      const double remaining = RemainingSeconds(elapsed, mRangeStart, mRangeStop, mCurrentTime);
      if (remaining < 0) break;  // nothing done yet to estimate from
      if (elapsed > 359 && remaining > 5.0 && !mProgress->IsRemainingShown()) mProgress->ShowRemaining();
      if (mProgress->IsRemainingShown()) {
        Str255 label;
        ULocalization::GetString(label, STRx_MotionAnalysis, 7);
        LStr255 seconds;
        UMovies::SecondsToString(static_cast<UInt32>(remaining), seconds);
        LStr255 text(label);
        text += seconds;
        mProgress->SetRemainingText(text);
      }
      break;
    }
    default:
      break;
  }
  return 0;
}

SInt16 CMotionTrackerTask::ProgressProc(SInt16, SInt32, SInt32, unsigned char*) {
  StDrawContextState state;
  LThread::Yield();
  return 0;
}

void CMotionTrackerTask::UserCanceled() {
  auto text = [](SInt16 inIndex, Str255 outText) { ULocalization::GetString(outText, STRx_MotionAnalysis, inIndex); };
  Str255 message, explanation, continueText, stopText;
  text(2, message);
  text(3, explanation);
  text(4, continueText);
  text(5, stopText);
  if (mCancelQuestion) return;  // asked already
  auto* sheet = dynamic_cast<CTaskProgressSheet*>(mProgress);
  if (CRegularWindow* window = sheet ? sheet->GetWindow() : nullptr) {
    // On the document window; the task's thread waits for the answer.
    mCancelQuestion = new LDocumentAlertSheet(this, kAlertCautionAlert, PStrToString(message),
                                              PStrToString(explanation), PStrToString(continueText),
                                              PStrToString(stopText), std::string(), msg_CancelAnalysisReply);
    window->AddSheet(mCancelQuestion, true);
    if (GetState() != threadState_Ended && !IsCurrent()) {
      Suspend();
      mHeldForQuestion = true;
    }
    return;
  }
  AlertStdAlertParamRec params;
  GetStandardAlertDefaultParams(&params, 1);
  params.defaultText = continueText;
  params.cancelText = stopText;
  params.otherText = nullptr;
  params.defaultButton = kAlertStdAlertOKButton;
  params.cancelButton = kAlertStdAlertCancelButton;
  SInt16 item = 0;
  const OSErr err = StandardAlert(kAlertCautionAlert, message, explanation, &params, &item);
  // A question that cannot be asked stops, as the user asked to.
  OSType reply = (err != noErr || item == kAlertStdAlertCancelButton) ? kReplyStop : kReplyContinue;
  ListenToMessage(msg_CancelAnalysisReply, &reply);
}

void CMotionTrackerTask::ResumeAfterQuestion() {
  if (!mHeldForQuestion) return;
  mHeldForQuestion = false;
  Resume();
}

void CMotionTrackerTask::ListenToMessage(MessageT inMessage, void* ioParam) {
  if (inMessage == msg_SheetReleased) {
    // The question went unanswered (its window closed): the analysis goes on.
    if (ioParam && static_cast<LSheet*>(ioParam) == mCancelQuestion) {
      mCancelQuestion = nullptr;
      ResumeAfterQuestion();
    }
    return;
  }
  if (inMessage != msg_CancelAnalysisReply || ioParam == nullptr) return;
  const OSType reply = *static_cast<OSType*>(ioParam);
  if (reply != kReplyStop && reply != kReplyContinue) return;
  mCancelQuestion = nullptr;
  if (reply == kReplyStop) {
    CMovieTask::UserCanceled();
    if (mProgress) mProgress->Remove();
  }
  ResumeAfterQuestion();
}

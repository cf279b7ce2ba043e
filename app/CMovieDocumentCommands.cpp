// How the movie document answers menu commands, the messages of its panes,
// movie, tasks and sheets, keys, and the procedures it posts to itself.
#include <cstring>

#include "app/CMovieDocument.h"
#include "app/CMovieView.h"
#include "app/CTimeSlider.h"
#include "media/CMovieAction.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/files/Resources.h"
#include "platform/files/Scrap.h"
#include "platform/framework/LAttachable.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LTextControl.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/UMessage.h"

namespace {

constexpr SInt16 str_EndSession = 3;
constexpr SInt16 str_EditSession = 4;
constexpr SInt16 str_ExportFailed = 35;
constexpr SInt16 str_ExportUnknown = 36;
constexpr SInt16 str_TweenFeatures = 51;
constexpr SInt16 str_TweenFeaturesMore = 52;
constexpr SInt16 str_NotStabilized = 53;
constexpr SInt16 str_NotStabilizedMore = 54;
constexpr SInt16 str_Cancel = 31;

constexpr OSType kReplyOK = 'ok  ';

constexpr UInt16 kCharEnter = 3;
constexpr UInt16 kCharTab = 9;
constexpr UInt16 kCharReturn = 13;
constexpr UInt16 kCharEscape = 27;
constexpr UInt16 kCharLeft = 28;
constexpr UInt16 kCharRight = 29;
constexpr UInt16 kCharUp = 30;
constexpr UInt16 kCharDown = 31;
constexpr UInt16 kCharSpace = 32;

constexpr SInt16 kRateItemMinus10 = 7;
constexpr SInt16 kRateItemPlus10 = 8;

constexpr float kScales[7] = {0.125f, 0.25f, 0.5f, 1.0f, 2.0f, 4.0f, 8.0f};

void SetName(Str255 outName, const std::string& inText) {
  if (outName == nullptr) return;
  size_t n = std::min<size_t>(inText.size(), 255);
  outName[0] = static_cast<UInt8>(n);
  std::memcpy(outName + 1, inText.data(), n);
}

// Commands that change the movie: none of them may run while a worker task
// works on it (the task stores its result against the movie as it was when
// it started).
bool ChangesMovie(CommandT inCommand) {
  switch (inCommand) {
    case cmd_Undo:
    case cmd_Redo:
    case cmd_Cut:
    case cmd_Paste:
    case cmd_Clear:
    case cmd_Close:
    case cmd_Save:
    case cmd_SaveAs:
    case cmd_Revert:
    case cmd_TracksSheet:
    case cmd_MovieSize:
    case cmd_MovieFormat:
    case cmd_AnalyseAuto:
    case cmd_AnalyseBorder:
    case cmd_EditStabilization:
    case cmd_ApplySession:
    case cmd_EditControlTrack:
    case cmd_CancelSession:
    case cmd_ExportMovie:
    case cmd_ExportTween: return true;
    default: return false;
  }
}

SInt32 ValueOf(void* ioParam) { return ioParam != nullptr ? *static_cast<SInt32*>(ioParam) : 0; }

Boolean ScrapHoldsMovie() {
  ScrapRef scrap = nullptr;
  if (GetCurrentScrap(&scrap) != noErr || scrap == nullptr) return false;
  ScrapFlavorFlags flags = 0;
  return GetScrapFlavorFlags(scrap, 'moov', &flags) == noErr;
}

// Stands before the undoer: while a task runs, undo and redo neither act
// nor show as enabled.
class CTaskGuard : public LAttachment {
 public:
  explicit CTaskGuard(CMovieDocument* inDocument) : LAttachment(msg_AnyMessage, true), mDocument(inDocument) {}
  Boolean Execute(MessageT inMessage, void* ioParam) override {
    if (!mDocument->IsTaskRunning()) return true;
    if (inMessage == cmd_Undo || inMessage == cmd_Redo) return false;
    if (inMessage == msg_CommandStatus) {
      auto* status = static_cast<SCommandStatus*>(ioParam);
      if (status != nullptr && (status->command == cmd_Undo || status->command == cmd_Redo)) {
        *status->enabled = false;
        return false;
      }
    }
    return true;
  }

 private:
  CMovieDocument* mDocument;
};

}  // namespace

// ---------------------------------------------------------------------------
// Commands

Boolean CMovieDocument::ObeyCommand(CommandT inCommand, void* ioParam) {
  if (mTask != nullptr && ChangesMovie(inCommand)) return true;
  if (inCommand >= cmd_HalfSize8 && inCommand <= cmd_DoubleSize8) {
    if (mMovie != nullptr) AdjustWindowToMovieSize(kScales[inCommand - cmd_HalfSize8]);
    return true;
  }
  try {
    switch (inCommand) {
      case cmd_Cut:
        if (mMovie != nullptr) PostAction(new CMovieAction_Cut(mMovie));
        return true;
      case cmd_Copy:
        if (mMovie != nullptr) {
          Movie copy = CopyMovieSelection(mMovie->GetMovie());
          if (copy != nullptr) {
            PutMovieOnScrap(copy, 0);
            DisposeMovie(copy);
          }
          LCommander::SetUpdateCommandStatus(true);
        }
        return true;
      case cmd_Paste:
        if (mMovie != nullptr) PostAction(new CMovieAction_Paste(mMovie));
        return true;
      case cmd_Clear:
        if (mMovie != nullptr) PostAction(new CMovieAction_Clear(mMovie));
        return true;
      case cmd_MovieInfo: ShowInfo(); return true;
      case cmd_TracksSheet: ShowTracksSheet(); return true;
      case cmd_MovieSize: ShowSizeSheet(); return true;
      case cmd_MovieFormat: ShowFormatSheet(); return true;
      case cmd_Preview:
        if (mPreviewOn) {
          if (!mSessionOpen) SetPreviewMode(false);
        } else if (mMovie != nullptr) {
          if (CTweenTracks::HasControlTracks(mMovie->GetMovie()) == 0)
            ShowAlertSheet(kAlertCautionAlert, IndString(STRx_MovieDocument, str_NotStabilized),
                           IndString(STRx_MovieDocument, str_NotStabilizedMore), "OK", std::string(), std::string(), 0);
          SetPreviewMode(true);
        }
        return true;
      case cmd_AnalyseAuto:
        mTrackerMode = kTrackerAuto;
        StartAnalysis();
        return true;
      case cmd_AnalyseBorder:
        mTrackerMode = kTrackerBorder;
        StartAnalysis();
        return true;
      case cmd_EditStabilization: BeginEditSession(nullptr); return true;
      case cmd_ApplySession: EndEditSession(true); return true;
      case cmd_EditControlTrack:
        if (mMovie != nullptr) {
          MatrixRecord m1, m2;
          float f1 = 0, f2 = 0;
          Track track = nullptr;
          if (CMovieRendering::GetTweenSample(mMovie->GetMovie(), mMovie->GetTimeValue(), m1, m2, f1, f2, &track) &&
              track != nullptr)
            BeginEditSession(track);
        }
        return true;
      case cmd_CancelSession:
        if (mSessionOpen) EndEditSession(false);
        return true;
      case cmd_RegionOfInterest: UseSpatialSelection((mDrawingOptions & kDrawRegionOfInterest) == 0); return true;
      case cmd_ExportMovie:
        if (mMovie != nullptr) AskExportAs_();
        return true;
      case cmd_ExportTween: ExportTween(); return true;
      default: break;
    }
  } catch (const LException& e) {
    // An edit whose first step failed changes nothing; the user hears it.
    SysBeep(1);
    return true;
  }
  return CSingleDocument::ObeyCommand(inCommand, ioParam);
}

void CMovieDocument::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark,
                                       UInt16& outMark, Str255 outName) {
  const Boolean busy = mTask != nullptr || IsAsking() || (mWindow != nullptr && mWindow->GetCurrentSheet() != nullptr);
  if (busy) {
    if (inCommand == cmd_Close || inCommand == cmd_Save || inCommand == cmd_SaveAs || inCommand == cmd_Revert ||
        inCommand == cmd_Print || (mTask != nullptr && ChangesMovie(inCommand))) {
      outEnabled = false;
      return;
    }
    if (mTask != nullptr) {
      CSingleDocument::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
      return;
    }
  }
  SInt32 selStart = 0, selStop = 0;
  if (mMovie != nullptr) mMovie->GetSelection(&selStart, &selStop);
  const Boolean hasSelection = mMovie != nullptr && selStop > selStart;
  switch (inCommand) {
    case cmd_PageSetup:
    case cmd_Print: outEnabled = false; return;
    case cmd_Cut:
    case cmd_Copy:
    case cmd_Clear: outEnabled = hasSelection; return;
    case cmd_Paste: outEnabled = mMovie != nullptr && ScrapHoldsMovie(); return;
    case cmd_MovieTitles: outEnabled = true; return;
    case cmd_MovieInfo:
    case cmd_TracksSheet:
    case cmd_MovieSize:
    case cmd_MovieFormat:
    case cmd_AnalyseAuto:
    case cmd_AnalyseBorder:
    case cmd_ExportTween: outEnabled = true; return;
    case cmd_Preview: {
      Rect encoded = {0, 0, 0, 0};
      if (mMovie != nullptr) mMovie->GetEncodedBounds(encoded);
      outEnabled = mMovie != nullptr && !EmptyRect(&encoded) && !mSessionOpen;
      outUsesMark = true;
      outMark = mPreviewOn ? checkMark : noMark;
      return;
    }
    case cmd_EditStabilization:
      outEnabled = mMovie != nullptr && !mSessionOpen && CMotionData::HasValidMotionDataTrack(mMovie);
      SetName(outName, IndString(STRx_MovieDocument, str_EditSession));
      return;
    case cmd_ApplySession:
      outEnabled = mSessionOpen;
      SetName(outName, IndString(STRx_MovieDocument, str_EndSession));
      return;
    case cmd_EditControlTrack: {
      outEnabled = false;
      if (mMovie != nullptr && !mSessionOpen) {
        MatrixRecord m1, m2;
        float f1 = 0, f2 = 0;
        Track track = nullptr;
        outEnabled = CMovieRendering::GetTweenSample(mMovie->GetMovie(), mMovie->GetTimeValue(), m1, m2, f1, f2,
                                                     &track);
      }
      return;
    }
    case cmd_CancelSession: outEnabled = mSessionOpen; return;
    case cmd_RegionOfInterest:
      outEnabled = true;
      outUsesMark = true;
      outMark = (mDrawingOptions & kDrawRegionOfInterest) ? checkMark : noMark;
      return;
    case cmd_ExportMovie: outEnabled = !mSessionOpen; return;
    default: break;
  }
  if (inCommand >= cmd_HalfSize8 && inCommand <= cmd_DoubleSize8) {
    outEnabled = true;
    outUsesMark = true;
    outMark = inCommand == cmd_ActualSize ? checkMark : noMark;
    return;
  }
  CSingleDocument::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

void CMovieDocument::StartAnalysis() {
  const QInterlaceMode mode = mRenderParams.interlaceMode;
  if (mode <= kInterlace_Undecided ||
      (IsFieldInterlaced(mode) && mInterlaceDelay == kInterlaceDelay_None)) {
    // An analysis that cannot start (a movie without pictures) says so.
    if (const OSErr err = TrackInterlace(msg_InterlaceAnalysisEnded); err != noErr && mMovie != nullptr)
      ReportInterlaceFailure(err);
  } else
    TrackMotion();
}

void CMovieDocument::TogglePlaying() {
  if (mMovie == nullptr) return;
  if (mMovie->IsPlaying())
    mMovie->StopPlaying();
  else
    mMovie->StartPlaying(!mPreviewOn);
}

void CMovieDocument::ExportTween() {
  if (mMovie == nullptr) return;
  try {
    if (CTweenTracks::HasControlTracks(mMovie->GetMovie()) == 0) {
      ShowAlertSheet(kAlertNoteAlert, IndString(STRx_MovieDocument, str_NotStabilized),
                     IndString(STRx_MovieDocument, str_NotStabilizedMore), "OK",
                     IndString(STRx_MovieDocument, str_Cancel), std::string(), msg_ExportTweenReply);
    } else if (AllFeaturesSupportedByTween()) {
      OSType ok = kReplyOK;
      ListenToMessage(msg_ExportTweenReply, &ok);
    } else {
      ShowAlertSheet(kAlertCautionAlert, IndString(STRx_MovieDocument, str_TweenFeatures),
                     IndString(STRx_MovieDocument, str_TweenFeaturesMore), "OK",
                     IndString(STRx_MovieDocument, str_Cancel), std::string(), msg_ExportTweenReply);
    }
  } catch (...) {
    // A question that cannot be asked leaves nothing exported.
    LogCurrentException("documents", "ExportTween");
  }
}

void CMovieDocument::Export(FSSpec& inSpec) {
  try {
    ThrowIfNil_(mMovie);
    OSErr err = sExportProc != nullptr ? sExportProc(mMovie, inSpec) : unimpErr;
    if (err != noErr) {
      // The export made nothing at the destination, so an earlier file
      // there stays; the user learns why, unless they cancelled.
      if (err != userCanceledErr && err != kProgressUserCanceled) {
        LStr255 text(IndString(STRx_MovieDocument, str_ExportFailed).c_str());
        LStr255 osText;
        if (UMessage::GetOSErrString(err, osText))
          text += osText;
        else
          text += LStr255(IndString(STRx_MovieDocument, str_ExportUnknown).c_str());
        StopAlert(text, err);
      }
    }
  } catch (...) {
    // No movie, or an alert that cannot be shown: the export is over either way.
    LogCurrentException("documents", "Export");
  }
}

// ---------------------------------------------------------------------------
// Messages

void CMovieDocument::ListenToMessage(MessageT inMessage, void* ioParam) {
  if (mDestroying) return;
  switch (inMessage) {
    case msg_SaveAsReply:
      if (ioParam != nullptr && *static_cast<OSType*>(ioParam) == kReplyOK) PostProcedure(proc_DocSaveAs, nullptr, 0);
      return;
    case msg_PreviewButton: ObeyCommand(cmd_Preview, nullptr); return;
    case msg_PlayButton:
    case msg_ViewDoubleClick: TogglePlaying(); return;
    case msg_StepBack:
    case msg_StepForward:
      if (mMovie != nullptr) StepSlider(inMessage == msg_StepBack ? kCharLeft : kCharRight);
      return;
    case msg_ToggleToolbar: ToggleShowToolbar(); return;
    case msg_InPoint:
    case msg_OutPoint:
      if (mMovie != nullptr) {
        SInt32 now = mMovie->GetTimeValue(), start = 0, stop = 0;
        mMovie->GetSelection(&start, &stop);
        if (inMessage == msg_InPoint) {
          if (now > stop) mMovie->SetSelectionStop(now);
          mMovie->SetSelectionStart(now);
        } else {
          if (now < start) mMovie->SetSelectionStart(now);
          mMovie->SetSelectionStop(now);
        }
        UpdateMovieInfo();
        if (mMovieViewPane != nullptr) mMovieViewPane->Refresh();
      }
      return;
    case msg_BookmarkPopulate: UpdateBookMarkButton(static_cast<LMenu*>(ioParam)); return;
    case msg_BookmarkChosen:
      if (mMovie != nullptr) {
        SInt32 start = 0, stop = 0;
        mMovie->GetSelection(&start, &stop);
        switch (ValueOf(ioParam)) {
          case 1: GotoTime(0); break;
          case 2: mMovie->GotoTime(mMovie->GetDuration()); break;
          case 4: GotoTime(start); break;
          case 5: GotoTime(stop); break;
          default: break;
        }
      }
      return;
    case msg_OptionsPopulate: UpdateOptionsButton(static_cast<LMenu*>(ioParam)); return;
    case msg_OptionsChosen:
      if (mMovie != nullptr) {
        switch (ValueOf(ioParam)) {
          case 1: mMovie->SetOptions(mMovie->GetOptions() ^ kMovieOption_PlaySelection, kMovieOption_PlaySelection); break;
          case 2: mMovie->SetOptions(mMovie->GetOptions() ^ kMovieOption_Loop, kMovieOption_Loop); break;
          case 4: mDrawingOptions ^= kDrawTVSafe; break;
          case 5: mDrawingOptions ^= kDrawTitleSafe; break;
          case 6: mDrawingOptions ^= kDrawSafeBounds; break;
          default: break;
        }
        if (mMovieView != nullptr) {
          mMovieView->SetDrawingOptions(0, ~static_cast<SInt32>(kDrawRegionOfInterest), false);
          mMovieView->SetDrawingOptions(static_cast<SInt32>(mDrawingOptions & ~kDrawRegionOfInterest), 0, false);
        }
        if (mMovieViewPane != nullptr) mMovieViewPane->Refresh();
      }
      return;
    case msg_MotionAnalysisEnded: MotionAnalysisEnded(static_cast<CMovieTask*>(ioParam)); return;
    case msg_InterlaceAnalysisEnded: InterlaceAnalysisEnded(static_cast<CMovieTask*>(ioParam)); return;
    case msg_PlayRatePopup:
      if (mMovie != nullptr && mPlayRatePopup != nullptr) {
        SInt32 item = mPlayRatePopup->GetValue();
        if (item >= 1 && item <= kPlayRateCount) mMovie->SetPlayRate(kPlayRates[item - 1]);
      }
      return;
    case msg_ROIButton: ObeyCommand(cmd_RegionOfInterest, nullptr); return;
    case msg_MovieTimeChanged:
      UpdateTimeEditors();
      if (mMovie != nullptr && !mMovie->IsPlaying()) LCommander::SetUpdateCommandStatus(true);
      return;
    case msg_MovieFrameDrawn: {
      TimeValue time = 0;
      if (ioParam != nullptr) time = static_cast<TimeValue>(*static_cast<TimeValue64*>(ioParam));
      UpdateMovieFrame(&time);
      // The movie drew its frame into the window itself (the view adds its
      // overlays); only a still rendered from the frame is drawn again. A
      // refresh here would ask the movie for the same frame again, for ever.
      if (mMovieViewPane != nullptr && mBuffer != nullptr) mMovieViewPane->Refresh();
      return;
    }
    case msg_MovieSelectionChanged:
      UpdateImagePath();
      LCommander::SetUpdateCommandStatus(true);
      return;
    case msg_MovieStarted:
    case msg_MovieStopped:
      if (LTextControl* button = dynamic_cast<LTextControl*>(mPlayButton))
        button->SetText(inMessage == msg_MovieStarted ? "❚❚" : "▶");
      if (mPlayButton != nullptr) mPlayButton->Refresh();
      return;
    case msg_MovieChanged: MovieHasChanged(true); return;
    case msg_ROIChanged: return;
    case msg_ScrubStart:
    case msg_ScrubContinue:
      if (mMovie != nullptr) {
        SInt32 rate = ValueOf(ioParam);
        if (inMessage == msg_ScrubStart && !mScrubbing) {
          mScrubbing = true;
          mScrubSavedOptions = mMovie->GetOptions();
          mMovie->SetOptions(kMovieOption_HoldAtEnd, 0xFFFFFFFF);
          if (mPlayRatePopup != nullptr) mScrubSavedItemText = mPlayRatePopup->GetCurrentItemText();
        }
        mMovie->SetPlayRate(rate);
        if (!mMovie->IsPlaying()) mMovie->StartPlaying(!mPreviewOn);
        if (mPlayRatePopup != nullptr)
          mPlayRatePopup->SetItemText(mPlayRatePopup->GetValue(), std::to_string(rate) + " %");
      }
      return;
    case msg_ScrubEnd:
      if (mMovie != nullptr && mScrubbing) {
        mScrubbing = false;
        mMovie->StopPlaying();
        if (mPlayRatePopup != nullptr) mPlayRatePopup->SetItemText(mPlayRatePopup->GetValue(), mScrubSavedItemText);
        ListenToMessage(msg_PlayRatePopup, nullptr);
        mMovie->SetOptions(mScrubSavedOptions, 0xFFFFFFFF);
      }
      return;
    case msg_ExportTweenReply:
      if (ioParam != nullptr && *static_cast<OSType*>(ioParam) == kReplyOK) AskExportTweenAs_();
      return;
    case msg_TimeSliderMoved:
      if (ioParam != nullptr) GotoTime(*static_cast<TimeValue*>(ioParam));
      return;
    case msg_WindowEvent:
      if (ioParam != nullptr && static_cast<SWindowEvent*>(ioParam)->eventKind == kEventWindowFrameMarginsChanged)
        WindowFrameMarginsChanged();
      return;
    default: break;
  }
  CSingleDocument::ListenToMessage(inMessage, ioParam);
}

// ---------------------------------------------------------------------------
// Keys

void CMovieDocument::StepSlider(UInt16 inCharCode) {
  if (mMovie == nullptr) return;
  EventRecord event;
  event.what = keyDown;
  event.message = inCharCode;
  event.when = TickCount();
  if (mTimeSlider != nullptr && mTimeSlider->GetMovie() != nullptr) {
    mTimeSlider->HandleKeyPress(event);
    return;
  }
  // Without a time slider that takes keys: one video frame either way.
  const OSType visual = 'eyes';
  SInt32 now = mMovie->GetTimeValue(), next = -1;
  bool found = inCharCode == kCharLeft ? mMovie->GetPreviousInterestingTime(0, 1, &visual, now, &next, 1)
                                       : mMovie->GetNextInterestingTime(0, 1, &visual, now, &next, 1);
  if (found && next >= 0) GotoTime(next);
}

Boolean CMovieDocument::HandleKeyPress(const EventRecord& inKeyEvent) {
  const UInt16 c = static_cast<UInt16>(inKeyEvent.message & 0xFF);
  const Boolean inField = IsTimeFieldTarget();
  auto enterTime = [this] {
    if (mMovie != nullptr && mTimeField != nullptr) {
      SInt32 time = 0;
      UMovies::TimeCodeToTimeValue(LStr255(mTimeField->GetText().c_str()), mMovie, time);
      GotoTime(time);
    }
    TargetTimeSlider();
    UpdateTimeEditors();
  };
  switch (c) {
    case kCharEnter:
    case kCharReturn:
      if (inField)
        enterTime();
      else if (mSessionOpen)
        EndEditSession(true);
      else
        TargetTimeField();
      return true;
    case kCharTab:
      if (inField)
        enterTime();
      else
        TargetTimeField();
      return true;
    case kCharEscape:
      if (inField) {
        TargetTimeSlider();
        UpdateTimeEditors();
      } else if (mSessionOpen) {
        EndEditSession(false);
      }
      return true;
    default: break;
  }
  if (inField) {
    // Typing in the time-code field: only what a time code holds.
    UInt16 ch = c;
    if (UMovies::TimeEditKeyFilter(nullptr, 0, ch, inKeyEvent.modifiers) == kTimeKey_Reject) {
      SysBeep(1);
      return true;
    }
    return LCommander::HandleKeyPress(inKeyEvent);
  }
  if (c == kCharSpace) {
    TogglePlaying();
    return true;
  }
  if (mMovie != nullptr) {
    SInt32 start = 0, stop = 0;
    mMovie->GetSelection(&start, &stop);
    switch (c) {
      case kCharUp:
      case 'I': GotoTime(start); break;
      case kCharDown:
      case 'O': GotoTime(stop); break;
      case 'i':
        if (mInPointButton != nullptr) mInPointButton->SimulateHotSpotClick(10);
        break;
      case 'o':
        if (mOutPointButton != nullptr) mOutPointButton->SimulateHotSpotClick(10);
        break;
      case 'j':
      case 'l': {
        if (mPlayRatePopup == nullptr) break;
        const SInt32 item = mPlayRatePopup->GetValue();
        const bool back = c == 'j';
        if (mMovie->IsPlaying()) {
          if (item == (back ? kRateItemPlus10 : kRateItemMinus10))
            mMovie->StopPlaying();
          else if (back ? item > 1 : item < kPlayRateCount)
            mPlayRatePopup->SetValue(item + (back ? -1 : 1));
        } else {
          mPlayRatePopup->SetValue(back ? kRateItemMinus10 : kRateItemPlus10);
          ListenToMessage(msg_PlayRatePopup, nullptr);
          mMovie->StartPlaying(!mPreviewOn);
        }
        break;
      }
      case 'k': TogglePlaying(); break;
      default: return LCommander::HandleKeyPress(inKeyEvent);
    }
  } else if (c == 'i' || c == 'o') {
    LControl* button = c == 'i' ? mInPointButton : mOutPointButton;
    if (button != nullptr) button->SimulateHotSpotClick(10);
  }
  return LCommander::HandleKeyPress(inKeyEvent);
}

// ---------------------------------------------------------------------------
// Procedures

void CMovieDocument::ExecuteProcedure(SInt32 inProcID, void* inData, SInt32 inSize) {
  if (mDestroying) {
    // A document going away neither closes itself again nor opens questions.
    if (inProcID != proc_Save && inProcID != proc_DoAESave && inProcID != proc_Export) return;
  }
  try {
    switch (inProcID) {
      case proc_ResizeWindow:
        if (mWindow != nullptr && inData != nullptr && inSize >= 8) {
          SInt32 size[2];
          std::memcpy(size, inData, sizeof size);
          mWindow->ResizeWindowTo(static_cast<SInt16>(std::clamp<SInt32>(size[0], 1, 32767)),
                                  static_cast<SInt16>(std::clamp<SInt32>(size[1], 1, 32767)));
        }
        return;
      case proc_Export:
        if (mMovie != nullptr && inData != nullptr && inSize >= static_cast<SInt32>(sizeof(FSSpec))) {
          FSSpec spec;
          std::memcpy(&spec, inData, sizeof spec);
          Export(spec);
        }
        return;
      case proc_AttemptClose:
        if (mMovie != nullptr) AttemptClose_(inData != nullptr && *static_cast<UInt8*>(inData) != 0);
        return;
      case proc_AskSaveAs:
        if (mMovie != nullptr) AskSaveAs_();
        return;
      case proc_DoAESave:
        if (mMovie != nullptr && inData != nullptr && inSize >= static_cast<SInt32>(sizeof(FSSpec))) {
          FSSpec spec;
          std::memcpy(&spec, inData, sizeof spec);
          DoAESave_(spec);
        }
        return;
      case proc_Save:
        if (mMovie != nullptr) Save_();
        return;
      case proc_ExportTween: return;
      case proc_DocSaveAs:
        if (mMovie != nullptr) AskSaveAs_();
        return;
      default: break;
    }
  } catch (...) {
    return;
  }
  CSingleDocument::ExecuteProcedure(inProcID, inData, inSize);
}

// The guard before the undoer, installed once the undoer is there.
void InstallTaskGuard(CMovieDocument* inDocument);
void InstallTaskGuard(CMovieDocument* inDocument) { inDocument->AddAttachment(new CTaskGuard(inDocument), nullptr); }

// The movie document's analysis, edit session and preview: the interlace
// analysis and the motion tracking as worker tasks, the edit session in
// which the corrections are recomputed and previewed, the control track an
// apply writes as one undoable edit, the preview through the offscreen
// buffer, and the drawer with the stabiliser parameters.
#include <cmath>
#include <cstring>
#include <string>

#include "app/CColorPickerPane.h"
#include "app/CMovieDocument.h"
#include "app/USessionSupport.h"
#include "app/USessionView.h"
#include "media/CBuffer.h"
#include "media/CMovieAction.h"
#include "media/CMovieRendering.h"
#include "media/UMovies.h"
#include "motion/CAutoMotionTracker.h"
#include "motion/CBorderMotionTracker.h"
#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/LException.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LStr255.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LTextControl.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UReanimator.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LDrawer.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UMessage.h"

namespace {

// The texts of STR# 5010 this part shows.
enum : SInt16 {
  str_NoMotionData = 22,
  str_NoMotionDataHint = 23,
  str_SettingsUnreadable = 24,
  str_SettingsUnreadableHint = 25,
  str_SelectionTooShort = 26,
  str_SelectionTooShortHint = 27,
  str_CannotAnalyse = 28,
  str_CannotAnalyseHint = 29,
  str_SaveAsButton = 30,
  str_CancelButton = 31,
  str_NoRange = 32,
  str_NoRangeHint = 33,
  str_TrackNotCreated = 34,
  str_Working = 36,
  str_FirstOperation = 37,
  str_FormatUndecided = 55,
  str_InterlaceAnalysisFailed = 56,
  str_CannotAnalyseOtherFormat = 57,
  str_CannotAnalyseLocked = 58,
};

constexpr UInt32 kPropsRefusingAnalysis = kMovieProp_NoDataRef | kMovieProp_ReadOnly | kMovieProp_Locked;

// The drawer's controls.
enum : PaneIDT {
  pane_BorderColor = 30,
  pane_BorderColorLabel = 31,
  pane_CorrectHorizontal = 4,
  pane_CorrectVertical = 5,
  pane_CorrectRotation = 7,
  pane_CorrectZoom = 8,
  pane_ZoomMode = 50,
  pane_BorderMode = 55,
  pane_Smoothing = 101,
  pane_FadeIn = 103,
  pane_FadeOut = 104,
  pane_Tolerance = 105,
  pane_SmoothingText = 201,
  pane_FadeInText = 203,
  pane_FadeOutText = 204,
  pane_ToleranceText = 205,
  pane_BorderTop = 400,
  pane_BorderRight = 401,
  pane_BorderLeft = 402,
  pane_BorderBottom = 403,
  pane_BorderMirror = 10,  // 410 to 413 mirror 400 to 403
};

std::string Text(SInt16 inIndex) {
  Str255 s;
  ULocalization::GetString(s, STRx_MovieDocument, inIndex);
  return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

void ToPascal(const std::string& inText, Str255 outText) {
  const size_t n = std::min<size_t>(inText.size(), 255);
  outText[0] = static_cast<unsigned char>(n);
  std::memcpy(outText + 1, inText.data(), n);
}

void SetPaneText(LPane* inPane, const std::string& inText) {
  if (auto* t = dynamic_cast<LTextControl*>(inPane))
    t->SetText(inText);
  else if (auto* s = dynamic_cast<LStaticText*>(inPane))
    s->SetText(inText);
}

void SetPaneText(LPane* inPane, ConstStringPtr inText) {
  SetPaneText(inPane, std::string(reinterpret_cast<const char*>(inText + 1), inText[0]));
}

LControl* FindControl(LWindow* inWindow, PaneIDT inID) {
  return dynamic_cast<LControl*>(inWindow->FindPaneByIDOrNil(inID));
}

void EnablePane(LPane* inPane, bool inEnabled) {
  if (!inPane) return;
  if (inEnabled)
    inPane->Enable();
  else
    inPane->Disable();
}

// Set while the drawer's controls are being filled: their broadcasts then change nothing.
bool sIsOpening = false;

}  // namespace

// ---------------------------------------------------------------------------
// Worker tasks

OSErr CMovieDocument::TrackInterlace(MessageT inEndMessage) {
  try {
    ThrowIfNil_(mMovie);
    EndEditSession(false);
    SetPreviewMode(false);
    auto* task = new CInterlaceTrackerTask(this, true);
    task->SetEndMessage(inEndMessage);
    ThrowIfOSErr_(BeginTask(task));
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  return noErr;
}

OSErr CMovieDocument::TrackMotion() {
  try {
    ThrowIfNil_(mMovie);
    if (const UInt32 props = mMovie->GetMovieProperties(); props & kPropsRefusingAnalysis) {
      // The explanation names what is the case: a movie read from a file of
      // another format (no data reference of its own), or a locked or
      // read-only file. Save As leads on in either case.
      const SInt16 hint = (props & kMovieProp_NoDataRef) ? str_CannotAnalyseOtherFormat : str_CannotAnalyseLocked;
      ShowAlertSheet(kAlertStopAlert, Text(str_CannotAnalyse), Text(hint), Text(str_SaveAsButton),
                     Text(str_CancelButton), std::string(), msg_SaveAsReply);
      return noErr;
    }
    EndEditSession(false);
    SetPreviewMode(false);
    Rect encoded, display, region = mRegionOfInterest;
    mMovie->GetEncodedBounds(encoded);
    mMovie->GetDisplayBounds(display);
    USessionView::GetROIRect(mMovieView, region);
    const Rect rect = USessionSupport::TrackingRect((mDrawingOptions & kDrawRegionOfInterest) != 0, region, display,
                                                    encoded);
    CMotionTracker* tracker = nullptr;
    if (mTrackerMode == kTrackerBorder)
      tracker = new CBorderMotionTracker;
    else
      tracker = new CAutoMotionTracker;
    CMotionTrackerTask* task = nullptr;
    try {
      task = new CMotionTrackerTask(this, tracker, rect);
    } catch (...) {
      delete tracker;
      throw;
    }
    task->SetEndMessage(msg_MotionAnalysisEnded);
    ThrowIfOSErr_(BeginTask(task));
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  return noErr;
}

OSErr CMovieDocument::BeginTask(CMovieTask* inTask) {
  if (!inTask) return paramErr;
  if (mTask != nullptr) {
    // One task at a time: the new one is discarded (never started), the
    // running one goes on.
    delete inTask;
    return paramErr;
  }
  try {
    EndEditSession(false);
    mTask = inTask;
    if (mMovie) mMovie->StopPlaying();
    LCommander::SetUpdateCommandStatus(true);
    inTask->Resume();
  } catch (const LException& e) {
    if (mTask == inTask) mTask = nullptr;
    delete inTask;
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  return noErr;
}

OSErr CMovieDocument::EndTask(CMovieTask* inTask) {
  if (inTask == nullptr || inTask != mTask) return paramErr;
  mTask = nullptr;
  LCommander::SetUpdateCommandStatus(true);
  return noErr;
}

void CMovieDocument::MotionAnalysisEnded(CMovieTask* inTask) {
  // The task has stored its motion-data track itself.
  EndTask(inTask);
}

void CMovieDocument::InterlaceAnalysisEnded(CMovieTask* inTask) {
  auto* task = dynamic_cast<CInterlaceTrackerTask*>(inTask);
  if (!task || EndTask(inTask) != noErr) return;
  const QInterlaceMode mode = task->GetResultMode();
  const QInterlaceDelay delay = task->GetResultStandard();
  if (USessionSupport::IsInterlaceDecided(mode, delay)) {
    AdjustMovieFormat(mode, delay);
    // The analyse command is the interlace analysis followed by the tracking.
    TrackMotion();
  } else if (task->HasUserCanceled()) {
    // Stopped by the user: nothing else happens.
  } else if (task->GetError() != noErr) {
    ReportInterlaceFailure(task->GetError());
  } else {
    ProcessCommand(cmd_MovieFormat, nullptr);
    Str255 text;
    ToPascal(Text(str_FormatUndecided), text);
    CautionAlert(text, 0);
  }
}

void CMovieDocument::ReportInterlaceFailure(OSErr inError) {
  Str255 text;
  ToPascal(Text(str_InterlaceAnalysisFailed), text);
  StopAlert(text, inError);
}

// ---------------------------------------------------------------------------
// The edit session

void CMovieDocument::BeginEditSession(Track inTrack) {
  if (mSessionOpen || !mMovie) return;
  StListeningOff quiet(this);
  mSessionPreviewWasOn = mPreviewOn;
  mMovie->StopPlaying();
  if (!CMotionData::HasValidMotionDataTrack(mMovie)) {
    ShowAlertSheet(kAlertStopAlert, Text(str_NoMotionData), Text(str_NoMotionDataHint), "OK", std::string(),
                   std::string(), 0);
    return;
  }
  if (inTrack && UMovies::ValidateTrack(mMovie, inTrack)) {
    mSessionTrack = inTrack;
    const OSErr settingsErr = CMovieRendering::ReadMoSettingsFromTrack(inTrack, mMotionSettings);
    const OSErr paramsErr = CMovieRendering::ReadRenderParamsFromTrack(inTrack, mRenderParams);
    if (settingsErr != noErr || paramsErr != noErr)
      ShowAlertSheet(kAlertCautionAlert, Text(str_SettingsUnreadable), Text(str_SettingsUnreadableHint), "OK",
                     std::string(), std::string(), 0);
    // A track's duration runs from the movie's start: it is the track's end.
    mMovie->SetSelectionStart(GetTrackOffset(inTrack));
    mMovie->SetSelectionStop(GetTrackDuration(inTrack));
    SetTrackEnabled(inTrack, false);
  }
  mSessionOpen = true;
  mMotionData.InvalidateMatrices();
  try {
    OpenDrawer();
  } catch (const LException&) {
    // Without its drawer the session still previews; Return or Escape ends it.
    LogCurrentException("session", "OpenDrawer");
  }
  try {
    SetPreviewMode(true);
  } catch (const LException&) {
    // No preview buffer: the session goes on without the steadied picture.
    LogCurrentException("session", "preview on");
  }
  UpdateImagePath();
  LCommander::SetUpdateCommandStatus(true);
}

void CMovieDocument::UpdateImagePath() {
  if (!mSessionOpen || !mMovie) return;
  bool becameEmpty = false;
  const OSErr err = USessionSupport::RecomputeMatrices(mMovie, mMotionData, mMotionSettings, mInterlaceDelay,
                                                       becameEmpty);
  if (err == noErr && becameEmpty)
    ShowAlertSheet(kAlertCautionAlert, Text(str_SelectionTooShort), Text(str_SelectionTooShortHint), "OK",
                   std::string(), std::string(), 0);
  USessionView::SetMotionData(mMovieView, &mMotionData);
  UpdateMovieFrame(nullptr);
}

void CMovieDocument::EndEditSession(Boolean inApply) {
  if (!mSessionOpen || !mMovie) return;
  StListeningOff quiet(this);
  mMovie->StopPlaying();
  // The tracks sheet may have deleted the session's track meanwhile.
  if (mSessionTrack && !UMovies::ValidateTrack(mMovie, mSessionTrack)) mSessionTrack = nullptr;
  if (mSessionTrack) SetTrackEnabled(mSessionTrack, true);
  if (inApply) ApplySession();
  mSessionTrack = nullptr;
  mSessionOpen = false;
  mMotionData.InvalidateMatrices();
  mMotionData.InvalidateSafeBounds();
  CloseDrawer();
  if (mSessionPreviewWasOn) {
    UpdateMovieFrame(nullptr);
  } else {
    try {
      SetPreviewMode(false);
    } catch (const LException&) {
      LogCurrentException("session", "preview off");
    }
  }
  LCommander::SetUpdateCommandStatus(true);
}

void CMovieDocument::ApplySession() {
  bool noRange = false;
  CMovieAction* action = nullptr;
  try {
    action = USessionSupport::ApplySession(mMovie, mSessionTrack, mMotionData, mMotionSettings, mRenderParams,
                                           mInterlaceDelay, noRange);
  } catch (const LException& e) {
    ReportControlTrackFailure(e);
    return;
  }
  if (noRange) {
    ShowAlertSheet(kAlertStopAlert, Text(str_NoRange), Text(str_NoRangeHint), "OK", std::string(), std::string(), 0);
    return;
  }
  if (!action) return;
  // The undoer performs the first redo, which records the state after it.
  PostAction(action);
}

Track CMovieDocument::CreateStabilizationControlTrack() {
  ThrowIfNil_(mMovie);
  bool noRange = false;
  Track track = nullptr;
  try {
    track = USessionSupport::CreateControlTrack(mMovie, mMotionData, mMotionSettings, mRenderParams, mInterlaceDelay,
                                                noRange);
  } catch (const LException& e) {
    ReportControlTrackFailure(e);
    return nullptr;
  }
  if (noRange)
    ShowAlertSheet(kAlertStopAlert, Text(str_NoRange), Text(str_NoRangeHint), "OK", std::string(), std::string(), 0);
  return track;
}

void CMovieDocument::ReportControlTrackFailure(const LException& inError) {
  Str255 text;
  ConstStringPtr message = inError.GetErrorString();
  if (message && message[0] != 0)
    std::memcpy(text, message, message[0] + 1u);
  else
    ToPascal(Text(str_TrackNotCreated), text);
  StopAlert(text, ErrorCodeToOSErr(inError.GetErrorCode()));
}

// ---------------------------------------------------------------------------
// The preview

void CMovieDocument::UpdateMovieFrame(TimeValue* inTime) {
  if (!mBuffer) {
    mIndicatorIcon = kIndicatorNormal;
    return;
  }
  const SInt32 time = inTime ? static_cast<SInt32>(*inTime) : (mMovie ? mMovie->GetTimeValue() : 0);
  RenderFrameParams params;
  mIndicatorIcon = USessionSupport::FrameParamsAtTime(&mMotionData, mMovie ? mMovie->GetMovie() : nullptr, time,
                                                      mPreviewOn, mRenderParams, params);
  mShownParams = params;
  USessionView::SetFrameParams(mMovieView, params);
}

void CMovieDocument::SetPreviewMode(Boolean inOn) {
  if (!mMovie) return;
  StListeningOff quiet(this);
  mMovie->StopPlaying();
  UseBuffer(inOn);
  if (inOn && !mBuffer) Throw_(err_NilPointer);
  mPreviewOn = inOn;
  AdjustPreviewButton();
  AdjustMovieQuality();
}

void CMovieDocument::UseBuffer(Boolean inOn) {
  Movie movie = mMovie ? mMovie->GetMovie() : nullptr;
  if (mBuffer && movie && mSavedMoviePort) {
    // Give the movie back the port it drew into before.
    SetMovieGWorld(movie, mSavedMoviePort, nullptr);
    mSavedMoviePort = nullptr;
  }
  if (mBufferWorld) DisposeGWorld(mBufferWorld);
  mBufferWorld = nullptr;
  if (mBuffer) mBuffer->Release();
  mBuffer = nullptr;
  if (inOn && movie) {
    Rect bounds;
    mMovie->GetEncodedBounds(bounds);
    OffsetRect(&bounds, static_cast<SInt16>(-bounds.left), static_cast<SInt16>(-bounds.top));
    if (EmptyRect(&bounds)) Throw_(err_NilPointer);
    CBuffer* buffer = new CBuffer(bounds, kBufferDepth8, kBufferModeARGB);
    GWorldPtr world = buffer->CreateGWorld(nullptr, nullptr);
    if (!world) {
      buffer->Release();
      Throw_(err_NilPointer);
    }
    mBuffer = buffer;
    mBufferWorld = world;
    GetMovieGWorld(movie, &mSavedMoviePort, nullptr);
    SetMovieGWorld(movie, mBufferWorld, nullptr);
    ::SetMovieBox(movie, &bounds);
    UpdateMovie(movie);
    MoviesTask(movie, 0);
    USessionView::UseOffscreenBuffer(mMovieView, mBuffer);
  } else if (mMovie) {
    USessionView::UseMovie(mMovieView, mMovie);
    mMovie->Refresh();
  }
}

void CMovieDocument::AdjustPreviewButton() {
  if (!mPreviewButton) return;
  EnablePane(mPreviewButton, !mSessionOpen);
  mPreviewButton->SetValue(mPreviewOn ? 1 : 0);
  mPreviewButton->Refresh();
}

void CMovieDocument::AdjustMovieQuality() {
  if (!mMovie) return;
  switch (mRenderParams.interlaceMode) {
    case kInterlace_Undecided:
      mMovie->SetPlayHints(hintsSingleField | hintsHighQuality, kDrawingHintsMask);
      mRenderParams.fieldMode = kRenderFrame;
      break;
    case kInterlace_Progressive:
      mMovie->SetPlayHints(hintsHighQuality, kDrawingHintsMask);
      mRenderParams.fieldMode = kRenderFrame;
      break;
    case kInterlace_OddFirst:
    case kInterlace_EvenFirst:
      mMovie->SetPlayHints(mPreviewOn ? hintsHighQuality : (hintsSingleField | hintsHighQuality), kDrawingHintsMask);
      mRenderParams.fieldMode = kRenderFirstFieldStretch;
      break;
    default:
      break;
  }
  UpdateMovieFrame(nullptr);
}

void CMovieDocument::AdjustMovieFormat(QInterlaceMode inMode, QInterlaceDelay inDelay) {
  if (!mMovie) return;
  if (inMode == mRenderParams.interlaceMode && inDelay == mInterlaceDelay) return;
  mRenderParams.interlaceMode = inMode;
  mInterlaceDelay = inDelay;
  SetModified(true);
  AdjustMovieQuality();
}

void CMovieDocument::UseSpatialSelection(Boolean inOn) {
  StListeningOff quiet(this);
  if (mROIButton) mROIButton->SetValue(inOn ? 1 : 0);
  if (inOn)
    mDrawingOptions |= kDrawRegionOfInterest;
  else
    mDrawingOptions &= ~kDrawRegionOfInterest;
  USessionView::SetDrawingOptions(mMovieView, inOn ? kDrawRegionOfInterest : 0, inOn ? 0 : kDrawRegionOfInterest);
  mROIIcons = inOn ? 222 : 220;
  if (mROIButton) mROIButton->Refresh();
}

void CMovieDocument::MovieHasChanged(Boolean) {
  if (!mMovie || mMotionData.MovieChanged(mMovie)) mMotionData.InvalidateRawData();
  UpdateTimeEditors();
  USessionView::MovieHasChanged(mMovieView);
  if (mMovie) {
    Rect display;
    mMovie->GetDisplayBounds(display);
    if (EmptyRect(&display)) {
      if (mPreviewOn) {
        try {
          SetPreviewMode(false);
        } catch (const LException&) {
          LogCurrentException("session", "preview off");
        }
      }
      EnablePane(mPreviewButton, false);
    } else {
      EnablePane(mPreviewButton, !mSessionOpen);
    }
  }
  if (mSessionOpen) UpdateImagePath();
  LCommander::SetUpdateCommandStatus(true);
}

void CMovieDocument::UpdateTimeEditors() {
  if (mTimeField) {
    if (mMovie) {
      LStr255 text;
      UMovies::GetTimeCode(mMovie, mMovie->GetTimeValue(), text);
      SetPaneText(mTimeField, static_cast<ConstStringPtr>(text));
    } else {
      SetPaneText(mTimeField, std::string("0"));
    }
  }
  UpdateMovieInfo();
}

OSErr CMovieDocument::MovieProgress(Movie, SInt16 inMessage, SInt16 inOperation, Fixed inPercent, SInt32 inRefCon) {
  Str255 text;
  text[0] = 0;
  if (inOperation >= 1 && inOperation <= 12)
    ToPascal(Text(static_cast<SInt16>(str_FirstOperation + inOperation - 1)), text);
  // The reference value names the document's progress context: the sheet
  // goes on the document's own window.
  return LProgressSheet::UniversalProgressProcedure(inMessage, inPercent, inRefCon, text);
}

// ---------------------------------------------------------------------------
// The drawer with the stabiliser parameters

void CMovieDocument::OpenDrawer() {
  // The drawer hangs on the document window; without one there is none.
  if (!mWindow) return;
  if (!mStabilizerDrawer) {
    mStabilizerDrawer = new LDrawer(mWindow, PPob_StabilizerDrawer, StabilizerParametersProc, this);
    mDrawer = mStabilizerDrawer->GetWindow();
  }
  mStabilizerDrawer->Open();
}

void CMovieDocument::CloseDrawer() {
  if (mStabilizerDrawer) mStabilizerDrawer->Close();
}

namespace {

void ShowValue(LWindow* inDrawer, PaneIDT inField, Float32 inValue, bool inPercent) {
  Str255 text;
  if (inPercent)
    USessionSupport::FormatPercent(inValue, text);
  else
    USessionSupport::FormatSeconds(inValue, text);
  SetPaneText(inDrawer->FindPaneByIDOrNil(inField), text);
}

void SetControl(LWindow* inDrawer, PaneIDT inID, SInt32 inValue) {
  if (LControl* c = FindControl(inDrawer, inID)) {
    c->SetValue(inValue);
    const SInt16 small = 1;
    c->SetDataTag(0, 'size', sizeof small, &small);
  }
}

}  // namespace

SInt32 CMovieDocument::StabilizerParametersProc(LWindow* inDrawer, SInt32 inMessage, void* ioParam, void* inRefCon) {
  if (sIsOpening) return 0;
  ThrowIfNil_(inDrawer);
  auto* doc = static_cast<CMovieDocument*>(inRefCon);
  if (!doc) return 0;
  MotionSettings& s = doc->mMotionSettings;
  RenderFrameParams& p = doc->mRenderParams;
  auto value = [&]() -> SInt32 {
    if (ioParam) return *static_cast<SInt32*>(ioParam);
    LControl* c = FindControl(inDrawer, static_cast<PaneIDT>(inMessage));
    return c ? c->GetValue() : 0;
  };
  auto borderColorEnabled = [&](SInt32 inMode) {
    EnablePane(inDrawer->FindPaneByIDOrNil(pane_BorderColor), inMode == kBorderColor);
    EnablePane(inDrawer->FindPaneByIDOrNil(pane_BorderColorLabel), inMode == kBorderColor);
  };
  switch (inMessage) {
    case msg_DrawerReleased:
      // The drawer goes (with its window): forget it.
      doc->mStabilizerDrawer = nullptr;
      doc->mDrawer = nullptr;
      return 0;
    case msg_DrawerOpening: {
      sIsOpening = true;
      try {
        SetControl(inDrawer, pane_Smoothing, USessionSupport::SliderForSmoothingTime(s.lowpassTime));
        SetControl(inDrawer, pane_FadeIn, static_cast<SInt32>(s.fadeInDuration * 10));
        SetControl(inDrawer, pane_FadeOut, static_cast<SInt32>(s.fadeOutDuration * 10));
        SetControl(inDrawer, pane_Tolerance, static_cast<SInt32>(s.tolerance * 10));
        ShowValue(inDrawer, pane_SmoothingText, s.lowpassTime, false);
        ShowValue(inDrawer, pane_FadeInText, s.fadeInDuration, false);
        ShowValue(inDrawer, pane_FadeOutText, s.fadeOutDuration, false);
        ShowValue(inDrawer, pane_ToleranceText, s.tolerance, true);
        SetControl(inDrawer, pane_CorrectHorizontal, s.doHorizontal ? 1 : 0);
        SetControl(inDrawer, pane_CorrectVertical, s.doVertical ? 1 : 0);
        SetControl(inDrawer, pane_CorrectRotation, s.doRotation ? 1 : 0);
        SetControl(inDrawer, pane_CorrectZoom, s.doZoom ? 1 : 0);
        SetControl(inDrawer, pane_ZoomMode, s.zoomMode);
        SetControl(inDrawer, pane_BorderMode, p.borderMode);
        if (auto* swatch = dynamic_cast<CColorPickerPane*>(inDrawer->FindPaneByIDOrNil(pane_BorderColor)))
          swatch->SetColor(p.borderColor);
        borderColorEnabled(p.borderMode);
        const SInt16 sides[4] = {p.margins.top, p.margins.right, p.margins.left, p.margins.bottom};
        for (PaneIDT i = 0; i < 4; ++i) {
          SetControl(inDrawer, pane_BorderTop + i, sides[i]);
          SetPaneText(inDrawer->FindPaneByIDOrNil(pane_BorderTop + pane_BorderMirror + i), std::to_string(sides[i]));
        }
      } catch (...) {
        sIsOpening = false;
        throw;
      }
      sIsOpening = false;
      return 0;
    }
    case pane_Smoothing: {
      const Float32 t = USessionSupport::SmoothingTimeForSlider(value());
      if (t == s.lowpassTime) return 0;
      s.lowpassTime = t;
      ShowValue(inDrawer, pane_SmoothingText, t, false);
      doc->SetModified(true);
      doc->UpdateImagePath();
      return 0;
    }
    case pane_FadeIn:
    case pane_FadeOut:
    case pane_Tolerance: {
      const Float32 v = static_cast<Float32>(value() * 0.1);
      const PaneIDT field = inMessage == pane_FadeIn    ? pane_FadeInText
                            : inMessage == pane_FadeOut ? pane_FadeOutText
                                                        : pane_ToleranceText;
      (inMessage == pane_FadeIn ? s.fadeInDuration : inMessage == pane_FadeOut ? s.fadeOutDuration : s.tolerance) = v;
      ShowValue(inDrawer, field, v, inMessage == pane_Tolerance);
      doc->SetModified(true);
      doc->UpdateImagePath();
      if (inMessage == pane_Tolerance) USessionView::Refresh(doc->mMovieView);
      return 0;
    }
    case pane_CorrectHorizontal:
    case pane_CorrectVertical:
    case pane_CorrectRotation:
    case pane_CorrectZoom: {
      const UInt8 on = value() != 0 ? 1 : 0;
      if (inMessage == pane_CorrectHorizontal) s.doHorizontal = on;
      if (inMessage == pane_CorrectVertical) s.doVertical = on;
      if (inMessage == pane_CorrectRotation) s.doRotation = on;
      if (inMessage == pane_CorrectZoom) s.doZoom = on;
      doc->SetModified(true);
      doc->UpdateImagePath();
      return 0;
    }
    case pane_ZoomMode:
      s.zoomMode = value();
      doc->SetModified(true);
      doc->UpdateImagePath();
      return 0;
    case pane_BorderMode:
      p.borderMode = value();
      doc->SetModified(true);
      doc->UpdateMovieFrame(nullptr);
      borderColorEnabled(p.borderMode);
      if (doc->mMovie) doc->mMovie->Refresh();
      return 0;
    case pane_BorderColor: {
      // The swatch has asked for the colour and shows it already.
      auto* swatch = dynamic_cast<CColorPickerPane*>(inDrawer->FindPaneByIDOrNil(pane_BorderColor));
      if (swatch == nullptr) return 0;
      p.borderColor = swatch->GetColor();
      doc->SetModified(true);
      doc->UpdateMovieFrame(nullptr);
      return 0;
    }
    case pane_BorderTop:
    case pane_BorderRight:
    case pane_BorderLeft:
    case pane_BorderBottom: {
      const auto v = static_cast<SInt16>(std::clamp<SInt32>(value(), 0, 0x7FFF));
      SetPaneText(inDrawer->FindPaneByIDOrNil(static_cast<PaneIDT>(inMessage) + pane_BorderMirror),
                  std::to_string(v));
      if (inMessage == pane_BorderTop) p.margins.top = v;
      if (inMessage == pane_BorderRight) p.margins.right = v;
      if (inMessage == pane_BorderLeft) p.margins.left = v;
      if (inMessage == pane_BorderBottom) p.margins.bottom = v;
      if (doc->mMovie) doc->mMovie->Refresh();
      doc->UpdateMovieFrame(nullptr);
      return 0;
    }
    default:
      return 0;
  }
}

Boolean CMovieDocument::IsDrawerOpen() const { return mStabilizerDrawer && mStabilizerDrawer->IsOpen(); }

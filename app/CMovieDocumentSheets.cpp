// The movie document's own sheets and toolbar popups: the movie information
// report, the movie size, the movie format with its detection, the options
// of the export-tween sheet, the options and bookmark popups, and the info
// line of the movie view.
#include <cstring>
#include <memory>
#include <string>

#include "app/CMovieDocument.h"
#include "app/UExportTweenSheet.h"
#include "app/USessionSupport.h"
#include "app/USessionView.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMovieStatistic.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LStr255.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LTextControl.h"
#include "platform/ui/LTextEditView.h"
#include "platform/ui/LWindow.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UMessage.h"

namespace {

enum : SInt16 {
  str_PlaySelection = 12,
  str_Loop = 13,
  str_ShowSafeArea = 14,
  str_ShowMotionVectors = 15,
  str_ShowUncorrected = 16,
  str_MovieStart = 17,
  str_MovieEnd = 18,
  str_SelectionStart = 19,
  str_SelectionEnd = 20,
  str_StatisticsFailed = 21,
  str_FormatUndecided = 55,
};

constexpr SInt32 kCloseSheet = -128;
constexpr UInt16 kCheckMark = 18;

// The panes of the sheets.
constexpr PaneIDT pane_InfoText = 4;
constexpr PaneIDT pane_Width = 5;
constexpr PaneIDT pane_Height = 6;
constexpr MessageT msg_MovieOwnSize = 10;
constexpr MessageT msg_CurrentSize = 29;
constexpr PaneIDT pane_InterlaceMode = 10;
constexpr PaneIDT pane_VideoStandard = 11;
constexpr PaneIDT pane_Busy = 20;
constexpr PaneIDT pane_Status = 21;
constexpr PaneIDT pane_Detect = 25;
constexpr PaneIDT pane_OK = 1;
constexpr PaneIDT pane_Cancel = 2;

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

std::string PaneText(LPane* inPane) {
  if (auto* t = dynamic_cast<LTextControl*>(inPane)) return t->GetText();
  if (auto* s = dynamic_cast<LStaticText*>(inPane)) return s->GetText();
  return std::string();
}

// A typed size: the digits of the field, bounded to a sane positive side.
SInt32 TypedSide(LPane* inField) {
  const std::string text = PaneText(inField);
  SInt64 value = 0;
  bool any = false;
  for (char c : text) {
    if (c < '0' || c > '9') continue;
    any = true;
    value = std::min<SInt64>(value * 10 + (c - '0'), SInt64{1} << 40);
  }
  return USessionSupport::BoundSide(any ? value : 1);
}

template <class T>
T* Need(LCustomDialogSheet* inSheet, PaneIDT inID) {
  T* pane = dynamic_cast<T*>(inSheet->FindPaneByID(inID));
  ThrowIfNil_(pane);
  return pane;
}

void EnablePane(LPane* inPane, bool inEnabled) {
  if (!inPane) return;
  if (inEnabled)
    inPane->Enable();
  else
    inPane->Disable();
}

std::string TimeCode(CMovie* inMovie, SInt32 inTime) {
  LStr255 text;
  UMovies::GetTimeCode(inMovie, inTime, text);
  ConstStringPtr p = text;
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

// The report handed to the information sheet. The sheet's procedure takes
// the text out when it fills the sheet; whatever is left afterwards (the
// sheet failed to build before that) is freed by the one who made it.
struct SInfoReport {
  Handle text = nullptr;
  ~SInfoReport() {
    if (text) DisposeHandle(text);
  }
};

// Set while the size sheet's fields are being changed by the procedure itself.
bool sSizeUpdating = false;

}  // namespace

// ---------------------------------------------------------------------------
// Movie information

void CMovieDocument::ShowInfo() {
  if (!mMovie) return;
  SInfoReport report;
  {
    CMovieStatistic statistic(mMovie->GetMovie());
    const SInt32 context = mWindow ? LProgressSheet::NewProgressContext(mWindow, AsListener()) : 0;
    const OSErr err = statistic.ScanMovie(context ? LProgressSheet::UniversalProgressProcedure : nullptr,
                                          reinterpret_cast<void*>(static_cast<intptr_t>(context)));
    if (context) LProgressSheet::DisposeProgressContext(context);
    if (err != noErr && err != userCanceledErr && err != kProgressUserCanceled) {
      Str255 text;
      ToPascal(Text(str_StatisticsFailed), text);
      StopAlert(text, err);
      return;
    }
    // Also after a cancel: the report of what was scanned.
    report.text = statistic.CreateReport();
  }
  if (!report.text || !mWindow) return;
  auto* sheet = new LCustomDialogSheet(AsListener(), PPob_MovieInfoSheet, MovieInfoProc, &report);
  mWindow->AddSheet(sheet, true);
}

SInt32 CMovieDocument::MovieInfoProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void*, void* inRefCon) {
  switch (inMessage) {
    case msg_SheetBuilt: {
      // The text is the sheet's from here on, whatever happens next.
      auto* report = static_cast<SInfoReport*>(inRefCon);
      Handle text = report ? report->text : nullptr;
      if (report) report->text = nullptr;
      std::unique_ptr<char, void (*)(char*)> owner(reinterpret_cast<char*>(text), [](char* h) {
        if (h) DisposeHandle(reinterpret_cast<Handle>(h));
      });
      auto* pane = Need<LTextEditView>(inSheet, pane_InfoText);
      if (text) {
        HLock(text);
        pane->SetTextPtr(*text, GetHandleSize(text));
        HUnlock(text);
      }
      return 0;
    }
    case msg_SheetReturnKey:
    case msg_SheetEscapeKey:
      return kCloseSheet;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Tracks

void CMovieDocument::ShowTracksSheet() {
  if (!mWindow || !mMovie) return;
  // The sheet's procedure reaches the movie, the undoer and the session's
  // track through the document as its client.
  auto* sheet = new LCustomDialogSheet(AsListener(), PPob_TracksSheet, CTrackBrowser::TrackBrowserProc,
                                       static_cast<CTrackBrowserClient*>(this));
  mWindow->AddSheet(sheet, true);
}

// ---------------------------------------------------------------------------
// Movie size

void CMovieDocument::ShowSizeSheet() {
  if (!mWindow) return;
  auto* sheet = new LCustomDialogSheet(AsListener(), PPob_MovieSizeSheet, MovieSizeProc, this);
  mWindow->AddListener(sheet);
  mWindow->AddSheet(sheet, true);
}

SInt32 CMovieDocument::MovieSizeProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void*, void* inRefCon) {
  ThrowIfNil_(inSheet);
  ThrowIfNil_(inSheet->GetSheetWindow());
  auto* doc = static_cast<CMovieDocument*>(inRefCon);
  ThrowIfNil_(doc);
  ThrowIfNil_(doc->mMovie);
  LPane* width = Need<LPane>(inSheet, pane_Width);
  LPane* height = Need<LPane>(inSheet, pane_Height);
  if (sSizeUpdating) return 0;

  // The size shown now, and its aspect ratio (1 for a picture without height).
  SInt32 currentWidth = 0, currentHeight = 0;
  if (!USessionView::GetImageSize(doc->mMovieView, currentWidth, currentHeight)) {
    Rect display;
    doc->mMovie->GetDisplayBounds(display);
    currentWidth = display.right - display.left;
    currentHeight = display.bottom - display.top;
  }
  const double ratio = USessionSupport::AspectRatio(currentWidth, currentHeight);
  auto show = [&](SInt32 inWidth, SInt32 inHeight) {
    sSizeUpdating = true;
    SetPaneText(width, std::to_string(inWidth));
    SetPaneText(height, std::to_string(inHeight));
    sSizeUpdating = false;
  };
  switch (inMessage) {
    case msg_SheetBuilt:
    case msg_CurrentSize:
      show(currentWidth, currentHeight);
      inSheet->GetSheetWindow()->Refresh();
      return 0;
    case msg_MovieOwnSize: {
      Rect display;
      doc->mMovie->GetDisplayBounds(display);
      show(display.right - display.left, display.bottom - display.top);
      return 0;
    }
    case pane_Width: {
      const SInt32 w = TypedSide(width);
      sSizeUpdating = true;
      SetPaneText(height, std::to_string(USessionSupport::HeightForWidth(w, ratio)));
      sSizeUpdating = false;
      return 0;
    }
    case pane_Height: {
      const SInt32 h = TypedSide(height);
      sSizeUpdating = true;
      SetPaneText(width, std::to_string(USessionSupport::WidthForHeight(h, ratio)));
      sSizeUpdating = false;
      return 0;
    }
    case msg_SheetReturnKey: {
      const SInt32 w = TypedSide(width), h = TypedSide(height);
      if (w == currentWidth && h == currentHeight) return kCloseSheet;
      SInt32 size[2] = {0, 0};
      doc->CalcWindowSizeForMovieSize(w, h, size[0], size[1]);
      doc->PostProcedure(proc_ResizeWindow, size, sizeof size);
      return kCloseSheet;
    }
    case msg_SheetEscapeKey:
      return kCloseSheet;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Movie format

void CMovieDocument::ShowFormatSheet() {
  if (!mWindow) return;
  auto* sheet = new LCustomDialogSheet(AsListener(), PPob_MovieFormatSheet, MovieFormatProc, this);
  mWindow->AddListener(sheet);
  mWindow->AddSheet(sheet, true);
}

SInt32 CMovieDocument::MovieFormatProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam,
                                       void* inRefCon) {
  ThrowIfNil_(inSheet);
  ThrowIfNil_(inSheet->GetSheetWindow());
  auto* doc = static_cast<CMovieDocument*>(inRefCon);
  if (!doc) return 0;
  auto* mode = dynamic_cast<LControl*>(inSheet->FindPaneByID(pane_InterlaceMode));
  auto* standard = dynamic_cast<LControl*>(inSheet->FindPaneByID(pane_VideoStandard));
  LPane* busy = inSheet->FindPaneByID(pane_Busy);
  LPane* status = inSheet->FindPaneByID(pane_Status);
  LPane* detect = inSheet->FindPaneByID(pane_Detect);
  LPane* ok = inSheet->FindPaneByID(pane_OK);
  LPane* cancel = inSheet->FindPaneByID(pane_Cancel);
  if (!mode || !standard || !busy || !status || !detect || !ok || !cancel) return 0;
  auto standardFollowsMode = [&] { EnablePane(standard, mode->GetValue() != kInterlace_Progressive); };
  auto detecting = [&] { return doc->mFormatDetection != nullptr && doc->mFormatDetection == doc->mTask; };
  switch (inMessage) {
    case msg_SheetBuilt:
      mode->SetValue(doc->mRenderParams.interlaceMode);
      standard->SetValue(doc->mInterlaceDelay + 1);
      standardFollowsMode();
      busy->Hide();
      return 0;
    case msg_SheetDetached:
      // A detection still running would end unheard: it is asked to stop,
      // and its end reaches the document as the end of any task, which
      // clears the running task.
      if (detecting()) {
        doc->mFormatDetection->UserCanceled();
        doc->mFormatDetection->SetEndMessage(msg_MotionAnalysisEnded);
      }
      doc->mFormatDetection = nullptr;
      return 0;
    case pane_InterlaceMode:
    case pane_VideoStandard:
      standardFollowsMode();
      return 0;
    case pane_Detect: {
      if (doc->mTask) {
        doc->mTask->UserCanceled();
        return 0;
      }
      if (!doc->mMovie) return 0;
      auto* task = new CInterlaceTrackerTask(doc, false);
      task->AddListener(inSheet);
      task->SetEndMessage(msg_InterlaceAnalysisForFormatEnded);
      if (doc->BeginTask(task) != noErr) return 0;
      doc->mFormatDetection = task;
      SetPaneText(detect, std::string("Stop"));
      SetPaneText(status, std::string("Scanning Movie..."));
      busy->Show();
      ok->Disable();
      cancel->Disable();
      return 0;
    }
    case msg_InterlaceAnalysisForFormatEnded: {
      auto* task = dynamic_cast<CInterlaceTrackerTask*>(static_cast<CMovieTask*>(ioParam));
      if (!task) return 0;
      const QInterlaceMode resultMode = task->GetResultMode();
      const QInterlaceDelay resultDelay = task->GetResultStandard();
      if (resultMode != kInterlace_Undecided) mode->SetValue(resultMode);
      if (resultDelay != kInterlaceDelay_None) standard->SetValue(resultDelay + 1);
      doc->EndTask(task);
      if (doc->mFormatDetection == task) doc->mFormatDetection = nullptr;
      SetPaneText(detect, std::string("Auto Detect"));
      SetPaneText(status, std::string());
      busy->Hide();
      ok->Enable();
      cancel->Enable();
      standardFollowsMode();
      if (!USessionSupport::IsInterlaceDecided(resultMode, resultDelay) && !task->HasUserCanceled()) {
        Str255 text;
        ToPascal(Text(str_FormatUndecided), text);
        doc->CautionAlert(text, 0);
      }
      return 0;
    }
    case msg_SheetReturnKey:
      if (detecting()) {
        SysBeep(1);
        return 0;
      }
      if (doc->mMovie) doc->AdjustMovieFormat(mode->GetValue(), standard->GetValue() - 1);
      return kCloseSheet;
    case msg_SheetEscapeKey:
      if (detecting()) {
        SysBeep(1);
        return 0;
      }
      return kCloseSheet;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Toolbar popups and the info line

void CMovieDocument::UpdateOptionsButton(LMenu* inMenu) {
  if (!mMovie || !inMenu) return;
  StListeningOff quiet(this);
  inMenu->RemoveAllItems();
  inMenu->AppendItem(Text(str_PlaySelection));
  inMenu->AppendItem(Text(str_Loop));
  inMenu->AppendItem("-");
  inMenu->AppendItem(Text(str_ShowSafeArea));
  inMenu->AppendItem(Text(str_ShowMotionVectors));
  inMenu->AppendItem(Text(str_ShowUncorrected));
  const UInt32 options = mMovie->GetOptions();
  inMenu->SetItemMark(1, (options & kMovieOption_PlaySelection) ? kCheckMark : noMark);
  inMenu->SetItemMark(2, (options & kMovieOption_Loop) ? kCheckMark : noMark);
  inMenu->SetItemMark(4, (mDrawingOptions & kDrawTVSafe) ? kCheckMark : noMark);
  inMenu->SetItemMark(5, (mDrawingOptions & kDrawTitleSafe) ? kCheckMark : noMark);
  inMenu->SetItemEnabled(6, mSessionOpen);
  inMenu->SetItemMark(6, (mDrawingOptions & kDrawSafeBounds) ? kCheckMark : noMark);
}

void CMovieDocument::UpdateBookMarkButton(LMenu* inMenu) {
  if (!mMovie || !inMenu) return;
  StListeningOff quiet(this);
  inMenu->RemoveAllItems();
  inMenu->AppendItem(Text(str_MovieStart));
  inMenu->AppendItem(Text(str_MovieEnd));
  inMenu->AppendItem("-");
  inMenu->AppendItem(Text(str_SelectionStart));
  inMenu->AppendItem(Text(str_SelectionEnd));
  const SInt32 now = mMovie->GetTimeValue();
  inMenu->SetItemMark(1, now == 0 ? kCheckMark : noMark);
  inMenu->SetItemMark(2, now == mMovie->GetDuration() ? kCheckMark : noMark);
  SInt32 start = 0, stop = 0;
  mMovie->GetSelection(&start, &stop);
  const bool any = stop > start;
  inMenu->SetItemEnabled(4, any);
  inMenu->SetItemEnabled(5, any);
  if (any) {
    inMenu->SetItemText(4, Text(str_SelectionStart) + ":    " + TimeCode(mMovie, start));
    inMenu->SetItemText(5, Text(str_SelectionEnd) + ": " + TimeCode(mMovie, stop));
    inMenu->SetItemMark(4, now == start ? kCheckMark : noMark);
    inMenu->SetItemMark(5, now == stop ? kCheckMark : noMark);
  }
}

void CMovieDocument::UpdateMovieInfo() {
  if (!mMovie) return;
  const SInt32 now = mMovie->GetTimeValue();
  SInt32 start = 0, stop = 0;
  mMovie->GetSelection(&start, &stop);
  std::string info;
  if (now == 0) info += Text(str_MovieStart) + '\r';
  if (now == mMovie->GetDuration()) info += Text(str_MovieEnd) + '\r';
  const OSType visual = 'eyes';
  SInt32 firstEnd = -1;
  if (!mMovie->GetNextInterestingTime(nextTimeMediaSample, 1, &visual, start, &firstEnd, 1) || firstEnd <= start)
    firstEnd = start + 1;
  if (now >= start && now < firstEnd) info += Text(str_SelectionStart) + '\r';
  if (stop > start) {
    SInt32 lastStart = -1;
    if (!mMovie->GetPreviousInterestingTime(nextTimeMediaSample, 1, &visual, stop, &lastStart, 1) || lastStart >= stop)
      lastStart = stop - 1;
    if (now >= lastStart && now < stop) info += Text(str_SelectionEnd) + '\r';
  }
  mInfoLine = info;
  USessionView::SetInfoString(mMovieView, info.c_str());
}

Boolean CMovieDocument::AllFeaturesSupportedByTween() {
  ThrowIfNil_(mMovie);
  Movie movie = mMovie->GetMovie();
  for (SInt32 i = 1; i <= GetMovieTrackCount(movie); ++i) {
    Track track = GetMovieIndTrack(movie, i);
    if (!track || GetTrackLayer(track) != kControlTrackLayer || !GetTrackEnabled(track)) continue;
    if (GetTrackDuration(track) <= 0) continue;
    RenderFrameParams params;
    ThrowIfOSErr_(CMovieRendering::ReadRenderParamsFromTrack(track, params));
    const Rect& r = params.margins;
    if (r.top || r.left || r.bottom || r.right || params.borderMode == kBorderFilled) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The export-tween sheet's options: class-wide, changed at once by its boxes

namespace UExportTweenSheet {

Boolean GetOption(SInt16 inItem) {
  switch (inItem) {
    case kTweenItemSelectionOnly: return CMovieDocument::sTweenSelectionOnly;
    case kTweenItemOpenMovie: return CMovieDocument::sTweenOpenMovie;
    case kTweenItemHoldLastFrame: return (CMovieDocument::sTweenMovieOptions & kTweenHoldLastFrameOption) != 0;
    default: return false;
  }
}

void SetOption(SInt16 inItem, Boolean inOn) {
  switch (inItem) {
    case kTweenItemSelectionOnly: CMovieDocument::sTweenSelectionOnly = inOn; break;
    case kTweenItemOpenMovie: CMovieDocument::sTweenOpenMovie = inOn; break;
    case kTweenItemHoldLastFrame:
      if (inOn)
        CMovieDocument::sTweenMovieOptions |= kTweenHoldLastFrameOption;
      else
        CMovieDocument::sTweenMovieOptions &= ~kTweenHoldLastFrameOption;
      break;
    default: break;
  }
}

}  // namespace UExportTweenSheet

// The movie document's life: construction from a file or a movie, the
// window of layout 1000 and its panes, attaching and detaching the movie,
// the settings item stored in the movie, the window sizes.
#include "app/CMovieDocument.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/UExportTweenSheet.h"
#include "media/CBuffer.h"
#include "media/CMovieAction.h"
#include "media/UMovies.h"
#include "motion/CTaskProgressView.h"
#include "platform/base/FreeMemory.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/framework/LAction.h"
#include "platform/framework/LTimerTask.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UWindowState.h"
#include "toolkit/CReUndoer.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LGotoButton.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

const SInt32 kPlayRates[kPlayRateCount] = {-1000, -500, -200, -100, -50, -20, -10, 10, 20, 50, 100, 200, 500, 1000};

Boolean CMovieDocument::sAllowDep = true;
Boolean CMovieDocument::sEnforceSelfContainment = false;
Boolean CMovieDocument::sOpenMovie = true;
Boolean CMovieDocument::sTweenOpenMovie = true;
Boolean CMovieDocument::sTweenSelectionOnly = true;
UInt32 CMovieDocument::sTweenMovieOptions = 0x100;
CMovieDocument::ExportProc CMovieDocument::sExportProc = nullptr;
CMovieDocument::AskExportProc CMovieDocument::sAskExportProc = nullptr;

namespace {

// The commander that stands for the time-code field while it has the
// keyboard: its keys go up to the window and the document.
class CTimeFieldCommander : public LCommander {
 public:
  explicit CTimeFieldCommander(LCommander* inSuper) : LCommander(inSuper) {}
};

// The settings item's tags, in the order they are written.
constexpr OSType kTagSmoothing = 'loTm';
constexpr OSType kTagFadeIn = 'FiDr';
constexpr OSType kTagFadeOut = 'FoDr';
constexpr OSType kTagTolerance = 'Tlrc';
constexpr OSType kTagHorizontal = 'DoHr';
constexpr OSType kTagVertical = 'DoVt';
constexpr OSType kTagRotation = 'DoRt';
constexpr OSType kTagZoom = 'DoZm';
constexpr OSType kTagZoomMode = 'ZmMd';
constexpr OSType kTagBackColor = 'BcCl';
constexpr OSType kTagBorderMode = 'BcMd';
constexpr OSType kTagBorderRect = 'CtMB';
constexpr OSType kTagAccuracy = 'TrAc';
constexpr OSType kTagDrawOptions = 'DrOp';
constexpr OSType kTagInterlaceMode = 'IntM';
constexpr OSType kTagInterlaceDelay = 'IntD';
constexpr OSType kTagRegion = 'RoiR';
constexpr OSType kTagEnd = '>>>>';

// Times in the settings (seconds) and the tolerance (percent) beyond these
// are not values a user could have set.
constexpr Float32 kMaxSettingsSeconds = 3600.0f;
constexpr Float32 kMaxTolerance = 100.0f;
constexpr UInt32 kKnownDrawingOptions = kDrawSafeBounds | kDrawTVSafe | kDrawTitleSafe | kDrawRegionOfInterest;

UInt32 BE32(const UInt8* p) {
  return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}
SInt16 BE16(const UInt8* p) { return static_cast<SInt16>((UInt16(p[0]) << 8) | UInt16(p[1])); }
Float32 BEFloat(const UInt8* p) {
  UInt32 bits = BE32(p);
  Float32 f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
Rect BERect(const UInt8* p) { return Rect{BE16(p), BE16(p + 2), BE16(p + 4), BE16(p + 6)}; }

void PutBERect(UInt8* p, const Rect& r) {
  const SInt16 v[4] = {r.top, r.left, r.bottom, r.right};
  for (int i = 0; i < 4; ++i) {
    p[2 * i] = static_cast<UInt8>(static_cast<UInt16>(v[i]) >> 8);
    p[2 * i + 1] = static_cast<UInt8>(v[i] & 0xFF);
  }
}

Boolean RectInside(const Rect& inInner, const Rect& inOuter) {
  return inInner.left >= inOuter.left && inInner.top >= inOuter.top && inInner.right <= inOuter.right &&
         inInner.bottom <= inOuter.bottom;
}

// What a closed document freed (its frames, decoders and window) goes back to
// the system on the next pass of the loop, once the window's widgets, which
// Qt deletes later, are gone too. Several documents closing together share
// one release.
class CFreedMemoryRelease : public LTimerTask {
 public:
  static void Schedule() {
    static auto* sRelease = new CFreedMemoryRelease;
    sRelease->SetNextFireTime(0.0);
  }
  void DoTask() override { ReleaseFreeMemory(); }
};

}  // namespace

// Puts the attachment that holds undo and redo back while a task runs.
void InstallTaskGuard(CMovieDocument* inDocument);

Handle CMovieDocument::GetIndicatorIcon(SInt16 inID) {
  // The slider draws its indicator itself; the handle names which one.
  static Handle sIcons[3] = {nullptr, nullptr, nullptr};
  if (inID < kIndicatorNormal || inID > kIndicatorControl) return nullptr;
  Handle& icon = sIcons[inID - kIndicatorNormal];
  if (icon == nullptr) {
    icon = NewHandle(sizeof(SInt16));
    if (icon != nullptr) std::memcpy(*icon, &inID, sizeof inID);
  }
  return icon;
}

// ---------------------------------------------------------------------------
// Construction and destruction

CMovieDocument::CMovieDocument(FSSpec& inSpec) {
  try {
    Init();
    OpenFile(inSpec);
    AdjustWindowToMovieSize(1.0f);
    LStr255 title(inSpec.name);
    // The record's name is cut for display; the title takes the whole leaf.
    std::string path = FSSpecPath(inSpec);
    std::string leaf = path.substr(path.find_last_of('/') + 1);
    SetDescriptor(LStr255(leaf.c_str()));
    mWindow->Show();
  } catch (...) {
    CleanupAfterFailure();
    throw;
  }
}

CMovieDocument::CMovieDocument(CMovie* inMovie) {
  // The document owns the movie from here on, also when it fails to open.
  CMovie* adopted = inMovie;
  try {
    Init();
    if (adopted == nullptr) adopted = new CMovie;
    ThrowIfNil_(adopted);
    CMovie* movie = adopted;
    adopted = nullptr;
    AttachNewMovie(movie);
    AdjustWindowToMovieSize(1.0f);
    SetDescriptor(LStr255(IndString(STRx_MovieDocument, 1).c_str()));
    mWindow->Show();
  } catch (const LException& e) {
    LStr255 text(IndString(STRx_MovieDocument, 2).c_str());
    try {
      StopAlert(text, ErrorCodeToOSErr(e.GetErrorCode()));
    } catch (...) {
      LogCurrentException("documents", "new movie alert");
    }
    delete adopted;
    CleanupAfterFailure();
    throw;
  } catch (...) {
    delete adopted;
    CleanupAfterFailure();
    throw;
  }
}

void CMovieDocument::CleanupAfterFailure() {
  mDestroying = true;
  if (mMovie != nullptr) {
    mMovie->RemoveListener(AsListener());
    delete mMovie;
    mMovie = nullptr;
  }
  if (mWindow != nullptr) {
    CRegularWindow* window = mWindow;
    mWindow = nullptr;
    delete window;
  }
}

CMovieDocument::~CMovieDocument() {
  mDestroying = true;
  if (mTweenSheet != nullptr) {
    // Its dialog goes unanswered with it, before the window it hangs on.
    LMovieExportTweenNavSheet* sheet = mTweenSheet;
    mTweenSheet = nullptr;
    UExportTweenSheet::Dismiss(sheet);
  }
  try {
    EndEditSession(false);
  } catch (...) {
    LogCurrentException("documents", "~CMovieDocument");
  }
  // What the document still had to do runs now (saves, exports); the
  // procedures that would close or ask are skipped by ExecuteProcedure.
  DoTask();
  if (mTask != nullptr) {
    // Its end message must not reach a document half gone.
    CMovieTask* task = mTask;
    mTask = nullptr;
    task->RemoveListener(static_cast<CMovieTaskDocument*>(this));
    task->SetEndMessage(msg_Nothing);
    task->DeleteThread();
  }
  LCommander::PostAction(nullptr);
  if (IsOnDuty()) TakeOffDuty();
  if (mMovie != nullptr) {
    CMovie* movie = DetachMovie();
    delete movie;
  }
  if (mBufferWorld != nullptr) {
    DisposeGWorld(mBufferWorld);
    mBufferWorld = nullptr;
  }
  if (mBuffer != nullptr) {
    mBuffer->Release();
    mBuffer = nullptr;
  }
  if (mProgressContext != 0) {
    LProgressSheet::DisposeProgressContext(mProgressContext);
    mProgressContext = 0;
  }
  // The panes point into this document (its motion data): the window goes
  // before the members do.
  if (mWindow != nullptr) {
    CRegularWindow* window = mWindow;
    mWindow = nullptr;
    delete window;
  }
  mDrawer = nullptr;
  CFreedMemoryRelease::Schedule();
}

void CMovieDocument::SetDefaultSettings() {
  mRenderParams = RenderFrameParams();
  mRenderParams.interlaceMode = kInterlace_Undecided;
  mRenderParams.fieldMode = 1;
  mRenderParams.quality = kQualityHigh;
  mRenderParams.borderMode = kBorderColor;
  mRenderParams.margins = Rect{0, 0, 0, 0};
  mRenderParams.borderColor = RGBColor{0, 0, 0};
  mMotionSettings = MotionSettings();
  mMotionSettings.doRotation = 0;
  mMotionSettings.doZoom = 0;
  mTrackingAccuracy = 2;
  mDrawingOptions = kDrawSafeBounds;
  mInterlaceDelay = kInterlaceDelay_None;
}

void CMovieDocument::Init() {
  SetDefaultSettings();
  LWindow* window = UReanimator::CreateWindow(PPob_MovieDocument, this);
  ThrowIfNil_(window);
  mWindow = dynamic_cast<CRegularWindow*>(window);
  if (mWindow == nullptr) {
    delete window;
    Throw_('nilP');
  }
  mWindow->AddListener(AsListener());

  auto pane = [this](PaneIDT inID) {
    LPane* p = mWindow->FindPaneByID(inID);
    ThrowIfNil_(p);
    return p;
  };
  auto control = [&](PaneIDT inID) {
    LControl* c = dynamic_cast<LControl*>(pane(inID));
    ThrowIfNil_(c);
    return c;
  };
  auto popup = [&](PaneIDT inID) {
    LPopupButton* c = dynamic_cast<LPopupButton*>(pane(inID));
    ThrowIfNil_(c);
    return c;
  };
  mTimeSliderPane = pane(kPaneTimeSlider);
  mMovieViewPane = pane(kPaneMovieView);
  mTimeSlider = dynamic_cast<CTimeSlider*>(mTimeSliderPane);
  mMovieView = dynamic_cast<CMovieView*>(mMovieViewPane);
  ThrowIfNil_(mTimeSlider);
  ThrowIfNil_(mMovieView);
  Handle normal = GetIndicatorIcon(kIndicatorNormal);
  ThrowIfNil_(normal);
  mTimeSlider->SetSliderIcon(normal, false);
  mTimeSlider->SetSuperCommander(mWindow);
  mWindow->SetLatentSub(mTimeSlider);
  mTimeSlider->mMotionData = &mMotionData;
  mTimeSlider->AddListener(AsListener());
  mMovieView->mMotionData = &mMotionData;
  mMovieView->SetDrawingOptions(static_cast<SInt32>(mDrawingOptions), 0, false);
  mMovieView->AddListener(AsListener());
  mCenterView = mWindow->FindPaneByID(kPaneCenterView);
  mTimeField = dynamic_cast<LEditField*>(pane(kPaneTimeField));
  ThrowIfNil_(mTimeField);
  mTimeFieldCommander = new CTimeFieldCommander(mWindow);
  mPreviewButton = control(kPanePreviewButton);
  mPlayButton = control(kPanePlayButton);
  // The go-to and options buttons pop up menus the document fills as they open.
  auto menuButton = [&](PaneIDT inID, MessageT inUpdateMessage) {
    LGotoButton* b = dynamic_cast<LGotoButton*>(pane(inID));
    ThrowIfNil_(b);
    b->SetUpdateMenuMessage(inUpdateMessage);
    return b;
  };
  mBookmarkPopup = menuButton(kPaneBookmarkPopup, msg_BookmarkPopulate);
  mOptionsPopup = menuButton(kPaneOptionsPopup, msg_OptionsPopulate);
  mROIButton = control(kPaneROIButton);
  mInPointButton = control(kPaneInPointButton);
  mOutPointButton = control(kPaneOutPointButton);
  mPlayRatePopup = popup(kPanePlayRatePopup);
  mToolbar = pane(kPaneToolbar);
  mPreviewButton->Disable();

  UpdateTimeEditors();
  InstallTaskGuard(this);
  AddAttachment(new CReUndoer);
  mUsesUndoer = true;
  UReanimator::LinkListenerToBroadcasters(AsListener(), mWindow, RidL_MovieDocument);
  mProgressRecord.window = mWindow;
  mProgressRecord.listener = AsListener();
  mProgressRecord.counter = 0;
  mWindow->Refresh();
}

// ---------------------------------------------------------------------------
// The movie

void CMovieDocument::AttachNewMovie(CMovie* inMovie) {
  if (mMovie != nullptr && mMovie != inMovie) {
    CMovie* old = DetachMovie();
    delete old;
  }
  ThrowIfNil_(inMovie);
  mMovie = inMovie;
  mMovie->AddListener(AsListener());
  // Long toolbox operations on the movie (a self-contained save) report to a
  // progress sheet on the window, whose Cancel stops them.
  if (mProgressContext == 0 && mWindow != nullptr)
    mProgressContext = LProgressSheet::NewProgressContext(mWindow, AsListener());
  mMovie->SetMovieProgressProc(MovieProgress, mProgressContext);
  if (mMovieView != nullptr) mMovieView->UseMovie(mMovie);
  SetPlayRateItem(PlayRateItem(mMovie->GetPlayRate()));
  Rect display;
  mMovie->GetDisplayBounds(display);
  if (mPreviewButton != nullptr) {
    if (EmptyRect(&display))
      mPreviewButton->Disable();
    else
      mPreviewButton->Enable();
  }
  mRegionOfInterest = display;
  if (mTimeSlider != nullptr) mTimeSlider->AttachMovie(mMovie);
  if (mMovieView != nullptr) mMovieView->SetROIRect(display);
  ReadSettingsFromMovie(mMovie);
  if (mRenderParams.interlaceMode == kInterlace_Undecided) {
    QInterlaceMode mode = kInterlace_Undecided;
    QInterlaceDelay delay = kInterlaceDelay_None;
    mMovie->GetInterlaceMode(mode, delay);
    mRenderParams.interlaceMode = mode;
    mInterlaceDelay = delay;
  }
  AdjustMovieQuality();
  UpdateTimeEditors();
}

CMovie* CMovieDocument::DetachMovie() {
  CMovie* movie = mMovie;
  if (movie == nullptr) return nullptr;
  LCommander::PostAction(nullptr);
  movie->StopPlaying();
  movie->RemoveListener(AsListener());
  movie->SetMovieProgressProc(nullptr, 0);
  if (mTimeSlider != nullptr) mTimeSlider->DettachMovie();
  if (mMovieView != nullptr && mMovieView->GetMovie() == movie) mMovieView->UseMovie(nullptr);
  movie->SetView(nullptr);
  mMovie = nullptr;
  if (mPreviewButton != nullptr) mPreviewButton->Disable();
  if (!mDestroying) UpdateTimeEditors();
  return movie;
}

void CMovieDocument::OpenFile(FSSpec& inSpec) {
  CMovie* movie = new CMovie(&inSpec);
  SetFile(&inSpec);
  AttachNewMovie(movie);
  SetSpecified(true);
  mMovie->ClearDirty();
  CSingleDocument::SetModified(false);
}

Boolean CMovieDocument::IsModified() {
  return CSingleDocument::IsModified() || (mMovie != nullptr && mMovie->IsDirty());
}

void CMovieDocument::SetModified(Boolean inModified) {
  CSingleDocument::SetModified(inModified);
  if (!inModified) {
    if (mMovie != nullptr) mMovie->ClearDirty();
    if (mTimeSlider != nullptr)
      mTimeSlider->PostAction(nullptr);
    else
      LCommander::PostAction(nullptr);
  }
  UpdateProxy();
}

Boolean CMovieDocument::IsSpecified() {
  if (!CSingleDocument::IsSpecified()) return false;
  if (mMovie == nullptr) return true;
  return (mMovie->GetMovieProperties() &
          (kMovieProp_ReadOnly | kMovieProp_NoDataRef | kMovieProp_VolatileData | kMovieProp_Locked)) == 0;
}

// ---------------------------------------------------------------------------
// The settings item

OSErr CMovieDocument::WriteSettingsToMovie(CMovie* inMovie) {
  try {
    ThrowIfNil_(inMovie);
    LTagWriter w;
    UInt8 rect[8];
    UInt8 color[6];
    OSErr err = noErr;
    auto check = [&](OSErr e) {
      if (e != noErr) err = e;
    };
    check(w.WriteFloat(kTagSmoothing, mMotionSettings.lowpassTime));
    check(w.WriteFloat(kTagFadeIn, mMotionSettings.fadeInDuration));
    check(w.WriteFloat(kTagFadeOut, mMotionSettings.fadeOutDuration));
    check(w.WriteFloat(kTagTolerance, mMotionSettings.tolerance));
    UInt8 b = mMotionSettings.doHorizontal ? 1 : 0;
    check(w.WriteNextTag(kTagHorizontal, 1, &b));
    b = mMotionSettings.doVertical ? 1 : 0;
    check(w.WriteNextTag(kTagVertical, 1, &b));
    b = mMotionSettings.doRotation ? 1 : 0;
    check(w.WriteNextTag(kTagRotation, 1, &b));
    b = mMotionSettings.doZoom ? 1 : 0;
    check(w.WriteNextTag(kTagZoom, 1, &b));
    check(w.WriteSInt32(kTagZoomMode, mMotionSettings.zoomMode));
    const UInt16 rgb[3] = {mRenderParams.borderColor.red, mRenderParams.borderColor.green,
                           mRenderParams.borderColor.blue};
    for (int i = 0; i < 3; ++i) {
      color[2 * i] = static_cast<UInt8>(rgb[i] >> 8);
      color[2 * i + 1] = static_cast<UInt8>(rgb[i] & 0xFF);
    }
    check(w.WriteNextTag(kTagBackColor, 6, color));
    check(w.WriteSInt32(kTagBorderMode, mRenderParams.borderMode));
    PutBERect(rect, mRenderParams.margins);
    check(w.WriteNextTag(kTagBorderRect, 8, rect));
    check(w.WriteSInt32(kTagAccuracy, mTrackingAccuracy));
    check(w.WriteSInt32(kTagDrawOptions, static_cast<SInt32>(mDrawingOptions)));
    check(w.WriteSInt32(kTagInterlaceMode, mRenderParams.interlaceMode));
    check(w.WriteSInt32(kTagInterlaceDelay, mInterlaceDelay));
    PutBERect(rect, mRegionOfInterest);
    check(w.WriteNextTag(kTagRegion, 8, rect));
    check(w.WriteNextTag(kTagEnd, 0, nullptr));
    ThrowIfOSErr_(err);
    Handle h = w.GetHandle();
    ThrowIfNil_(h);
    UserData ud = GetMovieUserData(inMovie->GetMovie());
    ThrowIfNil_(ud);
    if (CountUserDataType(ud, kMovieSettingsType) >= kMovieSettingsIndex)
      RemoveUserData(ud, kMovieSettingsType, kMovieSettingsIndex);
    ThrowIfOSErr_(AddUserData(ud, h, kMovieSettingsType));
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  } catch (...) {
    return memFullErr;
  }
  return noErr;
}

Boolean CMovieDocument::CheckedSettingsValue(OSType inTag, const void* inData, UInt32 inLength,
                                             const Rect& inBounds) {
  const UInt8* p = static_cast<const UInt8*>(inData);
  const SInt32 width = inBounds.right - inBounds.left;
  const SInt32 height = inBounds.bottom - inBounds.top;
  switch (inTag) {
    case kTagSmoothing:
    case kTagFadeIn:
    case kTagFadeOut: {
      if (inLength != 4) return false;
      Float32 f = BEFloat(p);
      return std::isfinite(f) && f >= 0.0f && f <= kMaxSettingsSeconds;
    }
    case kTagTolerance: {
      if (inLength != 4) return false;
      Float32 f = BEFloat(p);
      return std::isfinite(f) && f >= 0.0f && f <= kMaxTolerance;
    }
    case kTagHorizontal:
    case kTagVertical:
    case kTagRotation:
    case kTagZoom: return inLength == 1 && p[0] <= 1;
    case kTagZoomMode: {
      if (inLength != 4) return false;
      SInt32 v = static_cast<SInt32>(BE32(p));
      return v >= kZoomNone && v <= kZoomFull;
    }
    case kTagBackColor: return inLength == 6;
    case kTagBorderMode: {
      if (inLength != 4) return false;
      SInt32 v = static_cast<SInt32>(BE32(p));
      return v >= kBorderTransparent && v <= kBorderFilled;
    }
    case kTagBorderRect: {
      // Margins cut from each side: none negative, and what they leave of
      // the picture not empty.
      if (inLength != 8) return false;
      Rect m = BERect(p);
      if (m.top < 0 || m.left < 0 || m.bottom < 0 || m.right < 0) return false;
      if (width <= 0 || height <= 0) return m.top == 0 && m.left == 0 && m.bottom == 0 && m.right == 0;
      return m.left + m.right < width && m.top + m.bottom < height;
    }
    case kTagAccuracy: {
      if (inLength != 4) return false;
      SInt32 v = static_cast<SInt32>(BE32(p));
      return v >= 1 && v <= 3;
    }
    case kTagDrawOptions: return inLength == 4 && (BE32(p) & ~kKnownDrawingOptions) == 0;
    case kTagInterlaceMode: {
      if (inLength != 4) return false;
      SInt32 v = static_cast<SInt32>(BE32(p));
      return v >= kInterlace_Undecided && v <= kInterlace_EvenFirst;
    }
    case kTagInterlaceDelay: {
      if (inLength != 4) return false;
      SInt32 v = static_cast<SInt32>(BE32(p));
      return v >= kInterlaceDelay_None && v <= kInterlaceDelay_NTSC;
    }
    case kTagRegion: {
      if (inLength != 8) return false;
      Rect r = BERect(p);
      return r.left < r.right && r.top < r.bottom && RectInside(r, inBounds);
    }
    default: return false;
  }
}

OSErr CMovieDocument::ReadSettingsFromMovie(CMovie* inMovie) {
  if (inMovie == nullptr) return paramErr;
  UserData ud = GetMovieUserData(inMovie->GetMovie());
  if (ud == nullptr) return userDataItemNotFound;
  Handle h = NewHandle(0);
  if (h == nullptr) return memFullErr;
  OSErr err = ::GetUserData(ud, h, kMovieSettingsType, kMovieSettingsIndex);
  if (err != noErr) {
    DisposeHandle(h);
    return err;
  }
  Rect display;
  inMovie->GetDisplayBounds(display);
  LTagReader reader(h, true);
  UInt32 tag = 0, length = 0;
  const SInt32 size = GetHandleSize(h);
  while (reader.ReadNextTag(tag, length)) {
    // A record that claims more than the item holds ends the reading.
    UInt32 at = reader.GetStream()->GetMarker();
    if (length > 64 || at + length > static_cast<UInt32>(size)) break;
    UInt8 data[64];
    try {
      if (length > 0) reader.ReadData(data, static_cast<SInt32>(length));
    } catch (...) {
      break;
    }
    if (!CheckedSettingsValue(tag, data, length, display)) continue;
    switch (tag) {
      case kTagSmoothing: mMotionSettings.lowpassTime = BEFloat(data); break;
      case kTagFadeIn: mMotionSettings.fadeInDuration = BEFloat(data); break;
      case kTagFadeOut: mMotionSettings.fadeOutDuration = BEFloat(data); break;
      case kTagTolerance: mMotionSettings.tolerance = BEFloat(data); break;
      case kTagHorizontal: mMotionSettings.doHorizontal = data[0]; break;
      case kTagVertical: mMotionSettings.doVertical = data[0]; break;
      case kTagRotation: mMotionSettings.doRotation = data[0]; break;
      case kTagZoom: mMotionSettings.doZoom = data[0]; break;
      case kTagZoomMode: mMotionSettings.zoomMode = static_cast<SInt32>(BE32(data)); break;
      case kTagBackColor:
        mRenderParams.borderColor = RGBColor{static_cast<UInt16>(BE16(data)), static_cast<UInt16>(BE16(data + 2)),
                                             static_cast<UInt16>(BE16(data + 4))};
        break;
      case kTagBorderMode: mRenderParams.borderMode = static_cast<SInt32>(BE32(data)); break;
      case kTagBorderRect: mRenderParams.margins = BERect(data); break;
      case kTagAccuracy: mTrackingAccuracy = static_cast<SInt32>(BE32(data)); break;
      case kTagDrawOptions: {
        UInt32 options = BE32(data);
        if (mMovieView != nullptr) {
          mMovieView->SetDrawingOptions(0, static_cast<SInt32>(mDrawingOptions), false);
          mMovieView->SetDrawingOptions(static_cast<SInt32>(options), 0, false);
        }
        mDrawingOptions = options;
        UseSpatialSelection((options & kDrawRegionOfInterest) != 0);
        break;
      }
      case kTagInterlaceMode: mRenderParams.interlaceMode = static_cast<SInt32>(BE32(data)); break;
      case kTagInterlaceDelay: mInterlaceDelay = static_cast<SInt32>(BE32(data)); break;
      case kTagRegion:
        mRegionOfInterest = BERect(data);
        if (mMovieView != nullptr) mMovieView->SetROIRect(mRegionOfInterest);
        break;
      default: break;
    }
  }
  mMotionData.InvalidateMatrices();
  return noErr;
}

// ---------------------------------------------------------------------------
// Window sizes

void CMovieDocument::CalcWindowSizeForMovieSize(SInt32 inMovieWidth, SInt32 inMovieHeight, SInt32& outWidth,
                                                SInt32& outHeight) {
  outWidth = inMovieWidth;
  outHeight = inMovieHeight;
  if (mWindow == nullptr) return;
  LPane* area = mCenterView != nullptr ? mCenterView : mMovieViewPane;
  SDimension16 windowSize, areaSize = {0, 0};
  mWindow->GetFrameSize(windowSize);
  if (area != nullptr) area->GetFrameSize(areaSize);
  outWidth = inMovieWidth - areaSize.width + windowSize.width;
  outHeight = inMovieHeight - areaSize.height + windowSize.height;
  Rect minMax;
  mWindow->GetMinMaxSize(minMax);
  outWidth = std::max<SInt32>(outWidth, minMax.left);
  outHeight = std::max<SInt32>(outHeight, minMax.top);
  outWidth = std::min<SInt32>(outWidth, std::max<SInt32>(minMax.right, minMax.left));
  outHeight = std::min<SInt32>(outHeight, std::max<SInt32>(minMax.bottom, minMax.top));
}

void CMovieDocument::CalcBestWindowSize(float inScale, SInt32& outWidth, SInt32& outHeight) {
  Rect display = {0, 0, 0, 0};
  if (mMovie != nullptr) mMovie->GetDisplayBounds(display);
  SInt32 w = static_cast<SInt32>((display.right - display.left) * inScale);
  SInt32 h = static_cast<SInt32>((display.bottom - display.top) * inScale);
  CalcWindowSizeForMovieSize(w, h, outWidth, outHeight);
}

void CMovieDocument::AdjustWindowToMovieSize(float inScale) {
  if (mWindow == nullptr || mMovie == nullptr) return;
  SInt32 w = 0, h = 0;
  CalcBestWindowSize(inScale, w, h);
  // A window larger than the screen's free area shows the movie smaller,
  // keeping its shape, so that the whole window and its controls fit.
  const Rect area = UWindowState::GetAvailableScreenArea(mWindow);
  const Rect margins = UWindowState::GetFrameMargins(mWindow);
  const SInt32 roomW = area.right - area.left - margins.left - margins.right;
  const SInt32 roomH = area.bottom - area.top - margins.top - margins.bottom;
  if (roomW > 0 && roomH > 0 && (w > roomW || h > roomH)) {
    Rect display = {0, 0, 0, 0};
    mMovie->GetDisplayBounds(display);
    const double movieW = (display.right - display.left) * static_cast<double>(inScale);
    const double movieH = (display.bottom - display.top) * static_cast<double>(inScale);
    const double chromeW = w - movieW, chromeH = h - movieH;
    if (movieW > 0 && movieH > 0) {
      const double fit = std::min((roomW - chromeW) / movieW, (roomH - chromeH) / movieH);
      if (fit > 0 && fit < 1)
        CalcWindowSizeForMovieSize(static_cast<SInt32>(movieW * fit), static_cast<SInt32>(movieH * fit), w, h);
    }
  }
  w = std::clamp<SInt32>(w, 1, 32767);
  h = std::clamp<SInt32>(h, 1, 32767);
  mWindow->ResizeWindowTo(static_cast<SInt16>(w), static_cast<SInt16>(h));
  UWindowState::KeepOnScreen(mWindow);
  mSizedScale = inScale;
  mWindow->GetFrameSize(mSizedFrame);
}

void CMovieDocument::WindowFrameMarginsChanged() {
  if (mWindow == nullptr || mMovie == nullptr || mSizedScale <= 0) return;
  // A window the user has resized since keeps its size (it was kept on the
  // screen already).
  SDimension16 now;
  mWindow->GetFrameSize(now);
  if (now.width == mSizedFrame.width && now.height == mSizedFrame.height) AdjustWindowToMovieSize(mSizedScale);
}

void CMovieDocument::ToggleShowToolbar() {
  if (mWindow == nullptr || mToolbar == nullptr) return;
  SDimension16 bar;
  mToolbar->GetFrameSize(bar);
  const SBooleanRect none = {false, false, false, false};
  SBooleanRect barBinding, areaBinding = none;
  mToolbar->GetFrameBinding(barBinding);
  LPane* area = mCenterView != nullptr ? mCenterView : mMovieViewPane;
  if (area != nullptr) {
    area->GetFrameBinding(areaBinding);
    area->SetFrameBinding(none);
  }
  mToolbar->SetFrameBinding(none);
  const Boolean hidden = !mToolbar->IsVisible();
  if (hidden) {
    mWindow->ResizeWindowBy(0, bar.height);
    mToolbar->Show();
  } else {
    mToolbar->Hide();
    mWindow->ResizeWindowBy(0, static_cast<SInt16>(-bar.height));
  }
  mToolbar->SetFrameBinding(barBinding);
  if (area != nullptr) area->SetFrameBinding(areaBinding);
}

// ---------------------------------------------------------------------------
// The worker tasks' side, undo, listening

SInt32 CMovieDocument::GetAnalysisFieldMode() {
  switch (mRenderParams.interlaceMode) {
    case kInterlace_OddFirst: return 3;
    case kInterlace_EvenFirst: return 4;
    default: return 2;
  }
}

namespace {

// A movie edit as an action of the document's undoer.
class CMovieEditAction : public LAction {
 public:
  explicit CMovieEditAction(CMovieAction* inEdit) : LAction(0, 0, false), mEdit(inEdit) {}
  ~CMovieEditAction() override { delete mEdit; }
  void Finalize() override { mEdit->Finalize(); }
  void Redo() override {
    mEdit->Redo();
    mIsDone = mEdit->IsDone();
  }
  void Undo() override {
    mEdit->Undo();
    mIsDone = mEdit->IsDone();
  }
  Boolean IsPostable() const override { return mEdit->IsPostable(); }
  Boolean CanRedo() const override { return mEdit->CanRedo(); }
  Boolean CanUndo() const override { return mEdit->CanUndo(); }
  // The edit's own texts ("Undo Cut"): they carry the words already.
  void GetDescription(Str255 outRedoString, Str255 outUndoString) const override {
    mEdit->GetDescription(outRedoString, outUndoString);
  }
  CMovieAction* GetEdit() const { return mEdit; }

 private:
  CMovieAction* mEdit;
};

}  // namespace

void CMovieDocument::PostAction(CMovieAction* inAction) {
  if (inAction == nullptr) {
    LCommander::PostAction(nullptr);
    return;
  }
  // The undoer does the edit's first redo; its failure propagates.
  LCommander::PostAction(new CMovieEditAction(inAction));
}

void CMovieDocument::PostAction(LAction* inAction) { LCommander::PostAction(inAction); }

CTaskProgressView* CMovieDocument::NewProgressSheet(CMovieTask* inTask) {
  // Only on a window the user sees; a hidden document's task runs without one.
  if (mWindow == nullptr || !mWindow->IsVisible() || mDestroying) return nullptr;
  return CTaskProgressSheet::ForTask(mWindow, AsListener(), inTask);
}

SInt16 CMovieDocument::PlayRateItem(SInt32 inPercent) {
  for (SInt16 i = 0; i < kPlayRateCount; ++i)
    if (kPlayRates[i] == inPercent) return static_cast<SInt16>(i + 1);
  return 0;
}

void CMovieDocument::SetListening(Boolean inListening) {
  if (inListening) {
    static_cast<CSingleDocument*>(this)->StartListening();
    static_cast<CMovieTaskDocument*>(this)->StartListening();
  } else {
    static_cast<CSingleDocument*>(this)->StopListening();
    static_cast<CMovieTaskDocument*>(this)->StopListening();
  }
}

Boolean CMovieDocument::GetListening() const { return static_cast<const CSingleDocument*>(this)->IsListening(); }

CMovieDocument::StListeningOff::StListeningOff(CMovieDocument* inDocument)
    : mDocument(inDocument), mWas(inDocument->GetListening()) {
  mDocument->SetListening(false);
}

CMovieDocument::StListeningOff::~StListeningOff() { mDocument->SetListening(mWas); }

// ---------------------------------------------------------------------------
// Small helpers of the commands

Rect CMovieDocument::ClippedToDisplay(const Rect& inRect) const {
  Rect display = {0, 0, 0, 0};
  if (mMovie != nullptr) mMovie->GetDisplayBounds(display);
  Rect r = inRect;
  r.left = std::max(r.left, display.left);
  r.top = std::max(r.top, display.top);
  r.right = std::min(r.right, display.right);
  r.bottom = std::min(r.bottom, display.bottom);
  return r;
}

void CMovieDocument::SetPlayRateItem(SInt16 inItem) {
  if (mPlayRatePopup == nullptr || inItem < 1 || inItem > kPlayRateCount) return;
  StListeningOff off(this);
  mPlayRatePopup->SetValue(inItem);
}

void CMovieDocument::GotoTime(SInt32 inTime) {
  if (mMovie == nullptr) return;
  SInt32 duration = mMovie->GetDuration();
  if (inTime < 0) inTime = 0;
  if (duration > 0 && inTime >= duration) inTime = duration - 1;
  if (mMovie->IsPlaying())
    mMovie->PlayingGotoTime(inTime);
  else
    mMovie->GotoTime(inTime);
}

Boolean CMovieDocument::IsTimeFieldTarget() const {
  return mTimeFieldCommander != nullptr && mTimeFieldCommander->IsTarget();
}

void CMovieDocument::TargetTimeField() {
  if (mTimeFieldCommander == nullptr) return;
  LCommander::SwitchTarget(mTimeFieldCommander);
  if (mTimeField != nullptr) mTimeField->SelectAll();
}

void CMovieDocument::TargetTimeSlider() {
  if (mTimeSlider != nullptr) {
    LCommander::SwitchTarget(mTimeSlider);
  } else if (mWindow != nullptr) {
    LCommander::SwitchTarget(mWindow);
  }
}

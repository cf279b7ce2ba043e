// The movie document: one movie shown in one document window, with the
// stabilisation settings of that movie (stored inside it as user data
// 'Trbx' 1), its motion data, the worker task that may be analysing it and
// the edit session in which corrections are previewed.
//
// The class is written in several files:
//   CMovieDocument.cpp          life, the window, attaching the movie, settings
//   CMovieDocumentSave*.cpp     saving, save as, revert
//   CMovieDocumentCommands.cpp  commands, messages, keys and procedures
//   CMovieDocumentSession.cpp   analysis, the edit session and the preview
//   CMovieDocumentSheets.cpp    the information, tracks, size and format sheets, the
//                               export-tween options and the toolbar popups
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/CMovieView.h"
#include "app/CSingleDocument.h"
#include "app/CTimeSlider.h"
#include "app/CTrackBrowser.h"
#include "media/CMovie.h"
#include "media/CMovieTask.h"
#include "media/MotionSettings.h"
#include "motion/CMotionData.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LPane.h"

class CBuffer;
class CMovieAction;
class CMovieView;
class CTimeSlider;
class LAction;
class LControl;
class LCustomDialogSheet;
class LDrawer;
class LEditField;
class LException;
class LMenu;
class LMovieExportTweenNavSheet;
class LPane;
class LGotoButton;
class LPopupButton;
class LView;
class LWindow;

// The document's texts (STR# 5010) and layouts.
constexpr SInt16 STRx_MovieDocument = 5010;
constexpr ResIDT PPob_MovieDocument = 1000;
constexpr ResIDT RidL_MovieDocument = 1000;
constexpr ResIDT PPob_StabilizerDrawer = 502;
constexpr ResIDT PPob_MovieInfoSheet = 504;
constexpr ResIDT PPob_MovieSizeSheet = 506;
constexpr ResIDT PPob_MovieFormatSheet = 507;

// The panes of the document window.
constexpr PaneIDT kPaneTimeSlider = 1;
constexpr PaneIDT kPaneMovieView = 2;
constexpr PaneIDT kPaneCenterView = 3;
constexpr PaneIDT kPanePreviewButton = 100;
constexpr PaneIDT kPanePlayButton = 120;
constexpr PaneIDT kPaneStepBackButton = 122;
constexpr PaneIDT kPaneStepForwardButton = 123;
constexpr PaneIDT kPaneBookmarkPopup = 124;
constexpr PaneIDT kPaneTimeField = 150;
constexpr PaneIDT kPaneInPointButton = 152;
constexpr PaneIDT kPaneOutPointButton = 153;
constexpr PaneIDT kPaneToolbar = 300;
constexpr PaneIDT kPanePlayRatePopup = 302;
constexpr PaneIDT kPaneOptionsPopup = 303;
constexpr PaneIDT kPaneROIButton = 304;

// Document commands.
constexpr CommandT cmd_MovieTitles = 5020;
constexpr CommandT cmd_HalfSize8 = 5021;  // 5021 to 5027: scale 1/8 to 8
constexpr CommandT cmd_ActualSize = 5024;
constexpr CommandT cmd_DoubleSize8 = 5027;
constexpr CommandT cmd_MovieInfo = 5101;
constexpr CommandT cmd_TracksSheet = 5102;
constexpr CommandT cmd_MovieSize = 5103;
constexpr CommandT cmd_MovieFormat = 5104;
constexpr CommandT cmd_Preview = 6000;
constexpr CommandT cmd_AnalyseAuto = 6001;
constexpr CommandT cmd_EditStabilization = 6003;
constexpr CommandT cmd_ApplySession = 6004;
constexpr CommandT cmd_EditControlTrack = 6005;
constexpr CommandT cmd_CancelSession = 6006;
constexpr CommandT cmd_RegionOfInterest = 6010;
constexpr CommandT cmd_AnalyseBorder = 6020;
constexpr CommandT cmd_ExportMovie = 6100;
constexpr CommandT cmd_ExportTween = 6101;

// Messages the document listens to (besides the movie's 1000-1012 and the
// tasks' 300/310/311).
constexpr MessageT msg_SaveAsReply = 2;
constexpr MessageT msg_PreviewButton = 100;
constexpr MessageT msg_PlayButton = 120;
constexpr MessageT msg_StepBack = 122;
constexpr MessageT msg_StepForward = 123;
constexpr MessageT msg_ToggleToolbar = 150;
constexpr MessageT msg_InPoint = 152;
constexpr MessageT msg_OutPoint = 153;
constexpr MessageT msg_BookmarkPopulate = 160;
constexpr MessageT msg_BookmarkChosen = 161;
constexpr MessageT msg_OptionsPopulate = 170;
constexpr MessageT msg_OptionsChosen = 171;
constexpr MessageT msg_PlayRatePopup = 302;
constexpr MessageT msg_ROIButton = 304;
// msg_ROIChanged (2001), msg_ScrubStart (2010) and msg_ScrubEnd (2012) come with the movie view.
constexpr MessageT msg_ScrubContinue = 2011;
constexpr MessageT msg_ViewDoubleClick = 2020;
constexpr MessageT msg_ExportTweenReply = 2108;
constexpr MessageT msg_TimeSliderMoved = 7100;

// The document's deferred procedures.
constexpr SInt32 proc_ResizeWindow = 2001;
constexpr SInt32 proc_Export = 2100;
constexpr SInt32 proc_AttemptClose = 2101;
constexpr SInt32 proc_AskSaveAs = 2103;
constexpr SInt32 proc_DoAESave = 2104;
constexpr SInt32 proc_Save = 2105;
constexpr SInt32 proc_ExportTween = 2106;

// The navigation modes of the open file question.
constexpr SInt32 kNavModeNone = 0;
constexpr SInt32 kNavModeSaveAs = 1;
constexpr SInt32 kNavModeExport = 2;
constexpr SInt32 kNavModeExportTween = 3;

// The save formats offered with the save-as question (SDocNavAnswer::choice).
constexpr SInt32 kSaveChoiceReference = 1;
constexpr SInt32 kSaveChoiceSelfContained = 2;

// View drawing options (kDrawSafeBounds, kDrawTVSafe, kDrawTitleSafe come with the movie view).
constexpr UInt32 kDrawRegionOfInterest = kDrawROI;

// Tracker modes of the analysis.
constexpr SInt32 kTrackerAuto = 0x10000;
constexpr SInt32 kTrackerBorder = 0x20000;

// The movie settings item.
constexpr OSType kMovieSettingsType = 'Trbx';
constexpr SInt16 kMovieSettingsIndex = 1;

// The play rates of the rate popup's items 1 to 14, in percent.
constexpr SInt32 kPlayRateCount = 14;
extern const SInt32 kPlayRates[kPlayRateCount];

// The movie progress record handed to the toolbox as the reference constant.
struct MovieProgressRecord {
  LWindow* window = nullptr;
  LListener* listener = nullptr;
  SInt16 (*proc)(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon, unsigned char* inText) = nullptr;
  SInt32 counter = 0;
};

class CMovieDocument : public CSingleDocument, public CMovieTaskDocument, public CTrackBrowserClient {
 public:
  // ---- life, settings and saving --------------------------------------
  // Opens the movie file into a new window, which is shown. Failures are
  // thrown after what was made is deleted.
  explicit CMovieDocument(FSSpec& inSpec);
  // Shows the movie (a new empty one when nil) in a new untitled window.
  explicit CMovieDocument(CMovie* inMovie);
  ~CMovieDocument() override;

  OSType GetFileType() const override { return 'MooV'; }
  OSType GetDocumentID() const override { return 'dMov'; }

  CMovie* GetMovie() const { return mMovie; }
  CMotionData& GetMotionData() { return mMotionData; }
  void AttachNewMovie(CMovie* inMovie);
  CMovie* DetachMovie();
  void OpenFile(FSSpec& inSpec) override;
  void Print() override {}

  Boolean IsModified() override;
  void SetModified(Boolean inModified) override;
  Boolean IsSpecified() override;

  // Deferred entry points: each posts its procedure and returns.
  void Save() override;
  void DoAESave(FSSpec& inSpec, OSType inFileType) override;
  Boolean AskSaveAs(FSSpec& ioSpec, Boolean inRecordIt) override;
  void AttemptClose(Boolean inRecordIt) override;
  virtual void AttemptClose_(Boolean inRecordIt);
  void DoRevert() override;

  // The settings item 'Trbx' 1: 0 or the error code.
  OSErr WriteSettingsToMovie(CMovie* inMovie);
  OSErr ReadSettingsFromMovie(CMovie* inMovie);

  // The work of the deferred procedures.
  void Save_();
  void AskSaveAs_();
  void AskExportAs_();
  void AskExportTweenAs_();
  void DoAESave_(FSSpec& inSpec);

  void GetNavigationDialogOptions(SInt16 inMode, SDocNavOptions* ioOptions) override;
  void InvokeNavUserAction(SDocNavAnswer* ioRecord) override;

  // Window sizes for the movie at a scale (or for a given movie size).
  void CalcBestWindowSize(float inScale, SInt32& outWidth, SInt32& outHeight);
  void CalcWindowSizeForMovieSize(SInt32 inMovieWidth, SInt32 inMovieHeight, SInt32& outWidth, SInt32& outHeight);
  void AdjustWindowToMovieSize(float inScale);
  void ToggleShowToolbar();
  // The window manager's frame became known after the window was sized: a
  // window still at the size it was last given is sized again for it.
  void WindowFrameMarginsChanged();

  // ---- analysis, edit session and preview -------------------------------
  OSErr TrackInterlace(MessageT inEndMessage);
  OSErr TrackMotion();
  OSErr BeginTask(CMovieTask* inTask);
  OSErr EndTask(CMovieTask* inTask);
  void BeginEditSession(Track inTrack);
  void EndEditSession(Boolean inApply);
  Track CreateStabilizationControlTrack();
  void UpdateMovieFrame(TimeValue* inTime);
  void UpdateImagePath();
  void SetPreviewMode(Boolean inOn);
  void UseBuffer(Boolean inOn);
  void AdjustPreviewButton();
  void AdjustMovieQuality();
  void AdjustMovieFormat(QInterlaceMode inMode, QInterlaceDelay inDelay);
  void UseSpatialSelection(Boolean inOn);
  void MovieHasChanged(Boolean inChanged);
  void UpdateTimeEditors();
  // Task ends: 300 motion analysis, 311 interlace analysis of the analyse command.
  void MotionAnalysisEnded(CMovieTask* inTask);
  void InterlaceAnalysisEnded(CMovieTask* inTask);
  // The alert of an interlace analysis that could not run or failed.
  void ReportInterlaceFailure(OSErr inError);
  static SInt32 StabilizerParametersProc(LWindow* inDrawer, SInt32 inMessage, void* ioParam, void* inRefCon);
  static OSErr MovieProgress(Movie inMovie, SInt16 inMessage, SInt16 inOperation, Fixed inPercent, SInt32 inRefCon);

  // ---- dialogs and sheets -----------------------------------------------
  void ShowInfo();
  void ShowTracksSheet();
  void ShowSizeSheet();
  void ShowFormatSheet();
  void UpdateOptionsButton(LMenu* inMenu);
  void UpdateBookMarkButton(LMenu* inMenu);
  void UpdateMovieInfo();
  Boolean AllFeaturesSupportedByTween();
  static SInt32 MovieInfoProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon);
  static SInt32 MovieSizeProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon);
  static SInt32 MovieFormatProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon);

  // ---- commands, messages and keys --------------------------------------
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;
  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  Boolean HandleKeyPress(const EventRecord& inKeyEvent) override;
  void Export(FSSpec& inSpec);
  void ExportTween();
  void StartAnalysis();
  // Starts or stops playing (the play button).
  void TogglePlaying();

  // ---- the worker tasks' side --------------------------------------------
  CMovie* GetTaskMovie() override { return mMovie; }
  SInt32 GetAnalysisFieldMode() override;
  SInt32 GetInterlaceStandard() override { return mInterlaceDelay; }
  // Movie edits go to the document's undoer. With both overloads, a nil
  // action is posted as PostAction(static_cast<LAction*>(nullptr)).
  void PostAction(CMovieAction* inAction) override;
  void PostAction(LAction* inAction) override;
  CTaskProgressView* NewProgressSheet(CMovieTask* inTask) override;

  // ---- the tracks sheet's side --------------------------------------------
  CMovie* GetBrowserMovie() override { return mMovie; }
  LCommander* GetBrowserUndoTarget() override { return this; }
  Track GetBrowserSessionTrack() override { return mSessionOpen ? mSessionTrack : nullptr; }

  // ---- state the other parts and the tests read -------------------------
  CMovieTask* GetRunningTask() const { return mTask; }
  Boolean IsTaskRunning() const { return mTask != nullptr; }
  Boolean IsPreviewOn() const { return mPreviewOn; }
  Boolean IsSessionOpen() const { return mSessionOpen; }
  Track GetSessionTrack() const { return mSessionTrack; }
  MotionSettings& GetMotionSettings() { return mMotionSettings; }
  RenderFrameParams& GetRenderParams() { return mRenderParams; }
  QInterlaceMode GetInterlaceMode() const { return mRenderParams.interlaceMode; }
  QInterlaceDelay GetInterlaceDelay() const { return mInterlaceDelay; }
  SInt32 GetTrackingAccuracy() const { return mTrackingAccuracy; }
  UInt32 GetDrawingOptions() const { return mDrawingOptions; }
  SInt32 GetTrackerMode() const { return mTrackerMode; }
  SInt32 GetNavMode() const { return mNavMode; }
  LMovieExportTweenNavSheet* GetTweenSheet() const { return mTweenSheet; }
  const Rect& GetRegionOfInterest() const { return mRegionOfInterest; }
  CTimeSlider* GetTimeSlider() const { return mTimeSlider; }
  CMovieView* GetMovieView() const { return mMovieView; }
  LPane* GetToolbar() const { return mToolbar; }
  LEditField* GetTimeField() const { return mTimeField; }
  LControl* GetPreviewButton() const { return mPreviewButton; }
  LControl* GetPlayButton() const { return mPlayButton; }
  LPopupButton* GetPlayRatePopup() const { return mPlayRatePopup; }
  CBuffer* GetBuffer() const { return mBuffer; }
  // The play-rate popup item (1 to 14) of a rate; 0 when the rate is none of them.
  static SInt16 PlayRateItem(SInt32 inPercent);

  // Both listening switches of the document (as navigation listener and as
  // task listener): operations that cause broadcasts they must not hear
  // turn them off and restore them on every exit.
  void SetListening(Boolean inListening);
  Boolean GetListening() const;
  class StListeningOff {
   public:
    explicit StListeningOff(CMovieDocument* inDocument);
    ~StListeningOff();
    StListeningOff(const StListeningOff&) = delete;
    StListeningOff& operator=(const StListeningOff&) = delete;

   private:
    CMovieDocument* mDocument;
    Boolean mWas;
  };
  // The document as the listener of its movie, panes and sheets.
  LListener* AsListener() { return static_cast<CSingleDocument*>(this); }

  // Class-wide options.
  static Boolean sAllowDep;
  static Boolean sEnforceSelfContainment;
  static Boolean sOpenMovie;
  static Boolean sTweenOpenMovie;
  static Boolean sTweenSelectionOnly;
  static UInt32 sTweenMovieOptions;

  // Checks a settings record against its expected size and range; a value
  // that fails is not taken (exposed for the tests of the settings item).
  static Boolean CheckedSettingsValue(OSType inTag, const void* inData, UInt32 inLength, const Rect& inBounds);

 protected:
  void ExecuteProcedure(SInt32 inProcID, void* inData, SInt32 inSize) override;
  void Init();
  // The settings of a document whose movie stores none.
  void SetDefaultSettings();
  // Puts back what the constructors made when they fail.
  void CleanupAfterFailure();
  void SetPlayRateItem(SInt16 inItem);
  void GotoTime(SInt32 inTime);
  void StepSlider(UInt16 inCharCode);
  // The rect's sides within the movie's display bounds.
  Rect ClippedToDisplay(const Rect& inRect) const;
  // Saves as: the movie written to a new file beside the target, renamed over it once complete.
  OSErr SaveMovieTo(const FSSpec& inTarget, bool inSelfContained);
  // Whether the target is one of the files whose data the saved movie needs.
  bool TargetIsOwnSource(const FSSpec& inTarget, bool inSelfContained);

  // The movie and what is computed from it.
  CMovie* mMovie = nullptr;
  CMotionData mMotionData;
  CBuffer* mBuffer = nullptr;
  GWorldPtr mBufferWorld = nullptr;
  LWindow* mDrawer = nullptr;

  // The panes of layout 1000.
  CTimeSlider* mTimeSlider = nullptr;
  CMovieView* mMovieView = nullptr;
  LPane* mToolbar = nullptr;
  LEditField* mTimeField = nullptr;
  LControl* mPreviewButton = nullptr;
  LControl* mPlayButton = nullptr;
  LGotoButton* mBookmarkPopup = nullptr;
  LGotoButton* mOptionsPopup = nullptr;
  LControl* mROIButton = nullptr;
  LControl* mInPointButton = nullptr;
  LControl* mOutPointButton = nullptr;
  LPopupButton* mPlayRatePopup = nullptr;

  // Settings of the document.
  UInt32 mDrawingOptions = kDrawSafeBounds;
  QInterlaceDelay mInterlaceDelay = kInterlaceDelay_None;
  CMovieTask* mTask = nullptr;
  Boolean mPreviewOn = false;
  Boolean mSessionOpen = false;
  Boolean mSessionPreviewWasOn = false;
  Track mSessionTrack = nullptr;
  MotionSettings mMotionSettings;
  RenderFrameParams mRenderParams;
  SInt32 mTrackingAccuracy = 2;
  SInt32 mTrackerMode = 0;
  SInt32 mNavMode = kNavModeNone;
  Rect mRegionOfInterest = {0, 0, 0, 0};
  MovieProgressRecord mProgressRecord;
  // The progress context (a sheet on the window) the movie toolbox reports
  // long operations of the document's movie to; 0 while there is none.
  SInt32 mProgressContext = 0;

  // Scrubbing: the options and rate text to put back.
  UInt32 mScrubSavedOptions = 0;
  std::string mScrubSavedItemText;
  Boolean mScrubbing = false;

  // The scale the window was last sized for and the size it was given.
  float mSizedScale = 0.0f;
  SDimension16 mSizedFrame = {0, 0};

  Boolean mDestroying = false;
  // The export-tween sheet while it is up.
  LMovieExportTweenNavSheet* mTweenSheet = nullptr;
  // Expires with the document: answers that may arrive later check it.
  std::shared_ptr<bool> mAliveToken = std::make_shared<bool>(true);
  Boolean mUsesUndoer = false;

  // The panes as the layout built them (the typed pointers above are set
  // from these), and the commander that stands for the time-code field
  // while it has the keyboard.
  LPane* mTimeSliderPane = nullptr;
  LPane* mMovieViewPane = nullptr;
  LPane* mCenterView = nullptr;
  LCommander* mTimeFieldCommander = nullptr;

 public:
  // Whether the time-code field has the keyboard; giving it the keyboard.
  Boolean IsTimeFieldTarget() const;
  void TargetTimeField();
  // Gives the keyboard to the time slider (the window when it cannot take it).
  void TargetTimeSlider();
  LPane* GetTimeSliderPane() const { return mTimeSliderPane; }
  LPane* GetMovieViewPane() const { return mMovieViewPane; }

  // The time slider's indicators (3000 normal, 3001 a computed correction,
  // 3002 a stored correction), made once.
  static constexpr SInt16 kIndicatorNormal = 3000;
  static constexpr SInt16 kIndicatorSample = 3001;
  static constexpr SInt16 kIndicatorControl = 3002;
  static Handle GetIndicatorIcon(SInt16 inID);

  // Queues an export of the movie to the file (the export client sets it);
  // 0 or an error code. Without one, exports fail with unimpErr.
  typedef OSErr (*ExportProc)(CMovie* inMovie, const FSSpec& inSpec);
  static ExportProc sExportProc;
  // The export sheet (the put-file dialog with the exporter's controls) that
  // Export asks with when the export client has installed it; else a plain
  // put-file question. inDone gets the chosen file, or nil on cancel.
  typedef void (*AskExportProc)(CMovie* inMovie, SInt32 inInterlaceMode, LWindow* inWindow, const std::string& inName,
                                std::function<void(const FSSpec* inFile)> inDone);
  static AskExportProc sAskExportProc;

  // ---- analysis, session and sheets: what their own files add -------------
 public:
  // The time slider's indicator (3000 uncorrected, 3001 session, 3002
  // control track) and the region-of-interest button's icon pair (220 off,
  // 222 on) as last set.
  SInt16 GetShownIndicator() const { return mIndicatorIcon; }
  SInt16 GetROIIcons() const { return mROIIcons; }
  // The frame parameters the preview was last given.
  const RenderFrameParams& GetShownParams() const { return mShownParams; }
  LWindow* GetDrawer() const { return mDrawer; }
  Boolean IsDrawerOpen() const;
  // The movie view's info line as last composed.
  const std::string& GetInfoLine() const { return mInfoLine; }

 protected:
  void OpenDrawer();
  void CloseDrawer();
  // Writes the session's control track as one undoable edit; a failure
  // keeps the old track and tells the user.
  void ApplySession();
  void ReportControlTrackFailure(const LException& inError);
  // The drawer with the stabiliser parameters (made at the first session,
  // gone with the window); mDrawer is its window.
  LDrawer* mStabilizerDrawer = nullptr;
  SInt16 mIndicatorIcon = 3000;
  SInt16 mROIIcons = 220;
  RenderFrameParams mShownParams;
  CGrafPtr mSavedMoviePort = nullptr;
  // The format sheet's detection while it runs.
  CMovieTask* mFormatDetection = nullptr;
  std::string mInfoLine;
  // ---- end of the analysis, session and sheets block ----------------------
};

// The pane of the document window that shows the picture: the movie itself,
// drawn by the movie toolbox into the window's port, or a still buffer
// rendered through the frame renderer with the document's frame parameters
// (the steadied preview). Over the picture it draws the safe bounds of the
// stabilised picture, the TV-safe and title-safe areas and the region of
// interest, which the user moves and resizes with the mouse. A drag elsewhere
// scrubs the movie; a double click and a control-click are reported.
//
// The view talks to its document by broadcasts only (see the messages
// below); the document gives it what it shows through UseMovie,
// UseOffscreenBuffer, SetFrameParams, SetROIRect and the motion-data member.
#pragma once

#include "media/MotionSettings.h"
#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LListener.h"
#include "platform/framework/LPeriodical.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/LView.h"
#include "platform/ui/UMouseTracking.h"

class CBuffer;
class CMotionData;
class CMovie;
class LMenu;

// Broadcast by the movie view and the time slider.
constexpr MessageT msg_NavigationMenuOpens = 160;   // LMenu*: fill the menu
constexpr MessageT msg_NavigationMenuChosen = 161;  // SInt32*: the chosen item
constexpr MessageT msg_ROIChanged = 2001;           // Rect*: the ROI in source coordinates
constexpr MessageT msg_ScrubStart = 2010;           // SInt32* holding 0
constexpr MessageT msg_ScrubOffset = 2011;          // SInt32*: offset in view pixels
constexpr MessageT msg_ScrubEnd = 2012;             // nil
constexpr MessageT msg_MovieViewDoubleClick = 2020; // nil

// Drawing options of the movie view (the document keeps them as 'DrOp').
constexpr UInt32 kDrawSafeBounds = 0x1;
constexpr UInt32 kDrawTVSafe = 0x2;
constexpr UInt32 kDrawTitleSafe = 0x4;
constexpr UInt32 kDrawROI = 0x100;

// Hot spots of the region of interest (also the cursor ids of the handles).
constexpr SInt16 kHotSpotNone = 0;
constexpr SInt16 kHotSpotInside = 1;
constexpr SInt16 kHotSpotTopLeft = 128;
constexpr SInt16 kHotSpotBottomLeft = 129;
constexpr SInt16 kHotSpotTopRight = 130;
constexpr SInt16 kHotSpotBottomRight = 131;
constexpr SInt16 kHotSpotTop = 132;
constexpr SInt16 kHotSpotBottom = 133;
constexpr SInt16 kHotSpotLeft = 134;
constexpr SInt16 kHotSpotRight = 135;

constexpr SInt16 kMinROISize = 48;
constexpr SInt16 MENU_Navigation = 143;
constexpr SInt16 STRx_MovieView = 5014;
constexpr SInt16 Txtr_MovieInfo = 136;

class CMovieView : public LView, public LListener, public LBroadcaster, public LDragTracker {
 public:
  static constexpr ClassIDT class_ID = 'MovV';

  CMovieView(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo);
  explicit CMovieView(LStream* inStream);
  ~CMovieView() override;
  ClassIDT GetClassID() const override { return class_ID; }

  // What the view shows. Attaching one detaches the other.
  void UseMovie(CMovie* inMovie);
  void UseOffscreenBuffer(CBuffer* inBuffer);
  CMovie* GetMovie() const { return mMovie; }
  CBuffer* GetBuffer() const { return mBuffer; }
  // The movie's bounds changed: re-reads them and places the image again.
  void MovieHasChanged(Boolean inRefresh);

  virtual void SetOrigRect(Rect* inRect);
  virtual void GetOrigRect(Rect* outRect);
  float GetZoom() const { return mZoom; }
  void SetFrameParams(RenderFrameParams& inParams, Boolean inRefresh);
  const RenderFrameParams& GetFrameParams() const { return mFrameParams; }
  void SetDrawingOptions(SInt32 inSet, SInt32 inClear, Boolean inRefresh);
  UInt32 GetDrawingOptions() const { return mDrawingOptions; }
  void SetROIRect(Rect inRect);
  Rect GetROIRect() const { return mROI; }
  // Copies the text, cut at a character boundary to fit 255 bytes.
  virtual void SetInfoString(const char* inText, Boolean inRefresh);
  const char* GetInfoString() const { return mInfo; }

  void ListenToMessage(MessageT inMessage, void* ioParam) override;

  // Fitting and placing.
  virtual void AdjustImageSize(Boolean inRefresh);
  virtual void AdjustImagePosition(Boolean inRefresh);
  virtual void FrameSizeChanged();
  void ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) override;
  void MoveBy(SInt32 inHorizDelta, SInt32 inVertDelta, Boolean inRefresh) override;
  void AdaptToSuperFrameSize(SInt32 inSurrWidthDelta, SInt32 inSurrHeightDelta, Boolean inRefresh) override;

  // Drawing.
  virtual void DrawInfo();
  // Draws the overlays; failures (no motion data) are thrown.
  virtual void DrawOverlay();
  virtual void DrawBufferWithMatrix(CBuffer* inBuffer, MatrixRecord* inMatrix, CGrafPtr inPort);

  // The region of interest and the mouse, in port coordinates.
  virtual SInt16 FindInterestingPoint(Point inPoint, Rect inROI, RgnHandle outRegion);
  // The picture's rectangle in port coordinates.
  Rect GetImagePortRect() const;
  virtual void CheckNewSelection(Rect& ioRect, SInt16 inHotSpot);
  virtual void Orig2Local(Rect* ioRect);
  virtual void Local2Orig(Rect* ioRect);
  virtual void Orig2Local(Point* ioPoint);
  virtual void Local2Orig(Point* ioPoint);

  // Drags (see UMouseTracking): ROI move or resize, scrubbing.
  void MouseTracked(Point inPortPt, UInt16 inModifiers) override;
  void MouseReleased(Point inPortPt, UInt16 inModifiers) override;
  // A poll of a running drag without a mouse move (the loop calls it every 0.01 s).
  void TrackIdle();
  Boolean IsScrubbing() const { return mScrubbing; }
  Boolean IsTrackingROI() const { return mDrag == drag_Move || mDrag == drag_Resize; }
  // The cursor id last asked for by the view (theme cursor or handle id).
  SInt16 GetCursorID() const { return mCursorID; }
  // How many times the steadied buffer has been rendered (tests, benchmarks).
  UInt32 GetRenderCount() const { return mRenderCount; }

  // The document's motion data, needed by the safe-bounds overlay.
  CMotionData* mMotionData = nullptr;

  static RGBColor sSafeBoundsColor;
  static RGBColor sTVSafeColor;
  static RGBColor sTitleSafeColor;
  static RGBColor sROIColor;

 protected:
  void DrawSelf() override;
  void ClickSelf(const SMouseDownEvent& inMouseDown) override;
  void AdjustMouseSelf(Point inPortPt, const EventRecord& inMacEvent, MacRegion* outMouseRgn) override;
  void FinishCreateSelf() override;
  QWidget* MakeWidget(QWidget* inParent) override;

  virtual void BeginMoveRect(Point inStart);
  virtual void BeginResizeRect(Point inStart, SInt16 inHotSpot);
  virtual void ScrubMovie(Point inStart);
  virtual void DoNavigationMenu(const SMouseDownEvent& inMouseDown);

  // The overlays, each failure swallowed (nothing escapes into the loop).
  void DrawOverlaySafely();
  void SetCursorID(SInt16 inID);
  void DetachMovie();
  void ForgetDeletedMovie();

 private:
  enum EDrag { drag_None, drag_Move, drag_Resize, drag_ScrubPending, drag_Scrub };
  struct UTrackPoll : public LPeriodical {
    CMovieView* view = nullptr;
    void SpendTime(const EventRecord&) override { view->TrackIdle(); }
  };
  void InitMovieView();
  void TrackTo(Point inPortPt);
  void StartScrub();
  void ReportScrub(Boolean inForce);
  void FinishDrag();
  void DrawRubberBand(const Rect& inSourceRect);
  void EraseRubberBand();

  CMovie* mMovie = nullptr;
  CBuffer* mBuffer = nullptr;
  CBuffer* mRendered = nullptr;  // the renderer's output, reused while the bounds stay
  Rect mOrigRect = {0, 0, 0, 0};
  Rect mROI = {50, 50, 200, 200};
  float mZoom = 1.0f;
  RenderFrameParams mFrameParams;
  UInt32 mDrawingOptions = 0;
  char mInfo[256] = {0};
  UInt32 mLastCollapsedDraw = 0;
  Boolean mOverlayDrawn = false;
  Boolean mScrubbing = false;
  SInt32 mScrubOffset = 0;

  // The drag that runs.
  EDrag mDrag = drag_None;
  SInt16 mDragHotSpot = 0;
  Point mDragStart = {0, 0};      // port point of the press
  Point mDragStartOrig = {0, 0};  // the same in source coordinates
  Rect mDragStartRect = {0, 0, 0, 0};
  Rect mDragRect = {0, 0, 0, 0};
  Boolean mBandShown = false;
  Rect mBandPortRect = {0, 0, 0, 0};
  UInt32 mDragStartTick = 0;
  UInt32 mLastReportTick = 0;
  Point mLastReportPt = {0, 0};
  Point mMousePt = {0, 0};
  UTrackPoll mPoll;
  SInt16 mCursorID = 0;
  UInt32 mRenderCount = 0;
};

// A view that keeps its image centred in its frame.
class CCenterView : public LView {
 public:
  static constexpr ClassIDT class_ID = 'CtVw';
  CCenterView(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo);
  explicit CCenterView(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  virtual void AdjustImagePosition(Boolean inRefresh);
  void ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) override;
  void MoveBy(SInt32 inHorizDelta, SInt32 inVertDelta, Boolean inRefresh) override;

 protected:
  void FinishCreateSelf() override;
  void DrawSelf() override {}
};

// The scroll position of one axis that centres a smaller image, keeps a
// larger one covering the frame, and is 0 for an empty image.
SInt32 CenteredScrollPosition(SInt32 inImageSize, SInt32 inFrameSize, SInt32 inScrollPos);

// Registers the movie panes' layout classes: 'MovV', 'CtVw', 'TSld', 'BrPn', 'ClPc'.
void RegisterMoviePaneClasses();

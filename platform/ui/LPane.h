// Panes: the rectangles of a window's content. Each pane has an id, a frame
// placed in its super view's image, bindings that say which of its edges
// follow the super view's edges when that one is resized, visible / enabled
// / active states, a user constant and (once the pane is inside a window) one
// QWidget that shows it. The model holds what the program reads back; the
// widget mirrors it.
//
// Panes that draw themselves draw in DrawSelf into the window's port (pixel
// memory, 32-bit A,R,G,B) after FocusDraw; their widget paints that memory.
// Refresh asks for DrawSelf at the next paint; drawing done directly after
// FocusDraw stays on screen until then.
//
// Qt is not visible here: the widget is only forward-declared.
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/framework/Events.h"
#include "platform/framework/LAttachable.h"

class QWidget;
class LStream;
class LView;
class LWindow;
struct GrafPort;
struct MacRegion;

typedef SInt32 PaneIDT;
typedef SInt32 ClassIDT;
typedef SInt16 ResIDT;
constexpr PaneIDT PaneIDT_Undefined = -1;
constexpr PaneIDT PaneIDT_Unspecified = 0;

struct SBooleanRect {
  Boolean left = false;
  Boolean top = false;
  Boolean right = false;
  Boolean bottom = false;
};

struct SPoint32 {
  SInt32 h = 0;
  SInt32 v = 0;
};

struct SDimension16 {
  SInt16 width = 0;
  SInt16 height = 0;
};

struct SDimension32 {
  SInt32 width = 0;
  SInt32 height = 0;
};

// What a pane is made from. left/top place the frame in the super view's
// image. superView nil: not inside a view yet (PutInside later).
struct SPaneInfo {
  PaneIDT paneID = 0;
  SInt16 width = 0;
  SInt16 height = 0;
  Boolean visible = true;
  Boolean enabled = true;
  SBooleanRect bindings;
  SInt32 left = 0;
  SInt32 top = 0;
  SInt32 userCon = 0;
  LView* superView = nullptr;
};

// A mouse-down as panes see it: where in the window's port and in the
// pane's local coordinates (the same here: local = port coordinates).
struct SMouseDownEvent {
  Point wherePort = {0, 0};
  Point whereLocal = {0, 0};
  EventRecord macEvent;
  Boolean delaySelect = false;
};

// Cursor shapes (mapped to the desktop's cursors).
enum ECursorShape {
  cursor_Arrow = 0,
  cursor_IBeam,
  cursor_Cross,
  cursor_Wait,
  cursor_PointingHand,
  cursor_OpenHand,
  cursor_ClosedHand,
  cursor_ResizeLeft,
  cursor_ResizeRight,
  cursor_ResizeLeftRight,
  cursor_Copy,
  cursor_NotAllowed,
};

// The cursor the program last asked for (tests read it) and setting it.
class UCursor {
 public:
  static void Set(ECursorShape inShape);
  static void SetArrow() { Set(cursor_Arrow); }
  static ECursorShape Get();
};

// Theme cursor ids as the program names them.
constexpr SInt16 kThemeArrowCursor = 0;
constexpr SInt16 kThemeIBeamCursor = 4;
constexpr SInt16 kThemeCrossCursor = 5;
constexpr SInt16 kThemeWatchCursor = 7;
constexpr SInt16 kThemeClosedHandCursor = 8;
constexpr SInt16 kThemeOpenHandCursor = 9;
constexpr SInt16 kThemePointingHandCursor = 10;
constexpr SInt16 kThemeResizeLeftCursor = 17;
constexpr SInt16 kThemeResizeRightCursor = 18;
constexpr SInt16 kThemeResizeLeftRightCursor = 19;
constexpr SInt16 kThemeCopyArrowCursor = 2;
constexpr SInt16 kThemeNotAllowedCursor = 13;
OSStatus SetThemeCursor(SInt16 inCursor);

class LPane : public virtual LAttachable {
 public:
  static constexpr ClassIDT class_ID = 'pane';

  LPane();
  explicit LPane(const SPaneInfo& inPaneInfo);
  // Layout record (big-endian): SInt32 pane id, SInt16 width, SInt16 height,
  // UInt8 visible, UInt8 enabled, UInt8 bind left, top, right, bottom,
  // SInt32 left, SInt32 top, SInt32 user con, SInt32 super view
  // (-1: the default view, the one being built; 0: none; otherwise the id of
  // a view built earlier in the default view's window).
  explicit LPane(LStream* inStream);
  LPane(const LPane&) = delete;
  LPane& operator=(const LPane&) = delete;
  // Leaves its super view and deletes its widget.
  ~LPane() override;

  virtual ClassIDT GetClassID() const { return class_ID; }

  // Ids and the user constant.
  PaneIDT GetPaneID() const { return mPaneID; }
  void SetPaneID(PaneIDT inID) { mPaneID = inID; }
  SInt32 GetUserCon() const { return mUserCon; }
  void SetUserCon(SInt32 inUserCon) { mUserCon = inUserCon; }
  // This pane or a pane inside it with the id; 'nilP' thrown when none.
  LPane* FindPaneByID(PaneIDT inPaneID);
  // The same, nil when none.
  virtual LPane* FindPaneByIDOrNil(PaneIDT inPaneID);

  // The tree.
  LView* GetSuperView() const { return mSuperView; }
  virtual void PutInside(LView* inView, Boolean inOrient = true);
  // The window at the top of the tree (nil outside a window).
  LWindow* GetWindow() const;

  // Frame, in the window's port coordinates (local = port here).
  void GetFrameSize(SDimension16& outSize) const;
  void GetFrameLocation(SPoint32& outLocation) const;
  Boolean CalcLocalFrameRect(Rect& outRect) const;
  Boolean CalcPortFrameRect(Rect& outRect) const;
  // Where the frame sits in the super view's image.
  SPoint32 GetFrameInSuperImage() const { return SPoint32{mLeft, mTop}; }
  virtual void ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh);
  void ResizeFrameTo(SInt16 inWidth, SInt16 inHeight, Boolean inRefresh);
  virtual void MoveBy(SInt32 inHorizDelta, SInt32 inVertDelta, Boolean inRefresh);
  void PlaceInSuperImageAt(SInt32 inHorizOffset, SInt32 inVertOffset, Boolean inRefresh);
  void PlaceInSuperFrameAt(SInt32 inHorizOffset, SInt32 inVertOffset, Boolean inRefresh);
  Boolean PointIsInFrame(SInt32 inHorizPort, SInt32 inVertPort) const;

  // Bindings: the super view's frame changed size by the deltas.
  void GetFrameBinding(SBooleanRect& outBinding) const { outBinding = mFrameBinding; }
  void SetFrameBinding(const SBooleanRect& inBinding) { mFrameBinding = inBinding; }
  virtual void AdaptToSuperFrameSize(SInt32 inSurrWidthDelta, SInt32 inSurrHeightDelta, Boolean inRefresh);
  // The super view's image moved (scrolling): the widget follows.
  virtual void AdaptToSuperScroll(SInt32 inHorizScroll, SInt32 inVertScroll);

  // Visible: the pane's own state and that of every view above it.
  virtual void Show();
  virtual void Hide();
  Boolean IsVisible() const;
  Boolean GetVisibleState() const { return mVisible; }
  virtual void SuperShow();
  virtual void SuperHide();

  virtual void Enable();
  virtual void Disable();
  Boolean IsEnabled() const;
  Boolean GetEnabledState() const { return mEnabled; }
  virtual void SuperEnable();
  virtual void SuperDisable();

  virtual void Activate();
  virtual void Deactivate();
  Boolean IsActive() const;
  virtual void SuperActivate();
  virtual void SuperDeactivate();

  // Drawing.
  virtual void Refresh();
  void RefreshRect(const Rect& inRect);
  virtual void DontRefresh(Boolean inOKIfHidden = false);
  // Draws the pane (FocusDraw, DrawSelf) into the window's port when visible
  // and it intersects inSuperDrawRgn (nil: everything).
  virtual void Draw(MacRegion* inSuperDrawRgn);
  // Makes the window's port the current port with the pane's frame as clip.
  // False when the pane is not in a window with a port.
  virtual Boolean FocusDraw(LPane* inSubPane = nullptr);
  // Shows what was drawn into the port at once (the next paint).
  void UpdatePort();
  GrafPort* GetMacPort() const;
  static LPane* GetLastPaneFocused() { return sLastPaneFocused; }
  // Whether Refresh asked for a DrawSelf that has not run yet.
  Boolean NeedsDraw() const { return mNeedsDraw; }

  // Mouse.
  // Finds the hit sub-pane (views) or handles the click itself.
  virtual void Click(SMouseDownEvent& inMouseDown);
  // Clicks within the double-click time and distance count up from 1.
  static SInt16 GetClickCount() { return sClickCount; }
  static void SetClickCount(SInt16 inCount) { sClickCount = inCount; }
  virtual void AdjustMouse(Point inPortPt, const EventRecord& inMacEvent, MacRegion* outMouseRgn);
  virtual void MouseEnter(Point inPortPt, const EventRecord& inMacEvent);
  virtual void MouseLeave();
  virtual void MouseWithin(Point inPortPt, const EventRecord& inMacEvent);
  static LPane* sLastPaneMoused;
  static LPane* sLastPaneClicked;

  // The deepest visible pane at the port point (this one when no sub-pane is there).
  virtual LPane* FindDeepSubPaneContaining(SInt32 inHorizPort, SInt32 inVertPort);

  // Called once the layout reader has built the pane and its sub-panes.
  void FinishCreate();

  // The host widget; made on first use, as a child of the super view's widget.
  QWidget* GetWidget();
  QWidget* PeekWidget() const { return mWidget; }
  // Writes the model's frame, visibility and enabled state into the widget.
  virtual void SyncWidget();

  // The default view for panes read from a layout with super view -1.
  static LView* GetDefaultView() { return sDefaultView; }
  static void SetDefaultView(LView* inView) { sDefaultView = inView; }

 protected:
  virtual void FinishCreateSelf();
  virtual void ShowSelf();
  virtual void HideSelf();
  virtual void EnableSelf();
  virtual void DisableSelf();
  virtual void ActivateSelf();
  virtual void DeactivateSelf();
  virtual void DrawSelf();
  virtual void ClickSelf(const SMouseDownEvent& inMouseDown);
  virtual void AdjustMouseSelf(Point inPortPt, const EventRecord& inMacEvent, MacRegion* outMouseRgn);
  // Makes the pane's widget. The base makes a widget that paints the pane's
  // part of the window's port; controls make their Qt control. The widget is
  // a child of inParent (nil for a top-level window).
  virtual QWidget* MakeWidget(QWidget* inParent);
  // The widget the sub-panes' widgets go into (views: their own widget).
  virtual QWidget* GetContainerWidget();
  // The frame changed size (after bindings and widget geometry are applied).
  virtual void FrameChanged();

  PaneIDT mPaneID = 0;
  SInt32 mUserCon = 0;
  LView* mSuperView = nullptr;
  SInt32 mLeft = 0;  // frame in the super view's image
  SInt32 mTop = 0;
  SInt16 mWidth = 0;
  SInt16 mHeight = 0;
  SBooleanRect mFrameBinding;
  Boolean mVisible = true;
  Boolean mEnabled = true;
  Boolean mActive = true;
  Boolean mNeedsDraw = true;
  QWidget* mWidget = nullptr;

 private:
  friend class LView;
  friend class LWindow;
  friend class UPaneHost;
  void Init(const SPaneInfo& inInfo);
  void PlaceWidget();
  // The frame's place in the port shows the window again (before it moves or hides).
  void ExposeOldFrame();

  static LView* sDefaultView;
  static LPane* sLastPaneFocused;
  static SInt16 sClickCount;
};

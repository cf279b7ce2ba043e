// Windows: the top view of a pane tree and a commander. Each window is a
// top-level QWidget (its content is the window's frame) with a port: pixel
// memory the size of the content that self-drawing panes draw into and their
// widgets paint from. Windows are listed by UDesktop in front-to-back order
// within their layer (modal, floating, regular).
#pragma once

#include <string>

#include "platform/framework/LCommander.h"
#include "platform/files/Files.h"
#include "platform/ui/LView.h"

class QImage;
class QMenuBar;

// Window classes.
typedef UInt32 WindowClass;
constexpr WindowClass kAlertWindowClass = 1;
constexpr WindowClass kMovableAlertWindowClass = 2;
constexpr WindowClass kModalWindowClass = 3;
constexpr WindowClass kMovableModalWindowClass = 4;
constexpr WindowClass kFloatingWindowClass = 5;
constexpr WindowClass kDocumentWindowClass = 6;
constexpr WindowClass kUtilityWindowClass = 8;
constexpr WindowClass kHelpWindowClass = 10;
constexpr WindowClass kSheetWindowClass = 11;
constexpr WindowClass kToolbarWindowClass = 12;
constexpr WindowClass kPlainWindowClass = 13;
constexpr WindowClass kOverlayWindowClass = 14;
constexpr WindowClass kSheetAlertWindowClass = 15;
constexpr WindowClass kDrawerWindowClass = 20;

// The framework's window attributes.
constexpr UInt32 windAttr_Modal = 0x80000000;
constexpr UInt32 windAttr_Regular = 0x40000000;
constexpr UInt32 windAttr_Floating = 0x20000000;
constexpr UInt32 windAttr_Targetable = 0x00200000;
constexpr UInt32 windAttr_Resizable = 0x00100000;
constexpr UInt32 windAttr_CloseBox = 0x00080000;
constexpr UInt32 windAttr_HideOnSuspend = 0x00040000;

// Layout record of a window (big-endian), read in place of a pane's:
// SInt32 pane id, Pascal title, UInt32 window class, UInt32 attributes,
// SInt16 left, top, width, height (global position and content size),
// SInt16 min width, min height, max width, max height, SInt32 user con.
struct SWindowInfo {
  PaneIDT paneID = 0;
  std::string title;
  WindowClass windowClass = kDocumentWindowClass;
  UInt32 attributes = windAttr_Regular | windAttr_Targetable | windAttr_Resizable | windAttr_CloseBox;
  SInt16 left = 0;
  SInt16 top = 0;
  SInt16 width = 200;
  SInt16 height = 200;
  SInt16 minWidth = 0;
  SInt16 minHeight = 0;
  SInt16 maxWidth = 32767;
  SInt16 maxHeight = 32767;
  SInt32 userCon = 0;
};

class LWindow : public LView, public LCommander {
 public:
  static constexpr ClassIDT class_ID = 'wind';

  explicit LWindow(const SWindowInfo& inInfo, LCommander* inSuperCommander = nullptr);
  LWindow(LStream* inStream);
  // Leaves the desktop; sub-panes are deleted before the commander part.
  ~LWindow() override;

  ClassIDT GetClassID() const override { return class_ID; }

  WindowClass GetWindowClass() const { return mWindowClass; }
  UInt32 GetAttributes() const { return mAttributes; }
  Boolean HasAttribute(UInt32 inAttr) const { return (mAttributes & inAttr) != 0; }
  void SetAttribute(UInt32 inAttr);
  void ClearAttribute(UInt32 inAttr);
  // Which layer of the desktop the window lives in.
  Boolean IsModal() const { return HasAttribute(windAttr_Modal); }
  Boolean IsFloating() const { return HasAttribute(windAttr_Floating); }
  Boolean IsRegular() const { return !IsModal() && !IsFloating(); }

  // Title (UTF-8 in the Pascal string).
  void SetDescriptor(ConstStringPtr inDescriptor);
  StringPtr GetDescriptor(Str255 outDescriptor) const;
  void SetTitle(const std::string& inTitle);
  const std::string& GetTitle() const { return mTitle; }
  // The file the window shows (its proxy); nil clears it.
  void SetProxyFile(const FSSpec* inFile);
  Boolean HasProxyFile() const { return mHasProxy; }
  // The modified mark ("[*]" in the title bar).
  void SetModified(Boolean inModified);
  Boolean IsModified() const { return mModified; }

  // Showing, selecting, activating. Show puts the window in front of its
  // layer when it is the first shown of that layer; Select brings it to the
  // front and activates it (deactivating the one that was in front).
  void Show() override;
  void Hide() override;
  virtual void Select();
  void Activate() override;
  void Deactivate() override;
  Boolean IsWindowActive() const { return mWindowActive; }

  // Closing: AttemptClose asks (the base always may), DoClose deletes.
  virtual void AttemptClose();
  virtual void DoClose();

  // Content size and position.
  void ResizeWindowTo(SInt16 inWidth, SInt16 inHeight);
  void ResizeWindowBy(SInt16 inWidthDelta, SInt16 inHeightDelta);
  void MoveWindowTo(SInt16 inLeft, SInt16 inTop);
  void GetMinMaxSize(Rect& outRect) const;
  void SetMinMaxSize(const Rect& inRect);
  Rect GetGlobalBounds() const;
  // Room in the top-level widget beside and below the content (a drawer's
  // panel, which may be taller than the content): the frame is that much
  // wider and taller, the content keeps its size and place.
  void SetFrameInsets(SInt16 inLeft, SInt16 inRight, SInt16 inBottom = 0);
  SInt16 GetFrameInsetLeft() const { return mInsetLeft; }
  SInt16 GetFrameInsetRight() const { return mInsetRight; }
  SInt16 GetFrameInsetBottom() const { return mInsetBottom; }

  // Mouse-down in the content at a port point with the click count.
  void HandleClick(const EventRecord& inMacEvent, SInt16 inClickCount);
  // The mouse moved to the port point: cursors and enter/leave.
  void AdjustCursor(Point inPortPt, const EventRecord& inMacEvent);
  // The window's port: pixel memory the size of the content.
  GrafPort* GetWindowPort();
  // The port in Qt's byte order, converted for the port rectangle (band-parallel).
  QImage* GetPortImage(const Rect& inPortRect);
  // Paints the rectangle of the port with the window's background and asks
  // the panes over it to draw again (a pane hid, moved or shrank).
  void ExposePortRect(const Rect& inPortRect);
  // The top-level widget (the content widget is GetWidget()).
  QWidget* GetFrameWidget() { GetWidget(); return mFrame; }
  void SyncWidget() override;

  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;

  // The window that shows a widget (the widget or one of its ancestors).
  static LWindow* FetchWindowOfWidget(QWidget* inWidget);
  // The menu bar shown at the window's top (nil: none yet).
  QMenuBar* GetQtMenuBar() const { return mQtMenuBar; }
  void SetQtMenuBar(QMenuBar* inBar);

  // The window manager's decoration around the shown window became known or
  // changed (it decorates a window only once the window is shown). The
  // window goes back inside the screen's available area; document windows
  // also size themselves again.
  virtual void FrameMarginsChanged();

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  // Called after the desktop selected the window.
  void ActivateSelf() override;
  void DeactivateSelf() override;
  void FrameChanged() override;
  void PutOnDuty(LCommander* inNewTarget) override;

  WindowClass mWindowClass = kDocumentWindowClass;
  UInt32 mAttributes = 0;
  std::string mTitle;
  Boolean mHasProxy = false;
  FSSpec mProxy{};
  Boolean mModified = false;
  Boolean mWindowActive = false;
  SInt16 mGlobalLeft = 0;
  SInt16 mGlobalTop = 0;
  SInt16 mInsetLeft = 0;
  SInt16 mInsetRight = 0;
  SInt16 mInsetBottom = 0;
  Rect mDecoration = {0, 0, 0, 0};  // the window manager's, as last heard of
  Rect mMinMax = {0, 0, 32767, 32767};
  GrafPort* mPort = nullptr;
  QImage* mPortImage = nullptr;  // what the widgets paint: the port in Qt's byte order
  QMenuBar* mQtMenuBar = nullptr;
  QWidget* mFrame = nullptr;  // the top-level widget: menu bar and content
  LPane* mLastMoused = nullptr;

 private:
  friend class UWindowFrame;
  friend class UPaneHost;
  void InitWindow(const SWindowInfo& inInfo);
  void LayoutFrame();
  void UpdateWindowTitle();
};

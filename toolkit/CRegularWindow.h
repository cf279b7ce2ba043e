// The window of every document and of the program's own windows: the
// framework window plus a list of window-modal sheets with one current sheet,
// the window's events re-broadcast to listeners, a unique title for a new
// window and its entry in the Window menu.
#pragma once

#include "platform/framework/LBroadcaster.h"
#include "platform/framework/TArray.h"
#include "platform/ui/LWindow.h"

class LSheet;
class LStream;

// Broadcast with an SWindowEvent* after the window handled one of its events.
constexpr MessageT msg_WindowEvent = 'wind';
// Broadcast with nil when the window's toolbar button was clicked, just
// before the msg_WindowEvent of that click.
constexpr MessageT msg_WindowToolbarButton = 150;

// Window events (class 'wind').
constexpr UInt32 kEventClassWindow = 'wind';
constexpr UInt32 kEventWindowActivated = 5;
constexpr UInt32 kEventWindowDeactivated = 6;
constexpr UInt32 kEventWindowBoundsChanging = 26;
constexpr UInt32 kEventWindowBoundsChanged = 27;
constexpr UInt32 kEventWindowResizeStarted = 28;
constexpr UInt32 kEventWindowResizeCompleted = 29;
constexpr UInt32 kEventWindowExpanded = 70;
constexpr UInt32 kEventWindowCollapsing = 86;
constexpr UInt32 kEventWindowToolbarSwitchMode = 150;
// This desktop's own: the window manager's frame around the shown window
// became known or changed, after the window was placed and sized.
constexpr UInt32 kEventWindowFrameMarginsChanged = 0x7466726D;  // 'tfrm'

struct SWindowEvent {
  UInt32 eventClass = kEventClassWindow;
  UInt32 eventKind = 0;
};

// Collapses or expands the window (command 6200).
constexpr CommandT cmd_CollapseWindow = 6200;

// The window texts: the first name of new windows, the collapse item's two texts.
constexpr SInt16 STRx_Windows = 5016;
constexpr SInt16 str_UntitledWindow = 1;
constexpr SInt16 str_ExpandWindow = 2;
constexpr SInt16 str_CollapseWindow = 3;

class CRegularWindow : public LWindow, public LBroadcaster {
 public:
  static constexpr ClassIDT class_ID = 'RegW';

  explicit CRegularWindow(const SWindowInfo& inInfo, LCommander* inSuperCommander = nullptr);
  explicit CRegularWindow(LStream* inStream);
  // Deletes the sheets still on the window (a sheet's timers would otherwise
  // call back into a window that is gone) and leaves the Window menu.
  ~CRegularWindow() override;

  static CRegularWindow* CreateRegularWindowStream(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  // Appends the sheet (its parent window becomes this one); the flag makes
  // it the current sheet.
  virtual void AddSheet(LSheet* inSheet, Boolean inMakeCurrent);
  // Takes the sheet off the list; when it was current, the last one left
  // becomes current. A sheet not on the list changes nothing.
  virtual void RemoveSheet(LSheet* inSheet);
  // Hides the old current sheet (the window enabled again) and, while the
  // window is visible, shows the new one (the window disabled meanwhile).
  virtual void MakeCurrentSheet(LSheet* inSheet);
  LSheet* GetCurrentSheet() const { return mCurrentSheet; }
  SInt32 CountSheets() const { return mSheetList.GetCount(); }
  LSheet* GetSheet(ArrayIndexT inIndex) const;

  // Joins the Window menu when it was hidden; shows the current sheet. The
  // first time, the window is cascaded below the front one.
  void Show() override;
  // Leaves the Window menu; hides the current sheet.
  void Hide() override;
  void Activate() override;
  void Deactivate() override;

  // The window's toolbar button: broadcasts 150, then the window event.
  virtual void ClickToolbarButton();
  // Collapsed windows show only their title (minimised on this desktop).
  Boolean IsCollapsed() const;
  virtual void SetCollapsed(Boolean inCollapsed);

  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;

  // Keeps the window on the screen, then broadcasts the window event
  // kEventWindowFrameMarginsChanged.
  void FrameMarginsChanged() override;

  // Broadcasts msg_WindowEvent for an event of the given kind.
  void BroadcastWindowEvent(UInt32 inEventKind);
  // The title of a new window: "Untitled", else "Untitled 1", "Untitled 2"…,
  // the first that no other window than inExcept has.
  static void MakeUniqueTitle(Str255 outTitle, const LWindow* inExcept);

 protected:
  // Once: gives the window a unique title and, when visible, its
  // Window-menu entry.
  void FinishCreateSelf() override;
  // Moves the window below and right of the front one (done when it is
  // first shown, so that the size it has then decides).
  void Cascade();
  void FrameChanged() override;

 private:
  void Init();

  TArray<LSheet*> mSheetList;
  LSheet* mCurrentSheet = nullptr;
  Boolean mCreationFinished = false;
  Boolean mPlaced = false;
  Boolean mDeletingSheets = false;
};

// A drawer: a panel built from a layout that slides out of a document
// window's side (the side with room on the screen) and back. Its behaviour
// is the owner's procedure, which hears, with the drawer's window, the
// message, a parameter and the owner's reference value:
//   -10 at the start of Open, before anything moves: non-zero stops the
//       opening and is thrown;
//   -11 at the end of Close, after the drawer slid back: non-zero is thrown;
//   -12 every second from construction on (the idle event): non-zero
//       releases the drawer;
//   -13 once, while the drawer is being destroyed (released, or closed with
//       its window): pointers to it are stale from then on;
//   every message broadcast by its panes or by its window except 202 and
//       'wind': non-zero releases the drawer.
// A drawer released from inside one of its own handlers is deleted at the
// next pass of the event loop, after the handler and its callers returned.
#pragma once

#include "platform/framework/LListener.h"
#include "platform/framework/LPeriodical.h"
#include "platform/ui/LPane.h"
#include "platform/ui/USheetWindows.h"

class CRegularWindow;
class LCommander;
class LWindow;

typedef SInt32 (*DrawerProcPtr)(LWindow* inDrawerWindow, SInt32 inMessage, void* ioParam, void* inRefCon);

constexpr SInt32 msg_DrawerOpening = -10;
constexpr SInt32 msg_DrawerClosed = -11;
constexpr SInt32 msg_DrawerIdle = -12;
constexpr SInt32 msg_DrawerReleased = -13;

class LDrawer : public LPeriodical, public LListener {
 public:
  // Reads layout inLayoutID into the drawer's window ('nilP' without a
  // parent or a layout), links the drawer to its panes and to the parent's
  // broadcasts, and starts the per-second call. The drawer is closed.
  LDrawer(CRegularWindow* inParent, ResIDT inLayoutID, DrawerProcPtr inProc, void* inRefCon);
  // -13 to the procedure; the panel leaves the window, which shrinks back.
  ~LDrawer() override;

  void SpendTime(const EventRecord& inMacEvent) override;
  // Deletes the drawer; from inside one of its own handlers, at the next pass.
  virtual void Release();
  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  // Slides out (nothing when open already).
  virtual void Open();
  // Slides back (nothing when closed).
  virtual void Close();
  virtual Boolean IsOpen() const { return mOpen; }
  virtual LWindow* GetWindow() const { return mDrawerWindow; }

  // 0 closed, 1 left of the window, 2 right of it.
  SInt16 GetSide() const { return mSide; }
  CRegularWindow* GetParentWindow() const { return mParentWindow; }
  Boolean IsReleasing() const { return mReleasing; }
  // The side a drawer of the width opens to beside a window's bounds on
  // screens covering inScreens: the right when it has room (the drawer's
  // width less 16), else the left when that has room, else the side with
  // more room (the right when equal).
  static SInt16 ChooseSide(const Rect& inScreens, const Rect& inParent, SInt16 inDrawerWidth);

 protected:
  friend class LDrawerAnchor;
  // The parent window is going: the drawer goes with it.
  void ParentGoing();
  SInt32 CallProc(SInt32 inMessage, void* ioParam);

  CRegularWindow* mParentWindow;
  LCommander* mAnchor = nullptr;  // the drawer window's super commander, under the parent
  LWindow* mDrawerWindow = nullptr;
  DrawerProcPtr mProc;
  void* mRefCon;
  MessageT mLastMessage = msg_Nothing;
  SInt16 mSide = kDrawerSideNone;
  Boolean mOpen = false;
  Boolean mReleasing = false;
  SInt32 mHandlerDepth = 0;
  bool* mDeletedFlag = nullptr;
};

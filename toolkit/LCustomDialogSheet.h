// A sheet built from a layout and driven by a procedure of its owner.
//
// The procedure hears, with the sheet, the message, a parameter and the
// owner's reference value:
//   -10 once the layout was read and linked (and when a new procedure is
//       set): non-zero fails the construction with that code;
//   -11 when the procedure is replaced and when the sheet is destroyed;
//   -12 every second while the sheet exists (the idle event);
//   900 Return or Enter, 901 Escape, 814 any other key (the key event);
//   every message broadcast by a control of the sheet except 202 (pane ids
//   double as messages; a layout's Cancel button sends 901).
// A non-zero answer to -12, a key or a broadcast closes the sheet. A sheet
// that closes from inside one of its own handlers leaves its window at once
// and is deleted at the next pass of the event loop, after that handler and
// its callers have returned.
#pragma once

#include "platform/framework/LListener.h"
#include "platform/framework/LPeriodical.h"
#include "platform/ui/LPane.h"
#include "toolkit/LSheet.h"

class LCustomDialogSheet;
class LWindow;

typedef SInt32 (*SheetProcPtr)(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon);

constexpr SInt32 msg_SheetBuilt = -10;
constexpr SInt32 msg_SheetDetached = -11;
constexpr SInt32 msg_SheetIdle = -12;
constexpr SInt32 msg_SheetReturnKey = 900;
constexpr SInt32 msg_SheetEscapeKey = 901;  // also the Cancel button's message
constexpr SInt32 msg_SheetOtherKey = 814;
// A control message that never reaches the procedure.
constexpr MessageT msg_SheetIgnored = 202;

class LCustomDialogSheet : public LDocumentSheet, public LPeriodical, public LListener {
 public:
  // Reads layout inLayoutID into a new sheet window ('nilP' when there is no
  // such layout), links the sheet to the layout's broadcasters (its link list,
  // else every control), calls the procedure with -10 and starts the
  // per-second call. Any failure deletes what was built and is thrown.
  LCustomDialogSheet(LListener* inListener, ResIDT inLayoutID, SheetProcPtr inProc, void* inRefCon);
  // Calls the procedure with -11, tells the listeners (msg_SheetReleased),
  // hides and deletes the sheet window.
  ~LCustomDialogSheet() override;

  void Show() override;
  void Hide() override;
  // Leaves the window and deletes the sheet; from inside one of the sheet's
  // own handlers the deletion waits for the next pass of the event loop.
  void Release() override;
  Boolean IsReleasing() const { return mReleasing; }

  // With a procedure the key goes to it (900, 901, 814) and counts as
  // handled; without one it is not handled here.
  Boolean HandleKeyPress(const EventRecord& inKeyEvent) override;
  void SpendTime(const EventRecord& inMacEvent) override;
  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  // The sheet window's close box (the desktop's title-bar button) is the
  // Cancel button (901): the window stays the sheet's until the sheet goes.
  Boolean AllowSubRemoval(LCommander* inSub) override;
  // -11 to the old procedure, then -10 to the new one (its non-zero answer is thrown).
  virtual void SetProgressProc(SheetProcPtr inProc, void* inRefCon);

  // A ready-made procedure: -128 for 901, else 0.
  static SInt32 ProgressProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon);

  LWindow* GetSheetWindow() const { return mSheetWindow; }
  SheetProcPtr GetProc() const { return mProc; }
  void* GetRefCon() const { return mRefCon; }
  MessageT GetLastMessage() const { return mLastMessage; }
  // A pane of the sheet by id (nil when none).
  LPane* FindPaneByID(PaneIDT inPaneID) const;

 protected:
  // Calls the procedure (0 without one); a non-zero answer releases the sheet.
  SInt32 CallProc(SInt32 inMessage, void* ioParam, Boolean inReleaseOnAnswer);

  LWindow* mSheetWindow = nullptr;
  SheetProcPtr mProc;
  void* mRefCon;
  MessageT mLastMessage = msg_Nothing;
  SInt32 mHandlerDepth = 0;  // how many of the sheet's own handlers are running
  Boolean mReleasing = false;
  bool* mDeletedFlag = nullptr;  // the innermost running handler's flag
};

#include "toolkit/LCustomDialogSheet.h"

#include "platform/base/LException.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/URegistrar.h"
#include "platform/ui/USheetWindows.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/LSheetLayout.h"


LCustomDialogSheet::LCustomDialogSheet(LListener* inListener, ResIDT inLayoutID, SheetProcPtr inProc, void* inRefCon)
    : LDocumentSheet(inListener), mProc(inProc), mRefCon(inRefCon) {
  LSheetLayout::RegisterClasses();
  mSheetWindow = LSheetLayout::ReadLayoutWindow(inLayoutID, kSheetWindowClass, this);
  try {
    // Not modal: only its document window waits for it.
    mSheetWindow->ClearAttribute(windAttr_Modal | windAttr_Floating);
    mSheetWindow->SetAttribute(windAttr_Regular | windAttr_Targetable);
    LSheetLayout::LinkLayout(this, mSheetWindow, inLayoutID);
    if (const SInt32 answer = mProc ? mProc(this, msg_SheetBuilt, nullptr, mRefCon) : 0; answer != 0) Throw_(answer);
  } catch (...) {
    delete mSheetWindow;
    mSheetWindow = nullptr;
    throw;
  }
  StartRepeating(kEventDurationSecond);
}

LCustomDialogSheet::~LCustomDialogSheet() {
  if (mDeletedFlag) *mDeletedFlag = true;
  mReleasing = true;
  StopRepeating();
  if (mParentWindow) mParentWindow->RemoveSheet(this);
  if (mShown) Hide();
  if (mProc) mProc(this, msg_SheetDetached, nullptr, mRefCon);
  BroadcastMessage(msg_SheetReleased, static_cast<LSheet*>(this));
  LWindow* window = mSheetWindow;
  mSheetWindow = nullptr;
  if (!window) return;
  window->SetSuperCommander(nullptr);
  if (mHandlerDepth > 0) {
    // Deleted from inside one of its own handlers (a control of the window
    // may still be broadcasting): the window goes at the next pass.
    UDeferredRelease::Post([window] { delete window; });
  } else {
    delete window;
  }
}

void LCustomDialogSheet::Show() {
  if (mShown || !mParentWindow) return;
  LSheet::Show();
  USheetWindows::ShowSheetWindow(mSheetWindow, mParentWindow);
}

void LCustomDialogSheet::Hide() {
  if (!mShown) return;
  LSheet::Hide();
  USheetWindows::HideSheetWindow(mSheetWindow);
}

void LCustomDialogSheet::Release() {
  if (mReleasing) return;  // its deletion is on its way
  if (mHandlerDepth == 0) {
    LSheet::Release();
    return;
  }
  // Inside one of its own handlers: off the window now, deleted later.
  mReleasing = true;
  StopRepeating();
  if (mParentWindow) mParentWindow->RemoveSheet(this);
  if (mShown) Hide();
  UDeferredRelease::Post([this] { delete this; });
}

SInt32 LCustomDialogSheet::CallProc(SInt32 inMessage, void* ioParam, Boolean inReleaseOnAnswer) {
  if (!mProc || mReleasing) return 0;
  StSheetHandler handler(mHandlerDepth, mDeletedFlag);
  const SInt32 answer = mProc(this, inMessage, ioParam, mRefCon);
  if (handler.Deleted()) return answer;
  if (answer != 0 && inReleaseOnAnswer) Release();
  return answer;
}

Boolean LCustomDialogSheet::HandleKeyPress(const EventRecord& inKeyEvent) {
  if (!mProc) return false;
  if (inKeyEvent.what != keyDown && inKeyEvent.what != autoKey) return true;
  const UInt32 ch = inKeyEvent.message & charCodeMask;
  SInt32 message = msg_SheetOtherKey;
  if (ch == 13 || ch == 3)
    message = msg_SheetReturnKey;
  else if ((inKeyEvent.message & 0xFFFF) == 0x351B)
    message = msg_SheetEscapeKey;
  EventRecord event = inKeyEvent;
  CallProc(message, &event, true);
  return true;
}

void LCustomDialogSheet::SpendTime(const EventRecord& inMacEvent) {
  StDrawContextState state;
  EventRecord event = inMacEvent;
  CallProc(msg_SheetIdle, &event, true);
}

void LCustomDialogSheet::ListenToMessage(MessageT inMessage, void* ioParam) {
  if (mReleasing) return;
  mLastMessage = inMessage;
  if (inMessage == msg_SheetIgnored) return;
  CallProc(inMessage, ioParam, true);
}

Boolean LCustomDialogSheet::AllowSubRemoval(LCommander* inSub) {
  if (mSheetWindow == nullptr || inSub != static_cast<LCommander*>(mSheetWindow))
    return LDocumentSheet::AllowSubRemoval(inSub);
  ListenToMessage(msg_SheetEscapeKey, nullptr);
  return false;
}

void LCustomDialogSheet::SetProgressProc(SheetProcPtr inProc, void* inRefCon) {
  if (mProc) CallProc(msg_SheetDetached, nullptr, false);
  mProc = inProc;
  mRefCon = inRefCon;
  if (mProc) {
    if (const SInt32 answer = CallProc(msg_SheetBuilt, nullptr, false); answer != 0) Throw_(answer);
  }
}

SInt32 LCustomDialogSheet::ProgressProc(LCustomDialogSheet*, SInt32 inMessage, void*, void*) {
  return inMessage == msg_SheetEscapeKey ? -128 : 0;
}

LPane* LCustomDialogSheet::FindPaneByID(PaneIDT inPaneID) const {
  return mSheetWindow ? mSheetWindow->FindPaneByIDOrNil(inPaneID) : nullptr;
}

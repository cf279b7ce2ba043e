#include "toolkit/LDrawer.h"

#include "platform/base/LException.h"
#include "platform/framework/LCommander.h"
#include "platform/ui/LWindow.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LSheet.h"
#include "toolkit/LSheetLayout.h"
#include "toolkit/StDrawContextState.h"

// The drawer window's super commander, a sub-commander of the parent
// window: keys of the drawer's panes go up to the window, and the parent's
// end (which deletes its sub-commanders) reaches the drawer here first.
class LDrawerAnchor : public LCommander {
 public:
  LDrawerAnchor(LCommander* inParent, LDrawer* inDrawer) : LCommander(inParent), mDrawer(inDrawer) {}
  ~LDrawerAnchor() override {
    if (LDrawer* drawer = mDrawer) {
      mDrawer = nullptr;
      drawer->ParentGoing();
    }
  }
  void Forget() { mDrawer = nullptr; }

 private:
  LDrawer* mDrawer;
};

LDrawer::LDrawer(CRegularWindow* inParent, ResIDT inLayoutID, DrawerProcPtr inProc, void* inRefCon)
    : mParentWindow(inParent), mProc(inProc), mRefCon(inRefCon) {
  ThrowIfNil_(inParent);
  LSheetLayout::RegisterClasses();
  auto* anchor = new LDrawerAnchor(inParent, this);
  try {
    mDrawerWindow = LSheetLayout::ReadLayoutWindow(inLayoutID, kDrawerWindowClass, anchor);
  } catch (...) {
    anchor->Forget();
    delete anchor;
    throw;
  }
  mAnchor = anchor;
  mDrawerWindow->ClearAttribute(windAttr_Modal | windAttr_Floating);
  LSheetLayout::LinkLayout(this, mDrawerWindow, inLayoutID);
  inParent->AddListener(this);
  StartRepeating(kEventDurationSecond);
}

LDrawer::~LDrawer() {
  if (mDeletedFlag) *mDeletedFlag = true;
  mReleasing = true;
  StopRepeating();
  if (mProc) mProc(mDrawerWindow, msg_DrawerReleased, nullptr, mRefCon);
  LWindow* window = mDrawerWindow;
  mDrawerWindow = nullptr;
  if (window) {
    USheetWindows::DetachDrawer(window, mParentWindow, false);
    window->SetSuperCommander(nullptr);
  }
  if (auto* anchor = static_cast<LDrawerAnchor*>(mAnchor)) {
    anchor->Forget();
    delete anchor;
  }
  mAnchor = nullptr;
  if (!window) return;
  if (mHandlerDepth > 0) {
    // A pane of the drawer may still be broadcasting: the window goes at the next pass.
    UDeferredRelease::Post([window] { delete window; });
  } else {
    delete window;
  }
}

void LDrawer::ParentGoing() {
  // The parent is half gone: nothing of it may be touched any more.
  mParentWindow = nullptr;
  mAnchor = nullptr;
  mOpen = false;
  mSide = kDrawerSideNone;
  delete this;
}

SInt32 LDrawer::CallProc(SInt32 inMessage, void* ioParam) {
  if (!mProc || mReleasing) return 0;
  StSheetHandler handler(mHandlerDepth, mDeletedFlag);
  const SInt32 answer = mProc(mDrawerWindow, inMessage, ioParam, mRefCon);
  if (handler.Deleted()) return 0;
  return answer;
}

void LDrawer::Release() {
  if (mReleasing) return;  // its deletion is on its way
  if (mHandlerDepth == 0) {
    delete this;
    return;
  }
  // Inside one of its own handlers: out of sight now, deleted later.
  mReleasing = true;
  StopRepeating();
  if (mDrawerWindow && mOpen) USheetWindows::DetachDrawer(mDrawerWindow, mParentWindow, false);
  mOpen = false;
  mSide = kDrawerSideNone;
  UDeferredRelease::Post([this] { delete this; });
}

void LDrawer::SpendTime(const EventRecord& inMacEvent) {
  StSheetHandler handler(mHandlerDepth, mDeletedFlag);
  StDrawContextState state;
  EventRecord event = inMacEvent;
  if (CallProc(msg_DrawerIdle, &event) != 0 && !handler.Deleted()) Release();
}

void LDrawer::ListenToMessage(MessageT inMessage, void* ioParam) {
  if (mReleasing) return;
  StSheetHandler handler(mHandlerDepth, mDeletedFlag);
  mLastMessage = inMessage;
  if (inMessage == 202) return;
  if (inMessage == msg_WindowEvent) {
    // The panel lives inside the parent's frame and moves with it; when the
    // content changes size it goes back beside it.
    auto* event = static_cast<SWindowEvent*>(ioParam);
    if (mOpen && event && event->eventKind == kEventWindowBoundsChanged)
      USheetWindows::FollowParent(mDrawerWindow, mParentWindow, mSide);
    return;
  }
  if (CallProc(inMessage, ioParam) != 0 && !handler.Deleted()) Release();
}

SInt16 LDrawer::ChooseSide(const Rect& inScreens, const Rect& inParent, SInt16 inDrawerWidth) {
  const SInt32 rightRoom = inScreens.right - inParent.right;
  const SInt32 leftRoom = inParent.left - inScreens.left;
  const SInt32 need = inDrawerWidth - 16;
  if (rightRoom >= need) return kDrawerSideRight;
  if (leftRoom >= need) return kDrawerSideLeft;
  return rightRoom < leftRoom ? kDrawerSideLeft : kDrawerSideRight;
}

void LDrawer::Open() {
  if (mOpen || mReleasing || !mParentWindow) return;
  if (const SInt32 answer = CallProc(msg_DrawerOpening, nullptr); answer != 0) Throw_(answer);
  SDimension16 size;
  mDrawerWindow->GetFrameSize(size);
  mSide = ChooseSide(USheetWindows::GetScreensBounds(), mParentWindow->GetGlobalBounds(), size.width);
  USheetWindows::AttachDrawer(mDrawerWindow, mParentWindow, mSide, true);
  mOpen = true;
}

void LDrawer::Close() {
  if (!mOpen) return;
  USheetWindows::DetachDrawer(mDrawerWindow, mParentWindow, true);
  mSide = kDrawerSideNone;
  mOpen = false;
  if (const SInt32 answer = CallProc(msg_DrawerClosed, nullptr); answer != 0) Throw_(answer);
}

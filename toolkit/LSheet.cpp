#include "toolkit/LSheet.h"

#include "platform/framework/LListener.h"
#include "platform/framework/LTimerTask.h"
#include "toolkit/CReUndoer.h"
#include "toolkit/CRegularWindow.h"

namespace {
// Whether inCommander is inTop or lies below it.
bool IsBelow(LCommander* inTop, LCommander* inCommander) {
  if (!inTop || !inCommander) return false;
  if (inTop == inCommander) return true;
  for (LCommander* sub : inTop->GetSubCommanders())
    if (IsBelow(sub, inCommander)) return true;
  return false;
}
// One deferred job: a timer due at once that deletes itself.
class DeferredWork : public LTimerTask {
 public:
  explicit DeferredWork(std::function<void()> inWork) : LTimerTask(0.0), mWork(std::move(inWork)) {}
  void DoTask() override {
    std::function<void()> work = std::move(mWork);
    delete this;
    if (work) work();
  }

 private:
  std::function<void()> mWork;
};
}  // namespace

StSheetHandler::StSheetHandler(SInt32& ioDepth, bool*& ioDeletedFlag) : mDepth(ioDepth), mFlagSlot(ioDeletedFlag) {
  ++mDepth;
  mOuterFlag = mFlagSlot;
  mFlagSlot = &mDeleted;
}

StSheetHandler::~StSheetHandler() {
  if (mDeleted) {
    // The object is gone: only the outer handlers are told.
    if (mOuterFlag) *mOuterFlag = true;
    return;
  }
  --mDepth;
  mFlagSlot = mOuterFlag;
}

void UDeferredRelease::Post(std::function<void()> inWork) { new DeferredWork(std::move(inWork)); }

LDocumentSheet::LDocumentSheet(LListener* inListener) : LSheet(nullptr) {
  if (inListener) AddListener(inListener);
}

LSheet::LSheet(LCommander* inSuper) : LCommander(inSuper) { AddAttachment(new CReUndoer); }

LSheet::~LSheet() {
  if (mParentWindow) mParentWindow->RemoveSheet(this);
}

void LSheet::Release() {
  if (mParentWindow) mParentWindow->RemoveSheet(this);
  delete this;
}

void LSheet::SetParentWindow(CRegularWindow* inWindow) { mParentWindow = inWindow; }

void LSheet::Show() {
  if (!mParentWindow || mShown) return;
  mShown = true;
  SetSuperCommander(mParentWindow);
  if (mParentWindow->IsOnDuty()) {
    mFormerTarget = GetTarget();
    SwitchTarget(this);
  } else {
    mFormerTarget = mParentWindow->GetDeepestLatentSub();
    mParentWindow->SetLatentSub(this);
  }
}

void LSheet::Hide() {
  if (!mShown) return;
  mShown = false;
  LCommander* window = mParentWindow;
  // The former target may have gone meanwhile: then the window takes it.
  LCommander* back = IsBelow(window, mFormerTarget) && mFormerTarget != this ? mFormerTarget : window;
  mFormerTarget = nullptr;
  if (IsOnDuty()) {
    SwitchTarget(back);
  } else if (window && window->GetLatentSub() == this) {
    // The window is not active: its latent chain leads back to the former target.
    LCommander* direct = back;
    while (direct && direct->GetSuperCommander() != window) direct = direct->GetSuperCommander();
    window->SetLatentSub(direct == window ? nullptr : direct);
  }
  SetSuperCommander(nullptr);
}

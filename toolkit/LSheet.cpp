#include "toolkit/LSheet.h"

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
}  // namespace

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

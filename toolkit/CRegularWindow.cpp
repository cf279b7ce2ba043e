#include "toolkit/CRegularWindow.h"

#include "platform/framework/LStr255.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UWindowState.h"
#include "toolkit/CWindowMenu.h"
#include "toolkit/LSheet.h"
#include "toolkit/UFileUtils.h"
#include "toolkit/ULocalization.h"

namespace {
// How far a new window sits below and right of the front one.
constexpr SInt16 kCascadeStep = 22;
}

CRegularWindow::CRegularWindow(const SWindowInfo& inInfo, LCommander* inSuperCommander)
    : LWindow(inInfo, inSuperCommander) {
  Init();
}

CRegularWindow::CRegularWindow(LStream* inStream) : LWindow(inStream) { Init(); }

CRegularWindow* CRegularWindow::CreateRegularWindowStream(LStream* inStream) { return new CRegularWindow(inStream); }

void CRegularWindow::Init() { mCurrentSheet = nullptr; }

CRegularWindow::~CRegularWindow() {
  mDeletingSheets = true;
  mCurrentSheet = nullptr;
  while (mSheetList.GetCount() > 0) {
    LSheet* sheet = mSheetList[mSheetList.GetCount()];
    mSheetList.RemoveItemsAt(1, mSheetList.GetCount());
    sheet->SetParentWindow(nullptr);
    delete sheet;
  }
  if (CWindowMenu::mWindowMenu) CWindowMenu::mWindowMenu->RemoveWindow(this);
}

LSheet* CRegularWindow::GetSheet(ArrayIndexT inIndex) const {
  return mSheetList.ValidIndex(inIndex) ? mSheetList[inIndex] : nullptr;
}

void CRegularWindow::AddSheet(LSheet* inSheet, Boolean inMakeCurrent) {
  if (!inSheet || mDeletingSheets) return;
  if (mSheetList.FetchIndexOf(inSheet) == index_Bad) mSheetList.AddItem(inSheet);
  inSheet->SetParentWindow(this);
  if (inMakeCurrent) MakeCurrentSheet(inSheet);
}

void CRegularWindow::RemoveSheet(LSheet* inSheet) {
  if (mDeletingSheets) return;
  ArrayIndexT index = mSheetList.FetchIndexOf(inSheet);
  if (index == index_Bad) return;
  mSheetList.RemoveItemsAt(1, index);
  if (inSheet == mCurrentSheet) MakeCurrentSheet(mSheetList.GetCount() > 0 ? mSheetList[mSheetList.GetCount()] : nullptr);
  inSheet->SetParentWindow(nullptr);
}

void CRegularWindow::MakeCurrentSheet(LSheet* inSheet) {
  if (inSheet == mCurrentSheet) return;
  if (mCurrentSheet) {
    LSheet* old = mCurrentSheet;
    mCurrentSheet = nullptr;
    old->Hide();
    Enable();
  }
  if (inSheet && GetVisibleState()) {
    inSheet->Show();
    Disable();
  }
  mCurrentSheet = inSheet;
}

void CRegularWindow::Show() {
  Boolean wasVisible = GetVisibleState();
  if (!wasVisible && !mPlaced) {
    // Placed when first shown, with the size its owner gave it meanwhile
    // (a document sizes its window for its movie after the layout made it).
    mPlaced = true;
    if (!mCreationFinished) FinishCreate();
    Cascade();
  }
  LWindow::Show();
  if (!wasVisible && CWindowMenu::mWindowMenu) CWindowMenu::mWindowMenu->InsertWindow(this);
  if (mCurrentSheet) {
    mCurrentSheet->Show();
    Disable();
  }
}

void CRegularWindow::Hide() {
  Boolean wasVisible = GetVisibleState();
  if (wasVisible && CWindowMenu::mWindowMenu) CWindowMenu::mWindowMenu->RemoveWindow(this);
  LWindow::Hide();
  if (mCurrentSheet) {
    mCurrentSheet->Hide();
    Enable();
  }
}

void CRegularWindow::Activate() {
  Boolean wasActive = IsWindowActive();
  LWindow::Activate();
  if (wasActive || !IsWindowActive()) return;
  SetUpdateCommandStatus(true);
  Refresh();
  BroadcastWindowEvent(kEventWindowActivated);
}

void CRegularWindow::Deactivate() {
  Boolean wasActive = IsWindowActive();
  LWindow::Deactivate();
  if (!wasActive || IsWindowActive()) return;
  SetUpdateCommandStatus(false);
  BroadcastWindowEvent(kEventWindowDeactivated);
}

void CRegularWindow::FrameChanged() {
  LWindow::FrameChanged();
  BroadcastWindowEvent(kEventWindowBoundsChanged);
}

void CRegularWindow::FrameMarginsChanged() {
  LWindow::FrameMarginsChanged();
  BroadcastWindowEvent(kEventWindowFrameMarginsChanged);
}

void CRegularWindow::ClickToolbarButton() {
  BroadcastMessage(msg_WindowToolbarButton, nullptr);
  BroadcastWindowEvent(kEventWindowToolbarSwitchMode);
}

Boolean CRegularWindow::IsCollapsed() const { return UWindowState::IsCollapsed(this); }

void CRegularWindow::SetCollapsed(Boolean inCollapsed) {
  if (inCollapsed == IsCollapsed()) return;
  if (inCollapsed) {
    BroadcastWindowEvent(kEventWindowCollapsing);
    UWindowState::SetCollapsed(this, true);
  } else {
    UWindowState::SetCollapsed(this, false);
    BroadcastWindowEvent(kEventWindowExpanded);
  }
}

void CRegularWindow::BroadcastWindowEvent(UInt32 inEventKind) {
  SWindowEvent event;
  event.eventKind = inEventKind;
  BroadcastMessage(msg_WindowEvent, &event);
}

Boolean CRegularWindow::ObeyCommand(CommandT inCommand, void* ioParam) {
  if (inCommand == cmd_CollapseWindow && UWindowState::IsCollapsable(this)) {
    SetCollapsed(!IsCollapsed());
    return true;
  }
  return LWindow::ObeyCommand(inCommand, ioParam);
}

void CRegularWindow::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                       Str255 outName) {
  if (inCommand == cmd_CollapseWindow) {
    if (UWindowState::IsCollapsable(this)) {
      outEnabled = true;
      ULocalization::GetString(outName, STRx_Windows, IsCollapsed() ? str_ExpandWindow : str_CollapseWindow);
    }
    return;
  }
  LWindow::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

void CRegularWindow::MakeUniqueTitle(Str255 outTitle, const LWindow* inExcept) {
  Str255 base;
  ULocalization::GetString(base, STRx_Windows, str_UntitledWindow);
  // n windows take at most n names: one of the first n + 1 is free (a cut
  // name may repeat, so the search stops there in any case).
  const SInt32 limit = static_cast<SInt32>(UDesktop::GetWindows().size()) + 1;
  LStr255 name(base);
  for (SInt32 n = 1; n <= limit && UFileUtils::FindNamedWindow(name, inExcept); ++n) {
    name.Assign(base);
    name += ' ';
    name += LStr255(n);
  }
  for (UInt8 i = 0; i <= name.Length(); ++i) outTitle[i] = name[i];
}

void CRegularWindow::FinishCreateSelf() {
  LWindow::FinishCreateSelf();
  if (mCreationFinished) return;
  mCreationFinished = true;
  if (GetVisibleState() && !mPlaced) {
    // Made visible: it will not be shown again to be placed.
    mPlaced = true;
    Cascade();
  }
  Str255 title;
  MakeUniqueTitle(title, this);
  SetDescriptor(title);
  if (GetVisibleState() && CWindowMenu::mWindowMenu) CWindowMenu::mWindowMenu->InsertWindow(this);
}

void CRegularWindow::Cascade() {
  // Below and right of the front regular window; a step that would leave the
  // screen's free area starts the cascade again at its top left.
  for (LWindow* w : UDesktop::GetWindows()) {
    if (w == this || !w->IsRegular() || !w->GetVisibleState() || w->GetWindowClass() != GetWindowClass()) continue;
    const Rect front = w->GetGlobalBounds();
    SInt32 left = front.left - w->GetFrameInsetLeft() + kCascadeStep, top = front.top + kCascadeStep;
    const Rect area = UWindowState::GetAvailableScreenArea(w);
    if (area.right > area.left && area.bottom > area.top) {
      const Rect margins = UWindowState::GetFrameMargins(this);
      const SInt32 width = mWidth + margins.left + margins.right, height = mHeight + margins.top + margins.bottom;
      if (left + width > area.right || top + height > area.bottom) {
        left = area.left;
        top = area.top;
      }
    }
    MoveWindowTo(static_cast<SInt16>(left), static_cast<SInt16>(top));
    break;
  }
  UWindowState::KeepOnScreen(this);
}

#include "platform/ui/LPane.h"

#include <QCursor>
#include <QVariant>
#include <QWidget>
#include <algorithm>

#include "platform/base/LException.h"
#include "platform/framework/LStream.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UPaneHost.h"
#include "platform/ui/UQtSupport.h"

LView* LPane::sDefaultView = nullptr;
LPane* LPane::sLastPaneFocused = nullptr;
LPane* LPane::sLastPaneMoused = nullptr;
LPane* LPane::sLastPaneClicked = nullptr;
SInt16 LPane::sClickCount = 0;

namespace {
ECursorShape sCursor = cursor_Arrow;
}

void UCursor::Set(ECursorShape inShape) { sCursor = inShape; }
ECursorShape UCursor::Get() { return sCursor; }

OSStatus SetThemeCursor(SInt16 inCursor) {
  switch (inCursor) {
    case kThemeIBeamCursor: UCursor::Set(cursor_IBeam); break;
    case kThemeCrossCursor: UCursor::Set(cursor_Cross); break;
    case kThemeWatchCursor: UCursor::Set(cursor_Wait); break;
    case kThemeClosedHandCursor: UCursor::Set(cursor_ClosedHand); break;
    case kThemeOpenHandCursor: UCursor::Set(cursor_OpenHand); break;
    case kThemePointingHandCursor: UCursor::Set(cursor_PointingHand); break;
    case kThemeResizeLeftCursor: UCursor::Set(cursor_ResizeLeft); break;
    case kThemeResizeRightCursor: UCursor::Set(cursor_ResizeRight); break;
    case kThemeResizeLeftRightCursor: UCursor::Set(cursor_ResizeLeftRight); break;
    case kThemeCopyArrowCursor: UCursor::Set(cursor_Copy); break;
    case kThemeNotAllowedCursor: UCursor::Set(cursor_NotAllowed); break;
    default: UCursor::Set(cursor_Arrow); break;
  }
  return noErr;
}

LPane::LPane() = default;

LPane::LPane(const SPaneInfo& inPaneInfo) { Init(inPaneInfo); }

LPane::LPane(LStream* inStream) {
  SPaneInfo info;
  SInt32 id = 0, left = 0, top = 0, userCon = 0, superID = 0;
  SInt16 width = 0, height = 0;
  UInt8 visible = 1, enabled = 1, bl = 0, bt = 0, br = 0, bb = 0;
  *inStream >> id >> width >> height >> visible >> enabled >> bl >> bt >> br >> bb >> left >> top >> userCon >> superID;
  info.paneID = id;
  info.width = width;
  info.height = height;
  info.visible = visible != 0;
  info.enabled = enabled != 0;
  info.bindings = SBooleanRect{bl != 0, bt != 0, br != 0, bb != 0};
  info.left = left;
  info.top = top;
  info.userCon = userCon;
  if (superID == -1) {
    info.superView = sDefaultView;
  } else if (superID != 0 && sDefaultView) {
    LPane* top = sDefaultView;
    while (top->mSuperView) top = top->mSuperView;
    info.superView = dynamic_cast<LView*>(top->FindPaneByIDOrNil(superID));
    if (!info.superView) Throw_(err_NilPointer);
  }
  Init(info);
}

void LPane::Init(const SPaneInfo& inInfo) {
  mPaneID = inInfo.paneID;
  mWidth = inInfo.width;
  mHeight = inInfo.height;
  mVisible = inInfo.visible;
  mEnabled = inInfo.enabled;
  mFrameBinding = inInfo.bindings;
  mLeft = inInfo.left;
  mTop = inInfo.top;
  mUserCon = inInfo.userCon;
  if (inInfo.superView) PutInside(inInfo.superView, false);
}

LPane::~LPane() {
  if (sLastPaneMoused == this) sLastPaneMoused = nullptr;
  if (sLastPaneClicked == this) sLastPaneClicked = nullptr;
  if (sLastPaneFocused == this) sLastPaneFocused = nullptr;
  if (mSuperView) mSuperView->RemoveSubPane(this);
  if (mWidget) {
    QWidget* widget = mWidget;
    mWidget = nullptr;
    UQt::OnMain([widget] {
      // The widget may be inside its own event handler (a button that closes
      // its window): it stops talking, hides and goes at the next pass.
      if (auto* host = dynamic_cast<UPaneHost*>(widget)) host->ForgetPane();
      UPaneHost::MarkWidget(widget, nullptr);
      QObject::disconnect(widget, nullptr, nullptr, nullptr);
      widget->blockSignals(true);
      widget->hide();
      widget->setParent(nullptr);
      widget->deleteLater();
    });
  }
}

LPane* LPane::FindPaneByID(PaneIDT inPaneID) {
  LPane* pane = FindPaneByIDOrNil(inPaneID);
  if (!pane) Throw_(err_NilPointer);
  return pane;
}

LPane* LPane::FindPaneByIDOrNil(PaneIDT inPaneID) { return inPaneID == mPaneID ? this : nullptr; }

void LPane::PutInside(LView* inView, Boolean) {
  if (inView == mSuperView) return;
  if (mSuperView) mSuperView->RemoveSubPane(this);
  mSuperView = nullptr;
  if (inView) inView->AddSubPane(this);
  if (mWidget) {
    UQt::OnMain([this] {
      QWidget* parent = mSuperView && mSuperView->mWidget ? mSuperView->GetContainerWidget() : nullptr;
      mWidget->setParent(parent);
      SyncWidget();
    });
  }
}

LWindow* LPane::GetWindow() const {
  const LPane* p = this;
  while (p->mSuperView) p = p->mSuperView;
  return dynamic_cast<LWindow*>(const_cast<LPane*>(p));
}

void LPane::GetFrameSize(SDimension16& outSize) const {
  outSize.width = mWidth;
  outSize.height = mHeight;
}

void LPane::GetFrameLocation(SPoint32& outLocation) const {
  if (mSuperView) {
    SPoint32 image = mSuperView->GetImageLocation();
    outLocation.h = image.h + mLeft;
    outLocation.v = image.v + mTop;
  } else {
    outLocation = SPoint32{0, 0};
  }
}

Boolean LPane::CalcPortFrameRect(Rect& outRect) const {
  SPoint32 loc;
  GetFrameLocation(loc);
  outRect.left = static_cast<SInt16>(loc.h);
  outRect.top = static_cast<SInt16>(loc.v);
  outRect.right = static_cast<SInt16>(loc.h + mWidth);
  outRect.bottom = static_cast<SInt16>(loc.v + mHeight);
  return true;
}

Boolean LPane::CalcLocalFrameRect(Rect& outRect) const { return CalcPortFrameRect(outRect); }

void LPane::ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) {
  if (inWidthDelta == 0 && inHeightDelta == 0) return;
  if ((inWidthDelta < 0 || inHeightDelta < 0) && IsVisible()) ExposeOldFrame();
  mWidth = static_cast<SInt16>(std::max(0, mWidth + inWidthDelta));
  mHeight = static_cast<SInt16>(std::max(0, mHeight + inHeightDelta));
  mNeedsDraw = true;
  FrameChanged();
  if (mWidget) SyncWidget();
  if (inRefresh) Refresh();
}

void LPane::ResizeFrameTo(SInt16 inWidth, SInt16 inHeight, Boolean inRefresh) {
  ResizeFrameBy(static_cast<SInt16>(inWidth - mWidth), static_cast<SInt16>(inHeight - mHeight), inRefresh);
}

void LPane::MoveBy(SInt32 inHorizDelta, SInt32 inVertDelta, Boolean inRefresh) {
  if (inHorizDelta == 0 && inVertDelta == 0) return;
  if (IsVisible()) ExposeOldFrame();
  mLeft += inHorizDelta;
  mTop += inVertDelta;
  mNeedsDraw = true;
  if (mWidget) SyncWidget();
  if (inRefresh) Refresh();
}

void LPane::PlaceInSuperImageAt(SInt32 inHorizOffset, SInt32 inVertOffset, Boolean inRefresh) {
  MoveBy(inHorizOffset - mLeft, inVertOffset - mTop, inRefresh);
}

void LPane::PlaceInSuperFrameAt(SInt32 inHorizOffset, SInt32 inVertOffset, Boolean inRefresh) {
  SPoint32 scroll;
  if (mSuperView) mSuperView->GetScrollPosition(scroll);
  PlaceInSuperImageAt(inHorizOffset + scroll.h, inVertOffset + scroll.v, inRefresh);
}

Boolean LPane::PointIsInFrame(SInt32 inHorizPort, SInt32 inVertPort) const {
  Rect r;
  CalcPortFrameRect(r);
  return inHorizPort >= r.left && inHorizPort < r.right && inVertPort >= r.top && inVertPort < r.bottom;
}

void LPane::AdaptToSuperFrameSize(SInt32 inSurrWidthDelta, SInt32 inSurrHeightDelta, Boolean inRefresh) {
  SInt32 dw = 0, dh = 0, dx = 0, dy = 0;
  if (mFrameBinding.right) {
    if (mFrameBinding.left)
      dw = inSurrWidthDelta;
    else
      dx = inSurrWidthDelta;
  }
  if (mFrameBinding.bottom) {
    if (mFrameBinding.top)
      dh = inSurrHeightDelta;
    else
      dy = inSurrHeightDelta;
  }
  if (dw || dh) ResizeFrameBy(static_cast<SInt16>(dw), static_cast<SInt16>(dh), inRefresh);
  if (dx || dy) MoveBy(dx, dy, inRefresh);
}

void LPane::AdaptToSuperScroll(SInt32, SInt32) {
  if (mWidget) SyncWidget();
}

void LPane::Show() {
  if (mVisible) return;
  mVisible = true;
  if (mSuperView == nullptr || mSuperView->IsVisible()) ShowSelf();
  if (mWidget) SyncWidget();
  Refresh();
}

void LPane::Hide() {
  if (!mVisible) return;
  bool wasVisible = IsVisible();
  mVisible = false;
  if (wasVisible) HideSelf();
  if (mWidget) SyncWidget();
  if (wasVisible) ExposeOldFrame();
}

void LPane::ExposeOldFrame() {
  LWindow* window = GetWindow();
  if (!window || window == this) return;
  Rect r;
  CalcPortFrameRect(r);
  window->ExposePortRect(r);
}

Boolean LPane::IsVisible() const { return mVisible && (mSuperView == nullptr || mSuperView->IsVisible()); }

void LPane::SuperShow() {
  if (mVisible) ShowSelf();
}

void LPane::SuperHide() {
  if (mVisible) HideSelf();
}

void LPane::Enable() {
  if (mEnabled) return;
  mEnabled = true;
  if (IsEnabled()) EnableSelf();
  if (mWidget) SyncWidget();
}

void LPane::Disable() {
  if (!mEnabled) return;
  bool was = IsEnabled();
  mEnabled = false;
  if (was) DisableSelf();
  if (mWidget) SyncWidget();
}

Boolean LPane::IsEnabled() const { return mEnabled && (mSuperView == nullptr || mSuperView->IsEnabled()); }

void LPane::SuperEnable() {
  if (mEnabled) {
    EnableSelf();
    if (mWidget) SyncWidget();
  }
}

void LPane::SuperDisable() {
  if (mEnabled) {
    DisableSelf();
    if (mWidget) SyncWidget();
  }
}

void LPane::Activate() {
  if (mActive) return;
  mActive = true;
  if (IsActive()) ActivateSelf();
}

void LPane::Deactivate() {
  if (!mActive) return;
  bool was = IsActive();
  mActive = false;
  if (was) DeactivateSelf();
}

Boolean LPane::IsActive() const { return mActive && (mSuperView == nullptr || mSuperView->IsActive()); }

void LPane::SuperActivate() {
  if (mActive) ActivateSelf();
}

void LPane::SuperDeactivate() {
  if (mActive) DeactivateSelf();
}

void LPane::FinishCreate() { FinishCreateSelf(); }

void LPane::FinishCreateSelf() {
  if (GetWindow() && GetWindow()->PeekWidget()) GetWidget();
}

void LPane::ShowSelf() {}
void LPane::HideSelf() {}
void LPane::EnableSelf() {}
void LPane::DisableSelf() {}
void LPane::ActivateSelf() {}
void LPane::DeactivateSelf() {}
void LPane::DrawSelf() {}
void LPane::FrameChanged() {}

void LPane::Refresh() {
  mNeedsDraw = true;
  if (mWidget) UQt::OnMain([this] { mWidget->update(); });
}

void LPane::RefreshRect(const Rect& inRect) {
  mNeedsDraw = true;
  if (!mWidget) return;
  Rect frame;
  CalcPortFrameRect(frame);
  UQt::OnMain([&] {
    mWidget->update(inRect.left - frame.left, inRect.top - frame.top, inRect.right - inRect.left, inRect.bottom - inRect.top);
  });
}

void LPane::DontRefresh(Boolean) { mNeedsDraw = false; }

void LPane::UpdatePort() {
  if (mWidget) UQt::OnMain([this] { mWidget->update(); });
}

GrafPort* LPane::GetMacPort() const {
  LWindow* window = GetWindow();
  return window ? window->GetWindowPort() : nullptr;
}

Boolean LPane::FocusDraw(LPane*) {
  GrafPort* port = GetMacPort();
  if (!port) return false;
  SetGWorld(port, nullptr);
  SetOrigin(0, 0);
  Rect frame;
  CalcPortFrameRect(frame);
  ClipRect(&frame);
  sLastPaneFocused = this;
  // Whatever is drawn now reaches the screen with the next paint.
  if (mWidget) UQt::OnMain([this] { mWidget->update(); });
  return true;
}

void LPane::Draw(MacRegion*) {
  if (!IsVisible() || mWidth <= 0 || mHeight <= 0) return;
  Rect frame;
  CalcPortFrameRect(frame);
  if (!ExecuteAttachments(msg_DrawOrPrint, &frame)) {
    mNeedsDraw = false;
    return;
  }
  if (FocusDraw()) DrawSelf();
  mNeedsDraw = false;
}

void LPane::Click(SMouseDownEvent& inMouseDown) {
  if (!IsEnabled()) return;
  sLastPaneClicked = this;
  if (ExecuteAttachments(msg_Click, &inMouseDown)) ClickSelf(inMouseDown);
}

void LPane::ClickSelf(const SMouseDownEvent&) {}

void LPane::AdjustMouse(Point inPortPt, const EventRecord& inMacEvent, MacRegion* outMouseRgn) {
  EventRecord event = inMacEvent;
  if (ExecuteAttachments(msg_AdjustCursor, &event)) AdjustMouseSelf(inPortPt, inMacEvent, outMouseRgn);
}

void LPane::AdjustMouseSelf(Point, const EventRecord&, MacRegion*) { UCursor::SetArrow(); }

void LPane::MouseEnter(Point, const EventRecord&) {}
void LPane::MouseLeave() {}
void LPane::MouseWithin(Point, const EventRecord&) {}

LPane* LPane::FindDeepSubPaneContaining(SInt32 inHorizPort, SInt32 inVertPort) {
  return PointIsInFrame(inHorizPort, inVertPort) ? this : nullptr;
}

QWidget* LPane::GetWidget() {
  if (mWidget) return mWidget;
  UQt::OnMain([this] {
    UQt::EnsureApplication();
    QWidget* parent = nullptr;
    if (mSuperView) {
      mSuperView->GetWidget();
      parent = mSuperView->GetContainerWidget();
    }
    mWidget = MakeWidget(parent);
    UPaneHost::MarkWidget(mWidget, this);
    SyncWidget();
  });
  return mWidget;
}

QWidget* LPane::MakeWidget(QWidget* inParent) { return new UPaneHost(this, inParent); }

QWidget* LPane::GetContainerWidget() { return GetWidget(); }

void LPane::PlaceWidget() {
  SInt32 x = mLeft, y = mTop;
  if (mSuperView) {
    x -= mSuperView->mScrollPos.h;
    y -= mSuperView->mScrollPos.v;
  }
  mWidget->setGeometry(x, y, mWidth, mHeight);
}

void LPane::SyncWidget() {
  if (!mWidget) return;
  UQt::OnMain([this] {
    PlaceWidget();
    mWidget->setEnabled(IsEnabled());
    mWidget->setVisible(mVisible);
  });
}

#include "platform/ui/LView.h"

#include <QWidget>
#include <algorithm>

#include "platform/framework/LStream.h"
#include "platform/ui/UPaneHost.h"
#include "platform/ui/UQtSupport.h"

LView::LView() = default;

LView::LView(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo) : LPane(inPaneInfo) { ReadViewInfo(inViewInfo); }

LView::LView(LStream* inStream) : LPane(inStream) {
  SViewInfo info;
  SInt32 w = 0, h = 0, sh = 0, sv = 0, uh = 1, uv = 1;
  SInt16 reconcile = 0;
  *inStream >> w >> h >> sh >> sv >> uh >> uv >> reconcile;
  info.imageSize = SDimension32{w, h};
  info.scrollPos = SPoint32{sh, sv};
  info.scrollUnit = SPoint32{uh, uv};
  info.reconcileOverhang = reconcile;
  ReadViewInfo(info);
}

void LView::ReadViewInfo(const SViewInfo& inInfo) {
  mImageSize = inInfo.imageSize;
  if (mImageSize.width < mWidth) mImageSize.width = mWidth;
  if (mImageSize.height < mHeight) mImageSize.height = mHeight;
  mScrollPos = inInfo.scrollPos;
  mScrollUnit = inInfo.scrollUnit;
  mReconcileOverhang = inInfo.reconcileOverhang;
}

LView::~LView() {
  DeleteAllSubPanes();
  if (sDefaultView == this) sDefaultView = nullptr;
}

void LView::DeleteAllSubPanes() {
  while (!mSubPanes.empty()) {
    LPane* sub = mSubPanes.back();
    delete sub;  // leaves the list itself
    if (!mSubPanes.empty() && mSubPanes.back() == sub) mSubPanes.pop_back();
  }
}

void LView::AddSubPane(LPane* inSub) {
  if (!inSub || std::find(mSubPanes.begin(), mSubPanes.end(), inSub) != mSubPanes.end()) return;
  mSubPanes.push_back(inSub);
  inSub->mSuperView = this;
}

void LView::RemoveSubPane(LPane* inSub) {
  auto pos = std::find(mSubPanes.begin(), mSubPanes.end(), inSub);
  if (pos == mSubPanes.end()) return;
  mSubPanes.erase(pos);
  if (inSub->mSuperView == this) inSub->mSuperView = nullptr;
}

LPane* LView::FindPaneByIDOrNil(PaneIDT inPaneID) {
  if (inPaneID == mPaneID) return this;
  for (LPane* sub : mSubPanes)
    if (LPane* found = sub->FindPaneByIDOrNil(inPaneID)) return found;
  return nullptr;
}

LPane* LView::FindSubPaneHitBy(SInt32 inHorizPort, SInt32 inVertPort) const {
  for (auto it = mSubPanes.rbegin(); it != mSubPanes.rend(); ++it)
    if ((*it)->IsVisible() && (*it)->PointIsInFrame(inHorizPort, inVertPort)) return *it;
  return nullptr;
}

LPane* LView::FindDeepSubPaneContaining(SInt32 inHorizPort, SInt32 inVertPort) {
  if (!PointIsInFrame(inHorizPort, inVertPort)) return nullptr;
  if (LPane* sub = FindSubPaneHitBy(inHorizPort, inVertPort))
    if (LPane* deep = sub->FindDeepSubPaneContaining(inHorizPort, inVertPort)) return deep;
  return this;
}

void LView::ResizeImageTo(SInt32 inWidth, SInt32 inHeight, Boolean inRefresh) {
  mImageSize.width = inWidth;
  mImageSize.height = inHeight;
  if (inRefresh) Refresh();
}

void LView::ResizeImageBy(SInt32 inWidthDelta, SInt32 inHeightDelta, Boolean inRefresh) {
  ResizeImageTo(mImageSize.width + inWidthDelta, mImageSize.height + inHeightDelta, inRefresh);
}

SPoint32 LView::GetImageLocation() const {
  SPoint32 frame;
  GetFrameLocation(frame);
  return SPoint32{frame.h - mScrollPos.h, frame.v - mScrollPos.v};
}

void LView::ScrollImageBy(SInt32 inLeftDelta, SInt32 inTopDelta, Boolean inRefresh) {
  if (inLeftDelta == 0 && inTopDelta == 0) return;
  mScrollPos.h += inLeftDelta;
  mScrollPos.v += inTopDelta;
  for (LPane* sub : mSubPanes) sub->AdaptToSuperScroll(inLeftDelta, inTopDelta);
  if (inRefresh) Refresh();
}

void LView::ScrollImageTo(SInt32 inLeftLocation, SInt32 inTopLocation, Boolean inRefresh) {
  ScrollImageBy(inLeftLocation - mScrollPos.h, inTopLocation - mScrollPos.v, inRefresh);
}

Boolean LView::ScrollPinnedImageBy(SInt32 inLeftDelta, SInt32 inTopDelta, Boolean inRefresh) {
  SInt32 maxH = std::max<SInt32>(0, mImageSize.width - mWidth);
  SInt32 maxV = std::max<SInt32>(0, mImageSize.height - mHeight);
  SInt32 h = std::clamp<SInt32>(mScrollPos.h + inLeftDelta, 0, maxH);
  SInt32 v = std::clamp<SInt32>(mScrollPos.v + inTopDelta, 0, maxV);
  if (h == mScrollPos.h && v == mScrollPos.v) return false;
  ScrollImageTo(h, v, inRefresh);
  return true;
}

void LView::ImageToLocalPoint(const SPoint32& inImagePt, Point& outLocalPt) const {
  SPoint32 image = GetImageLocation();
  outLocalPt.h = static_cast<SInt16>(inImagePt.h + image.h);
  outLocalPt.v = static_cast<SInt16>(inImagePt.v + image.v);
}

void LView::LocalToImagePoint(const Point& inLocalPt, SPoint32& outImagePt) const {
  SPoint32 image = GetImageLocation();
  outImagePt.h = inLocalPt.h - image.h;
  outImagePt.v = inLocalPt.v - image.v;
}

void LView::ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) {
  if (inWidthDelta == 0 && inHeightDelta == 0) return;
  LPane::ResizeFrameBy(inWidthDelta, inHeightDelta, inRefresh);
  if (mImageSize.width < mWidth) mImageSize.width = mWidth;
  if (mImageSize.height < mHeight) mImageSize.height = mHeight;
  std::vector<LPane*> subs = mSubPanes;
  for (LPane* sub : subs) sub->AdaptToSuperFrameSize(inWidthDelta, inHeightDelta, inRefresh);
}

void LView::AdaptToSuperScroll(SInt32 inHorizScroll, SInt32 inVertScroll) {
  LPane::AdaptToSuperScroll(inHorizScroll, inVertScroll);
}

void LView::Show() {
  bool was = IsVisible();
  LPane::Show();
  if (!was && IsVisible())
    for (LPane* sub : mSubPanes) sub->SuperShow();
}

void LView::Hide() {
  bool was = IsVisible();
  LPane::Hide();
  if (was)
    for (LPane* sub : mSubPanes) sub->SuperHide();
}

void LView::SuperShow() {
  LPane::SuperShow();
  if (mVisible)
    for (LPane* sub : mSubPanes) sub->SuperShow();
}

void LView::SuperHide() {
  LPane::SuperHide();
  if (mVisible)
    for (LPane* sub : mSubPanes) sub->SuperHide();
}

void LView::Enable() {
  bool was = IsEnabled();
  LPane::Enable();
  if (!was && IsEnabled())
    for (LPane* sub : mSubPanes) sub->SuperEnable();
}

void LView::Disable() {
  bool was = IsEnabled();
  LPane::Disable();
  if (was)
    for (LPane* sub : mSubPanes) sub->SuperDisable();
}

void LView::SuperEnable() {
  LPane::SuperEnable();
  if (mEnabled)
    for (LPane* sub : mSubPanes) sub->SuperEnable();
}

void LView::SuperDisable() {
  LPane::SuperDisable();
  if (mEnabled)
    for (LPane* sub : mSubPanes) sub->SuperDisable();
}

void LView::Activate() {
  bool was = IsActive();
  LPane::Activate();
  if (!was && IsActive())
    for (LPane* sub : mSubPanes) sub->SuperActivate();
}

void LView::Deactivate() {
  bool was = IsActive();
  LPane::Deactivate();
  if (was)
    for (LPane* sub : mSubPanes) sub->SuperDeactivate();
}

void LView::SuperActivate() {
  LPane::SuperActivate();
  if (mActive)
    for (LPane* sub : mSubPanes) sub->SuperActivate();
}

void LView::SuperDeactivate() {
  LPane::SuperDeactivate();
  if (mActive)
    for (LPane* sub : mSubPanes) sub->SuperDeactivate();
}

void LView::Refresh() {
  LPane::Refresh();
  for (LPane* sub : mSubPanes) sub->Refresh();
}

void LView::Draw(MacRegion* inSuperDrawRgn) {
  LPane::Draw(inSuperDrawRgn);
  if (!IsVisible()) return;
  for (LPane* sub : mSubPanes) sub->Draw(inSuperDrawRgn);
}

void LView::Click(SMouseDownEvent& inMouseDown) {
  if (LPane* sub = FindSubPaneHitBy(inMouseDown.wherePort.h, inMouseDown.wherePort.v)) {
    sub->Click(inMouseDown);
    return;
  }
  LPane::Click(inMouseDown);
}

void LView::SyncWidget() {
  LPane::SyncWidget();
  for (LPane* sub : mSubPanes)
    if (sub->mWidget) sub->SyncWidget();
}

QWidget* LView::MakeWidget(QWidget* inParent) { return new UPaneHost(this, inParent); }

QWidget* LView::GetContainerWidget() { return GetWidget(); }

void LView::FinishCreateSelf() {
  LPane::FinishCreateSelf();
  std::vector<LPane*> subs = mSubPanes;
  for (LPane* sub : subs) sub->FinishCreate();
}

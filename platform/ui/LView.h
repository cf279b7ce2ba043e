// Views: panes that hold sub-panes inside an image that may be larger than
// the frame and scrolled. Sub-panes are placed in the image; scrolling moves
// the image under the frame. A view deletes its sub-panes.
#pragma once

#include <vector>

#include "platform/ui/LPane.h"

// Layout record of a view, after the pane's: SInt32 image width, SInt32 image
// height, SInt32 scroll position h, v, SInt32 scroll unit h, v, SInt16
// reconcile overhang (non-zero: scrolling keeps the image covering the frame).
struct SViewInfo {
  SDimension32 imageSize;
  SPoint32 scrollPos;
  SPoint32 scrollUnit = {1, 1};
  SInt16 reconcileOverhang = 0;
};

class LView : public LPane {
 public:
  static constexpr ClassIDT class_ID = 'view';

  LView();
  LView(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo);
  explicit LView(LStream* inStream);
  // Deletes the sub-panes.
  ~LView() override;

  ClassIDT GetClassID() const override { return class_ID; }

  const std::vector<LPane*>& GetSubPanes() const { return mSubPanes; }
  SInt32 CountSubPanes() const { return static_cast<SInt32>(mSubPanes.size()); }
  virtual void AddSubPane(LPane* inSub);
  virtual void RemoveSubPane(LPane* inSub);
  void DeleteAllSubPanes();
  LPane* FindPaneByIDOrNil(PaneIDT inPaneID) override;
  // The sub-pane (not deeper) that holds the port point, front-most first; nil when none.
  virtual LPane* FindSubPaneHitBy(SInt32 inHorizPort, SInt32 inVertPort) const;
  LPane* FindDeepSubPaneContaining(SInt32 inHorizPort, SInt32 inVertPort) override;

  // Image and scrolling.
  void GetImageSize(SDimension32& outSize) const { outSize = mImageSize; }
  virtual void ResizeImageTo(SInt32 inWidth, SInt32 inHeight, Boolean inRefresh);
  void ResizeImageBy(SInt32 inWidthDelta, SInt32 inHeightDelta, Boolean inRefresh);
  void GetScrollPosition(SPoint32& outPosition) const { outPosition = mScrollPos; }
  void GetScrollUnit(SPoint32& outUnit) const { outUnit = mScrollUnit; }
  void SetScrollUnit(const SPoint32& inUnit) { mScrollUnit = inUnit; }
  // The port location of the image's top-left corner.
  SPoint32 GetImageLocation() const;
  virtual void ScrollImageBy(SInt32 inLeftDelta, SInt32 inTopDelta, Boolean inRefresh);
  void ScrollImageTo(SInt32 inLeftLocation, SInt32 inTopLocation, Boolean inRefresh);
  // Scrolls by the deltas but keeps the image over the frame; returns whether it moved.
  virtual Boolean ScrollPinnedImageBy(SInt32 inLeftDelta, SInt32 inTopDelta, Boolean inRefresh);
  // Image coordinates to port coordinates and back.
  void ImageToLocalPoint(const SPoint32& inImagePt, Point& outLocalPt) const;
  void LocalToImagePoint(const Point& inLocalPt, SPoint32& outImagePt) const;

  // Views pass these on to their sub-panes.
  void ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) override;
  void AdaptToSuperScroll(SInt32 inHorizScroll, SInt32 inVertScroll) override;
  void Show() override;
  void Hide() override;
  void SuperShow() override;
  void SuperHide() override;
  void SuperEnable() override;
  void SuperDisable() override;
  void Enable() override;
  void Disable() override;
  void Activate() override;
  void Deactivate() override;
  void SuperActivate() override;
  void SuperDeactivate() override;
  void Refresh() override;
  void Draw(MacRegion* inSuperDrawRgn) override;
  void Click(SMouseDownEvent& inMouseDown) override;
  void SyncWidget() override;

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  QWidget* GetContainerWidget() override;
  void FinishCreateSelf() override;

  std::vector<LPane*> mSubPanes;
  SDimension32 mImageSize;
  SPoint32 mScrollPos;
  SPoint32 mScrollUnit = {1, 1};
  SInt16 mReconcileOverhang = 0;

 private:
  friend class LPane;
  void ReadViewInfo(const SViewInfo& inInfo);
};

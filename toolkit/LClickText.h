// A static text that acts as a link (layout class 'ClTx': the static text's
// record, then UInt32 value message and SInt16 text style shown while the
// mouse is pressed over it, big-endian). The whole frame is its hot spot;
// a release inside broadcasts the value message; the cursor over it is the
// pointing hand.
#pragma once

#include "platform/framework/LBroadcaster.h"
#include "platform/ui/LStaticText.h"

class LClickText : public LStaticText, public LBroadcaster {
 public:
  static constexpr ClassIDT class_ID = 'ClTx';

  explicit LClickText(LStream* inStream);
  LClickText(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inTextTraitsID, MessageT inValueMessage,
             SInt16 inHotTextTraitsID);
  ClassIDT GetClassID() const override { return class_ID; }

  MessageT GetValueMessage() const { return mValueMessage; }
  SInt16 GetHotTextTraitsID() const { return mHotTextTraitsID; }
  // The style the text is drawn in now (the hot one while pressed inside).
  SInt16 GetShownTextTraitsID() const { return mShownTextTraitsID; }

  SInt16 FindHotSpot(Point inPoint) const;
  Boolean PointInHotSpot(Point inPoint, SInt16 inHotSpot) const;
  // The press, moves and release over the text (the widget and tests call these).
  void BeginTracking(Point inPortPt);
  void ContinueTracking(Point inPortPt);
  void EndTracking(Point inPortPt);
  Boolean IsTracking() const { return mTracking; }
  virtual void HotSpotAction(SInt16 inHotSpot, Boolean inCurrInside, Boolean inPrevInside);
  virtual void HotSpotResult(SInt16 inHotSpot);

 protected:
  void ClickSelf(const SMouseDownEvent& inMouseDown) override;
  void AdjustMouseSelf(Point inPortPt, const EventRecord& inMacEvent, MacRegion* outMouseRgn) override;
  QWidget* MakeWidget(QWidget* inParent) override;
  void DrawWithStyle(SInt16 inTextTraitsID);

  MessageT mValueMessage = 0;
  SInt16 mHotTextTraitsID = 0;
  SInt16 mShownTextTraitsID = 0;
  Boolean mTracking = false;
  Boolean mInside = false;
};

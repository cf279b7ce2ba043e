#include "toolkit/LClickText.h"

#include "platform/framework/LStream.h"
#include "platform/ui/UPressTracking.h"

LClickText::LClickText(LStream* inStream) : LStaticText(inStream) {
  UInt32 message = 0;
  *inStream >> message >> mHotTextTraitsID;
  mValueMessage = static_cast<MessageT>(message);
  mShownTextTraitsID = mTextTraitsID;
}

LClickText::LClickText(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inTextTraitsID,
                       MessageT inValueMessage, SInt16 inHotTextTraitsID)
    : LStaticText(inPaneInfo, inText, inTextTraitsID),
      mValueMessage(inValueMessage),
      mHotTextTraitsID(inHotTextTraitsID),
      mShownTextTraitsID(inTextTraitsID) {}

QWidget* LClickText::MakeWidget(QWidget* inParent) {
  QWidget* widget = LStaticText::MakeWidget(inParent);
  UPressTracking::Install(
      widget, this, [this](Point inPort) { BeginTracking(inPort); }, [this](Point inPort) { ContinueTracking(inPort); },
      [this](Point inPort) { EndTracking(inPort); });
  return widget;
}

SInt16 LClickText::FindHotSpot(Point) const { return 1; }

Boolean LClickText::PointInHotSpot(Point inPoint, SInt16) const { return PointIsInFrame(inPoint.h, inPoint.v); }

void LClickText::ClickSelf(const SMouseDownEvent& inMouseDown) { BeginTracking(inMouseDown.whereLocal); }

void LClickText::BeginTracking(Point inPortPt) {
  if (!IsEnabled()) return;
  mTracking = true;
  mInside = PointInHotSpot(inPortPt, 1);
  HotSpotAction(1, mInside, false);
}

void LClickText::ContinueTracking(Point inPortPt) {
  if (!mTracking) return;
  Boolean inside = PointInHotSpot(inPortPt, 1);
  HotSpotAction(1, inside, mInside);
  mInside = inside;
}

void LClickText::EndTracking(Point inPortPt) {
  if (!mTracking) return;
  Boolean inside = PointInHotSpot(inPortPt, 1);
  mTracking = false;
  if (mInside) HotSpotAction(1, false, true);
  mInside = false;
  if (inside) HotSpotResult(1);
}

// The text shows in a style without the pane's own style changing.
void LClickText::DrawWithStyle(SInt16 inTextTraitsID) {
  SInt16 own = mTextTraitsID;
  SetTextTraitsID(inTextTraitsID);
  mTextTraitsID = own;
  mShownTextTraitsID = inTextTraitsID;
}

void LClickText::HotSpotAction(SInt16, Boolean inCurrInside, Boolean inPrevInside) {
  if (inCurrInside && !inPrevInside) DrawWithStyle(mHotTextTraitsID);
  else if (!inCurrInside && inPrevInside) DrawWithStyle(mTextTraitsID);
}

void LClickText::HotSpotResult(SInt16) {
  SInt32 value = 0;
  BroadcastMessage(mValueMessage, &value);
}

void LClickText::AdjustMouseSelf(Point inPortPt, const EventRecord&, MacRegion*) {
  if (PointIsInFrame(inPortPt.h, inPortPt.v))
    SetThemeCursor(kThemePointingHandCursor);
  else
    UCursor::SetArrow();
}

#include "platform/ui/LControl.h"

#include <algorithm>

#include "platform/framework/LStream.h"

LControl::LControl(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo)
    : LPane(inPaneInfo),
      mValueMessage(inControlInfo.valueMessage),
      mValue(inControlInfo.value),
      mMinValue(inControlInfo.minValue),
      mMaxValue(std::max(inControlInfo.minValue, inControlInfo.maxValue)) {
  mValue = std::clamp(mValue, mMinValue, mMaxValue);
}

LControl::LControl(LStream* inStream) : LPane(inStream) {
  SInt32 message = 0, value = 0, minValue = 0, maxValue = 0;
  *inStream >> message >> value >> minValue >> maxValue;
  mValueMessage = message;
  mMinValue = minValue;
  mMaxValue = std::max(minValue, maxValue);
  mValue = std::clamp(value, mMinValue, mMaxValue);
}

LControl::~LControl() = default;

void LControl::SetValue(SInt32 inValue) {
  inValue = std::clamp(inValue, mMinValue, mMaxValue);
  if (inValue == mValue) return;
  mValue = inValue;
  ValueChanged();
  BroadcastValueMessage();
}

void LControl::SetMinValue(SInt32 inMin) {
  mMinValue = inMin;
  if (mMaxValue < inMin) mMaxValue = inMin;
  if (mValue < inMin) SetValue(inMin);
}

void LControl::SetMaxValue(SInt32 inMax) {
  mMaxValue = inMax;
  if (mMinValue > inMax) mMinValue = inMax;
  if (mValue > inMax) SetValue(inMax);
}

void LControl::BroadcastValueMessage() {
  if (mValueMessage == msg_Nothing) return;
  SInt32 value = mValue;
  BroadcastMessage(mValueMessage, &value);
}

void LControl::ValueChanged() {
  if (mWidget) SyncWidget();
}

SInt16 LControl::FindHotSpot(Point inPoint) const { return PointIsInFrame(inPoint.h, inPoint.v) ? 1 : 0; }

Boolean LControl::PointInHotSpot(Point inPoint, SInt16) const { return PointIsInFrame(inPoint.h, inPoint.v); }

Boolean LControl::TrackHotSpot(SInt16 inHotSpot, Point inPoint, SInt16 inModifiers) {
  BeginTracking(inPoint, inModifiers);
  (void)inHotSpot;
  return true;
}

void LControl::HotSpotAction(SInt16, Boolean, Boolean) {}

void LControl::HotSpotResult(SInt16) { BroadcastValueMessage(); }

Boolean LControl::SimulateHotSpotClick(SInt16 inHotSpot) {
  if (!IsEnabled()) return false;
  mTrackingSpot = inHotSpot;
  mTrackingInside = false;
  HotSpotAction(inHotSpot, true, false);
  mTrackingSpot = 0;
  HotSpotAction(inHotSpot, false, true);
  HotSpotResult(inHotSpot);
  return true;
}

void LControl::BeginTracking(Point inPortPt, SInt16) {
  SInt16 spot = FindHotSpot(inPortPt);
  if (spot == 0) return;
  mTrackingSpot = spot;
  mTrackingInside = true;
  HotSpotAction(spot, true, false);
}

void LControl::ContinueTracking(Point inPortPt) {
  if (mTrackingSpot == 0) return;
  Boolean inside = PointInHotSpot(inPortPt, mTrackingSpot);
  HotSpotAction(mTrackingSpot, inside, mTrackingInside);
  mTrackingInside = inside;
}

void LControl::EndTracking(Point inPortPt) {
  if (mTrackingSpot == 0) return;
  SInt16 spot = mTrackingSpot;
  Boolean inside = PointInHotSpot(inPortPt, spot);
  mTrackingSpot = 0;
  if (mTrackingInside) HotSpotAction(spot, false, true);
  mTrackingInside = false;
  if (inside) HotSpotResult(spot);
}

void LControl::ClickSelf(const SMouseDownEvent& inMouseDown) {
  SInt16 spot = FindHotSpot(inMouseDown.whereLocal);
  if (spot > 0) TrackHotSpot(spot, inMouseDown.whereLocal, static_cast<SInt16>(inMouseDown.macEvent.modifiers));
}

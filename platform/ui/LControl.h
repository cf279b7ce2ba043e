// Controls: panes with a value between a minimum and a maximum that tell
// their listeners about the user's changes. SetValue clamps, and broadcasts
// the value message (with a pointer to the new SInt32 value) when the value
// changed; the widget reports the user's change through SetValue too.
// Hot spots: the parts of a control the mouse tracks (1: the whole frame
// unless a control says otherwise).
#pragma once

#include "platform/framework/LBroadcaster.h"
#include "platform/ui/LPane.h"

// Layout record of a control, after the pane's (big-endian): SInt32 value
// message, SInt32 value, SInt32 min, SInt32 max.
struct SControlInfo {
  MessageT valueMessage = msg_Nothing;
  SInt32 value = 0;
  SInt32 minValue = 0;
  SInt32 maxValue = 0;
};

// Control data tags: the control size (SInt16: 0 normal, 1 small, 2 mini)
// and a text view's read-only flag (Boolean).
constexpr FourCharCode kControlSizeTag = 'size';
constexpr FourCharCode kControlEditTextLockedTag = 'iopv';
constexpr OSStatus errDataNotSupported = -30583;
constexpr SInt16 kControlSizeNormal = 0;
constexpr SInt16 kControlSizeSmall = 1;
constexpr SInt16 kControlSizeMini = 2;

class LControl : public LPane, public LBroadcaster {
 public:
  static constexpr ClassIDT class_ID = 'cntl';

  LControl(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo);
  explicit LControl(LStream* inStream);
  ~LControl() override;

  ClassIDT GetClassID() const override { return class_ID; }

  MessageT GetValueMessage() const { return mValueMessage; }
  void SetValueMessage(MessageT inMessage) { mValueMessage = inMessage; }
  virtual SInt32 GetValue() const { return mValue; }
  // Clamps to min..max; a change updates the widget and broadcasts.
  virtual void SetValue(SInt32 inValue);
  SInt32 GetMinValue() const { return mMinValue; }
  SInt32 GetMaxValue() const { return mMaxValue; }
  virtual void SetMinValue(SInt32 inMin);
  virtual void SetMaxValue(SInt32 inMax);
  // Broadcasts the value message with a pointer to the value (no message: nothing).
  virtual void BroadcastValueMessage();

  // Control data by tag (kControlSizeTag and the classes' own tags); the
  // base takes none: errDataNotSupported.
  virtual OSStatus SetDataTag(SInt16 /*inPartCode*/, FourCharCode /*inTag*/, SInt32 /*inDataSize*/,
                              const void* /*inDataPtr*/) {
    return errDataNotSupported;
  }

  // Hot spots. The point is in port coordinates.
  virtual SInt16 FindHotSpot(Point inPoint) const;
  virtual Boolean PointInHotSpot(Point inPoint, SInt16 inHotSpot) const;
  // Follows the mouse from a press on a hot spot until release: HotSpotAction
  // on each move (with whether the mouse is inside now and was before), then
  // HotSpotResult when released inside. Offscreen and in tests the press and
  // release come from SimulateHotSpotClick.
  virtual Boolean TrackHotSpot(SInt16 inHotSpot, Point inPoint, SInt16 inModifiers);
  virtual void HotSpotAction(SInt16 inHotSpot, Boolean inCurrInside, Boolean inPrevInside);
  virtual void HotSpotResult(SInt16 inHotSpot);
  // Presses and releases a hot spot as a click would (returns whether the release was inside).
  Boolean SimulateHotSpotClick(SInt16 inHotSpot);

  // The press of a pointer on the control's widget, its moves and release
  // (the widget layer and subclasses call these).
  void BeginTracking(Point inPortPt, SInt16 inModifiers);
  void ContinueTracking(Point inPortPt);
  void EndTracking(Point inPortPt);
  Boolean IsTracking() const { return mTrackingSpot != 0; }

 protected:
  void ClickSelf(const SMouseDownEvent& inMouseDown) override;
  // The value changed (the widget shows it; the broadcast follows).
  virtual void ValueChanged();

  MessageT mValueMessage = msg_Nothing;
  SInt32 mValue = 0;
  SInt32 mMinValue = 0;
  SInt32 mMaxValue = 0;

 private:
  SInt16 mTrackingSpot = 0;
  Boolean mTrackingInside = false;
};

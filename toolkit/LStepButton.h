// A push button that repeats while it is held (layout class 'StBt', a push
// button's record): the press broadcasts its value message at once; after
// half a second (30 ticks) every further tracking pass inside broadcasts
// again; the release broadcasts nothing.
#pragma once

#include "platform/framework/LPeriodical.h"
#include "platform/ui/LButtons.h"

class LStepButton : public LPushButton, public LPeriodical {
 public:
  static constexpr ClassIDT class_ID = 'StBt';
  static constexpr UInt32 kNoRepeat = 0xFFFFFFFF;

  explicit LStepButton(LStream* inStream);
  LStepButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText);
  ClassIDT GetClassID() const override { return class_ID; }

  void HotSpotAction(SInt16 inHotSpot, Boolean inCurrInside, Boolean inPrevInside) override;
  void HotSpotResult(SInt16 inHotSpot) override;
  // While held: one tracking pass with the mouse where it was last.
  void SpendTime(const EventRecord& inMacEvent) override;

 protected:
  void ClickSelf(const SMouseDownEvent& inMouseDown) override;
  QWidget* MakeWidget(QWidget* inParent) override;

  UInt32 mRepeatTick = kNoRepeat;
  Boolean mInside = false;
};

#include "toolkit/LStepButton.h"

#include "platform/base/Clock.h"
#include "platform/ui/UPressTracking.h"
#include "toolkit/StDrawContextState.h"

LStepButton::LStepButton(LStream* inStream) : LPushButton(inStream) {}

LStepButton::LStepButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText)
    : LPushButton(inPaneInfo, inControlInfo, inText) {}

void LStepButton::ClickSelf(const SMouseDownEvent& inMouseDown) {
  mRepeatTick = kNoRepeat;
  LControl::ClickSelf(inMouseDown);
}

QWidget* LStepButton::MakeWidget(QWidget* inParent) {
  QWidget* widget = LPushButton::MakeWidget(inParent);
  UPressTracking::Install(
      widget, this,
      [this](Point inPort) {
        mRepeatTick = kNoRepeat;
        BeginTracking(inPort, 0);
      },
      [this](Point inPort) { ContinueTracking(inPort); }, [this](Point inPort) { EndTracking(inPort); });
  return widget;
}

void LStepButton::HotSpotAction(SInt16 inHotSpot, Boolean inCurrInside, Boolean inPrevInside) {
  StDrawContextState saved;
  LPushButton::HotSpotAction(inHotSpot, inCurrInside, inPrevInside);
  mInside = inCurrInside;
  if (inCurrInside) {
    UInt32 now = TickCount();
    if (mRepeatTick == kNoRepeat || now - mRepeatTick > 30) {
      BroadcastValueMessage();
      UpdatePort();
      if (mRepeatTick == kNoRepeat) mRepeatTick = now;
    }
  }
  // The repeats run while the button is held.
  if (IsTracking() && !IsRepeating()) StartRepeating();
}

void LStepButton::HotSpotResult(SInt16) {}

void LStepButton::SpendTime(const EventRecord&) {
  if (!IsTracking()) {
    StopRepeating();
    mRepeatTick = kNoRepeat;
    return;
  }
  if (mInside) HotSpotAction(1, true, true);
}

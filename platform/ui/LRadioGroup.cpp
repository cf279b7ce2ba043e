#include "platform/ui/LRadioGroup.h"

#include "platform/framework/LStream.h"
#include "platform/ui/LButtons.h"

LRadioGroup::LRadioGroup(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo, MessageT inMessage)
    : LView(inPaneInfo, inViewInfo), mMessage(inMessage) {}

LRadioGroup::LRadioGroup(LStream* inStream) : LView(inStream) { *inStream >> mMessage >> mInitialID; }

void LRadioGroup::RemoveSubPane(LPane* inSub) {
  if (inSub != nullptr && inSub->GetPaneID() == mCurrentID) mCurrentID = 0;
  LView::RemoveSubPane(inSub);
}

void LRadioGroup::FinishCreateSelf() {
  LView::FinishCreateSelf();
  // The layout's choice, else the first button that is on; quietly.
  PaneIDT on = 0;
  if (mInitialID != 0 && dynamic_cast<LRadioButton*>(FindPaneByIDOrNil(mInitialID))) on = mInitialID;
  for (LPane* sub : GetSubPanes()) {
    auto* radio = dynamic_cast<LRadioButton*>(sub);
    if (on == 0 && radio && radio->GetValue() != 0) on = radio->GetPaneID();
  }
  if (on == 0) return;
  StopBroadcasting();
  SetCurrentRadioID(on);
  mCurrentID = on;
  for (LPane* sub : GetSubPanes()) {
    auto* radio = dynamic_cast<LRadioButton*>(sub);
    if (radio && radio->GetPaneID() != on && radio->GetValue() != 0) radio->SetValue(0);
  }
  StartBroadcasting();
}

void LRadioGroup::SetCurrentRadioID(PaneIDT inRadioID) {
  LRadioButton* radio = nullptr;
  for (LPane* sub : GetSubPanes())
    if (sub->GetPaneID() == inRadioID && (radio = dynamic_cast<LRadioButton*>(sub)) != nullptr) break;
  if (radio == nullptr) Throw_(err_NilPointer);
  if (radio->GetValue() != 0) RadioTurnedOn(radio);  // already on: settle the others all the same
  else radio->SetValue(1);                            // the button tells the group
}

void LRadioGroup::RadioTurnedOn(LRadioButton* inRadio) {
  if (mSettling || inRadio == nullptr) return;
  mSettling = true;
  for (LPane* sub : GetSubPanes()) {
    auto* radio = dynamic_cast<LRadioButton*>(sub);
    if (radio && radio != inRadio && radio->GetValue() != 0) radio->SetValue(0);
  }
  mSettling = false;
  if (mCurrentID == inRadio->GetPaneID()) return;
  mCurrentID = inRadio->GetPaneID();
  SInt32 id = mCurrentID;
  BroadcastMessage(mMessage, &id);
}

// A radio group: a view holding radio buttons, of which at most one is on.
// When one is turned on (by the user or the program) the others go off and
// the group broadcasts its message with a pointer to the on button's pane id.
// Layout: pane record, view record, SInt32 message, SInt32 the pane id of
// the button that is on (0: the first button that is on in the layout).
#pragma once

#include "platform/framework/LBroadcaster.h"
#include "platform/ui/LView.h"

class LRadioButton;

class LRadioGroup : public LView, public LBroadcaster {
 public:
  static constexpr ClassIDT class_ID = 'radg';
  LRadioGroup(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo, MessageT inMessage);
  explicit LRadioGroup(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  MessageT GetMessage() const { return mMessage; }
  // The pane id of the button that is on, 0 when none.
  PaneIDT GetCurrentRadioID() const { return mCurrentID; }
  // Turns that button on ('nilP' when the group holds no such button).
  void SetCurrentRadioID(PaneIDT inRadioID);
  // A button inside the group was turned on: the others go off.
  void RadioTurnedOn(LRadioButton* inRadio);
  void RemoveSubPane(LPane* inSub) override;

 protected:
  void FinishCreateSelf() override;

  MessageT mMessage = msg_Nothing;
  PaneIDT mCurrentID = 0;
  PaneIDT mInitialID = 0;
  Boolean mSettling = false;
};

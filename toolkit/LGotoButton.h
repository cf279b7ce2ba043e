// Buttons and attachments that pop up MENU 143 under a control: the
// listener fills the menu (the update-menu message with the LMenu*) and
// hears the item chosen (the selection message with a pointer to the item
// number as an SInt32). A dismissed menu broadcasts nothing more.
#pragma once

#include "platform/framework/LAttachable.h"
#include "platform/ui/LButtons.h"

constexpr SInt16 MENU_GotoPopup = 143;
constexpr MessageT kNoUpdateMenuMessage = -1;

// Pops the menu at the control's bottom-left corner, 4 pixels lower, item 1
// under the mouse, and returns the item chosen (0: none). Broadcasts through
// inBroadcaster.
SInt32 PopupGotoMenu(LControl& inControl, LBroadcaster& inBroadcaster, MessageT inUpdateMenuMessage,
                     MessageT inSelectionMessage);

// Layout class 'GtBt': a push button's record. Its value message is the
// selection message.
class LGotoButton : public LPushButton {
 public:
  static constexpr ClassIDT class_ID = 'GtBt';
  explicit LGotoButton(LStream* inStream);
  LGotoButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText);
  ClassIDT GetClassID() const override { return class_ID; }

  void SetUpdateMenuMessage(MessageT inMessage) { mUpdateMenuMessage = inMessage; }
  MessageT GetUpdateMenuMessage() const { return mUpdateMenuMessage; }
  // A click of the button's widget.
  void HotSpotResult(SInt16 inHotSpot) override;

 protected:
  void ClickSelf(const SMouseDownEvent& inMouseDown) override;

  MessageT mUpdateMenuMessage = kNoUpdateMenuMessage;
};

// The same pop-up for any control, on its click (message 812; the control's
// own click does not run). The control's value is 1 while the menu shows.
class LPopupMenuAttachment : public LAttachment, public LBroadcaster {
 public:
  LPopupMenuAttachment(LControl* inControl, MessageT inPopulateMessage, MessageT inSelectMessage);

 protected:
  void ExecuteSelf(MessageT inMessage, void* ioParam) override;

  LControl* mControl;
  MessageT mPopulateMessage;
  MessageT mSelectMessage;
};

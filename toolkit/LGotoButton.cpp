#include "toolkit/LGotoButton.h"

#include "platform/ui/LMenu.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UResponder.h"

SInt32 PopupGotoMenu(LControl& inControl, LBroadcaster& inBroadcaster, MessageT inUpdateMenuMessage,
                     MessageT inSelectionMessage) {
  LMenu menu(MENU_GotoPopup);
  // The corner under the control, in global coordinates.
  Rect frame;
  inControl.CalcPortFrameRect(frame);
  Point corner = {frame.bottom, frame.left};
  if (LWindow* window = inControl.GetWindow()) {
    Rect bounds = window->GetGlobalBounds();
    corner.v = static_cast<SInt16>(corner.v + bounds.top);
    corner.h = static_cast<SInt16>(corner.h + bounds.left);
  }
  if (inUpdateMenuMessage != kNoUpdateMenuMessage) inBroadcaster.BroadcastMessage(inUpdateMenuMessage, &menu);

  SQuestion q;
  q.kind = question_PopupMenu;
  for (SInt16 i = 1; i <= menu.CountItems(); ++i) {
    const std::string& text = menu.GetItem(i).text;
    q.choices.push_back(text.empty() ? std::string("-") : text);
    // The listener's marks and disabled items show in the menu.
    q.checked.push_back(menu.GetItem(i).mark != noMark);
    q.disabled.push_back(!menu.GetItem(i).enabled);
  }
  q.defaultChoice = 1;
  q.where = Point{static_cast<SInt16>(corner.v + 4), corner.h};
  SAnswer answer = UResponder::AskAndWait(q);
  SInt32 item = answer.cancelled ? 0 : static_cast<SInt16>(answer.choice & 0xFFFF);
  if (item > 0) inBroadcaster.BroadcastMessage(inSelectionMessage, &item);
  return item > 0 ? item : 0;
}

LGotoButton::LGotoButton(LStream* inStream) : LPushButton(inStream) {}

LGotoButton::LGotoButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText)
    : LPushButton(inPaneInfo, inControlInfo, inText) {}

void LGotoButton::ClickSelf(const SMouseDownEvent& inMouseDown) {
  if (FindHotSpot(inMouseDown.whereLocal) == 0) return;
  PopupGotoMenu(*this, *this, mUpdateMenuMessage, GetValueMessage());
}

void LGotoButton::HotSpotResult(SInt16) { PopupGotoMenu(*this, *this, mUpdateMenuMessage, GetValueMessage()); }

LPopupMenuAttachment::LPopupMenuAttachment(LControl* inControl, MessageT inPopulateMessage, MessageT inSelectMessage)
    : LAttachment(msg_Click, false), mControl(inControl), mPopulateMessage(inPopulateMessage), mSelectMessage(inSelectMessage) {}

void LPopupMenuAttachment::ExecuteSelf(MessageT, void*) {
  if (!mControl) return;
  mControl->SetValue(1);
  PopupGotoMenu(*mControl, *this, mPopulateMessage, mSelectMessage);
  mControl->SetValue(0);
}

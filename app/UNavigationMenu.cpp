#include "app/UNavigationMenu.h"

#include "app/CMovieView.h"
#include "platform/framework/LBroadcaster.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UResponder.h"

namespace UNavigationMenu {

void Pop(LPane* inPane, LBroadcaster* inOwner, const SMouseDownEvent& inMouseDown) {
  LMenu* menu = nullptr;
  try {
    menu = new LMenu(MENU_Navigation);
  } catch (...) {
    menu = new LMenu(MENU_Navigation, "");
  }
  inOwner->BroadcastMessage(msg_NavigationMenuOpens, menu);
  SQuestion question;
  question.kind = question_PopupMenu;
  for (SInt16 i = 1; i <= menu->CountItems(); ++i) question.choices.push_back(menu->GetItem(i).text);
  question.defaultChoice = 1;
  // At the click in global coordinates, 4 pixels lower.
  question.where = inMouseDown.wherePort;
  LWindow* window = inPane->GetWindow();
  if (window) {
    const Rect global = window->GetGlobalBounds();
    question.where.h = static_cast<SInt16>(question.where.h + global.left);
    question.where.v = static_cast<SInt16>(question.where.v + global.top);
  }
  question.where.v = static_cast<SInt16>(question.where.v + 4);
  question.parent = window;
  delete menu;
  if (question.choices.empty()) return;
  UResponder::Ask(question, [inOwner](const SAnswer& inAnswer) {
    SInt32 item = static_cast<SInt16>(inAnswer.choice & 0xFFFF);
    if (!inAnswer.cancelled && item > 0) inOwner->BroadcastMessage(msg_NavigationMenuChosen, &item);
  });
}

}  // namespace UNavigationMenu

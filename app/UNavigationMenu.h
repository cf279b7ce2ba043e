// The navigation pop-up menu (MENU 143) shared by the movie view and the
// time slider: the owner's listeners fill it (msg_NavigationMenuOpens with
// the LMenu*), it pops up 4 pixels below the click, and the item chosen is
// broadcast as msg_NavigationMenuChosen (the SInt32 item number). An empty
// menu does not pop up; a dismissed one broadcasts nothing.
#pragma once

#include "platform/ui/LPane.h"

class LBroadcaster;

namespace UNavigationMenu {
// inPane is the pane clicked (its window places the menu); inOwner broadcasts.
void Pop(LPane* inPane, LBroadcaster* inOwner, const SMouseDownEvent& inMouseDown);
}  // namespace UNavigationMenu

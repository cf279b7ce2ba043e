// What sheets and drawers share in reading their layouts: the window a
// layout becomes, and the links from its controls to the sheet or drawer.
#pragma once

#include "platform/framework/LListener.h"
#include "platform/ui/LPane.h"
#include "platform/ui/LWindow.h"

class LCommander;

class LSheetLayout {
 public:
  // Registers the layout classes sheets and drawers are made of (once).
  static void RegisterClasses();
  // The window of layout inLayoutID: its top pane when that is a window,
  // else a new window of inWindowClass the size of the top pane, holding it.
  // The window is not one of the desktop's windows (it hangs on a document
  // window) and its super commander is inSuper. No layout: 'nilP'; a failed
  // reading deletes what was built and throws.
  static LWindow* ReadLayoutWindow(ResIDT inLayoutID, WindowClass inWindowClass, LCommander* inSuper);
  // Links the listener to the broadcasters the layout's link list names;
  // a layout without a link list links every control of the window.
  static SInt32 LinkLayout(LListener* inListener, LWindow* inWindow, ResIDT inLayoutID);
};

// Drags of self-drawn panes that follow the mouse after a press. A pane that
// starts a drag in its ClickSelf calls UMouseTracking::Begin; its widget then
// hands every move and the release to the tracker (the pane), and the drag
// runs across passes of the event loop instead of inside the click. Tests
// drive a drag by calling the tracker's operations with scripted points.
// Qt is not visible here.
#pragma once

#include "platform/base/MacTypes.h"

class LPane;
class LWindow;
class QWidget;

class LDragTracker {
 public:
  LDragTracker() = default;
  LDragTracker(const LDragTracker&) = delete;
  LDragTracker& operator=(const LDragTracker&) = delete;
  // A tracker that goes away while it tracks ends the drag.
  virtual ~LDragTracker();
  // The mouse moved to the port point while the button is held.
  virtual void MouseTracked(Point inPortPt, UInt16 inModifiers) = 0;
  // The button went up at the port point; the drag has ended.
  virtual void MouseReleased(Point inPortPt, UInt16 inModifiers) = 0;
};

class UMouseTracking {
 public:
  // The widget of a self-drawn pane whose drags go to inTracker.
  static QWidget* MakeHostWidget(LPane* inPane, LDragTracker* inTracker, QWidget* inParent);
  // The drag that runs now (nil: none). Begin replaces a running one.
  static void Begin(LDragTracker* inTracker);
  static void End(LDragTracker* inTracker);
  static LDragTracker* GetCurrent();
  // The double-click time of the desktop, in ticks.
  static UInt32 GetDblTime();
  // Whether the window is collapsed (minimised).
  static Boolean IsWindowCollapsed(LWindow* inWindow);
};

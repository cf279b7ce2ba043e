// The press, moves and release of the left mouse button on a pane's widget,
// in the pane's port coordinates, for panes that follow the mouse while it
// is held (repeating buttons, texts that act as links). The widget still
// gets the events.
#pragma once

#include <functional>

#include "platform/base/MacTypes.h"

class QWidget;
class LPane;

class UPressTracking {
 public:
  typedef std::function<void(Point inPortPoint)> Handler;
  static void Install(QWidget* inWidget, LPane* inPane, Handler inPress, Handler inMove, Handler inRelease);
};

// Collapsing a window: on this desktop a collapsed window is minimised.
#pragma once

#include "platform/base/MacTypes.h"

class LWindow;

class UWindowState {
 public:
  // Document windows can collapse.
  static Boolean IsCollapsable(const LWindow* inWindow);
  static Boolean IsCollapsed(const LWindow* inWindow);
  // Minimises or restores the window's top-level widget.
  static void SetCollapsed(LWindow* inWindow, Boolean inCollapsed);
};

// Collapsing a window (on this desktop a collapsed window is minimised),
// bringing it to the front, and keeping it on the screen.
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
  // Restores the window when it is minimised, raises it over the program's
  // other windows and asks the window manager to activate it.
  static void BringForward(LWindow* inWindow);

  // The part of a screen that windows may cover (the desktop's panels and
  // docks left out), in global coordinates: of the screen that holds the
  // window's top-left corner, else of the primary screen. Empty without a screen.
  static Rect GetAvailableScreenArea(const LWindow* inWindow);
  // What the window's top-level frame adds around its content on each side
  // (the window manager's title bar and borders, the menu bar, a drawer's
  // room), as positive counts in top, left, bottom, right.
  static Rect GetFrameMargins(const LWindow* inWindow);
  // Moves the window so that its whole frame lies within the available area
  // (a frame larger than the area keeps its top-left corner inside).
  static void KeepOnScreen(LWindow* inWindow);
};

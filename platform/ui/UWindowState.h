// Collapsing a window (on this desktop a collapsed window is minimised),
// bringing it to the front, and keeping it on the screen.
#pragma once

#include <functional>

#include "platform/base/MacTypes.h"

class LWindow;
class QWidget;

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
  // room), as positive counts in top, left, bottom, right. The window
  // manager decorates a window only once it is shown: until then its
  // decoration is taken to be the one it gave the program's other windows.
  static Rect GetFrameMargins(const LWindow* inWindow);
  // The window manager's title bar and borders around a shown top-level
  // widget (top, left, bottom, right); zero for one not shown and on
  // desktops without decorations (offscreen, bare X servers).
  static Rect GetDecoration(const QWidget* inFrame);
  // Where the decoration is read from: by default the widget's frame
  // geometry as Qt knows it from the window manager. Tests that have no
  // window manager give one that decorates as a real one would; nil
  // restores the default.
  typedef std::function<Rect(const QWidget* inFrame)> DecorationSource;
  static void SetDecorationSource(DecorationSource inSource);
  // Moves the window so that its whole frame lies within the available area
  // (a frame larger than the area keeps its top-left corner inside).
  static void KeepOnScreen(LWindow* inWindow);
};

// The desktop: every window of the program, front to back, in three layers
// (modal in front of floating in front of regular). Regular windows are the
// document windows and what hangs on them (sheets, drawers); the front
// visible regular window is the active one while no modal window shows.
#pragma once

#include <vector>

#include "platform/ui/LWindow.h"

class UDesktop {
 public:
  // Every window, front to back (modal, floating, regular layers).
  static std::vector<LWindow*> GetWindows();
  // The windows of one class, front to back.
  static std::vector<LWindow*> GetWindowsOfClass(WindowClass inClass);
  // The front visible window of a layer (nil: none).
  static LWindow* FetchTopRegular();
  static LWindow* FetchTopFloater();
  static LWindow* FetchTopModal();
  // The window that is active now (the front modal one, else the front regular one).
  static LWindow* FetchActiveWindow();
  // Brings the window to the front of its layer and activates it when it is
  // then the window that should be active; deactivates the one that was.
  static void SelectDeskWindow(LWindow* inWindow);
  // Makes the activation match the order (after a window showed, hid or left).
  static void UpdateActivation();
  static void Deactivate();
  static void Activate();

  // The front window whose content shows at the global point, with the
  // point in that window's port coordinates (nil: none). A window's sheets
  // lie in front of it and its drawers beside it (behind its content while
  // they slide), so they are looked at with it.
  static LWindow* FindWindowAt(Point inGlobalPoint, Point& outPortPoint);

  // The window a sheet or a drawer hangs on (nil for a window of its own).
  // Sheets and drawers are not on the desktop's list; they show, and are
  // active, with that window.
  static LWindow* FetchHostWindow(LWindow* inWindow);

  // Windows register themselves (LWindow does this).
  static void AddWindow(LWindow* inWindow);
  static void RemoveWindow(LWindow* inWindow);
  // Moves the window to the front of its layer (no activation change).
  static void BringToFront(LWindow* inWindow);
};

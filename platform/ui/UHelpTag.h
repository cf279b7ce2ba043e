// The floating help tag on screen: a small tool-tip window with one line of
// text next to the mouse, that can fade out; and where the mouse is.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"

class QWidget;

class UHelpTag {
 public:
  // Shows the text with its top-left corner at the global point, inWidth wide.
  static void Show(const std::string& inText, Point inGlobalTopLeft, SInt16 inWidth, SInt16 inHeight);
  static void SetOpacity(float inOpacity);
  static void Hide();
  static Boolean IsShown();
  static std::string GetText();
  // The tag's window (nil before the first tag); tests photograph it.
  static QWidget* GetWidget();
  // The screen the point lies on (its available area, global coordinates).
  static Rect GetScreenBounds(Point inGlobalPoint);
  // The mouse's global position and whether a button is held.
  static void GetMouse(Point& outGlobal, Boolean& outButtonDown);
  // Tests: the mouse as given (until ClearMouse).
  static void SetMouse(Point inGlobal, Boolean inButtonDown);
  static void ClearMouse();
};

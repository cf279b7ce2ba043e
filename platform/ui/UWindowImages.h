// Photographs of windows and file drops on them, for the program's own use:
// the headless job photographs its window at each step, and movie files
// dropped on any window of the program reach the application as the
// open-documents event.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"

class LWindow;

class UWindowImages {
 public:
  // Saves the window as it shows (menu bar and content) as a PNG file;
  // false when it cannot.
  static Boolean SaveWindowImage(LWindow* inWindow, const std::string& inPath);
  // Whether the upper part of the window's content shows a picture (more
  // than a handful of colours on a sampling grid), as after a movie's first
  // frame is drawn.
  static Boolean ShowsPicture(LWindow* inWindow);
  // From now on every window takes file drops and hands the files to the
  // application's HandleOpenDocuments.
  static void AcceptFileDrops();
};

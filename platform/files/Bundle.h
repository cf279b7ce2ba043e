// Where the main bundle is. The bundle is a folder
//   Tremblorix.app/Contents/Info.plist
//   Tremblorix.app/Contents/MacOS/        the programs
//   Tremblorix.app/Contents/Resources/    Tremblorix.rsrc (texts and other
//                                         resources), default files, help
// found from the running program's path (…/Contents/MacOS/<program>), or
// from the environment variable TRX_BUNDLE, or set by tests.
#pragma once

#include <string>

#include "platform/files/CoreFoundation.h"

constexpr const char* kApplicationResourceFileName = "Tremblorix.rsrc";

class UBundle {
 public:
  // Points the main bundle at a folder ("" goes back to finding it); closes
  // the resource files so the application's texts come from the new bundle.
  static void SetMainBundlePath(const std::string& inPath);
  // The bundle folder, "" when there is none.
  static std::string GetMainBundlePath();
};

// The application's resource file inside the main bundle ("" without a bundle).
std::string MainBundleResourceFilePath();

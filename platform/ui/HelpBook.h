// The help book: HTML pages in a folder of the bundle's resources, named by
// the bundle keys "CFBundleHelpBookName" and "CFBundleHelpBookFolder". A
// registered book's pages open in the help window (a text browser that
// follows the pages' links, with Back, Forward and the book's title page).
#pragma once

#include <string>

#include "platform/base/MacTypes.h"
#include "platform/files/CoreFoundation.h"
#include "platform/files/Files.h"

class QWidget;

constexpr OSStatus kAHInternalErr = -10790;

// Registers the book of the bundle at the reference (its keys from the
// bundle's Info.plist): 'nilP' without the name or folder key, fnfErr when
// the folder is missing.
OSStatus AHRegisterHelpBook(const FSRef* inAppBundleRef);
// Shows the page (a path inside the book's folder) at the anchor (nil:
// its top). An unknown book: kAHInternalErr; a missing page: fnfErr. A nil
// book name takes the path as an absolute file path.
OSStatus AHGotoPage(CFStringRef inBookName, CFStringRef inPath, CFStringRef inAnchor);

class UHelpViewer {
 public:
  // The page shown last (its full path, "" when none) and its anchor.
  static std::string GetShownPage();
  static std::string GetShownAnchor();
  // The help window (nil before the first page).
  static QWidget* GetWindow();
  // The folder of a registered book ("" when not registered).
  static std::string GetBookFolder(const std::string& inBookName);
  // Closes the window and forgets the books.
  static void Reset();
};

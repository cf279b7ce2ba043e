// The program's help book: registered at start-up from the bundle's keys
// "CFBundleHelpBookName" and "CFBundleHelpBookFolder", its pages opened by
// name (with an optional anchor) in the help window. Every failure is told
// to the user in a note alert with the error code (texts of STR# 5021) and
// returned; the program goes on without help.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"
#include "platform/files/CoreFoundation.h"

constexpr SInt16 STRx_Help = 5021;
constexpr SInt16 str_HelpBookNotFound = 1;
constexpr SInt16 str_HelpPageNotFound = 2;
constexpr SInt16 str_HelpPageNotOpened = 3;
constexpr SInt16 str_HelpBookNotRegistered = 4;

class UHelp {
 public:
  // Reads the book's name and folder and registers it; a failure ends in
  // the note alert STR# 5021 item 1, never in an exception. The result is
  // that of starting the help support (noErr).
  static OSErr InitHelp();
  // Registers the main bundle's book; a failure: the note alert item 4.
  static OSErr RegisterHelpBook();
  // Opens a page of the book at the anchor (nil or empty: none); a
  // failure: the note alert item 3.
  static OSErr GotoHelpPage(ConstStringPtr inPage, ConstStringPtr inAnchor);
  // Opens the page at the URL's path, outside the book ('nilP' for a URL
  // without a path).
  static OSErr GotoHelpPage(CFURLRef inURL, ConstStringPtr inAnchor);
  static void FinishHelp();

  static std::string sBookName;
  static std::string sBookFolder;
  static Boolean sUseHelpBook;
  static Boolean sHelpStarted;
};

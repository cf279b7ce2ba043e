// The real dialogs of the navigation questions: the desktop's file dialog
// (a Qt file dialog with the custom area below its file list when the
// question carries one) and the save-changes, discard-changes and
// review-documents message boxes. Window-modal on the question's parent,
// else application-modal; opened with open(), answered from their signals.
// Each is known by the number of the navigation dialog that asked, so that
// disposing of that dialog closes it.
#pragma once

#include <string>

#include "platform/ui/UResponder.h"

class QDialog;

class UNavPresenters {
 public:
  static void PresentFile(const SQuestion& inQuestion, UResponder::Reply inReply);
  static void PresentQuestion(const SQuestion& inQuestion, UResponder::Reply inReply);
  // Closes the real dialog of a navigation dialog (no answer follows).
  static void Dismiss(UInt32 inDialogID);
  // The name typed in a put-file dialog (inFallback when none is open), and setting it.
  static std::string GetFileName(UInt32 inDialogID, const std::string& inFallback);
  static void SetFileName(UInt32 inDialogID, const std::string& inName);
  // The real dialog shown for a navigation dialog (nil when none); tests.
  static QDialog* GetDialog(UInt32 inDialogID);
  // The real dialog's window was activated (5) or deactivated (6).
  static void WindowEvent(UInt32 inDialogID, UInt32 inEventKind);
};

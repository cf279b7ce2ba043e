// Texts for OS error codes, durations and the version, and the note, caution
// and stop alerts that carry an error code.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LStr255.h"

// String lists of the bundle used here.
constexpr SInt16 STRx_OSErrors = 5022;
constexpr SInt16 kOSErrorOtherItem = 14;

class UMessage {
 public:
  // Looks up the names of the movie toolbox's errors: fills the text and
  // answers true for one of its errors.
  typedef bool (*QTErrorMessageProc)(OSErr inErr, LStr255& outText);
  // Lets pending events be handled while a long operation runs.
  typedef void (*ProcessEventsProc)();

  // The text of a file-system error from string list 5022 (true), else the
  // movie toolbox's name for it (true), else the list's general text (false).
  static bool GetOSErrString(OSErr inErr, LStr255& outText);
  // "h:mm:ss", "m:ss" or "s".
  static void GetTimeString(SInt32 inSeconds, LStr255& outText);
  // Modal alerts: the message as the main text, the code in decimal as the
  // explanation, an OK button. An alert that cannot be shown throws its error.
  static void NoteAlert(ConstStringPtr inMessage, SInt16 inCode);
  static void CautionAlert(ConstStringPtr inMessage, SInt16 inCode);
  static void StopAlert(ConstStringPtr inMessage, SInt16 inCode);
  // The main bundle's "CFBundleVersion"; the text stays as it is without one.
  static void GetVersionString(LStr255& ioText);

  static void SetQTErrorMessageProc(QTErrorMessageProc inProc);
  static void SetProcessEventsProc(ProcessEventsProc inProc);
  // Runs the installed event processing (nothing without one).
  static void ProcessEvents();
};

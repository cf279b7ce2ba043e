// Texts for OS error codes, durations and the version, and the note, caution
// and stop alerts that carry an error code.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"
#include "platform/framework/LStr255.h"

class LWindow;

// String lists of the bundle used here.
constexpr SInt16 STRx_OSErrors = 5022;
constexpr SInt16 kOSErrorOtherItem = 14;
constexpr SInt16 STRx_ErrorTexts = 5025;

// The modal progress window: its layout, its panes, and what it answers when
// the user cancels.
constexpr SInt16 PPob_ProgressWindow = 500;
constexpr SInt32 kProgressBarPane = 2201;
constexpr SInt32 kProgressCancelButton = 2202;
constexpr SInt32 kProgressMessagePane = 2203;
constexpr SInt32 kProgressDisclosurePane = 2205;
constexpr SInt32 kProgressElapsedPane = 2210;
constexpr SInt32 kProgressRemainingPane = 2211;
constexpr SInt32 kProgressTotalPane = 2212;
constexpr SInt16 kProgressUserCanceled = -8967;

class UMessage {
 public:
  // Looks up the names of the movie toolbox's errors: fills the text and
  // answers true for one of its errors.
  typedef bool (*QTErrorMessageProc)(OSErr inErr, LStr255& outText);
  // Lets pending events be handled while a long operation runs.
  typedef void (*ProcessEventsProc)();

  // The text of a file-system error from string list 5022 (true), else the
  // text of a movie toolbox, codec, system or program error from list 5025
  // (true), else the movie toolbox's name for it (true), else the general
  // text of list 5022 (false).
  static bool GetOSErrString(OSErr inErr, LStr255& outText);
  // The code as the detail an alert adds below its text: "Error: -2048",
  // or "Error: 'nilP'" for the low half of a four-character code the program
  // throws; nothing for noErr.
  static void GetErrorCodeDetail(OSErr inErr, LStr255& outText);
  // The code alone: "-2048", or "'nilP'" for a four-character code.
  static void GetErrorCodeString(OSErr inErr, LStr255& outText);
  // What an alert explains below its message: the code's text when it has
  // one and the message does not say it already, then on a line of its own
  // the code's detail; nothing for noErr.
  static std::string GetErrorExplanation(const std::string& inMessage, OSErr inErr);
  // "h:mm:ss", "m:ss" or "s".
  static void GetTimeString(SInt32 inSeconds, LStr255& outText);
  // Modal alerts: the message as the main text, the code's text and detail
  // as the explanation (GetErrorExplanation), an OK button. An alert that
  // cannot be shown throws its error.
  static void NoteAlert(ConstStringPtr inMessage, SInt16 inCode);
  static void CautionAlert(ConstStringPtr inMessage, SInt16 inCode);
  static void StopAlert(ConstStringPtr inMessage, SInt16 inCode);
  // The main bundle's "CFBundleVersion"; the text stays as it is without one.
  static void GetVersionString(LStr255& ioText);

  // The progress procedure of the modal progress window (layout 500):
  // message 0 opens it (-1 when one is open already), 1 updates it at most
  // once per 6 ticks and answers -8967 once the user cancelled, 2 closes it.
  // Only one modal progress window exists at a time.
  static SInt16 UniversalProgressProcedure(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon, unsigned char* inText);
  // The open modal progress window (nil when none), for inspection.
  static LWindow* GetProgressWindow();

  static void SetQTErrorMessageProc(QTErrorMessageProc inProc);
  static void SetProcessEventsProc(ProcessEventsProc inProc);
  // Runs the installed event processing (nothing without one).
  static void ProcessEvents();
};

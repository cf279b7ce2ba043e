// Alerts and the beep, headless: every alert goes to the alert responder,
// which records it and answers with a scripted button (the default button
// when nothing is scripted). A display front end installs its own answerer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/MacTypes.h"

typedef SInt16 AlertType;
constexpr AlertType kAlertStopAlert = 0;
constexpr AlertType kAlertNoteAlert = 1;
constexpr AlertType kAlertCautionAlert = 2;
constexpr AlertType kAlertPlainAlert = 3;

typedef SInt16 DialogItemIndex;
constexpr DialogItemIndex kAlertStdAlertOKButton = 1;
constexpr DialogItemIndex kAlertStdAlertCancelButton = 2;
constexpr DialogItemIndex kAlertStdAlertOtherButton = 3;

constexpr SInt16 kAlertDefaultOKText = -1;
constexpr UInt16 kWindowDefaultPosition = 0;
constexpr UInt16 kWindowAlertPositionParentWindowScreen = 0x700A;

struct AlertStdAlertParamRec {
  Boolean movable;
  Boolean helpButton;
  void* filterProc;
  ConstStringPtr defaultText;  // nil: no button; (ConstStringPtr)-1: the standard text
  ConstStringPtr cancelText;
  ConstStringPtr otherText;
  SInt16 defaultButton;
  SInt16 cancelButton;
  UInt16 position;
};

// Fills the record with the standard settings: an OK button only.
OSErr GetStandardAlertDefaultParams(AlertStdAlertParamRec* param, UInt32 version);
// Shows an alert and reports the button chosen. inAlertParam nil: OK only.
OSErr StandardAlert(AlertType inAlertType, ConstStr255Param inError, ConstStr255Param inExplanation,
                    const AlertStdAlertParamRec* inAlertParam, SInt16* outItemHit);
void SysBeep(SInt16 duration);

// What an alert showed.
struct AlertRecord {
  AlertType kind = kAlertPlainAlert;
  std::string message;
  std::string explanation;
  std::vector<std::string> buttons;  // default, cancel, other (those present)
  DialogItemIndex answer = 0;
};

class UAlertResponder {
 public:
  typedef std::function<DialogItemIndex(const AlertRecord&)> Answerer;

  // Answers the following alerts in order (then the default button again).
  static void QueueAnswer(DialogItemIndex inItem);
  // Answers every alert (a display front end, or a test); nil removes it.
  static void SetAnswerer(Answerer inAnswerer);
  // Makes the next alert fail with the code, as an alert that cannot be shown.
  static void FailNextAlert(OSErr inErr);
  static std::vector<AlertRecord> GetRecorded();
  static SInt32 GetBeepCount();
  // Forgets recorded alerts, queued answers, the answerer and beeps.
  static void Reset();
};

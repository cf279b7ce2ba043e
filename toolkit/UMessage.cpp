#include "toolkit/UMessage.h"

#include <cstdio>

#include "platform/base/LException.h"
#include "platform/files/CoreFoundation.h"
#include "platform/files/Resources.h"
#include "platform/ui/Alerts.h"

namespace {

UMessage::QTErrorMessageProc sQTErrorMessageProc = nullptr;
UMessage::ProcessEventsProc sProcessEventsProc = nullptr;

struct ErrorItem {
  OSErr err;
  SInt16 item;
};

// The order of the string list.
constexpr ErrorItem kErrorItems[] = {
    {nsvErr, 1},   {ioErr, 2},   {bdNamErr, 3},   {tmfoErr, 4},          {fnfErr, 5},
    {-54, 6},      {dirNFErr, 7}, {afpAccessDenied, 8}, {opWrErr, 9},   {dupFNErr, 10},
    {fBsyErr, 11}, {wPrErr, 12}, {dskFulErr, 13},
};

void Alert(AlertType inKind, ConstStringPtr inMessage, SInt16 inCode) {
  LStr255 code(static_cast<SInt32>(inCode));
  SInt16 hit = 0;
  OSErr err = StandardAlert(inKind, inMessage, code, nullptr, &hit);
  if (err != noErr) Throw_(err);
}

}  // namespace

bool UMessage::GetOSErrString(OSErr inErr, LStr255& outText) {
  Str255 text;
  for (const ErrorItem& e : kErrorItems) {
    if (e.err == inErr) {
      GetIndString(text, STRx_OSErrors, e.item);
      outText = text;
      return true;
    }
  }
  if (sQTErrorMessageProc && sQTErrorMessageProc(inErr, outText)) return true;
  GetIndString(text, STRx_OSErrors, kOSErrorOtherItem);
  outText = text;
  return false;
}

void UMessage::GetTimeString(SInt32 inSeconds, LStr255& outText) {
  SInt32 hours = inSeconds / 3600;
  SInt32 minutes = (inSeconds % 3600) / 60;
  SInt32 seconds = (inSeconds % 3600) % 60;
  char text[64];
  if (hours != 0)
    std::snprintf(text, sizeof text, "%d:%02d:%02d", hours, minutes, seconds);
  else if (minutes != 0)
    std::snprintf(text, sizeof text, "%d:%02d", minutes, seconds);
  else
    std::snprintf(text, sizeof text, "%d", seconds);
  outText = text;
}

void UMessage::NoteAlert(ConstStringPtr inMessage, SInt16 inCode) { Alert(kAlertNoteAlert, inMessage, inCode); }
void UMessage::CautionAlert(ConstStringPtr inMessage, SInt16 inCode) { Alert(kAlertCautionAlert, inMessage, inCode); }
void UMessage::StopAlert(ConstStringPtr inMessage, SInt16 inCode) { Alert(kAlertStopAlert, inMessage, inCode); }

void UMessage::GetVersionString(LStr255& ioText) {
  CFBundleRef bundle = CFBundleGetMainBundle();
  if (!bundle) return;
  CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(bundle, CFSTR("CFBundleVersion"));
  if (!value || CFGetTypeID(value) != CFStringGetTypeID()) return;
  Str255 text;
  if (CFStringGetPascalString(static_cast<CFStringRef>(value), text, sizeof text, kCFStringEncodingMacRoman))
    ioText = text;
}

void UMessage::SetQTErrorMessageProc(QTErrorMessageProc inProc) { sQTErrorMessageProc = inProc; }
void UMessage::SetProcessEventsProc(ProcessEventsProc inProc) { sProcessEventsProc = inProc; }

void UMessage::ProcessEvents() {
  if (sProcessEventsProc) sProcessEventsProc();
}

#include "toolkit/UMessage.h"

#include <cstdio>

#include "platform/base/LException.h"
#include "platform/files/CoreFoundation.h"
#include "platform/files/Resources.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/UReanimator.h"

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

// The texts of the movie toolbox's codes -2000 to -2059 are items 1 to 60 of
// string list 5025; the codes of the codecs, the other system services and
// the program's own follow.
constexpr OSErr kFirstMovieError = -2000;
constexpr OSErr kLastMovieError = -2059;

constexpr OSErr Code(ExceptionCode inCode) { return static_cast<OSErr>(static_cast<UInt16>(inCode & 0xFFFFu)); }

constexpr ErrorItem kErrorTextItems[] = {
    {-8960, 61},  {-8961, 62},  {-8969, 63},  {-8971, 64},  {-128, 65},   {-8967, 65},  {-206, 66},
    {-108, 67},   {-145, 67},   {-50, 68},    {-39, 69},    {-40, 70},    {-61, 71},    {-45, 72},
    {-46, 73},    {-38, 74},    {-51, 75},    {-1401, 75},  {-33, 76},    {-192, 77},   {-193, 78},
    {-199, 79},   {-4, 80},     {-600, 81},   {-1302, 82},  {-1407, 83},  {-3000, 84},  {-9874, 85},
    {-9870, 85},  {-9868, 85},  {-1708, 85},  {-10790, 86}, {-1, 87},     {-29291, 88}, {-29292, 89},
    {-29294, 89}, {-29295, 89}, {-29450, 90}, {-29293, 101}, {-29296, 101}, {-29275, 101}, {-157, 91},
    {-150, 91},   {-10, 91},    {-11000, 91}, {-102, 92},   {-100, 92},   {-4960, 93},  {-4961, 93},
    {-1850, 94},  {-1851, 94},  {-1852, 94},  {-1853, 94},  {-5696, 95},  {-5697, 95},  {-5698, 95},
    {-5699, 95},  {-30583, 96}, {-4979, 96},  {-4971, 97},  {-4975, 101}, {-1300, 97},  {-5025, 97},
    {-1310, 98},  {-109, 99},   {-111, 99},   {-112, 99},   {-117, 99},   {Code('nilP'), 100},
    {Code('asrt'), 101},        {Code('ppob'), 102},        {Code('clas'), 102},        {-194, 103},
    {-196, 103},  {-198, 103},
};
constexpr SInt16 kErrorCodeItem = 104;

bool GetErrorText(OSErr inErr, LStr255& outText) {
  SInt16 item = 0;
  if (inErr <= kFirstMovieError && inErr >= kLastMovieError) {
    item = static_cast<SInt16>(kFirstMovieError - inErr + 1);
  } else {
    for (const ErrorItem& e : kErrorTextItems)
      if (e.err == inErr) item = e.item;
  }
  if (item == 0) return false;
  Str255 text;
  GetIndString(text, STRx_ErrorTexts, item);
  if (text[0] == 0) return false;
  outText = text;
  return true;
}

// The four-character codes the program throws. An OSErr keeps only their
// low 16 bits ('nilP' arrives as 27728), which name them again here.
constexpr ExceptionCode kFourCharCodes[] = {err_NilPointer, err_AssertFailed, err_LayoutDamaged,
                                            err_LayoutClassNotRegistered};

void Alert(AlertType inKind, ConstStringPtr inMessage, SInt16 inCode) {
  const std::string explanation =
      UMessage::GetErrorExplanation(std::string(reinterpret_cast<const char*>(inMessage + 1), inMessage[0]), inCode);
  const LStr255 code(explanation.c_str());
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
  // The program's own words first; the movie toolbox's names stand in when
  // the list does not hold the code.
  if (GetErrorText(inErr, outText)) return true;
  if (sQTErrorMessageProc && sQTErrorMessageProc(inErr, outText)) return true;
  GetIndString(text, STRx_OSErrors, kOSErrorOtherItem);
  outText = text;
  return false;
}

void UMessage::GetErrorCodeDetail(OSErr inErr, LStr255& outText) {
  Str255 label;
  GetIndString(label, STRx_ErrorTexts, kErrorCodeItem);
  outText = "";
  if (inErr == noErr) return;  // no failure: nothing to add
  outText = label;
  if (outText.Length() != 0) outText += " ";
  LStr255 code;
  GetErrorCodeString(inErr, code);
  outText += code;
}

void UMessage::GetErrorCodeString(OSErr inErr, LStr255& outText) {
  for (ExceptionCode c : kFourCharCodes) {
    if (ErrorCodeToOSErr(c) != inErr) continue;
    const char text[] = {'\'', static_cast<char>((c >> 24) & 0xFF), static_cast<char>((c >> 16) & 0xFF),
                         static_cast<char>((c >> 8) & 0xFF), static_cast<char>(c & 0xFF), '\'', 0};
    outText = text;
    return;
  }
  outText = LStr255(static_cast<SInt32>(inErr));
}

std::string UMessage::GetErrorExplanation(const std::string& inMessage, OSErr inErr) {
  if (inErr == noErr) return std::string();
  std::string explanation;
  LStr255 text;
  if (GetOSErrString(inErr, text)) {
    const std::string said(text.ConstTextPtr(), text.Length());
    if (!said.empty() && inMessage.find(said) == std::string::npos) explanation = said + "\r";
  }
  LStr255 detail;
  GetErrorCodeDetail(inErr, detail);
  return explanation + std::string(detail.ConstTextPtr(), detail.Length());
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

#include "toolkit/UHelp.h"

#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/files/Resources.h"
#include "platform/ui/HelpBook.h"
#include "toolkit/UMessage.h"
#include "platform/base/LException.h"

std::string UHelp::sBookName;
std::string UHelp::sBookFolder;
Boolean UHelp::sUseHelpBook = true;
Boolean UHelp::sHelpStarted = false;

namespace {

void Note(SInt16 inItem, OSStatus inErr) {
  Str255 text;
  text[0] = 0;
  GetIndString(text, STRx_Help, inItem);
  try {
    UMessage::NoteAlert(text, static_cast<SInt16>(inErr));
  } catch (...) {
    LogCurrentException("help", "help alert");
  }
}

// A string value of the main bundle's Info.plist: 'nilP' when missing, -1
// when it is no string.
OSStatus InfoKey(CFBundleRef inBundle, const char* inKey, std::string& outValue) {
  CFStringRef key = CFStringCreateWithCString(nullptr, inKey, kCFStringEncodingUTF8);
  CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(inBundle, key);
  CFRelease(key);
  if (!value) return 'nilP';
  if (CFGetTypeID(value) != CFStringGetTypeID()) return -1;
  char buffer[256];
  if (!CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer, kCFStringEncodingUTF8)) return -1;
  outValue = buffer;
  return noErr;
}

CFStringRef MakeString(ConstStringPtr inText) {
  return CFStringCreateWithCString(nullptr, PStrToString(inText).c_str(), kCFStringEncodingUTF8);
}

}  // namespace

OSErr UHelp::InitHelp() {
  sHelpStarted = true;
  OSStatus err = noErr;
  CFBundleRef bundle = CFBundleGetMainBundle();
  if (!bundle) err = 'nilP';
  if (err == noErr) err = InfoKey(bundle, "CFBundleHelpBookName", sBookName);
  if (err == noErr) {
    RegisterHelpBook();  // tells its own failure
    err = InfoKey(bundle, "CFBundleHelpBookFolder", sBookFolder);
  }
  if (err == noErr) {
    CFURLRef bundleURL = CFBundleCopyBundleURL(bundle);
    CFURLRef resources = CFBundleCopyResourcesDirectoryURL(bundle);
    if (!bundleURL || !resources) err = 'nilP';
    if (bundleURL) CFRelease(bundleURL);
    if (resources) CFRelease(resources);
  }
  if (err != noErr) Note(str_HelpBookNotFound, err);
  return noErr;
}

OSErr UHelp::RegisterHelpBook() {
  OSStatus err = noErr;
  CFBundleRef bundle = CFBundleGetMainBundle();
  CFURLRef url = bundle ? CFBundleCopyBundleURL(bundle) : nullptr;
  FSRef ref;
  if (!url) err = 'nilP';
  else if (!CFURLGetFSRef(url, &ref)) err = -1;
  if (url) CFRelease(url);
  if (err == noErr) err = AHRegisterHelpBook(&ref);
  if (err != noErr) Note(str_HelpBookNotRegistered, err);
  return static_cast<OSErr>(err);
}

OSErr UHelp::GotoHelpPage(ConstStringPtr inPage, ConstStringPtr inAnchor) {
  CFStringRef book = CFStringCreateWithCString(nullptr, sBookName.c_str(), kCFStringEncodingUTF8);
  CFStringRef page = inPage ? MakeString(inPage) : nullptr;
  CFStringRef anchor = inAnchor && inAnchor[0] ? MakeString(inAnchor) : nullptr;
  OSStatus err = page ? AHGotoPage(book, page, anchor) : paramErr;
  CFRelease(book);
  if (page) CFRelease(page);
  if (anchor) CFRelease(anchor);
  if (err != noErr) Note(str_HelpPageNotOpened, err);
  return static_cast<OSErr>(err);
}

OSErr UHelp::GotoHelpPage(CFURLRef inURL, ConstStringPtr inAnchor) {
  CFStringRef path = inURL ? CFURLCopyFileSystemPath(inURL, kCFURLPOSIXPathStyle) : nullptr;
  OSStatus err = 'nilP';
  if (path && CFStringGetLength(path) > 0) {
    CFStringRef anchor = inAnchor && inAnchor[0] ? MakeString(inAnchor) : nullptr;
    err = AHGotoPage(nullptr, path, anchor);
    if (anchor) CFRelease(anchor);
    if (err != noErr) Note(str_HelpPageNotOpened, err);
  }
  if (path) CFRelease(path);
  return static_cast<OSErr>(err);
}

void UHelp::FinishHelp() { sHelpStarted = false; }

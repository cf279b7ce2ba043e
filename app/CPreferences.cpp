#include "app/CPreferences.h"

#include <cstring>

#include "platform/base/LException.h"
#include "platform/files/CoreFoundation.h"
#include "platform/framework/LFileStream.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

const unsigned char kSettingsName[] = "\026Tremblorix Preferences";

FSSpec CPreferences::mPrefFile = {};
FSSpec CPreferences::mPrefFolder = {};
Boolean CPreferences::mHasPrefFile = false;
Boolean CPreferences::mFirstLaunch = false;
SInt32 CPreferences::mVersion = 0;
TArray<SPreferencePanel> CPreferences::mPreferenceArray;

void CPreferences::Init() {
  SInt16 vRefNum = 0;
  SInt32 dirID = 0;
  ThrowIfOSErr_(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID));

  FSSpec prefFile;
  OSErr err = FSMakeFSSpec(vRefNum, dirID, kSettingsName, &prefFile);
  if (err != noErr && err != fnfErr) Throw_(err);
  Boolean firstLaunch = false;
  if (err != noErr || ReadPrefs(prefFile) != noErr || mVersion != kPreferencesVersion) {
    // Missing, unreadable or of another version: start again from the default copy.
    FSpDelete(&prefFile);
    FSSpec defaultFile;
    ThrowIfOSErr_(FindDefaultPrefFile(defaultFile));
    FSSpec folder;
    ThrowIfOSErr_(FSMakeFSSpec(vRefNum, dirID, reinterpret_cast<const unsigned char*>(""), &folder));
    ThrowIfOSErr_(FSpFileCopy(&defaultFile, &folder, nullptr, nullptr, 0, true));
    ThrowIfOSErr_(FSMakeFSSpec(vRefNum, dirID, kSettingsName, &prefFile));
    ThrowIfOSErr_(ReadPrefs(prefFile));
    firstLaunch = true;
  }
  FSMakeFSSpec(vRefNum, dirID, reinterpret_cast<const unsigned char*>(""), &mPrefFolder);
  mPrefFile = prefFile;
  mHasPrefFile = true;
  mFirstLaunch = firstLaunch;
}

void CPreferences::Finish() {
  if (mHasPrefFile) WritePrefs(mPrefFile);
}

Boolean CPreferences::GetPrefFile(FSSpec* outSpec) {
  if (!mHasPrefFile || !outSpec) return false;
  *outSpec = mPrefFile;
  return true;
}

Boolean CPreferences::GetPrefFolder(FSSpec* outSpec) {
  if (!mHasPrefFile || !outSpec) return false;
  *outSpec = mPrefFolder;
  return true;
}

OSErr CPreferences::ReadPrefs(FSSpec& inSpec) {
  // A file without a version record reads as version 0, which callers replace.
  mVersion = 0;
  try {
    LFileStream stream(FSSpecPath(inSpec));
    stream.OpenDataFork(fsRdPerm);
    LTagReader reader(&stream);
    UInt32 tag = 0, length = 0;
    while (reader.ReadNextTag(tag, length)) {
      if (tag == kPrefTagVersion && length == 4) reader.ReadSInt32(mVersion);
    }
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  return noErr;
}

OSErr CPreferences::WritePrefs(FSSpec& inSpec) {
  try {
    LFileStream stream(FSSpecPath(inSpec));
    stream.OpenDataFork(fsRdWrPerm);
    stream.SetLength(0);
    LTagWriter writer(&stream);
    ThrowIfOSErr_(writer.WriteSInt32(kPrefTagVersion, kPreferencesVersion));
    ThrowIfOSErr_(writer.WriteNextTag(kTagEndOfSection, 0, nullptr));
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  return noErr;
}

OSErr CPreferences::FindDefaultPrefFile(FSSpec& outSpec) {
  CFURLRef url = nullptr;
  try {
    CFBundleRef bundle = CFBundleGetMainBundle();
    ThrowIfNil_(bundle);
    CFStringRef name = CFStringCreateWithPascalString(kCFAllocatorDefault, kSettingsName, kCFStringEncodingMacRoman);
    ThrowIfNil_(name);
    url = CFBundleCopyResourceURL(bundle, name, nullptr, nullptr);
    CFRelease(name);
    ThrowIfNil_(url);
    FSRef ref;
    // The resource is there but not a file we can reach: "Couldn't find Settings!".
    if (!CFURLGetFSRef(url, &ref)) Throw_(-1);
    ThrowIfOSErr_(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &outSpec, nullptr));
  } catch (const LException& e) {
    if (url) CFRelease(url);
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  CFRelease(url);
  return noErr;
}

void CPreferences::RegisterPreferencePanel(const LStr255& inName, SInt16 inID, PreferencePanelProc inProc) {
  SPreferencePanel panel;
  std::memcpy(panel.name, static_cast<ConstStringPtr>(inName), static_cast<size_t>(inName.Length()) + 1);
  panel.id = inID;
  panel.proc = inProc;
  mPreferenceArray.AddItem(panel);
}

Boolean CPreferences::PreferencesDialog() { return true; }

void CPreferences::Reset() {
  mPrefFile = FSSpec{};
  mPrefFolder = FSSpec{};
  mHasPrefFile = false;
  mFirstLaunch = false;
  mVersion = 0;
  mPreferenceArray.RemoveAllItems();
}

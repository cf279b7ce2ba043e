// The preferences file "Tremblorix Preferences" in the user's preferences
// folder. Its data fork holds the version record (tagged stream: tag 1 =
// SInt32 1, then the end tag); its resource fork holds the settings resource
// (see CSettingsResource). At start-up a missing, unreadable or foreign
// version file is replaced by the bundle's default copy, which marks the
// first launch.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/framework/LStr255.h"
#include "platform/framework/TArray.h"

class LView;

typedef void (*PreferencePanelProc)(LView* inPanel, SInt32 inMessage);

struct SPreferencePanel {
  Str255 name;
  SInt16 id;
  PreferencePanelProc proc;
};

// The file's name (a length-prefixed string), also the default copy's name in the bundle.
extern const unsigned char kSettingsName[];

constexpr SInt32 kPreferencesVersion = 1;
constexpr UInt32 kPrefTagVersion = 1;

class CPreferences {
 public:
  // Finds the file, replaces it by the default copy when needed; failures are thrown.
  static void Init();
  // Writes the version record again when a file is known; errors are swallowed.
  static void Finish();

  // Copy the spec and answer true once Init succeeded; false (nothing copied) before.
  static Boolean GetPrefFile(FSSpec* outSpec);
  static Boolean GetPrefFolder(FSSpec* outSpec);

  // Reads the version record into mVersion; 0 or the error code.
  static OSErr ReadPrefs(FSSpec& inSpec);
  // Writes the version record; 0 or the error code.
  static OSErr WritePrefs(FSSpec& inSpec);
  // The bundle's default copy; 0 or the error code (-1: "Couldn't find Settings!").
  static OSErr FindDefaultPrefFile(FSSpec& outSpec);

  static void RegisterPreferencePanel(const LStr255& inName, SInt16 inID, PreferencePanelProc inProc);
  static Boolean PreferencesDialog();

  static Boolean IsFirstLaunch() { return mFirstLaunch; }
  static SInt32 GetVersion() { return mVersion; }
  static const TArray<SPreferencePanel>& GetPanels() { return mPreferenceArray; }
  // Forgets the file (tests start again from nothing).
  static void Reset();

 private:
  static FSSpec mPrefFile;
  static FSSpec mPrefFolder;
  static Boolean mHasPrefFile;
  static Boolean mFirstLaunch;
  static SInt32 mVersion;
  static TArray<SPreferencePanel> mPreferenceArray;
};

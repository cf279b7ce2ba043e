// The settings resource of the preferences file: 'Trbx' 129 "General-Prefs"
// (resource 128 of the same file holds the defaults). Its data is three
// tagged sections, each closed by the end tag:
//   1 application   tag 1, one byte: the open-movie flag; tag 2, four bytes
//                   (big-endian): the Open dialog's last file type
//   2 recent files  CRecentFiles
//   3 export        the export settings, through the hooks below
// Readers read past tags they do not know.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

class LTagReader;
class LTagWriter;

constexpr ResType kSettingsResType = 'Trbx';
constexpr ResID kSettingsResID = 129;
constexpr ResID kDefaultSettingsResID = 128;
constexpr UInt32 kSettingsTagOpenMovie = 1;

typedef void (*SettingsSectionReader)(LTagReader& inReader);
typedef void (*SettingsSectionWriter)(LTagWriter& inWriter);

class CSettingsResource {
 public:
  // Reads resource 129 (128 when 129 is missing or empty; nothing without
  // either): section 1 into ioOpenMovie, the recent files, the export
  // section, then rebuilds the recent-files menu. Any failure stops the
  // reading silently; what was read stays.
  static void Read(const FSSpec& inPrefFile, UInt8& ioOpenMovie);
  // Writes all sections into resource 129. Any failure leaves the stored
  // resource untouched; answers noErr or the failure's code.
  static OSErr Write(const FSSpec& inPrefFile, UInt8 inOpenMovie);

  // The export section's reader and writer (nil: the section is read past
  // and written empty).
  static void SetExportSection(SettingsSectionReader inReader, SettingsSectionWriter inWriter);

  // The file type the Open dialog showed last: set by Read when the
  // resource holds one, written by Write when not 0.
  static OSType sOpenFileType;

 private:
  static SettingsSectionReader sExportReader;
  static SettingsSectionWriter sExportWriter;
};

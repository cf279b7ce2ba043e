#include "app/CSettingsResource.h"

#include "app/CRecentFiles.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/framework/LStr255.h"
#include "toolkit/LResFile.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

SettingsSectionReader CSettingsResource::sExportReader = nullptr;
SettingsSectionWriter CSettingsResource::sExportWriter = nullptr;
OSType CSettingsResource::sOpenFileType = 0;

namespace {
constexpr UInt32 kSettingsTagOpenFileType = 2;
}  // namespace

void CSettingsResource::SetExportSection(SettingsSectionReader inReader, SettingsSectionWriter inWriter) {
  sExportReader = inReader;
  sExportWriter = inWriter;
}

void CSettingsResource::Read(const FSSpec& inPrefFile, UInt8& ioOpenMovie) {
  try {
    LResFile file(inPrefFile);
    Handle data = file.GetResHandle(kSettingsResType, kSettingsResID);
    if (data && GetHandleSize(data) == 0) {
      DisposeHandle(data);
      data = nullptr;
    }
    if (!data) data = file.GetResHandle(kSettingsResType, kDefaultSettingsResID);
    if (!data) return;
    LTagReader reader(data, true);
    UInt32 tag = 0, length = 0;
    while (reader.ReadNextTag(tag, length)) {
      if (tag == kSettingsTagOpenMovie && length >= 1) reader.ReadData(&ioOpenMovie, 1);
      if (tag == kSettingsTagOpenFileType && length >= 4) {
        UInt8 b[4] = {0, 0, 0, 0};
        reader.ReadData(b, 4);
        sOpenFileType = (OSType(b[0]) << 24) | (OSType(b[1]) << 16) | (OSType(b[2]) << 8) | OSType(b[3]);
      }
    }
    CRecentFiles::ReadFromStream(reader);
    if (sExportReader) {
      sExportReader(reader);
    } else {
      while (reader.ReadNextTag(tag, length)) {
      }
    }
    CRecentFiles::UpdateRecentFileMenu();
  } catch (...) {
    // What was read stays; the rest keeps its defaults.
    LogCurrentException("settings", "Read");
  }
}

OSErr CSettingsResource::Write(const FSSpec& inPrefFile, UInt8 inOpenMovie) {
  try {
    LTagWriter writer;
    ThrowIfOSErr_(writer.WriteNextTag(kSettingsTagOpenMovie, 1, &inOpenMovie));
    if (sOpenFileType != 0) {
      const UInt8 b[4] = {static_cast<UInt8>(sOpenFileType >> 24), static_cast<UInt8>(sOpenFileType >> 16),
                          static_cast<UInt8>(sOpenFileType >> 8), static_cast<UInt8>(sOpenFileType)};
      ThrowIfOSErr_(writer.WriteNextTag(kSettingsTagOpenFileType, 4, b));
    }
    ThrowIfOSErr_(writer.WriteNextTag(kTagEndOfSection, 0, nullptr));
    CRecentFiles::WriteToStream(writer);
    if (sExportWriter)
      sExportWriter(writer);
    else
      ThrowIfOSErr_(writer.WriteNextTag(kTagEndOfSection, 0, nullptr));
    LResFile file(inPrefFile);
    LStr255 name("General-Prefs");
    file.SetResHandle(kSettingsResType, kSettingsResID, writer.GetHandle(), name);
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  } catch (...) {
    return memFullErr;
  }
  return noErr;
}

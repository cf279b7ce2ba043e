// The preferences file as the application reads it at start-up: the version
// record of its data fork, then the settings resource of its resource fork
// (the application section, the recent files, the export client's section).
// Input: a flags byte (bit 0: the settings stand in the defaults' resource
// 128 and resource 129 is empty), a big-endian 16-bit length, that many bytes
// of data fork, then the settings resource's bytes.
// What was read writes out and reads back the same.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CExportMovie.h"
#include "app/CPreferences.h"
#include "app/CRecentFiles.h"
#include "app/CSettingsResource.h"
#include "app/LMovieExportNavSheet.h"
#include "platform/files/Aliases.h"
#include "platform/files/Files.h"
#include "platform/files/ResourceMap.h"
#include "platform/files/Sidecar.h"
#include "platform/ui/LWindow.h"
#include "tests/fuzz/FuzzDesktop.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

std::string gPath;

struct ReadState {
  UInt8 openMovie = 0;
  OSType openFileType = 0;
  SInt16 recentFiles = 0;
  Boolean selectionOnly = false, singleField = false;
  OSType exporter = 0;
  bool operator==(const ReadState&) const = default;
};

void ForgetSettings() {
  CSettingsResource::sOpenFileType = 0;
  CRecentFiles::Delete();
  CExportMovieSettings::sSelectionOnly = true;
  CExportMovieSettings::sSingleField = false;
  CExportMovieSettings::sCurrentExporter = 'MooV';
  for (ExporterItem* item : CExportMovie::GetExporterArray()) {
    if (item->mSettings) DisposeHandle(item->mSettings);
    item->mSettings = nullptr;
  }
  if (CExportMovie* client = CExportMovie::GetExporter())
    if (client->GetWindow()) client->GetWindow()->Hide();
}

ReadState ReadSettings(FSSpec& ioSpec) {
  ReadState s;
  CSettingsResource::Read(ioSpec, s.openMovie);
  s.openFileType = CSettingsResource::sOpenFileType;
  s.recentFiles = CRecentFiles::GetFileCount();
  s.selectionOnly = CExportMovieSettings::sSelectionOnly;
  s.singleField = CExportMovieSettings::sSingleField;
  s.exporter = CExportMovieSettings::sCurrentExporter;
  return s;
}

bool WriteFile(const std::vector<char>& inData, const std::vector<char>& inSettings, bool inAsDefaults) {
  ResourceMapContents map;
  ResourceMapEntry entry;
  entry.type = kSettingsResType;
  entry.id = inAsDefaults ? kDefaultSettingsResID : kSettingsResID;
  entry.hasName = true;
  entry.name = "General-Prefs";
  entry.data = inSettings;
  map.entries.push_back(entry);
  if (inAsDefaults) {
    entry.id = kSettingsResID;
    entry.data.clear();
    map.entries.push_back(entry);
  }
  SidecarContents sidecar;
  sidecar.hasFork = true;
  if (SerializeResourceMap(map, sidecar.fork) != noErr) return false;
  return WriteWholeFileAtomically(gPath, inData) == noErr && WriteSidecar(gPath, sidecar) == noErr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartDesktop();
  gPath = fuzz::DesktopFolder() + "/Preferences";
  // The export client without Vantrel: its window and exporters, whose
  // section of the settings it reads.
  CExportMovie::Init();
  std::atexit([] { CExportMovie::Finish(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in{data, size};
  const UInt8 flags = in.Byte();
  const size_t dataLength = (static_cast<size_t>(in.Byte()) << 8) | in.Byte();
  const std::vector<uint8_t> dataFork = in.Take(dataLength);
  const std::vector<uint8_t> settings = in.Rest();
  if (!WriteFile(std::vector<char>(dataFork.begin(), dataFork.end()), std::vector<char>(settings.begin(), settings.end()),
                 (flags & 1) != 0))
    return 0;
  FSSpec spec;
  if (FSMakeFSSpecFromPath(gPath, &spec) != noErr) return 0;

  if (CPreferences::ReadPrefs(spec) == noErr) {
    if (CPreferences::WritePrefs(spec) != noErr || CPreferences::ReadPrefs(spec) != noErr ||
        CPreferences::GetVersion() != kPreferencesVersion)
      std::abort();
  }

  ForgetSettings();
  const ReadState first = ReadSettings(spec);
  // The recent files as the menu shows them and the application opens them.
  for (SInt16 i = 1; i <= first.recentFiles; ++i) {
    FSSpec file;
    CRecentFiles::GetFile(i, &file, kResolveAliasFileNoUI);
  }
  if (CSettingsResource::Write(spec, first.openMovie) != noErr) std::abort();
  ForgetSettings();
  const ReadState again = ReadSettings(spec);
  if (!(again == first)) std::abort();
  ForgetSettings();
  fuzz::SettleDesktop();
  return 0;
}

// The installed movie exporters as the export client lists them, with the
// settings the user stored for each, and the export section of the
// preferences (the options, the export-tasks window's place, the stored
// settings).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/ExporterItem.h"
#include "platform/base/MacTypes.h"

class LTagReader;
class LTagWriter;
class LWindow;

// The export-settings section of the preferences.
enum : UInt32 {
  kExportPrefSelectionOnly = 'XpSO',
  kExportPrefSingleField = 'XpSF',
  kExportPrefCurrentExporter = 'XpCr',
  kExportPrefWindowBounds = 'XpBd',
  kExportPrefWindowVisible = 'XpVs',
  kExportPrefExporterType = 'XpTp',
  kExportPrefExporterSettings = 'XpSg',
  kExportPrefEnd = '>>>>',
};

class CExportMovieSettings {
 public:
  // The export options: the exporter, selection only, single field. The
  // export sheet starts from them and leaves its choices in them, the
  // request writer reads them and the preferences store them.
  static OSType sCurrentExporter;
  static Boolean sSelectionOnly;
  static Boolean sSingleField;

  CExportMovieSettings() = default;
  CExportMovieSettings(const CExportMovieSettings&) = delete;
  CExportMovieSettings& operator=(const CExportMovieSettings&) = delete;
  ~CExportMovieSettings();

  // Lists the installed exporters that export from procedures, in the registry's order.
  void CollectExporters();
  const std::vector<ExporterItem*>& GetExporters() const { return mExporters; }

  // A copy of inSettings becomes the exporter's stored settings (nil: its defaults).
  OSErr UpdateSettings(OSType inSubtype, Handle inSettings);
  // A copy of the exporter's stored settings; paramErr when none are stored.
  OSErr GetSettings(OSType inSubtype, Handle* outSettings) const;
  // The exporters' names in list order (the export sheet's pop-up).
  std::vector<std::string> GetNames() const;
  // Counted from 1; -1 for an exporter not listed.
  SInt16 GetIndex(OSType inSubtype) const;
  UInt32 GetFlags(OSType inSubtype) const;
  OSType GetSubtype(SInt16 inIndex) const;

  // The export section of the preferences; inWindow is the export-tasks
  // window (nil when there is none), whose place and visibility go with it.
  // A stored visible window is shown by inShowWindow.
  void WriteToStream(LTagWriter& inWriter, LWindow* inWindow) const;
  void ReadFromStream(LTagReader& inReader, LWindow* inWindow, const std::function<void()>& inShowWindow);

 private:
  ExporterItem* Find(OSType inSubtype) const;

  std::vector<ExporterItem*> mExporters;
};

// What a script waits for of the export client: the exports it queued have
// all ended (a finished export leaves the list; a failed one also removes
// its file).
#include "app/CExportMovie.h"
#include "app/CExportTask.h"

bool AppScriptExportsDone() {
  // An export may have ended before the script first asks (a short movie):
  // every queued export counts, not only those seen running.
  CExportMovie* exporter = CExportMovie::GetExporter();
  if (!exporter) return false;
  return CExportMovie::GetTasksQueued() > 0 && exporter->GetTasks().empty() && CExportMovie::GetCurrentTask() == nullptr;
}

// "set exporter CODE": the exporter the next export sheet starts with (the
// four characters of its subtype, e.g. mpg4), as if picked in its pop-up.
bool AppScriptSetExporter(const std::string& inCode) {
  if (inCode.size() != 4) return false;
  const OSType code = (OSType(UInt8(inCode[0])) << 24) | (OSType(UInt8(inCode[1])) << 16) |
                      (OSType(UInt8(inCode[2])) << 8) | OSType(UInt8(inCode[3]));
  if (CExportMovie::GetIndexForExporter(code) <= 0) return false;
  CExportMovieSettings::sCurrentExporter = code;
  return true;
}

// What a script waits for of the export client: the exports it queued have
// all ended (a finished export leaves the list; a failed one also removes
// its file).
#include "app/CExportMovie.h"
#include "app/CExportTask.h"

bool AppScriptExportsDone() {
  static bool sSeenExport = false;
  CExportMovie* exporter = CExportMovie::GetExporter();
  if (!exporter) return false;
  if (!exporter->GetTasks().empty() || CExportMovie::GetCurrentTask() != nullptr) {
    sSeenExport = true;
    return false;
  }
  return sSeenExport;
}

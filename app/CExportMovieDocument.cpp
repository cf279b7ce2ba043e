// The movie document's way into the export client: the document hands over
// its movie and the chosen file, and gets 0 once the export is queued.
#include "app/CExportMovie.h"
#include "app/CMovieDocument.h"
#include "app/UExportSheet.h"
#include "platform/base/LException.h"
#include "platform/ui/UResponder.h"

OSErr CExportMovie::ExportForDocument(CMovie* inMovie, const FSSpec& inDestination) {
  FSSpec destination = inDestination;
  try {
    DoExport(inMovie, &destination);
    return noErr;
  } catch (const LException& e) {
    const OSErr err = ErrorCodeToOSErr(e.GetErrorCode());
    if (err != err_ExportOverwritesSource) return err;
    // The document deletes the file of a failed export, and this file is the
    // movie's own: the refusal is told here and nothing is left to undo.
    ShowRefusalAlert();
    return noErr;
  } catch (...) {
    return OSErrOfCurrent();
  }
}

void CExportMovie::InstallDocumentExport(Boolean inInstall) {
  CMovieDocument::sExportProc = inInstall ? &ExportForDocument : nullptr;
  CMovieDocument::sAskExportProc = inInstall ? &UExportSheet::Ask : nullptr;
}

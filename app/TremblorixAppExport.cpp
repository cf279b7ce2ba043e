// The movie documents hand their exports to the export client.
#include "app/CExportMovie.h"
#include "app/CMovieDocument.h"
#include "app/TremblorixAppParts.h"
#include "platform/base/LException.h"

namespace {
OSErr ExportThroughClient(CMovie* inMovie, const FSSpec& inSpec) {
  try {
    FSSpec destination = inSpec;
    return CExportMovie::DoExport(inMovie, &destination);
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
}
}  // namespace

namespace AppParts {
void ConnectDocumentExports(Boolean inConnect) { CMovieDocument::sExportProc = inConnect ? ExportThroughClient : nullptr; }
}  // namespace AppParts

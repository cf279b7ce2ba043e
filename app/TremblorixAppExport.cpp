// The movie documents hand their exports to the export client, through its
// own document entry: it refuses the movie's own files without the document
// deleting them, and asks with the export sheet.
#include "app/CExportMovie.h"
#include "app/TremblorixAppParts.h"

namespace AppParts {
void ConnectDocumentExports(Boolean inConnect) { CExportMovie::InstallDocumentExport(inConnect); }
}  // namespace AppParts

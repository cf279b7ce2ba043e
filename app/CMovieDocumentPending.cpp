// Temporary bodies of the document's analysis, session, preview and sheet
// operations, until their own files provide them: each does the least that
// keeps the document consistent (no task, no session, no sheet).
#include "app/CMovieDocument.h"

#include "media/CMovieTask.h"
#include "platform/framework/LCommander.h"

void CMovieDocument::ShowTracksSheet() {}


// Temporary bodies of the document's analysis, session, preview and sheet
// operations, until their own files provide them: each does the least that
// keeps the document consistent (no task, no session, no sheet).
#include "app/CMovieDocument.h"

#include "media/CMovieTask.h"
#include "platform/framework/LCommander.h"

void CMovieDocument::ShowInfo() {}
void CMovieDocument::ShowTracksSheet() {}
void CMovieDocument::ShowSizeSheet() {}
void CMovieDocument::ShowFormatSheet() {}
void CMovieDocument::UpdateOptionsButton(LMenu*) {}
void CMovieDocument::UpdateBookMarkButton(LMenu*) {}
void CMovieDocument::UpdateMovieInfo() {}
Boolean CMovieDocument::AllFeaturesSupportedByTween() { return true; }
SInt32 CMovieDocument::MovieInfoProc(LCustomDialogSheet*, SInt32, void*, void*) { return 0; }
SInt32 CMovieDocument::MovieSizeProc(LCustomDialogSheet*, SInt32, void*, void*) { return 0; }
SInt32 CMovieDocument::MovieFormatProc(LCustomDialogSheet*, SInt32, void*, void*) { return 0; }


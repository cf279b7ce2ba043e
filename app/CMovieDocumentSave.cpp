#include "app/CMovieDocument.h"

void CMovieDocument::Save() { PostProcedure(proc_Save, nullptr, 0); }
void CMovieDocument::DoAESave(FSSpec& inSpec, OSType) { PostProcedure(proc_DoAESave, &inSpec, sizeof(FSSpec)); }
Boolean CMovieDocument::AskSaveAs(FSSpec&, Boolean) {
  PostProcedure(proc_AskSaveAs, nullptr, 0);
  return true;
}
void CMovieDocument::AttemptClose(Boolean inRecordIt) { CSingleDocument::AttemptClose(inRecordIt); }
void CMovieDocument::AttemptClose_(Boolean inRecordIt) { CSingleDocument::AttemptClose(inRecordIt); }
void CMovieDocument::DoRevert() {}
void CMovieDocument::Save_() {}
void CMovieDocument::AskSaveAs_() {}
void CMovieDocument::AskExportAs_() {}
void CMovieDocument::AskExportTweenAs_() {}
void CMovieDocument::DoAESave_(FSSpec&) {}
void CMovieDocument::GetNavigationDialogOptions(SInt16, NavDialogCreationOptions*) {}
void CMovieDocument::InvokeNavUserAction(NavCBRec* ioRecord) { CSingleDocument::InvokeNavUserAction(ioRecord); }
OSErr CMovieDocument::SaveMovieTo(const FSSpec&, bool) { return unimpErr; }
bool CMovieDocument::TargetIsOwnSource(const FSSpec&, bool) { return false; }

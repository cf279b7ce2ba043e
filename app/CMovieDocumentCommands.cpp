#include "app/CMovieDocument.h"

Boolean CMovieDocument::ObeyCommand(CommandT inCommand, void* ioParam) {
  return CSingleDocument::ObeyCommand(inCommand, ioParam);
}
void CMovieDocument::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                       Str255 outName) {
  CSingleDocument::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}
void CMovieDocument::ListenToMessage(MessageT inMessage, void* ioParam) {
  CSingleDocument::ListenToMessage(inMessage, ioParam);
}
Boolean CMovieDocument::HandleKeyPress(const EventRecord& inKeyEvent) { return LCommander::HandleKeyPress(inKeyEvent); }
void CMovieDocument::ExecuteProcedure(SInt32 inProcID, void* inData, SInt32 inSize) {
  CSingleDocument::ExecuteProcedure(inProcID, inData, inSize);
}
void CMovieDocument::Export(FSSpec&) {}
void CMovieDocument::ExportTween() {}
void CMovieDocument::StartAnalysis() {}
void CMovieDocument::TogglePlaying() {}

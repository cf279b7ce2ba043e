// Temporary bodies of the document's analysis, session, preview and sheet
// operations, until their own files provide them: each does the least that
// keeps the document consistent (no task, no session, no sheet).
#include "app/CMovieDocument.h"

#include "media/CMovieTask.h"
#include "platform/framework/LCommander.h"

OSErr CMovieDocument::TrackInterlace(MessageT) { return unimpErr; }
OSErr CMovieDocument::TrackMotion() { return unimpErr; }

OSErr CMovieDocument::BeginTask(CMovieTask* inTask) {
  if (mTask != nullptr) {
    delete inTask;
    return paramErr;
  }
  mTask = inTask;
  LCommander::SetUpdateCommandStatus(true);
  return noErr;
}

OSErr CMovieDocument::EndTask(CMovieTask* inTask) {
  if (inTask != mTask) return paramErr;
  mTask = nullptr;
  LCommander::SetUpdateCommandStatus(true);
  return noErr;
}

void CMovieDocument::MotionAnalysisEnded(CMovieTask* inTask) { EndTask(inTask); }
void CMovieDocument::InterlaceAnalysisEnded(CMovieTask* inTask) { EndTask(inTask); }

void CMovieDocument::BeginEditSession(Track) {}
void CMovieDocument::EndEditSession(Boolean) {}
Track CMovieDocument::CreateStabilizationControlTrack() { return nullptr; }
void CMovieDocument::UpdateMovieFrame(TimeValue*) {}
void CMovieDocument::UpdateImagePath() {}
void CMovieDocument::SetPreviewMode(Boolean inOn) { mPreviewOn = inOn && mMovie != nullptr; }
void CMovieDocument::UseBuffer(Boolean) {}
void CMovieDocument::AdjustPreviewButton() {}
void CMovieDocument::AdjustMovieQuality() {}

void CMovieDocument::AdjustMovieFormat(QInterlaceMode inMode, QInterlaceDelay inDelay) {
  if (mMovie == nullptr) return;
  if (inMode == mRenderParams.interlaceMode && inDelay == mInterlaceDelay) return;
  mRenderParams.interlaceMode = inMode;
  mInterlaceDelay = inDelay;
  SetModified(true);
  AdjustMovieQuality();
}

void CMovieDocument::UseSpatialSelection(Boolean inOn) {
  if (inOn)
    mDrawingOptions |= kDrawRegionOfInterest;
  else
    mDrawingOptions &= ~kDrawRegionOfInterest;
}

void CMovieDocument::MovieHasChanged(Boolean) {
  if (mMovie == nullptr || mMotionData.MovieChanged(mMovie)) mMotionData.InvalidateRawData();
  UpdateTimeEditors();
  LCommander::SetUpdateCommandStatus(true);
}

SInt32 CMovieDocument::StabilizerParametersProc(LWindow*, SInt32, void*, void*) { return 0; }
OSErr CMovieDocument::MovieProgress(Movie, SInt16, SInt16, Fixed, SInt32) { return noErr; }

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

void CMovieDocument::UpdateTimeEditors() { UpdateMovieInfo(); }

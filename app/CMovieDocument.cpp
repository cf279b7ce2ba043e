#include "app/CMovieDocument.h"

#include "media/CMovieAction.h"
#include "platform/base/LException.h"
#include "platform/framework/LAction.h"
#include "toolkit/CRegularWindow.h"

const SInt32 kPlayRates[kPlayRateCount] = {-1000, -500, -200, -100, -50, -20, -10, 10, 20, 50, 100, 200, 500, 1000};

Boolean CMovieDocument::sAllowDep = true;
Boolean CMovieDocument::sEnforceSelfContainment = false;
Boolean CMovieDocument::sOpenMovie = true;
Boolean CMovieDocument::sTweenOpenMovie = true;
Boolean CMovieDocument::sTweenSelectionOnly = true;
UInt32 CMovieDocument::sTweenMovieOptions = 0x100;

CMovieDocument::CMovieDocument(FSSpec& inSpec) {
  mRenderParams.interlaceMode = kInterlace_Undecided;
  OpenFile(inSpec);
}

CMovieDocument::CMovieDocument(CMovie* inMovie) {
  mRenderParams.interlaceMode = kInterlace_Undecided;
  AttachNewMovie(inMovie != nullptr ? inMovie : new CMovie);
}

CMovieDocument::~CMovieDocument() {
  mDestroying = true;
  delete mMovie;
}

void CMovieDocument::Init() {}
void CMovieDocument::CleanupAfterFailure() {}

void CMovieDocument::AttachNewMovie(CMovie* inMovie) {
  ThrowIfNil_(inMovie);
  delete mMovie;
  mMovie = inMovie;
}

CMovie* CMovieDocument::DetachMovie() {
  CMovie* movie = mMovie;
  mMovie = nullptr;
  return movie;
}

void CMovieDocument::OpenFile(FSSpec& inSpec) {
  AttachNewMovie(new CMovie(&inSpec));
  SetFile(&inSpec);
  SetSpecified(true);
}

Boolean CMovieDocument::IsModified() { return CSingleDocument::IsModified() || (mMovie && mMovie->IsDirty()); }
void CMovieDocument::SetModified(Boolean inModified) {
  CSingleDocument::SetModified(inModified);
  if (!inModified && mMovie) mMovie->ClearDirty();
}
Boolean CMovieDocument::IsSpecified() {
  return CSingleDocument::IsSpecified() && !(mMovie && (mMovie->GetMovieProperties() & 0xF) != 0);
}

OSErr CMovieDocument::WriteSettingsToMovie(CMovie*) { return noErr; }
OSErr CMovieDocument::ReadSettingsFromMovie(CMovie*) { return noErr; }
Boolean CMovieDocument::CheckedSettingsValue(OSType, const void*, UInt32, const Rect&) { return true; }

void CMovieDocument::CalcBestWindowSize(float, SInt32& outWidth, SInt32& outHeight) { outWidth = outHeight = 0; }
void CMovieDocument::CalcWindowSizeForMovieSize(SInt32, SInt32, SInt32& outWidth, SInt32& outHeight) {
  outWidth = outHeight = 0;
}
void CMovieDocument::AdjustWindowToMovieSize(float) {}
void CMovieDocument::ToggleShowToolbar() {}

SInt32 CMovieDocument::GetAnalysisFieldMode() { return 2; }
void CMovieDocument::PostAction(CMovieAction* inAction) { delete inAction; }
void CMovieDocument::PostAction(LAction* inAction) { LCommander::PostAction(inAction); }
CTaskProgressView* CMovieDocument::NewProgressSheet(CMovieTask*) { return nullptr; }

SInt16 CMovieDocument::PlayRateItem(SInt32 inPercent) {
  for (SInt16 i = 0; i < kPlayRateCount; ++i)
    if (kPlayRates[i] == inPercent) return static_cast<SInt16>(i + 1);
  return 0;
}

void CMovieDocument::SetListening(Boolean inListening) {
  if (inListening) {
    static_cast<CSingleDocument*>(this)->StartListening();
    static_cast<CMovieTaskDocument*>(this)->StartListening();
  } else {
    static_cast<CSingleDocument*>(this)->StopListening();
    static_cast<CMovieTaskDocument*>(this)->StopListening();
  }
}

Boolean CMovieDocument::GetListening() const { return static_cast<const CSingleDocument*>(this)->IsListening(); }

CMovieDocument::StListeningOff::StListeningOff(CMovieDocument* inDocument)
    : mDocument(inDocument), mWas(inDocument->GetListening()) {
  mDocument->SetListening(false);
}

CMovieDocument::StListeningOff::~StListeningOff() { mDocument->SetListening(mWas); }

Rect CMovieDocument::ClippedToDisplay(const Rect& inRect) const { return inRect; }
void CMovieDocument::SetPlayRateItem(SInt16) {}
void CMovieDocument::GotoTime(SInt32 inTime) {
  if (mMovie) mMovie->GotoTime(inTime);
}
void CMovieDocument::StepSlider(UInt16) {}

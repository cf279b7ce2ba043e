#include "media/CMovieAction.h"

#include "media/CMovie.h"
#include "platform/base/LException.h"

namespace {

Movie MovieOf(CMovie* inMovie) {
  ThrowIfNil_(inMovie);
  ThrowIfNil_(inMovie->GetMovie());
  return inMovie->GetMovie();
}

// The toolbox's error of the last call, or 'nilP' when it reports none.
[[noreturn]] void ThrowMoviesError() {
  const OSErr err = GetMoviesError();
  Throw_(err != noErr ? static_cast<ExceptionCode>(err) : err_NilPointer);
}

}  // namespace

CMovieAction::CMovieAction(CMovie* inMovie, MovieEditState inBefore, SInt16 inStringList, SInt16 inIndex)
    : LAction(inStringList, inIndex, false), mMovie(inMovie) {
  Movie movie = MovieOf(inMovie);
  mBefore = inBefore;
  mMovieTime = inMovie->GetTimeValue();
  TimeValue start = 0, duration = 0;
  GetMovieSelection(movie, &start, &duration);
  mSelectionStart = start;
  mSelectionEnd = start + duration;
}

CMovieAction::CMovieAction(CMovie* inMovie, SInt16 inStringList, SInt16 inIndex)
    : CMovieAction(inMovie, nullptr, inStringList, inIndex) {
  mBefore = NewMovieEditState(mMovie->GetMovie());
}

CMovieAction::~CMovieAction() {
  if (mBefore) DisposeMovieEditState(mBefore);
  if (mAfter) DisposeMovieEditState(mAfter);
}

void CMovieAction::Redo() {
  if (!CanRedo()) return;
  LAction::Redo();
  mPostable = true;
}

void CMovieAction::Undo() {
  if (!CanUndo()) return;
  LAction::Undo();
}

void CMovieAction::RedoSelf() {
  Movie movie = mMovie->GetMovie();
  if (mAfter == nullptr) {
    // The edit has just been made: remember where it led.
    mAfter = NewMovieEditState(movie);
    if (mAfter == nullptr) ThrowMoviesError();
  } else {
    ThrowIfOSErr_(UseMovieEditState(movie, mAfter));
  }
  MovieEdited();
}

void CMovieAction::UndoSelf() {
  if (mBefore == nullptr) return;
  ThrowIfOSErr_(UseMovieEditState(mMovie->GetMovie(), mBefore));
  MovieEdited();
}

void CMovieAction::MovieEdited() { mMovie->HasChanged(); }

// ---------------------------------------------------------------------------

CMovieAction_Cut::CMovieAction_Cut(CMovie* inMovie) : CMovieAction(inMovie, STRx_MovieEdits, kMovieEditCut) {}

CMovieAction_Cut::~CMovieAction_Cut() {
  if (mEditMovie) DisposeMovie(mEditMovie);
}

void CMovieAction_Cut::RedoSelf() {
  if (mAfter == nullptr) {
    Movie cut = CutMovieSelection(mMovie->GetMovie());
    if (cut == nullptr) ThrowMoviesError();
    mEditMovie = cut;
    ThrowIfOSErr_(PutMovieOnScrap(cut, 0));
  }
  CMovieAction::RedoSelf();
}

CMovieAction_Paste::CMovieAction_Paste(CMovie* inMovie)
    : CMovieAction(inMovie, STRx_MovieEdits, kMovieEditPaste) {}

CMovieAction_Paste::~CMovieAction_Paste() {
  if (mEditMovie) DisposeMovie(mEditMovie);
}

void CMovieAction_Paste::RedoSelf() {
  if (mAfter == nullptr) {
    // Without a movie on the scrap nothing is edited, and the failure
    // reaches the command: no action that did nothing is kept for undo.
    Movie scrap = NewMovieFromScrap(newMovieActive);
    if (scrap == nullptr) ThrowMoviesError();
    mEditMovie = scrap;
    Movie movie = mMovie->GetMovie();
    SetMovieSelection(movie, mMovieTime, 0);
    PasteMovieSelection(movie, scrap);
    if (const OSErr err = GetMoviesError(); err != noErr) Throw_(err);
    TimeValue start = 0, duration = 0;
    GetMovieSelection(movie, &start, &duration);
    mSelectionStart = start;
    mSelectionEnd = start + duration;
  }
  CMovieAction::RedoSelf();
}

CMovieAction_Clear::CMovieAction_Clear(CMovie* inMovie)
    : CMovieAction(inMovie, STRx_MovieEdits, kMovieEditClear) {}

CMovieAction_Clear::~CMovieAction_Clear() {
  if (mEditMovie) DisposeMovie(mEditMovie);
}

void CMovieAction_Clear::RedoSelf() {
  if (mAfter == nullptr) {
    Movie cut = CutMovieSelection(mMovie->GetMovie());
    if (cut == nullptr) ThrowMoviesError();
    mEditMovie = cut;
  }
  CMovieAction::RedoSelf();
}

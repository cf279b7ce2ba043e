// Undoable movie edits over movie edit states. An action is made by the
// command that edits (or by the subclass that does the edit in its first
// redo) and handed to the document's undoer, which performs the first redo;
// from then on undo and redo switch between the edit state before and the
// edit state after the edit.
//
// The undoer's side of the protocol: Redo() performs the (first) edit and
// throws when it fails, leaving the action not done and not postable; the
// undoer then reports the failure and does not keep the action. Undo() and
// Redo() only act when CanUndo() / CanRedo() answer true.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LAction.h"
#include "platform/movies/Movies.h"

class CMovie;

// The undo texts of the movie edits.
constexpr SInt16 STRx_MovieEdits = 300;
constexpr SInt16 kMovieEditCut = 1;
constexpr SInt16 kMovieEditPaste = 2;
constexpr SInt16 kMovieEditClear = 3;
constexpr SInt16 kMovieEditSession = 4;
constexpr SInt16 kMovieEditSessionReplaced = 5;
constexpr SInt16 kMovieEditMotionData = 6;

class CMovieAction : public LAction {
 public:
  // Adopts an edit state the caller took before editing (nil: the action
  // cannot be undone).
  CMovieAction(CMovie* inMovie, MovieEditState inBefore, SInt16 inStringList, SInt16 inIndex);
  // Takes the edit state before the edit now.
  CMovieAction(CMovie* inMovie, SInt16 inStringList, SInt16 inIndex);
  // Disposes of both edit states.
  ~CMovieAction() override;

  void Redo() override;
  void Undo() override;
  // True once the first redo has succeeded: only then does the undoer keep it.
  Boolean IsPostable() const override { return mPostable; }
  Boolean CanRedo() const override { return LAction::CanRedo(); }
  Boolean CanUndo() const override { return mBefore != nullptr && LAction::CanUndo(); }
  // The menu texts are the framework's: "Undo " and "Redo " before the
  // action's name from its string list.

  SInt32 GetMovieTime() const { return mMovieTime; }
  void GetSelection(SInt32& outStart, SInt32& outEnd) const {
    outStart = mSelectionStart;
    outEnd = mSelectionEnd;
  }

 protected:
  void RedoSelf() override;
  void UndoSelf() override;
  // Tells the movie's listeners that its structure changed.
  void MovieEdited();

  CMovie* mMovie;
  MovieEditState mBefore = nullptr;
  MovieEditState mAfter = nullptr;
  SInt32 mMovieTime = 0;
  SInt32 mSelectionStart = 0;
  SInt32 mSelectionEnd = 0;
  bool mPostable = false;
};

// Cut: the selection is cut out and put on the movie scrap.
class CMovieAction_Cut : public CMovieAction {
 public:
  explicit CMovieAction_Cut(CMovie* inMovie);
  ~CMovieAction_Cut() override;
  Movie GetEditMovie() const { return mEditMovie; }

 protected:
  void RedoSelf() override;
  Movie mEditMovie = nullptr;
};

// Paste: the scrap's movie is inserted at the movie time current when the
// action was made (the selection is not replaced). A scrap without a movie
// makes the first redo fail.
class CMovieAction_Paste : public CMovieAction {
 public:
  explicit CMovieAction_Paste(CMovie* inMovie);
  ~CMovieAction_Paste() override;
  Movie GetEditMovie() const { return mEditMovie; }

 protected:
  void RedoSelf() override;
  Movie mEditMovie = nullptr;
};

// Clear: the selection is cut out without touching the scrap.
class CMovieAction_Clear : public CMovieAction {
 public:
  explicit CMovieAction_Clear(CMovie* inMovie);
  ~CMovieAction_Clear() override;
  Movie GetEditMovie() const { return mEditMovie; }

 protected:
  void RedoSelf() override;
  Movie mEditMovie = nullptr;
};
